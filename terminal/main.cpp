// quorvel-extractor for Linux and macOS, and quorvel-extractor-cli.exe for
// the Windows console: unpacks sfx.pak (and, on Yes, speech.pak) of a game
// folder into the folders sfx and speech, lists what it would write, packs
// edited files back, or writes chosen files to standard output. What
// differs between the systems is behind terminal/console.hpp.

#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/form1.hpp"
#include "app/list_run.hpp"
#include "app/selection.hpp"
#include "terminal/console.hpp"
#include "terminal/listing_printer.hpp"
#include "terminal/messages.hpp"
#include "terminal/options.hpp"
#include "terminal/pack_command.hpp"
#include "terminal/standard_output.hpp"
#include "terminal/stdout_file_system.hpp"
#include "terminal/terminal_ui.hpp"
#ifdef QUORVEL_WITH_STUDIO
#include "labels/label_store.hpp"
#include "terminal/studio_command.hpp"
#endif
#ifdef QUORVEL_WITH_SOUND_RUNS
#include "terminal/export_command.hpp"
#include "terminal/find_command.hpp"
#include "terminal/replace_command.hpp"
#endif

#ifndef QUORVEL_VERSION
#define QUORVEL_VERSION "unknown"
#endif

namespace {

using quorvel::Options;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitTruncated = 3;

constexpr std::string_view kHelp =
    "Usage: quorvel-extractor [-y | -n] [-C GAME] [-o DIR] [-k] [-v] [-q] [FILE...]\n"
    "       quorvel-extractor -O [-C GAME] FILE...\n"
    "       quorvel-extractor -l [-y | -n] [--json] [-C GAME] [--labels FILE] [FILE...]\n"
    "       quorvel-extractor --pack [--dry-run] [-C GAME] [-o DIR] [-q]\n"
    "       quorvel-extractor --export FORMAT [-y | -n] [-C GAME] [-o DIR] [--labels FILE]\n"
    "                         [-q] [FILE...]\n"
    "       quorvel-extractor --replace SOUND FILE [SOUND FILE ...] [-C GAME] [-o DIR] [-q]\n"
    "                         [--dry-run] [--keep-loudness] [--fit-length]\n"
    "       quorvel-extractor --replace-list LIST [-C GAME] [-o DIR] [-q] [--dry-run] ...\n"
    "       quorvel-extractor --find CLIP [-y | -n] [-C GAME] [-o DIR] [-q] [--max N] [--json]\n"
    "       quorvel-extractor --studio [-C GAME] [-o DIR] [--labels FILE] [--port N] [--no-open]\n"
    "Unpacks sfx.pak of the game's folder into the folder sfx and, if the answer\n"
    "to \"Also extract speech files?\" is yes, speech.pak into speech.\n"
    "\n"
    "  -y, --yes          extract the speech files too, without asking\n"
    "  -n, --no           only the sound effects, without asking\n"
    "  -C, --game GAME    the game's folder, holding the archives (default: here)\n"
    "  -o, --output DIR   make the folders sfx and speech in DIR (made if missing)\n"
    "                     instead of beside the archives\n"
    "  -k, --keep-old-files  leave files that are there already as they are\n"
    "  -v, --verbose      write the path of each file written on standard output\n"
    "  -O, --to-stdout    write the chosen files to standard output, one after the\n"
    "                     other, and nothing to disk\n"
    "  -l, --list         write nothing: list the files extraction would write,\n"
    "                     with kind, archive offset, size and a sound's format\n"
    "      --json         with --list or --find: one JSON object per line\n"
    "      --pack         put the files of sfx and speech (in DIR with -o) back\n"
    "                     into sfx.pak and speech.pak, keeping the old archives\n"
    "                     as sfx.pak.bak and speech.pak.bak\n"
    "      --dry-run      with --pack: make every check, write nothing, show the\n"
    "                     blocks that would change, their sizes and their files;\n"
    "                     with --replace: show what each sound would become\n"
    "      --export FORMAT  decode the chosen sounds (all without FILEs) and write\n"
    "                     them as FORMAT (wav, flac, ogg, opus or mp3) into\n"
    "                     export/sfx and export/speech in DIR (default: the game's\n"
    "                     folder), named by number and label; files that are not\n"
    "                     sounds are left out\n"
    "      --replace      put each FILE (WAV, FLAC, Ogg, Opus, MP3, AIFF) in the\n"
    "                     place of its SOUND (sfx/sfx_0012.wav, sfx:12) in sfx or\n"
    "                     speech, made into the very format of the sound it\n"
    "                     replaces and matched to its loudness; --pack then puts\n"
    "                     it into the game\n"
    "      --replace-list LIST  the same, one SOUND<TAB>FILE a line (SOUND may be a\n"
    "                     label that names one sound)\n"
    "      --keep-loudness  with --replace: leave the new sound's level as it is\n"
    "      --fit-length   with --replace: trim or pad it to the old sound's length\n"
    "      --find CLIP    find the sounds that hold CLIP (a recording of a part\n"
    "                     of one: WAV, FLAC, Ogg, MP3...), best first, one\n"
    "                     PATH<TAB>SECONDS<TAB>SCORE line each (SECONDS: where the\n"
    "                     clip starts); keeps an index of the sounds in DIR\n"
    "      --max N        with --find: at most N sounds (default: 10)\n"
    "      --studio       hear, find, name and swap the sounds in the browser: a\n"
    "                     page served on 127.0.0.1, its address on stderr\n"
    "      --labels FILE  with --studio: attach the labels of a shared list;\n"
    "                     with --list: show them; with --export: name the files\n"
    "                     by them (default: quorvel-labels.tsv in DIR, if there)\n"
    "      --port N       with --studio: serve on port N (default: a free one)\n"
    "      --no-open      with --studio: print the address, open no browser\n"
    "  -q, --quiet        no title, status lines, progress or summary\n"
    "  -h, --help         show this help\n"
    "      --version      show the version\n"
    "\n"
    "FILE chooses files: a listed path (sfx/sfx_0012.wav), a shell pattern matched\n"
    "against the path, or against the file name when it has no / (*.wav,\n"
    "speech/*, sfx_001?.wav), or numbers of an archive (sfx:12, sfx:12-40,\n"
    "speech:7-). With FILEs and no -y or -n nothing is asked: both archives are\n"
    "searched, and speech.pak is needed only when a FILE names speech.\n"
    "\n"
    "A short option's value is the next argument, whatever it is: -o -y makes a\n"
    "folder named -y. -O goes with neither --list nor --pack nor -o, -k, -v;\n"
    "-k and -v go with an extraction only; --pack takes no FILE, -y or -n.\n"
    "\n"
    "Examples:\n"
    "  quorvel-extractor -y                      everything, here, no question\n"
    "  quorvel-extractor -C ~/games/quorvel -o ~/sounds -n\n"
    "                                            sound effects of an installed game\n"
    "  quorvel-extractor -l -C ~/games/quorvel   see inside first\n"
    "  quorvel-extractor sfx:12 'speech/*'       only these files\n"
    "  quorvel-extractor -O sfx/sfx_0012.wav | aplay\n"
    "                                            hear one sound\n"
    "  quorvel-extractor --pack                  put edited sounds back into the game\n"
    "  quorvel-extractor --export flac -y        every sound as FLAC, in export/\n"
    "  quorvel-extractor --find heard.wav -y     which sound is this?\n"
    "\n"
    "Exit status: 0 done; 1 failed (the message says why; for --export, also\n"
    "when a sound could not be exported, once the others are; for --find, also\n"
    "when no sound holds the clip); 2 bad usage;\n"
    "3 done, but an archive was truncated; 128 + the signal when stopped\n"
    "(130 Ctrl-C, 143 SIGTERM, 129 the terminal closed).\n";

int UsageError(const std::string& message)
{
    quorvel::PrintMessage(stderr, message);
    std::fputs("Try 'quorvel-extractor --help'.\n", stderr);
    return kExitUsage;
}

// The folders given on the command line: the game folder must be one, the
// output folder is made with its parents when the run writes into it.
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

quorvel::Places PlacesOf(const Options& options)
{
    return quorvel::Places{.game_folder = options.game_folder, .output_folder = options.output_folder};
}

// After a failed run: a missing sfx.pak most often means the wrong folder.
void HintIfNoGameHere(const quorvel::FileSystem& files, const Options& options)
{
    if (!quorvel::HoldsGame(files, *quorvel::MakePlatformPackFileSystem(), PlacesOf(options))) {
        std::fprintf(stderr, "%s\n", std::string(quorvel::kNoGameHint).c_str());
    }
}

int ExitStatusOf(quorvel::RunEnd end, const quorvel::FileSystem& files, const Options& options)
{
    switch (end) {
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

// The answer to "Also extract speech files?" when files are chosen and no
// answer was given: speech.pak is searched where it is, and must be there
// only for an operand that names it.
std::optional<bool> AnswerFor(const Options& options, const quorvel::Selection& selection,
                              const quorvel::FileSystem& files)
{
    if (options.answer || selection.Empty()) {
        return options.answer;
    }
    return selection.Names(quorvel::kSpeech) ||
           quorvel::ArchiveIsThere(files, *quorvel::MakePlatformPackFileSystem(), PlacesOf(options), quorvel::kSpeech);
}

// Once the run is done: every operand must have chosen something.
int CheckEveryOperandChose(const quorvel::Selection& selection, int status)
{
    if (status != 0 && status != kExitTruncated) {
        return status;
    }
    for (const std::string& operand : selection.Unmatched()) {
        quorvel::PrintMessage(stderr, "'" + operand + "' chooses no file of the archives");
        status = kExitFailed;
    }
    return status;
}

int List(quorvel::FileSystem& files, const Options& options, quorvel::Selection& selection,
         quorvel::StandardOutput& output)
{
    const auto style = options.json                  ? quorvel::ListingPrinter::Style::kJson
                       : quorvel::IsTerminal(stdout) ? quorvel::ListingPrinter::Style::kColumns
                                                     : quorvel::ListingPrinter::Style::kTabs;
    const bool with_speech = AnswerFor(options, selection, files).value_or(true);
    quorvel::ListingPrinter printer(output, stderr, style, quorvel::StopSignal());
    std::map<std::string, std::string> labels;
    if (!options.labels_file.empty()) {
#ifdef QUORVEL_WITH_STUDIO
        try {
            const std::string list = quorvel::ReadSharedList(files, options.labels_file);
            const auto game = quorvel::GameReader::Open(files, PlacesOf(options), with_speech);
            labels = quorvel::MatchList(game, list).labels;
        } catch (const quorvel::ExtractError& error) {
            quorvel::PrintError(stderr, error.failure());
            HintIfNoGameHere(files, options);
            return kExitFailed;
        }
        printer.ShowLabels(&labels);
#else
        return UsageError("this build has no labels (they need xxhash)");
#endif
    }
    const quorvel::RunEnd end =
        quorvel::ListRun(files, PlacesOf(options), with_speech, printer, selection.Empty() ? nullptr : &selection);
    return CheckEveryOperandChose(selection, ExitStatusOf(end, files, options));
}

int Extract(quorvel::FileSystem& files, const Options& options, quorvel::Selection& selection,
            quorvel::StandardOutput& output)
{
    quorvel::TerminalUi::Options ui_options;
    ui_options.answer = AnswerFor(options, selection, files);
    ui_options.draw_bar = quorvel::IsTerminal(stderr);
    ui_options.erase_with_escape = ui_options.draw_bar && quorvel::PrepareLineErasing(stderr);
    ui_options.quiet = options.quiet;
    ui_options.files_written = options.verbose ? &output : nullptr;
    quorvel::TerminalUi ui(std::cin, stderr, ui_options, quorvel::StopSignal());
    quorvel::StdoutFileSystem to_stdout(files, output);
    const quorvel::ExtractionOptions extraction{.choice = selection.Empty() ? nullptr : &selection,
                                                .if_taken = options.keep_old_files
                                                                ? quorvel::FileSystem::IfTaken::kKeep
                                                                : quorvel::FileSystem::IfTaken::kReplace};
    quorvel::Form1 form(ui, options.to_stdout ? static_cast<quorvel::FileSystem&>(to_stdout) : files, PlacesOf(options),
                        extraction);
    return CheckEveryOperandChose(selection, ExitStatusOf(form.FormLoad(), files, options));
}

#if defined(QUORVEL_WITH_SOUND_RUNS) && defined(QUORVEL_WITH_STUDIO)
// The labels an export names its files by: the list given with --labels,
// else the output folder's own labels file where there is one; path ->
// label, matched as the studio matches a list. The one place that knows
// where labels are read and matched. Throws studio::RunFailed.
std::map<std::string, std::string> LabelsForExport(quorvel::FileSystem& files, const Options& options)
{
    const auto pack_files = quorvel::MakePlatformPackFileSystem();
    const quorvel::Places places = PlacesOf(options);
    std::optional<std::string> list;
    if (!options.labels_file.empty()) {
        list = quorvel::ReadSharedList(files, options.labels_file);
    } else {
        const std::string base = quorvel::ArchiveLocation::OutputParent(options.game_folder, options.output_folder);
        list = quorvel::ReadLabelsFile(files, quorvel::LabelsFilePath(files, base));
    }
    if (!list) {
        return {};
    }
    // Both archives where both are there: the labels of files the run then
    // leaves out cost nothing but their hashes.
    const bool speech = quorvel::ArchiveIsThere(files, *pack_files, places, quorvel::kSpeech);
    return quorvel::MatchList(quorvel::GameReader::Open(files, places, speech), *list).labels;
}
#endif

#ifdef QUORVEL_WITH_SOUND_RUNS
int Export(quorvel::FileSystem& files, const Options& options, quorvel::Selection& selection,
           quorvel::audio::ExportFormat format)
{
    std::map<std::string, std::string> labels;
#ifdef QUORVEL_WITH_STUDIO
    try {
        labels = LabelsForExport(files, options);
    } catch (const quorvel::ExtractError& error) {
        quorvel::PrintError(stderr, error.failure());
        HintIfNoGameHere(files, options);
        return kExitFailed;
    }
#endif
    const bool draw_bar = quorvel::IsTerminal(stderr);
    const quorvel::ExportCommand command{.request = {.places = PlacesOf(options),
                                                     .format = format,
                                                     .choice = selection.Empty() ? nullptr : &selection,
                                                     .labels = &labels},
                                         .answer = AnswerFor(options, selection, files),
                                         .quiet = options.quiet,
                                         .draw_bar = draw_bar,
                                         .erase_with_escape = draw_bar && quorvel::PrepareLineErasing(stderr)};
    const quorvel::RunEnd end = quorvel::RunExportCommand(command, files, quorvel::StopSignal(), std::cin, stderr);
    return CheckEveryOperandChose(selection, ExitStatusOf(end, files, options));
}
#endif

#ifdef QUORVEL_WITH_SOUND_RUNS
int Find(quorvel::FileSystem& files, const Options& options, quorvel::StandardOutput& output)
{
    const bool draw_bar = quorvel::IsTerminal(stderr);
    const quorvel::FindCommand command{
        .request = {.places = PlacesOf(options), .clip = *options.find_clip, .most = options.most_found.value_or(10)},
        .answer = options.answer,
        .quiet = options.quiet,
        .json = options.json,
        .draw_bar = draw_bar,
        .erase_with_escape = draw_bar && quorvel::PrepareLineErasing(stderr)};
    const int status = quorvel::RunFindCommand(command, files, quorvel::StopSignal(), std::cin, stderr, output);
    return status;
}
#endif

#ifdef QUORVEL_WITH_SOUND_RUNS
// The replacements asked for: the operands' SOUND FILE pairs, or the lines
// of --replace-list.
std::vector<quorvel::ReplacementAsked> ReplacementsAsked(quorvel::FileSystem& files, const Options& options)
{
    if (!options.replace_list.empty()) {
        return quorvel::ParseReplaceList(quorvel::ReadSharedList(files, options.replace_list), options.replace_list);
    }
    std::vector<quorvel::ReplacementAsked> asked;
    for (std::size_t i = 0; i + 1 < options.operands.size(); i += 2) {
        asked.push_back({.sound = options.operands[i], .file = options.operands[i + 1]});
    }
    return asked;
}

int Replace(quorvel::FileSystem& files, const Options& options)
{
    quorvel::ReplaceCommand command;
    command.quiet = options.quiet;
    command.draw_bar = quorvel::IsTerminal(stderr);
    command.request.fitting = {.keep_loudness = options.keep_loudness, .fit_length = options.fit_length};
    command.request.dry_run = options.dry_run;
    const auto pack_files = quorvel::MakePlatformPackFileSystem();
    try {
        command.request.asked = ReplacementsAsked(files, options);
        command.request.labels = LabelsForExport(files, options);
    } catch (const quorvel::ExtractError& error) {
        quorvel::PrintError(stderr, error.failure());
        HintIfNoGameHere(files, options);
        return kExitFailed;
    }
    quorvel::GameFolder game(PlacesOf(options), files, quorvel::MakeFileSystem, *pack_files);
    switch (quorvel::RunReplaceCommand(command, game, quorvel::StopSignal(), stderr)) {
        case quorvel::RunEnd::kCompleted:
        case quorvel::RunEnd::kTruncated:
            return 0;
        case quorvel::RunEnd::kFailed:
            return kExitFailed;
        case quorvel::RunEnd::kCancelled:
            break;
    }
    return 128 + quorvel::StopSignal().load();
}
#endif

int Pack(quorvel::FileSystem& files, const Options& options, quorvel::StandardOutput& output)
{
    const auto pack_files = quorvel::MakePlatformPackFileSystem();
    const quorvel::PackCommand command{.places = PlacesOf(options),
                                       .dry_run = options.dry_run,
                                       .quiet = options.quiet,
                                       .draw_bar = quorvel::IsTerminal(stderr)};
    return quorvel::RunPackCommand(command, files, *pack_files, quorvel::StopSignal(), stderr, output);
}

int Run(const Options& options)
{
    std::optional<quorvel::Selection> selection;
    try {
        selection = quorvel::Selection::Parse(options.operands, quorvel::kBackslashSeparatesPaths);
    } catch (const quorvel::BadOperand& bad) {
        return UsageError(bad.what());
    }
#ifdef QUORVEL_WITH_SOUND_RUNS
    std::optional<quorvel::audio::ExportFormat> export_format;
    if (options.export_format) {
        export_format = quorvel::audio::ExportFormatNamed(*options.export_format);
        if (!export_format) {
            return UsageError("option '--export' needs a format: wav, flac, ogg, opus or mp3, not '" +
                              *options.export_format + "'");
        }
    }
#else
    if (options.export_format) {
        return UsageError("this build has no sound export (it needs libsndfile, libsoxr and xxhash)");
    }
#endif
#ifndef QUORVEL_WITH_STUDIO
    if (options.export_format && !options.labels_file.empty()) {
        return UsageError("this build has no studio, whose labels --labels reads");
    }
#endif
    if (options.to_stdout && quorvel::IsTerminal(stdout)) {
        quorvel::PrintMessage(stderr,
                              "standard output is a terminal, and sounds are not written to one: send them to a "
                              "file or a player (quorvel-extractor -O sfx/sfx_0012.wav | aplay)");
        return kExitFailed;
    }
    if (options.to_stdout) {
        quorvel::UseBinaryStandardOutput();
    }
    if (const auto failure = CheckFolders(options)) {
        quorvel::PrintError(stderr, *failure);
        return kExitFailed;
    }
    const auto files = quorvel::MakeFileSystem();
    quorvel::StandardOutput output;
    if (options.studio) {
#ifdef QUORVEL_WITH_STUDIO
        const auto pack_files = quorvel::MakePlatformPackFileSystem();
        const quorvel::StudioCommand command{
            .places = PlacesOf(options),
            .labels_file = options.labels_file.empty() ? std::nullopt : std::optional<std::string>(options.labels_file),
            .port = static_cast<std::uint16_t>(options.port.value_or(0)),
            .open_browser = !options.no_open};
        quorvel::GameFolder game(command.places, *files, quorvel::MakeFileSystem, *pack_files);
        const auto opener = quorvel::MakePlatformBrowserOpener();
        return quorvel::RunStudio(command, game, *opener, quorvel::StopSignal(), stderr);
#else
        return UsageError("this build has no studio (it needs Boost.Beast, nlohmann-json and xxhash)");
#endif
    }
    if (options.pack) {
        return Pack(*files, options, output);
    }
    if (options.find_clip) {
#ifdef QUORVEL_WITH_SOUND_RUNS
        return Find(*files, options, output);
#else
        return UsageError("this build has no sound libraries, which --find needs");
#endif
    }
    if (options.replace || !options.replace_list.empty()) {
#ifdef QUORVEL_WITH_SOUND_RUNS
        return Replace(*files, options);
#else
        return UsageError("this build has no sound libraries, which --replace needs");
#endif
    }
#ifdef QUORVEL_WITH_SOUND_RUNS
    if (export_format) {
        return Export(*files, options, *selection, *export_format);
    }
#endif
    return options.list ? List(*files, options, *selection, output) : Extract(*files, options, *selection, output);
}

// The help is longer than one buffer of standard output: a write that fails
// on the way is told with its own error, which the last flush no longer knows.
int WriteHelp()
{
    try {
        quorvel::StandardOutput().Write(kHelp);
    } catch (const quorvel::ExtractError& error) {
        quorvel::PrintError(stderr, error.failure());
        return kExitFailed;
    } catch (const quorvel::Cancelled&) {  // the reader went away
        return 128 + quorvel::StopSignal().load();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    quorvel::PrepareConsole();
    quorvel::CommandLine command_line(argc, argv);
    const quorvel::ParsedCommandLine parsed = quorvel::ParseCommandLine(command_line.argc(), command_line.argv());
    switch (parsed.action) {
        case quorvel::ParsedCommandLine::Action::kHelp:
            return quorvel::FinishStandardOutput(WriteHelp());
        case quorvel::ParsedCommandLine::Action::kVersion:
            std::fputs("quorvel-extractor " QUORVEL_VERSION "\n", stdout);
            return quorvel::FinishStandardOutput(0);
        case quorvel::ParsedCommandLine::Action::kUsageError:
            return UsageError(parsed.usage_error);
        case quorvel::ParsedCommandLine::Action::kRun:
            break;
    }
    return quorvel::FinishStandardOutput(Run(parsed.options));
}
