#include "tools/sample_game/profiles.hpp"

#include <algorithm>
#include <array>
#include <fstream>
#include <stdexcept>
#include <string>

#include "testing/byte_order.hpp"
#include "testing/prng.hpp"
#include "tools/sample_game/bench_profiles.hpp"

namespace quorvel::sample {
namespace {

using testing::PutLittleEndian;
using testing::SplitMix64;

// The extractor reads a RIFF block in chunks of this size, counted from the
// byte after the block's signature.
constexpr std::uint64_t kExtractChunk = 65536;
constexpr std::uint64_t kSignatureSize = 4;
constexpr std::uint32_t kMaxStray = 50;

// Random draws are made one statement at a time: the order in which function
// arguments are evaluated differs between compilers, and the bytes must not.

std::uint32_t FramesFor(const WavFormat& format, std::uint32_t milliseconds)
{
    return static_cast<std::uint32_t>(std::uint64_t{format.sample_rate} * milliseconds / 1000);
}

SoundParams Tone(const WavFormat& format, std::uint32_t milliseconds, std::uint32_t hz)
{
    return {.format = format,
            .waveform = Waveform::kTone,
            .frames = FramesFor(format, milliseconds),
            .start_hz = hz,
            .end_hz = hz};
}

SoundParams Chirp(const WavFormat& format, std::uint32_t milliseconds, std::uint32_t from_hz, std::uint32_t to_hz)
{
    return {.format = format,
            .waveform = Waveform::kChirp,
            .frames = FramesFor(format, milliseconds),
            .start_hz = from_hz,
            .end_hz = to_hz};
}

SoundParams NoiseBurst(const WavFormat& format, std::uint32_t milliseconds, std::uint64_t seed)
{
    return {
        .format = format, .waveform = Waveform::kNoiseBurst, .frames = FramesFor(format, milliseconds), .seed = seed};
}

SoundParams SpokenLine(std::uint32_t milliseconds, std::uint32_t pitch_hz, std::uint64_t seed)
{
    return {.format = kMono16Bit22050,
            .waveform = Waveform::kSpeech,
            .frames = FramesFor(kMono16Bit22050, milliseconds),
            .start_hz = pitch_hz,
            .seed = seed};
}

SoundParams RandomSound(SplitMix64& random, std::uint32_t min_ms, std::uint32_t max_ms)
{
    const auto formats = SoundFormats();
    const WavFormat& format = formats[random.Between(0, formats.size() - 1)];
    const auto milliseconds = static_cast<std::uint32_t>(random.Between(min_ms, max_ms));
    const auto from_hz = static_cast<std::uint32_t>(random.Between(110, 1760));
    const auto to_hz = static_cast<std::uint32_t>(random.Between(110, 1760));
    switch (random.Between(0, 2)) {
        case 0:
            return Tone(format, milliseconds, from_hz);
        case 1:
            return Chirp(format, milliseconds, from_hz, to_hz);
        default:
            return NoiseBurst(format, milliseconds, random.Fork());
    }
}

std::uint32_t StrayCount(SplitMix64& random)
{
    return static_cast<std::uint32_t>(random.Between(1, kMaxStray));
}

// Stray bytes follow about a third of the sounds, the last one included.
RiffBlock RandomRiffBlock(SplitMix64& random, std::uint32_t min_ms, std::uint32_t max_ms)
{
    RiffBlock block{.seed = random.Fork()};
    const std::uint64_t count = random.Between(1, 4);
    for (std::uint64_t i = 0; i < count; ++i) {
        SoundEntry entry{.sound = RandomSound(random, min_ms, max_ms)};
        if (random.Between(0, 2) == 0) {
            entry.stray_after = StrayCount(random);
        }
        block.sounds.push_back(entry);
    }
    return block;
}

// Sizes `entry`, which starts at payload offset `start`, and the stray bytes
// after it (at least `min_stray`) so that the next sound starts exactly at
// payload offset `next_start`.
void FitBetween(SoundEntry& entry, std::uint64_t start, std::uint64_t next_start, std::uint32_t min_stray)
{
    entry.sound.frames = FramesForFileSize(entry.sound.format, next_start - start - min_stray);
    entry.stray_after = static_cast<std::uint32_t>(next_start - start - SoundFileSize(entry.sound));
}

// Over 200 KiB of sounds, the first one longer than a chunk, and a sound
// whose "RIFF" starts 1 to 3 bytes before the end of the second chunk, so
// that the extractor only sees all four of its bytes in the next chunk.
RiffBlock ChunkStraddlingBlock(SplitMix64& random)
{
    RiffBlock block{.seed = random.Fork()};
    block.sounds.push_back({.sound = Chirp(kStereo16Bit44100, 500, 220, 1760), .stray_after = StrayCount(random)});

    const std::uint64_t bytes_before_boundary = random.Between(1, 3);
    const std::uint64_t straddling_start = kSignatureSize + 2 * kExtractChunk - bytes_before_boundary;
    SoundEntry filler{.sound = Tone(kMono16Bit22050, 0, 330)};
    const auto min_stray = static_cast<std::uint32_t>(random.Between(1, kMaxStray - 8));
    FitBetween(filler, PayloadSize(block), straddling_start, min_stray);
    block.sounds.push_back(filler);

    block.sounds.push_back({.sound = NoiseBurst(kMono24Bit48000, 600, random.Fork())});
    block.sounds.push_back({.sound = Tone(kMono8Bit11025, 1000, 440), .stray_after = StrayCount(random)});
    return block;
}

// A long sound whose samples hold "RIFF" by chance, which the extractor must
// keep inside it, and a short sound after it.
RiffBlock ChanceRiffBlock(SplitMix64& random)
{
    SoundParams sound = Tone(kMono16Bit22050, 1500, 523);
    sound.chance_riff_at = random.Between(20000, 40000);
    RiffBlock block{.seed = random.Fork()};
    block.sounds.push_back({.sound = sound, .stray_after = StrayCount(random)});
    block.sounds.push_back({.sound = NoiseBurst(kMono8Bit11025, 250, random.Fork())});
    return block;
}

// Bytes with no meaning; a first byte above 0x7F keeps it from reading as
// "RIFF" or "AVQF".
FillerBlock RandomBytes(std::uint32_t payload_size, SplitMix64& random)
{
    FillerBlock block{.payload_size = payload_size, .seed = random.Fork()};
    PutLittleEndian(block.signature, static_cast<std::uint32_t>(random.Next()) | 0x80u);
    return block;
}

// Too short to hold a signature: a length of 6 and two payload bytes.
DataBlock Short(SplitMix64& random)
{
    DataBlock block{.payload = std::vector<std::byte>(2)};
    PutLittleEndian(block.payload, static_cast<std::uint32_t>(random.Next()));
    return block;
}

// One of each kind of block that is not a plain run of sounds.
void AddOddBlocks(std::vector<Block>& blocks, SplitMix64& random, std::uint32_t filler_size)
{
    blocks.push_back(Filler("AVQF", filler_size, random));
    blocks.push_back(DataBlock{});
    blocks.push_back(Filler("RIFX", filler_size, random));
    blocks.push_back(TextBlock("RIFF"));
    blocks.push_back(Short(random));
    blocks.push_back(Filler("riff", filler_size, random));
    blocks.push_back(TextBlock("TEXT Quorvel sound bank made by quorvel-make-sample\n"));
    blocks.push_back(RandomBytes(filler_size, random));
}

// One sound of every encoding libsndfile makes, some with stray bytes
// after them.
RiffBlock EveryEncodingBlock(SplitMix64& random)
{
    RiffBlock block{.seed = random.Fork()};
    for (const WavFormat& format : kEncodedFormats) {
        block.sounds.push_back({.sound = Chirp(format, 400, 300, 1200)});
        if (block.sounds.size() % 3 == 0) {
            block.sounds.back().stray_after = StrayCount(random);
        }
    }
    return block;
}

std::vector<Block> SampleSfx(SplitMix64& random)
{
    std::vector<Block> blocks;
    blocks.push_back(RiffBlock{.sounds = {{.sound = Tone(kMono16Bit22050, 300, 880)}}});
    blocks.push_back(ChunkStraddlingBlock(random));
    AddOddBlocks(blocks, random, static_cast<std::uint32_t>(random.Between(48, 400)));
    blocks.push_back(ChanceRiffBlock(random));
    for (int i = 0; i < 24; ++i) {
        blocks.push_back(RandomRiffBlock(random, 80, 500));
        if (i % 5 == 4) {
            blocks.push_back(Filler("AVQF", random.Between(16, 600), random));
        }
        if (i % 9 == 8) {
            blocks.push_back(DataBlock{});
        }
    }
    if (EncodedSoundsAvailable()) {
        blocks.push_back(EveryEncodingBlock(random));
    }
    return blocks;
}

// One spoken line per block, with a little tagged data (lip sync, say).
std::vector<Block> Speech(SplitMix64& random, int lines, std::uint32_t min_ms, std::uint32_t max_ms)
{
    std::vector<Block> blocks;
    for (int line = 0; line < lines; ++line) {
        const auto milliseconds = static_cast<std::uint32_t>(random.Between(min_ms, max_ms));
        const auto pitch_hz = static_cast<std::uint32_t>(random.Between(95, 230));
        blocks.push_back(RiffBlock{.sounds = {{.sound = SpokenLine(milliseconds, pitch_hz, random.Fork())}}});
        if (line % 8 == 3) {
            blocks.push_back(Filler("AVQF", random.Between(64, 512), random));
        }
    }
    return blocks;
}

GameContent Sample(std::uint64_t seed)
{
    SplitMix64 random(seed);
    return {.sfx = SampleSfx(random), .speech = Speech(random, 18, 800, 2500)};  // made in this order
}

GameContent Tiny(std::uint64_t seed)
{
    SplitMix64 random(seed);
    GameContent game;
    RiffBlock sounds{.seed = random.Fork()};
    sounds.sounds.push_back({.sound = Tone(kMono8Bit11025, 20, 440), .stray_after = 3});
    sounds.sounds.push_back({.sound = Chirp(kStereo16Bit44100, 5, 300, 900)});
    sounds.sounds.push_back({.sound = NoiseBurst(kMono24Bit48000, 4, random.Fork()), .stray_after = 2});
    game.sfx.push_back(sounds);
    AddOddBlocks(game.sfx, random, 12);
    SoundParams chance = Tone(kMono16Bit22050, 10, 660);
    chance.chance_riff_at = 100;
    game.sfx.push_back(RiffBlock{.sounds = {{.sound = chance}}});

    game.speech = Speech(random, 1, 60, 60);
    game.speech.push_back(Filler("AVQF", 24, random));
    game.speech.push_back(DataBlock{});
    return game;
}

constexpr std::array<Profile, 7> kProfiles = {{
    {"sample", "a small game: sfx.pak of 1-3 MiB, speech.pak of 1-2 MiB, every kind of block",
     [](std::uint64_t seed, std::uint64_t) { return Sample(seed); }},
    {"tiny", "a few KiB with every kind of block once, for fuzzing and quick tests",
     [](std::uint64_t seed, std::uint64_t) { return Tiny(seed); }},
    {"game", "SIZE bytes of a realistic game (sfx.pak and speech.pak)",
     [](std::uint64_t seed, std::uint64_t size) { return RealisticGame(size, seed); }, true},
    {"huge-sound", "one sound of SIZE bytes in one RIFF block, and 5/12 as much again",
     [](std::uint64_t seed, std::uint64_t size) { return HugeSound(size, seed); }, true},
    {"tiny-blocks", "SIZE tiny blocks of every kind",
     [](std::uint64_t seed, std::uint64_t size) { return TinyBlocks(size, seed); }, true},
    {"search-worst", "SIZE bytes of \"RIF\" repeated with \"RIFF\" every few hundred bytes",
     [](std::uint64_t seed, std::uint64_t size) { return SearchWorstCase(size, seed); }, true},
    {"sound", "one sound of SIZE bytes", [](std::uint64_t seed, std::uint64_t size) { return SingleSound(size, seed); },
     true},
}};

}  // namespace

std::span<const Profile> Profiles()
{
    return kProfiles;
}

const Profile* FindProfile(std::string_view name)
{
    const auto found = std::find_if(kProfiles.begin(), kProfiles.end(),
                                    [name](const Profile& profile) { return profile.name == name; });
    return found == kProfiles.end() ? nullptr : &*found;
}

ArchiveSummary WriteArchiveFile(const std::filesystem::path& path, const testing::Archive& archive, std::uint64_t seed)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("cannot create " + path.string());
    }
    try {
        archive.WriteTo(out, seed);
        out.close();
    } catch (const std::ios_base::failure&) {
        throw std::runtime_error("cannot write " + path.string());
    }
    return {.bytes = archive.Size(), .blocks = archive.Blocks()};
}

}  // namespace quorvel::sample
