// quorvel-gui-driver: runs quorvel-extractor.exe in a folder and plays the
// user: chooses in its folder pickers, answers the question box, reads the
// window while the work runs, optionally clicks the close box, dismisses
// error and warning boxes, and checks the exit code. Prints what it saw;
// exits 0 when every check held.
//
//   quorvel-gui-driver --exe EXE --folder DIR --answer yes|no --expect-exit N
//       [--game-picker FOLDER|cancel]...
//                               before the question, the game folder picker must
//                               appear (once per option, in order): choose FOLDER
//                               (a full Windows path) or press Cancel
//       [--photograph-picker FILE --picker-photographed FILE]
//                               hold the last game folder picker, FOLDER typed in,
//                               create FILE, and choose once the other FILE exists
//       [--expect-box TEXT]...  an error or warning box must appear and contain each TEXT
//       [--then-box TEXT]...    after it, another box must appear holding TEXT (and the
//                               --expect-box TEXTs that follow this option)
//       [--output-picker FOLDER|cancel]
//                               after the boxes so far, the output folder picker must
//                               appear: choose FOLDER or press Cancel; an --expect-box
//                               after it expects a new box
//       [--close-at PERCENT]    once the bar reaches PERCENT, freeze the program,
//                               click the close box and let it go on
//       [--pause-at PERCENT --pause-flag FILE --resume-flag FILE]
//                               freeze the program at PERCENT, create FILE,
//                               and let it go on once the other FILE exists
//       [--min-readings N]      readings of the running window required (default 1)
//
//   quorvel-gui-driver --check-manifest EXE
//       checks the manifest the exe carries: run as the invoker, nothing else
//
// Nothing here waits a fixed time for the program: the driver waits for what
// the program shows (a box, the window, the bar reaching a position), each
// within a generous overall limit, and injects what it does mid-run (the
// click, the pause) while every thread of the program is suspended.

// commctrl.h needs what windows.h declares.
// clang-format off
#include "platform/windows_headers.hpp"
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
constexpr char kDialogClass[] = "#32770";  // message boxes and the folder pickers
constexpr char kGamePickerTitle[] = "Where is the game's folder (the one with sfx.pak)?";
constexpr char kOutputPickerTitle[] = "Where should the extracted sounds go?";
constexpr int kPickerNameBoxId = 1152;  // the picker's "File name:" box

// A folder to choose in a picker; nothing means Cancel.
using PickerChoice = std::optional<std::string>;

// What must appear after the window, in order: a box holding some texts, or
// the output folder picker and what to choose in it.
struct Step {
    bool picker = false;
    std::vector<std::string> texts;
    PickerChoice choice;
};

struct Options {
    std::string exe;
    std::string folder;
    bool answer_yes = true;
    int expect_exit = 0;
    std::vector<PickerChoice> game_pickers;
    std::string picker_flag;
    std::string picker_photographed_flag;
    std::vector<Step> steps;
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

// Thrown by Abort, so that the program under test is ended on the way out
// (a driver that just exited would leave it waiting at a dialog, holding
// the caller's output pipe open).
struct Aborted {};

[[noreturn]] void Abort(const std::string& what)
{
    std::printf("FAIL: %s\n", what.c_str());
    std::fflush(stdout);
    throw Aborted();
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

// Waits for a window of the extractor; nothing when it ends or takes too
// long. A dialog with the caption `instead` showing up first (the question
// where a picker belongs, say) is a failure at once.
HWND WaitForWindow(const Extractor& extractor, const char* class_name, const char* caption,
                   const char* instead = nullptr)
{
    const auto deadline = Clock::now() + kBoxTimeout;
    while (Clock::now() < deadline) {
        if (HWND window = FindOwnWindow(extractor, class_name, caption)) {
            return window;
        }
        if (instead != nullptr && FindOwnWindow(extractor, kDialogClass, instead) != nullptr) {
            Abort(std::string("\"") + instead + "\" appeared instead");
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

// Presses a dialog's button, posted so that the driver never waits on
// whatever the press brings up next.
void Answer(HWND box, int button_id)
{
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(button_id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, button_id)));
}

// Waits until a dialog the driver answered has gone, so that it is never
// taken for the one after it (a picker asked again has the same title).
void WaitUntilGone(const Extractor& extractor, HWND window, const std::string& what)
{
    const auto deadline = Clock::now() + kBoxTimeout;
    while (::IsWindow(window) && extractor.Running() && Clock::now() < deadline) {
        std::this_thread::sleep_for(kPollInterval);
    }
    Check(!::IsWindow(window) || !extractor.Running(), what + " closed when answered");
}

// The picker's file-name box, where a user may type the folder.
HWND PickerNameBox(HWND picker)
{
    const HWND name_box = ::GetDlgItem(picker, kPickerNameBoxId);
    return name_box != nullptr && ClassName(name_box) == "Edit" ? name_box : nullptr;
}

// Types the folder into the picker's file-name box, as a user may.
void TypeFolder(HWND picker, const std::string& folder)
{
    const HWND name_box = PickerNameBox(picker);
    DWORD_PTR ignored = 0;
    Check(
        name_box != nullptr && ::SendMessageTimeoutA(name_box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()),
                                                     SMTO_ABORTIFHUNG, kMessageTimeoutMs, &ignored) != 0,
        "the picker's file-name box took " + folder);
}

// Chooses in a folder picker as a user does: the folder typed into its
// file-name box, then OK; or Cancel. Posted, not sent: a folder the picker
// questions would raise a box of its own, and a sent message would wait
// for it.
void AnswerPicker(const Extractor& extractor, HWND picker, const PickerChoice& choice, const std::string& what)
{
    Check(PickerNameBox(picker) != nullptr && ::GetDlgItem(picker, IDOK) != nullptr &&
              ::GetDlgItem(picker, IDCANCEL) != nullptr,
          what + " has a file-name box, OK and Cancel");
    std::printf("%s: %s\n", what.c_str(), choice ? choice->c_str() : "Cancel");
    if (choice) {
        TypeFolder(picker, *choice);
    }
    Answer(picker, choice ? IDOK : IDCANCEL);
    WaitUntilGone(extractor, picker, what);
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
bool CreateFlag(const std::string& path, HWND window)
{
    RECT frame{};
    ::GetWindowRect(window, &frame);
    const std::string partial = path + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    std::fprintf(file, "%ldx%ld+%ld+%ld\n", frame.right - frame.left, frame.bottom - frame.top, frame.left, frame.top);
    return std::fclose(file) == 0 && ::MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void AwaitObserver(const std::string& done_flag, const std::string& when)
{
    const auto deadline = Clock::now() + kObserverTimeout;
    while (!FileExists(done_flag) && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    Check(FileExists(done_flag), "the observer finished " + when);
}

// Holds the run still (the window keeps what it drew) until someone has
// looked at it, e.g. taken a screenshot.
void PauseForObserver(Extractor& extractor, HWND form, const Options& options)
{
    Check(extractor.Freeze(), "the program was frozen mid-run for the observer");
    Check(CreateFlag(options.pause_flag, form), "the observer was told the run is held");
    AwaitObserver(options.resume_flag, "while the run was held");
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

// The step expected next, if it is of the kind that appeared.
const Step* NextStep(const Options& options, std::size_t steps_seen, bool picker)
{
    const bool expected = steps_seen < options.steps.size() && options.steps[steps_seen].picker == picker;
    Check(expected, picker ? "the output folder picker was expected here" : "a box was expected here");
    return expected ? &options.steps[steps_seen] : nullptr;
}

// The next error, warning or explaining box of the extractor: its text must
// hold every piece expected of it; it is dismissed with OK, and the driver
// waits until it is gone so that it is never taken for the box after it.
void HandleMessageBox(const Extractor& extractor, HWND box, const Options& options, std::size_t& steps_seen)
{
    const std::string text = WindowText(::GetDlgItem(box, kBoxTextId));
    std::printf("box: %s\n", text.c_str());
    Check(ShowsIcon(box), "the box shows an icon");
    if (const Step* step = NextStep(options, steps_seen, false)) {
        for (const std::string& piece : step->texts) {
            Check(text.find(piece) != std::string::npos, "the box says \"" + piece + "\"");
        }
    }
    ++steps_seen;
    Answer(box, IDOK);
    WaitUntilGone(extractor, box, "the box");
}

// The output folder picker, mid-run: modal to the main window, which stays
// visible behind it. An unexpected one is cancelled, so that the run ends.
void HandleOutputPicker(const Extractor& extractor, HWND picker, HWND form, const Options& options,
                        std::size_t& steps_seen)
{
    const Step* step = NextStep(options, steps_seen, true);
    Check(::GetWindow(picker, GW_OWNER) == form && ::IsWindowVisible(form) && !::IsWindowEnabled(form),
          "the output folder picker is modal to the main window");
    ++steps_seen;
    AnswerPicker(extractor, picker, step != nullptr ? step->choice : std::nullopt, "the output folder picker");
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
    std::size_t steps_seen = 0;
    const auto deadline = Clock::now() + kRunTimeout;
    while (extractor.Running() && Clock::now() < deadline) {
        if (HWND box = FindOwnWindow(extractor, kDialogClass, kTitle)) {
            HandleMessageBox(extractor, box, options, steps_seen);
            continue;
        }
        if (HWND picker = FindOwnWindow(extractor, kDialogClass, kOutputPickerTitle)) {
            HandleOutputPicker(extractor, picker, form, options, steps_seen);
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
    Check(steps_seen == options.steps.size(),
          options.steps.empty()
              ? "no box or picker appeared"
              : std::to_string(options.steps.size()) + " expected boxes and pickers appeared, in order");
}

// Holds the picker, the folder typed in and everything drawn, until the
// observer has photographed it.
void PhotographPicker(HWND picker, const PickerChoice& choice, const Options& options)
{
    if (choice) {
        TypeFolder(picker, *choice);
    }
    // Answered once the picker has finished setting itself up; then every
    // part of it paints before RedrawWindow returns.
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(picker, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &ignored);
    ::RedrawWindow(picker, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Check(CreateFlag(options.picker_flag, picker), "the observer was told the picker is up");
    AwaitObserver(options.picker_photographed_flag, "while the picker was up");
}

// Before the question: the game folder picker, once per --game-picker, each
// answered in turn. A question box showing up instead fails at once.
void AnswerGamePickers(const Extractor& extractor, const Options& options)
{
    for (std::size_t i = 0; i < options.game_pickers.size(); ++i) {
        const HWND picker = WaitForWindow(extractor, kDialogClass, kGamePickerTitle, kQuestionCaption);
        if (picker == nullptr) {
            Abort(i == 0 ? "the game folder picker never appeared" : "the game folder picker was not asked again");
        }
        Check(FindOwnWindow(extractor, kFormClass, nullptr) == nullptr,
              "the main window is not visible during the game folder picker");
        const bool last = i + 1 == options.game_pickers.size();
        if (last && !options.picker_flag.empty()) {
            PhotographPicker(picker, options.game_pickers[i], options);
        }
        AnswerPicker(extractor, picker, options.game_pickers[i], "the game folder picker");
    }
}

// The manifest the exe carries (RT_MANIFEST 1, the one Windows reads when it
// starts the program): it must ask to run as the invoker, so that writes are
// never virtualised, and nothing that changes how the window looks or
// measures.
int CheckManifest(const std::string& exe)
{
    const HMODULE image =
        ::LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == nullptr) {
        Abort("cannot read the resources of " + exe + " (error " + std::to_string(::GetLastError()) + ")");
    }
    const HRSRC resource = ::FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    const HGLOBAL loaded = resource != nullptr ? ::LoadResource(image, resource) : nullptr;
    Check(loaded != nullptr, "the exe carries the manifest RT_MANIFEST 1");
    const std::string manifest = loaded != nullptr ? std::string(static_cast<const char*>(::LockResource(loaded)),
                                                                 ::SizeofResource(image, resource))
                                                   : std::string();
    const auto count = [&manifest](const std::string& what) {
        std::size_t found = 0;
        for (auto at = manifest.find(what); at != std::string::npos; at = manifest.find(what, at + 1)) {
            ++found;
        }
        return found;
    };
    Check(count("<requestedExecutionLevel") == 1 && count("level=\"asInvoker\"") == 1,
          "the manifest asks to run as the invoker, once");
    Check(count("dpiAware") == 0 && count("Common-Controls") == 0 && count("<dependency") == 0,
          "the manifest declares no DPI awareness and no other common controls");
    ::FreeLibrary(image);
    std::printf("%s\n", g_failures == 0 ? "PASS" : "FAILED");
    return g_failures == 0 ? 0 : 1;
}

PickerChoice ChoiceOf(const std::string& value)
{
    return value == "cancel" ? PickerChoice() : PickerChoice(value);
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
        } else if (name == "--game-picker") {
            options.game_pickers.push_back(ChoiceOf(value));
        } else if (name == "--photograph-picker") {
            options.picker_flag = value;
        } else if (name == "--picker-photographed") {
            options.picker_photographed_flag = value;
        } else if (name == "--expect-box" || name == "--then-box") {
            if (options.steps.empty() || options.steps.back().picker || name == "--then-box") {
                options.steps.emplace_back();
            }
            options.steps.back().texts.push_back(value);
        } else if (name == "--output-picker") {
            options.steps.push_back({.picker = true, .texts = {}, .choice = ChoiceOf(value)});
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
    if (options.picker_flag.empty() != options.picker_photographed_flag.empty() ||
        (!options.picker_flag.empty() && options.game_pickers.empty())) {
        Abort("--photograph-picker and --picker-photographed go together, with --game-picker");
    }
    return options;
}

}  // namespace

int Drive(const Options& options)
{
    Extractor extractor(options);
    AnswerGamePickers(extractor, options);

    // A program that never shows the question has not been tested at all:
    // that is a failure, whatever its exit code.
    const HWND question = WaitForWindow(extractor, kDialogClass, kQuestionCaption, kGamePickerTitle);
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

int main(int argc, char** argv)
{
    try {
        if (argc == 3 && std::string(argv[1]) == "--check-manifest") {
            return CheckManifest(argv[2]);
        }
        return Drive(ParseOptions(argc, argv));
    } catch (const Aborted&) {
        return 1;
    }
}
