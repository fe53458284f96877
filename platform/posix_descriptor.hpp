#pragma once

#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>

#include "extract/extract_error.hpp"

namespace quorvel {

// An open file descriptor, closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The failure of a call on `path` with errno `number`, worded by the system
// unless `description` says it better.
[[noreturn]] inline void ThrowPosixError(int number, const std::string& path, std::string description = {},
                                         bool path_is_a_folder = false)
{
    if (description.empty()) {
        description = std::strerror(number);
    }
    throw ExtractError(Failure{.number = number,
                               .description = std::move(description),
                               .file = path,
                               .offset = {},
                               .file_is_a_folder = path_is_a_folder});
}

}  // namespace quorvel
