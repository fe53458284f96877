#pragma once

// The first pass of a conversion: the new sound decoded, its channels mixed
// to the replaced sound's (the fewer channels go through the resampler),
// its rate changed, and, where asked, its length fitted; the result kept as
// floats in a TemporaryStore for the encoding passes, and measured on the
// way. Nothing of the sound is held whole.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "audio/channel_mix.hpp"
#include "audio/loudness.hpp"
#include "audio/sound_decoder.hpp"
#include "audio/temporary_store.hpp"

namespace quorvel::audio {

// A sound cut or lengthened to a number of frames: a longer one is cut with
// a short fade (so it does not end in a click), a shorter one padded with
// silence. The frames the fade covers are held back until it is known
// whether the sound goes on past the length.
class LengthFitter {
public:
    using Sink = std::function<void(std::span<const float>)>;
    static constexpr double kFadeSeconds = 0.010;

    // `length` nothing: every frame passes, unchanged.
    LengthFitter(int channels, std::optional<std::int64_t> length, std::int64_t fade_frames, Sink sink);
    void Push(std::span<const float> frames);
    void Finish();

    bool trimmed() const { return trimmed_; }
    bool padded() const { return padded_; }

private:
    void Emit(std::span<const float> frames);
    std::int64_t Held() const { return static_cast<std::int64_t>(held_.size()) / channels_; }

    int channels_;
    std::optional<std::int64_t> length_;
    std::int64_t fade_frames_;
    Sink sink_;
    std::int64_t emitted_ = 0;
    std::vector<float> held_;
    bool trimmed_ = false;
    bool padded_ = false;
};

struct SignalFit {
    int to_rate = 0;
    ChannelMix mix;
    std::optional<std::int64_t> length;  // fit to this many frames
};

struct FittedSignal {
    std::int64_t frames = 0;  // in the store, at the target's rate and channels
    std::int64_t input_frames = 0;
    Loudness loudness;        // of what is in the store, with its sample peak
    Loudness input_loudness;  // of the new sound as it is (no peak)
    bool trimmed = false;
    bool padded = false;
};

// Reads `input` to its end, fitted as `fit` says, into `store` (cleared
// first). Throws SoundError.
FittedSignal FitSignal(SoundDecoder& input, const SignalFit& fit, TemporaryStore& store);

// Reads `frames` frames of `channels` floats back from a store FitSignal
// filled, in pieces, to `use`.
void ReadFitted(TemporaryStore& store, int channels, std::int64_t frames,
                const std::function<void(std::span<const float>)>& use);

}  // namespace quorvel::audio
