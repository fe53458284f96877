#include "studio/studio_command.hpp"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#else
#include <fcntl.h>
#include <spawn.h>

#include <cstring>
#include <sys/wait.h>
#include <thread>

extern char** environ;
#endif

namespace quorvel::studio {

#ifdef _WIN32

std::optional<std::string> OpenInBrowser(const std::string& address)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, address.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, address.c_str(), -1, wide.data(), length);
    const auto result =
        reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    // ShellExecute reports success as a value above 32.
    if (result <= 32) {
        return "ShellExecute failed with " + std::to_string(result);
    }
    return std::nullopt;
}

#else

std::optional<std::string> OpenInBrowser(const std::string& address)
{
#ifdef __APPLE__
    const char* opener = "open";
#else
    const char* opener = "xdg-open";
#endif
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The opener's chatter would land in the middle of the studio's messages.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string argument = address;
    char* arguments[] = {const_cast<char*>(opener), argument.data(), nullptr};
    pid_t child = 0;
    const int error = ::posix_spawnp(&child, opener, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return std::string(opener) + ": " + std::strerror(error);
    }
    // Reaped when it ends, whenever that is: some openers wait for the browser.
    std::thread([child] {
        int status = 0;
        ::waitpid(child, &status, 0);
    }).detach();
    return std::nullopt;
}

#endif

}  // namespace quorvel::studio
