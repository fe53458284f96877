// quorvel-make-sample's command line, run in-process: layouts and profiles,
// the expected files of --expect, and bad usage.

#include "tools/sample_game/command_line.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testing/archive_builder.hpp"
#include "testing/reference_model.hpp"
#include "tools/sample_game/profiles.hpp"

namespace quorvel::sample {
namespace {

namespace fs = std::filesystem;
using Folder = std::map<std::string, std::string>;

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result MakeSample(const std::vector<std::string>& arguments)
{
    const std::vector<std::string_view> views(arguments.begin(), arguments.end());
    std::ostringstream out;
    std::ostringstream err;
    const int status = MakeSampleMain(views, out, err);
    return {status, out.str(), err.str()};
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Folder ReadFolder(const fs::path& folder)
{
    Folder files;
    for (const auto& file : fs::directory_iterator(folder)) {
        files[file.path().filename().string()] = ReadFile(file.path());
    }
    return files;
}

class MakeSampleCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string Path(const std::string& name, const char* prefix = "") const
    {
        return std::string(prefix).append((root_ / name).string());
    }

private:
    // One folder per test: ctest runs the tests side by side.
    fs::path root_ =
        fs::path(::testing::TempDir()) /
        ("quorvel-make-sample-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
};

TEST_F(MakeSampleCommand, LayoutsWriteTheirArchivesAndTheFilesAnExtractionGives)
{
    std::ofstream(Path("speech.layout")) << "# one sound\nblock wav(16)\nfinal\n";
    const Result result =
        MakeSample({"--sfx", "block \"AVQF1234\"; block; block riff(4) \"xy\" riff(4); final", "--speech",
                    Path("speech.layout", "@"), "--expect", Path("expect"), Path("game")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "sfx.pak: 50 bytes, 3 blocks\nspeech.pak: 24 bytes, 1 blocks\n"
              "expected sfx: 5 files, 34 bytes\nexpected speech: 1 files, 16 bytes\n");
    const std::string sound = testing::Str(testing::Riff(4));
    EXPECT_EQ(ReadFile(Path("game/sfx.pak")),
              testing::Archive().Block("AVQF1234").Block().Block(sound, "xy", sound).Final().Str());
    EXPECT_EQ(ReadFile(Path("game/speech.pak")), testing::Archive().Block(testing::Wav(16)).Final().Str());
    EXPECT_EQ(ReadFolder(Path("expect/sfx")), (Folder{{"sfx_0001.AVQF", "AVQF1234"},
                                                      {"sfx_0002", ""},
                                                      {"sfx_0003.wav", sound},
                                                      {"sfx_0004", "xy"},
                                                      {"sfx_0005.wav", sound}}));
    EXPECT_EQ(ReadFolder(Path("expect/speech")), (Folder{{"speech_0001.wav", testing::Str(testing::Wav(16))}}));
}

TEST_F(MakeSampleCommand, ALayoutWithoutSpeechWritesSfxOnlyAndATruncatedOneExpectsWhatIsThere)
{
    const Result result =
        MakeSample({"--sfx", "block \"AVQF1234\"; length 64 \"AVQFpart\"", "--expect", Path("expect"), Path("game")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "sfx.pak: 24 bytes, 2 blocks\nexpected sfx: 2 files, 16 bytes\n");
    EXPECT_EQ(ReadFolder(Path("game")).size(), 1u);
    EXPECT_EQ(ReadFolder(Path("expect/sfx")), (Folder{{"sfx_0001.AVQF", "AVQF1234"}, {"sfx_0002.AVQF", "AVQFpart"}}));
    EXPECT_FALSE(fs::exists(Path("expect/speech")));
}

TEST_F(MakeSampleCommand, AProfileWritesItsGameAndTheFilesTheModelStatesForIt)
{
    const Result result = MakeSample({"--profile", "tiny", "--seed", "4", "--expect", Path("expect"), Path("game")});
    ASSERT_EQ(result.status, 0) << result.err;
    const GameContent game = FindProfile("tiny")->make(4, 0);
    for (const auto& [name, blocks] : {std::pair{"sfx", &game.sfx}, std::pair{"speech", &game.speech}}) {
        const std::string archive = ReadFile(Path("game/") + name + ".pak");
        EXPECT_EQ(archive, GameArchive(*blocks).Str()) << name;
        EXPECT_NE(result.out.find(std::string(name) + ".pak: " + std::to_string(archive.size()) + " bytes, " +
                                  std::to_string(blocks->size()) + " blocks\n"),
                  std::string::npos);
        Folder expected;
        for (const model::File& file : model::ExtractArchive(testing::AsBytes(archive)).files) {
            expected[model::FileName(name, file)] = archive.substr(file.bytes.offset, file.bytes.size);
        }
        EXPECT_EQ(ReadFolder(Path("expect/") + name), expected) << name;
    }
}

TEST_F(MakeSampleCommand, BadUsageIsRefusedBeforeAnythingIsWritten)
{
    const std::string game = Path("game");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--profile", "tiny", "--sfx", "final", game}, "--profile cannot be used with --sfx"},
        {{"--sfx", "final", "--size", "1K", game}, "--size cannot be used with --sfx"},
        {{"--speech", "final", game}, "--speech needs --sfx"},
        {{"--sfx", "final", "--speech", "blok", game}, "--speech: line 1: expected an item"},
        {{"--sfx", Path("missing.layout", "@"), game}, Path("missing.layout", "cannot read the layout file ")},
        {{"--profile", "game", game}, "the profile game needs --size"},
        {{"--profile", "tiny", "--size", "1K", game}, "the profile tiny takes no --size"},
        {{"--profile", "none", game}, "unknown profile 'none'"},
        {{"--seed", "-1", game}, "--seed needs a whole number"},
        {{"--profile", "game", "--size", "1T", game}, "--size needs a whole number, perhaps ending in K, M or G"},
        {{game, game}, "unexpected argument '" + game + "'"},
        {{"--sfx"}, "unexpected argument '--sfx'"},
        {{}, "no FOLDER given"},
    };
    for (const auto& [arguments, message] : cases) {
        const Result result = MakeSample(arguments);
        EXPECT_EQ(result.status, 2) << message;
        EXPECT_TRUE(result.err.starts_with("quorvel-make-sample: " + message)) << result.err;
        EXPECT_NE(result.err.find("Usage:"), std::string::npos) << message;
        EXPECT_FALSE(fs::exists(game)) << message;
    }
    const Result help = MakeSample({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--sfx LAYOUT [--speech LAYOUT]"), std::string::npos);
}

TEST_F(MakeSampleCommand, AnExpectFolderInUseOrInTheWayFails)
{
    fs::create_directories(Path("used/speech"));
    const Result used = MakeSample({"--profile", "tiny", "--expect", Path("used"), Path("game")});
    EXPECT_EQ(used.status, 1);
    const std::string speech = (fs::path(Path("used")) / "speech").string();
    EXPECT_EQ(used.err, std::string("quorvel-make-sample: --expect: ").append(speech).append(" already exists\n"));
    EXPECT_FALSE(fs::exists(Path("game"))) << "refused before anything is written";

    std::ofstream(Path("in-the-way")) << "a file";
    const Result blocked = MakeSample({"--sfx", "final", "--expect", Path("in-the-way"), Path("game")});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_TRUE(blocked.err.starts_with("quorvel-make-sample: ")) << blocked.err;
}

}  // namespace
}  // namespace quorvel::sample
