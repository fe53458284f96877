// HTTP Range: what a media player asks for, and what an attacker sends.

#include "studio/http_range.hpp"

#include <gtest/gtest.h>

namespace quorvel::studio {
namespace {

struct RangeCase {
    const char* header;
    std::uint64_t size;
    int status;
    std::uint64_t first;
    std::uint64_t last;
};

constexpr std::uint64_t kThreeGiB = 3ULL << 30;

class RangeDecisions : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeDecisions, AnswerAsTheStandardSays)
{
    const RangeCase& c = GetParam();
    const RangeDecision decision =
        DecideRange(c.header ? std::optional<std::string_view>(c.header) : std::nullopt, c.size);
    EXPECT_EQ(decision.Status(), c.status);
    if (c.status == 206) {
        EXPECT_EQ(decision.first, c.first);
        EXPECT_EQ(decision.last, c.last);
        EXPECT_EQ(decision.Length(), c.last - c.first + 1);
        EXPECT_EQ(decision.ContentRange(),
                  "bytes " + std::to_string(c.first) + "-" + std::to_string(c.last) + "/" + std::to_string(c.size));
    } else if (c.status == 416) {
        EXPECT_EQ(decision.ContentRange(), "bytes */" + std::to_string(c.size));
        EXPECT_EQ(decision.Length(), 0U);
    } else {
        EXPECT_EQ(decision.Length(), c.size);
        EXPECT_EQ(decision.ContentRange(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, RangeDecisions,
    ::testing::Values(
        // What players send.
        RangeCase{nullptr, 1000, 200, 0, 0}, RangeCase{"bytes=0-", 1000, 206, 0, 999},
        RangeCase{"bytes=0-99", 1000, 206, 0, 99}, RangeCase{"bytes=990-2000", 1000, 206, 990, 999},
        RangeCase{"bytes=-100", 1000, 206, 900, 999}, RangeCase{"bytes=-5000", 1000, 206, 0, 999},
        RangeCase{"Bytes=10-20", 1000, 206, 10, 20}, RangeCase{"bytes = 10-20", 1000, 200, 0, 0},
        // Past the end: 416, however far.
        RangeCase{"bytes=1000-", 1000, 416, 0, 0}, RangeCase{"bytes=-0", 1000, 416, 0, 0},
        RangeCase{"bytes=99999999999999999999999-", 1000, 416, 0, 0}, RangeCase{"bytes=0-", 0, 416, 0, 0},
        // Several ranges: the one span that covers the satisfiable ones.
        RangeCase{"bytes=0-9,500-509", 1000, 206, 0, 509}, RangeCase{"bytes=5000-6000,10-19", 1000, 206, 10, 19},
        RangeCase{"bytes=0-0,-1", 1000, 206, 0, 999}, RangeCase{"bytes=1-2,,3-4,", 1000, 206, 1, 4},
        // Invalid headers are ignored: the whole file.
        RangeCase{"bytes=20-10", 1000, 200, 0, 0}, RangeCase{"bytes=0-9,20-10", 1000, 200, 0, 0},
        RangeCase{"items=0-9", 1000, 200, 0, 0}, RangeCase{"bytes=", 1000, 200, 0, 0},
        RangeCase{"bytes=-", 1000, 200, 0, 0}, RangeCase{"bytes=a-b", 1000, 200, 0, 0},
        RangeCase{"bytes=0-1,2-3,4-5,6-7,8-9,10-11,12-13,14-15,16-17,18-19,20-21,22-23,24-25,26-27,28-29,30-31,32-33",
                  1000, 200, 0, 0},
        // Files past 2 and 4 GiB.
        RangeCase{"bytes=3221225000-", kThreeGiB, 206, 3221225000, kThreeGiB - 1},
        RangeCase{"bytes=-1", kThreeGiB, 206, kThreeGiB - 1, kThreeGiB - 1},
        RangeCase{"bytes=2147483647-2147483648", kThreeGiB, 206, 2147483647, 2147483648}));

}  // namespace
}  // namespace quorvel::studio
