// The command line as getopt_long reads it, on every system the terminal
// program is built for (glibc's getopt_long, and MinGW-w64's on Windows).

#include "terminal/options.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using Action = ParsedCommandLine::Action;

ParsedCommandLine Parse(const std::vector<std::string>& arguments)
{
    std::vector<std::string> strings = {"quorvel-extractor"};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : strings) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return ParseCommandLine(static_cast<int>(strings.size()), argv.data());
}

TEST(CommandLine, ShortOptionsBundleAndTakeTheirValueJoinedOrNext)
{
    const Options bundled = Parse({"-yq", "-Cgame", "-o", "out"}).options;
    EXPECT_EQ(bundled.answer, true);
    EXPECT_TRUE(bundled.quiet);
    EXPECT_EQ(bundled.game_folder, "game");
    EXPECT_EQ(bundled.output_folder, "out");

    const Options no_then_list = Parse({"-nql", "--game=my game"}).options;
    EXPECT_EQ(no_then_list.answer, false);
    EXPECT_TRUE(no_then_list.list && no_then_list.quiet);
    EXPECT_EQ(no_then_list.game_folder, "my game");

    // A short option's value is the next argument, whatever it looks like.
    const ParsedCommandLine folder_named_y = Parse({"-o", "-y"});
    EXPECT_EQ(folder_named_y.options.output_folder, "-y");
    EXPECT_FALSE(folder_named_y.options.answer);
}

TEST(CommandLine, OperandsComeAmongTheOptionsOrAfterTheirEnd)
{
    const ParsedCommandLine parsed = Parse({"sfx:12", "-y", "*.wav", "--", "-n", "--list"});
    ASSERT_EQ(parsed.action, Action::kRun);
    EXPECT_EQ(parsed.options.answer, true);
    EXPECT_FALSE(parsed.options.list);
    EXPECT_EQ(parsed.options.operands, (std::vector<std::string>{"sfx:12", "*.wav", "-n", "--list"}));
}

TEST(CommandLine, TheLastAnswerCounts)
{
    EXPECT_EQ(Parse({"-y", "-n"}).options.answer, false);
    EXPECT_EQ(Parse({"--no", "--yes"}).options.answer, true);
    EXPECT_EQ(Parse({"-C", "a", "-C", "b"}).options.game_folder, "b");
}

TEST(CommandLine, UsageErrorsNameTheOption)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"-yx"}, "unknown option '-x'"},
        {{"-C"}, "option '-C' needs a folder"},
        {{"--output"}, "option '--output' needs a folder"},
        {{"--game="}, "option '--game' needs a folder"},
        {{"-C", ""}, "option '-C' needs a folder"},
        {{"--list=yes"}, "option '--list' takes no value"},
        {{"--port", "http"}, "option '--port' needs a port number (0 to 65535), not 'http'"},
        {{"--studio", "--port"}, "option '--port' needs a port number"},
        {{"--export"}, "option '--export' needs a format: wav, flac, ogg, opus or mp3"},
        {{"--find", "a.wav", "--max", "0"}, "option '--max' needs a count of sounds (1 or more), not '0'"},
        {{"--find", "a.wav", "--max", "5x"}, "option '--max' needs a count of sounds (1 or more), not '5x'"},
    };
    for (const auto& [arguments, message] : cases) {
        const ParsedCommandLine parsed = Parse(arguments);
        EXPECT_EQ(parsed.action, Action::kUsageError) << message;
        EXPECT_EQ(parsed.usage_error, message);
    }
}

TEST(CommandLine, OptionsThatCannotGoTogetherAreUsageErrors)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-O"}, "-O writes the chosen files to standard output: name them after the options"},
        {{"-O", "--list", "x"}, "-O writes the chosen files to standard output: it takes no --list"},
        {{"-O", "--pack"}, "-O writes the chosen files to standard output: it takes no --pack"},
        {{"-O", "-k", "x"}, "-O writes nothing to disk, so it takes no -k"},
        {{"-k", "--pack"}, "-k goes with an extraction: it takes no --pack"},
        {{"--pack", "-y"}, "--pack asks nothing: it takes no --yes"},
        {{"--pack", "sfx:1"}, "--pack packs whole archives: it takes no files to choose ('sfx:1')"},
        {{"--json"}, "--json goes with --list or --find"},
        {{"--find", "a.wav", "--export", "flac"}, "--find searches the game's sounds for a clip: it takes no --export"},
        {{"--find", "a.wav", "-O", "x"}, "--find searches the game's sounds for a clip: it takes no -O"},
        {{"--find", "a.wav", "sfx:1"}, "--find searches every sound: it takes no files to choose ('sfx:1')"},
        {{"--max", "3"}, "--max goes with --find"},
        {{"-l", "-o", "out"}, "--list writes nothing, so it takes no --output"},
        {{"--port", "80"}, "--port goes with --studio"},
        {{"--export", "flac", "-l"}, "--export writes sound files: it takes no --list"},
        {{"-O", "--export=ogg", "x"}, "-O writes the chosen files to standard output: it takes no --export"},
        {{"-v", "--export", "mp3"}, "-v goes with an extraction: it takes no --export"},
        {{"--labels", "mine.tsv"}, "--labels goes with --studio, --list, --export or --replace"},
        {{"--replace", "sfx:3", "new.mp3", "speech:1"},
         "--replace takes pairs of a sound and its new file: 'speech:1' has no file"},
        {{"--replace"}, "--replace takes pairs of a sound and its new file: --replace SOUND FILE [SOUND FILE ...]"},
        {{"--replace", "-y", "sfx:3", "a.wav"}, "--replace puts new sounds in the output folder: it takes no --yes"},
        {{"--replace-list", "list.tsv", "--pack"},
         "--replace puts new sounds in the output folder: it takes no --pack"},
        {{"--replace-list", "list.tsv", "sfx:3"},
         "--replace-list takes its sounds from the list: no files to choose ('sfx:3')"},
        {{"--fit-length", "sfx:3"}, "--fit-length goes with --replace"},
    };
    for (const auto& [arguments, message] : cases) {
        const ParsedCommandLine parsed = Parse(arguments);
        EXPECT_EQ(parsed.action, Action::kUsageError) << message;
        EXPECT_EQ(parsed.usage_error, message);
    }
    EXPECT_EQ(Parse({"-O", "sfx/sfx_0001.wav"}).action, Action::kRun);
    const ParsedCommandLine replacing = Parse(
        {"--replace", "speech:18", "line.mp3", "--dry-run", "--keep-loudness", "-C", "game", "sfx/x.wav", "y.ogg"});
    ASSERT_EQ(replacing.action, Action::kRun) << replacing.usage_error;
    EXPECT_EQ(replacing.options.operands, (std::vector<std::string>{"speech:18", "line.mp3", "sfx/x.wav", "y.ogg"}));
    EXPECT_TRUE(replacing.options.keep_loudness && replacing.options.dry_run);
    EXPECT_EQ(Parse({"--help", "--frobnicate"}).action, Action::kHelp);
    EXPECT_EQ(Parse({"--studio", "--port", "0", "--no-open", "--labels", "mine.tsv"}).options.port, 0u);
    const ParsedCommandLine exporting = Parse({"--export=opus", "-n", "-o", "out", "--labels", "mine.tsv", "sfx:1"});
    EXPECT_EQ(exporting.action, Action::kRun);
    EXPECT_EQ(exporting.options.export_format, "opus");
}

}  // namespace
}  // namespace quorvel
