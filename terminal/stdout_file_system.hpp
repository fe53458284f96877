#pragma once

#include "extract/file_system.hpp"
#include "terminal/standard_output.hpp"

namespace quorvel {

// -O: the archives of `files`, and every file the run writes sent to
// standard output, one after the other; nothing is written to disk. What
// went out cannot be taken back: a run that stops mid-file leaves it cut.
class StdoutFileSystem final : public FileSystem {
public:
    StdoutFileSystem(FileSystem& files, StandardOutput& output) : files_(files), output_(output) {}

    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override { return files_.OpenArchive(path); }
    std::optional<Failure> MakeFolder(const std::string& /*path*/) override { return std::nullopt; }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) override;
    std::string Join(const std::string& folder, const std::string& file) const override
    {
        return files_.Join(folder, file);
    }

private:
    FileSystem& files_;
    StandardOutput& output_;
};

}  // namespace quorvel
