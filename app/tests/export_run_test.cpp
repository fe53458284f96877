// The export run: every chosen sound decoded and encoded into export/, named
// by its number and label; a sound that cannot be decoded is told and the
// others are still written; a stop or a failed output leaves no file half
// written.

#include "app/export_run.hpp"

#include <sndfile.h>

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "app/selection.hpp"
#include "audio/memory_input.hpp"
#include "audio/tests/sound_kit.hpp"
#include "labels/label_store.hpp"
#include "testing/archive_builder.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel {
namespace {

using audio::MemoryInput;
using testing::Bytes;

class RecordingReport final : public ExportReport {
public:
    bool answer = true;
    // Progress stops the run once `done` passes this.
    std::uint64_t stop_after = UINT64_MAX;

    std::vector<std::string> failed;
    std::vector<ExportTally> tallies;
    std::vector<Failure> errors;
    std::uint64_t last_done = 0;
    std::uint64_t total = 0;

    bool AskYesNo(std::string_view /*question*/) override { return answer; }
    void StatusChanged(std::string_view /*text*/) override {}
    void Progress(std::uint64_t done, std::uint64_t of) override
    {
        EXPECT_GE(done, last_done);
        EXPECT_LE(done, of);
        last_done = done;
        total = of;
        if (done > stop_after) {
            throw Cancelled();
        }
    }
    void SoundFailed(std::string_view line) override { failed.emplace_back(line); }
    void ArchiveExported(const ExportTally& tally) override { tallies.push_back(tally); }
    void ReportError(const Failure& failure) override { errors.push_back(failure); }
    void ReportWarning(std::string_view text) override { ADD_FAILURE() << "warning: " << text; }
};

template <typename Sample>
std::vector<Sample> Decode(const Bytes& bytes)
{
    MemoryInput input(bytes);
    audio::SoundDecoder sound = audio::SoundDecoder::Open(input, "decoded");
    std::vector<Sample> all(static_cast<std::size_t>(sound.frames() * sound.channels()) + 1);
    all.resize(sound.Read(std::span(all)) * static_cast<std::size_t>(sound.channels()));
    return all;
}

// sfx.pak: a tagged block, then a RIFF block of a 16-bit stereo sound past
// 64 KiB, two stray bytes, a sound that is only noise after its header, and
// an IMA ADPCM sound. speech.pak: one line.
struct Game {
    Bytes pcm = audio::testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 22050,
                                            audio::testing::MakeSignal(2, 22050, 70000));
    Bytes adpcm = audio::testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 11025,
                                              audio::testing::MakeSignal(1, 11025, 5000, 2));
    Bytes line = audio::testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8000,
                                             audio::testing::MakeSignal(1, 8000, 3000, 3));

    void AddTo(testing::MemoryFileSystem& files, bool with_speech = true) const
    {
        files.AddArchive("game/sfx.pak", testing::Archive()
                                             .Block("AVQF1234")
                                             .Block(pcm, "xy", testing::Riff(100), testing::Noise(88), adpcm)
                                             .Final());
        if (with_speech) {
            files.AddArchive("game/speech.pak", testing::Archive().Block(line).Final());
        }
    }
};

TEST(ExportRun, ExportsEverySoundItCanAndTellsTheOneItCannot)
{
    const Game game;
    testing::MemoryFileSystem files;
    game.AddTo(files);
    const std::map<std::string, std::string> labels = {{"sfx/sfx_0005.wav", "door: creak?"},
                                                       {"sfx/sfx_0003", "a tail has no sound"}};
    RecordingReport report;
    const ExportRequest request{.places = {.game_folder = "game", .output_folder = "out"},
                                .format = audio::ExportFormat::kFlac,
                                .choice = nullptr,
                                .labels = &labels};
    EXPECT_EQ(ExportRun(files, request, report), RunEnd::kFailed);

    ASSERT_EQ(report.failed.size(), 1U);
    EXPECT_TRUE(report.failed[0].starts_with("sfx/sfx_0004.wav: cannot be decoded: ")) << report.failed[0];
    EXPECT_TRUE(report.errors.empty());
    const auto& outputs = files.Outputs();
    ASSERT_EQ(outputs.size(), 3U);
    EXPECT_EQ(Decode<std::int32_t>(outputs.at("out/export/sfx/sfx_0002.flac")), Decode<std::int32_t>(game.pcm));
    const Bytes& labelled = outputs.at("out/export/sfx/sfx_0005 door_ creak_.flac");
    EXPECT_EQ(Decode<std::int16_t>(labelled), Decode<std::int16_t>(game.adpcm));
    EXPECT_EQ(Decode<std::int32_t>(outputs.at("out/export/speech/speech_0001.flac")), Decode<std::int32_t>(game.line));

    EXPECT_EQ(audio::testing::ReadTag(labelled, SF_STR_TITLE), "door: creak?");
    MemoryInput adpcm(game.adpcm);
    EXPECT_EQ(audio::testing::ReadTag(labelled, SF_STR_COMMENT), "sfx/sfx_0005.wav xxh64:" + ContentHash(adpcm));
    EXPECT_EQ(audio::testing::ReadTag(outputs.at("out/export/sfx/sfx_0002.flac"), SF_STR_TITLE), "");

    ASSERT_EQ(report.tallies.size(), 2U);
    EXPECT_EQ(report.tallies[0].folder, "out/export/sfx");
    EXPECT_EQ(report.tallies[0].exported, 2U);
    EXPECT_EQ(report.tallies[0].failed, 1U);
    EXPECT_EQ(report.tallies[0].left, 2U);  // the tagged block and the stray bytes
    EXPECT_EQ(report.tallies[1].exported, 1U);
    EXPECT_EQ(files.OpenOutputs(), 0);
}

TEST(ExportRun, ExportsOnlyTheChosenSoundsAndNoSpeechOnNo)
{
    const Game game;
    testing::MemoryFileSystem files;
    game.AddTo(files, /*with_speech=*/false);
    Selection chosen = Selection::Parse({"sfx:1-3"});
    RecordingReport report;
    report.answer = false;
    const ExportRequest request{
        .places = {.game_folder = "game", .output_folder = {}}, .format = audio::ExportFormat::kWav, .choice = &chosen};
    EXPECT_EQ(ExportRun(files, request, report), RunEnd::kCompleted);
    ASSERT_EQ(files.Outputs().size(), 1U);
    EXPECT_EQ(Decode<std::int32_t>(files.Outputs().at("game/export/sfx/sfx_0002.wav")), Decode<std::int32_t>(game.pcm));
    ASSERT_EQ(report.tallies.size(), 1U);
    EXPECT_EQ(report.tallies[0].left, 2U);
    EXPECT_EQ(report.last_done, report.total - 12);  // all but the two length fields and the final field
}

// Stopped in the middle of a sound, or failing to write it: that file is
// thrown away; an earlier export of it stays as it was.
TEST(ExportRun, AStopOrAFullDiskLeavesNoFileHalfWritten)
{
    const Game game;
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stopped" : "full disk");
        testing::MemoryFileSystem files;
        game.AddTo(files);
        files.MakeFolder("game/export");
        files.MakeFolder("game/export/sfx");
        files.SetOutput("game/export/sfx/sfx_0002.ogg", Bytes(3, std::byte{7}));
        RecordingReport report;
        if (stop) {
            report.stop_after = 8 + 4 + 40000;  // inside the first sound
        } else {
            files.FailWritesAfter(5000);
        }
        const ExportRequest request{.places = {.game_folder = "game", .output_folder = {}},
                                    .format = audio::ExportFormat::kOgg};
        EXPECT_EQ(ExportRun(files, request, report), stop ? RunEnd::kCancelled : RunEnd::kFailed);
        EXPECT_EQ(files.Outputs().size(), 1U);
        EXPECT_EQ(files.Outputs().at("game/export/sfx/sfx_0002.ogg"), Bytes(3, std::byte{7}));
        EXPECT_EQ(files.OpenOutputs(), 0);
        EXPECT_TRUE(report.tallies.empty());
        if (!stop) {
            ASSERT_EQ(report.errors.size(), 1U);
            EXPECT_EQ(report.errors[0].number, ENOSPC);
            EXPECT_EQ(report.errors[0].file, "game/export/sfx/sfx_0002.ogg");
        }
    }
}

}  // namespace
}  // namespace quorvel
