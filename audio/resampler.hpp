#pragma once

// A sound's rate changed by libsoxr at its very high quality (SOXR_VHQ:
// 28-bit precision, linear phase), fed and drained in pieces so that no
// length of sound is ever held whole.

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quorvel::audio {

class Resampler {
public:
    // Throws SoundError if libsoxr refuses the rates.
    Resampler(double from_rate, double to_rate, int channels);
    Resampler(Resampler&&) noexcept;
    Resampler& operator=(Resampler&&) noexcept;
    ~Resampler();

    // Takes `in` (interleaved frames) and appends what is ready to `out`.
    // The same rate in and out passes the samples through untouched.
    void Process(std::span<const float> in, std::vector<float>& out);
    // Appends what is still held back, at the end of the sound.
    void Finish(std::vector<float>& out);

    // libsoxr's own account of the setting: its precision, phase, pass band
    // and stop band, and the engine it chose.
    struct Quality {
        double precision_bits = 0;
        double phase_response = 0;  // 50: linear
        double passband_end = 0;    // of the lower rate's Nyquist frequency
        double stopband_begin = 0;
    };
    static Quality StatedQuality();
    std::string Engine() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quorvel::audio
