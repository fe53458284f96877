#include "tools/sample_game/command_line.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/layout.hpp"
#include "testing/reference_model.hpp"
#include "tools/sample_game/profiles.hpp"

namespace quorvel::sample {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    bool help = false;
    std::optional<std::string_view> profile;
    std::optional<std::uint64_t> size;
    std::uint64_t seed = kDefaultSeed;
    std::optional<std::string> sfx_layout;
    std::optional<std::string> speech_layout;
    std::optional<std::filesystem::path> folder;
    std::optional<std::filesystem::path> expect_folder;
};

void PrintUsage(std::ostream& out)
{
    out << "Usage: quorvel-make-sample [--profile NAME [--size N]] [--seed N] [--expect DIR] FOLDER\n"
           "       quorvel-make-sample --sfx LAYOUT [--speech LAYOUT] [--seed N] [--expect DIR] FOLDER\n"
           "Writes FOLDER/sfx.pak and FOLDER/speech.pak (with --sfx, speech.pak only for\n"
           "--speech). The same arguments always give the same bytes.\n\n"
           "  --profile NAME   what to generate (default "
        << kDefaultProfile << "):\n";
    for (const Profile& profile : Profiles()) {
        out << "                     " << profile.name << ": " << profile.summary << "\n";
    }
    out << "  --size N         SIZE for the profiles that take one; may end in K, M or G\n"
           "  --sfx LAYOUT     sfx.pak as the layout text LAYOUT (or @FILE: as the file) says\n"
           "  --speech LAYOUT  speech.pak likewise\n"
           "  --seed N         0 to 2^64-1 (default 1): the profile's choices, the layouts' noise\n"
           "  --expect DIR     also write DIR/sfx and DIR/speech: the files a correct extraction\n"
           "                   gives, by the reference model of the rules; DIR must not hold them\n\n"
           "A layout has an item per line or per ';' ('#' starts a comment): block PARTS...,\n"
           "length N PARTS... (a length field of any value), final, raw PARTS..., repeat COUNT\n"
           "{ ITEMS }. Parts: \"text\" (escapes \\\\ \\\" \\n \\t \\0 \\xHH), wav(N), riff(SIZE),\n"
           "riff(SIZE, \"FORM\"), int32(V), bytes(N, V), noise(N); N may end in K or M. E.g.:\n"
           "  --sfx 'block \"AVQF1234\"; block; block riff(4) \"xy\" riff(4); final'\n\n"
           "Exit status: 0 written; 1 failed (the message says why); 2 bad usage.\n";
}

std::uint64_t Number(std::string_view text, std::string_view suffixes, const char* complaint)
{
    const std::optional<std::uint64_t> value = testing::ParseSize(text, suffixes);
    if (!value) {
        throw UsageError(complaint);
    }
    return *value;
}

// The layout itself, or for "@FILE" the contents of FILE.
std::string LayoutText(std::string_view argument)
{
    if (!argument.starts_with('@')) {
        return std::string(argument);
    }
    std::ifstream in(std::filesystem::path(argument.substr(1)), std::ios::binary);
    if (!in) {
        throw UsageError("cannot read the layout file " + std::string(argument.substr(1)));
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Options Parse(std::span<const std::string_view> arguments)
{
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        const std::string_view value = i + 1 < arguments.size() ? arguments[i + 1] : "";
        const bool has_value = i + 1 < arguments.size() && argument.starts_with("--");
        i += has_value ? 1 : 0;
        if (argument == "-h" || argument == "--help") {
            options.help = true;
            return options;
        }
        if (argument == "--profile" && has_value) {
            options.profile = value;
        } else if (argument == "--size" && has_value) {
            options.size = Number(value, "KMG", "--size needs a whole number, perhaps ending in K, M or G");
        } else if (argument == "--seed" && has_value) {
            options.seed = Number(value, "", "--seed needs a whole number from 0 to 18446744073709551615");
        } else if (argument == "--sfx" && has_value) {
            options.sfx_layout = LayoutText(value);
        } else if (argument == "--speech" && has_value) {
            options.speech_layout = LayoutText(value);
        } else if (argument == "--expect" && has_value) {
            options.expect_folder = value;
        } else if (argument.starts_with("-") || options.folder) {
            throw UsageError("unexpected argument '" + std::string(argument) + "'");
        } else {
            options.folder = argument;
        }
    }
    if (!options.folder) {
        throw UsageError("no FOLDER given");
    }
    if (options.sfx_layout && (options.profile || options.size)) {
        throw UsageError(options.profile ? "--profile cannot be used with --sfx" : "--size cannot be used with --sfx");
    }
    if (options.speech_layout && !options.sfx_layout) {
        throw UsageError("--speech needs --sfx");
    }
    return options;
}

testing::Archive Layout(const char* option, const std::string& text)
{
    try {
        return testing::ParseLayout(text);
    } catch (const testing::LayoutError& error) {
        throw UsageError(option + std::string(": ") + error.what());
    }
}

// The archives to write, by name ("sfx", "speech").
std::vector<std::pair<std::string, testing::Archive>> Archives(const Options& options)
{
    if (options.sfx_layout) {
        std::vector<std::pair<std::string, testing::Archive>> archives = {
            {"sfx", Layout("--sfx", *options.sfx_layout)}};
        if (options.speech_layout) {
            archives.emplace_back("speech", Layout("--speech", *options.speech_layout));
        }
        return archives;
    }
    const std::string name(options.profile.value_or(kDefaultProfile));
    const Profile* profile = FindProfile(name);
    if (profile == nullptr) {
        throw UsageError("unknown profile '" + name + "'");
    }
    if (profile->sized != options.size.has_value()) {
        throw UsageError("the profile " + name + (profile->sized ? " needs --size" : " takes no --size"));
    }
    const GameContent game = profile->make(options.seed, options.size.value_or(0));
    return {{"sfx", GameArchive(game.sfx)}, {"speech", GameArchive(game.speech)}};
}

// Writes `folder`/`name`/: the files the model says a correct extraction of
// the archive file gives, copied out of it. Prints how many and how large.
void WriteExpectedFiles(const std::filesystem::path& folder, const std::string& name,
                        const std::filesystem::path& archive_path, std::ostream& report)
{
    std::ifstream archive(archive_path, std::ios::binary);
    archive.exceptions(std::ios::failbit | std::ios::badbit);
    const auto read = [&archive](std::uint64_t offset, std::span<std::byte> out) {
        archive.seekg(static_cast<std::streamoff>(offset));
        archive.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    };
    const model::Extraction extraction = model::ExtractArchive(std::filesystem::file_size(archive_path), read);
    std::filesystem::create_directories(folder / name);
    std::uint64_t bytes = 0;
    std::vector<std::byte> chunk(64 * 1024);
    for (const model::File& file : extraction.files) {
        const std::filesystem::path path = folder / name / model::FileName(name, file);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::uint64_t done = 0; done < file.bytes.size && out; done += chunk.size()) {
            chunk.resize(std::min<std::uint64_t>(64 * 1024, file.bytes.size - done));
            read(file.bytes.offset + done, chunk);
            out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        }
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + path.string());
        }
        bytes += file.bytes.size;
    }
    report << "expected " << name << ": " << extraction.files.size() << " files, " << bytes << " bytes\n";
}

int Run(const Options& options, std::ostream& out)
{
    const auto archives = Archives(options);
    for (const char* name : {"sfx", "speech"}) {
        std::error_code unknown;  // a folder that cannot be looked into fails when written
        if (options.expect_folder && std::filesystem::exists(*options.expect_folder / name, unknown)) {
            // Files left from another game would pass for expected ones.
            throw std::runtime_error("--expect: " + (*options.expect_folder / name).string() + " already exists");
        }
    }
    std::filesystem::create_directories(*options.folder);
    for (const auto& [name, archive] : archives) {
        const ArchiveSummary summary = WriteArchiveFile(*options.folder / (name + ".pak"), archive, options.seed);
        out << name << ".pak: " << summary.bytes << " bytes, " << summary.blocks << " blocks\n";
    }
    for (const auto& [name, archive] : archives) {
        if (options.expect_folder) {
            WriteExpectedFiles(*options.expect_folder, name, *options.folder / (name + ".pak"), out);
        }
    }
    return 0;
}

}  // namespace

int MakeSampleMain(std::span<const std::string_view> arguments, std::ostream& out, std::ostream& err)
{
    try {
        const Options options = Parse(arguments);
        if (options.help) {
            PrintUsage(out);
            return 0;
        }
        return Run(options, out);
    } catch (const UsageError& error) {
        err << "quorvel-make-sample: " << error.what() << "\n";
        PrintUsage(err);
        return kExitUsage;
    } catch (const std::exception& error) {
        err << "quorvel-make-sample: " << error.what() << "\n";
        return kExitFailed;
    }
}

}  // namespace quorvel::sample
