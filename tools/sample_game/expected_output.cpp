#include "tools/sample_game/expected_output.hpp"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <variant>

namespace quorvel::sample {
namespace {

constexpr std::size_t kSignatureSize = 4;
constexpr std::string_view kRiff = "RIFF";
constexpr std::string_view kAvqf = "AVQF";
constexpr std::string_view kNoExtension = "";

std::string AsText(std::span<const std::byte> bytes)
{
    std::string text(bytes.size(), '\0');
    std::transform(bytes.begin(), bytes.end(), text.begin(), [](std::byte value) { return static_cast<char>(value); });
    return text;
}

// The first bytes of a block's payload, up to 4, known from its description.
std::string LeadingBytes(const RiffBlock& block)
{
    return block.sounds.empty() ? std::string() : std::string(kRiff);
}

std::string LeadingBytes(const DataBlock& block)
{
    return AsText(std::span(block.payload).first(std::min(kSignatureSize, block.payload.size())));
}

std::string LeadingBytes(const FillerBlock& block)
{
    return AsText(std::span(block.signature).first(std::min<std::size_t>(kSignatureSize, block.payload_size)));
}

std::string LeadingBytes(const Block& block)
{
    return std::visit([](const auto& kind) { return LeadingBytes(kind); }, block);
}

bool IsUsedUpNumber(const Block& block)
{
    return PayloadSize(block) == kSignatureSize && LeadingBytes(block) == kRiff;
}

// A data or filler block that starts with "RIFF" and goes on is carved by
// the extractor by what its bytes happen to be: no description says that.
bool IsUnstated(const Block& block)
{
    return !std::holds_alternative<RiffBlock>(block) && PayloadSize(block) > kSignatureSize &&
           LeadingBytes(block) == kRiff;
}

void RefuseUnstatedBlocks(std::span<const Block> blocks)
{
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (IsUnstated(blocks[i])) {
            throw std::domain_error("block " + std::to_string(i + 1) +
                                    " starts with \"RIFF\" but is no RIFF block: its extraction depends on its bytes");
        }
    }
}

std::string_view ExtensionOf(const Block& block)
{
    return LeadingBytes(block) == kAvqf ? kAvqfExtension : kNoExtension;
}

// Each sound, then its stray bytes if any, each taking the next number from
// `number` (the block's own). Returns the last number used.
std::uint64_t WriteSoundEntries(const RiffBlock& block, std::uint64_t number, ExpectedEntrySink& sink,
                                ExpectedSummary& summary)
{
    bool first = true;
    WriteRiffPieces(block, [&](std::size_t index, RiffPiece piece) -> std::ostream& {
        const SoundEntry& entry = block.sounds[index];
        number += first ? 0 : 1;
        first = false;
        ++summary.files;
        if (piece == RiffPiece::kSound) {
            summary.bytes += SoundFileSize(entry.sound);
            return sink.Open(number, kWavExtension);
        }
        summary.bytes += entry.stray_after;
        return sink.Open(number, kNoExtension);
    });
    return number;
}

class FolderSink : public ExpectedEntrySink {
public:
    FolderSink(const std::filesystem::path& parent, std::string_view name) : folder_(parent / name), name_(name)
    {
        std::filesystem::create_directories(folder_);
        out_.exceptions(std::ios::failbit | std::ios::badbit);
    }

    std::ostream& Open(std::uint64_t number, std::string_view extension) override
    {
        Finish();
        path_ = folder_ / ExpectedFileName(name_, number, extension);
        out_.open(path_, std::ios::binary | std::ios::trunc);
        return out_;
    }

    void Finish()
    {
        if (out_.is_open()) {
            out_.close();
        }
    }

    const std::filesystem::path& CurrentPath() const { return path_; }

private:
    std::filesystem::path folder_;
    std::string name_;
    std::filesystem::path path_;
    std::ofstream out_;
};

ExpectedSummary WriteExpectedArchive(const std::filesystem::path& folder, std::string_view name,
                                     std::span<const Block> blocks)
{
    FolderSink sink(folder, name);
    try {
        const ExpectedSummary summary = WriteExpectedEntries(blocks, sink);
        sink.Finish();
        return summary;
    } catch (const std::ios_base::failure&) {
        throw std::runtime_error("cannot write " + sink.CurrentPath().string());
    }
}

}  // namespace

std::string ExpectedFileName(std::string_view archive_name, std::uint64_t number, std::string_view extension)
{
    constexpr std::size_t kMinDigits = 4;
    std::string digits = std::to_string(number);
    digits.insert(0, kMinDigits - std::min(kMinDigits, digits.size()), '0');
    return std::string(archive_name) + "_" + digits + std::string(extension);
}

ExpectedSummary WriteExpectedEntries(std::span<const Block> blocks, ExpectedEntrySink& sink)
{
    RefuseUnstatedBlocks(blocks);
    ExpectedSummary summary;
    std::uint64_t number = 0;
    for (const Block& block : blocks) {
        ++number;
        const auto* riff = std::get_if<RiffBlock>(&block);
        if (riff != nullptr && !riff->sounds.empty()) {
            number = WriteSoundEntries(*riff, number, sink, summary);
        } else if (!IsUsedUpNumber(block)) {
            WritePayload(sink.Open(number, ExtensionOf(block)), block);
            ++summary.files;
            summary.bytes += PayloadSize(block);
        }
    }
    summary.last_number = number;
    return summary;
}

ExpectedGameSummary WriteExpectedGame(const std::filesystem::path& folder, const GameContent& game)
{
    // Both are checked first so that a refusal leaves no half-written folder.
    RefuseUnstatedBlocks(game.sfx);
    RefuseUnstatedBlocks(game.speech);
    return {.sfx = WriteExpectedArchive(folder, "sfx", game.sfx),
            .speech = WriteExpectedArchive(folder, "speech", game.speech)};
}

}  // namespace quorvel::sample
