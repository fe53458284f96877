#include "audio/replacement_header.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "audio/wav_markers.hpp"

namespace quorvel::audio {
namespace {

using Bytes = std::vector<std::byte>;

constexpr std::uint64_t kLargestRiff = std::numeric_limits<std::uint32_t>::max();

std::string Blocks(const WavFmt& fmt)
{
    std::string text = std::to_string(fmt.block_align) + " bytes";
    if (fmt.samples_per_block > 0) {
        text += " (" + std::to_string(fmt.samples_per_block) + " frames)";
    }
    return text;
}

void AppendChunk(Bytes& out, const WavChunk& chunk, std::span<const std::byte> payload, std::uint64_t size)
{
    const auto* id = reinterpret_cast<const std::byte*>(chunk.id.data());
    out.insert(out.end(), id, id + 4);
    const std::size_t at = out.size();
    out.resize(at + 4);
    StoreLe(out, at, 4, static_cast<std::uint32_t>(size));
    out.insert(out.end(), payload.begin(), payload.end());
    if (size % 2 == 1 && !payload.empty()) {
        out.push_back(std::byte{0});
    }
}

class HeaderMaker {
public:
    HeaderMaker(const ReplacedSound& archived, TemporaryStore& encoded, std::int64_t frames, ReplacementReport& report)
        : archived_(archived), encoded_(encoded), frames_(frames), report_(report)
    {
    }

    void Make(ReplacementBytes& state)
    {
        const WavLayout produced = ReadWavLayout(encoded_, report_.name);
        const Bytes fmt = FormatChunk(produced.fmt);
        Bytes* out = &state.head;
        const char riff[] = "RIFF\0\0\0\0WAVE";
        const auto* start = reinterpret_cast<const std::byte*>(riff);
        out->insert(out->end(), start, start + 12);
        for (std::size_t i = 0; i < archived_.layout.chunks.size(); ++i) {
            const WavChunk& chunk = archived_.layout.chunks[i];
            if (i == archived_.layout.data_chunk) {
                state.data_offset = produced.data().offset;
                state.data_size = produced.data().size;
                AppendChunk(*out, chunk, {}, state.data_size);
                out = &state.tail;
                if (state.data_size % 2 == 1) {
                    out->push_back(std::byte{0});
                }
            } else if (const auto payload = Payload(i, fmt, produced)) {
                AppendChunk(*out, chunk, *payload, payload->size());
            }
        }
        const std::uint64_t riff_size = state.head.size() + state.data_size + state.tail.size() - 8;
        if (riff_size > kLargestRiff) {
            throw SoundError(report_.name + ": fitted, it would take " + std::to_string(riff_size + 8) +
                             " bytes, more than a WAV can hold (4 GiB)");
        }
        StoreLe(state.head, 4, 4, static_cast<std::uint32_t>(riff_size));
        for (const DroppedMarker& marker : dropped_) {
            report_.notes.push_back(
                {marker.loop ? ReplacementNote::Kind::kLoopDropped : ReplacementNote::Kind::kCuePointDropped,
                 marker.Describe(frames_),
                 {{marker.loop ? "loop" : "cue_id", marker.number},
                  {"start", static_cast<double>(marker.start)},
                  {"end", static_cast<double>(marker.end)},
                  {"new_frames", static_cast<double>(frames_)}}});
        }
    }

private:
    // The archived sound's own "fmt " chunk wherever the encoder's data has
    // its layout; else the encoder's, with the archived sound's rate.
    Bytes FormatChunk(const WavFmt& produced)
    {
        const WavFmt& wanted = archived_.layout.fmt;
        if (produced.SameBlockLayout(wanted)) {
            return wanted.bytes;
        }
        Bytes fmt = produced.bytes;
        const std::uint64_t per_block = produced.samples_per_block > 0 ? produced.samples_per_block : 1;
        StoreLe(fmt, 4, 4, wanted.sample_rate);
        StoreLe(fmt, 8, 4,
                static_cast<std::uint32_t>(wanted.sample_rate * std::uint64_t{produced.block_align} / per_block));
        if (produced.samples_per_block > 0) {
            new_blocks_ = MarkerFit::Blocks{produced.block_align, produced.samples_per_block};
        }
        report_.notes.push_back({ReplacementNote::Kind::kBlockSizeNotMatched,
                                 "blocks of " + Blocks(wanted) +
                                     ", as the sound it replaces has, cannot be made: written in blocks of " +
                                     Blocks(produced),
                                 {{"block_align", wanted.block_align},
                                  {"samples_per_block", wanted.samples_per_block},
                                  {"written_block_align", produced.block_align},
                                  {"written_samples_per_block", produced.samples_per_block}}});
        return fmt;
    }

    std::optional<Bytes> Payload(std::size_t index, const Bytes& fmt, const WavLayout& produced)
    {
        const WavChunk& chunk = archived_.layout.chunks[index];
        const Bytes& old = archived_.payloads[index];
        const std::string where = ChunkWhere(archived_.name, chunk);
        const MarkerFit fit{.old_frames = archived_.summary.frames, .new_frames = frames_, .new_blocks = new_blocks_};
        if (chunk.Is("fmt ")) {
            return fmt;
        }
        if (chunk.Is("fact")) {
            Bytes fact = old;
            if (fact.size() >= 4) {
                StoreLe(fact, 0, 4, static_cast<std::uint32_t>(frames_));
            }
            return fact;
        }
        if (chunk.Is("smpl")) {
            return FitSamplerChunk(old, fit, dropped_, where);
        }
        if (chunk.Is("cue ")) {
            return FitCueChunk(old, fit, dropped_, where);
        }
        if (chunk.Is("PEAK")) {
            return PeakChunk(old, produced);
        }
        return old;
    }

    // A "PEAK" chunk states the peaks of float data: the encoder's, for the
    // new data, with the old chunk's time stamp so that the same input
    // gives the same bytes; none where the data is not float.
    std::optional<Bytes> PeakChunk(const Bytes& old, const WavLayout& produced)
    {
        for (const WavChunk& chunk : produced.chunks) {
            if (chunk.Is("PEAK")) {
                Bytes peak = ReadChunkPayload(encoded_, chunk, report_.name);
                if (peak.size() >= 8 && old.size() >= 8) {
                    std::copy(old.begin() + 4, old.begin() + 8, peak.begin() + 4);
                }
                return peak;
            }
        }
        return std::nullopt;
    }

    const ReplacedSound& archived_;
    TemporaryStore& encoded_;
    std::int64_t frames_;
    ReplacementReport& report_;
    std::optional<MarkerFit::Blocks> new_blocks_;
    std::vector<DroppedMarker> dropped_;
};

}  // namespace

ReplacementBytes MakeReplacementBytes(const ReplacedSound& replaced, TemporaryStore& encoded, std::int64_t frames,
                                      ReplacementReport& report)
{
    ReplacementBytes bytes;
    HeaderMaker(replaced, encoded, frames, report).Make(bytes);
    return bytes;
}

}  // namespace quorvel::audio
