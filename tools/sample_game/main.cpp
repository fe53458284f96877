// quorvel-make-sample: writes a generated game folder (sfx.pak and
// speech.pak) for trying out, testing and measuring the extractor.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "tools/sample_game/expected_output.hpp"
#include "tools/sample_game/profiles.hpp"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::string_view profile = quorvel::sample::kDefaultProfile;
    std::uint64_t seed = quorvel::sample::kDefaultSeed;
    std::optional<std::filesystem::path> folder;
    std::optional<std::filesystem::path> expect_folder;
};

void PrintUsage(std::ostream& out)
{
    out << "Usage: quorvel-make-sample [--profile NAME] [--seed N] [--expect DIR] FOLDER\n"
           "Writes FOLDER/sfx.pak and FOLDER/speech.pak, creating FOLDER if needed.\n"
           "The same profile and seed always give the same bytes.\n"
           "\n"
           "  --profile NAME  what to generate (default "
        << quorvel::sample::kDefaultProfile << "):\n";
    for (const quorvel::sample::Profile& profile : quorvel::sample::Profiles()) {
        out << "                    " << profile.name << ": " << profile.summary << "\n";
    }
    out << "  --seed N        a number from 0 to 2^64-1 (default " << quorvel::sample::kDefaultSeed
        << ")\n"
           "  --expect DIR    also write DIR/sfx and DIR/speech: the files a correct\n"
           "                  extraction of both archives gives, made from what was\n"
           "                  generated, not read back from the archives; DIR must\n"
           "                  not hold sfx or speech yet\n"
           "  -h, --help      show this help\n"
           "\n"
           "Exit status: 0 written; 1 failed (the message says why); 2 bad usage.\n";
}

std::optional<std::uint64_t> ParseSeed(std::string_view text)
{
    std::uint64_t seed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return seed;
}

int UsageError(const std::string& message)
{
    std::cerr << "quorvel-make-sample: " << message << "\n";
    PrintUsage(std::cerr);
    return kExitUsage;
}

void PrintSummary(std::string_view file, const quorvel::sample::ArchiveSummary& summary)
{
    std::cout << file << ": " << summary.bytes << " bytes, " << summary.blocks << " blocks\n";
}

void PrintExpected(std::string_view folder, const quorvel::sample::ExpectedSummary& summary)
{
    std::cout << "expected " << folder << ": " << summary.files << " files, " << summary.bytes << " bytes\n";
}

// Files left from another game would pass for expected ones.
std::optional<std::string> OccupiedExpectFolder(const std::filesystem::path& expect_folder)
{
    for (const char* name : {"sfx", "speech"}) {
        std::error_code unknown;  // a folder that cannot be looked into fails when written
        if (std::filesystem::exists(expect_folder / name, unknown)) {
            return (expect_folder / name).string() + " already exists";
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool has_value = i + 1 < argc;
        if (argument == "-h" || argument == "--help") {
            PrintUsage(std::cout);
            return 0;
        }
        if (argument == "--profile" && has_value) {
            options.profile = argv[++i];
        } else if (argument == "--seed" && has_value) {
            const auto seed = ParseSeed(argv[++i]);
            if (!seed) {
                return UsageError("--seed needs a whole number from 0 to 18446744073709551615");
            }
            options.seed = *seed;
        } else if (argument == "--expect" && has_value) {
            options.expect_folder = std::filesystem::path(argv[++i]);
        } else if (argument.starts_with("-") || options.folder) {
            return UsageError("unexpected argument '" + std::string(argument) + "'");
        } else {
            options.folder = std::filesystem::path(argument);
        }
    }
    if (!options.folder) {
        return UsageError("no FOLDER given");
    }
    const quorvel::sample::Profile* profile = quorvel::sample::FindProfile(options.profile);
    if (profile == nullptr) {
        return UsageError("unknown profile '" + std::string(options.profile) + "'");
    }
    if (options.expect_folder) {
        if (const auto occupied = OccupiedExpectFolder(*options.expect_folder)) {
            std::cerr << "quorvel-make-sample: --expect: " << *occupied << "\n";
            return kExitFailed;
        }
    }
    try {
        const quorvel::sample::GameContent game = profile->make(options.seed);
        const auto summary = quorvel::sample::WriteGame(*options.folder, game);
        PrintSummary("sfx.pak", summary.sfx);
        PrintSummary("speech.pak", summary.speech);
        if (options.expect_folder) {
            const auto expected = quorvel::sample::WriteExpectedGame(*options.expect_folder, game);
            PrintExpected("sfx", expected.sfx);
            PrintExpected("speech", expected.speech);
        }
    } catch (const std::exception& error) {
        std::cerr << "quorvel-make-sample: " << error.what() << "\n";
        return kExitFailed;
    }
    return 0;
}
