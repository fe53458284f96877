// The reference model on archives worked out by hand. The fuzz targets check
// it against the core on every input; these fix what both must say.

#include "testing/reference_model.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "testing/layout.hpp"

namespace quorvel::model {
namespace {

struct Named {
    std::string name;
    std::string bytes;
    bool operator==(const Named&) const = default;
};

std::vector<Named> Files(const std::string& archive, const Extraction& extraction)
{
    std::vector<Named> files;
    for (const File& file : extraction.files) {
        files.push_back({FileName("sfx", file), archive.substr(file.bytes.offset, file.bytes.size)});
    }
    return files;
}

TEST(ReferenceModel, NamesArePaddedToFourDigitsAndNeverWrap)
{
    EXPECT_EQ(FileName("sfx", {.number = 1, .extension = ".wav", .bytes = {}}), "sfx_0001.wav");
    EXPECT_EQ(FileName("speech", {.number = 42, .extension = "", .bytes = {}}), "speech_0042");
    EXPECT_EQ(FileName("sfx", {.number = 9999, .extension = ".AVQF", .bytes = {}}), "sfx_9999.AVQF");
    EXPECT_EQ(FileName("sfx", {.number = 10000, .extension = "", .bytes = {}}), "sfx_10000");
}

TEST(ReferenceModel, SignaturesAreJudgedOnTheBytesThePayloadReallyHas)
{
    const std::string archive =
        testing::ParseLayout("block \"AV\"; block \"RIFF\"; block \"AVQF\"; block; block \"avqf\"; final").Str();
    const Extraction extraction = ExtractArchive(testing::AsBytes(archive));
    EXPECT_EQ(
        Files(archive, extraction),
        (std::vector<Named>{{"sfx_0001", "AV"}, {"sfx_0003.AVQF", "AVQF"}, {"sfx_0004", ""}, {"sfx_0005", "avqf"}}));
    EXPECT_EQ(extraction.numbers_without_file, std::vector<std::int64_t>{2});
    EXPECT_FALSE(extraction.truncated);
}

TEST(ReferenceModel, TruncatedRiffBlockIsCarvedAsFarAsItGoesAndCountedWithoutItsSignature)
{
    const std::string archive =
        testing::ParseLayout("block \"AVQF\"; length 64 riff(4) \"xy\" riff(4, \"AVI \") \"RI\"").Str();
    const Extraction extraction = ExtractArchive(testing::AsBytes(archive));
    EXPECT_EQ(Files(archive, extraction), (std::vector<Named>{{"sfx_0001.AVQF", "AVQF"},
                                                              {"sfx_0002.wav", archive.substr(12, 12)},
                                                              {"sfx_0003", "xy"},
                                                              {"sfx_0004.wav", archive.substr(26, 12)},
                                                              {"sfx_0005", "RI"}}));
    EXPECT_TRUE(extraction.truncated);
    EXPECT_EQ(extraction.progress, 4u + 4 + 4 + (28 - 4));
    ASSERT_EQ(extraction.payloads.size(), 2u);
    EXPECT_EQ(extraction.payloads[1].offset, 12u);
    EXPECT_EQ(extraction.payloads[1].size, 28u);
}

}  // namespace
}  // namespace quorvel::model
