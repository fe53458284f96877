#include "audio/spectrogram.hpp"

#include <kiss_fftr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "audio/stored_sound.hpp"

namespace quorvel::audio {
namespace {

// Samples of one spectrum: 23 ms at 22,050 Hz, fine enough in time for
// short sounds and in frequency to see a voice's harmonics.
constexpr std::size_t kWindow = 512;
constexpr std::size_t kBins = kWindow / 2 + 1;
// The most samples between two spectra; fewer where a column is shorter.
constexpr std::int64_t kLongestHop = 256;
constexpr std::size_t kPieceFrames = 4096;

class FftPlan {
public:
    FftPlan() : config_(kiss_fftr_alloc(kWindow, 0, nullptr, nullptr))
    {
        if (config_ == nullptr) {
            throw SoundError("the spectrum's transform could not be set up");
        }
    }
    ~FftPlan() { kiss_fftr_free(config_); }
    FftPlan(const FftPlan&) = delete;
    FftPlan& operator=(const FftPlan&) = delete;
    void Run(const float* in, kiss_fft_cpx* out) const { kiss_fftr(config_, in, out); }

private:
    kiss_fftr_cfg config_;
};

// The spectra of a stream of mono samples, each folded into the cells of
// its column.
class Folder {
public:
    Folder(Spectrogram& out, std::int64_t frames) : out_(out), frames_(std::max<std::int64_t>(frames, 1))
    {
        hop_ = std::clamp<std::int64_t>(frames_ / out.columns, 1, kLongestHop);
        for (std::size_t i = 0; i < kWindow; ++i) {
            hann_[i] = 0.5F - 0.5F * static_cast<float>(std::cos(2 * std::numbers::pi * static_cast<double>(i) /
                                                                 static_cast<double>(kWindow)));
        }
        for (std::uint32_t row = 0; row < out.rows; ++row) {
            first_bin_[row] = row * kBins / out.rows;
            end_bin_[row] = std::max<std::size_t>((row + 1) * kBins / out.rows, first_bin_[row] + 1);
        }
    }

    void Add(float sample)
    {
        history_[at_ % kWindow] = sample;
        ++at_;
        if (at_ % hop_ == 0) {
            Fold();
        }
    }

    // Columns no spectrum fell in (the last, of a sound that ends before
    // its hop) take the one before them.
    void Finish()
    {
        if (at_ % hop_ != 0) {
            Fold();
        }
        for (std::uint32_t column = 1; column < out_.columns; ++column) {
            if (!filled_[column] && filled_[column - 1]) {
                std::copy_n(out_.levels.begin() + Cell(column - 1, 0), out_.rows,
                            out_.levels.begin() + Cell(column, 0));
                filled_[column] = true;
            }
        }
    }

private:
    std::size_t Cell(std::uint32_t column, std::uint32_t row) const { return std::size_t{column} * out_.rows + row; }

    void Fold()
    {
        // The window ends at the newest sample; before the first, silence.
        for (std::size_t i = 0; i < kWindow; ++i) {
            const std::int64_t frame = at_ - static_cast<std::int64_t>(kWindow) + static_cast<std::int64_t>(i);
            windowed_[i] = frame < 0 ? 0.0F : history_[static_cast<std::size_t>(frame) % kWindow] * hann_[i];
        }
        plan_.Run(windowed_.data(), spectrum_.data());
        const std::int64_t middle = std::max<std::int64_t>(at_ - static_cast<std::int64_t>(kWindow / 2), 0);
        const auto column =
            static_cast<std::uint32_t>(std::min<std::int64_t>(middle * out_.columns / frames_, out_.columns - 1));
        filled_[column] = true;
        for (std::uint32_t row = 0; row < out_.rows; ++row) {
            float loudest = 0;
            for (std::size_t bin = first_bin_[row]; bin < end_bin_[row]; ++bin) {
                loudest = std::max(loudest, std::hypot(spectrum_[bin].r, spectrum_[bin].i));
            }
            std::uint8_t& cell = out_.levels[Cell(column, row)];
            cell = std::max(cell, Level(loudest));
        }
    }

    // A full-scale sine through the Hann window peaks at a quarter of the window.
    static std::uint8_t Level(float magnitude)
    {
        const double full_scale = kWindow / 4.0;
        const double db = magnitude > 0 ? 20 * std::log10(magnitude / full_scale) : kSpectrogramFloorDb;
        const double scaled = (std::clamp(db, kSpectrogramFloorDb, 0.0) - kSpectrogramFloorDb) / -kSpectrogramFloorDb;
        return static_cast<std::uint8_t>(std::lround(scaled * 255));
    }

    Spectrogram& out_;
    std::int64_t frames_;
    std::int64_t hop_ = 1;
    std::int64_t at_ = 0;
    FftPlan plan_;
    std::array<float, kWindow> history_{};
    std::array<float, kWindow> hann_{};
    std::array<float, kWindow> windowed_{};
    std::array<kiss_fft_cpx, kBins> spectrum_{};
    std::vector<std::size_t> first_bin_ = std::vector<std::size_t>(out_.rows);
    std::vector<std::size_t> end_bin_ = std::vector<std::size_t>(out_.rows);
    std::vector<bool> filled_ = std::vector<bool>(out_.columns);
};

}  // namespace

Spectrogram ComputeSpectrogram(SoundDecoder& decoder, std::uint32_t columns, std::uint32_t rows)
{
    if (columns == 0 || columns > kMostSpectrogramColumns || rows == 0 || rows > kMostSpectrogramRows) {
        throw SoundError("a spectrogram is 1 to " + std::to_string(kMostSpectrogramColumns) + " columns by 1 to " +
                         std::to_string(kMostSpectrogramRows) + " rows");
    }
    Spectrogram out{.columns = columns,
                    .rows = rows,
                    .seconds = static_cast<double>(decoder.frames()) / decoder.sample_rate(),
                    .levels = std::vector<std::uint8_t>(std::size_t{columns} * rows)};
    Folder folder(out, decoder.frames());
    const auto channels = static_cast<std::size_t>(decoder.channels());
    std::vector<float> piece(kPieceFrames * channels);
    decoder.Seek(0);
    while (const std::size_t got = decoder.Read(piece)) {
        for (std::size_t frame = 0; frame < got; ++frame) {
            float sum = 0;
            for (std::size_t channel = 0; channel < channels; ++channel) {
                sum += piece[frame * channels + channel];
            }
            folder.Add(sum / static_cast<float>(channels));
        }
    }
    folder.Finish();
    return out;
}

Spectrogram ComputeSpectrogram(InputFile& input, const std::string& name, std::uint32_t columns, std::uint32_t rows)
{
    SoundDecoder decoder = OpenSound(input, name);
    return ComputeSpectrogram(decoder, columns, rows);
}

}  // namespace quorvel::audio
