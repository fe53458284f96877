#pragma once

#include "pack/pack_file_system.hpp"

namespace quorvel {

// Replacing archives on Linux and macOS: a temporary file made with O_EXCL
// beside the archive, fsync before the rename and of the folder after it.
class PosixPackFileSystem final : public PackFileSystem {
public:
    std::vector<std::string> ListFolder(const std::string& folder) override;
    Found LookAt(const std::string& path) override;
    bool IsFolder(const std::string& path) override;
    Temporary MakeTemporaryBeside(const std::string& path) override;
    void StartFlush(const std::string& path, std::uint64_t offset, std::uint64_t length) override;
    void FlushToDisk(const std::string& path) override;
    bool MakeBackup(const std::string& path, const std::string& backup) override;
    void ReplaceWith(const std::string& temporary, const std::string& path) override;
    void RemoveTemporary(const std::string& path) noexcept override;
};

}  // namespace quorvel
