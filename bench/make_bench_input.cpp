// quorvel-make-bench-input: writes one input folder (sfx.pak, speech.pak)
// of the whole-program benchmarks. Used by bench/run.sh.

#include <charconv>
#include <cstdint>
#include <exception>
#include <iostream>
#include <optional>
#include <string_view>

#include "bench/bench_profiles.hpp"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "Usage: quorvel-make-bench-input PROFILE SIZE FOLDER [SEED]\n"
    "  game          SIZE bytes of a realistic game (sfx.pak and speech.pak)\n"
    "  huge-sound    one sound of SIZE bytes in one RIFF block, and 5/12 as much again\n"
    "  tiny-blocks   SIZE tiny blocks of every kind\n"
    "  search-worst  SIZE bytes of \"RIF\" repeated with \"RIFF\" every few hundred bytes\n"
    "  sound         one sound of SIZE bytes\n"
    "SIZE may end in K, M or G (powers of 1024).\n";

std::optional<std::uint64_t> ParseNumber(std::string_view text)
{
    std::uint64_t multiplier = 1;
    if (!text.empty()) {
        switch (text.back()) {
            case 'K':
                multiplier = 1ULL << 10;
                break;
            case 'M':
                multiplier = 1ULL << 20;
                break;
            case 'G':
                multiplier = 1ULL << 30;
                break;
            default:
                break;
        }
        if (multiplier != 1) {
            text.remove_suffix(1);
        }
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value * multiplier;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    const auto size = ParseNumber(argv[2]);
    const auto seed = argc == 5 ? ParseNumber(argv[4]) : std::optional<std::uint64_t>(1);
    if (!size || !seed) {
        std::cerr << "quorvel-make-bench-input: bad number\n" << kUsage;
        return kExitUsage;
    }
    const auto game = quorvel::bench::MakeBenchInput(argv[1], *size, *seed);
    if (!game) {
        std::cerr << "quorvel-make-bench-input: unknown profile '" << argv[1] << "'\n" << kUsage;
        return kExitUsage;
    }
    try {
        const auto summary = quorvel::sample::WriteGame(argv[3], *game);
        std::cout << "sfx.pak: " << summary.sfx.bytes << " bytes, " << summary.sfx.blocks << " blocks\n"
                  << "speech.pak: " << summary.speech.bytes << " bytes, " << summary.speech.blocks << " blocks\n";
    } catch (const std::exception& error) {
        std::cerr << "quorvel-make-bench-input: " << error.what() << "\n";
        return kExitFailed;
    }
    return 0;
}
