#include "windows/win32_ui.hpp"

#include <commctrl.h>

#include <string>
#include <utility>

#include "app/form1.hpp"
#include "app/places.hpp"
#include "extract/block_stream.hpp"
#include "platform/win32_file_system.hpp"
#include "platform/win32_pack_file_system.hpp"
#include "windows/folder_picker.hpp"

namespace quorvel {
namespace {

constexpr wchar_t kFormClass[] = L"Form1";

// The pickers' titles say what to choose, since the picker is all the user sees.
constexpr char kGameFolderTitle[] = "Where is the game's folder (the one with sfx.pak)?";
constexpr char kOutputFolderTitle[] = "Where should the extracted sounds go?";

std::wstring MessageCaption()
{
    return WidenUtf8(std::string(kWindowTitle));
}

// The layout of Form1, in pixels.
constexpr int kClientWidth = 312;
constexpr int kClientHeight = 47;
constexpr int kLabelX = 8;
constexpr int kLabelY = 8;
constexpr int kLabelWidth = 297;
constexpr int kLabelHeight = 17;
constexpr int kLabelId = 2;

// A fixed dialog frame with a close box and nothing to resize, minimise or
// maximise it with.
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;

// The progress bar: a plain child control the run sequence creates itself,
// so that its class, styles and id are fixed here and nowhere else.
constexpr DWORD kBarExStyle = WS_EX_CLIENTEDGE;
constexpr char kBarClass[] = "msctls_progress32";
constexpr DWORD kBarStyle = 0x50000001;  // WS_CHILD | WS_VISIBLE | PBS_SMOOTH
constexpr int kBarId = 1;

HWND ToWindow(BarHandle bar)
{
    return reinterpret_cast<HWND>(bar);
}

[[noreturn]] void ThrowWindowSystemError(std::string what)
{
    const DWORD number = ::GetLastError();
    Failure failure;
    failure.number = static_cast<long>(number);
    failure.description = what + ": " + DescribeWindowsError(number);
    throw ExtractError(std::move(failure));
}

void RegisterFormClass(HINSTANCE instance, WNDPROC procedure)
{
    WNDCLASSEXW form_class{};
    form_class.cbSize = sizeof(form_class);
    form_class.lpfnWndProc = procedure;
    form_class.hInstance = instance;
    form_class.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    form_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form_class.lpszClassName = kFormClass;
    ::RegisterClassExW(&form_class);
}

// The failure on one line, to sit inside a sentence.
std::string OnOneLine(const Failure& failure)
{
    std::string text = failure.Describe();
    for (char& c : text) {
        if (c == '\n') {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

bool HoldsGame(const std::string& folder)
{
    Win32PackFileSystem pack_files;
    return quorvel::HoldsGame(Win32FileSystem(), pack_files, Places{.game_folder = folder, .output_folder = {}});
}

Win32Ui::Win32Ui(HINSTANCE instance) : instance_(instance)
{
    RegisterFormClass(instance_, &Win32Ui::WindowProcedure);
    CreateForm();
}

Win32Ui::~Win32Ui()
{
    Unload();
}

void Win32Ui::CreateForm()
{
    RECT frame{0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
    form_ = ::CreateWindowExW(kFormExStyle, kFormClass, L"", kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance_, this);
    if (form_ == nullptr) {
        ThrowWindowSystemError("The main window could not be created");
    }
    label_ = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kLabelX, kLabelY,
                               kLabelWidth, kLabelHeight, form_, reinterpret_cast<HMENU>(kLabelId), instance_, nullptr);
    ::SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
}

LRESULT CALLBACK Win32Ui::WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* ui = reinterpret_cast<Win32Ui*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_CLOSE && ui != nullptr) {
        // The run is on the stack below this call: it is told to stop at its
        // next checkpoint, which removes the unfinished file and unloads.
        ui->close_requested_ = true;
        return 0;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

bool Win32Ui::AskYesNo(std::string_view question, std::string_view caption)
{
    const int answer =
        ::MessageBoxA(nullptr, std::string(question).c_str(), std::string(caption).c_str(), MB_YESNO | MB_DEFBUTTON1);
    if (answer == 0) {
        // Without the box there is no answer: better a failure than a run the
        // user never agreed to.
        ThrowWindowSystemError("The question could not be shown");
    }
    return answer == IDYES;
}

void Win32Ui::ShowWindow(std::string_view title)
{
    ::SetWindowTextW(form_, WidenUtf8(std::string(title)).c_str());
    ::ShowWindow(form_, SW_SHOWNORMAL);
    ::UpdateWindow(form_);
}

void Win32Ui::SetStatusText(std::string_view text)
{
    ::SetWindowTextW(label_, WidenUtf8(std::string(text)).c_str());
}

BarHandle Win32Ui::CreateProgressBar(int x, int y, int width, int height)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    ::InitCommonControlsEx(&controls);
    const HWND bar = ::CreateWindowExA(kBarExStyle, kBarClass, "", kBarStyle, x, y, width, height, form_,
                                       reinterpret_cast<HMENU>(kBarId), instance_, nullptr);
    return reinterpret_cast<BarHandle>(bar);
}

void Win32Ui::SetBarPosition(BarHandle bar, int position)
{
    ::SendMessageA(ToWindow(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32Ui::SetBarText(BarHandle bar, std::string_view text)
{
    const std::string terminated(text);
    ::SendMessageA(ToWindow(bar), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(terminated.c_str()));
}

bool Win32Ui::ProcessPendingMessages()
{
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            close_requested_ = true;
            break;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return !close_requested_;
}

void Win32Ui::Unload()
{
    if (form_ != nullptr) {
        ::DestroyWindow(form_);
        form_ = nullptr;
        label_ = nullptr;
    }
}

void Win32Ui::ReportError(const Failure& failure)
{
    // Owned by the main window, if there is one, so that it stays modal to it.
    ::MessageBoxW(form_, WidenUtf8(failure.Describe()).c_str(), MessageCaption().c_str(), MB_OK | MB_ICONERROR);
}

void Win32Ui::ReportWarning(std::string_view text)
{
    ::MessageBoxW(form_, WidenUtf8(std::string(text)).c_str(), MessageCaption().c_str(), MB_OK | MB_ICONWARNING);
}

std::optional<std::string> Win32Ui::ChooseGameFolder()
{
    // No owner: the main window is still hidden, and the picker is the
    // program's first window, with its own button on the taskbar.
    for (;;) {
        const auto folder = PickFolder(nullptr, kGameFolderTitle);
        if (!folder || HoldsGame(*folder)) {
            return folder;
        }
    }
}

std::optional<std::string> Win32Ui::ChooseOutputFolder(const Failure& failure)
{
    // Why the picker comes up mid-run, with the failure the error box would
    // have named; Cancel in the picker then brings that error box.
    const std::string place = output_folder_chosen_ ? "the folder you chose" : "the game's folder";
    const std::string explanation = "The sounds cannot be written into " + place + " (" + OnOneLine(failure) +
                                    "), so choose a folder to put them in.";
    ::MessageBoxW(form_, WidenUtf8(explanation).c_str(), MessageCaption().c_str(), MB_OK | MB_ICONWARNING);
    auto folder = PickFolder(form_, kOutputFolderTitle);
    output_folder_chosen_ = output_folder_chosen_ || folder.has_value();
    return folder;
}

}  // namespace quorvel
