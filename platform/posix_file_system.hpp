#pragma once

#include <sys/stat.h>

#include "extract/file_system.hpp"

namespace quorvel {

// Files on Linux and macOS. Output files are never written through a link
// or into anything but a regular file.
class PosixFileSystem final : public FileSystem {
public:
    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override;
    std::optional<Failure> MakeFolder(const std::string& path) override;
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) override;
    std::string Join(const std::string& folder, const std::string& file) const override;

private:
    // The careful path for a name that is taken (`status`, not following
    // links): a file of an earlier run, or something planted in its place.
    static std::unique_ptr<OutputFile> ReplaceOutput(const std::string& path, const struct stat& status);

    bool last_name_was_taken_ = false;
};

// An output for a new file already open on `fd`, which it closes; Abandon
// removes `path`.
std::unique_ptr<OutputFile> AdoptOutput(int fd, std::string path);

}  // namespace quorvel
