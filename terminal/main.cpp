// quorvel-extractor for Linux and macOS, and quorvel-extractor-cli.exe for
// the Windows console: unpacks sfx.pak (and, on Yes, speech.pak) of a game
// folder into the folders sfx and speech, or lists what it would write.
// What differs between the systems is behind terminal/console.hpp.

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/form1.hpp"
#include "extract/listing.hpp"
#include "terminal/console.hpp"
#include "terminal/listing_printer.hpp"
#include "terminal/pack_command.hpp"
#include "terminal/terminal_ui.hpp"
#ifdef QUORVEL_WITH_STUDIO
#include "studio/core_backend.hpp"
#include "studio/studio_command.hpp"
#endif

#ifndef QUORVEL_VERSION
#define QUORVEL_VERSION "unknown"
#endif

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitTruncated = 3;

constexpr std::string_view kHelp =
    "Usage: quorvel-extractor [-y | -n] [-C GAME] [-o DIR] [-q]\n"
    "       quorvel-extractor -l [-n] [--json] [-C GAME] [--labels FILE]\n"
    "       quorvel-extractor --pack [--dry-run] [-C GAME] [-o DIR] [-q]\n"
    "       quorvel-extractor --studio [-C GAME] [-o DIR] [--labels FILE] [--port N] [--no-open]\n"
    "Unpacks sfx.pak of the game's folder into the folder sfx and, if the answer\n"
    "to \"Also extract speech files?\" is yes, speech.pak into speech.\n"
    "\n"
    "  -y, --yes          extract the speech files too, without asking\n"
    "  -n, --no           only the sound effects, without asking\n"
    "  -C, --game GAME    the game's folder, holding the archives (default: here)\n"
    "  -o, --output DIR   make the folders sfx and speech in DIR (made if missing)\n"
    "                     instead of beside the archives\n"
    "  -l, --list         write nothing: list the files extraction would write,\n"
    "                     with kind, archive offset, size and a sound's format\n"
    "      --json         with --list: one JSON object per line\n"
    "      --pack         put the files of sfx and speech (in DIR with -o) back\n"
    "                     into sfx.pak and speech.pak, keeping the old archives\n"
    "                     as sfx.pak.bak and speech.pak.bak\n"
    "      --dry-run      with --pack: write nothing, show the blocks that would\n"
    "                     change, their old and new sizes and their files\n"
    "      --studio       hear, find, name and swap the sounds in the browser: a\n"
    "                     page served on 127.0.0.1, its address on stderr\n"
    "      --labels FILE  with --studio: attach the labels of a shared list;\n"
    "                     with --list: show them\n"
    "      --port N       with --studio: serve on port N (default: a free one)\n"
    "      --no-open      with --studio: print the address, open no browser\n"
    "  -q, --quiet        no title, status lines, progress or summary\n"
    "  -h, --help         show this help\n"
    "      --version      show the version\n"
    "\n"
    "Examples:\n"
    "  quorvel-extractor -y                      everything, here, no question\n"
    "  quorvel-extractor -C ~/games/quorvel -o ~/sounds -n\n"
    "                                            sound effects of an installed game\n"
    "  quorvel-extractor -l -C ~/games/quorvel   see inside first\n"
    "  quorvel-extractor --pack                  put edited sounds back into the game\n"
    "\n"
    "Exit status: 0 done; 1 failed (the message says why); 2 bad usage;\n"
    "3 done, but an archive was truncated; 130/143 stopped by SIGINT/SIGTERM.\n";

constexpr std::string_view kNoGameHint =
    "Run it in the game's folder (the one with sfx.pak), or give that folder with -C DIR.\n";

struct Options {
    std::optional<bool> answer;
    std::string game_folder;
    std::string output_folder;
    bool list = false;
    bool json = false;
    bool pack = false;
    bool dry_run = false;
    bool quiet = false;
    bool studio = false;
    std::optional<std::string> labels;
    std::optional<std::string> port;
    bool no_open = false;
};

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "quorvel-extractor: %s\nTry 'quorvel-extractor --help'.\n", message.c_str());
    return kExitUsage;
}

// Parses the command line; returns an exit status when the run ends here.
std::optional<int> ParseArguments(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        std::optional<std::string_view> attached;  // --game=DIR
        if (const auto equals = argument.find('='); argument.starts_with("--") && equals != std::string_view::npos) {
            attached = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (attached) {
                return std::string(*attached);
            }
            if (i + 1 < argc) {
                return std::string(argv[++i]);
            }
            return std::nullopt;
        };
        if (argument == "-y" || argument == "--yes") {
            options.answer = true;
        } else if (argument == "-n" || argument == "--no") {
            options.answer = false;
        } else if (argument == "-C" || argument == "--game" || argument == "-o" || argument == "--output") {
            const auto folder = value();
            if (!folder || folder->empty()) {
                return UsageError("option '" + std::string(argument) + "' needs a folder");
            }
            (argument == "-C" || argument == "--game" ? options.game_folder : options.output_folder) = *folder;
            continue;
        } else if (argument == "-l" || argument == "--list") {
            options.list = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--pack") {
            options.pack = true;
        } else if (argument == "--dry-run") {
            options.dry_run = true;
        } else if (argument == "--labels" || argument == "--port") {
            const auto text = value();
            if (!text || text->empty()) {
                return UsageError("option '" + std::string(argument) + "' needs a value");
            }
            (argument == "--labels" ? options.labels : options.port) = *text;
            continue;
        } else if (argument == "--studio" || argument == "--no-open") {
            (argument == "--studio" ? options.studio : options.no_open) = true;
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "-h" || argument == "--help") {
            std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
            return 0;
        } else if (argument == "--version") {
            std::puts("quorvel-extractor " QUORVEL_VERSION);
            return 0;
        } else {
            return UsageError("unknown option '" + std::string(argv[i]) + "'");
        }
        if (attached) {
            return UsageError("option '" + std::string(argument) + "' takes no value");
        }
    }
    if (options.json && !options.list) {
        return UsageError("--json goes with --list");
    }
    if (options.list && !options.output_folder.empty()) {
        return UsageError("--list writes nothing, so it takes no --output");
    }
    if (options.dry_run && !options.pack) {
        return UsageError("--dry-run goes with --pack");
    }
    if (options.pack && options.list) {
        return UsageError("--pack lists nothing: it takes no --list");
    }
    if (options.pack && options.answer) {
        return UsageError("--pack asks nothing: it takes no " + std::string(*options.answer ? "--yes" : "--no"));
    }
    if ((options.port || options.no_open) && !options.studio) {
        return UsageError("--port and --no-open go with --studio");
    }
    if (options.labels && !options.studio && !options.list) {
        return UsageError("--labels goes with --studio or --list");
    }
    if (options.studio && (options.list || options.pack || options.answer)) {
        return UsageError("--studio takes no --list, --pack, --yes or --no: the page offers them");
    }
    if (options.port &&
        (options.port->size() > 5 || options.port->find_first_not_of("0123456789") != std::string::npos ||
         std::stoul(*options.port) > 65535)) {
        return UsageError("--port takes a number from 0 to 65535");
    }
    return std::nullopt;
}

// The folders given on the command line: the game folder must be one, the
// output folder is made with its parents.
std::optional<quorvel::Failure> CheckFolders(const Options& options)
{
    if (!options.game_folder.empty()) {
        if (auto failure = quorvel::CheckGameFolder(options.game_folder)) {
            return failure;
        }
    }
    // A pack reads the folders as they are: it makes none.
    if (!options.output_folder.empty() && !options.pack) {
        return quorvel::MakeOutputFolder(options.output_folder);
    }
    return std::nullopt;
}

void PrintFailure(const quorvel::Failure& failure)
{
    std::fprintf(stderr, "quorvel-extractor: %s\n", failure.Describe().c_str());
}

// After a failed run: a missing sfx.pak most often means the wrong folder.
void HintIfNoGameHere(const quorvel::FileSystem& files, const Options& options)
{
    const std::string sfx = quorvel::ArchiveLocation::Of(files, "sfx", options.game_folder).archive_path;
    if (quorvel::IsMissing(sfx)) {
        std::fwrite(kNoGameHint.data(), 1, kNoGameHint.size(), stderr);
    }
}

int List(quorvel::FileSystem& files, const Options& options)
{
    std::vector<quorvel::ArchiveLocation> archives = {quorvel::ArchiveLocation::Of(files, "sfx", options.game_folder)};
    if (options.answer != false) {
        archives.push_back(quorvel::ArchiveLocation::Of(files, "speech", options.game_folder));
    }
    const auto style = options.json                  ? quorvel::ListingPrinter::Style::kJson
                       : quorvel::IsTerminal(stdout) ? quorvel::ListingPrinter::Style::kColumns
                                                     : quorvel::ListingPrinter::Style::kTabs;
#ifdef QUORVEL_WITH_STUDIO
    if (options.labels) {
        namespace studio = quorvel::studio;
        const auto pack_files = quorvel::MakePlatformPackFileSystem();
        return studio::ListWithLabels({.game_folder = options.game_folder, .output_folder = {}},
                                      options.answer != false, static_cast<studio::ListingStyle>(style),
                                      *options.labels, files, *pack_files, stdout, stderr);
    }
#endif
    bool truncated = false;
    try {
        // As in an extraction, a missing archive stops the run before anything is listed.
        for (const auto& archive : archives) {
            files.OpenArchive(archive.archive_path);
        }
        for (const auto& archive : archives) {
            quorvel::ListingPrinter printer(stdout, style);
            quorvel::ListArchive(archive, files, printer);
            printer.FinishArchive(archive.archive_path, quorvel::ArchivePath(archive.name));
            if (printer.truncation()) {
                std::fprintf(stderr, "quorvel-extractor: warning: %s\n", printer.truncation()->Describe().c_str());
                truncated = true;
            }
        }
    } catch (const quorvel::ExtractError& error) {
        PrintFailure(error.failure());
        HintIfNoGameHere(files, options);
        return kExitFailed;
    }
    return truncated ? kExitTruncated : 0;
}

int Extract(quorvel::FileSystem& files, const Options& options)
{
    quorvel::TerminalUi::Options ui_options;
    ui_options.answer = options.answer;
    ui_options.draw_bar = quorvel::IsTerminal(stderr);
    ui_options.erase_with_escape = ui_options.draw_bar && quorvel::PrepareLineErasing(stderr);
    ui_options.quiet = options.quiet;
    quorvel::TerminalUi ui(std::cin, stderr, ui_options, quorvel::StopSignal());
    quorvel::Form1 form(ui, files,
                        quorvel::Places{.game_folder = options.game_folder, .output_folder = options.output_folder});
    switch (form.FormLoad()) {
        case quorvel::RunEnd::kCompleted:
            return 0;
        case quorvel::RunEnd::kTruncated:
            return kExitTruncated;
        case quorvel::RunEnd::kFailed:
            HintIfNoGameHere(files, options);
            return kExitFailed;
        case quorvel::RunEnd::kCancelled:
            return 128 + quorvel::StopSignal().load();
    }
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv)
{
    quorvel::PrepareConsole();
    quorvel::CommandLine command_line(argc, argv);
    Options options;
    if (const auto status = ParseArguments(command_line.argc(), command_line.argv(), options)) {
        return *status;
    }
    if (const auto failure = CheckFolders(options)) {
        PrintFailure(*failure);
        return kExitFailed;
    }
    const auto files = quorvel::MakeFileSystem();
    if (options.studio) {
#ifdef QUORVEL_WITH_STUDIO
        const auto pack_files = quorvel::MakePlatformPackFileSystem();
        const quorvel::studio::StudioCommand command{
            .game_folder = options.game_folder,
            .output_folder = options.output_folder,
            .labels_file = options.labels,
            .port = static_cast<std::uint16_t>(options.port ? std::stoul(*options.port) : 0),
            .open_browser = !options.no_open};
        return quorvel::studio::RunStudio(command, *files, *pack_files, quorvel::StopSignal(), stderr);
#else
        return UsageError("this build has no studio (it needs Boost.Beast, nlohmann-json and xxhash)");
#endif
    }
    if (options.pack) {
        const auto pack_files = quorvel::MakePlatformPackFileSystem();
        const quorvel::PackCommand command{.game_folder = options.game_folder,
                                           .output_folder = options.output_folder,
                                           .dry_run = options.dry_run,
                                           .quiet = options.quiet,
                                           .draw_bar = quorvel::IsTerminal(stderr)};
        return quorvel::RunPackCommand(command, *files, *pack_files, quorvel::StopSignal(), stderr, stdout);
    }
    return options.list ? List(*files, options) : Extract(*files, options);
}
