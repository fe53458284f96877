#include "bench/in_memory_archive.hpp"

#include <algorithm>
#include <cstring>

namespace quorvel::bench {
namespace {

class MemoryInput final : public InputFile {
public:
    explicit MemoryInput(const Bytes& bytes) : bytes_(bytes) {}

    std::uint64_t Size() override { return bytes_.size(); }

    std::size_t Read(std::span<std::byte> buffer) override
    {
        const std::size_t count = std::min(buffer.size(), bytes_.size() - position_);
        std::memcpy(buffer.data(), bytes_.data() + position_, count);
        position_ += count;
        return count;
    }

private:
    const Bytes& bytes_;
    std::size_t position_ = 0;
};

void AppendUint32(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<std::byte>(value >> shift));
    }
}

void AppendText(Bytes& bytes, const char (&text)[5])
{
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<std::byte>(text[i]));
    }
}

}  // namespace

class DiscardedOutput final : public OutputFile {
public:
    explicit DiscardedOutput(DiscardingFileSystem& files) : files_(files) {}
    void Write(std::span<const std::byte> bytes) override { files_.bytes_written_ += bytes.size(); }
    void Close() override {}

private:
    DiscardingFileSystem& files_;
};

std::unique_ptr<InputFile> DiscardingFileSystem::OpenArchive(const std::string& /*path*/)
{
    return std::make_unique<MemoryInput>(archive_);
}

std::optional<Failure> DiscardingFileSystem::MakeFolder(const std::string& /*path*/)
{
    return std::nullopt;
}

std::unique_ptr<OutputFile> DiscardingFileSystem::CreateOutput(const std::string& /*path*/)
{
    ++files_created_;
    return std::make_unique<DiscardedOutput>(*this);
}

void DiscardingFileSystem::RemoveOutput(const std::string& /*path*/) noexcept {}

std::string DiscardingFileSystem::Join(const std::string& folder, const std::string& file) const
{
    return folder + "/" + file;
}

void AppendBlock(Bytes& archive, const Bytes& payload)
{
    AppendUint32(archive, static_cast<std::uint32_t>(payload.size() + 4));
    archive.insert(archive.end(), payload.begin(), payload.end());
}

void AppendFinalField(Bytes& archive)
{
    AppendUint32(archive, 0);
}

Bytes MakeSound(std::size_t length, std::uint32_t seed)
{
    Bytes sound;
    sound.reserve(length);
    AppendText(sound, "RIFF");
    AppendUint32(sound, static_cast<std::uint32_t>(length - 8));
    AppendText(sound, "WAVE");
    // Noise from a xorshift generator with 'R' (0x52) mapped away, so that
    // the samples never hold a "RIFF" to confuse the count of outputs.
    std::uint32_t state = seed | 1U;
    while (sound.size() < length) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const auto byte = static_cast<std::uint8_t>(state >> 24);
        sound.push_back(static_cast<std::byte>(byte == 'R' ? 0 : byte));
    }
    return sound;
}

}  // namespace quorvel::bench
