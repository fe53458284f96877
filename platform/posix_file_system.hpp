#pragma once

#include <map>
#include <string>
#include <sys/stat.h>

#include "extract/file_system.hpp"

namespace quorvel {

// Files on Linux and macOS. Output files are never written through a link
// or into anything but a regular file.
class PosixFileSystem final : public FileSystem {
public:
    // Inside an output folder: where the new files for taken names are
    // written before they take those names.
    static constexpr const char* kReplacementFolder = ".quorvel-replacing";

    PosixFileSystem() = default;
    ~PosixFileSystem() override;
    PosixFileSystem(const PosixFileSystem&) = delete;
    PosixFileSystem& operator=(const PosixFileSystem&) = delete;

    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override;
    std::optional<Failure> MakeFolder(const std::string& path) override;
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) override;
    std::string Join(const std::string& folder, const std::string& file) const override;

private:
    // The careful path for a name that is taken (`status`, not following
    // links): a file of an earlier run, or something planted in its place.
    std::unique_ptr<OutputFile> ReplaceOutput(const std::string& path, const struct stat& status);
    // The open replacement folder of `folder`, or -1 where none can be made.
    int ReplacementFolder(const std::string& folder);

    struct ReplacementFolderOpen {
        std::string path;
        int fd = -1;
    };
    std::map<std::string, ReplacementFolderOpen> replacement_folders_;
    bool last_name_was_taken_ = false;
};

// An output for a new file already open on `fd`, which it closes; Abandon
// removes `path`.
std::unique_ptr<OutputFile> AdoptOutput(int fd, std::string path);

}  // namespace quorvel
