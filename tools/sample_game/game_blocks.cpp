#include "tools/sample_game/game_blocks.hpp"

#include <algorithm>
#include <memory>
#include <optional>

#include "testing/prng.hpp"
#include "tools/sample_game/chance_riff_guard.hpp"

namespace quorvel::sample {
namespace {

using testing::SplitMix64;

// Each sound, then its stray bytes, made a chunk at a time; one guard sees
// every byte of the block, so that no "RIFF" forms across the pieces either.
class RiffBlockSource final : public testing::ByteSource {
public:
    explicit RiffBlockSource(const RiffBlock& block) : block_(block) {}

    std::size_t Read(std::span<std::byte> out) override
    {
        std::size_t done = 0;
        while (done < out.size()) {
            if (at_ == chunk_.size()) {
                chunk_.clear();
                at_ = 0;
                if (!NextChunk(chunk_)) {
                    break;
                }
                continue;
            }
            const std::size_t count = std::min(out.size() - done, chunk_.size() - at_);
            std::copy_n(chunk_.begin() + static_cast<std::ptrdiff_t>(at_), count, out.begin() + done);
            at_ += count;
            done += count;
        }
        return done;
    }

private:
    // Appends the next chunk to `chunk`; false at the end.
    bool NextChunk(std::vector<std::byte>& chunk)
    {
        for (;;) {
            if (sound_ && sound_->Next(chunk)) {
                return true;
            }
            if (sound_) {
                sound_.reset();
                if (const std::uint32_t stray = block_.sounds[next_ - 1].stray_after; stray > 0) {
                    chunk.resize(stray);
                    SplitMix64::Bytes(block_.seed, stray_offset_, chunk);
                    stray_offset_ += (stray + 7) / 8 * 8;  // each run starts with a number of its own
                    std::for_each(chunk.begin(), chunk.end(), [this](std::byte& value) { guard_.Scrub(value); });
                    return true;
                }
            }
            if (next_ == block_.sounds.size()) {
                return false;
            }
            sound_.emplace(block_.sounds[next_++].sound, guard_);
        }
    }

    const RiffBlock& block_;
    std::vector<std::byte> chunk_;
    std::size_t at_ = 0;              // in chunk_
    std::uint64_t stray_offset_ = 0;  // in the stream of the block's seed
    ChanceRiffGuard guard_;
    std::optional<SoundChunks> sound_;
    std::size_t next_ = 0;
};

}  // namespace

std::uint64_t PayloadSize(const RiffBlock& block)
{
    std::uint64_t size = 0;
    for (const SoundEntry& entry : block.sounds) {
        size += SoundFileSize(entry.sound) + entry.stray_after;
    }
    return size;
}

std::uint64_t PayloadSize(const DataBlock& block)
{
    return block.payload.size();
}

std::uint64_t PayloadSize(const FillerBlock& block)
{
    return block.payload_size;
}

namespace {

class RiffBlockMaker final : public testing::PartMaker {
public:
    explicit RiffBlockMaker(RiffBlock block) : block_(std::move(block)) {}

    std::uint64_t Size() const override { return PayloadSize(block_); }
    std::unique_ptr<testing::ByteSource> Open(const testing::Placement& /*at*/) const override
    {
        return std::make_unique<RiffBlockSource>(block_);
    }

private:
    RiffBlock block_;
};

testing::Part PartOf(const RiffBlock& block)
{
    return testing::Part(std::make_shared<RiffBlockMaker>(block));
}

testing::Part PartOf(const DataBlock& block)
{
    return testing::Part(std::span(block.payload));
}

// The signature (cut to the payload), then the stream of the block's seed.
testing::Part PartOf(const FillerBlock& block)
{
    const std::uint64_t head = std::min<std::uint64_t>(block.signature.size(), block.payload_size);
    return testing::Generated(block.payload_size,
                              [block, head](const testing::Placement&, std::uint64_t offset, std::span<std::byte> out) {
                                  std::size_t i = 0;
                                  for (; i < out.size() && offset + i < head; ++i) {
                                      out[i] = block.signature[offset + i];
                                  }
                                  SplitMix64::Bytes(block.seed, offset + i - head, out.subspan(i));
                              });
}

}  // namespace

std::array<std::byte, 4> Signature(std::string_view four_characters)
{
    std::array<std::byte, 4> signature{};
    testing::PutAscii(signature, four_characters);
    return signature;
}

FillerBlock Filler(std::string_view signature, std::uint64_t payload_size, SplitMix64& random)
{
    return {.signature = Signature(signature),
            .payload_size = static_cast<std::uint32_t>(payload_size),
            .seed = random.Fork()};
}

DataBlock TextBlock(std::string_view text)
{
    DataBlock block;
    block.payload.resize(text.size());
    testing::PutAscii(block.payload, text);
    return block;
}

std::uint64_t PayloadSize(const Block& block)
{
    return std::visit([](const auto& kind) { return PayloadSize(kind); }, block);
}

testing::Part PayloadPart(const Block& block)
{
    return std::visit([](const auto& kind) { return PartOf(kind); }, block);
}

testing::Archive GameArchive(std::span<const Block> blocks)
{
    testing::Archive archive;
    for (const Block& block : blocks) {
        archive.Block(PayloadPart(block));
    }
    return archive.Final();
}

}  // namespace quorvel::sample
