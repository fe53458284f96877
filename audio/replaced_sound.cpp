#include "audio/replaced_sound.hpp"

#include "audio/read_ahead_input.hpp"
#include "audio/wav_markers.hpp"

namespace quorvel::audio {
namespace {

using Bytes = std::vector<std::byte>;

constexpr std::size_t kPieceFrames = 4096;
// The chunks around the data are held in memory while the sound is made.
constexpr std::uint64_t kMaxCarriedBytes = std::uint64_t{4} << 20;

std::vector<Bytes> ReadCarriedChunks(InputFile& file, const std::string& name, const WavLayout& layout)
{
    std::vector<Bytes> payloads(layout.chunks.size());
    std::uint64_t carried = 0;
    for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
        if (i == layout.data_chunk) {
            continue;
        }
        carried += layout.chunks[i].size;
        if (carried > kMaxCarriedBytes) {
            throw SoundError(ChunkWhere(name, layout.chunks[i]) + " takes the chunks around its data past " +
                             std::to_string(kMaxCarriedBytes) + " bytes, more than a header holds");
        }
        payloads[i] = ReadChunkPayload(file, layout.chunks[i], name);
    }
    // Loop and cue points that lie about their count are refused now,
    // before any work is done.
    std::vector<DroppedMarker> none;
    for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
        if (layout.chunks[i].Is("smpl")) {
            FitSamplerChunk(payloads[i], {}, none, ChunkWhere(name, layout.chunks[i]));
        } else if (layout.chunks[i].Is("cue ")) {
            FitCueChunk(payloads[i], {}, none, ChunkWhere(name, layout.chunks[i]));
        }
    }
    return payloads;
}

}  // namespace

MeasuredSound MeasureSound(SoundDecoder& sound, int meter_rate)
{
    LoudnessMeter meter(sound.channels(), meter_rate, PeakMeasure::kTrue);
    std::vector<float> piece(kPieceFrames * static_cast<std::size_t>(sound.channels()));
    MeasuredSound measured;
    while (const std::size_t got = sound.Read(std::span(piece))) {
        meter.Add(std::span(piece).first(got * static_cast<std::size_t>(sound.channels())));
        measured.frames += static_cast<std::int64_t>(got);
    }
    measured.loudness = meter.Result();
    return measured;
}

SoundDecoder OpenHeldToItsLength(InputFile& file, const std::string& name, const std::optional<WavLayout>& layout)
{
    SoundDecoder sound = SoundDecoder::Open(file, name);
    if (layout) {
        if (const auto frames = layout->Frames()) {
            sound.LimitFrames(*frames);
        }
    }
    return sound;
}

std::string ChunkWhere(const std::string& name, const WavChunk& chunk)
{
    return name + ": the " + chunk.Name() + " chunk at offset " + std::to_string(chunk.offset - 8);
}

ReplacedSound ReadReplacedSound(InputFile& file, const std::string& name)
{
    ReplacedSound archived;
    archived.name = name;
    archived.layout = ReadWavLayout(file, name);
    archived.target = ChooseTarget(archived.layout.fmt, name);
    archived.payloads = ReadCarriedChunks(file, name, archived.layout);
    ReadAheadInput bytes(file);
    SoundDecoder sound = OpenHeldToItsLength(bytes, name, archived.layout);
    const int rate = static_cast<int>(archived.layout.fmt.sample_rate);
    const MeasuredSound measured = MeasureSound(sound, rate);
    archived.summary = {.format = archived.target.name,
                        .encoding = archived.target.id,
                        .channels = archived.layout.fmt.channels,
                        .sample_rate = rate,
                        .frames = measured.frames,
                        .loudness = measured.loudness};
    return archived;
}

}  // namespace quorvel::audio
