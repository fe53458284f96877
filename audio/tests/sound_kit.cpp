#include "audio/tests/sound_kit.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <string>

namespace quorvel::audio::testing {
namespace {

struct Sink {
    std::vector<std::byte> bytes;
    sf_count_t position = 0;
};

sf_count_t Length(void* user)
{
    return static_cast<sf_count_t>(static_cast<Sink*>(user)->bytes.size());
}

sf_count_t SeekTo(sf_count_t offset, int whence, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const sf_count_t base = whence == SEEK_CUR   ? sink->position
                            : whence == SEEK_END ? static_cast<sf_count_t>(sink->bytes.size())
                                                 : 0;
    sink->position = std::max<sf_count_t>(base + offset, 0);
    return sink->position;
}

sf_count_t ReadFrom(void* buffer, sf_count_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const auto size = static_cast<sf_count_t>(sink->bytes.size());
    const sf_count_t got = std::clamp<sf_count_t>(size - sink->position, 0, count);
    std::memcpy(buffer, sink->bytes.data() + sink->position, static_cast<std::size_t>(got));
    sink->position += got;
    return got;
}

sf_count_t WriteTo(const void* buffer, sf_count_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const auto end = static_cast<std::size_t>(sink->position + count);
    if (end > sink->bytes.size()) {
        sink->bytes.resize(end);
    }
    std::memcpy(sink->bytes.data() + sink->position, buffer, static_cast<std::size_t>(count));
    sink->position += count;
    return count;
}

sf_count_t Tell(void* user)
{
    return static_cast<Sink*>(user)->position;
}

}  // namespace

std::vector<float> MakeSignal(int channels, int sample_rate, std::int64_t frames, std::uint32_t seed)
{
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    std::uint32_t noise = seed * 2654435761U + 1;
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        const double t = static_cast<double>(frame) / sample_rate;
        const double slide = 220.0 + 110.0 * t;
        for (int channel = 0; channel < channels; ++channel) {
            noise = noise * 1664525U + 1013904223U;
            const double hiss = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.05;
            const double tone = 0.4 * std::sin(2 * std::numbers::pi * slide * (channel + 1) * t) +
                                0.3 * std::sin(2 * std::numbers::pi * slide * 1.5 * t);
            samples[static_cast<std::size_t>(frame * channels + channel)] = static_cast<float>(tone + hiss);
        }
    }
    return samples;
}

namespace {

void AddMetadata(SNDFILE* file, sf_count_t frames)
{
    sf_set_string(file, SF_STR_TITLE, "Door creak");
    sf_set_string(file, SF_STR_ARTIST, "Quorvel sound team");
    sf_set_string(file, SF_STR_COMMENT, "made for a test");
    SF_CUES cues{};
    cues.cue_count = 3;
    for (std::uint32_t i = 0; i < cues.cue_count; ++i) {
        cues.cue_points[i].indx = static_cast<std::int32_t>(i + 1);
        cues.cue_points[i].position = static_cast<std::uint32_t>(frames / 4 * i);
        cues.cue_points[i].sample_offset = cues.cue_points[i].position;
        std::memcpy(&cues.cue_points[i].fcc_chunk, "data", 4);
    }
    sf_command(file, SFC_SET_CUE, &cues, sizeof cues);
    SF_INSTRUMENT instrument{};
    instrument.basenote = 60;
    instrument.velocity_hi = 127;
    instrument.key_hi = 127;
    instrument.loop_count = 1;
    instrument.loops[0] = {SF_LOOP_FORWARD, 0, static_cast<std::uint32_t>(frames / 2), 0};
    sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument);
    SF_BROADCAST_INFO broadcast{};
    std::strncpy(broadcast.description, "a door", sizeof broadcast.description);
    std::strncpy(broadcast.originator, "Quorvel", sizeof broadcast.originator);
    sf_command(file, SFC_SET_BROADCAST_INFO, &broadcast, sizeof broadcast);
}

std::vector<std::byte> Encode(int sf_format, int channels, int sample_rate, const std::vector<float>& samples,
                              bool with_metadata)
{
    Sink sink;
    SF_VIRTUAL_IO io{Length, SeekTo, ReadFrom, WriteTo, Tell};
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sample_rate;
    info.format = sf_format;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &sink);
    if (file == nullptr) {
        throw std::runtime_error(std::string("libsndfile will not write that format: ") + sf_strerror(nullptr));
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const auto frames = static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels));
    if (with_metadata) {
        AddMetadata(file, frames);
    }
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    if (written != frames) {
        throw std::runtime_error("libsndfile wrote fewer frames than asked");
    }
    return std::move(sink.bytes);
}

}  // namespace

std::vector<std::byte> EncodeSound(int sf_format, int channels, int sample_rate, const std::vector<float>& samples)
{
    return Encode(sf_format, channels, sample_rate, samples, false);
}

std::vector<std::byte> EncodeSoundWithMetadata(int sf_format, int channels, int sample_rate,
                                               const std::vector<float>& samples)
{
    return Encode(sf_format, channels, sample_rate, samples, true);
}

}  // namespace quorvel::audio::testing
