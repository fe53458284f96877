// The "RIFF" search, in both its forms (the vectorised one the build uses
// and the plain one other processors get), against a byte-by-byte search.

#include "extract/riff_search.hpp"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace quorvel {
namespace {

using Search = std::size_t (*)(std::span<const std::byte>, std::size_t);

std::size_t NaiveFind(std::string_view text, std::size_t from)
{
    const std::size_t found = from > text.size() ? std::string_view::npos : text.find("RIFF", from);
    return found == std::string_view::npos ? kNoMatch : found;
}

class RiffSearchTest : public ::testing::TestWithParam<Search> {
protected:
    std::size_t Find(std::string_view text, std::size_t from) const
    {
        return GetParam()(std::as_bytes(std::span(text.data(), text.size())), from);
    }

    // Every match the carver would be handed, one search after another.
    void ExpectSameMatchesAsNaive(std::string_view text) const
    {
        for (std::size_t from = 0; from <= text.size() + 1; ++from) {
            ASSERT_EQ(Find(text, from), NaiveFind(text, from)) << "from " << from << " in a text of " << text.size();
        }
    }
};

TEST_P(RiffSearchTest, FindsAMarkerAtEveryPositionOfShortAndLongTexts)
{
    // Lengths and positions around the 8- and 16-byte steps and the tail.
    for (std::size_t length = 0; length <= 70; ++length) {
        for (std::size_t at = 0; at + 4 <= length; ++at) {
            std::string text(length, '.');
            text.replace(at, 4, "RIFF");
            ASSERT_EQ(Find(text, 0), at) << "length " << length;
            ASSERT_EQ(Find(text, at + 1), kNoMatch) << "length " << length;
        }
    }
}

TEST_P(RiffSearchTest, IgnoresMarkersCutOffByTheEndOrBeforeTheStart)
{
    EXPECT_EQ(Find("", 0), kNoMatch);
    EXPECT_EQ(Find("RIF", 0), kNoMatch);
    EXPECT_EQ(Find("................RIF", 0), kNoMatch);
    EXPECT_EQ(Find("RIFF............", 1), kNoMatch);
    EXPECT_EQ(Find("RIFF", 4), kNoMatch);
    EXPECT_EQ(Find("RIFF", 100), kNoMatch);
}

TEST_P(RiffSearchTest, RejectsNearMissesThatShareTheOuterLetters)
{
    // 'R' and 'F' three apart make a candidate; the middle must still match.
    const std::string text = "RXXF.RIXF.RXFF.riff.RIFf.FFIR." + std::string(40, 'R') + "RIFF";
    EXPECT_EQ(Find(text, 0), text.size() - 4);
}

TEST_P(RiffSearchTest, FindsOverlappingAndRepeatedMarkersInOrder)
{
    ExpectSameMatchesAsNaive("RIFFRIFFRRIFFFRIFRIFF" + std::string(20, 'F') + "RIFFRIFF");
}

TEST_P(RiffSearchTest, FindsTheMarkersAmongRepeatedRif)
{
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text += "RIF";
    }
    EXPECT_EQ(Find(text, 0), kNoMatch);
    for (std::size_t at = 37; at + 4 <= text.size(); at += 101) {
        text.replace(at, 4, "RIFF");
    }
    ExpectSameMatchesAsNaive(text);
}

TEST_P(RiffSearchTest, AgreesWithAByteByByteSearchOnRandomLetters)
{
    // Texts of R, I, F and one other letter hold many markers and near misses.
    std::uint32_t state = 12345;
    for (int round = 0; round < 50; ++round) {
        std::string text(static_cast<std::size_t>(round * 7 + 40), ' ');
        for (char& letter : text) {
            state = state * 1664525U + 1013904223U;
            letter = "RIFx"[state >> 30];
        }
        ExpectSameMatchesAsNaive(text);
    }
}

INSTANTIATE_TEST_SUITE_P(BothForms, RiffSearchTest, ::testing::Values(&FindRiff, &FindRiffPortable),
                         [](const auto& info) { return info.index == 0 ? "Build" : "Portable"; });

}  // namespace
}  // namespace quorvel
