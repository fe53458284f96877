// The terminal program's system services in a Windows console.

#include "platform/windows_headers.hpp"
#include "terminal/console.hpp"

// shellapi.h needs what windows.h declares.
// clang-format off
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
// clang-format on

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "platform/win32_file_system.hpp"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace quorvel {
namespace {

// What PrepareConsole and PrepareLineErasing changed in the console, which
// outlives the program and belongs to the shell that started it.
UINT g_original_output_code_page = 0;
HANDLE g_erasing_console = INVALID_HANDLE_VALUE;
DWORD g_original_console_mode = 0;

void RestoreConsole()
{
    if (g_original_output_code_page != 0) {
        ::SetConsoleOutputCP(g_original_output_code_page);
    }
    if (g_erasing_console != INVALID_HANDLE_VALUE) {
        ::SetConsoleMode(g_erasing_console, g_original_console_mode);
    }
}

// Runs on a thread of its own. Ctrl-C and Ctrl-Break stop the run like
// SIGINT. Closing the console window (or logging off) ends the process as
// soon as this returns, so it never returns: the run stops at its next
// check, removes the file being written and exits, which ends this thread
// too (Windows allows a few seconds for that).
BOOL WINAPI OnConsoleControl(DWORD event)
{
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            RequestStop(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            RequestStop(SIGTERM);
            ::Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

HANDLE ConsoleHandle(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

Failure FolderFailure(DWORD number, const std::string& folder)
{
    return Failure{.number = static_cast<long>(number),
                   .description = DescribeWindowsError(number),
                   .file = folder,
                   .offset = {},
                   .file_is_a_folder = true};
}

}  // namespace

// The narrow argv holds the arguments in the system's ANSI code page, where
// a folder name in another script turns into question marks; the wide
// command line holds them as typed.
std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(NarrowToUtf8(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

void PrepareConsole()
{
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    // Paths in messages are UTF-8; a console shows them right only in its
    // UTF-8 code page.
    const UINT code_page = ::GetConsoleOutputCP();
    if (code_page != 0 && code_page != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
        g_original_output_code_page = code_page;
    }
    std::atexit(RestoreConsole);
}

void UseBinaryStandardOutput()
{
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
}

bool IsTerminal(std::FILE* stream)
{
    // Not _isatty, which says yes to any character device, NUL included.
    DWORD mode = 0;
    return ::GetConsoleMode(ConsoleHandle(stream), &mode) != 0;
}

bool PrepareLineErasing(std::FILE* stream)
{
    const HANDLE console = ConsoleHandle(stream);
    DWORD mode = 0;
    if (!::GetConsoleMode(console, &mode)) {
        return false;
    }
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
        return true;
    }
    // Consoles before Windows 10 refuse the mode.
    if (!::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        return false;
    }
    g_erasing_console = console;
    g_original_console_mode = mode;
    return true;
}

std::optional<Failure> CheckGameFolder(const std::string& folder)
{
    const DWORD attributes = ::GetFileAttributesW(WidenUtf8(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return FolderFailure(::GetLastError(), folder);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return FolderFailure(ERROR_DIRECTORY, folder);
    }
    return std::nullopt;
}

std::optional<Failure> MakeOutputFolder(const std::string& folder)
{
    const std::filesystem::path full(WidenUtf8(folder));
    std::filesystem::path made = full.root_path();
    for (const std::filesystem::path& part : full.relative_path()) {
        made /= part;
        if (IsFolder(made.wstring())) {
            continue;
        }
        if (!::CreateDirectoryW(made.c_str(), nullptr)) {
            const DWORD number = ::GetLastError();
            return FolderFailure(number == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : number, folder);
        }
    }
    return std::nullopt;
}

std::unique_ptr<FileSystem> MakeFileSystem()
{
    return std::make_unique<Win32FileSystem>();
}

}  // namespace quorvel
