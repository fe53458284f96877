// Stored sounds as the listing tells them and as decoding serves them: the
// encoding and the sound's own length of every encoding, through the real
// listing of an archive; the decoded WAV read in pieces and at random
// ranges; and damaged sounds refused with a reason, never decoded.

#include "audio/stored_sound.hpp"

#include <sndfile.h>

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "app/game_reader.hpp"
#include "app/listed_file_input.hpp"
#include "app/listing_records.hpp"
#include "audio/decoded_wav.hpp"
#include "audio/memory_input.hpp"
#include "audio/sound_peaks.hpp"
#include "audio/tests/encoding_cases.hpp"
#include "audio/tests/sound_kit.hpp"
#include "extract/extract_error.hpp"
#include "testing/archive_builder.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel::audio {
namespace {

using Bytes = std::vector<std::byte>;

// Where the body of the first chunk `id` lies in a sound libsndfile made.
std::size_t ChunkBody(const Bytes& sound, const char (&id)[5])
{
    for (std::size_t at = 12; at + 8 <= sound.size();) {
        std::uint32_t size = 0;
        std::memcpy(&size, sound.data() + at + 4, 4);
        if (std::memcmp(sound.data() + at, id, 4) == 0) {
            return at + 8;
        }
        at += 8 + size + size % 2;
    }
    throw std::runtime_error(std::string("no chunk ") + id);
}

// The sound with a header field changed, as damage would change it.
Bytes Patched(Bytes sound, std::size_t at, std::uint32_t value, int width)
{
    for (int i = 0; i < width; ++i) {
        sound.at(at + static_cast<std::size_t>(i)) = static_cast<std::byte>(value >> (8 * i));
    }
    return sound;
}

// The sound without its fact chunk: its id no longer names one.
Bytes WithoutFact(Bytes sound)
{
    const std::size_t body = ChunkBody(sound, "fact");
    std::memcpy(sound.data() + body - 8, "junk", 4);
    return sound;
}

// The frames libsndfile finds in the sound, its fact chunk ignored: the
// whole blocks of a compressed one.
std::int64_t FramesOfItsBlocks(const Bytes& sound)
{
    MemoryInput input(sound);
    return SoundDecoder::Open(input, "sound").frames();
}

Bytes MakeSound(int sf_format, int channels, int rate, std::int64_t frames, std::uint32_t seed = 1)
{
    return testing::EncodeSound(sf_format, channels, rate, testing::MakeSignal(channels, rate, frames, seed));
}

// What the listing should say of a sound.
struct Expected {
    std::string key;
    std::string label;
    std::int64_t frames = 0;
    int rate = 0;
};

TEST(StoredSoundListing, NamesTheEncodingAndOwnLengthOfEverySound)
{
    constexpr std::int64_t kFrames = 20000;
    std::vector<quorvel::testing::Part> sounds;
    std::vector<Expected> expected;
    const auto add = [&](const Bytes& sound, Expected what) {
        sounds.emplace_back(std::span(sound));
        expected.push_back(std::move(what));
    };
    for (const testing::EncodingCase& encoding : testing::kEncodingCases) {
        const Bytes sound = MakeSound(encoding.sf_format, encoding.channels, encoding.sample_rate, kFrames);
        // IMA ADPCM's fact counts the last block's padding, so its frames are its blocks'.
        const std::int64_t frames = encoding.counts_padding ? FramesOfItsBlocks(sound) : kFrames;
        add(sound, {encoding.key, encoding.label, frames, encoding.sample_rate});
    }
    // Without a fact chunk, a compressed sound's length is its whole blocks'
    // (an even number of GSM 6.10 blocks here: libsndfile counts the byte
    // that pads an odd number as a block more, which the reference decoding
    // test holds against sox).
    for (const int sf_format : {SF_FORMAT_MS_ADPCM, SF_FORMAT_GSM610, SF_FORMAT_IMA_ADPCM}) {
        const Bytes sound = WithoutFact(MakeSound(SF_FORMAT_WAV | sf_format, 1, 11025, 19000));
        const std::string key = sf_format == SF_FORMAT_MS_ADPCM ? "ms_adpcm"
                                : sf_format == SF_FORMAT_GSM610 ? "gsm610"
                                                                : "ima_adpcm";
        add(sound, {key, "", FramesOfItsBlocks(sound), 11025});
    }
    // Chunks of text, cue points, a loop and broadcast information around the samples.
    add(testing::EncodeSoundWithMetadata(SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, 22050,
                                         testing::MakeSignal(2, 22050, kFrames)),
        {"ms_adpcm", "MS ADPCM", kFrames, 22050});
    // An encoding known by its format tag only, timed by its byte rate.
    const Bytes pcm = MakeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, kFrames);
    add(Patched(pcm, ChunkBody(pcm, "fmt "), 0x1234, 2), {"0x1234", "0x1234", kFrames, 8000});

    quorvel::testing::MemoryFileSystem files;
    files.AddArchive("sfx.pak", quorvel::testing::Archive().AddBlock(sounds).Final());
    const GameReader game = GameReader::Open(files, Places{}, /*with_speech=*/false);
    ASSERT_EQ(game.Files().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ListedFile& file = game.Files()[i];
        SCOPED_TRACE(file.path + ", " + expected[i].key);
        ASSERT_TRUE(file.format);
        EXPECT_EQ(file.format->frames, static_cast<std::uint64_t>(expected[i].frames));
        const std::string record = FileRecord(file);
        EXPECT_NE(record.find("\"encoding\": \"" + expected[i].key + "\""), std::string::npos) << record;
        const std::string seconds = SecondsText(static_cast<double>(expected[i].frames) / expected[i].rate);
        EXPECT_NE(record.find("\"seconds\": " + seconds + "}"), std::string::npos) << record;
        if (!expected[i].label.empty()) {
            EXPECT_EQ(EncodingLabel(*file.format), expected[i].label);
        }
        // Decoding stops where the listing says the sound ends.
        if (expected[i].key != "0x1234") {
            ListedFileInput input(game, file);
            EXPECT_EQ(OpenSound(input, file.path).frames(), expected[i].frames);
        }
    }
}

TEST(StoredSoundListing, ReadsNoByteBeyondTheHeadItIsGiven)
{
    // Every cut of a sound's head, each in a buffer of its own size, so that
    // the sanitizers see any read past it.
    for (const int sf_format : {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM}) {
        const Bytes sound = MakeSound(sf_format, 2, 22050, 100);
        const std::size_t data = ChunkBody(sound, "data");
        for (std::size_t size = 0; size <= data; ++size) {
            const Bytes head(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_EQ(ReadWavFormat(head).has_value(), size == data) << size << " bytes";
        }
    }
}

// Reads that cannot be decoded: each damage names its reason.
struct Damage {
    const char* what;
    std::function<Bytes()> make;
    const char* reason;
};

std::vector<Damage> Damages()
{
    const Bytes pcm = MakeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 22050, 5000);
    const Bytes ima = MakeSound(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 22050, 5000);
    const Bytes ms = MakeSound(SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 1, 22050, 5000);
    const Bytes gsm = MakeSound(SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000, 5000);
    const std::size_t pcm_fmt = ChunkBody(pcm, "fmt ");
    const std::size_t ima_fmt = ChunkBody(ima, "fmt ");
    const std::size_t ms_fact = ChunkBody(ms, "fact");
    return {
        {"cut short in its samples", [=] { return Bytes(pcm.begin(), pcm.end() - 101); }, "cut short"},
        {"cut short in its header", [=] { return Bytes(pcm.begin(), pcm.begin() + 40); }, "no \"data\" chunk"},
        {"a block align of 0", [=] { return Patched(ima, ima_fmt + 12, 0, 2); }, "block align of 0"},
        {"65,535 channels", [=] { return Patched(pcm, pcm_fmt + 2, 65535, 2); }, "65535 channels"},
        {"3 channels of IMA ADPCM", [=] { return Patched(ima, ima_fmt + 2, 3, 2); }, "3 channels of IMA ADPCM"},
        {"0 channels of MS ADPCM", [=] { return Patched(ms, ChunkBody(ms, "fmt ") + 2, 0, 2); }, "says 0 channels"},
        {"a rate of 0", [=] { return Patched(pcm, pcm_fmt + 4, 0, 4); }, "at 0 Hz"},
        {"a rate of 4 GHz", [=] { return Patched(pcm, pcm_fmt + 4, 0xFFFFFFFF, 4); }, "a rate of 4294967295 Hz"},
        {"a fact chunk that asks for a frame more than its blocks hold",
         [=] { return Patched(ms, ms_fact, static_cast<std::uint32_t>(FramesOfItsBlocks(ms)) + 1, 4); },
         "its fact chunk says"},
        {"a fact chunk of 2^32 - 1 frames", [=] { return Patched(ms, ms_fact, 0xFFFFFFFF, 4); },
         "its fact chunk says 4294967295 frames"},
        {"samples per block its blocks do not hold", [=] { return Patched(ima, ima_fmt + 18, 4000, 2); },
         "4000 samples per block"},
        {"GSM 6.10 blocks of another size", [=] { return Patched(gsm, ChunkBody(gsm, "fmt ") + 12, 64, 2); },
         "samples per block of 64 bytes"},
        {"an encoding that is not decoded", [=] { return Patched(pcm, pcm_fmt, 0x1234, 2); }, "format tag 0x1234"},
        {"no RIFF WAVE header", [] { return Bytes(64, std::byte{'R'}); }, "RIFF WAVE header"},
        {"nothing", [] { return Bytes(); }, "RIFF WAVE header"},
    };
}

TEST(StoredSound, RefusesADamagedSoundWithItsReason)
{
    for (const Damage& damage : Damages()) {
        SCOPED_TRACE(damage.what);
        MemoryInput input(damage.make());
        const auto expect_refusal = [&](const std::function<void()>& open) {
            try {
                open();
                ADD_FAILURE() << "it was decoded";
            } catch (const SoundError& error) {
                const std::string message = error.what();
                EXPECT_NE(message.find("sfx/sfx_0004.wav: cannot be decoded: "), std::string::npos) << message;
                EXPECT_NE(message.find(damage.reason), std::string::npos) << message;
            }
        };
        expect_refusal([&] { OpenSound(input, "sfx/sfx_0004.wav"); });
        expect_refusal([&] { DecodedWav::Open(input, "sfx/sfx_0004.wav"); });
        expect_refusal([&] { ComputePeaks(input, "sfx/sfx_0004.wav", 100); });
    }
}

TEST(StoredSound, DecodesTheSamplesWhateverTheChunksBesideThemSay)
{
    const auto signal = testing::MakeSignal(1, 22050, 30000);
    const Bytes plain = testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, signal);
    Bytes carrying = testing::EncodeSoundWithMetadata(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, signal);
    // A text in the LIST chunk that says it is nearly 4 GiB long (libsndfile
    // would loop over it for minutes), and cue points past the end.
    const std::size_t list = ChunkBody(carrying, "LIST");
    carrying = Patched(std::move(carrying), list + 4, 0xB1414E49, 4);  // "INA\xB1", a part of no known kind
    carrying = Patched(std::move(carrying), list + 8, 0xFFFFFFF3, 4);
    // Found before the move: the order in which arguments are made is the compiler's.
    const std::size_t cue = ChunkBody(carrying, "cue ");
    carrying = Patched(std::move(carrying), cue, 0xFFFFFFFF, 4);
    const auto decode = [](const Bytes& sound) {
        MemoryInput input(sound);
        SoundDecoder decoder = OpenSound(input, "sfx/sfx_0005.wav");
        std::vector<std::int16_t> samples(40000);
        samples.resize(decoder.Read(samples));
        return samples;
    };
    const auto expected = decode(plain);
    EXPECT_EQ(expected.size(), 30000U);
    EXPECT_EQ(decode(carrying), expected);
}

// A file whose reads past `good_bytes` fail, as an archive's on a bad disk.
class FailingInput final : public InputFile {
public:
    FailingInput(Bytes bytes, std::uint64_t good_bytes) : bytes_(std::move(bytes)), good_bytes_(good_bytes) {}

    std::uint64_t Size() override { return bytes_.size(); }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        if (offset >= good_bytes_) {
            throw ExtractError(Failure{.kind = FailureKind::kSystem,
                                       .number = 5,
                                       .description = "Input/output error",
                                       .file = "sfx.pak",
                                       .offset = offset});
        }
        return bytes_input_.ReadAt(offset, buffer.first(std::min<std::size_t>(buffer.size(), good_bytes_ - offset)));
    }

private:
    Bytes bytes_;
    std::uint64_t good_bytes_;
    MemoryInput bytes_input_{bytes_};
};

TEST(StoredSound, AFailingInputIsThrownNotDecodedAsShortData)
{
    // About 200 KB each: the header is read whole, the samples are not.
    for (const auto& [sf_format, frames] : {std::pair{SF_FORMAT_PCM_16, 100000}, std::pair{SF_FORMAT_IMA_ADPCM, 400000},
                                            std::pair{SF_FORMAT_GSM610, 1000000}}) {
        SCOPED_TRACE(sf_format);
        const Bytes sound = MakeSound(SF_FORMAT_WAV | sf_format, 1, 22050, frames);
        FailingInput input(sound, sound.size() / 2);
        const auto wav = DecodedWav::Open(input, "sfx/sfx_0001.wav");
        std::vector<std::byte> everything(static_cast<std::size_t>(wav->Size()));
        EXPECT_THROW(wav->ReadAt(0, everything), ExtractError);
    }
}

// The decoded WAV's bytes, made the plain way: its header, then every
// sample of one sequential decoding.
Bytes ExpectedWav(InputFile& sound, DecodedWav& wav)
{
    Bytes bytes(wav.data_offset());
    EXPECT_EQ(wav.ReadAt(0, bytes), bytes.size());
    SoundDecoder decoder = OpenSound(sound, "reference");
    const auto channels = static_cast<std::size_t>(decoder.channels());
    const auto append = [&bytes](const auto& samples, std::size_t count) {
        const auto* first = reinterpret_cast<const std::byte*>(samples.data());
        bytes.insert(bytes.end(), first, first + count * sizeof(samples[0]));
    };
    std::vector<float> floats(4096 * channels);
    std::vector<std::int16_t> shorts(4096 * channels);
    for (;;) {
        const std::size_t got = wav.bits_per_sample() == 32 ? decoder.Read(floats) : decoder.Read(shorts);
        if (got == 0) {
            break;
        }
        if (wav.bits_per_sample() == 32) {
            append(floats, got * channels);
        } else {
            append(shorts, got * channels);
        }
    }
    return bytes;
}

TEST(DecodedWav, AnyRangeReadsAsTheWholeDecodingInOrder)
{
    struct Source {
        const char* what;
        int sf_format;
        int channels;
        int rate;
        std::int64_t frames;
    };
    const Source sources[] = {
        // Past 64 KiB decoded, in encodings libsndfile cannot seek.
        {"GSM 6.10", SF_FORMAT_GSM610, 1, 8000, 50000},
        {"G.721", SF_FORMAT_G721_32, 1, 8000, 40000},
        {"stereo IMA ADPCM", SF_FORMAT_IMA_ADPCM, 2, 22050, 30000},
        // Past 4 MiB decoded, as float.
        {"24-bit PCM", SF_FORMAT_PCM_24, 2, 48000, 600000},
    };
    for (const Source& source : sources) {
        SCOPED_TRACE(source.what);
        MemoryInput sound(MakeSound(SF_FORMAT_WAV | source.sf_format, source.channels, source.rate, source.frames));
        const auto wav = DecodedWav::Open(sound, "sfx/sfx_0002.wav");
        const Bytes expected = ExpectedWav(sound, *wav);
        ASSERT_EQ(wav->Size(), expected.size());
        ASSERT_GT(expected.size() - wav->data_offset(), source.frames > 100000 ? 4u << 20 : 64u << 10);

        // Front to back in pieces of an awkward size.
        Bytes whole(expected.size());
        for (std::size_t at = 0; at < whole.size();) {
            const std::size_t piece = std::min<std::size_t>(7777, whole.size() - at);
            ASSERT_EQ(wav->ReadAt(at, std::span(whole).subspan(at, piece)), piece) << "at " << at;
            at += piece;
        }
        EXPECT_TRUE(whole == expected);

        // Anywhere, in any order: across the header's end, pieces' edges and the file's end.
        std::mt19937_64 random(source.frames);
        for (int i = 0; i < 60; ++i) {
            const std::uint64_t offset = random() % (expected.size() + 10);
            Bytes range(1 + random() % 200000);
            const std::size_t got = wav->ReadAt(offset, range);
            const std::size_t left = offset < expected.size() ? expected.size() - offset : 0;
            ASSERT_EQ(got, std::min(range.size(), left)) << "at " << offset;
            ASSERT_TRUE(std::equal(
                range.begin(), range.begin() + static_cast<std::ptrdiff_t>(got),
                expected.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(offset, expected.size()))))
                << got << " bytes at " << offset;
        }

        // libsndfile reads the served file as the WAV it claims to be.
        SoundDecoder served = SoundDecoder::Open(*wav, "served");
        EXPECT_EQ(served.frames(), wav->frames());
        EXPECT_EQ(served.channels(), source.channels);
        EXPECT_EQ(served.sample_rate(), source.rate);
    }
}

}  // namespace
}  // namespace quorvel::audio
