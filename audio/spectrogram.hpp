#pragma once

// A sound's spectrogram as a page draws it: its decoded samples mixed to
// mono, their short-time spectrum (kissfft, the FFT the fingerprints use),
// each point's level on a dB scale in one byte. Any width and height: each
// column is the loudest of the spectra that fall in its stretch of time,
// each row the loudest of the frequency bins in its band (row 0 the lowest).

#include <cstdint>
#include <string>
#include <vector>

#include "audio/sound_decoder.hpp"
#include "extract/file_system.hpp"

namespace quorvel::audio {

// The most columns and rows asked for: a screen's width zoomed in, a canvas's height.
inline constexpr std::uint32_t kMostSpectrogramColumns = 4096;
inline constexpr std::uint32_t kMostSpectrogramRows = 512;
// The quietest level drawn, below full scale; it and anything quieter are 0.
inline constexpr double kSpectrogramFloorDb = -100;

struct Spectrogram {
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    double seconds = 0;
    // columns × rows levels, column after column, each from row 0 (the
    // lowest frequency) up: 0 at kSpectrogramFloorDb and below, 255 at full
    // scale, linear in dB between.
    std::vector<std::uint8_t> levels;
};

// Decodes all of `decoder`'s frames, from the first, once. Memory is the
// levels and one window of samples, whatever the length of the sound.
// Throws SoundError, also for a size out of range, or what the input throws.
Spectrogram ComputeSpectrogram(SoundDecoder& decoder, std::uint32_t columns, std::uint32_t rows);
// The same for the stored sound held by `input`, opened as OpenSound opens it.
Spectrogram ComputeSpectrogram(InputFile& input, const std::string& name, std::uint32_t columns, std::uint32_t rows);

}  // namespace quorvel::audio
