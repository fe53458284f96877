#pragma once

// Bytes a conversion keeps between its passes (the fitted samples, the
// encoded sound): in memory up to a limit, then in a temporary file of the
// system's that is removed when the store goes, whatever ends the run. So
// memory stays bounded whatever the length of a sound, and the common short
// sound never touches the disk. Read back as an InputFile, so libsndfile can
// decode what was encoded.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel::audio {

class TemporaryStore final : public InputFile {
public:
    static constexpr std::size_t kDefaultMemoryLimit = std::size_t{4} << 20;

    explicit TemporaryStore(std::size_t memory_limit = kDefaultMemoryLimit);
    TemporaryStore(TemporaryStore&&) noexcept;
    TemporaryStore& operator=(TemporaryStore&&) noexcept;
    ~TemporaryStore() override;

    std::uint64_t Size() override { return size_; }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override;

    // Writes `bytes` at `offset`, growing the store (with zeros in any gap).
    // Throws SoundError when the temporary file cannot take them.
    void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes);
    void Append(std::span<const std::byte> bytes) { WriteAt(size_, bytes); }
    // Empties the store for the next pass; a temporary file is kept for it.
    void Clear();
    bool InMemory() const { return file_ == nullptr; }

    class File;  // the temporary file, per platform

private:
    void MoveToFile();

    std::size_t memory_limit_;
    std::uint64_t size_ = 0;
    std::vector<std::byte> memory_;
    std::unique_ptr<File> file_;
};

}  // namespace quorvel::audio
