#include "audio/sound_encoder.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>
#include <vector>

#include "audio/sound_decoder.hpp"

namespace quorvel::audio {

struct SoundEncoder::State {
    TemporaryStore* store = nullptr;
    std::string name;
    sf_count_t position = 0;
    SNDFILE* file = nullptr;
    int channels = 1;
    int quantise_bits = 0;
    std::uint64_t noise = 0x9E3779B97F4A7C15ULL;  // the dither's own sequence: the same input gives the same bytes
    std::exception_ptr failure;                   // from the store, kept across libsndfile's C frames
    std::vector<float> scaled;
    std::vector<int> rounded;

    ~State()
    {
        if (file != nullptr) {
            sf_close(file);
        }
    }

    [[noreturn]] void Fail(const std::string& why)
    {
        if (failure) {
            std::rethrow_exception(failure);
        }
        throw SoundError(name + ": cannot be encoded: " + why);
    }

    // Uniform in [0, 1), from a 64-bit linear congruential sequence.
    float Uniform()
    {
        noise = noise * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<float>(noise >> 40) * (1.0f / 16777216.0f);
    }
};

namespace {

using State = SoundEncoder::State;

sf_count_t Length(void* user)
{
    return static_cast<sf_count_t>(static_cast<State*>(user)->store->Size());
}

sf_count_t SeekTo(sf_count_t offset, int whence, void* user)
{
    auto* state = static_cast<State*>(user);
    const sf_count_t base = whence == SEEK_CUR   ? state->position
                            : whence == SEEK_END ? static_cast<sf_count_t>(state->store->Size())
                                                 : 0;
    state->position = std::max<sf_count_t>(base + offset, 0);
    return state->position;
}

sf_count_t ReadFrom(void* buffer, sf_count_t count, void* user)
{
    auto* state = static_cast<State*>(user);
    try {
        const std::size_t got =
            state->store->ReadAt(static_cast<std::uint64_t>(state->position),
                                 std::span(static_cast<std::byte*>(buffer), static_cast<std::size_t>(count)));
        state->position += static_cast<sf_count_t>(got);
        return static_cast<sf_count_t>(got);
    } catch (...) {
        state->failure = std::current_exception();
        return 0;
    }
}

sf_count_t WriteTo(const void* buffer, sf_count_t count, void* user)
{
    auto* state = static_cast<State*>(user);
    try {
        state->store->WriteAt(static_cast<std::uint64_t>(state->position),
                              std::span(static_cast<const std::byte*>(buffer), static_cast<std::size_t>(count)));
        state->position += count;
        return count;
    } catch (...) {
        state->failure = std::current_exception();
        return 0;
    }
}

sf_count_t Tell(void* user)
{
    return static_cast<State*>(user)->position;
}

}  // namespace

SoundEncoder::SoundEncoder(TemporaryStore& store, const TargetFormat& target, int channels, bool peak_chunk,
                           std::string name)
    : state_(std::make_unique<State>())
{
    state_->store = &store;
    state_->name = std::move(name);
    state_->channels = channels;
    state_->quantise_bits = target.quantise_bits;
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = target.encoder_rate;
    info.format = target.sf_format;
    static SF_VIRTUAL_IO io{Length, SeekTo, ReadFrom, WriteTo, Tell};
    state_->file = sf_open_virtual(&io, SFM_WRITE, &info, state_.get());
    if (state_->file == nullptr) {
        state_->Fail("libsndfile will not write " + target.name + " with " + std::to_string(channels) +
                     " channels at " + std::to_string(target.encoder_rate) + " Hz: " + sf_strerror(nullptr));
    }
    sf_command(state_->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    sf_command(state_->file, SFC_SET_ADD_PEAK_CHUNK, nullptr, peak_chunk ? SF_TRUE : SF_FALSE);
}

SoundEncoder::SoundEncoder(SoundEncoder&&) noexcept = default;
SoundEncoder& SoundEncoder::operator=(SoundEncoder&&) noexcept = default;
SoundEncoder::~SoundEncoder() = default;

void SoundEncoder::Write(std::span<const float> frames, float gain, bool dither)
{
    State& state = *state_;
    const auto count = static_cast<sf_count_t>(frames.size() / static_cast<std::size_t>(state.channels));
    sf_count_t written = 0;
    if (state.quantise_bits == 0) {
        state.scaled.resize(frames.size());
        std::transform(frames.begin(), frames.end(), state.scaled.begin(), [gain](float x) { return x * gain; });
        written = sf_writef_float(state.file, state.scaled.data(), count);
    } else {
        // Rounded to the target's steps here, and handed over as 32-bit
        // integers on that grid, which libsndfile narrows by shifting alone.
        const float steps = std::ldexp(1.0f, state.quantise_bits - 1);
        const float shift = std::ldexp(1.0f, 32 - state.quantise_bits);
        state.rounded.resize(frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const float triangle = dither ? state.Uniform() - state.Uniform() : 0.0f;
            const float level = std::nearbyint(frames[i] * gain * steps + triangle);
            state.rounded[i] = static_cast<int>(std::clamp(level, -steps, steps - 1) * shift);
        }
        written = sf_writef_int(state.file, state.rounded.data(), count);
    }
    if (written != count) {
        state.Fail(sf_strerror(state.file));
    }
}

void SoundEncoder::Finish()
{
    SNDFILE* file = std::exchange(state_->file, nullptr);
    const int error = sf_close(file);
    if (error != 0 || state_->failure) {
        state_->Fail(sf_error_number(error));
    }
}

}  // namespace quorvel::audio
