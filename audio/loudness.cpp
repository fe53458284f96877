#include "audio/loudness.hpp"

#include <cmath>
#include <ebur128.h>
#include <limits>
#include <string>

#include "audio/sound_decoder.hpp"

namespace quorvel::audio {

constexpr double kAbsoluteGateLufs = -70.0;
constexpr std::int64_t kGatingBlockMs = 400;

struct LoudnessMeter::State {
    ebur128_state* meter = nullptr;
    int channels = 1;
    int sample_rate = 1;
    PeakMeasure peak = PeakMeasure::kTrue;
    std::int64_t frames = 0;

    ~State()
    {
        if (meter != nullptr) {
            ebur128_destroy(&meter);
        }
    }
};

LoudnessMeter::LoudnessMeter(int channels, int sample_rate, PeakMeasure peak) : state_(std::make_unique<State>())
{
    state_->channels = channels;
    state_->sample_rate = sample_rate;
    state_->peak = peak;
    // The histogram keeps the meter's memory the same for an hour as for a
    // second; its 0.1 LU bins are finer than any use made of the figure.
    const int peak_mode = peak == PeakMeasure::kTrue     ? EBUR128_MODE_TRUE_PEAK
                          : peak == PeakMeasure::kSample ? EBUR128_MODE_SAMPLE_PEAK
                                                         : 0;
    const int mode = EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM | peak_mode;
    state_->meter = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sample_rate), mode);
    if (state_->meter == nullptr) {
        throw SoundError("loudness cannot be measured for " + std::to_string(channels) + " channels at " +
                         std::to_string(sample_rate) + " Hz");
    }
}

LoudnessMeter::LoudnessMeter(LoudnessMeter&&) noexcept = default;
LoudnessMeter& LoudnessMeter::operator=(LoudnessMeter&&) noexcept = default;
LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::Add(std::span<const float> frames)
{
    const std::size_t count = frames.size() / static_cast<std::size_t>(state_->channels);
    if (count == 0) {
        return;
    }
    if (ebur128_add_frames_float(state_->meter, frames.data(), count) != EBUR128_SUCCESS) {
        throw SoundError("the loudness meter failed");
    }
    state_->frames += static_cast<std::int64_t>(count);
}

Loudness LoudnessMeter::Result() const
{
    Loudness result;
    double lufs = -HUGE_VAL;
    const std::int64_t milliseconds = state_->frames * 1000 / state_->sample_rate;
    if (milliseconds >= kGatingBlockMs) {
        ebur128_loudness_global(state_->meter, &lufs);
    } else if (milliseconds > 0) {
        result.measure = LoudnessMeasure::kWholeSound;
        ebur128_loudness_window(state_->meter, static_cast<unsigned long>(milliseconds), &lufs);
    }
    if (std::isfinite(lufs) && lufs >= kAbsoluteGateLufs) {
        result.lufs = lufs;
    }
    double peak = 0;
    for (int channel = 0; state_->peak != PeakMeasure::kNone && channel < state_->channels; ++channel) {
        double channel_peak = 0;
        const auto measure = state_->peak == PeakMeasure::kTrue ? ebur128_true_peak : ebur128_sample_peak;
        measure(state_->meter, static_cast<unsigned>(channel), &channel_peak);
        peak = std::max(peak, channel_peak);
    }
    result.peak_db = peak > 0 ? 20 * std::log10(peak) : -std::numeric_limits<double>::infinity();
    return result;
}

}  // namespace quorvel::audio
