#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "testing/byte_order.hpp"
#include "testing/reference_model.hpp"
#include "tools/sample_game/game_blocks.hpp"
#include "tools/sample_game/profiles.hpp"
#include "tools/sample_game/wav_synth.hpp"

namespace quorvel::sample {
namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;

std::uint32_t U32At(std::string_view bytes, std::size_t at)
{
    return testing::LittleEndianAt(testing::AsBytes(bytes.substr(0, at + 4)), at);
}

std::string Archive(std::span<const Block> blocks)
{
    return GameArchive(blocks).Str();
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
            const std::string wav(testing::AsText(MakeSound(sound)));
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

// The chunks of a WAV file, by id: where each body starts and its size.
std::map<std::string, std::pair<std::size_t, std::uint32_t>> ChunksOf(std::string_view wav)
{
    std::map<std::string, std::pair<std::size_t, std::uint32_t>> chunks;
    for (std::size_t at = 12; at + 8 <= wav.size();) {
        const std::uint32_t size = U32At(wav, at + 4);
        chunks.emplace(std::string(wav.substr(at, 4)), std::pair{at + 8, size});
        at += 8 + std::size_t{size} + size % 2;
    }
    return chunks;
}

// A sound libsndfile encoded: its chunks fill it exactly, and its fmt
// chunk says its channels and rate.
void ExpectValidEncodedWav(std::string_view wav)
{
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(U32At(wav, 4), wav.size() - 8);
    EXPECT_EQ(wav.substr(8, 4), "WAVE");
    const auto chunks = ChunksOf(wav);
    ASSERT_TRUE(chunks.contains("fmt ") && chunks.contains("data"));
    const auto [data_at, data_size] = chunks.at("data");
    EXPECT_EQ(wav.size(), data_at + data_size + data_size % 2) << "the data chunk ends the file";
    const std::size_t fmt_at = chunks.at("fmt ").first;
    EXPECT_GE(U32At(wav, fmt_at) >> 16, 1u) << "channels";
    EXPECT_GT(U32At(wav, fmt_at + 4), 0u) << "rate";
}

bool IsIntegerPcm(std::string_view wav)
{
    return U32At(wav, 16) == 16 && (U32At(wav, 20) & 0xFFFF) == 1;
}

TEST(EncodedSounds, LibsndfileWritesEachFormatAtThePlannedSizes)
{
    if (!EncodedSoundsAvailable()) {
        GTEST_SKIP() << "built without libsndfile";
    }
    for (const WavFormat& format : kEncodedFormats) {
        for (const std::uint32_t frames : {0u,   1u,    2u,    119u,  120u,  121u,  319u,  320u,  321u,  505u,
                                           506u, 1012u, 1013u, 1017u, 1018u, 2036u, 2041u, 2042u, 5001u, 40000u}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(format.encoding)) + ", " + std::to_string(format.channels) +
                         " channels, " + std::to_string(frames) + " frames");
            const SoundParams sound{.format = format, .frames = frames, .start_hz = 300, .end_hz = 900};
            const std::string wav(testing::AsText(MakeSound(sound)));  // throws where the sizes differ
            EXPECT_EQ(wav.size(), SoundFileSize(sound));
            ExpectValidEncodedWav(wav);
            const auto chunks = ChunksOf(wav);
            EXPECT_EQ(chunks.at("data").first, HeaderSize(format));
            EXPECT_EQ(chunks.at("data").second, SampleDataSize(sound));
        }
        const SoundParams two_seconds{.format = format, .frames = 2 * format.sample_rate, .start_hz = 440};
        const std::string wav(testing::AsText(MakeSound(two_seconds)));
        const std::string_view samples = std::string_view(wav).substr(HeaderSize(format) + 100, 2000);
        EXPECT_GT(std::set<char>(samples.begin(), samples.end()).size(), 10u) << "not silence";
    }
}

TEST(EncodedSounds, FramesForFileSizeNeverOvershoots)
{
    if (!EncodedSoundsAvailable()) {
        GTEST_SKIP() << "built without libsndfile";
    }
    for (const WavFormat& format : kEncodedFormats) {
        for (const std::uint64_t size : {std::uint64_t{2048}, std::uint64_t{5000}, 300 * kKiB}) {
            const std::uint32_t frames = FramesForFileSize(format, size);
            EXPECT_LE(SoundFileSize({.format = format, .frames = frames}), size);
            EXPECT_GT(SoundFileSize({.format = format, .frames = frames + 1}), size) << "as many frames as fit";
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
    const std::string wav(testing::AsText(MakeSound(sound)));
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
    const testing::Archive built = GameArchive(blocks);
    const std::string archive = built.Str();
    const auto payloads = ParseBlocks(archive);
    ASSERT_EQ(payloads.size(), blocks.size());
    EXPECT_EQ(built.Blocks(), blocks.size());
    EXPECT_EQ(built.Size(), archive.size());
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
    EXPECT_THROW(GameArchive(blocks).WriteTo(out), std::length_error);
    EXPECT_TRUE(out.str().empty());
}

// One block of a generated archive and the model's files of its payload.
struct BlockFiles {
    std::string_view payload;
    std::size_t offset;  // of the payload in the archive
    std::vector<model::File> files;
    std::vector<std::string_view> bytes;  // of each file
};

struct Extracted {
    std::vector<BlockFiles> blocks;  // "RIFF"-only payloads left out
    std::size_t files = 0;
    std::int64_t last_number = 0;
};

// Splits the model's files among the blocks: in number order they must hold
// exactly the payload bytes, numbered without gaps but for the number of
// each "RIFF"-only payload.
Extracted ExtractByBlock(std::string_view archive)
{
    const model::Extraction extraction = model::ExtractArchive(testing::AsBytes(archive));
    Extracted extracted;
    std::size_t next = 0;
    std::int64_t& number = extracted.last_number;
    for (const std::string_view payload : ParseBlocks(archive)) {
        if (++number; payload == "RIFF") {
            EXPECT_TRUE(std::ranges::count(extraction.numbers_without_file, number) == 1) << "block " << number;
            continue;
        }
        BlockFiles block{payload, static_cast<std::size_t>(payload.data() - archive.data()), {}, {}};
        std::string joined;
        do {
            if (next == extraction.files.size()) {
                ADD_FAILURE() << "files end before block " << number;
                return extracted;
            }
            const model::File& file = extraction.files[next++];
            EXPECT_EQ(file.number, number + static_cast<std::int64_t>(block.files.size())) << "block " << number;
            block.files.push_back(file);
            block.bytes.push_back(archive.substr(file.bytes.offset, file.bytes.size));
            joined += block.bytes.back();
        } while (joined.size() < payload.size());
        EXPECT_EQ(joined, payload) << "block " << number;
        number += static_cast<std::int64_t>(block.files.size()) - 1;
        extracted.blocks.push_back(std::move(block));
    }
    EXPECT_EQ(next, extraction.files.size()) << "files left after the last block";
    EXPECT_EQ(number, static_cast<std::int64_t>(next + extraction.numbers_without_file.size()));
    extracted.files = next;
    return extracted;
}

// True when a "RIFF" at k >= 12 inside the sound's declared extent is
// followed 8 bytes on by the sound's own form type: the extractor would
// start a new sound there, so the sound could not be kept whole.
bool HoldsASplittingRiff(std::string_view wav)
{
    for (std::size_t at = wav.find("RIFF", 1); at != std::string_view::npos; at = wav.find("RIFF", at + 1)) {
        if (at < 12 || wav.substr(at + 8, 4) == wav.substr(8, 4)) {
            return true;
        }
    }
    return false;
}

// A generated block: one file for a data block; for a RIFF block, whole
// well-formed sounds, each perhaps followed by up to 50 stray bytes.
void ExpectAsGenerated(const BlockFiles& block)
{
    if (!block.payload.starts_with("RIFF")) {
        ASSERT_EQ(block.files.size(), 1u);
        EXPECT_EQ(block.files[0].extension, block.payload.starts_with("AVQF") ? ".AVQF" : "");
        return;
    }
    for (std::size_t i = 0; i < block.files.size(); ++i) {
        const std::string_view bytes = block.bytes[i];
        SCOPED_TRACE("file " + std::to_string(block.files[i].number));
        if (block.files[i].extension == ".wav" && !IsIntegerPcm(bytes)) {
            ExpectValidEncodedWav(bytes);
            EXPECT_FALSE(HoldsASplittingRiff(bytes));
        } else if (block.files[i].extension == ".wav") {
            ExpectValidWav(bytes,
                           {.channels = static_cast<std::uint16_t>(U32At(bytes, 20) >> 16),
                            .sample_rate = U32At(bytes, 24),
                            .bits_per_sample = static_cast<std::uint16_t>(U32At(bytes, 32) >> 16)},
                           U32At(bytes, 40) / (U32At(bytes, 32) & 0xFFFF));
            EXPECT_FALSE(HoldsASplittingRiff(bytes));
        } else {
            EXPECT_EQ(block.files[i].extension, "");
            EXPECT_TRUE(i > 0 && block.files[i - 1].extension == ".wav") << "stray bytes follow a sound";
            EXPECT_FALSE(bytes.empty());
            EXPECT_LE(bytes.size(), 50u);
            EXPECT_EQ(bytes.find("RIFF"), std::string::npos);
        }
    }
}

std::size_t CountSounds(const BlockFiles& block)
{
    return static_cast<std::size_t>(
        std::ranges::count_if(block.files, [](const model::File& file) { return file.extension == ".wav"; }));
}

class GeneratedGame : public ::testing::TestWithParam<std::string_view> {
protected:
    static GameContent Make(std::uint64_t seed) { return FindProfile(GetParam())->make(seed, 0); }
};

// Every payload byte is in a file of the model's, every sound whole where
// it was put; all but the length fields, the final field and the
// "RIFF"-only payloads reach a file.
TEST_P(GeneratedGame, ModelFilesSplitEveryPayloadIntoWholeSoundsAndStrayBytes)
{
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        const GameContent game = Make(seed);
        for (const auto* blocks : {&game.sfx, &game.speech}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + (blocks == &game.sfx ? ", sfx" : ", speech"));
            const std::string archive = Archive(*blocks);
            const Extracted extracted = ExtractByBlock(archive);
            std::uint64_t bytes = 0;
            for (const BlockFiles& block : extracted.blocks) {
                ExpectAsGenerated(block);
                bytes += block.payload.size();
            }
            EXPECT_EQ(ParseBlocks(archive).size(), GameArchive(*blocks).Blocks());
            const std::size_t used_up = blocks->size() - extracted.blocks.size();
            EXPECT_EQ(static_cast<std::size_t>(extracted.last_number), extracted.files + used_up);
            EXPECT_EQ(bytes, archive.size() - 4 * (blocks->size() + 1) - 4 * used_up);
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
        kinds.insert(payload == "RIFF"    ? "lone RIFF"
                     : payload.size() < 4 ? "length " + std::to_string(payload.size() + 4)
                                          : std::string(payload.substr(0, 4)));
    }
    for (const BlockFiles& block : ExtractByBlock(archive).blocks) {
        if (block.payload.starts_with("RIFF")) {
            kinds.insert(CountSounds(block) > 1 ? "several sounds" : "one sound");
            blocks_with_trailing_strays += block.files.back().extension.empty() ? 1 : 0;
            for (std::size_t i = 0; i < block.files.size(); ++i) {
                chance_riffs +=
                    block.files[i].extension == ".wav" && block.bytes[i].find("RIFF", 1) != std::string::npos;
            }
        } else if (static_cast<unsigned char>(block.payload[0]) > 0x7F) {
            kinds.insert("random bytes");
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
        const GameContent game = FindProfile("sample")->make(seed, 0);
        const std::string sfx = Archive(game.sfx);
        const std::string speech = Archive(game.speech);
        EXPECT_GE(sfx.size(), 1 * kMiB);
        EXPECT_LE(sfx.size(), 3 * kMiB);
        EXPECT_GE(speech.size(), 1 * kMiB);
        EXPECT_LE(speech.size(), 2 * kMiB);

        bool long_sound = false;
        bool straddling_start = false;
        for (const BlockFiles& block : ExtractByBlock(sfx).blocks) {
            for (const model::File& file : block.files) {
                const std::size_t start = file.bytes.offset - block.offset;  // in the payload
                long_sound = long_sound || (file.extension == ".wav" && file.bytes.size > 64 * kKiB);
                // The extractor reads the block after its signature in 64 KiB
                // chunks: chunk k starts at payload offset 4 + 65536 k.
                const std::size_t to_boundary = (65536 - (start - 4) % 65536) % 65536;
                const bool straddles = file.extension == ".wav" && start > 4 && to_boundary >= 1 && to_boundary <= 3;
                straddling_start =
                    straddling_start || (straddles && block.payload.size() > 200 * kKiB && CountSounds(block) > 2);
            }
        }
        EXPECT_TRUE(long_sound);
        EXPECT_TRUE(straddling_start);
    }
}

TEST(SampleProfile, HoldsEveryEncodingWhereLibsndfileIsBuiltIn)
{
    const GameContent game = FindProfile("sample")->make(kDefaultSeed, 0);
    const std::string sfx = Archive(game.sfx);
    std::set<std::uint32_t> tags;
    for (const BlockFiles& block : ExtractByBlock(sfx).blocks) {
        for (std::size_t i = 0; i < block.files.size(); ++i) {
            if (block.files[i].extension == ".wav") {
                tags.insert(U32At(block.bytes[i], 20) & 0xFFFF);
            }
        }
    }
    const std::set<std::uint32_t> pcm = {1};
    const std::set<std::uint32_t> every = {1, 2, 3, 6, 7, 0x11, 0x31, 0x40, 0xFFFE};
    EXPECT_EQ(tags, EncodedSoundsAvailable() ? every : pcm);
}

// The tiny profile worked out by hand from profiles.cpp: three sounds with
// 3 and 2 stray bytes, the odd blocks with 12-byte fillers, a sound with a
// chance "RIFF" inside.
TEST(TinyProfile, GivesTheseFiles)
{
    const GameContent game = FindProfile("tiny")->make(kDefaultSeed, 0);
    const std::string archive = Archive(game.sfx);
    const model::Extraction sfx = model::ExtractArchive(testing::AsBytes(archive));
    const std::string text = "TEXT Quorvel sound bank made by quorvel-make-sample\n";
    const std::vector<std::pair<std::string, std::size_t>> sfx_files = {
        {"sfx_0001.wav", 264},  // 20 ms of 8-bit 11025 Hz: 220 frames after the 44-byte header
        {"sfx_0002", 3},       {"sfx_0003.wav", 0},       {"sfx_0004.wav", 0}, {"sfx_0005", 2},
        {"sfx_0006.AVQF", 12}, {"sfx_0007", 0},           {"sfx_0008", 12},    {"sfx_0010", 2},
        {"sfx_0011", 12},      {"sfx_0012", text.size()}, {"sfx_0013", 12},    {"sfx_0014.wav", 0},
    };
    ASSERT_EQ(sfx.files.size(), sfx_files.size());
    const auto bytes = [&archive](const model::File& file) {
        return archive.substr(file.bytes.offset, file.bytes.size);
    };
    for (std::size_t i = 0; i < sfx_files.size(); ++i) {
        const auto& [name, size] = sfx_files[i];
        SCOPED_TRACE(name);
        EXPECT_EQ(model::FileName("sfx", sfx.files[i]), name);
        if (sfx.files[i].extension == ".wav") {
            EXPECT_EQ(bytes(sfx.files[i]).substr(0, 4), "RIFF");
            EXPECT_EQ(U32At(bytes(sfx.files[i]), 4) + 8u, sfx.files[i].bytes.size) << "kept whole, as declared";
        }
        if (size != 0) {
            EXPECT_EQ(sfx.files[i].bytes.size, size);
        }
    }
    EXPECT_EQ(bytes(sfx.files[5]).substr(0, 4), "AVQF");
    EXPECT_EQ(bytes(sfx.files[7]).substr(0, 4), "RIFX");
    EXPECT_EQ(bytes(sfx.files[10]), text);
    EXPECT_NE(bytes(sfx.files[12]).find("RIFF", 12), std::string::npos) << "the chance RIFF stays inside";
    EXPECT_EQ(sfx.numbers_without_file, std::vector<std::int64_t>{9});

    const std::string speech = Archive(game.speech);
    const model::Extraction expected = model::ExtractArchive(testing::AsBytes(speech));
    ASSERT_EQ(expected.files.size(), 3u);
    EXPECT_EQ(model::FileName("speech", expected.files[0]), "speech_0001.wav");
    EXPECT_EQ(model::FileName("speech", expected.files[1]), "speech_0002.AVQF");
    EXPECT_EQ(expected.files[1].bytes.size, 24u);
    EXPECT_EQ(model::FileName("speech", expected.files[2]), "speech_0003");
    EXPECT_EQ(expected.files[2].bytes.size, 0u);
}

}  // namespace
}  // namespace quorvel::sample
