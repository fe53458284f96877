// What the bar shows: position and text from separate roundings, halves to
// even, "." and two decimals whatever the locale.

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "progress/progress_arithmetic.hpp"
#include "progress/progress_bar.hpp"

namespace quorvel {
namespace {

struct Shown {
    std::int64_t position;
    std::string text;
    bool operator==(const Shown&) const = default;
};

Shown Show(std::int64_t done, std::int64_t total)
{
    const ProgressReading reading = ReadProgress(done, total);
    return {reading.position, reading.text};
}

TEST(ProgressArithmetic, PositionAndTextAreRoundedSeparately)
{
    EXPECT_EQ(Show(20, 20), (Shown{100, "100.00%"}));
    EXPECT_EQ(Show(1, 3), (Shown{33, "33.33%"}));
    EXPECT_EQ(Show(1, 8), (Shown{12, "12.50%"}));  // 12.5 rounds to the even 12
    EXPECT_EQ(Show(1, 200), (Shown{0, "0.50%"}));  // 0.5 rounds to 0
    EXPECT_EQ(Show(12, 20), (Shown{60, "60.00%"}));
    EXPECT_EQ(Show(0, 20), (Shown{0, "0.00%"}));
}

TEST(ProgressArithmetic, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(RoundHalfToEven(45.5), 46);
    EXPECT_EQ(RoundHalfToEven(46.5), 46);
    EXPECT_EQ(RoundHalfToEven(0.5), 0);
    EXPECT_EQ(RoundHalfToEven(1.5), 2);
    EXPECT_EQ(RoundHalfToEven(2.4999), 2);
    EXPECT_EQ(RoundHalfToEven(2.5001), 3);
    EXPECT_EQ(RoundHalfToEven(-0.5), 0);
    EXPECT_EQ(RoundHalfToEven(-1.5), -2);
    // 3 of 8 is 37.5%: 38 on the bar; 5 of 8 is 62.5%: 62.
    EXPECT_EQ(Show(3, 8).position, 38);
    EXPECT_EQ(Show(5, 8).position, 62);
}

TEST(ProgressArithmetic, TextHasTwoDecimalsAndAtLeastOneDigitBeforeThePoint)
{
    EXPECT_EQ(PercentText(0), "0.00%");
    EXPECT_EQ(PercentText(7), "0.07%");
    EXPECT_EQ(PercentText(50), "0.50%");
    EXPECT_EQ(PercentText(4523), "45.23%");
    EXPECT_EQ(PercentText(4500), "45.00%");
    EXPECT_EQ(PercentText(10000), "100.00%");
    EXPECT_EQ(PercentText(123456), "1234.56%");  // no grouping
}

TEST(ProgressArithmetic, CountsBeyondThirtyTwoBitsKeepTheirRatio)
{
    const std::int64_t total = 5LL << 30;  // 5 GiB
    EXPECT_EQ(Show(total / 2, total), (Shown{50, "50.00%"}));
    EXPECT_EQ(Show(total - 1, total), (Shown{100, "100.00%"}));
}

class RecordingBar : public ProgressBarSystem {
public:
    BarHandle CreateProgressBar(int x, int y, int width, int height) override
    {
        created = {x, y, width, height};
        return 7;
    }
    void SetBarPosition(BarHandle bar, int position) override
    {
        calls.push_back("pos " + std::to_string(bar) + " " + std::to_string(position));
    }
    void SetBarText(BarHandle bar, std::string_view text) override
    {
        calls.push_back("text " + std::to_string(bar) + " " + std::string(text));
    }
    bool ProcessPendingMessages() override
    {
        calls.emplace_back("messages");
        return keep_going;
    }

    std::vector<int> created;
    std::vector<std::string> calls;
    bool keep_going = true;
};

TEST(ProgressBar, UpdateSetsPositionThenTextThenLetsMessagesThrough)
{
    RecordingBar bar;
    EXPECT_EQ(CreateProgressBar(bar, 8, 24, 297, 17), 7);
    EXPECT_EQ(bar.created, (std::vector<int>{8, 24, 297, 17}));
    EXPECT_TRUE(UpdateProgress(bar, 7, 1, 8));
    EXPECT_EQ(bar.calls, (std::vector<std::string>{"pos 7 12", "text 7 12.50%", "messages"}));
}

TEST(ProgressBar, NoBarOrNoTotalDoesNothingAtAll)
{
    RecordingBar bar;
    EXPECT_TRUE(UpdateProgress(bar, 0, 5, 10));
    EXPECT_TRUE(UpdateProgress(bar, 7, 5, 0));
    EXPECT_TRUE(bar.calls.empty());
}

TEST(ProgressBar, UpdateTellsWhenTheUserAskedToStop)
{
    RecordingBar bar;
    bar.keep_going = false;
    EXPECT_FALSE(UpdateProgress(bar, 7, 1, 2));
}

}  // namespace
}  // namespace quorvel
