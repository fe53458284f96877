#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "audio/sound_bytes.hpp"
#include "tools/sample_game/sound_encoder.hpp"

namespace quorvel::sample {
namespace {

constexpr std::uint32_t kChunkFrames = 4096;

int SfFormat(const WavFormat& format)
{
    switch (format.encoding) {
        case Encoding::kPcm32:
            return SF_FORMAT_WAV | SF_FORMAT_PCM_32;
        case Encoding::kExtensiblePcm:
            return SF_FORMAT_WAVEX | (format.bits_per_sample == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
        case Encoding::kFloat32:
            return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        case Encoding::kFloat64:
            return SF_FORMAT_WAV | SF_FORMAT_DOUBLE;
        case Encoding::kImaAdpcm:
            return SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM;
        case Encoding::kMsAdpcm:
            return SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM;
        case Encoding::kGsm610:
            return SF_FORMAT_WAV | SF_FORMAT_GSM610;
        case Encoding::kMuLaw:
            return SF_FORMAT_WAV | SF_FORMAT_ULAW;
        case Encoding::kALaw:
            return SF_FORMAT_WAV | SF_FORMAT_ALAW;
        case Encoding::kG721:
            return SF_FORMAT_WAV | SF_FORMAT_G721_32;
        case Encoding::kPcm:
            break;
    }
    throw std::invalid_argument("integer PCM of 8 to 24 bits is written without libsndfile");
}

}  // namespace

bool LibsndfileBuiltIn()
{
    return true;
}

std::vector<std::byte> EncodeWithLibsndfile(const WavFormat& format, std::uint32_t frames, const RenderFrames& render)
{
    audio::SoundBytes sink;
    SF_INFO info{};
    info.channels = format.channels;
    info.samplerate = static_cast<int>(format.sample_rate);
    info.format = SfFormat(format);
    SNDFILE* file = sf_open_virtual(audio::SoundBytes::Io(), SFM_WRITE, &info, &sink);
    if (file == nullptr) {
        throw std::runtime_error(std::string("libsndfile will not write this format: ") + sf_strerror(nullptr));
    }
    // A PEAK chunk holds the time it was written: a game must be the same
    // bytes whenever it is made, so libsndfile pads its place instead.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    std::vector<std::int32_t> samples;
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t count = std::min(kChunkFrames, frames - done);
        samples.resize(std::size_t{count} * format.channels);
        render(samples);
        // From 24-bit scale to libsndfile's full 32-bit scale.
        for (std::int32_t& sample : samples) {
            const std::int32_t clamped = std::clamp(sample, -(1 << 23), (1 << 23) - 1);
            sample = static_cast<std::int32_t>(static_cast<std::uint32_t>(clamped) << 8);
        }
        if (sf_writef_int(file, samples.data(), count) != count) {
            const std::string why = sf_strerror(file);
            sf_close(file);
            throw std::runtime_error("libsndfile failed to encode: " + why);
        }
        done += count;
    }
    if (sf_close(file) != 0) {
        throw std::runtime_error("libsndfile failed to finish the sound");
    }
    return std::move(sink.bytes);
}

}  // namespace quorvel::sample
