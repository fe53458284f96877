#include "terminal/options.hpp"

#include <getopt.h>

#include <charconv>
#include <string_view>

namespace quorvel {
namespace {

// Long options without a short one.
enum LongOnly : int {
    kJson = 256,
    kPack,
    kDryRun,
    kVersion,
    kStudio,
    kLabels,
    kPort,
    kNoOpen,
    kExport,
    kReplace,
    kReplaceList,
    kKeepLoudness,
    kFitLength,
    kFind,
    kMax,
};

// A leading ':' makes a missing value tell itself apart from an unknown option.
constexpr char kShortOptions[] = ":ynC:o:lqOkvh";

const option kLongOptions[] = {
    {"yes", no_argument, nullptr, 'y'},
    {"no", no_argument, nullptr, 'n'},
    {"game", required_argument, nullptr, 'C'},
    {"output", required_argument, nullptr, 'o'},
    {"list", no_argument, nullptr, 'l'},
    {"json", no_argument, nullptr, kJson},
    {"pack", no_argument, nullptr, kPack},
    {"dry-run", no_argument, nullptr, kDryRun},
    {"quiet", no_argument, nullptr, 'q'},
    {"to-stdout", no_argument, nullptr, 'O'},
    {"keep-old-files", no_argument, nullptr, 'k'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"studio", no_argument, nullptr, kStudio},
    {"labels", required_argument, nullptr, kLabels},
    {"port", required_argument, nullptr, kPort},
    {"no-open", no_argument, nullptr, kNoOpen},
    {"export", required_argument, nullptr, kExport},
    {"replace", no_argument, nullptr, kReplace},
    {"replace-list", required_argument, nullptr, kReplaceList},
    {"keep-loudness", no_argument, nullptr, kKeepLoudness},
    {"fit-length", no_argument, nullptr, kFitLength},
    {"find", required_argument, nullptr, kFind},
    {"max", required_argument, nullptr, kMax},
    {nullptr, 0, nullptr, 0},
};

// The option as it was written: "--game" (without any "=value") or "-C".
std::string AsWritten(const char* argument, int short_option)
{
    const std::string_view text = argument != nullptr ? argument : "";
    if (text.starts_with("--")) {
        return std::string(text.substr(0, text.find('=')));
    }
    return short_option > 0 && short_option < 256 ? std::string("-") + static_cast<char>(short_option)
                                                  : std::string(text);
}

// A long option that takes no value, as written ("--list").
bool TakesNoValue(const std::string& written)
{
    for (const ::option* known = kLongOptions; known->name != nullptr; ++known) {
        if (known->has_arg == no_argument && written == std::string("--") + known->name) {
            return true;
        }
    }
    return false;
}

std::string WhatItNeeds(int option)
{
    switch (option) {
        case kLabels:
            return "a file";
        case kPort:
            return "a port number";
        case kExport:
            return "a format: wav, flac, ogg, opus or mp3";
        case kReplaceList:
        case kFind:
            return "a file";
        case kMax:
            return "a count of sounds (1 or more)";
        default:
            return "a folder";
    }
}

std::optional<unsigned> ParseCount(std::string_view text)
{
    unsigned count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc{} || end != text.data() + text.size() || count == 0) {
        return std::nullopt;
    }
    return count;
}

std::optional<unsigned> ParsePort(std::string_view text)
{
    unsigned port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc{} || end != text.data() + text.size() || port > 65535) {
        return std::nullopt;
    }
    return port;
}

// A replacement's options, against the others.
std::optional<std::string> ReplacementConflict(const Options& options)
{
    const bool replacing = options.replace || !options.replace_list.empty();
    if (!replacing) {
        if (options.keep_loudness || options.fit_length) {
            return std::string(options.keep_loudness ? "--keep-loudness" : "--fit-length") + " goes with --replace";
        }
        return std::nullopt;
    }
    const char* other = options.list             ? "--list"
                        : options.pack           ? "--pack"
                        : options.studio         ? "--studio"
                        : options.export_format  ? "--export"
                        : options.to_stdout      ? "-O"
                        : options.keep_old_files ? "-k"
                        : options.verbose        ? "-v"
                        : !options.answer        ? nullptr
                        : *options.answer        ? "--yes"
                                                 : "--no";
    if (other != nullptr) {
        return std::string("--replace puts new sounds in the output folder: it takes no ") + other;
    }
    if (options.replace && options.operands.empty()) {
        return "--replace takes pairs of a sound and its new file: --replace SOUND FILE [SOUND FILE ...]";
    }
    if (!options.replace && !options.operands.empty()) {
        return "--replace-list takes its sounds from the list: no files to choose ('" + options.operands.front() + "')";
    }
    if (options.operands.size() % 2 != 0) {
        return "--replace takes pairs of a sound and its new file: '" + options.operands.back() + "' has no file";
    }
    return std::nullopt;
}

// A search's options, against the others.
std::optional<std::string> FindConflict(const Options& options)
{
    if (!options.find_clip) {
        if (options.most_found) {
            return std::string("--max goes with --find");
        }
        return std::nullopt;
    }
    const bool replacing = options.replace || !options.replace_list.empty();
    const char* other = options.list                   ? "--list"
                        : options.pack                 ? "--pack"
                        : options.studio               ? "--studio"
                        : options.export_format        ? "--export"
                        : replacing                    ? "--replace"
                        : options.dry_run              ? "--dry-run"
                        : options.to_stdout            ? "-O"
                        : options.keep_old_files       ? "-k"
                        : options.verbose              ? "-v"
                        : !options.labels_file.empty() ? "--labels"
                                                       : nullptr;
    if (other != nullptr) {
        return std::string("--find searches the game's sounds for a clip: it takes no ") + other;
    }
    if (!options.operands.empty()) {
        return "--find searches every sound: it takes no files to choose ('" + options.operands.front() + "')";
    }
    return std::nullopt;
}

// Options that cannot go together, named as the user would look them up.
std::optional<std::string> Conflict(const Options& options)
{
    if (auto conflict = FindConflict(options)) {
        return conflict;
    }
    const bool exporting = options.export_format.has_value();
    const bool replacing = options.replace || !options.replace_list.empty();
    const bool extraction = !options.list && !options.pack && !options.studio && !exporting && !replacing;
    if (options.json && !options.list && !options.find_clip) {
        return "--json goes with --list or --find";
    }
    if (options.dry_run && !options.pack && !replacing) {
        return "--dry-run goes with --pack or --replace";
    }
    if (auto conflict = ReplacementConflict(options)) {
        return conflict;
    }
    if (options.list && !options.output_folder.empty()) {
        return "--list writes nothing, so it takes no --output";
    }
    if (options.pack && options.list) {
        return "--pack lists nothing: it takes no --list";
    }
    if (options.pack && options.answer) {
        return "--pack asks nothing: it takes no " + std::string(*options.answer ? "--yes" : "--no");
    }
    if (options.pack && !options.operands.empty()) {
        return "--pack packs whole archives: it takes no files to choose ('" + options.operands.front() + "')";
    }
    if (exporting && (options.list || options.pack || options.studio)) {
        return std::string("--export writes sound files: it takes no ") + (options.list   ? "--list"
                                                                           : options.pack ? "--pack"
                                                                                          : "--studio");
    }
    if (options.to_stdout) {
        if (exporting) {
            return "-O writes the chosen files to standard output: it takes no --export";
        }
        if (options.list || options.pack || options.studio) {
            return std::string("-O writes the chosen files to standard output: it takes no ") + (options.list ? "--list"
                                                                                                 : options.pack
                                                                                                     ? "--pack"
                                                                                                     : "--studio");
        }
        if (options.operands.empty()) {
            return "-O writes the chosen files to standard output: name them after the options";
        }
        if (!options.output_folder.empty() || options.keep_old_files || options.verbose) {
            return std::string("-O writes nothing to disk, so it takes no ") + (!options.output_folder.empty()
                                                                                    ? "--output"
                                                                                : options.keep_old_files ? "-k"
                                                                                                         : "-v");
        }
    }
    if ((options.keep_old_files || options.verbose) && !extraction) {
        return std::string(options.keep_old_files ? "-k" : "-v") + " goes with an extraction: it takes no " +
               (options.list   ? "--list"
                : options.pack ? "--pack"
                : exporting    ? "--export"
                               : "--studio");
    }
    if (options.studio && (options.list || options.pack)) {
        return std::string("--studio takes no ") + (options.list ? "--list" : "--pack") + ": the page offers it";
    }
    if (options.studio && (options.answer || !options.operands.empty())) {
        return "--studio shows every file of both archives: it takes no " +
               std::string(options.answer ? (*options.answer ? "--yes" : "--no") : "files to choose");
    }
    if (!options.studio && (options.port || options.no_open)) {
        return std::string(options.port ? "--port" : "--no-open") + " goes with --studio";
    }
    if (!options.labels_file.empty() && !options.studio && !options.list && !exporting && !replacing) {
        return "--labels goes with --studio, --list, --export or --replace";
    }
    return std::nullopt;
}

ParsedCommandLine UsageError(std::string message)
{
    return ParsedCommandLine{
        .action = ParsedCommandLine::Action::kUsageError, .options = {}, .usage_error = std::move(message)};
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, char** argv)
{
    ParsedCommandLine parsed;
    Options& options = parsed.options;
    opterr = 0;
    optind = 0;  // from the start, whatever an earlier parse left
    for (;;) {
        int long_index = -1;
        const int option = getopt_long(argc, argv, kShortOptions, kLongOptions, &long_index);
        if (option == -1) {
            break;
        }
        // What the option was written as: for a value it took, "--game" or
        // "-C"; for an error, the argument it stopped at.
        const std::string named = long_index >= 0 ? std::string("--") + kLongOptions[long_index].name
                                                  : std::string("-") + static_cast<char>(option);
        const char* written = argv[optind - 1];
        switch (option) {
            case 'y':
            case 'n':
                options.answer = option == 'y';
                break;
            case 'C':
            case 'o':
                if (*optarg == '\0') {
                    return UsageError("option '" + named + "' needs a folder");
                }
                (option == 'C' ? options.game_folder : options.output_folder) = optarg;
                break;
            case 'l':
                options.list = true;
                break;
            case kJson:
                options.json = true;
                break;
            case kPack:
                options.pack = true;
                break;
            case kDryRun:
                options.dry_run = true;
                break;
            case 'q':
                options.quiet = true;
                break;
            case 'O':
                options.to_stdout = true;
                break;
            case 'k':
                options.keep_old_files = true;
                break;
            case 'v':
                options.verbose = true;
                break;
            case kStudio:
                options.studio = true;
                break;
            case kLabels:
                if (*optarg == '\0') {
                    return UsageError("option '--labels' needs a file");
                }
                options.labels_file = optarg;
                break;
            case kPort:
                options.port = ParsePort(optarg);
                if (!options.port) {
                    return UsageError("option '--port' needs a port number (0 to 65535), not '" + std::string(optarg) +
                                      "'");
                }
                break;
            case kNoOpen:
                options.no_open = true;
                break;
            case kExport:
                if (*optarg == '\0') {
                    return UsageError("option '--export' needs " + WhatItNeeds(kExport));
                }
                options.export_format = optarg;
                break;
            case kReplace:
                options.replace = true;
                break;
            case kReplaceList:
                if (*optarg == '\0') {
                    return UsageError("option '--replace-list' needs a file");
                }
                options.replace_list = optarg;
                break;
            case kFind:
                if (*optarg == '\0') {
                    return UsageError("option '--find' needs a file");
                }
                options.find_clip = optarg;
                break;
            case kMax:
                options.most_found = ParseCount(optarg);
                if (!options.most_found) {
                    return UsageError("option '--max' needs " + WhatItNeeds(kMax) + ", not '" + std::string(optarg) +
                                      "'");
                }
                break;
            case kKeepLoudness:
                options.keep_loudness = true;
                break;
            case kFitLength:
                options.fit_length = true;
                break;
            case 'h':
                parsed.action = ParsedCommandLine::Action::kHelp;
                return parsed;
            case kVersion:
                parsed.action = ParsedCommandLine::Action::kVersion;
                return parsed;
            case ':':
                // MinGW-w64's getopt_long says so of a value given to an
                // option that takes none, too.
                if (const std::string name = AsWritten(written, optopt);
                    TakesNoValue(name) && std::string_view(written).find('=') != std::string_view::npos) {
                    return UsageError("option '" + name + "' takes no value");
                }
                return UsageError("option '" + AsWritten(written, optopt) + "' needs " + WhatItNeeds(optopt));
            default: {
                const std::string name = AsWritten(written, optopt);
                if (TakesNoValue(name)) {  // glibc's getopt_long for "--list=yes"
                    return UsageError("option '" + name + "' takes no value");
                }
                return UsageError("unknown option '" + name + "'");
            }
        }
    }
    for (int i = optind; i < argc; ++i) {
        options.operands.emplace_back(argv[i]);
    }
    if (auto conflict = Conflict(options)) {
        return UsageError(std::move(*conflict));
    }
    return parsed;
}

}  // namespace quorvel
