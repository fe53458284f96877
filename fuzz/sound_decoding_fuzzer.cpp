// Fuzzes decoding a stored sound the way the studio and the export do: the
// input (after its parameters) is the sound's bytes. It is opened as a
// stored sound, read to its end, sought and read again, served as a
// decoded WAV (read in pieces and at a range) and drawn as a waveform. A
// sound may be refused (SoundError); anything else that escapes, a crash,
// a hang, runaway memory or a broken promise is a finding.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/decoded_wav.hpp"
#include "audio/memory_input.hpp"
#include "audio/sound_peaks.hpp"
#include "audio/stored_sound.hpp"
#include "fuzz/fuzz_support.hpp"

namespace {

using namespace quorvel;

// What the input's parameter bytes choose.
struct Reads {
    std::size_t piece = 0;   // the size of each read, in frames and in bytes
    std::uint32_t seek = 0;  // where to seek, as a share of the frames (of 2^32)
    std::uint32_t buckets = 0;
};

Reads TakeReads(fuzz::InputCursor& input)
{
    const std::size_t piece = 1 + std::size_t{input.Take<std::uint16_t>()} % 20000;
    const auto seek = input.Take<std::uint32_t>();
    const std::uint32_t buckets = 1 + std::uint32_t{input.Take<std::uint16_t>()} % audio::kMostBuckets;
    return Reads{.piece = piece, .seek = seek, .buckets = buckets};
}

std::int64_t FramesRead(audio::SoundDecoder& sound, std::size_t piece)
{
    std::vector<float> samples(piece * static_cast<std::size_t>(sound.channels()));
    std::int64_t frames = 0;
    while (const std::size_t got = sound.Read(samples)) {
        fuzz::Expect(got <= piece, "the decoder gave more frames than fit");
        frames += static_cast<std::int64_t>(got);
    }
    return frames;
}

void DecodeAndSeek(audio::MemoryInput& input, const Reads& reads)
{
    audio::SoundDecoder sound = audio::OpenSound(input, "fuzz.wav");
    fuzz::Expect(sound.channels() >= 1 && sound.channels() <= static_cast<int>(audio::kMostChannels),
                 "a sound was opened with " + std::to_string(sound.channels()) + " channels");
    const std::int64_t frames = sound.frames();
    fuzz::Expect(FramesRead(sound, reads.piece) == frames, "reading to the end gave another number of frames");
    const auto target = static_cast<std::int64_t>((static_cast<std::uint64_t>(frames) * reads.seek) >> 32);
    sound.Seek(target);
    fuzz::Expect(FramesRead(sound, reads.piece) == frames - target, "reading after a seek gave other frames");
}

void ServeAsWav(audio::MemoryInput& input, const Reads& reads)
{
    const auto wav = audio::DecodedWav::Open(input, "fuzz.wav");
    const std::uint64_t size = wav->Size();
    fuzz::Expect(size == wav->data_offset() + static_cast<std::uint64_t>(wav->frames()) *
                                                  static_cast<std::uint64_t>(wav->channels()) *
                                                  static_cast<std::uint64_t>(wav->bits_per_sample() / 8),
                 "the decoded WAV's size is not its header and samples");
    std::vector<std::byte> whole(static_cast<std::size_t>(size));
    for (std::size_t at = 0; at < whole.size();) {
        const std::size_t piece = std::min(reads.piece, whole.size() - at);
        const std::size_t got = wav->ReadAt(at, std::span(whole).subspan(at, piece));
        fuzz::Expect(got == piece, "the decoded WAV ended before its size");
        at += got;
    }
    const std::uint64_t offset = (size * reads.seek) >> 32;
    std::vector<std::byte> range(reads.piece);
    const std::size_t got = wav->ReadAt(offset, range);
    fuzz::Expect(got == std::min<std::uint64_t>(range.size(), size - offset), "a range read short");
    fuzz::Expect(std::equal(range.begin(), range.begin() + static_cast<std::ptrdiff_t>(got),
                            whole.begin() + static_cast<std::ptrdiff_t>(offset)),
                 "a range of the decoded WAV differs from the same bytes read in order");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::InputCursor input(data, size);
    const Reads reads = TakeReads(input);
    const auto rest = input.Rest();
    audio::MemoryInput sound(std::vector<std::byte>(rest.begin(), rest.end()));
    try {
        DecodeAndSeek(sound, reads);
        ServeAsWav(sound, reads);
        const audio::Peaks peaks = audio::ComputePeaks(sound, "fuzz.wav", reads.buckets);
        fuzz::Expect(peaks.min.size() == std::size_t{peaks.channels} * reads.buckets, "peaks of another shape");
    } catch (const audio::SoundError&) {
        // A sound refused is a sound told about.
    }
    return 0;
}
