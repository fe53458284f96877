#pragma once

#include "extract/file_system.hpp"
#include "terminal/standard_output.hpp"

namespace quorvel {

// -O: the archives of `files`, and every file the run writes sent to
// standard output, one after the other; nothing is written to disk. What
// went out cannot be taken back: a run that stops mid-file leaves it cut.
class StdoutFileSystem final : public ForwardingFileSystem {
public:
    StdoutFileSystem(FileSystem& files, StandardOutput& output) : ForwardingFileSystem(files), output_(output) {}

    std::optional<Failure> MakeFolder(const std::string& /*path*/) override { return std::nullopt; }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) override;

private:
    StandardOutput& output_;
};

}  // namespace quorvel
