// Choosing files: patterns and numbers, and an extraction of the chosen
// files that gives each one exactly as a full extraction does.

#include "app/selection.hpp"

#include <gtest/gtest.h>
#include <map>
#include <string>

#include "testing/layout.hpp"
#include "testing/memory_file_system.hpp"
#include "testing/recording_listener.hpp"

namespace quorvel {
namespace {

using testing::Bytes;

TEST(Pattern, MatchesAsAShellDoesWithoutCrossingSeparators)
{
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"sfx_0012.wav", "sfx_0012.wav", true},
        {"sfx_0012.wav", "sfx_0012.wa", false},
        {"*.wav", "sfx_0012.wav", true},
        {"*.wav", "sfx_0012", false},
        {"sfx_001?.wav", "sfx_0017.wav", true},
        {"sfx_001?.wav", "sfx_00170.wav", false},
        {"sfx_00[1-3]?", "sfx_0027", true},
        {"sfx_00[!1-3]?", "sfx_0027", false},
        {"sfx_00[^1-3]?", "sfx_0047", true},
        {"[]x]", "]", true},
        {"a[", "a[", true},
        {"\\*", "*", true},
        {"\\*", "x", false},
        {"speech/*", "speech/speech_0001", true},
        {"speech/*", "speech/x/y", false},
        {"*", "sfx/sfx_0001", false},
        {"s*x/*_000?*", "sfx/sfx_0001.wav", true},
        {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", true},
        {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"", "", true},
        {"**", "", true},
        {"?", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesPattern(c.pattern, c.text), c.matches) << c.pattern << " against " << c.text;
    }
}

TEST(Selection, NumbersRangesAndPatternsEachCountWhatTheyChoose)
{
    Selection selection = Selection::Parse({"sfx:12", "sfx:20-22", "speech:7-", "*.AVQF", "speech/*_0001", "nope*"});
    EXPECT_TRUE(selection.Chooses("sfx", 12, "sfx/sfx_0012.wav"));
    EXPECT_FALSE(selection.Chooses("speech", 6, "speech/speech_0006"));
    EXPECT_TRUE(selection.Chooses("sfx", 22, "sfx/sfx_0022"));
    EXPECT_FALSE(selection.Chooses("sfx", 23, "sfx/sfx_0023"));
    EXPECT_TRUE(selection.Chooses("speech", 70000, "speech/speech_70000"));
    EXPECT_TRUE(selection.Chooses("sfx", 3, "sfx/sfx_0003.AVQF"));
    EXPECT_TRUE(selection.Chooses("speech", 1, "speech/speech_0001"));
    EXPECT_EQ(selection.Unmatched(), (std::vector<std::string>{"nope*"}));
    EXPECT_TRUE(selection.Names("speech"));
    EXPECT_FALSE(Selection::Parse({"*.wav", "sfx:1"}).Names("speech"));

    for (const char* bad : {"sfx:", "sfx:x", "sfx:12-x", "sfx:-3", "sfx:40-12", ""}) {
        EXPECT_THROW(Selection::Parse({bad}), BadOperand) << bad;
    }
    // "\\" is a separator where paths take it, an escape elsewhere.
    EXPECT_TRUE(Selection::Parse({"sfx\\sfx_0001"}, true).Chooses("sfx", 1, "sfx/sfx_0001"));
    EXPECT_FALSE(Selection::Parse({"sfx\\sfx_0001"}, false).Chooses("sfx", 1, "sfx/sfx_0001"));
}

std::map<std::string, Bytes> Extract(const testing::Archive& archive, FileChoice* choice,
                                     std::uint64_t* bytes_read = nullptr)
{
    testing::MemoryFileSystem files;
    files.AddArchive("sfx.pak", archive);
    testing::RecordingListener listener;
    ExtractArchive(ArchiveLocation::Of(files, "sfx"), files, listener, ExtractionOptions{.choice = choice});
    if (bytes_read != nullptr) {
        *bytes_read = files.BytesRead();
    }
    EXPECT_EQ(files.Folders().contains("sfx"), !files.Outputs().empty()) << "a folder made for nothing, or none";
    return files.Outputs();
}

// Every way of choosing gives exactly the chosen files of a full
// extraction, whatever lies around them: blocks past a 4 MiB window, a
// sound cut by a tail, numbers past 9999.
TEST(Selection, ChosenFilesAreThoseOfAFullExtractionByteForByte)
{
    const testing::Archive archive = testing::ParseLayout(
        R"(block "DATA" bytes(5M, 1); block wav(70000) "tail" wav(4M); block "AVQF12";
           repeat 10000 { block }; block "DATA last")");
    const auto all = Extract(archive, nullptr);
    for (const std::vector<std::string>& operands :
         std::vector<std::vector<std::string>>{{"sfx:2-4"}, {"*.wav"}, {"sfx/sfx_0001"}, {"sfx:10006-"}, {"x*"}}) {
        Selection selection = Selection::Parse(operands);
        const auto chosen = Extract(archive, &selection);
        std::map<std::string, Bytes> expected;
        for (const auto& [path, bytes] : all) {
            const std::string number = path.substr(path.find('_') + 1, path.find_first_not_of("0123456789", 8) - 8);
            if (selection.Chooses("sfx", std::stoll(number), path)) {
                expected[path] = bytes;
            }
        }
        EXPECT_EQ(chosen, expected) << operands.front();
    }
}

TEST(Selection, BlocksWrittenWholeThatAreNotChosenAreNotRead)
{
    const testing::Archive archive =
        testing::ParseLayout(R"(block "DATA" bytes(8M, 1); block "AVQF"; block "DATA" bytes(8M, 2); final)");
    Selection one = Selection::Parse({"sfx:2"});
    std::uint64_t bytes_read = 0;
    const auto chosen = Extract(archive, &one, &bytes_read);
    EXPECT_EQ(chosen.size(), 1u);
    EXPECT_LT(bytes_read, 1u << 20) << "passed over unread, as the listing passes over them";
}

}  // namespace
}  // namespace quorvel
