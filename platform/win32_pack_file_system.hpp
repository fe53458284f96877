#pragma once

#include "pack/pack_file_system.hpp"

namespace quorvel {

// Replacing archives on Windows: FlushFileBuffers before the move,
// MoveFileExW with write-through over the archive, a hard link (or a copy
// where the volume has none) for the backup.
class Win32PackFileSystem final : public PackFileSystem {
public:
    std::vector<std::string> ListFolder(const std::string& folder) override;
    Found LookAt(const std::string& path) override;
    bool IsFolder(const std::string& path) override;
    Temporary MakeTemporaryBeside(const std::string& path) override;
    void FlushToDisk(const std::string& path) override;
    bool MakeBackup(const std::string& path, const std::string& backup) override;
    void ReplaceWith(const std::string& temporary, const std::string& path) override;
    void RemoveTemporary(const std::string& path) noexcept override;
};

}  // namespace quorvel
