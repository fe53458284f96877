// The labels file: what a shared or script-made list may hold, how its
// lines find their files, and how it is written.

#include "labels/labels_file.hpp"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

constexpr const char* kHashA = "0123456789abcdef";
constexpr const char* kHashB = "fedcba9876543210";

TEST(ParseLabels, KeepsGoodLinesAndCountsTheHostileOnes)
{
    const std::string long_label(kLongestLabel, 'x');
    const std::string too_long(kLongestLabel + 1, 'x');
    const std::string two_hundred_letters_of_two_bytes = [] {
        std::string text;
        for (std::size_t i = 0; i < kLongestLabel; ++i) {
            text += "\xC3\xA9";  // é
        }
        return text;
    }();
    const std::string text = std::string("\xEF\xBB\xBF") +  // a byte order mark
                             "# a comment\r\n"              // CRLF
                             "\r\n"                         // blank
                             "   \n"                        // blank but for spaces
                             "sfx/sfx_0001.wav\t" +
                             kHashA + "\tdoor creak\r\n" + "sfx/sfx_0002.wav\t\tno hash, by path\n" +
                             "sfx/sfx_0003.wav\t" + "0123456789ABCDEF" + "\tupper-case hash\n" + "sfx/sfx_0004.wav\t" +
                             kHashA + "\t" + long_label + "\n" + "sfx/sfx_0005.wav\t" + kHashA + "\t" +
                             two_hundred_letters_of_two_bytes + "\n" +
                             // The hostile ones:
                             "sfx/sfx_0006.wav\t" + kHashA + "\ttab\tinside\n" +         // a fourth field
                             "sfx/sfx_0007.wav\t" + kHashA + "\t" + too_long + "\n" +    // 201 characters
                             "sfx/sfx_0008.wav\t0123456789abcdeg\tbad digit\n" +         // not hex
                             "sfx/sfx_0009.wav\t0123\tshort hash\n" +                    // too short
                             "sfx/sfx_0010.wav\t" + kHashA + "\tbad \xC3\x28 utf-8\n" +  // invalid UTF-8
                             "sfx/sfx_0011.wav\t" + kHashA + "\t\xED\xA0\x80 surrogate\n" + "sfx/sfx_0012.wav\t" +
                             kHashA + "\t\n" +                         // no label
                             "../sfx.pak\t" + kHashA + "\tescape\n" +  // not a listed path
                             "sfx/sfx_0013.wav no tabs at all\n" + "sfx/sfx_0014.wav\t" + kHashA +
                             "\tbell \x07 char";  // control, no final LF
    const ParsedLabels parsed = ParseLabels(text);
    ASSERT_EQ(parsed.lines.size(), 5U);
    EXPECT_EQ(parsed.rejected, 10U);
    EXPECT_EQ(parsed.lines[0].path, "sfx/sfx_0001.wav");
    EXPECT_EQ(parsed.lines[0].hash, kHashA);
    EXPECT_EQ(parsed.lines[0].label, "door creak");  // the CR is not part of it
    EXPECT_EQ(parsed.lines[1].hash, "");
    EXPECT_EQ(parsed.lines[2].hash, kHashA);  // the same hash
    EXPECT_EQ(parsed.lines[3].label, long_label);
    EXPECT_EQ(parsed.lines[4].label, two_hundred_letters_of_two_bytes);
}

TEST(ParseLabels, WhatIsWrittenReadsBackTheSame)
{
    const std::vector<LabelLine> lines = {{"sfx/sfx_0001.wav", kHashA, "door creak"},
                                          {"speech/speech_0002.wav", kHashB, "«Who goes there?» <b>&amp;"}};
    const ParsedLabels parsed = ParseLabels(FormatLabels(lines));
    EXPECT_EQ(parsed.rejected, 0U);
    ASSERT_EQ(parsed.lines.size(), 2U);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(parsed.lines[i].path, lines[i].path);
        EXPECT_EQ(parsed.lines[i].hash, lines[i].hash);
        EXPECT_EQ(parsed.lines[i].label, lines[i].label);
    }
}

TEST(LabelProblem, TheUsersLabelsFollowTheFilesRules)
{
    EXPECT_FALSE(LabelProblem("door creak <img src=x onerror=alert(1)>"));
    EXPECT_FALSE(LabelProblem(""));  // empty: the label is removed
    EXPECT_TRUE(LabelProblem("a\tb"));
    EXPECT_TRUE(LabelProblem("a\nb"));
    EXPECT_TRUE(LabelProblem("\xFF"));
    EXPECT_TRUE(LabelProblem(std::string(kLongestLabel + 1, 'x')));
    // A line break or a control in all but name, and text that reads
    // backwards: NEL, CSI, LINE and PARAGRAPH SEPARATOR, the embeddings
    // and overrides (U+202A..E), the isolates (U+2066..9) and the marks.
    for (const char* turning : {"\u0085", "\u009B", "\u2028", "\u2029", "\u202A", "\u202E", "\u2066", "\u2069",
                                "\u200E", "\u200F", "\u061C"}) {
        EXPECT_TRUE(LabelProblem(std::string("door") + turning + "creak")) << turning;
    }
    EXPECT_FALSE(LabelProblem("\u00A0no-break space, \u2027 hyphenation point, \u2070 superscript zero"));
}

TEST(HashText, SixteenLowercaseDigits)
{
    EXPECT_EQ(HashText(0xEF46DB3751D8E999ULL), "ef46db3751d8e999");
    EXPECT_EQ(HashText(0x1ULL), "0000000000000001");
}

TEST(MatchLabels, ByHashFirstThenByPathOnlyWhereNoFileHasTheHash)
{
    // A later release: the door moved from 0001 to 0003, 0001 is new.
    const std::vector<LabelTarget> files = {{"sfx/sfx_0001.wav", kHashB},
                                            {"sfx/sfx_0002.wav", "1111111111111111"},
                                            {"sfx/sfx_0003.wav", kHashA},
                                            {"sfx/sfx_0004.wav", "2222222222222222"}};
    const std::vector<LabelLine> lines = {
        {"sfx/sfx_0001.wav", kHashA, "door"},                 // by hash: goes to 0003, not to its old path
        {"sfx/sfx_0002.wav", "9999999999999999", "renamed"},  // no file has that hash: by path
        {"sfx/sfx_0004.wav", "", "no hash"},                  // by path
        {"sfx/sfx_0099.wav", "8888888888888888", "gone"},     // neither
    };
    const LabelMatch match = MatchLabels(lines, files);
    EXPECT_EQ(match.by_hash, 1U);
    EXPECT_EQ(match.by_path, 2U);
    EXPECT_EQ(match.unmatched, 1U);
    EXPECT_EQ(match.labels.at("sfx/sfx_0003.wav"), "door");
    EXPECT_FALSE(match.labels.contains("sfx/sfx_0001.wav"));
    EXPECT_EQ(match.labels.at("sfx/sfx_0002.wav"), "renamed");
    EXPECT_EQ(match.labels.at("sfx/sfx_0004.wav"), "no hash");
}

TEST(MatchLabels, FilesOfTheSameBytesShareALabelUnlessNamedThemselves)
{
    const std::vector<LabelTarget> files = {{"sfx/a.wav", kHashA}, {"sfx/b.wav", kHashA}, {"sfx/c.wav", kHashA}};
    const LabelMatch shared = MatchLabels({{"sfx/x.wav", kHashA, "click"}}, files);
    EXPECT_EQ(shared.labels.size(), 3U);
    const LabelMatch own = MatchLabels({{"sfx/x.wav", kHashA, "click"}, {"sfx/b.wav", kHashA, "the b one"}}, files);
    EXPECT_EQ(own.labels.at("sfx/a.wav"), "click");
    EXPECT_EQ(own.labels.at("sfx/b.wav"), "the b one");
    EXPECT_EQ(own.labels.at("sfx/c.wav"), "click");
    EXPECT_EQ(own.by_hash, 2U);
}

}  // namespace
}  // namespace quorvel
