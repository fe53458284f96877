#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sample_game/archive_writer.hpp"
#include "tools/sample_game/profiles.hpp"
#include "tools/sample_game/wav_synth.hpp"

namespace quorvel::sample {
namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;

std::uint32_t U32At(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::uint32_t{static_cast<unsigned char>(bytes.at(at + i))} << (8 * i);
    }
    return value;
}

std::string Archive(std::span<const Block> blocks, ArchiveSummary* summary = nullptr)
{
    std::ostringstream out(std::ios::binary);
    const ArchiveSummary written = WriteArchive(out, blocks);
    if (summary != nullptr) {
        *summary = written;
    }
    return std::move(out).str();
}

std::string AsString(const std::vector<std::byte>& bytes)
{
    std::string text(bytes.size(), '\0');
    std::transform(bytes.begin(), bytes.end(), text.begin(), [](std::byte b) { return static_cast<char>(b); });
    return text;
}

// Reads an archive back the way the extractor walks it.
std::vector<std::string_view> ParseBlocks(std::string_view archive)
{
    std::vector<std::string_view> payloads;
    std::size_t at = 0;
    while (at + 4 < archive.size()) {
        const auto length = static_cast<std::int32_t>(U32At(archive, at));
        EXPECT_GE(length, 4) << "block at " << at;
        if (length < 4 || at + static_cast<std::size_t>(length) > archive.size() - 4) {
            ADD_FAILURE() << "block at " << at << " of length " << length << " runs past the final field";
            return payloads;
        }
        payloads.push_back(archive.substr(at + 4, static_cast<std::size_t>(length) - 4));
        at += static_cast<std::size_t>(length);
    }
    EXPECT_EQ(at + 4, archive.size()) << "the final field must end the archive";
    return payloads;
}

void ExpectValidWav(std::string_view wav, const WavFormat& format, std::uint32_t frames)
{
    ASSERT_GE(wav.size(), kWavHeaderSize);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(U32At(wav, 4), wav.size() - 8);
    EXPECT_EQ(wav.substr(8, 4), "WAVE");
    EXPECT_EQ(wav.substr(12, 4), "fmt ");
    EXPECT_EQ(U32At(wav, 16), 16u);
    EXPECT_EQ(U32At(wav, 20) & 0xFFFF, 1u) << "integer PCM";
    EXPECT_EQ(U32At(wav, 20) >> 16, format.channels);
    EXPECT_EQ(U32At(wav, 24), format.sample_rate);
    const std::uint32_t block_align = format.channels * format.bits_per_sample / 8u;
    EXPECT_EQ(U32At(wav, 28), format.sample_rate * block_align);
    EXPECT_EQ(U32At(wav, 32) & 0xFFFF, block_align);
    EXPECT_EQ(U32At(wav, 32) >> 16, format.bits_per_sample);
    EXPECT_EQ(wav.substr(36, 4), "data");
    const std::uint32_t data_size = U32At(wav, 40);
    EXPECT_EQ(data_size, std::uint64_t{frames} * block_align);
    EXPECT_EQ(wav.size(), kWavHeaderSize + data_size + data_size % 2) << "data plus the pad byte of an odd size";
}

TEST(WavSynth, EveryFormatAndWaveformMakesAWellFormedWav)
{
    for (const WavFormat& format : {kMono8Bit11025, kMono16Bit22050, kStereo16Bit44100, kMono24Bit48000}) {
        for (const Waveform waveform : {Waveform::kTone, Waveform::kChirp, Waveform::kNoiseBurst, Waveform::kSpeech}) {
            // An odd frame count makes an odd data size for 8-bit and 24-bit mono.
            const SoundParams sound{
                .format = format, .waveform = waveform, .frames = 5001, .start_hz = 200, .end_hz = 3000, .seed = 9};
            const std::string wav = AsString(MakeSound(sound));
            SCOPED_TRACE(std::to_string(format.bits_per_sample) + " bits, waveform " +
                         std::to_string(static_cast<int>(waveform)));
            ExpectValidWav(wav, format, sound.frames);
            EXPECT_EQ(wav.size(), SoundFileSize(sound));
            // Not silence: the synthesizer must actually make a sound.
            const std::string_view samples = std::string_view(wav).substr(kWavHeaderSize, 2000);
            EXPECT_GT(std::set<char>(samples.begin(), samples.end()).size(), 10u);
        }
    }
}

TEST(WavSynth, FramesForFileSizeNeverOvershoots)
{
    for (const WavFormat& format : {kMono8Bit11025, kMono24Bit48000, kStereo16Bit44100}) {
        for (std::uint64_t size = 40; size < 80; ++size) {
            const SoundParams sound{.format = format, .frames = FramesForFileSize(format, size)};
            EXPECT_LE(SoundFileSize(sound), std::max<std::uint64_t>(size, kWavHeaderSize));
            EXPECT_GT(SoundFileSize(sound) + 2 * format.BlockAlign(), size) << "as many frames as fit";
        }
    }
}

TEST(WavSynth, PlantedRiffIsInTheSamplesButNotFollowedByWave)
{
    SoundParams sound{.format = kMono16Bit22050, .frames = 2000, .start_hz = 440, .end_hz = 440};
    sound.chance_riff_at = 1001;
    const std::string wav = AsString(MakeSound(sound));
    const std::size_t at = kWavHeaderSize + 1001;
    EXPECT_EQ(wav.substr(at, 4), "RIFF");
    EXPECT_NE(wav.substr(at + 8, 4), "WAVE");
    EXPECT_EQ(wav.find("RIFF", 1), at) << "no other RIFF";
    ExpectValidWav(wav, sound.format, sound.frames);

    sound.chance_riff_at = SampleDataSize(sound) - 11;
    EXPECT_THROW(MakeSound(sound), std::invalid_argument) << "too close to the end to be weighed by the extractor";
}

TEST(WavSynth, RefusesASoundWhoseHeaderSpellsRiffAfterItsSignature)
{
    // A data size of 0x46464952 bytes is "RIFF" in the header's data size
    // field: the extractor would cut the sound there.
    const SoundParams sound{.format = kMono8Bit11025, .frames = 0x46464952};
    EXPECT_THROW(MakeSound(sound), std::invalid_argument);
}

TEST(ChanceRiffGuard, BreaksGeneratedRiffButKeepsFixedOnes)
{
    auto run = [](std::string_view text, std::string_view fixed_mask) {
        ChanceRiffGuard guard;
        std::string out(text);
        for (std::size_t i = 0; i < out.size(); ++i) {
            auto value = static_cast<std::byte>(out[i]);
            if (fixed_mask[i] == 'k') {
                guard.Keep(value);
            } else {
                guard.Scrub(value);
            }
            out[i] = static_cast<char>(value);
        }
        return out;
    };
    EXPECT_EQ(run("xRIFFRIFF", "ggggggggg"), "xRIFGRIFG");
    EXPECT_EQ(run("RIFFxRIFF", "kkkkggggg"), "RIFFxRIFG");
    EXPECT_EQ(run("RIFF", "kkkk"), "RIFF");
    EXPECT_EQ(run("RIFFF", "ggggg"), "RIFGF") << "the window follows the changed byte";
}

TEST(ArchiveWriter, BlocksParseBackWithTheirLengthsAndPayloads)
{
    const std::vector<Block> blocks = {
        DataBlock{},
        TextBlock("AVQF1234"),
        FillerBlock{.signature = Signature("RIFX"), .payload_size = 3, .seed = 1},
        FillerBlock{.signature = Signature("riff"), .payload_size = 200000, .seed = 2},
        RiffBlock{.sounds = {{.sound = {.frames = 10}, .stray_after = 7}, {.sound = {.frames = 3}}}, .seed = 3},
    };
    ArchiveSummary summary;
    const std::string archive = Archive(blocks, &summary);
    const auto payloads = ParseBlocks(archive);
    ASSERT_EQ(payloads.size(), blocks.size());
    EXPECT_EQ(summary.blocks, blocks.size());
    EXPECT_EQ(summary.bytes, archive.size());
    EXPECT_EQ(U32At(archive, archive.size() - 4), 0u);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(payloads[i].size(), PayloadSize(blocks[i])) << "block " << i;
    }
    EXPECT_EQ(payloads[1], "AVQF1234");
    EXPECT_EQ(payloads[2], "RIF") << "a signature is cut to a short payload";
    EXPECT_EQ(payloads[3].substr(0, 4), "riff");
    EXPECT_EQ(payloads[4].substr(0, 4), "RIFF");
    ExpectValidWav(payloads[4].substr(0, 64), kMono16Bit22050, 10);
    EXPECT_EQ(payloads[4].substr(64 + 7, 4), "RIFF") << "second sound after 7 stray bytes";
}

TEST(ArchiveWriter, RefusesABlockTooLongForItsLengthBeforeWritingAnything)
{
    const std::vector<Block> blocks = {TextBlock("TEXT"), FillerBlock{.payload_size = 0x7FFFFFFC}};
    std::ostringstream out;
    EXPECT_THROW(WriteArchive(out, blocks), std::length_error);
    EXPECT_TRUE(out.str().empty());
}

struct Sound {
    std::size_t start;
    std::size_t end;  // start + declared size + 8
};

// Every "RIFF" in a RIFF block's payload, sorted into starts of sounds and
// chance ones inside a sound's samples (which the extractor must keep).
struct RiffScan {
    std::vector<Sound> sounds;
    std::vector<std::size_t> chance;
};

RiffScan ScanRiffBlock(std::string_view payload)
{
    RiffScan scan;
    for (std::size_t at = payload.find("RIFF"); at != std::string_view::npos; at = payload.find("RIFF", at + 1)) {
        const bool inside_last = !scan.sounds.empty() && at < scan.sounds.back().end;
        if (inside_last) {
            EXPECT_GE(at, scan.sounds.back().start + 12);
            EXPECT_NE(payload.substr(at + 8, 4), "WAVE") << "a chance RIFF at " << at << " would split its sound";
            scan.chance.push_back(at);
            continue;
        }
        const std::size_t stray = scan.sounds.empty() ? at : at - scan.sounds.back().end;
        EXPECT_LE(stray, 50u) << "stray bytes before " << at;
        const std::size_t end = at + U32At(payload, at + 4) + 8;
        EXPECT_LE(end, payload.size());
        scan.sounds.push_back({at, end});
        const std::string_view wav = payload.substr(at, end - at);
        ExpectValidWav(wav,
                       {.channels = static_cast<std::uint16_t>(U32At(wav, 20) >> 16),
                        .sample_rate = U32At(wav, 24),
                        .bits_per_sample = static_cast<std::uint16_t>(U32At(wav, 32) >> 16)},
                       U32At(wav, 40) / (U32At(wav, 32) & 0xFFFF));
    }
    EXPECT_LE(payload.size() - scan.sounds.back().end, 50u) << "stray bytes after the last sound";
    return scan;
}

class GeneratedGame : public ::testing::TestWithParam<std::string_view> {
protected:
    static GameContent Make(std::uint64_t seed) { return FindProfile(GetParam())->make(seed); }
};

TEST_P(GeneratedGame, ArchivesParseBackAndEverySoundIsWhereItSeems)
{
    const GameContent game = Make(kDefaultSeed);
    for (const auto* blocks : {&game.sfx, &game.speech}) {
        ArchiveSummary summary;
        const std::string archive = Archive(*blocks, &summary);
        const auto payloads = ParseBlocks(archive);
        EXPECT_EQ(payloads.size(), summary.blocks);
        for (const std::string_view payload : payloads) {
            if (payload.starts_with("RIFF") && payload.size() > 4) {
                ScanRiffBlock(payload);
            }
        }
    }
}

TEST_P(GeneratedGame, SfxHoldsEveryKindOfBlock)
{
    const GameContent game = Make(kDefaultSeed);
    const std::string archive = Archive(game.sfx);
    std::set<std::string> kinds;
    std::size_t chance_riffs = 0;
    std::size_t blocks_with_trailing_strays = 0;
    for (const std::string_view payload : ParseBlocks(archive)) {
        if (payload.size() < 4) {
            kinds.insert("length " + std::to_string(payload.size() + 4));
        } else if (payload == "RIFF") {
            kinds.insert("lone RIFF");
        } else if (payload.starts_with("RIFF")) {
            const RiffScan scan = ScanRiffBlock(payload);
            kinds.insert("sounds");
            kinds.insert(scan.sounds.size() > 1 ? "several sounds" : "one sound");
            chance_riffs += scan.chance.size();
            blocks_with_trailing_strays += scan.sounds.back().end < payload.size() ? 1 : 0;
        } else if (static_cast<unsigned char>(payload[0]) > 0x7F) {
            kinds.insert("random bytes");
        } else {
            kinds.insert(std::string(payload.substr(0, 4)));
        }
    }
    for (const char* kind : {"length 4", "length 6", "lone RIFF", "several sounds", "one sound", "AVQF", "RIFX", "riff",
                             "TEXT", "random bytes"}) {
        EXPECT_TRUE(kinds.contains(kind)) << kind;
    }
    EXPECT_EQ(chance_riffs, 1u);
    EXPECT_GE(blocks_with_trailing_strays, 1u);
}

TEST_P(GeneratedGame, SameSeedSameBytesOtherSeedOtherBytes)
{
    const GameContent first = Make(5);
    const GameContent again = Make(5);
    const GameContent other = Make(6);
    EXPECT_EQ(Archive(first.sfx), Archive(again.sfx));
    EXPECT_EQ(Archive(first.speech), Archive(again.speech));
    EXPECT_NE(Archive(first.sfx), Archive(other.sfx));
    EXPECT_NE(Archive(first.speech), Archive(other.speech));
}

INSTANTIATE_TEST_SUITE_P(Profiles, GeneratedGame, ::testing::Values("sample", "tiny"),
                         [](const auto& info) { return std::string(info.param); });

TEST(SampleProfile, HasLongSoundsAndASoundStartingAcrossAChunkBoundary)
{
    for (const std::uint64_t seed : {kDefaultSeed, std::uint64_t{2}, std::uint64_t{3}}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const GameContent game = FindProfile("sample")->make(seed);
        const std::string sfx = Archive(game.sfx);
        const std::string speech = Archive(game.speech);
        EXPECT_GE(sfx.size(), 1 * kMiB);
        EXPECT_LE(sfx.size(), 3 * kMiB);
        EXPECT_GE(speech.size(), 1 * kMiB);
        EXPECT_LE(speech.size(), 2 * kMiB);

        bool long_sound = false;
        bool straddling_start = false;
        for (const std::string_view payload : ParseBlocks(sfx)) {
            if (!payload.starts_with("RIFF") || payload.size() <= 4) {
                continue;
            }
            const RiffScan scan = ScanRiffBlock(payload);
            for (const Sound& sound : scan.sounds) {
                long_sound = long_sound || sound.end - sound.start > 64 * kKiB;
                // The extractor reads the block after its signature in 64 KiB
                // chunks: chunk k starts at payload offset 4 + 65536 k.
                const std::size_t to_boundary = (65536 - (sound.start - 4) % 65536) % 65536;
                const bool straddles = sound.start > 4 && to_boundary >= 1 && to_boundary <= 3;
                straddling_start =
                    straddling_start || (straddles && payload.size() > 200 * kKiB && scan.sounds.size() > 2);
            }
        }
        EXPECT_TRUE(long_sound);
        EXPECT_TRUE(straddling_start);
    }
}

TEST(WriteGame, WritesBothArchivesIntoANewFolder)
{
    const auto folder = std::filesystem::path(::testing::TempDir()) / "quorvel-write-game-test" / "game";
    std::filesystem::remove_all(folder.parent_path());
    const GameContent game = FindProfile("tiny")->make(kDefaultSeed);
    const GameSummary summary = WriteGame(folder, game);
    auto read = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(folder / "sfx.pak"), Archive(game.sfx));
    EXPECT_EQ(read(folder / "speech.pak"), Archive(game.speech));
    EXPECT_EQ(summary.sfx.bytes, std::filesystem::file_size(folder / "sfx.pak"));
    EXPECT_EQ(summary.speech.blocks, game.speech.size());
    std::filesystem::remove_all(folder.parent_path());
}

}  // namespace
}  // namespace quorvel::sample
