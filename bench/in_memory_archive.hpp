#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel::bench {

using Bytes = std::vector<std::byte>;

// Serves one archive from memory and throws every output away, counting it:
// what is left to measure is the core's own cost, without the disk's.
class DiscardingFileSystem final : public FileSystem {
public:
    explicit DiscardingFileSystem(const Bytes& archive) : archive_(archive) {}

    std::uint64_t FilesCreated() const { return files_created_; }
    std::uint64_t BytesWritten() const { return bytes_written_; }

    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override;
    std::optional<Failure> MakeFolder(const std::string& path) override;
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override;
    void RemoveOutput(const std::string& path) noexcept override;
    std::string Join(const std::string& folder, const std::string& file) const override;

private:
    friend class DiscardedOutput;

    const Bytes& archive_;
    std::uint64_t files_created_ = 0;
    std::uint64_t bytes_written_ = 0;
};

// Archive builders: blocks are appended in the archive's own layout (a
// 4-byte little-endian length counting itself, then the payload).
void AppendBlock(Bytes& archive, const Bytes& payload);
void AppendFinalField(Bytes& archive);
// A WAVE sound of `length` bytes (>= 44) whose samples never spell "RIFF".
Bytes MakeSound(std::size_t length, std::uint32_t seed);

}  // namespace quorvel::bench
