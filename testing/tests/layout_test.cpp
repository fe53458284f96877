// Layout texts and the parts they are made of: the exact bytes of every item
// and part, and a message naming the line for every malformed layout.

#include "testing/layout.hpp"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace quorvel::testing {
namespace {

TEST(Layout, EveryItemAndPartMakesTheseBytes)
{
    const Archive archive = ParseLayout(
        "block \"AVQF1234\"; block  # an empty block\n"
        "length -5 int32(7) riff(4) riff(-1, \"AVI \")\n"
        "\n"
        "raw bytes(3, 255) \"a\\\\b\\\"c\\n\\t\\0\\x41\"\n"
        "repeat 2 {\n"
        "  block \"x\"; raw \"y\"\n"
        "}\n"
        "final");
    EXPECT_EQ(archive.Str(), "\x0c\0\0\0AVQF1234"s + "\x04\0\0\0"s + "\xfb\xff\xff\xff\x07\0\0\0"s +
                                 "RIFF\x04\0\0\0WAVE"s + "RIFF\xff\xff\xff\xff" + "AVI " + "\xff\xff\xff" +
                                 "a\\b\"c\n\t\0A"s + "\x05\0\0\0xy\x05\0\0\0xy"s + "\0\0\0\0"s);
    EXPECT_EQ(archive.Size(), archive.Str().size());
    EXPECT_EQ(archive.Blocks(), 5u);
}

TEST(Layout, SizesTakeKibAndMibAndAreMadeOnlyWhenRead)
{
    const Archive archive = ParseLayout("raw bytes(2K, 7) bytes(1M, 0); repeat 3 { block bytes(1000M, 9) }");
    EXPECT_EQ(archive.Size(), 2048u + (1u << 20) + 3 * (1000ull << 20) + 3 * 4);
    EXPECT_EQ(archive.Blocks(), 3u);
    std::string start(2049, '\0');
    ASSERT_EQ(archive.Open()->Read(std::as_writable_bytes(std::span(start))), start.size());
    EXPECT_EQ(start, std::string(2048, '\x07') + '\0');
}

TEST(Layout, WavIsAWellFormedSilentSoundOfExactlyItsSize)
{
    for (const std::uint64_t size : {12u, 16u, 43u, 44u, 45u, 1000u}) {
        SCOPED_TRACE(size);
        const std::string wav = ParseLayout("raw wav(" + std::to_string(size) + ")").Str();
        ASSERT_EQ(wav.size(), size);
        EXPECT_EQ(wav.substr(0, 12), Str(Riff(static_cast<std::int32_t>(size - 8))));
        const std::size_t header = size >= 44 ? 44 : 12;
        if (size >= 44) {
            EXPECT_EQ(wav.substr(12, 32), "fmt \x10\0\0\0\x01\0\x01\0\x22\x56\0\0\x44\xac\0\0\x02\0\x10\0data"s +
                                              Str(Int32(static_cast<std::int32_t>(size - 44))));
        }
        EXPECT_EQ(wav.substr(header), std::string(size - header, '\0')) << "silence";
    }
    EXPECT_THROW(Wav(11), std::invalid_argument);
}

TEST(Layout, NoiseHoldsNoRAndDiffersByOffsetAndSeed)
{
    const Archive archive = ParseLayout("repeat 2 { raw noise(4K) }");
    const std::string first = archive.Str(1);
    EXPECT_EQ(first.find('R'), std::string::npos);
    EXPECT_GT(std::set<char>(first.begin(), first.end()).size(), 200u);
    EXPECT_NE(first.substr(0, 4096), first.substr(4096)) << "repeated noise differs";
    EXPECT_EQ(archive.Str(1), first);
    EXPECT_NE(archive.Str(2), first);
}

TEST(Layout, MalformedLayoutsNameTheLineAndWhatWasExpected)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"block \"AVQF\"\nblok", "line 2: expected an item (block, length, final, raw or repeat), found 'blok'"},
        {"block foo",
         "line 1: expected a part (\"text\", wav(N), riff(SIZE), riff(SIZE, \"FORM\"), int32(V), bytes(N, V) or "
         "noise(N)), found 'foo'"},
        {"final \"x\"", "line 1: expected ';' or a new line after the item, found a text"},
        {"length 2147483648", "line 1: expected a length field N from -2147483648 to 2147483647, found '2147483648'"},
        {"length", "line 1: expected a length field N from -2147483648 to 2147483647, found the end of the layout"},
        {"\n\nblock wav(11)", "line 3: expected a sound size N from 12 to 4G, found '11'"},
        {"raw bytes(3, 256)", "line 1: expected a byte value V from 0 to 255, found '256'"},
        {"raw bytes(3 0)", "line 1: expected ',', found '0'"},
        {"raw noise(5G)", "line 1: expected a size N, found '5G'"},
        {"raw int32(1", "line 1: expected ')', found the end of the layout"},
        {"raw riff(4, \"AB\")", "line 1: expected a form type of 4 bytes, such as \"WAVE\", found a text"},
        {"raw \"open\nfinal", "line 1: expected '\"' to close the text before the end of its line"},
        {"raw \"\\q\"", "line 1: expected an escape \\\\, \\\", \\n, \\t, \\0 or \\xHH"},
        {"raw \"\\x4\"", "line 1: expected two hex digits after \\x"},
        {"repeat 2 { block\n", "line 2: expected '}' to close the repeat, found the end of the layout"},
        {"repeat x { }", "line 1: expected a repeat count, found 'x'"},
        {"final }", "line 1: expected an item (block, length, final, raw or repeat), found '}'"},
        {"raw @", "line 1: expected ';' or a new line after the item, found '@'"},
        {"\nblock bytes(2047M, 0) bytes(1M, 0)", "line 2: block of 2147483652 bytes is too long for its 32-bit length"},
    };
    for (const auto& [layout, message] : cases) {
        try {
            ParseLayout(layout);
            ADD_FAILURE() << "no error for: " << layout;
        } catch (const LayoutError& error) {
            EXPECT_EQ(error.what(), message) << layout;
        }
    }
}

}  // namespace
}  // namespace quorvel::testing
