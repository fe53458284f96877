// The terminal's side of the run: the question, the status lines and the
// bar drawn in place.

#include "terminal/terminal_ui.hpp"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace quorvel {
namespace {

TEST(TerminalAnswer, YesNoAndTheDefault)
{
    for (const char* yes : {"y", "Y", "yes", "YES", " yes ", "", "  "}) {
        EXPECT_EQ(ParseAnswer(yes), true) << '"' << yes << '"';
    }
    for (const char* no : {"n", "N", "no", "No", "\tno\r"}) {
        EXPECT_EQ(ParseAnswer(no), false) << '"' << no << '"';
    }
    for (const char* neither : {"maybe", "ja", "yess", "n o", "0"}) {
        EXPECT_EQ(ParseAnswer(neither), std::nullopt) << '"' << neither << '"';
    }
}

TEST(TerminalBar, RateAndTimeLeftComeFromTheCountsSoFar)
{
    using std::chrono::duration;
    constexpr std::int64_t kMiB = 1 << 20;
    EXPECT_EQ(RateAndTimeLeft(310 * kMiB, 930 * kMiB, duration<double>(1.0)), "  310 MiB/s  0:02 left");
    EXPECT_EQ(RateAndTimeLeft(kMiB, 181 * kMiB, duration<double>(2.0)), "  0 MiB/s  6:00 left");
    EXPECT_EQ(RateAndTimeLeft(0, 100, duration<double>(1.0)), "");  // no rate to tell yet
    EXPECT_EQ(RateAndTimeLeft(50, 100, duration<double>(0.1)), "");
}

TEST(TerminalBar, FillsOneCellPerThreeAndAThirdPercent)
{
    EXPECT_EQ(DrawBar(0, "0.00%"), "[------------------------------] 0.00%");
    EXPECT_EQ(DrawBar(50, "50.00%"), "[###############---------------] 50.00%");
    EXPECT_EQ(DrawBar(100, "100.00%"), "[##############################] 100.00%");
    EXPECT_EQ(DrawBar(250, "250.00%"), "[##############################] 250.00%");
}

class TerminalSession : public ::testing::Test {
protected:
    TerminalSession() : output_(std::tmpfile()) {}
    ~TerminalSession() override { std::fclose(output_); }

    std::string Output()
    {
        std::fflush(output_);
        std::rewind(output_);
        std::string text;
        for (int c = std::fgetc(output_); c != EOF; c = std::fgetc(output_)) {
            text += static_cast<char>(c);
        }
        return text;
    }

    std::FILE* output_;
    std::atomic<int> stop_signal_{0};
};

TEST_F(TerminalSession, AsksAgainUntilTheAnswerIsYesOrNo)
{
    std::istringstream input("perhaps\nn\n");
    TerminalUi ui(input, output_, {}, stop_signal_);
    EXPECT_FALSE(ui.AskYesNo("Also extract speech files?", "Project1"));
    EXPECT_EQ(Output(),
              "Also extract speech files? [Y/n] Please answer y or n.\n"
              "Also extract speech files? [Y/n] ");
}

TEST_F(TerminalSession, EndOfInputMeansYes)
{
    std::istringstream input("");
    TerminalUi ui(input, output_, {}, stop_signal_);
    EXPECT_TRUE(ui.AskYesNo("Also extract speech files?", "Project1"));
}

TEST_F(TerminalSession, AnswerGivenAsAnOptionAsksNothing)
{
    std::istringstream input("n\n");
    TerminalUi ui(input, output_, {.answer = true, .draw_bar = false}, stop_signal_);
    EXPECT_TRUE(ui.AskYesNo("Also extract speech files?", "Project1"));
    EXPECT_EQ(Output(), "");
}

TEST_F(TerminalSession, WithoutATerminalOnlyTheStatusLinesAreWritten)
{
    std::istringstream input;
    TerminalUi ui(input, output_, {.answer = true, .draw_bar = false}, stop_signal_);
    ui.ShowWindow("Quorvel Extractor");
    ui.SetStatusText("Extracting: sfx");
    ui.SetBarPosition(1, 50);
    ui.SetBarText(1, "50.00%");
    ui.SetStatusText("Extracting: speech");
    ui.Unload();
    EXPECT_EQ(Output(), "Quorvel Extractor\nExtracting: sfx\nExtracting: speech\n");
}

TEST_F(TerminalSession, OnATerminalTheBarIsRedrawnInPlaceWhenItsTextChanges)
{
    std::istringstream input;
    TerminalUi ui(input, output_, {.answer = true, .draw_bar = true}, stop_signal_);
    ui.SetStatusText("Extracting: sfx");
    for (const auto& [position, text] : {std::pair{10, "10.00%"}, {10, "10.00%"}, {20, "20.01%"}}) {
        ui.SetBarPosition(1, position);
        ui.SetBarText(1, text);
    }
    ui.SetStatusText("Extracting: speech");
    ui.Unload();
    EXPECT_EQ(Output(),
              "Extracting: sfx\n"
              "\r" +
                  DrawBar(10, "10.00%") + "\r" + DrawBar(20, "20.01%") + "\n" + "Extracting: speech\n");
}

std::chrono::steady_clock::time_point g_fake_now;

std::chrono::steady_clock::time_point FakeNow()
{
    return g_fake_now;
}

TEST_F(TerminalSession, RapidChangesAreDrawnTogetherAndTheLastOneBeforeTheLineEnds)
{
    std::istringstream input;
    TerminalUi ui(input, output_, {.answer = true, .draw_bar = true, .clock = &FakeNow}, stop_signal_);
    ui.SetStatusText("Extracting: sfx");
    const auto draw = [&](int position, const char* text, int milliseconds) {
        g_fake_now = std::chrono::steady_clock::time_point(std::chrono::milliseconds(milliseconds));
        ui.SetBarPosition(1, position);
        ui.SetBarText(1, text);
    };
    draw(1, "1.00%", 1000);  // the first is drawn at once
    draw(2, "2.00%", 1010);  // too soon: waits
    draw(3, "3.00%", 1049);  // still too soon: replaces the waiting one
    draw(4, "4.00%", 1050);  // 50 ms after the last drawing: drawn
    draw(5, "5.00%", 1060);  // waits, then is drawn before the line ends
    ui.SetStatusText("Extracting: speech");
    draw(6, "6.00%", 1061);  // a new line: drawn at once
    ui.Unload();
    EXPECT_EQ(Output(),
              "Extracting: sfx\n"
              "\r" +
                  DrawBar(1, "1.00%") + "\r" + DrawBar(4, "4.00%") + "\r" + DrawBar(5, "5.00%") +
                  "\nExtracting: speech\n"
                  "\r" +
                  DrawBar(6, "6.00%") + "\n");
}

// A console that takes no escape sequences (older Windows consoles): a
// drawing shorter than the one before is padded with spaces over the rest
// of it, and no escape is written.
TEST_F(TerminalSession, WithoutEscapesAShorterBarIsPaddedOverTheLongerOne)
{
    using std::chrono::seconds;
    constexpr std::int64_t kMiB = 1 << 20;
    std::istringstream input;
    TerminalUi ui(input, output_, {.answer = true, .draw_bar = true, .erase_with_escape = false, .clock = &FakeNow},
                  stop_signal_);
    ui.SetStatusText("Extracting: sfx");
    const auto draw = [&](int second, std::int64_t done, int position, const char* text) {
        g_fake_now = std::chrono::steady_clock::time_point(seconds(second));
        ui.SetBarCounts(1, done, 1000 * kMiB);
        ui.SetBarPosition(1, position);
        ui.SetBarText(1, text);
    };
    draw(10, 0, 0, "0.00%");             // counting starts: no rate yet
    draw(11, 100 * kMiB, 10, "10.00%");  // longer: the rate and time left appear
    draw(20, 910 * kMiB, 91, "91.00%");  // the rate loses a digit
    ui.Unload();
    EXPECT_EQ(Output(),
              "Extracting: sfx\n"
              "\r" +
                  DrawBar(0, "0.00%") + "\r" + DrawBar(10, "10.00%") + "  100 MiB/s  0:09 left" + "\r" +
                  DrawBar(91, "91.00%") + "  91 MiB/s  0:01 left" + " " + "\n");
}

TEST_F(TerminalSession, SignalStopsTheRunAtTheNextCheck)
{
    std::istringstream input;
    TerminalUi ui(input, output_, {}, stop_signal_);
    EXPECT_TRUE(ui.ProcessPendingMessages());
    stop_signal_ = 2;
    EXPECT_FALSE(ui.ProcessPendingMessages());
}

TEST_F(TerminalSession, ErrorNamesFileDescriptionAndNumberOnOneLine)
{
    std::istringstream input;
    TerminalUi ui(input, output_, {}, stop_signal_);
    ui.ReportError(Failure{.number = 2, .description = "No such file or directory", .file = "sfx.pak", .offset = {}});
    EXPECT_EQ(Output(), "quorvel-extractor: sfx.pak: No such file or directory (error 2)\n");
}

}  // namespace
}  // namespace quorvel
