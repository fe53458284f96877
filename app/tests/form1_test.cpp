// The run sequence: question, window, size survey, extraction order, end.

#include "app/form1.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "testing/archive_builder.hpp"
#include "testing/extraction_run.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel {
namespace {

using testing::Archive;
using Files = std::map<std::string, std::string>;

// Records what the run asks of the user interface, as one line per call.
class ScriptedUi : public UserInterface {
public:
    explicit ScriptedUi(bool answer) : answer_(answer) {}

    bool AskYesNo(std::string_view question, std::string_view caption) override
    {
        Log("ask " + std::string(question) + " | " + std::string(caption));
        return answer_;
    }
    void ShowWindow(std::string_view title) override { Log("show " + std::string(title)); }
    void SetStatusText(std::string_view text) override { Log("status " + std::string(text)); }
    BarHandle CreateProgressBar(int x, int y, int width, int height) override
    {
        Log("bar " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) + "x" +
            std::to_string(height));
        return 1;
    }
    void SetBarPosition(BarHandle, int position) override { positions.push_back(position); }
    void SetBarText(BarHandle, std::string_view text) override { texts.emplace_back(text); }
    bool ProcessPendingMessages() override { return ++messages_processed < stop_after_messages; }
    void Unload() override { Log("unload"); }
    void ReportError(const Failure& failure) override { Log("error " + failure.file); }
    void ReportWarning(std::string_view text) override { Log("warning " + std::string(text)); }
    std::optional<std::string> ChooseOutputFolder(const Failure& failure) override
    {
        Log("choose, since " + failure.Describe());
        if (chosen_folders.empty()) {
            return std::nullopt;
        }
        std::string folder = chosen_folders.front();
        chosen_folders.erase(chosen_folders.begin());
        return folder;
    }

    std::vector<std::string> log;
    std::vector<int> positions;
    std::vector<std::string> texts;
    int messages_processed = 0;
    int stop_after_messages = 1 << 30;
    std::vector<std::string> chosen_folders;

private:
    void Log(std::string line) { log.push_back(std::move(line)); }
    bool answer_;
};

class RunSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        files.AddArchive("sfx.pak", Archive().Block("AVQFsfx").Block("").Final());
        files.AddArchive("speech.pak", Archive().Block(testing::Wav(16)).Final());
    }

    RunEnd Run(ScriptedUi& ui)
    {
        Form1 form(ui, files);
        const RunEnd end = form.FormLoad();
        bytes_done = form.BytesDone();
        bytes_total = form.BytesTotal();
        return end;
    }

    testing::MemoryFileSystem files;
    std::int64_t bytes_done = 0;
    std::int64_t bytes_total = 0;
};

TEST_F(RunSequence, YesExtractsBothArchivesInOrderUnderOneBar)
{
    ScriptedUi ui(true);
    EXPECT_EQ(Run(ui), RunEnd::kCompleted);
    EXPECT_EQ(ui.log, (std::vector<std::string>{"ask Also extract speech files? | Project1", "bar 8,24 297x17",
                                                "show Quorvel Extractor", "status Extracting: sfx",
                                                "status Extracting: speech", "unload"}));
    EXPECT_EQ(testing::OutputsAsText(files), (Files{{"sfx/sfx_0001.AVQF", "AVQFsfx"},
                                                    {"sfx/sfx_0002", ""},
                                                    {"speech/speech_0001.wav", testing::Str(testing::Wav(16))}}));
    EXPECT_EQ(bytes_total, 19 + 24);
    // 4+7 and 4 for sfx, then 4 and the 12 bytes after speech's signature.
    EXPECT_EQ(bytes_done, 15 + 16);
    EXPECT_EQ(ui.texts.front(), "25.58%");  // 11 of 43
    EXPECT_EQ(ui.texts.back(), "72.09%");   // 31 of 43: final fields and signatures are never counted
}

// A game folder without speech.pak.
class OnlySfx : public ::testing::Test {
protected:
    OnlySfx() { only_sfx.AddArchive("sfx.pak", Archive().Block("AVQF").Final()); }

    testing::MemoryFileSystem only_sfx;
};

TEST_F(OnlySfx, NoNeverOpensSpeechEvenWhenItIsMissing)
{
    ScriptedUi ui(false);
    Form1 form(ui, only_sfx);
    EXPECT_EQ(form.FormLoad(), RunEnd::kCompleted);
    EXPECT_EQ(form.BytesTotal(), 12);
    EXPECT_EQ(testing::OutputsAsText(only_sfx), (Files{{"sfx/sfx_0001.AVQF", "AVQF"}}));
    EXPECT_FALSE(only_sfx.Folders().contains("speech"));
}

TEST_F(OnlySfx, MissingSpeechFailsInTheSurveyBeforeSfxIsTouched)
{
    ScriptedUi ui(true);
    Form1 form(ui, only_sfx);
    EXPECT_EQ(form.FormLoad(), RunEnd::kFailed);
    EXPECT_EQ(ui.log.back(), "error speech.pak");
    EXPECT_TRUE(only_sfx.Folders().empty());
    EXPECT_TRUE(only_sfx.Outputs().empty());
}

TEST_F(RunSequence, StoppingMidRunRemovesTheFileBeingWrittenAndKeepsFinishedOnes)
{
    const std::string big = "DATA" + std::string(3 * 65536, 'b');
    files.AddArchive("sfx.pak", Archive().Block("AVQFkept").Block(big).Final());
    ScriptedUi ui(true);
    // Two calls per checkpoint: the first block's, then the big block's first chunk.
    ui.stop_after_messages = 4;
    EXPECT_EQ(Run(ui), RunEnd::kCancelled);
    EXPECT_EQ(testing::OutputsAsText(files), (Files{{"sfx/sfx_0001.AVQF", "AVQFkept"}}));
    EXPECT_EQ(files.OpenOutputs(), 0);
    EXPECT_EQ(ui.log.back(), "unload");
}

TEST_F(RunSequence, TruncatedArchiveIsReportedAfterTheWorkAndTheRunGoesOn)
{
    files.AddArchive("sfx.pak", Archive().Block("AVQF").Length(40).Raw("RIF"));
    ScriptedUi ui(true);
    EXPECT_EQ(Run(ui), RunEnd::kTruncated);
    EXPECT_EQ(ui.log.back().rfind("warning sfx.pak is truncated: the block at offset 8 is missing 33 bytes", 0), 0u)
        << ui.log.back();
    EXPECT_EQ(ui.log[ui.log.size() - 2], "unload");
    EXPECT_TRUE(testing::OutputsAsText(files).contains("speech/speech_0001.wav"));
}

// sfx.pak lacks 33 bytes of its last block; then the run fails or is stopped.
class TruncationThenAnotherEnd : public RunSequence {
protected:
    void SetUp() override
    {
        files.AddArchive("sfx.pak", Archive().Block("AVQF").Length(40).Raw("RIF"));
        files.AddArchive("speech.pak", Archive().Block("DATA" + std::string(3 * 65536, 's')).Final());
    }

    static bool IsTheTruncationWarning(const std::string& line)
    {
        return line.starts_with("warning sfx.pak is truncated: the block at offset 8 is missing 33 bytes");
    }
};

TEST_F(TruncationThenAnotherEnd, AFailureIsReportedFirstThenTheTruncation)
{
    files.BlockFolder("speech");
    ScriptedUi ui(true);
    EXPECT_EQ(Run(ui), RunEnd::kFailed);
    ASSERT_GE(ui.log.size(), 2u);
    EXPECT_EQ(ui.log[ui.log.size() - 2], "error speech");
    EXPECT_TRUE(IsTheTruncationWarning(ui.log.back())) << ui.log.back();
}

TEST_F(TruncationThenAnotherEnd, AStopIsFollowedByTheTruncation)
{
    ScriptedUi ui(true);
    ui.stop_after_messages = 6;  // in speech's big block
    EXPECT_EQ(Run(ui), RunEnd::kCancelled);
    EXPECT_FALSE(testing::OutputsAsText(files).contains("speech/speech_0001"));
    ASSERT_GE(ui.log.size(), 2u);
    EXPECT_EQ(ui.log[ui.log.size() - 2], "unload");
    EXPECT_TRUE(IsTheTruncationWarning(ui.log.back())) << ui.log.back();
}

TEST_F(TruncationThenAnotherEnd, AStopInsideTheShortBlockItselfStillTellsOfIt)
{
    files.AddArchive("sfx.pak", Archive().Length(1 << 20).Raw("DATA" + std::string(3 * 65536, 'x')));
    ScriptedUi ui(false);
    ui.stop_after_messages = 2;  // after the first 64 KiB of the short block
    EXPECT_EQ(Run(ui), RunEnd::kCancelled);
    EXPECT_TRUE(files.Outputs().empty());
    ASSERT_FALSE(ui.log.empty());
    EXPECT_TRUE(ui.log.back().starts_with("warning sfx.pak is truncated: the block at offset 0")) << ui.log.back();
}

TEST_F(RunSequence, AFolderChosenWhenNoFileCanBeMadeTakesThatArchiveAndTheNext)
{
    files.BlockFolder("sfx");
    files.BlockFolder("blocked/sfx");
    ScriptedUi ui(true);
    ui.chosen_folders = {"blocked", "chosen"};  // the first choice fails the same way
    EXPECT_EQ(Run(ui), RunEnd::kCompleted);
    EXPECT_EQ(testing::OutputsAsText(files),
              (Files{{"chosen/sfx/sfx_0001.AVQF", "AVQFsfx"},
                     {"chosen/sfx/sfx_0002", ""},
                     {"chosen/speech/speech_0001.wav", testing::Str(testing::Wav(16))}}));
    EXPECT_EQ(bytes_done, 15 + 16);  // as if sfx had gone there at once
    EXPECT_EQ(std::count_if(ui.log.begin(), ui.log.end(),
                            [](const std::string& line) { return line.starts_with("choose, since Error 13"); }),
              2);
}

TEST_F(RunSequence, NoChosenFolderFailsAsBefore)
{
    files.BlockFolder("sfx");
    ScriptedUi ui(true);
    EXPECT_EQ(Run(ui), RunEnd::kFailed);
    EXPECT_EQ(ui.log.back(), "error sfx");
    EXPECT_TRUE(files.Outputs().empty());
}

TEST(RunSequenceOverTwoGibibytes, CountsEveryByteAndEndsAtOneHundredPercent)
{
    // Two archives of one 1.1 GiB block each, generated as they are read;
    // only the sizes of the outputs are kept.
    constexpr std::uint64_t kPayload = 1'200'000'000;
    testing::MemoryFileSystem files(testing::OutputMode::kSizesOnly);
    for (const char* archive : {"sfx.pak", "speech.pak"}) {
        files.AddArchive(archive, testing::Archive().Block("DATA", testing::Fill(kPayload - 4, 1)).Final());
    }
    ScriptedUi ui(true);
    Form1 form(ui, files);
    EXPECT_EQ(form.FormLoad(), RunEnd::kCompleted);
    EXPECT_EQ(form.BytesTotal(), 2 * static_cast<std::int64_t>(kPayload + 8));
    EXPECT_EQ(form.BytesDone(), 2 * static_cast<std::int64_t>(kPayload + 4));
    EXPECT_EQ(ui.texts.back(), "100.00%");
    EXPECT_EQ(ui.positions.back(), 100);
    EXPECT_EQ(files.Sizes().at("speech/speech_0001"), kPayload);
}

TEST_F(RunSequence, EmptyArchivesGiveNoProgressUpdatesAtAll)
{
    testing::MemoryFileSystem empty;
    empty.AddArchive("sfx.pak", Archive());
    ScriptedUi ui(false);
    EXPECT_EQ(Form1(ui, empty).FormLoad(), RunEnd::kCompleted);
    EXPECT_TRUE(ui.texts.empty());
    EXPECT_TRUE(empty.Folders().contains("sfx"));
}

}  // namespace
}  // namespace quorvel
