#include "audio/sound_replacement.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <regex>

#include "audio/input_slice.hpp"
#include "audio/memory_input.hpp"
#include "audio/sound_decoder.hpp"
#include "audio/tests/sound_kit.hpp"
#include "testing/byte_order.hpp"

namespace quorvel::audio {
namespace {

using Bytes = std::vector<std::byte>;
using quorvel::testing::LittleEndianAt;
using quorvel::testing::PutLittleEndian;

// About 1.2 s: long enough for the gated loudness, short enough for every
// pair of formats.
constexpr double kSeconds = 1.2;
constexpr float kArchivedLevel = 0.1f;  // the archived sounds are 20 dB under the new ones

struct NewSound {
    const char* name;  // as the report names its format
    int sf_format;
    int sample_rate;
    int channels;
};

void PrintTo(const NewSound& sound, std::ostream* out)
{
    *out << sound.name << ", " << sound.channels << " ch, " << sound.sample_rate << " Hz";
}

// One of each input, made once: Vorbis, Opus and MP3 take a moment to encode.
const Bytes& NewSoundBytes(const NewSound& sound)
{
    static std::map<int, Bytes> made;
    auto found = made.find(sound.sf_format);
    if (found == made.end()) {
        const auto frames = static_cast<std::int64_t>(kSeconds * sound.sample_rate);
        const auto samples = testing::MakeSignal(sound.channels, sound.sample_rate, frames, 7);
        found = made.emplace(sound.sf_format,
                             testing::EncodeSound(sound.sf_format, sound.channels, sound.sample_rate, samples))
                    .first;
    }
    return found->second;
}

struct Archived {
    const char* name;
    int sf_format;
    int sample_rate;
    int channels;
};

void PrintTo(const Archived& archived, std::ostream* out)
{
    *out << "archived " << archived.name << ", " << archived.channels << " ch, " << archived.sample_rate << " Hz";
}

Bytes ArchivedBytes(const Archived& archived, double seconds = kSeconds)
{
    auto samples = testing::MakeSignal(archived.channels, archived.sample_rate,
                                       static_cast<std::int64_t>(seconds * archived.sample_rate), 3);
    for (float& sample : samples) {
        sample *= kArchivedLevel;
    }
    return testing::EncodeSound(archived.sf_format, archived.channels, archived.sample_rate, samples);
}

// The frames a WAV holds: its fact chunk's count, or its data over its
// block align.
std::int64_t FramesOf(const Bytes& wav)
{
    if (const auto fact = testing::FindChunk(wav, "fact")) {
        return LittleEndianAt(*fact, 0);
    }
    const auto fmt = testing::FindChunk(wav, "fmt ");
    const auto block_align = static_cast<std::int64_t>(LittleEndianAt(*fmt, 12) & 0xFFFF);
    return static_cast<std::int64_t>(testing::FindChunk(wav, "data")->size()) / block_align;
}

FittedSound FitBytes(const Bytes& archived, const Bytes& replacement, const std::string& name,
                     const ReplacementOptions& options = {})
{
    MemoryInput old_sound(archived);
    MemoryInput new_sound(replacement);
    return FittedSound::Fit(old_sound, "sfx/sfx_0012.wav", new_sound, name, options);
}

Bytes Written(FittedSound& fitted)
{
    MemoryOutput out;
    fitted.WriteTo(out);
    return out.bytes();
}

const NewSound kNewSounds[] = {
    {"WAV PCM 16 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2},
    {"FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2},
    {"Ogg Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2},
    {"Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2},
    {"MP3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2},
    {"AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 32000, 1},
};

const Archived kArchived[] = {
    {"PCM 8 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 11025, 1},
    {"PCM 16 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 2},
    {"PCM 24 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 1},
    {"PCM 32 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 16000, 1},
    {"float 32 bit", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 1},
    {"float 64 bit", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 44100, 2},
    {"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 22050, 1},
    {"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 44100, 2},
    {"MS ADPCM", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 22050, 1},
    {"GSM 6.10", SF_FORMAT_WAV | SF_FORMAT_GSM610, 8000, 1},
    {"µ-law", SF_FORMAT_WAV | SF_FORMAT_ULAW, 8000, 1},
    {"A-law", SF_FORMAT_WAV | SF_FORMAT_ALAW, 11025, 2},
    {"G.721 ADPCM", SF_FORMAT_WAV | SF_FORMAT_G721_32, 8000, 1},
    {"PCM 16 bit", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 44100, 2},
    {"float 32 bit", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 24000, 1},
};

class EveryInputIntoEveryEncoding : public ::testing::TestWithParam<std::tuple<NewSound, Archived>> {};

// The result, decoded, is in the archived sound's format field for field,
// as long as the new sound, and as loud as the sound it replaces.
TEST_P(EveryInputIntoEveryEncoding, TakesTheArchivedFormatKeepsItsLengthAndMatchesTheLoudness)
{
    const auto& [source, target] = GetParam();
    Bytes archived = ArchivedBytes(target);
    if (const auto peak = testing::FindChunkOffset(archived, "PEAK")) {
        PutLittleEndian(std::span(archived).subspan(*peak + 4, 4), 0x12345678);  // a time stamp of its own
    }
    const Bytes& replacement = NewSoundBytes(source);
    FittedSound fitted = FitBytes(archived, replacement, "new.sound");
    const Bytes result = Written(fitted);

    EXPECT_EQ(testing::FindChunk(result, "fmt "), testing::FindChunk(archived, "fmt "))
        << "tag, channels, rate, bits, block align, samples per block, channel mask and sub-format";
    const auto old_sound = testing::DecodeSound(archived, FramesOf(archived));
    const auto new_sound = testing::DecodeSound(replacement);
    const auto stored = testing::DecodeSound(result, FramesOf(result));
    EXPECT_EQ(stored.sf_format, old_sound.sf_format);
    const double expected_frames = static_cast<double>(new_sound.frames()) * target.sample_rate / source.sample_rate;
    EXPECT_NEAR(static_cast<double>(stored.frames()), expected_frames, 1.0);
    EXPECT_NEAR(testing::IntegratedLoudness(stored), testing::IntegratedLoudness(old_sound), 0.5);

    const ReplacementReport& report = fitted.report();
    EXPECT_EQ(report.input.format, source.name);
    EXPECT_EQ(report.output.format, target.name);
    EXPECT_EQ(report.output.frames, stored.frames());
    EXPECT_EQ(report.bytes, result.size());
    EXPECT_EQ(fitted.size(), result.size());
    EXPECT_TRUE(report.notes.empty()) << report.Text();

    // libsndfile gives a float sound a "PEAK" chunk with a time stamp: the
    // new one states the new peaks, under the old stamp, and the same input
    // gives the same bytes.
    if (testing::FindChunk(archived, "PEAK")) {
        const auto new_peak = testing::FindChunk(result, "PEAK");
        ASSERT_TRUE(new_peak);
        EXPECT_EQ(LittleEndianAt(*new_peak, 4), 0x12345678U);
        float stated = 0;
        std::memcpy(&stated, new_peak->data() + 8, 4);  // the first channel's
        float first_channel = 0;
        for (std::size_t i = 0; i < stored.samples.size(); i += static_cast<std::size_t>(stored.channels)) {
            first_channel = std::max(first_channel, std::abs(stored.samples[i]));
        }
        EXPECT_NEAR(stated, first_channel, 1e-6);
        FittedSound again = FitBytes(archived, replacement, "new.sound");
        EXPECT_EQ(Written(again), result);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryInputIntoEveryEncoding,
                         ::testing::Combine(::testing::ValuesIn(kNewSounds), ::testing::ValuesIn(kArchived)),
                         [](const auto& info) {
                             std::string name = std::string(std::get<0>(info.param).name) + "_into_" +
                                                std::get<1>(info.param).name + "_" +
                                                std::to_string(std::get<1>(info.param).channels) + "ch_" +
                                                std::to_string(info.index);
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

// --- The header -------------------------------------------------------

Bytes ImaWithBlocks(int encode_rate, int header_rate, std::optional<int> block_align = std::nullopt)
{
    Bytes wav = testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, encode_rate,
                                     testing::MakeSignal(1, encode_rate, encode_rate, 3));
    const std::size_t fmt = *testing::FindChunkOffset(wav, "fmt ");
    const std::uint32_t block = block_align.value_or(LittleEndianAt(wav, fmt + 12) & 0xFFFF);
    const std::uint32_t samples = (block - 4) * 2 + 1;
    PutLittleEndian(std::span(wav).subspan(fmt + 4, 4), header_rate);
    PutLittleEndian(std::span(wav).subspan(fmt + 8, 4), header_rate * block / samples);
    PutLittleEndian(std::span(wav).subspan(fmt + 12, 2), block);
    PutLittleEndian(std::span(wav).subspan(fmt + 18, 2), samples);
    return wav;
}

// libsndfile would write 512-byte blocks at 22,050 Hz; the encoder is
// opened at a rate that makes 256-byte ones, as the archived sound has.
TEST(ReplacementHeader, KeepsAnAdpcmBlockSizeThatLibsndfileWouldNotChooseForTheRate)
{
    const Bytes archived = ImaWithBlocks(11025, 22050);
    const Bytes replacement = NewSoundBytes(kNewSounds[0]);
    FittedSound fitted = FitBytes(archived, replacement, "new.wav");
    const Bytes result = Written(fitted);
    EXPECT_EQ(testing::FindChunk(result, "fmt "), testing::FindChunk(archived, "fmt "));
    EXPECT_EQ(testing::FindChunk(result, "data")->size() % 256, 0U);
    const auto stored = testing::DecodeSound(result, FramesOf(result));
    EXPECT_EQ(stored.sample_rate, 22050);
    EXPECT_NEAR(static_cast<double>(stored.frames()), kSeconds * 22050, 1.0);
    EXPECT_NEAR(testing::IntegratedLoudness(stored), testing::IntegratedLoudness(testing::DecodeSound(archived)), 0.5);
    EXPECT_TRUE(fitted.report().notes.empty()) << fitted.report().Text();
}

TEST(ReplacementHeader, WritesABlockSizeNoRateGivesAtLibsndfilesSizeAndSaysSo)
{
    const Bytes archived = ImaWithBlocks(22050, 22050, 300);
    FittedSound fitted = FitBytes(archived, NewSoundBytes(kNewSounds[0]), "new.wav");
    const Bytes result = Written(fitted);
    const Bytes fmt = *testing::FindChunk(result, "fmt ");
    EXPECT_EQ(LittleEndianAt(fmt, 0) & 0xFFFF, 0x0011U);
    EXPECT_EQ(LittleEndianAt(fmt, 4), 22050U);
    EXPECT_EQ(LittleEndianAt(fmt, 8), 22050U * 512 / 1017);
    EXPECT_EQ(LittleEndianAt(fmt, 12) & 0xFFFF, 512U);
    EXPECT_EQ(LittleEndianAt(fmt, 16) >> 16, 1017U);  // samples per block, after cbSize
    EXPECT_NEAR(static_cast<double>(testing::DecodeSound(result, FramesOf(result)).frames()), kSeconds * 22050, 1.0);
    // (The archived data, decoded in blocks it was not made in, is noise: its
    // level and peak are no measure of anything here.)
    const auto& notes = fitted.report().notes;
    const auto note = std::find_if(notes.begin(), notes.end(), [](const ReplacementNote& n) {
        return n.kind == ReplacementNote::Kind::kBlockSizeNotMatched;
    });
    ASSERT_NE(note, notes.end()) << fitted.report().Text();
    EXPECT_EQ(note->text,
              "blocks of 300 bytes (593 frames), as the sound it replaces has, cannot be made: written in blocks of "
              "512 bytes (1017 frames)");
}

// Loops and cue points keep their frames; the loop over the whole sound
// follows the new length; what the shorter sound does not reach is dropped
// and named; a chunk the tool does not know is carried as it is.
TEST(ReplacementHeader, CarriesLoopsCuePointsAndUnknownChunksToAShorterSound)
{
    testing::SoundExtras extras;
    extras.loops = {{0, 44100}, {1000, 5000}, {30000, 40000}};  // libsndfile's ends are one past the last frame
    extras.cue_points = {500, 25000};
    extras.chunks = {{"qvl1", "kept as it is"}};
    auto old_samples = testing::MakeSignal(1, 22050, 44100, 3);
    const Bytes archived = testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, old_samples, extras);
    const Bytes replacement =
        testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, testing::MakeSignal(1, 22050, 22050, 9));

    FittedSound fitted = FitBytes(archived, replacement, "short.wav");
    const Bytes result = Written(fitted);
    const testing::SoundExtras kept = testing::ReadMarkers(result);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> loops = {{0, 22050}, {1000, 5000}};
    EXPECT_EQ(kept.loops, loops);
    EXPECT_EQ(kept.cue_points, std::vector<std::uint32_t>{500});
    EXPECT_EQ(testing::FindChunk(result, "qvl1"), testing::FindChunk(archived, "qvl1"));
    std::vector<std::string> notes;
    for (const ReplacementNote& note : fitted.report().notes) {
        notes.push_back(note.text);
    }
    EXPECT_EQ(notes, (std::vector<std::string>{
                         // in the order of their chunks
                         "cue point 2 (frame 25000) dropped: past the new end at frame 22050",
                         "loop 3 (frames 30000 to 39999) dropped: past the new end at frame 22050",
                     }));

    // Fitted to the archived length, every point stays where it was.
    FittedSound same_length = FitBytes(archived, replacement, "short.wav", {.fit_length = true});
    const testing::SoundExtras all = testing::ReadMarkers(Written(same_length));
    EXPECT_EQ(all.loops, extras.loops);
    EXPECT_EQ(all.cue_points, extras.cue_points);
}

// The front-ends hand over an archived sound where it lies in its archive.
TEST(ReplacementHeader, ReadsTheArchivedSoundWhereItLiesInItsArchive)
{
    const Bytes sound = ArchivedBytes({"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 22050, 1});
    Bytes archive(1000 + sound.size() + 777, std::byte{'I'});
    std::fill_n(archive.begin(), 1000, std::byte{'R'});
    std::copy(sound.begin(), sound.end(), archive.begin() + 1000);
    MemoryInput whole(archive);
    InputSlice slice(whole, 1000, sound.size());
    MemoryInput new_sound(NewSoundBytes(kNewSounds[0]));
    FittedSound from_slice = FittedSound::Fit(slice, "sfx/sfx_0012.wav", new_sound, "new.wav");
    FittedSound from_bytes = FitBytes(sound, NewSoundBytes(kNewSounds[0]), "new.wav");
    EXPECT_EQ(Written(from_slice), Written(from_bytes));
}

// --- The level and the length ------------------------------------------

TEST(ReplacementLevel, AnInputAlreadyInTheFormatGoesInByteForByteWhenItsLevelIsKept)
{
    const Archived ima = {"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 22050, 1};
    const Bytes archived = ArchivedBytes(ima);
    const Bytes replacement = testing::EncodeSound(ima.sf_format, 1, 22050, testing::MakeSignal(1, 22050, 17000, 5));

    FittedSound kept = FitBytes(archived, replacement, "ready.wav", {.keep_loudness = true});
    EXPECT_EQ(Written(kept), replacement);
    EXPECT_EQ(kept.report().level, LevelRule::kCopied);
    EXPECT_EQ(kept.report().output.frames, FramesOf(replacement));

    FittedSound matched = FitBytes(archived, replacement, "ready.wav");
    EXPECT_NE(Written(matched), replacement);
    EXPECT_EQ(matched.report().level, LevelRule::kMatched);
}

struct LengthCase {
    std::int64_t new_frames;
    ReplacementNote::Kind note;
};

class ReplacementLength : public ::testing::TestWithParam<LengthCase> {};

// Float in, float out, level kept: every sample before the fade is the new
// sound's own, so the cut and the padding are seen exactly.
TEST_P(ReplacementLength, FitsTheArchivedLengthWithAFadeOrSilence)
{
    constexpr int kRate = 22050;
    constexpr std::int64_t kArchivedFrames = 22050;
    constexpr std::int64_t kFade = 221;  // 10 ms
    const int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    const Bytes archived = testing::EncodeSound(format, 1, kRate, testing::MakeSignal(1, kRate, kArchivedFrames, 3));
    const auto samples = testing::MakeSignal(1, kRate, GetParam().new_frames, 4);
    FittedSound fitted = FitBytes(archived, testing::EncodeSound(format, 1, kRate, samples), "new.wav",
                                  {.keep_loudness = true, .fit_length = true});
    const auto stored = testing::DecodeSound(Written(fitted));

    ASSERT_EQ(stored.frames(), kArchivedFrames);
    const auto kept = std::min(GetParam().new_frames, kArchivedFrames - kFade);
    EXPECT_TRUE(std::equal(stored.samples.begin(), stored.samples.begin() + kept, samples.begin()));
    if (GetParam().new_frames > kArchivedFrames) {
        EXPECT_EQ(stored.samples.back(), 0.0f);
        for (std::int64_t i = kept; i < kArchivedFrames; ++i) {
            EXPECT_LE(std::abs(stored.samples[static_cast<std::size_t>(i)]),
                      std::abs(samples[static_cast<std::size_t>(i)]));
        }
    } else {
        EXPECT_TRUE(std::all_of(stored.samples.begin() + kept, stored.samples.end(), [](float x) { return x == 0; }));
    }
    ASSERT_EQ(fitted.report().notes.size(), 1U);
    EXPECT_EQ(fitted.report().notes[0].kind, GetParam().note);
}

INSTANTIATE_TEST_SUITE_P(LongerAndShorter, ReplacementLength,
                         ::testing::Values(LengthCase{40000, ReplacementNote::Kind::kTrimmed},
                                           LengthCase{10000, ReplacementNote::Kind::kPadded}));

// A quiet sound with sharp clicks: matching the loudness would take its
// clicks far over full scale, so the gain stops at the true-peak ceiling.
TEST(ReplacementLevel, LowersAGainThatWouldTakeTheTruePeakOverTheCeilingAndSaysSo)
{
    constexpr int kRate = 22050;
    const int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    auto loud = testing::MakeSignal(1, kRate, 2 * kRate, 3);
    for (float& x : loud) {
        x *= 0.5f;  // true peak about -7 dBTP: the ceiling is -1 dBTP
    }
    auto clicks = testing::MakeSignal(1, kRate, 2 * kRate, 4);
    for (std::size_t i = 0; i < clicks.size(); ++i) {
        clicks[i] = i % 3000 == 0 ? 0.5f : clicks[i] * 0.01f;
    }
    const Bytes archived = testing::EncodeSound(format, 1, kRate, loud);
    FittedSound fitted = FitBytes(archived, testing::EncodeSound(format, 1, kRate, clicks), "clicks.wav");
    const auto stored = testing::DecodeSound(Written(fitted));

    EXPECT_LE(testing::TruePeak(stored), -1.0);
    EXPECT_GT(testing::TruePeak(stored), -1.5);
    EXPECT_LT(testing::IntegratedLoudness(stored), testing::IntegratedLoudness(testing::DecodeSound(archived)) - 3);
    ASSERT_EQ(fitted.report().notes.size(), 1U);
    EXPECT_EQ(fitted.report().notes[0].kind, ReplacementNote::Kind::kGainLowered);
    EXPECT_NE(fitted.report().notes[0].text.find("to keep the true peak at or under -1.0 dBTP"), std::string::npos);
}

// Past the stores' 4 MiB in memory, both spill to their temporary files:
// the fitted floats (9 MiB) and the encoded sound (4.6 MiB). Every sample
// comes back where it belongs, times the gain, within the dither's step.
TEST(ReplacementLevel, ALongSoundComesBackWholeThroughTheTemporaryFiles)
{
    constexpr int kRate = 44100;
    constexpr std::int64_t kFrames = 26 * kRate;
    const int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const Bytes replacement = testing::EncodeSound(format, 2, kRate, testing::MakeSignal(2, kRate, kFrames, 8));
    FittedSound fitted = FitBytes(ArchivedBytes({"PCM 16 bit", format, kRate, 2}), replacement, "long.wav");
    const auto stored = testing::DecodeSound(Written(fitted));
    const auto original = testing::DecodeSound(replacement);

    ASSERT_EQ(stored.frames(), kFrames);
    const auto gain = static_cast<float>(std::pow(10.0, fitted.report().gain_db / 20));
    float worst = 0;
    for (std::size_t i = 0; i < stored.samples.size(); ++i) {
        worst = std::max(worst, std::abs(stored.samples[i] - original.samples[i] * gain));
    }
    EXPECT_LE(worst * 32768, 1.5f);
}

// --- The report --------------------------------------------------------

TEST(ReplacementReport, SaysWhatBecomesOfTheSoundInOneLineAndAsJson)
{
    const Bytes archived = ArchivedBytes({"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 22050, 1});
    FittedSound fitted = FitBytes(archived, NewSoundBytes(kNewSounds[4]), "new \"door\".mp3");
    const ReplacementReport& report = fitted.report();
    const std::string text = report.Text();
    std::smatch figures;
    ASSERT_TRUE(std::regex_match(text, figures,
                                 std::regex(R"(new "door"\.mp3 \(MP3, 2 ch, 44100 Hz, 1\.20 s, (-\d+\.\d) LUFS\) -> )"
                                            R"(IMA ADPCM, 1 ch, 22050 Hz, 1\.20 s, (-\d+\.\d) LUFS )"
                                            R"(\(gain (-\d+\.\d) dB, matched to the sound it replaces\)\n)")))
        << text;
    EXPECT_NEAR(std::stod(figures[1]), *report.input.loudness.lufs, 0.05);
    EXPECT_NEAR(std::stod(figures[2]), *report.output.loudness.lufs, 0.05);
    EXPECT_NEAR(std::stod(figures[3]), report.gain_db, 0.05);

    const std::string json = report.Json();
    for (const std::string& field : std::vector<std::string>{
             R"("file": "new \"door\".mp3")", R"("replaces": "sfx/sfx_0012.wav")", R"("encoding": "ima_adpcm")",
             R"("level": "matched")", R"("channels": "stereo to mono: the mean of the two")", R"("notes": [])",
             R"("bytes": )" + std::to_string(fitted.size())}) {
        EXPECT_NE(json.find(field), std::string::npos) << field << " in " << json;
    }
}

// --- Hostile archived headers ------------------------------------------

struct Chunk {
    std::string id;
    Bytes payload;
    std::optional<std::uint32_t> size;  // what the header says, when it lies
};

Bytes Riff(const std::vector<Chunk>& chunks, std::int64_t riff_size_error = 0, const char* form = "RIFF")
{
    Bytes wav(12);
    std::memcpy(wav.data(), form, 4);
    std::memcpy(wav.data() + 8, "WAVE", 4);
    for (const Chunk& chunk : chunks) {
        const std::size_t at = wav.size();
        wav.resize(at + 8);
        std::memcpy(wav.data() + at, chunk.id.data(), 4);
        PutLittleEndian(std::span(wav).subspan(at + 4, 4),
                        chunk.size.value_or(static_cast<std::uint32_t>(chunk.payload.size())));
        wav.insert(wav.end(), chunk.payload.begin(), chunk.payload.end());
        if (chunk.payload.size() % 2 == 1) {
            wav.push_back(std::byte{0});
        }
    }
    PutLittleEndian(std::span(wav).subspan(4, 4), static_cast<std::uint32_t>(wav.size() - 8 + riff_size_error));
    return wav;
}

Bytes Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t block_align, std::uint16_t bits,
          std::size_t size = 16)
{
    Bytes fmt(size);
    PutLittleEndian(std::span(fmt).subspan(0, 2), tag);
    PutLittleEndian(std::span(fmt).subspan(2, 2), channels);
    PutLittleEndian(std::span(fmt).subspan(4, 4), rate);
    PutLittleEndian(std::span(fmt).subspan(8, 4), rate * block_align);
    PutLittleEndian(std::span(fmt).subspan(12, 2), block_align);
    PutLittleEndian(std::span(fmt).subspan(14, 2), bits);
    if (size >= 18) {
        PutLittleEndian(std::span(fmt).subspan(16, 2), static_cast<std::uint32_t>(size - 18));
    }
    return fmt;
}

Bytes Counted(std::uint32_t count, std::size_t size)
{
    Bytes payload(size);
    PutLittleEndian(std::span(payload).subspan(size >= 36 ? 28 : 0, 4), count);
    return payload;
}

struct Hostile {
    const char* what;
    Bytes wav;
    const char* said;  // in the error
};

std::vector<Hostile> HostileHeaders()
{
    const Bytes pcm = Fmt(1, 1, 22050, 2, 16);
    const Bytes data(400);
    std::vector<Chunk> junk(1100, Chunk{"JUNK", {}, {}});
    junk.insert(junk.begin(), Chunk{"fmt ", pcm, {}});
    junk.push_back({"data", data, {}});
    return {
        {"not RIFF", Riff({{"fmt ", pcm, {}}, {"data", data, {}}}, 0, "RIFX"), "not \"RIFF\", a size and \"WAVE\""},
        {"RIFF past the end", Riff({{"fmt ", pcm, {}}, {"data", data, {}}}, 100),
         "its RIFF header at offset 0 says 544 bytes, but it has 444"},
        {"data past the end", Riff({{"fmt ", pcm, {}}, {"data", data, 1000000}}),
         "the \"data\" chunk at offset 36 says 1000000 bytes, but the sound ends 400 bytes after its header"},
        {"data of 4 GiB", Riff({{"fmt ", pcm, {}}, {"data", data, 0xFFFFFFFF}}), "says 4294967295 bytes"},
        {"format past the end", Riff({{"fmt ", pcm, 5000}, {"data", data, {}}}),
         "the \"fmt \" chunk at offset 12 says 5000"},
        {"no data", Riff({{"fmt ", pcm, {}}}), "no \"data\" chunk before the end at offset 36"},
        {"no format", Riff({{"data", data, {}}}), "no \"fmt \" chunk"},
        {"two data chunks", Riff({{"fmt ", pcm, {}}, {"data", data, {}}, {"data", data, {}}}),
         "the \"data\" chunk at offset 444 is a second one"},
        {"a short format", Riff({{"fmt ", Bytes(14), {}}, {"data", data, {}}}), "has 14 bytes; a format takes 16"},
        {"no channels", Riff({{"fmt ", Fmt(1, 0, 22050, 2, 16), {}}, {"data", data, {}}}), "says 0 channels"},
        {"65535 channels", Riff({{"fmt ", Fmt(1, 65535, 22050, 2, 16), {}}, {"data", data, {}}}),
         "says 65535 channels; 1 to 64 expected"},
        {"no rate", Riff({{"fmt ", Fmt(1, 1, 0, 2, 16), {}}, {"data", data, {}}}), "a rate of 0 Hz"},
        {"no block align", Riff({{"fmt ", Fmt(1, 1, 22050, 0, 16), {}}, {"data", data, {}}}), "blocks of 0 bytes"},
        {"a short extensible format", Riff({{"fmt ", Fmt(0xFFFE, 1, 22050, 2, 16, 18), {}}, {"data", data, {}}}),
         "has 18 bytes; an extensible format takes 40"},
        {"IMA ADPCM without its block count", Riff({{"fmt ", Fmt(0x11, 1, 22050, 512, 4), {}}, {"data", data, {}}}),
         "has 16 bytes; a block-coded format takes 20"},
        {"thousands of chunks", Riff(junk), "more than 1024 chunks"},
        {"loops that are not there", Riff({{"fmt ", pcm, {}}, {"smpl", Counted(1000, 60), {}}, {"data", data, {}}}),
         "the \"smpl\" chunk at offset 36 lists 1000 loops in 60 bytes"},
        {"cue points that are not there",
         Riff({{"fmt ", pcm, {}}, {"cue ", Counted(0xFFFFFFFF, 28), {}}, {"data", data, {}}}),
         "lists 4294967295 cue points in 28 bytes"},
        {"MPEG in a WAV", Riff({{"fmt ", Fmt(0x55, 1, 22050, 1, 0), {}}, {"data", data, {}}}),
         "stored as format 0x0055, which no encoder here writes"},
    };
}

TEST(ReplacementHeader, RefusesArchivedHeadersThatLieNamingTheSoundAndTheOffset)
{
    const Bytes replacement = NewSoundBytes(kNewSounds[0]);
    for (const Hostile& hostile : HostileHeaders()) {
        try {
            FitBytes(hostile.wav, replacement, "new.wav");
            ADD_FAILURE() << hostile.what << ": taken";
        } catch (const SoundError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("sfx/sfx_0012.wav: ", 0), 0U) << hostile.what << ": " << message;
            EXPECT_NE(message.find(hostile.said), std::string::npos) << hostile.what << ": " << message;
        }
    }
}

}  // namespace
}  // namespace quorvel::audio
