// quorvel-sound-check: what one build's sound decoding gives, to be set
// beside another build's (the Windows build under Wine beside the Linux
// build, in windows/tests/run-under-wine.sh).
//
//   quorvel-sound-check make FOLDER
//       one sound of each encoding a game may hold, made by libsndfile
//   quorvel-sound-check decode SOUND SAMPLES
//       decodes SOUND through the platform's files, all the frames it
//       declares; writes its samples to SAMPLES (32-bit floats,
//       little-endian) and prints what it holds
//   quorvel-sound-check compare SAMPLES SAMPLES STEPS
//       the same samples, none of them more than STEPS apart at 16 bits
//
// Exit status: 0 done (or the same), 1 a failure or a difference, 2 usage.

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/sound_decoder.hpp"
#include "audio/tests/sound_kit.hpp"
#ifdef _WIN32
#include "platform/win32_file_system.hpp"
#else
#include "platform/posix_file_system.hpp"
#endif

namespace quorvel::audio {
namespace {

#ifdef _WIN32
using PlatformFileSystem = Win32FileSystem;
#else
using PlatformFileSystem = PosixFileSystem;
#endif

static_assert(std::endian::native == std::endian::little, "the samples files are little-endian floats");

struct TestSound {
    const char* name;
    int sf_format;
    int channels;
    int sample_rate;
    double seconds;  // long enough that each file passes 64 KiB
};

constexpr TestSound kSounds[] = {
    {"flac-24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 44100, 4},
    {"vorbis.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, 8},
    {"opus.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 2, 48000, 8},
    {"layer3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 44100, 8},
    {"ima-adpcm.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 22050, 8},
    {"gsm610.wav", SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000, 45},
};

void WriteWhole(FileSystem& files, const std::string& path, std::span<const std::byte> bytes)
{
    std::unique_ptr<OutputFile> output = files.CreateOutput(path, FileSystem::IfTaken::kReplace);
    try {
        output->Write(bytes);
        output->Close();
    } catch (...) {
        output->Abandon();
        throw;
    }
}

int Make(const std::string& folder)
{
    PlatformFileSystem files;
    if (const auto failure = files.MakeFolder(folder)) {
        std::fprintf(stderr, "quorvel-sound-check: %s\n", failure->OneLine().c_str());
        return 1;
    }
    std::uint32_t seed = 1;
    for (const TestSound& sound : kSounds) {
        const auto frames = static_cast<std::int64_t>(sound.seconds * sound.sample_rate);
        const std::vector<std::byte> bytes =
            testing::EncodeSound(sound.sf_format, sound.channels, sound.sample_rate,
                                 testing::MakeSignal(sound.channels, sound.sample_rate, frames, seed++));
        WriteWhole(files, files.Join(folder, sound.name), bytes);
        std::printf("%s: %zu bytes\n", sound.name, bytes.size());
    }
    return 0;
}

int Decode(const std::string& path, const std::string& samples_path)
{
    PlatformFileSystem files;
    std::unique_ptr<InputFile> input = files.OpenArchive(path);
    SoundDecoder sound = SoundDecoder::Open(*input, path);
    std::unique_ptr<OutputFile> output = files.CreateOutput(samples_path, FileSystem::IfTaken::kReplace);
    std::int64_t frames = 0;
    try {
        std::vector<float> piece(4096 * static_cast<std::size_t>(sound.channels()));
        while (const std::size_t got = sound.Read(piece)) {
            output->Write(std::as_bytes(std::span(piece).first(got * static_cast<std::size_t>(sound.channels()))));
            frames += static_cast<std::int64_t>(got);
        }
        output->Close();
    } catch (...) {
        output->Abandon();
        throw;
    }
    std::printf("format 0x%06x, %d channels at %d Hz, %lld frames\n", sound.sf_format(), sound.channels(),
                sound.sample_rate(), static_cast<long long>(frames));
    // A decoder that stops short would still give two builds the same
    // samples: the whole sound, as its header counts it, is wanted.
    if (frames == 0 || frames != sound.frames()) {
        std::fprintf(stderr, "quorvel-sound-check: %s: %lld frames decoded of the %lld it declares\n", path.c_str(),
                     static_cast<long long>(frames), static_cast<long long>(sound.frames()));
        return 1;
    }
    return 0;
}

// Fills `samples` from byte `offset` of `input` on, or as far as it goes;
// returns the samples read.
std::size_t ReadSamples(InputFile& input, std::uint64_t offset, std::span<float> samples)
{
    auto bytes = std::as_writable_bytes(samples);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t got = input.ReadAt(offset + done, bytes.subspan(done));
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done / sizeof(float);
}

// STEPS 0 wants the same bits; otherwise a sample may be off by STEPS (a
// NaN never passes). Read piece by piece, whatever the length.
int Compare(const std::string& first_path, const std::string& second_path, double allowed_steps)
{
    PlatformFileSystem files;
    std::unique_ptr<InputFile> first = files.OpenArchive(first_path);
    std::unique_ptr<InputFile> second = files.OpenArchive(second_path);
    if (first->Size() != second->Size() || first->Size() % sizeof(float) != 0) {
        std::printf("%llu bytes of samples beside %llu\n", static_cast<unsigned long long>(first->Size()),
                    static_cast<unsigned long long>(second->Size()));
        return 1;
    }
    std::vector<float> first_piece(65536);
    std::vector<float> second_piece(first_piece.size());
    std::uint64_t samples = 0;
    std::uint64_t differing = 0;
    std::uint64_t too_far = 0;
    double widest = 0;
    while (samples * sizeof(float) < first->Size()) {
        const std::size_t count = ReadSamples(*first, samples * sizeof(float), first_piece);
        if (count == 0 || ReadSamples(*second, samples * sizeof(float), second_piece) != count) {
            throw SoundError(first_path + " or " + second_path + " shrank while being compared");
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (std::memcmp(&first_piece[i], &second_piece[i], sizeof(float)) != 0) {
                ++differing;
                const double steps = std::fabs(double{first_piece[i]} - double{second_piece[i]}) * 32768.0;
                widest = std::max(widest, steps);
                too_far += allowed_steps == 0 || !(steps <= allowed_steps) ? 1 : 0;
            }
        }
        samples += count;
    }
    std::printf("%llu samples, %llu of them different, by at most %.3g steps at 16 bits (%.3g allowed)\n",
                static_cast<unsigned long long>(samples), static_cast<unsigned long long>(differing), widest,
                allowed_steps);
    return too_far == 0 ? 0 : 1;
}

int Usage()
{
    std::fputs(
        "usage: quorvel-sound-check make FOLDER\n"
        "       quorvel-sound-check decode SOUND SAMPLES\n"
        "       quorvel-sound-check compare SAMPLES SAMPLES STEPS\n",
        stderr);
    return 2;
}

int Run(const std::vector<std::string>& arguments)
{
    if (arguments.size() == 2 && arguments[0] == "make") {
        return Make(arguments[1]);
    }
    if (arguments.size() == 3 && arguments[0] == "decode") {
        return Decode(arguments[1], arguments[2]);
    }
    if (arguments.size() == 4 && arguments[0] == "compare") {
        return Compare(arguments[1], arguments[2], std::stod(arguments[3]));
    }
    return Usage();
}

}  // namespace
}  // namespace quorvel::audio

int main(int argc, char** argv)
{
    try {
        return quorvel::audio::Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quorvel-sound-check: %s\n", error.what());
        return 1;
    }
}
