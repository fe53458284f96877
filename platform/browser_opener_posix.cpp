#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "platform/browser_opener.hpp"
#include "platform/posix_descriptor.hpp"

extern char** environ;

namespace quorvel {
namespace {

// A folder only this user can enter: $XDG_RUNTIME_DIR where it is one (the
// system makes it, mode 0700), else a new private folder in /tmp.
struct PrivateFolder {
    std::string path;
    bool made = false;
};

std::optional<PrivateFolder> FindPrivateFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        struct stat status {};
        if (::lstat(runtime, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
            (status.st_mode & 077) == 0) {
            return PrivateFolder{.path = runtime, .made = false};
        }
    }
    std::string pattern = "/tmp/quorvel-studio-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {  // mode 0700
        return std::nullopt;
    }
    return PrivateFolder{.path = pattern, .made = true};
}

class PosixBrowserOpener final : public BrowserOpener {
public:
    ~PosixBrowserOpener() override
    {
        if (!page_.empty()) {
            ::unlink(page_.c_str());
        }
        if (folder_ && folder_->made) {
            ::rmdir(folder_->path.c_str());
        }
    }

    std::optional<std::string> Open(const std::string& address) override
    {
        if (const auto problem = WritePage(address)) {
            return problem;
        }
        return Spawn("file://" + page_);
    }

private:
    std::optional<std::string> WritePage(const std::string& address)
    {
        folder_ = FindPrivateFolder();
        if (!folder_) {
            return std::string("no private folder for the page that opens the studio: ") + std::strerror(errno);
        }
        const std::string text = PageThatOpens(address);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string path = folder_->path + "/quorvel-studio-" + std::to_string(::getpid()) + "-" +
                               std::to_string(attempt) + ".html";
            FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (fd.get() < 0) {
                if (errno == EEXIST) {
                    continue;
                }
                return path + ": " + std::strerror(errno);
            }
            page_ = path;
            if (::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
                return path + ": " + std::strerror(errno);
            }
            return std::nullopt;
        }
        return folder_->path + ": no free name for the page that opens the studio";
    }

    static std::optional<std::string> Spawn(const std::string& target)
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
        std::string argument = target;
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

    std::optional<PrivateFolder> folder_;
    std::string page_;
};

}  // namespace

std::unique_ptr<BrowserOpener> MakePlatformBrowserOpener()
{
    return std::make_unique<PosixBrowserOpener>();
}

}  // namespace quorvel
