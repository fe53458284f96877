// The terminal program's system services on Linux and macOS.

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

#include "platform/posix_file_system.hpp"
#include "terminal/console.hpp"

namespace quorvel {
namespace {

extern "C" void RememberStopSignal(int signal_number)
{
    RequestStop(signal_number);
}

Failure FolderFailure(int number, const std::string& folder)
{
    return Failure{
        .number = number, .description = std::strerror(number), .file = folder, .offset = {}, .file_is_a_folder = true};
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    // The bytes as given: paths are whatever bytes the file system holds.
    return std::vector<std::string>(argv, argv + argc);
}

// A full disk or file size limit becomes an error on write rather than
// death by SIGXFSZ, and a closed pipe an error rather than SIGPIPE.
void PrepareConsole()
{
    struct sigaction action {};
    action.sa_handler = RememberStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The terminal closing stops the run the same way, unless the run was
    // started to outlive it (nohup leaves SIGHUP ignored).
    struct sigaction hangup {};
    if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN) {
        sigaction(SIGHUP, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

void UseBinaryStandardOutput() {}

bool IsTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

bool PrepareLineErasing(std::FILE* /*stream*/)
{
    return true;  // every terminal these systems run takes ESC [ K
}

std::optional<Failure> CheckGameFolder(const std::string& folder)
{
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        return FolderFailure(errno, folder);
    }
    if (!S_ISDIR(status.st_mode)) {
        return FolderFailure(ENOTDIR, folder);
    }
    return std::nullopt;
}

std::optional<Failure> MakeOutputFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        return FolderFailure(error.value(), folder);
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return FolderFailure(ENOTDIR, folder);
    }
    return std::nullopt;
}

std::unique_ptr<FileSystem> MakeFileSystem()
{
    return std::make_unique<PosixFileSystem>();
}

}  // namespace quorvel
