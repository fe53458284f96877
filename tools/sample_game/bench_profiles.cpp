#include "tools/sample_game/bench_profiles.hpp"

#include <array>
#include <string>

#include "testing/prng.hpp"

namespace quorvel::sample {
namespace {

using testing::SplitMix64;

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kSmallestSound = 2 * kKiB;
constexpr std::uint64_t kLargestSound = 20 * kMiB;

// Sizes spread evenly over octaves, as game sounds are: as many of 2-4 KiB
// as of 1-2 MiB. Integer arithmetic only, so every platform makes the same.
std::uint64_t OctaveSpread(SplitMix64& random, std::uint64_t low, std::uint64_t high)
{
    std::uint64_t octaves = 0;
    while ((low << (octaves + 1)) <= high) {
        ++octaves;
    }
    const std::uint64_t octave_low = low << random.Between(0, octaves - 1);
    return std::min(high, random.Between(octave_low, 2 * octave_low - 1));
}

// Nine sounds in ten are short effects (2-256 KiB), the rest music and
// ambience up to 20 MiB.
std::uint64_t GameSoundSize(SplitMix64& random)
{
    if (random.Between(0, 9) != 0) {
        return OctaveSpread(random, kSmallestSound, 256 * kKiB);
    }
    return OctaveSpread(random, 256 * kKiB, kLargestSound);
}

SoundParams SoundOfSize(const WavFormat& format, Waveform waveform, std::uint64_t bytes, std::uint64_t seed)
{
    SoundParams sound{.format = format, .waveform = waveform, .start_hz = 220, .end_hz = 1760, .seed = seed};
    sound.frames = FramesForFileSize(format, bytes);
    return sound;
}

RiffBlock OneSound(const WavFormat& format, Waveform waveform, std::uint64_t bytes, SplitMix64& random)
{
    return RiffBlock{.sounds = {{.sound = SoundOfSize(format, waveform, bytes, random.Fork())}}};
}

// Any format a game stores, but GSM 6.10 and G.721 only for short effects
// (libsndfile encodes them at under 1 MB/s), and 16-bit PCM where the
// format's first block is larger than the sound.
WavFormat FormatOfSize(SplitMix64& random, std::uint64_t bytes)
{
    const auto formats = SoundFormats();
    const WavFormat& format = formats[random.Between(0, formats.size() - 1)];
    if ((SlowToEncode(format) && bytes > 256 * kKiB) || FramesForFileSize(format, bytes) == 0) {
        return kMono16Bit22050;
    }
    return format;
}

SoundParams RandomSound(SplitMix64& random, std::uint64_t bytes)
{
    const WavFormat format = FormatOfSize(random, bytes);
    const auto waveform = static_cast<Waveform>(random.Between(0, 2));  // tone, chirp or noise
    return SoundOfSize(format, waveform, bytes, random.Fork());
}

// Most blocks hold several sounds; stray bytes follow about a third of them.
RiffBlock GameRiffBlock(SplitMix64& random)
{
    RiffBlock block{.seed = random.Fork()};
    const std::uint64_t count = random.Between(0, 4) == 0 ? 1 : random.Between(2, 6);
    for (std::uint64_t i = 0; i < count; ++i) {
        SoundEntry entry{.sound = RandomSound(random, GameSoundSize(random))};
        if (random.Between(0, 2) == 0) {
            entry.stray_after = static_cast<std::uint32_t>(random.Between(1, 50));
        }
        block.sounds.push_back(entry);
    }
    return block;
}

// One block in ten is not a run of sounds: tagged data, text or bytes of
// no known kind, now and then an empty one.
Block GameOddBlock(SplitMix64& random)
{
    switch (random.Between(0, 4)) {
        case 0:
        case 1:
            return Filler("AVQF", random.Between(16, 64 * kKiB), random);
        case 2:
            return Filler("DATA", random.Between(16, 512 * kKiB), random);
        case 3:
            return TextBlock("TEXT bench");
        default:
            return DataBlock{};
    }
}

std::uint64_t AddUntil(std::vector<Block>& blocks, std::uint64_t bytes, std::uint64_t target, auto next_block)
{
    while (bytes < target) {
        blocks.push_back(next_block());
        bytes += 4 + PayloadSize(blocks.back());
    }
    return bytes;
}

// A 64 KiB sound of "RIF" repeated, with a "RIFF" of form type "JUNK"
// every 200 to 400 bytes.
std::string WorstCaseSound(SplitMix64& random)
{
    constexpr std::size_t kSoundBytes = 64 * kKiB;
    std::string sound(kSoundBytes, ' ');
    for (std::size_t i = 0; i < sound.size(); ++i) {
        sound[i] = "RIF"[i % 3];
    }
    sound.replace(0, 12, testing::Str(testing::Riff(static_cast<std::int32_t>(kSoundBytes - 8))));
    const std::string junk = testing::Str(testing::Riff(16, "JUNK"));
    for (std::size_t at = random.Between(200, 400); at + 12 <= sound.size(); at += random.Between(200, 400)) {
        sound.replace(at, 12, junk);
    }
    return sound;
}

}  // namespace

GameContent RealisticGame(std::uint64_t total_bytes, std::uint64_t seed)
{
    SplitMix64 random(seed);
    GameContent game;
    const std::uint64_t speech_target = total_bytes / 5;
    AddUntil(game.sfx, 4, total_bytes - speech_target, [&]() -> Block {
        if (random.Between(0, 9) == 0) {
            return GameOddBlock(random);
        }
        return GameRiffBlock(random);
    });
    std::uint64_t line = 0;
    AddUntil(game.speech, 4, speech_target, [&]() -> Block {
        if (++line % 8 == 0) {
            return Filler("AVQF", random.Between(64, 4 * kKiB), random);
        }
        const std::uint64_t bytes = OctaveSpread(random, 32 * kKiB, 1 * kMiB);
        SoundParams sound = SoundOfSize(kMono16Bit22050, Waveform::kSpeech, bytes, random.Fork());
        sound.start_hz = static_cast<std::uint32_t>(random.Between(95, 230));
        return RiffBlock{.sounds = {{.sound = sound}}};
    });
    return game;
}

GameContent HugeSound(std::uint64_t sound_bytes, std::uint64_t seed)
{
    SplitMix64 random(seed);
    GameContent game;
    game.sfx.push_back(OneSound(kStereo16Bit44100, Waveform::kChirp, sound_bytes, random));
    const std::uint64_t rest = sound_bytes * 5 / 12;
    const std::uint64_t piece = std::max<std::uint64_t>(rest / 32, 64 * kKiB);
    AddUntil(game.sfx, 4 + PayloadSize(game.sfx.front()), sound_bytes + rest, [&]() -> Block {
        if (random.Between(0, 3) == 0) {
            return Filler("AVQF", piece, random);
        }
        RiffBlock block{.seed = random.Fork()};
        for (int i = 0; i < 4; ++i) {
            block.sounds.push_back({.sound = RandomSound(random, piece / 4), .stray_after = 7});
        }
        return block;
    });
    return game;
}

GameContent TinyBlocks(std::uint64_t blocks, std::uint64_t seed)
{
    SplitMix64 random(seed);
    GameContent game;
    game.sfx.reserve(blocks);
    for (std::uint64_t i = 0; i < blocks; ++i) {
        switch (i % 6) {
            case 0:
                game.sfx.push_back(DataBlock{});
                break;
            case 1:
                game.sfx.push_back(TextBlock(std::string_view("\x01\x02\x03", random.Between(1, 3))));
                break;
            case 2:
                game.sfx.push_back(Filler("AVQF", random.Between(4, 40), random));
                break;
            case 3:
                game.sfx.push_back(TextBlock("TEXT tiny"));
                break;
            default:
                game.sfx.push_back(OneSound(kMono8Bit11025, Waveform::kTone, random.Between(48, 200), random));
                break;
        }
    }
    return game;
}

GameContent SearchWorstCase(std::uint64_t total_bytes, std::uint64_t seed)
{
    SplitMix64 random(seed);
    GameContent game;
    constexpr int kSoundsPerBlock = 16;
    AddUntil(game.sfx, 4, total_bytes, [&]() -> Block {
        std::string payload;
        for (int i = 0; i < kSoundsPerBlock; ++i) {
            payload += WorstCaseSound(random);
        }
        return TextBlock(payload);
    });
    return game;
}

GameContent SingleSound(std::uint64_t sound_bytes, std::uint64_t seed)
{
    SplitMix64 random(seed);
    return {.sfx = {OneSound(kStereo16Bit44100, Waveform::kTone, sound_bytes, random)}, .speech = {}};
}

}  // namespace quorvel::sample
