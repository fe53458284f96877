#include "audio/resampler.hpp"

#include <soxr.h>

#include "audio/sound_decoder.hpp"

namespace quorvel::audio {

struct Resampler::State {
    soxr_t soxr = nullptr;  // none when the rate stays
    int channels = 1;
    double ratio = 1;

    ~State()
    {
        if (soxr != nullptr) {
            soxr_delete(soxr);
        }
    }
};

namespace {

void Drain(soxr_t soxr, const float* in, std::size_t frames, int channels, double ratio, std::vector<float>& out)
{
    const auto width = static_cast<std::size_t>(channels);
    // Room for what these frames give, and for what an earlier piece left.
    const auto room = static_cast<std::size_t>(static_cast<double>(frames) * ratio) + 1024;
    std::size_t taken = 0;
    for (;;) {
        const std::size_t start = out.size();
        out.resize(start + room * width);
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t error =
            soxr_process(soxr, in == nullptr ? nullptr : in + taken * width, in == nullptr ? 0 : frames - taken, &used,
                         out.data() + start, room, &made);
        if (error != nullptr) {
            throw SoundError(std::string("the resampler failed: ") + error);
        }
        out.resize(start + made * width);
        taken += used;
        // At the end the resampler gives what it holds over as many calls as
        // it needs, and says it is done by giving nothing.
        const bool done = in == nullptr ? made == 0 : taken == frames && made < room;
        if (done) {
            return;
        }
    }
}

}  // namespace

Resampler::Resampler(double from_rate, double to_rate, int channels) : state_(std::make_unique<State>())
{
    state_->channels = channels;
    state_->ratio = to_rate / from_rate;
    if (from_rate == to_rate) {
        return;
    }
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    state_->soxr = soxr_create(from_rate, to_rate, static_cast<unsigned>(channels), &error, &io, &quality, nullptr);
    if (state_->soxr == nullptr || error != nullptr) {
        throw SoundError("the resampler refuses " + std::to_string(from_rate) + " Hz to " + std::to_string(to_rate) +
                         " Hz: " + (error != nullptr ? error : "no reason given"));
    }
}

Resampler::Resampler(Resampler&&) noexcept = default;
Resampler& Resampler::operator=(Resampler&&) noexcept = default;
Resampler::~Resampler() = default;

void Resampler::Process(std::span<const float> in, std::vector<float>& out)
{
    if (state_->soxr == nullptr) {
        out.insert(out.end(), in.begin(), in.end());
        return;
    }
    const std::size_t frames = in.size() / static_cast<std::size_t>(state_->channels);
    if (frames > 0) {
        Drain(state_->soxr, in.data(), frames, state_->channels, state_->ratio, out);
    }
}

void Resampler::Finish(std::vector<float>& out)
{
    if (state_->soxr != nullptr) {
        Drain(state_->soxr, nullptr, 0, state_->channels, state_->ratio, out);
    }
}

Resampler::Quality Resampler::StatedQuality()
{
    const soxr_quality_spec_t stated = soxr_quality_spec(SOXR_VHQ, 0);
    return {.precision_bits = stated.precision,
            .phase_response = stated.phase_response,
            .passband_end = stated.passband_end,
            .stopband_begin = stated.stopband_begin};
}

std::string Resampler::Engine() const
{
    return state_->soxr == nullptr ? "none (the rate stays)" : soxr_engine(state_->soxr);
}

}  // namespace quorvel::audio
