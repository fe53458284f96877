#include "audio/tests/sound_kit.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ebur128.h>
#include <numbers>
#include <stdexcept>
#include <string>

#include "audio/sound_bytes.hpp"

namespace quorvel::audio::testing {

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

std::vector<float> MakeTune(int channels, int sample_rate, std::int64_t frames, std::uint32_t seed)
{
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    std::uint32_t state = seed * 2654435761U + 7;
    auto next_unit = [&state] {
        state = state * 1664525U + 1013904223U;
        return static_cast<double>(state >> 8) / (1 << 24);
    };
    std::int64_t note_end = 0;
    std::int64_t note_start = 0;
    double pitch = 0;
    double phase = 0;
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        if (frame == note_end) {
            note_start = frame;
            note_end = frame + static_cast<std::int64_t>((0.08 + 0.27 * next_unit()) * sample_rate);
            pitch = 150.0 * std::pow(20.0, next_unit());
        }
        phase += 2 * std::numbers::pi * pitch / sample_rate;
        // 10 ms in and out, so that the notes do not click.
        const double edge = 0.01 * sample_rate;
        const double envelope = std::min(
            {1.0, static_cast<double>(frame - note_start) / edge, static_cast<double>(note_end - frame) / edge});
        const double tone = envelope * (0.5 * std::sin(phase) + 0.25 * std::sin(2 * phase));
        for (int channel = 0; channel < channels; ++channel) {
            const double hiss = (next_unit() - 0.5) * 0.05;
            samples[static_cast<std::size_t>(frame * channels + channel)] = static_cast<float>(tone + hiss);
        }
    }
    return samples;
}

std::vector<std::byte> EncodeSound(int sf_format, int channels, int sample_rate, const std::vector<float>& samples)
{
    return EncodeSound(sf_format, channels, sample_rate, samples, {});
}

namespace {

void SetExtras(SNDFILE* file, const SoundExtras& extras, std::vector<SF_CHUNK_INFO>& chunks)
{
    if (!extras.loops.empty()) {
        SF_INSTRUMENT instrument{};
        instrument.basenote = 60;
        instrument.velocity_hi = 127;
        instrument.key_hi = 127;
        instrument.loop_count = static_cast<int>(extras.loops.size());
        for (std::size_t i = 0; i < extras.loops.size() && i < 16; ++i) {
            instrument.loops[i].mode = SF_LOOP_FORWARD;
            instrument.loops[i].start = extras.loops[i].first;
            instrument.loops[i].end = extras.loops[i].second;
        }
        if (sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof(instrument)) != SF_TRUE) {
            throw std::runtime_error("libsndfile will not write loop points");
        }
    }
    if (!extras.cue_points.empty()) {
        SF_CUES cues{};
        cues.cue_count = static_cast<std::uint32_t>(extras.cue_points.size());
        for (std::size_t i = 0; i < extras.cue_points.size(); ++i) {
            cues.cue_points[i].indx = static_cast<std::int32_t>(i + 1);
            cues.cue_points[i].position = extras.cue_points[i];
            cues.cue_points[i].fcc_chunk = 0x61746164;  // "data"
            cues.cue_points[i].sample_offset = extras.cue_points[i];
        }
        if (sf_command(file, SFC_SET_CUE, &cues, sizeof(cues)) != SF_TRUE) {
            throw std::runtime_error("libsndfile will not write cue points");
        }
    }
    chunks.resize(extras.chunks.size());
    for (std::size_t i = 0; i < extras.chunks.size(); ++i) {
        SF_CHUNK_INFO& chunk = chunks[i];
        std::memcpy(chunk.id, extras.chunks[i].first.data(), 4);
        chunk.id_size = 4;
        chunk.datalen = static_cast<unsigned>(extras.chunks[i].second.size());
        chunk.data = const_cast<char*>(extras.chunks[i].second.data());
        if (sf_set_chunk(file, &chunk) != SF_ERR_NO_ERROR) {
            throw std::runtime_error("libsndfile will not write a chunk: " + std::string(sf_strerror(file)));
        }
    }
}

}  // namespace

namespace {

// `samples` written by libsndfile as `sf_format`, with `prepare` called on
// the open file (for what goes beside the samples) before they are written.
template <typename Prepare>
std::vector<std::byte> Encode(int sf_format, int channels, int sample_rate, const std::vector<float>& samples,
                              Prepare prepare)
{
    SoundBytes sink;
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sample_rate;
    info.format = sf_format;
    SNDFILE* file = sf_open_virtual(SoundBytes::Io(), SFM_WRITE, &info, &sink);
    if (file == nullptr) {
        throw std::runtime_error(std::string("libsndfile will not write that format: ") + sf_strerror(nullptr));
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const auto frames = static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels));
    try {
        prepare(file, frames);
    } catch (...) {
        sf_close(file);
        throw;
    }
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    if (written != frames) {
        throw std::runtime_error("libsndfile wrote fewer frames than asked");
    }
    return std::move(sink.bytes);
}

}  // namespace

std::vector<std::byte> EncodeSound(int sf_format, int channels, int sample_rate, const std::vector<float>& samples,
                                   const SoundExtras& extras)
{
    // The chunks must live until the file is closed.
    std::vector<SF_CHUNK_INFO> chunks;
    return Encode(sf_format, channels, sample_rate, samples,
                  [&](SNDFILE* file, sf_count_t /*frames*/) { SetExtras(file, extras, chunks); });
}

namespace {

// libsndfile over bytes held in memory, for reading.
struct Reader {
    SoundBytes sink;
    SNDFILE* file = nullptr;
    SF_INFO info{};

    explicit Reader(const std::vector<std::byte>& bytes)
    {
        sink.bytes = bytes;
        file = sf_open_virtual(SoundBytes::Io(), SFM_READ, &info, &sink);
        if (file == nullptr) {
            throw std::runtime_error(std::string("libsndfile cannot read the sound: ") + sf_strerror(nullptr));
        }
    }
    ~Reader() { sf_close(file); }
};

ebur128_state* Meter(const DecodedSound& sound)
{
    ebur128_state* meter =
        ebur128_init(static_cast<unsigned>(sound.channels), static_cast<unsigned long>(sound.sample_rate),
                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(meter, sound.samples.data(), static_cast<std::size_t>(sound.frames()));
    return meter;
}

}  // namespace

DecodedSound DecodeSound(const std::vector<std::byte>& bytes, std::optional<std::int64_t> frames)
{
    Reader reader(bytes);
    DecodedSound sound;
    sound.channels = reader.info.channels;
    sound.sample_rate = reader.info.samplerate;
    sound.sf_format = reader.info.format;
    const std::int64_t wanted = std::min<std::int64_t>(frames.value_or(reader.info.frames), reader.info.frames);
    sound.samples.resize(static_cast<std::size_t>(wanted * sound.channels));
    const sf_count_t got = sf_readf_float(reader.file, sound.samples.data(), wanted);
    sound.samples.resize(static_cast<std::size_t>(got * sound.channels));
    return sound;
}

SoundExtras ReadMarkers(const std::vector<std::byte>& bytes)
{
    Reader reader(bytes);
    SoundExtras extras;
    SF_INSTRUMENT instrument{};
    if (sf_command(reader.file, SFC_GET_INSTRUMENT, &instrument, sizeof(instrument)) == SF_TRUE) {
        for (int i = 0; i < instrument.loop_count && i < 16; ++i) {
            extras.loops.emplace_back(instrument.loops[i].start, instrument.loops[i].end);
        }
    }
    SF_CUES cues{};
    if (sf_command(reader.file, SFC_GET_CUE, &cues, sizeof(cues)) == SF_TRUE) {
        for (std::uint32_t i = 0; i < cues.cue_count && i < 100; ++i) {
            extras.cue_points.push_back(cues.cue_points[i].sample_offset);
        }
    }
    return extras;
}

double IntegratedLoudness(const DecodedSound& sound)
{
    ebur128_state* meter = Meter(sound);
    double lufs = 0;
    ebur128_loudness_global(meter, &lufs);
    ebur128_destroy(&meter);
    return lufs;
}

double TruePeak(const DecodedSound& sound)
{
    ebur128_state* meter = Meter(sound);
    double peak = 0;
    for (int channel = 0; channel < sound.channels; ++channel) {
        double channel_peak = 0;
        ebur128_true_peak(meter, static_cast<unsigned>(channel), &channel_peak);
        peak = std::max(peak, channel_peak);
    }
    ebur128_destroy(&meter);
    return 20 * std::log10(peak);
}

std::optional<std::size_t> FindChunkOffset(const std::vector<std::byte>& wav, const char (&id)[5])
{
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        std::uint32_t size = 0;
        for (int i = 3; i >= 0; --i) {
            size = (size << 8) | std::to_integer<std::uint32_t>(wav[at + 4 + static_cast<std::size_t>(i)]);
        }
        if (std::memcmp(wav.data() + at, id, 4) == 0) {
            return at + 8;
        }
        at += 8 + size + (size % 2);
    }
    return std::nullopt;
}

std::optional<std::vector<std::byte>> FindChunk(const std::vector<std::byte>& wav, const char (&id)[5])
{
    const auto at = FindChunkOffset(wav, id);
    if (!at) {
        return std::nullopt;
    }
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) {
        size = (size << 8) | std::to_integer<std::uint32_t>(wav[*at - 4 + static_cast<std::size_t>(i)]);
    }
    const std::size_t end = std::min<std::size_t>(wav.size(), *at + size);
    return std::vector<std::byte>(wav.begin() + static_cast<std::ptrdiff_t>(*at),
                                  wav.begin() + static_cast<std::ptrdiff_t>(end));
}

std::string ReadTag(const std::vector<std::byte>& bytes, int string_type)
{
    SoundBytes source{.bytes = bytes, .position = 0};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(SoundBytes::Io(), SFM_READ, &info, &source);
    if (file == nullptr) {
        throw std::runtime_error(std::string("libsndfile cannot read that file: ") + sf_strerror(nullptr));
    }
    const char* text = sf_get_string(file, string_type);
    std::string tag = text != nullptr ? text : "";
    sf_close(file);
    return tag;
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

}  // namespace

std::vector<std::byte> EncodeSoundWithMetadata(int sf_format, int channels, int sample_rate,
                                               const std::vector<float>& samples)
{
    return Encode(sf_format, channels, sample_rate, samples, AddMetadata);
}

}  // namespace quorvel::audio::testing
