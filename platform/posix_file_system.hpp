#pragma once

#include "extract/file_system.hpp"

namespace quorvel {

// Files on Linux and macOS. Output files are never written through a link
// or into anything but a regular file.
class PosixFileSystem final : public FileSystem {
public:
    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override;
    void MakeFolder(const std::string& path) noexcept override;
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override;
    void RemoveOutput(const std::string& path) noexcept override;
    std::string Join(const std::string& folder, const std::string& file) const override;
};

}  // namespace quorvel
