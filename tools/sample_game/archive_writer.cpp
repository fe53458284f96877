#include "tools/sample_game/archive_writer.hpp"

#include <algorithm>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>

#include "tools/sample_game/byte_order.hpp"
#include "tools/sample_game/chance_riff_guard.hpp"
#include "tools/sample_game/prng.hpp"

namespace quorvel::sample {
namespace {

constexpr std::size_t kFillerChunk = 64 * 1024;
constexpr std::uint64_t kLengthFieldSize = 4;

// Makes the stream throw on failure for as long as it lives.
class ThrowOnFailure {
public:
    explicit ThrowOnFailure(std::ostream& out) : out_(out), old_(out.exceptions())
    {
        out_.exceptions(std::ios::failbit | std::ios::badbit);
    }
    ~ThrowOnFailure() { out_.exceptions(old_); }
    ThrowOnFailure(const ThrowOnFailure&) = delete;
    ThrowOnFailure& operator=(const ThrowOnFailure&) = delete;

private:
    std::ostream& out_;
    std::ios::iostate old_;
};

void WriteBytes(std::ostream& out, std::span<const std::byte> bytes)
{
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteInt32(std::ostream& out, std::uint32_t value)
{
    std::array<std::byte, 4> field{};
    PutLittleEndian(field, value);
    WriteBytes(out, field);
}

void FillRandom(std::span<std::byte> bytes, SplitMix64& random)
{
    for (std::size_t at = 0; at < bytes.size(); at += 8) {
        std::array<std::byte, 8> word{};
        const std::uint64_t value = random.Next();
        PutLittleEndian(std::span(word).first(4), static_cast<std::uint32_t>(value));
        PutLittleEndian(std::span(word).last(4), static_cast<std::uint32_t>(value >> 32));
        std::copy_n(word.begin(), std::min<std::size_t>(8, bytes.size() - at), bytes.begin() + at);
    }
}

void WriteStrayBytes(std::ostream& out, std::uint32_t count, SplitMix64& random, ChanceRiffGuard& guard)
{
    std::vector<std::byte> bytes(count);
    FillRandom(bytes, random);
    for (std::byte& value : bytes) {
        guard.Scrub(value);
    }
    WriteBytes(out, bytes);
}

void WritePayloadOf(std::ostream& out, const RiffBlock& block)
{
    WriteRiffPieces(block, [&out](std::size_t, RiffPiece) -> std::ostream& { return out; });
}

void WritePayloadOf(std::ostream& out, const DataBlock& block)
{
    WriteBytes(out, block.payload);
}

void WritePayloadOf(std::ostream& out, const FillerBlock& block)
{
    const std::size_t signature_size = std::min<std::size_t>(block.signature.size(), block.payload_size);
    WriteBytes(out, std::span(block.signature).first(signature_size));
    SplitMix64 random(block.seed);
    std::vector<std::byte> chunk(kFillerChunk);
    for (std::uint64_t left = block.payload_size - signature_size; left > 0;) {
        const auto bytes =
            std::span(chunk).first(static_cast<std::size_t>(std::min<std::uint64_t>(left, kFillerChunk)));
        FillRandom(bytes, random);
        WriteBytes(out, bytes);
        left -= bytes.size();
    }
}

std::uint64_t PayloadSizeOf(const RiffBlock& block)
{
    std::uint64_t size = 0;
    for (const SoundEntry& entry : block.sounds) {
        size += SoundFileSize(entry.sound) + entry.stray_after;
    }
    return size;
}

std::uint64_t PayloadSizeOf(const DataBlock& block)
{
    return block.payload.size();
}

std::uint64_t PayloadSizeOf(const FillerBlock& block)
{
    return block.payload_size;
}

std::uint32_t BlockLength(const Block& block)
{
    const std::uint64_t length = kLengthFieldSize + PayloadSize(block);
    if (length > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw std::length_error("block of " + std::to_string(length) + " bytes is too long for its 32-bit length");
    }
    return static_cast<std::uint32_t>(length);
}

}  // namespace

std::array<std::byte, 4> Signature(std::string_view four_characters)
{
    std::array<std::byte, 4> signature{};
    PutAscii(signature, four_characters);
    return signature;
}

DataBlock TextBlock(std::string_view text)
{
    DataBlock block;
    block.payload.resize(text.size());
    PutAscii(block.payload, text);
    return block;
}

std::uint64_t PayloadSize(const Block& block)
{
    return std::visit([](const auto& kind) { return PayloadSizeOf(kind); }, block);
}

void WritePayload(std::ostream& out, const Block& block)
{
    std::visit([&out](const auto& kind) { WritePayloadOf(out, kind); }, block);
}

void WriteRiffPieces(const RiffBlock& block, const RiffPieceStream& stream_for)
{
    SplitMix64 random(block.seed);
    ChanceRiffGuard guard;
    for (std::size_t i = 0; i < block.sounds.size(); ++i) {
        const SoundEntry& entry = block.sounds[i];
        WriteSound(stream_for(i, RiffPiece::kSound), entry.sound, guard);
        if (entry.stray_after > 0) {
            WriteStrayBytes(stream_for(i, RiffPiece::kStrayBytes), entry.stray_after, random, guard);
        }
    }
}

ArchiveSummary WriteArchive(std::ostream& out, std::span<const Block> blocks)
{
    std::vector<std::uint32_t> lengths;
    lengths.reserve(blocks.size());
    for (const Block& block : blocks) {
        lengths.push_back(BlockLength(block));
    }
    const ThrowOnFailure throw_on_failure(out);
    ArchiveSummary summary;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        WriteInt32(out, lengths[i]);
        WritePayload(out, blocks[i]);
        summary.bytes += lengths[i];
        ++summary.blocks;
    }
    WriteInt32(out, 0);
    summary.bytes += kLengthFieldSize;
    return summary;
}

}  // namespace quorvel::sample
