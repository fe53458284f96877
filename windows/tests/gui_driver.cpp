// quorvel-gui-driver: runs quorvel-extractor.exe in a game folder and plays
// the user: answers the question box, reads the window while the work runs,
// optionally clicks the close box, dismisses error and warning boxes, and
// checks the exit code. Prints what it saw; exits 0 when every check held.
//
//   quorvel-gui-driver --exe EXE --folder DIR --answer yes|no --expect-exit N
//       [--expect-box TEXT]...  an error or warning box must appear and contain each TEXT
//       [--then-box TEXT]...    after it, another box must appear holding TEXT (and the
//                               --expect-box TEXTs that follow this option)
//       [--close-at PERCENT]    once the bar reaches PERCENT, freeze the program,
//                               click the close box and let it go on
//       [--pause-at PERCENT --pause-flag FILE --resume-flag FILE]
//                               freeze the program at PERCENT, create FILE,
//                               and let it go on once the other FILE exists
//       [--min-readings N]      readings of the running window required (default 1)
//
// Nothing here waits a fixed time for the program: the driver waits for what
// the program shows (a box, the window, the bar reaching a position), each
// within a generous overall limit, and injects what it does mid-run (the
// click, the pause) while every thread of the program is suspended.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// commctrl.h needs what windows.h declares.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
// clang-format on

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Limits for something to appear, generous enough for a machine under load;
// reaching one is a failure, never a way to pass.
constexpr auto kPollInterval = 2ms;
constexpr auto kBoxTimeout = 60s;
constexpr auto kRunTimeout = 240s;
constexpr auto kObserverTimeout = 120s;
constexpr UINT kMessageTimeoutMs = 5000;
constexpr int kBoxTextId = 0xFFFF;  // the text of a message box
constexpr int kBoxIconId = 1088;    // the icon of a message box, hidden when it has none
constexpr int kBarId = 1;

constexpr char kQuestion[] = "Also extract speech files?";
constexpr char kQuestionCaption[] = "Project1";
constexpr char kTitle[] = "Quorvel Extractor";
constexpr char kFormClass[] = "Form1";

struct Options {
    std::string exe;
    std::string folder;
    bool answer_yes = true;
    int expect_exit = 0;
    // The boxes that must appear, in order, each with the pieces of text it holds.
    std::vector<std::vector<std::string>> expect_boxes;
    std::optional<int> close_at;
    std::optional<int> pause_at;
    std::string pause_flag;
    std::string resume_flag;
    int min_readings = 1;
};

int g_failures = 0;

void Check(bool condition, const std::string& what)
{
    std::printf("%s: %s\n", condition ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!condition) {
        ++g_failures;
    }
}

[[noreturn]] void Abort(const std::string& what)
{
    std::printf("FAIL: %s\n", what.c_str());
    std::fflush(stdout);
    std::exit(1);
}

std::string WindowText(HWND window)
{
    char text[512] = {};
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                               kMessageTimeoutMs, &length)) {
        return {};
    }
    text[sizeof(text) - 1] = '\0';
    return std::string(text, std::min(static_cast<std::size_t>(length), std::strlen(text)));
}

std::string ClassName(HWND window)
{
    char name[256] = {};
    const int length = ::GetClassNameA(window, name, sizeof(name));
    return std::string(name, static_cast<std::size_t>(std::max(length, 0)));
}

// The child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child)
{
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Describe(const RECT& rect)
{
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " + std::to_string(rect.right - rect.left) +
           "x" + std::to_string(rect.bottom - rect.top);
}

bool HasRect(const RECT& rect, int x, int y, int width, int height)
{
    return rect.left == x && rect.top == y && rect.right - rect.left == width && rect.bottom - rect.top == height;
}

class Extractor {
public:
    explicit Extractor(const Options& options)
    {
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        std::string command = "\"" + options.exe + "\"";
        if (!::CreateProcessA(options.exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              options.folder.c_str(), &startup, &process_)) {
            Abort("cannot start " + options.exe + " (error " + std::to_string(::GetLastError()) + ")");
        }
    }
    ~Extractor()
    {
        Thaw();
        if (Running()) {
            ::TerminateProcess(process_.hProcess, 99);
        }
        ::CloseHandle(process_.hThread);
        ::CloseHandle(process_.hProcess);
    }
    Extractor(const Extractor&) = delete;
    Extractor& operator=(const Extractor&) = delete;

    bool Running() const { return ::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
    bool Owns(HWND window) const
    {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        return owner == process_.dwProcessId;
    }
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout) const
    {
        if (::WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    // Suspends every thread of the program, so that it stays at the point of
    // the run it has reached while the driver acts. True when the program is
    // frozen still running (there is no SIGSTOP here, and suspending only the
    // main thread would leave any other one free).
    bool Freeze()
    {
        // Threads still running during one pass may start others: pass again
        // until a pass finds no thread left to suspend.
        while (SuspendThreadsNotFrozen() != 0) {
        }
        DWORD code = 0;
        return ::GetExitCodeProcess(process_.hProcess, &code) && code == STILL_ACTIVE;
    }

    void Thaw()
    {
        for (const FrozenThread& thread : frozen_) {
            ::ResumeThread(thread.handle);
            ::CloseHandle(thread.handle);
        }
        frozen_.clear();
    }

private:
    struct FrozenThread {
        DWORD id;
        HANDLE handle;
    };

    bool IsFrozen(DWORD thread_id) const
    {
        for (const FrozenThread& thread : frozen_) {
            if (thread.id == thread_id) {
                return true;
            }
        }
        return false;
    }

    int SuspendThreadsNotFrozen()
    {
        const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        if (snapshot == INVALID_HANDLE_VALUE) {
            Abort("cannot list the threads of the program (error " + std::to_string(::GetLastError()) + ")");
        }
        int suspended = 0;
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID != process_.dwProcessId || IsFrozen(entry.th32ThreadID)) {
                continue;
            }
            const HANDLE thread = ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID);
            if (thread == nullptr) {
                continue;  // it has ended since the snapshot
            }
            if (::SuspendThread(thread) == static_cast<DWORD>(-1)) {
                ::CloseHandle(thread);
                continue;
            }
            // SuspendThread only asks; reading the registers waits until the
            // thread has really stopped.
            CONTEXT context{};
            context.ContextFlags = CONTEXT_CONTROL;
            if (!::GetThreadContext(thread, &context)) {
                Abort("cannot tell whether a thread of the program stopped (error " + std::to_string(::GetLastError()) +
                      ")");
            }
            frozen_.push_back({entry.th32ThreadID, thread});
            ++suspended;
        }
        ::CloseHandle(snapshot);
        return suspended;
    }

    PROCESS_INFORMATION process_{};
    std::vector<FrozenThread> frozen_;
};

// A visible top-level window of the extractor with this class and caption.
HWND FindOwnWindow(const Extractor& extractor, const char* class_name, const char* caption)
{
    for (HWND window = ::FindWindowExA(nullptr, nullptr, class_name, caption); window != nullptr;
         window = ::FindWindowExA(nullptr, window, class_name, caption)) {
        if (extractor.Owns(window) && ::IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

HWND WaitForWindow(const Extractor& extractor, const char* class_name, const char* caption)
{
    const auto deadline = Clock::now() + kBoxTimeout;
    while (Clock::now() < deadline) {
        if (HWND window = FindOwnWindow(extractor, class_name, caption)) {
            return window;
        }
        if (!extractor.Running()) {
            return nullptr;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return nullptr;
}

bool IsDefaultButton(HWND button)
{
    return button != nullptr && (::GetWindowLongPtrA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

// A message box keeps its icon control when it has no icon; only the image
// tells the two apart.
bool ShowsIcon(HWND box)
{
    const HWND icon = ::GetDlgItem(box, kBoxIconId);
    return icon != nullptr && ::IsWindowVisible(icon) && ::SendMessageA(icon, STM_GETICON, 0, 0) != 0;
}

void CheckQuestionBox(const Extractor& extractor, HWND box)
{
    Check(WindowText(::GetDlgItem(box, kBoxTextId)) == kQuestion, "the question reads \"Also extract speech files?\"");
    Check(::GetDlgItem(box, IDYES) != nullptr && ::GetDlgItem(box, IDNO) != nullptr, "the question has Yes and No");
    Check(::GetDlgItem(box, IDOK) == nullptr && ::GetDlgItem(box, IDCANCEL) == nullptr,
          "the question has no other button");
    Check(IsDefaultButton(::GetDlgItem(box, IDYES)) && !IsDefaultButton(::GetDlgItem(box, IDNO)),
          "Yes is the default button");
    Check(!ShowsIcon(box), "the question shows no icon");
    Check(FindOwnWindow(extractor, kFormClass, nullptr) == nullptr,
          "the main window is not visible during the question");
}

void Answer(HWND box, int button_id)
{
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(button_id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, button_id)));
}

void CheckLayout(HWND form)
{
    Check(WindowText(form) == kTitle, "the caption is \"Quorvel Extractor\"");
    RECT client{};
    ::GetClientRect(form, &client);
    Check(client.right == 312 && client.bottom == 47, "the client area is 312 x 47 (" + Describe(client) + ")");
    const auto style = static_cast<DWORD>(::GetWindowLongPtrA(form, GWL_STYLE));
    const auto ex_style = static_cast<DWORD>(::GetWindowLongPtrA(form, GWL_EXSTYLE));
    Check((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU) != 0, "the window has a caption and a close box");
    Check((style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) == 0,
          "the window cannot be resized, minimised or maximised");
    Check((ex_style & WS_EX_DLGMODALFRAME) != 0, "the window has a dialog frame");

    const HWND label = ::FindWindowExA(form, nullptr, "Static", nullptr);
    Check(label != nullptr && HasRect(ChildRect(label), 8, 8, 297, 17),
          "Label1 is at 8,8 sized 297 x 17 (" + (label ? Describe(ChildRect(label)) : std::string("none")) + ")");

    const HWND bar = ::GetDlgItem(form, kBarId);
    Check(bar != nullptr && ClassName(bar) == "msctls_progress32", "control 1 is a msctls_progress32 bar");
    if (bar == nullptr) {
        return;
    }
    Check(HasRect(ChildRect(bar), 8, 24, 297, 17),
          "the bar is at 8,24 sized 297 x 17 (" + Describe(ChildRect(bar)) + ")");
    Check(static_cast<DWORD>(::GetWindowLongPtrA(bar, GWL_STYLE)) == 0x50000001,
          "the bar's style is WS_CHILD | WS_VISIBLE | PBS_SMOOTH");
    const auto bar_ex_style = static_cast<DWORD>(::GetWindowLongPtrA(bar, GWL_EXSTYLE));
    // The class replaces the WS_EX_CLIENTEDGE it was created with by its own
    // edge (or none, when themed), so the edge cannot be checked from here.
    std::printf("the bar's extended style now: 0x%lx\n", static_cast<unsigned long>(bar_ex_style));
    // Asked one limit at a time: a PBRANGE pointer would not cross processes.
    const LRESULT low = ::SendMessageA(bar, PBM_GETRANGE, TRUE, 0);
    const LRESULT high = ::SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
    Check(low == 0 && high == 100, "the bar keeps the range 0 to 100");
}

struct Reading {
    std::string label;
    int position = 0;
    std::string text;
    // Each read is answered at a different checkpoint of the run; the text
    // read before and after the position tells whether they belong together.
    bool consistent = false;
};

// What the window shows between two checkpoints of the run. Empty when the
// window went away while it was being read.
std::optional<Reading> Read(HWND form)
{
    const HWND bar = ::GetDlgItem(form, kBarId);
    const HWND label = ::FindWindowExA(form, nullptr, "Static", nullptr);
    if (bar == nullptr || label == nullptr) {
        return std::nullopt;
    }
    const std::string text_before = WindowText(bar);
    DWORD_PTR position = 0;
    if (!::SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &position)) {
        return std::nullopt;
    }
    Reading reading{WindowText(label), static_cast<int>(position), WindowText(bar), false};
    reading.consistent = reading.text == text_before;
    if (!::IsWindow(form)) {
        return std::nullopt;
    }
    return reading;
}

// The checks every reading must pass: a known status line, a percentage
// text, a position from the same ratio, and nothing going backwards.
class ReadingChecker {
public:
    explicit ReadingChecker(bool answer_yes) : answer_yes_(answer_yes) {}

    void Add(const Reading& reading)
    {
        ++count_;
        const bool known_label = reading.label.empty() || reading.label == "Extracting: sfx" ||
                                 (answer_yes_ && reading.label == "Extracting: speech");
        Expect(known_label, "unexpected status line \"" + reading.label + "\"");
        if (reading.label == "Extracting: speech") {
            speech_seen_ = true;
        }
        Expect(!(speech_seen_ && reading.label == "Extracting: sfx"), "sfx came back after speech");
        Expect(reading.position >= last_position_,
               "the bar went back from " + std::to_string(last_position_) + " to " + std::to_string(reading.position));
        last_position_ = reading.position;
        if (reading.text.empty()) {
            return;  // before the first update
        }
        std::smatch match;
        static const std::regex kPercent(R"(^(\d{1,3})\.(\d\d)%$)");
        if (!Expect(std::regex_match(reading.text, match, kPercent), "bar text \"" + reading.text + "\"")) {
            return;
        }
        ++with_text_;
        if (!reading.consistent) {
            return;
        }
        const int hundredths = std::stoi(match[1]) * 100 + std::stoi(match[2]);
        Expect(std::abs(reading.position * 100 - hundredths) <= 51,
               "position " + std::to_string(reading.position) + " does not match \"" + reading.text + "\"");
    }

    void Report(int min_readings) const
    {
        Check(count_ >= min_readings && with_text_ >= std::min(min_readings, 1),
              std::to_string(count_) + " readings of the running window, " + std::to_string(with_text_) +
                  " with a percentage");
        Check(problems_ == 0,
              "every reading had a known status line, a percentage matching the position, and no "
              "step backwards");
        if (answer_yes_) {
            std::printf("note: \"Extracting: speech\" %s\n", speech_seen_ ? "seen" : "not caught between readings");
        }
    }

    int last_position() const { return last_position_; }

private:
    bool Expect(bool condition, const std::string& what)
    {
        if (!condition) {
            ++problems_;
            std::printf("FAIL: %s\n", what.c_str());
        }
        return condition;
    }

    bool answer_yes_;
    int count_ = 0;
    int with_text_ = 0;
    int problems_ = 0;
    int last_position_ = 0;
    bool speech_seen_ = false;
};

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The flag file holds the window's screen rectangle as "WIDTHxHEIGHT+X+Y",
// so that the observer can cut the window out of a screenshot. It is written
// under another name and renamed, so that it never exists half written.
bool CreateFlag(const std::string& path, HWND form)
{
    RECT frame{};
    ::GetWindowRect(form, &frame);
    const std::string partial = path + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    std::fprintf(file, "%ldx%ld+%ld+%ld\n", frame.right - frame.left, frame.bottom - frame.top, frame.left, frame.top);
    return std::fclose(file) == 0 && ::MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// Holds the run still (the window keeps what it drew) until someone has
// looked at it, e.g. taken a screenshot.
void PauseForObserver(Extractor& extractor, HWND form, const Options& options)
{
    Check(extractor.Freeze(), "the program was frozen mid-run for the observer");
    Check(CreateFlag(options.pause_flag, form), "the observer was told the run is held");
    const auto deadline = Clock::now() + kObserverTimeout;
    while (!FileExists(options.resume_flag) && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    Check(FileExists(options.resume_flag), "the observer finished while the run was held");
    extractor.Thaw();
}

LRESULT HitTest(HWND form, int x, int y)
{
    DWORD_PTR hit = HTNOWHERE;
    ::SendMessageTimeoutA(form, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, kMessageTimeoutMs, &hit);
    return static_cast<LRESULT>(hit);
}

// The middle of the close box, found the way the window system itself
// decides it: the caption points that hit-test as HTCLOSE. Every hit test
// waits for a checkpoint of the run, so the search starts where the box
// must be: the middle row of the caption, near the right edge.
std::optional<POINT> FindCloseBox(HWND form)
{
    constexpr int kSearchWidth = 64;
    RECT frame{};
    ::GetWindowRect(form, &frame);
    POINT client_origin{0, 0};
    ::ClientToScreen(form, &client_origin);
    const int middle = (frame.top + client_origin.y) / 2;
    for (int offset = 0; middle + offset < client_origin.y && middle - offset > frame.top; ++offset) {
        for (const int y : {middle + offset, middle - offset}) {
            for (int x = frame.right - 1; x > frame.right - kSearchWidth; --x) {
                if (HitTest(form, x, y) != HTCLOSE) {
                    continue;
                }
                int left = x;
                while (HitTest(form, left - 1, y) == HTCLOSE) {
                    --left;
                }
                return POINT{(left + x) / 2, y};
            }
        }
    }
    std::printf("no close box in the caption of the window at %s\n", Describe(frame).c_str());
    return std::nullopt;
}

// Clicks the close box with the mouse, as a user does, while the program is
// frozen where the bar showed: the press and the release wait in its input
// queue, and its first look at messages once it is let go (its next
// checkpoint, within 64 KiB) hit-tests them, tracks the close button and
// turns them into SC_CLOSE and WM_CLOSE. So the click lands at that
// checkpoint, in the file being written at the freeze, however loaded the
// machine is. A posted WM_CLOSE would be as certain, but would skip the hit
// test and the close button that users press.
void ClickCloseBoxWhileFrozen(Extractor& extractor, HWND form, POINT point)
{
    ::SetForegroundWindow(form);  // before the freeze: activation talks to the program
    const bool frozen = extractor.Freeze();
    Check(frozen, "the program was frozen mid-run to click the close box");
    if (!frozen) {
        return;
    }
    ::SetCursorPos(point.x, point.y);
    INPUT clicks[2] = {};
    clicks[0].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].type = INPUT_MOUSE;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    Check(::SendInput(2, clicks, sizeof(INPUT)) == 2, "the click on the close box was sent");
    extractor.Thaw();
}

// The next error or warning box of the extractor: its text must hold every
// piece expected of it; it is dismissed with OK, and the driver waits until
// it is gone so that it is never taken for the box after it.
void HandleMessageBox(const Extractor& extractor, HWND box, const Options& options, std::size_t& boxes_seen)
{
    const std::string text = WindowText(::GetDlgItem(box, kBoxTextId));
    std::printf("box: %s\n", text.c_str());
    Check(ShowsIcon(box), "the box shows an icon");
    Check(boxes_seen < options.expect_boxes.size(), "a box was expected");
    for (const std::string& piece : options.expect_boxes[boxes_seen]) {
        Check(text.find(piece) != std::string::npos, "the box says \"" + piece + "\"");
    }
    ++boxes_seen;
    Answer(box, IDOK);
    while (::IsWindow(box) && extractor.Running()) {
        std::this_thread::sleep_for(kPollInterval);
    }
}

// Reads the window until the program ends. Each reading is answered by the
// program at its checkpoints, the only moments it looks at messages, so the
// readings follow the program's own pace: the next one is asked for at once,
// and the driver only sleeps when there is nothing to read.
void WatchRun(Extractor& extractor, HWND form, const Options& options)
{
    ReadingChecker checker(options.answer_yes);
    bool paused = false;
    bool clicked = false;
    // Found at once, while the run is young, and clicked later.
    std::optional<POINT> close_box;
    if (options.close_at) {
        close_box = FindCloseBox(form);
        Check(close_box.has_value(), "the window has a close box to click");
    }
    std::size_t boxes_seen = 0;
    const auto deadline = Clock::now() + kRunTimeout;
    while (extractor.Running() && Clock::now() < deadline) {
        if (HWND box = FindOwnWindow(extractor, "#32770", kTitle)) {
            HandleMessageBox(extractor, box, options, boxes_seen);
            continue;
        }
        const auto reading = ::IsWindow(form) ? Read(form) : std::nullopt;
        if (!reading) {
            std::this_thread::sleep_for(kPollInterval);
            continue;
        }
        checker.Add(*reading);
        if (options.pause_at && !paused && reading->position >= *options.pause_at) {
            std::printf("holding the run at %d (%s)\n", reading->position, reading->text.c_str());
            PauseForObserver(extractor, form, options);
            paused = true;
        }
        if (close_box && !clicked && reading->position >= *options.close_at) {
            std::printf("clicking the close box at %d (%s)\n", reading->position, reading->text.c_str());
            ClickCloseBoxWhileFrozen(extractor, form, *close_box);
            clicked = true;
        }
    }
    checker.Report(options.min_readings);
    if (options.pause_at) {
        Check(paused, "the run was held for the observer");
    }
    if (options.close_at) {
        Check(clicked, "the close box was clicked while the run was going");
    }
    Check(boxes_seen == options.expect_boxes.size(), options.expect_boxes.empty()
                                                         ? "no error or warning box appeared"
                                                         : std::to_string(options.expect_boxes.size()) +
                                                               " expected box(es) appeared, in order");
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            Abort("missing value for " + name);
        }
        const std::string value = argv[++i];
        if (name == "--exe") {
            options.exe = value;
        } else if (name == "--folder") {
            options.folder = value;
        } else if (name == "--answer") {
            options.answer_yes = value == "yes";
        } else if (name == "--expect-exit") {
            options.expect_exit = std::stoi(value);
        } else if (name == "--expect-box" || name == "--then-box") {
            if (options.expect_boxes.empty() || name == "--then-box") {
                options.expect_boxes.emplace_back();
            }
            options.expect_boxes.back().push_back(value);
        } else if (name == "--close-at") {
            options.close_at = std::stoi(value);
        } else if (name == "--pause-at") {
            options.pause_at = std::stoi(value);
        } else if (name == "--pause-flag") {
            options.pause_flag = value;
        } else if (name == "--resume-flag") {
            options.resume_flag = value;
        } else if (name == "--min-readings") {
            options.min_readings = std::stoi(value);
        } else {
            Abort("unknown option " + name);
        }
    }
    if (options.exe.empty() || options.folder.empty()) {
        Abort("usage: quorvel-gui-driver --exe EXE --folder DIR --answer yes|no --expect-exit N [...]");
    }
    return options;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ParseOptions(argc, argv);
    Extractor extractor(options);

    // A program that never shows the question has not been tested at all:
    // that is a failure, whatever its exit code.
    const HWND question = WaitForWindow(extractor, "#32770", kQuestionCaption);
    if (question == nullptr) {
        Abort("the question box never appeared");
    }
    CheckQuestionBox(extractor, question);
    Answer(question, options.answer_yes ? IDYES : IDNO);

    const HWND form = WaitForWindow(extractor, kFormClass, nullptr);
    if (form == nullptr) {
        Abort("the main window never appeared");
    }
    CheckLayout(form);
    WatchRun(extractor, form, options);

    const auto exit_code = extractor.WaitForExit(std::chrono::milliseconds(10000));
    Check(exit_code.has_value(), "the program ended by itself");
    if (exit_code) {
        Check(static_cast<int>(*exit_code) == options.expect_exit,
              "exit code " + std::to_string(*exit_code) + ", expected " + std::to_string(options.expect_exit));
    }
    Check(!::IsWindow(form), "the main window is gone");
    std::printf("%s\n", g_failures == 0 ? "PASS" : "FAILED");
    return g_failures == 0 ? 0 : 1;
}
