// quorvel-fit-sound: one replacement fitted to the archived sound it
// replaces, for the benchmark (and for trying the library by hand).
//
//   quorvel-fit-sound [--keep-loudness] [--fit-length] [--json] ARCHIVED.wav NEW OUTPUT.wav
//   quorvel-fit-sound --resampler-quality
//
// Prints the report, then the process's peak resident memory on stderr.

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "audio/resampler.hpp"
#include "audio/sound_decoder.hpp"
#include "audio/sound_replacement.hpp"
#include "platform/posix_file_system.hpp"

namespace {

using quorvel::audio::Resampler;

// A 1 kHz sine resampled from 44,100 Hz to 22,050 Hz, against the same
// sine computed at 22,050 Hz: what is left is the resampler's error.
double MeasuredSineError()
{
    constexpr int kFrom = 44100;
    constexpr int kTo = 22050;
    constexpr double kHz = 1000.0;
    std::vector<float> in(kFrom * 2);
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * kHz * static_cast<double>(i) / kFrom));
    }
    Resampler resampler(kFrom, kTo, 1);
    std::vector<float> out;
    resampler.Process(in, out);
    resampler.Finish(out);
    double error = 0;
    double signal = 0;
    // The edges, where the filter meets the sound's start and end, are left out.
    for (std::size_t i = kTo / 4; i + kTo / 4 < out.size(); ++i) {
        const double ideal = 0.5 * std::sin(2 * std::numbers::pi * kHz * static_cast<double>(i) / kTo);
        error += (out[i] - ideal) * (out[i] - ideal);
        signal += ideal * ideal;
    }
    return 10 * std::log10(signal / error);
}

int PrintQuality()
{
    const Resampler::Quality quality = Resampler::StatedQuality();
    std::printf(
        "libsoxr SOXR_VHQ as libsoxr states it: %.0f-bit precision, phase response %.0f (50 = linear), "
        "pass band to %.1f%% and stop band from %.1f%% of the lower rate's Nyquist frequency; engine %s\n",
        quality.precision_bits, quality.phase_response, quality.passband_end * 100, quality.stopband_begin * 100,
        Resampler(44100, 22050, 1).Engine().c_str());
    std::printf("measured: a 1 kHz sine, 44100 -> 22050 Hz, float samples: signal to error %.1f dB\n",
                MeasuredSineError());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    quorvel::audio::ReplacementOptions options;
    bool json = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--keep-loudness") {
            options.keep_loudness = true;
        } else if (arg == "--fit-length") {
            options.fit_length = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--resampler-quality") {
            return PrintQuality();
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 3) {
        std::cerr << "usage: quorvel-fit-sound [--keep-loudness] [--fit-length] [--json] ARCHIVED.wav NEW OUTPUT.wav\n"
                     "       quorvel-fit-sound --resampler-quality\n";
        return 2;
    }
    try {
        quorvel::PosixFileSystem files_system;
        auto archived = files_system.OpenArchive(files[0]);
        auto replacement = files_system.OpenArchive(files[1]);
        auto fitted = quorvel::audio::FittedSound::Fit(*archived, files[0], *replacement, files[1], options);
        std::cout << (json ? fitted.report().Json() + "\n" : fitted.report().Text()) << std::flush;
        auto output = files_system.CreateOutput(files[2], quorvel::FileSystem::IfTaken::kReplace);
        try {
            fitted.WriteTo(*output);
            output->Close();
        } catch (...) {
            output->Abandon();
            throw;
        }
    } catch (const std::exception& error) {
        std::cerr << "quorvel-fit-sound: " << error.what() << "\n";
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::cerr << "peak resident memory: " << usage.ru_maxrss / 1024 << " MiB\n";
    return 0;
}
