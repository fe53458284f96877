#pragma once

// Loudness as EBU R128 measures it (libebur128): the gated integrated
// loudness of BS.1770, and the true peak (4 times oversampled).
//
// The gated measure needs at least one 400 ms block. A shorter sound (a
// click, a footstep) is measured as one block of its own length: the same
// K-weighted mean power over the whole sound, with no gate. It is the
// measure the gated one is built from, on the same scale, so a short sound
// and a long one are compared fairly, and a steady sound measures the same
// either way. Below -70 LUFS, the standard's absolute gate, a sound is
// silent: there is no level to match.

#include <memory>
#include <optional>
#include <span>

namespace quorvel::audio {

enum class LoudnessMeasure {
    kIntegrated,  // gated, 400 ms blocks
    kWholeSound,  // a sound under 400 ms, as one block
};

// Which peak a meter finds: the true peak costs three times the rest of
// the meter, so it is measured only where it decides something.
enum class PeakMeasure {
    kNone,
    kSample,  // the largest sample
    kTrue,    // between the samples too, 4 times oversampled (dBTP)
};

struct Loudness {
    std::optional<double> lufs;  // nothing for a silent sound
    double peak_db = 0;          // as the meter's PeakMeasure; -infinity for digital silence or none measured
    LoudnessMeasure measure = LoudnessMeasure::kIntegrated;
};

class LoudnessMeter {
public:
    // Throws SoundError if libebur128 cannot be set up for these.
    LoudnessMeter(int channels, int sample_rate, PeakMeasure peak = PeakMeasure::kTrue);
    LoudnessMeter(LoudnessMeter&&) noexcept;
    LoudnessMeter& operator=(LoudnessMeter&&) noexcept;
    ~LoudnessMeter();

    // Interleaved frames of the meter's channel count.
    void Add(std::span<const float> frames);
    Loudness Result() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quorvel::audio
