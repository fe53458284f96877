#pragma once

#include <map>
#include <string>
#include <sys/stat.h>
#include <utility>

#include "extract/file_system.hpp"

namespace quorvel {

// Files on Linux and macOS. Every file inside an output folder is made,
// exchanged and removed relative to the folder, opened once (the folder
// may be a link the user made); never through a link in a file's place or
// into anything but a regular file. One object serves one run: the folders
// it opened and the replacement folders it made go with it.
class PosixFileSystem final : public FileSystem {
public:
    static constexpr const char* kReplacementFolder = quorvel::kReplacementFolder;

    PosixFileSystem() = default;
    ~PosixFileSystem() override;
    PosixFileSystem(const PosixFileSystem&) = delete;
    PosixFileSystem& operator=(const PosixFileSystem&) = delete;

    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override;
    std::unique_ptr<InputFile> OpenRegularFile(const std::string& path) override;
    std::optional<Failure> MakeFolder(const std::string& path) override;
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) override;
    std::string Join(const std::string& folder, const std::string& file) const override;

private:
    struct OpenFolder {
        int fd = -1;
        int replacing = -2;  // its replacement folder: -2 not yet asked for, -1 none can be made
    };
    // `folder`, opened the first time a file is made in it; throws naming
    // `path` (the file asked for) when it cannot be.
    OpenFolder& FolderOf(const std::string& folder, const std::string& path);
    // The careful path for a name that is taken (`status`, not following
    // links): a file of an earlier run, or something planted in its place.
    std::unique_ptr<OutputFile> ReplaceOutput(OpenFolder& folder, const std::string& name, const std::string& path,
                                              const struct stat& status);
    // The open replacement folder of `folder`, or -1 where none can be made.
    int ReplacementFolder(OpenFolder& folder);

    std::map<std::string, OpenFolder> folders_;
    bool last_name_was_taken_ = false;
};

// A path's folder ("." for a bare name, "/" for a name in the root) and name.
std::pair<std::string, std::string> SplitPath(const std::string& path);

// An output for a new file already open on `fd`, which it closes; Abandon
// removes `path`.
std::unique_ptr<OutputFile> AdoptOutput(int fd, std::string path);

}  // namespace quorvel
