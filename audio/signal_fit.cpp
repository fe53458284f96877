#include "audio/signal_fit.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "audio/resampler.hpp"
#include "audio/wav_chunks.hpp"

namespace quorvel::audio {
namespace {

constexpr std::size_t kPieceFrames = 4096;

}  // namespace

LengthFitter::LengthFitter(int channels, std::optional<std::int64_t> length, std::int64_t fade_frames, Sink sink)
    : channels_(channels),
      length_(length),
      fade_frames_(std::min(fade_frames, length.value_or(0))),
      sink_(std::move(sink))
{
}

void LengthFitter::Emit(std::span<const float> frames)
{
    if (!frames.empty()) {
        sink_(frames);
        emitted_ += static_cast<std::int64_t>(frames.size()) / channels_;
    }
}

void LengthFitter::Push(std::span<const float> frames)
{
    if (!length_) {
        Emit(frames);
        return;
    }
    if (trimmed_) {
        return;
    }
    const auto width = static_cast<std::size_t>(channels_);
    const auto count = static_cast<std::int64_t>(frames.size() / width);
    const std::int64_t at = emitted_ + Held();
    const std::int64_t fade_start = *length_ - fade_frames_;
    const std::int64_t straight = std::clamp<std::int64_t>(fade_start - at, 0, count);
    const std::int64_t held = std::clamp<std::int64_t>(*length_ - (at + straight), 0, count - straight);
    Emit(frames.first(static_cast<std::size_t>(straight) * width));
    const auto hold =
        frames.subspan(static_cast<std::size_t>(straight) * width, static_cast<std::size_t>(held) * width);
    held_.insert(held_.end(), hold.begin(), hold.end());
    if (straight + held == count) {
        return;
    }
    // The sound goes on past the length: the held frames fade out, to
    // silence on the last one, and the rest is dropped.
    const std::int64_t fade = Held();
    for (std::int64_t frame = 0; frame < fade; ++frame) {
        const double gain =
            0.5 * (1 + std::cos(std::numbers::pi * static_cast<double>(frame + 1) / static_cast<double>(fade)));
        for (std::size_t channel = 0; channel < width; ++channel) {
            held_[static_cast<std::size_t>(frame) * width + channel] *= static_cast<float>(gain);
        }
    }
    Emit(held_);
    held_.clear();
    trimmed_ = true;
}

void LengthFitter::Finish()
{
    if (!length_ || trimmed_) {
        return;
    }
    Emit(held_);
    held_.clear();
    const std::vector<float> silence(kPieceFrames * static_cast<std::size_t>(channels_), 0.0f);
    while (emitted_ < *length_) {
        padded_ = true;
        const auto frames = static_cast<std::size_t>(std::min<std::int64_t>(*length_ - emitted_, kPieceFrames));
        Emit(std::span(silence).first(frames * static_cast<std::size_t>(channels_)));
    }
}

FittedSignal FitSignal(SoundDecoder& input, const SignalFit& fit, TemporaryStore& store)
{
    if (static_cast<std::uint32_t>(input.sample_rate()) > kMaxSampleRate) {
        throw SoundError(input.name() + ": its rate of " + std::to_string(input.sample_rate()) + " Hz is past the " +
                         std::to_string(kMaxSampleRate) + " Hz a sound is fitted from");
    }
    const int from = input.channels();
    const int to = fit.mix.to();
    // Mixing and resampling commute; the resampler gets the fewer channels.
    const bool mix_first = to < from;
    Resampler resampler(input.sample_rate(), fit.to_rate, mix_first ? to : from);
    LoudnessMeter input_meter(from, input.sample_rate(), PeakMeasure::kNone);
    // The sample peak is enough for a first gain: what is encoded is
    // measured for its true peak, and the gain set again from that.
    LoudnessMeter meter(to, fit.to_rate, PeakMeasure::kSample);
    FittedSignal result;
    store.Clear();
    const auto fade = static_cast<std::int64_t>(std::lround(fit.to_rate * LengthFitter::kFadeSeconds));
    LengthFitter length(to, fit.length, fade, [&](std::span<const float> frames) {
        store.Append(std::as_bytes(frames));
        meter.Add(frames);
        result.frames += static_cast<std::int64_t>(frames.size()) / to;
    });

    std::vector<float> piece(kPieceFrames * static_cast<std::size_t>(from));
    std::vector<float> mixed;
    std::vector<float> resampled;
    const auto onward = [&](std::span<const float> frames, int channels, bool finish) {
        resampled.clear();
        if (mix_first) {
            fit.mix.Apply(frames, frames.size() / static_cast<std::size_t>(channels), mixed);
            finish ? resampler.Finish(resampled) : resampler.Process(mixed, resampled);
            length.Push(resampled);
        } else {
            finish ? resampler.Finish(resampled) : resampler.Process(frames, resampled);
            fit.mix.Apply(resampled, resampled.size() / static_cast<std::size_t>(from), mixed);
            length.Push(mixed);
        }
    };
    while (const std::size_t got = input.Read(std::span(piece))) {
        const auto frames = std::span<const float>(piece).first(got * static_cast<std::size_t>(from));
        input_meter.Add(frames);
        result.input_frames += static_cast<std::int64_t>(got);
        onward(frames, from, false);
    }
    onward({}, from, true);
    length.Finish();
    result.loudness = meter.Result();
    result.input_loudness = input_meter.Result();
    result.trimmed = length.trimmed();
    result.padded = length.padded();
    return result;
}

void ReadFitted(TemporaryStore& store, int channels, std::int64_t frames,
                const std::function<void(std::span<const float>)>& use)
{
    const auto width = static_cast<std::size_t>(channels);
    std::vector<float> piece(kPieceFrames * width);
    std::uint64_t offset = 0;
    for (std::int64_t done = 0; done < frames;) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(frames - done, kPieceFrames));
        const auto bytes = std::as_writable_bytes(std::span(piece).first(count * width));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const std::size_t read = store.ReadAt(offset + got, bytes.subspan(got));
            if (read == 0) {
                throw SoundError("the fitted samples ended early in their temporary store");
            }
            got += read;
        }
        offset += bytes.size();
        use(std::span<const float>(piece).first(count * width));
        done += static_cast<std::int64_t>(count);
    }
}

}  // namespace quorvel::audio
