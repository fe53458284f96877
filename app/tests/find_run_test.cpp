// The search run: a clip cut from a sound of the game finds it and its
// place; the index file in the output folder spares a second run every
// fingerprint, is updated for a changed sound and rebuilt when damaged; a
// clip that is not a sound fails the run by its name.

#include "app/find_run.hpp"

#include <sndfile.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "audio/sound_index.hpp"
#include "audio/tests/sound_kit.hpp"
#include "testing/archive_builder.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel {
namespace {

using testing::Bytes;

constexpr int kRate = 22050;

class RecordingReport final : public FindReport {
public:
    std::vector<std::string> failed;
    std::vector<Failure> errors;
    std::size_t sounds = 0;
    std::size_t fingerprinted = 0;

    bool AskYesNo(std::string_view /*question*/) override { return false; }
    void StatusChanged(std::string_view /*text*/) override {}
    void Progress(std::uint64_t done, std::uint64_t of) override { EXPECT_LE(done, of); }
    void SoundFailed(std::string_view line) override { failed.emplace_back(line); }
    void Indexed(std::size_t all, std::size_t new_ones) override
    {
        sounds = all;
        fingerprinted = new_ones;
    }
    void IndexNotKept(const Failure& failure) override { not_kept.push_back(failure); }
    void ReportError(const Failure& failure) override { errors.push_back(failure); }
    void ReportWarning(std::string_view text) override { ADD_FAILURE() << "warning: " << text; }

    std::vector<Failure> not_kept;
};

std::vector<float> Tune(std::uint32_t seed)
{
    return audio::testing::MakeTune(2, kRate, kRate * 6, seed);
}

Bytes Wav(const std::vector<float>& samples, int format = SF_FORMAT_PCM_16)
{
    return audio::testing::EncodeSound(SF_FORMAT_WAV | format, 2, kRate, samples);
}

// sfx.pak: three tunes (one in IMA ADPCM), and a sound that is only noise
// after its header.
void AddGame(testing::MemoryFileSystem& files, std::uint32_t first_seed)
{
    files.AddArchive("game/sfx.pak", testing::Archive()
                                         .Block(Wav(Tune(first_seed)), Wav(Tune(2), SF_FORMAT_IMA_ADPCM))
                                         .Block(testing::Riff(100), testing::Noise(88))
                                         .Block(Wav(Tune(3)))
                                         .Final());
}

RunEnd Find(testing::MemoryFileSystem& files, RecordingReport& report, std::vector<FoundSound>& found)
{
    const FindRequest request{.places = {.game_folder = "game", .output_folder = "out"}, .clip = "clip.wav"};
    return FindRun(files, request, report, found);
}

TEST(FindRun, FindsTheSoundAndPlaceAndKeepsTheIndexForTheNextRun)
{
    testing::MemoryFileSystem files;
    files.MakeFolder("out");
    AddGame(files, 1);
    // 1.5 s of the ADPCM tune from 2.25 s on, at 16 kHz and mono.
    const std::vector<float> tune = Tune(2);
    std::vector<float> mono;
    for (std::size_t frame = kRate * 9 / 4; frame < kRate * 15 / 4; ++frame) {
        mono.push_back((tune[2 * frame] + tune[2 * frame + 1]) / 2);
    }
    files.AddArchive("clip.wav", audio::testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, kRate, mono));

    RecordingReport first;
    std::vector<FoundSound> found;
    ASSERT_EQ(Find(files, first, found), RunEnd::kCompleted);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].path, "sfx/sfx_0002.wav");
    EXPECT_NEAR(found[0].seconds, 2.25, 0.05);
    EXPECT_EQ(first.sounds, 4U);
    EXPECT_EQ(first.fingerprinted, 4U);
    ASSERT_EQ(first.failed.size(), 1U);
    EXPECT_TRUE(first.failed[0].starts_with("sfx/sfx_0003.wav: ")) << first.failed[0];
    const Bytes index = files.Outputs().at("out/" + std::string(audio::kSoundIndexFile));

    // Nothing changed: no sound is fingerprinted again, the file is not written again.
    const std::uint64_t created = files.FilesCreated();
    RecordingReport second;
    std::vector<FoundSound> again;
    ASSERT_EQ(Find(files, second, again), RunEnd::kCompleted);
    EXPECT_EQ(second.fingerprinted, 0U);
    EXPECT_EQ(files.FilesCreated(), created);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0].path, found[0].path);
    EXPECT_EQ(again[0].seconds, found[0].seconds);

    // The first sound changed: it alone is fingerprinted.
    AddGame(files, 7);
    RecordingReport third;
    ASSERT_EQ(Find(files, third, again), RunEnd::kCompleted);
    EXPECT_EQ(third.fingerprinted, 1U);

    // A damaged index file is made again whole.
    AddGame(files, 1);
    files.SetOutput("out/" + std::string(audio::kSoundIndexFile), Bytes(index.begin(), index.end() - 3));
    RecordingReport fourth;
    ASSERT_EQ(Find(files, fourth, again), RunEnd::kCompleted);
    EXPECT_EQ(fourth.fingerprinted, 4U);
    EXPECT_EQ(files.Outputs().at("out/" + std::string(audio::kSoundIndexFile)), index);
}

// Stops the run when it is told of progress for the `stop_at`th time.
class StoppingReport final : public FindReport {
public:
    explicit StoppingReport(int stop_at) : left_(stop_at) {}
    bool AskYesNo(std::string_view /*question*/) override { return false; }
    void StatusChanged(std::string_view /*text*/) override {}
    void Progress(std::uint64_t /*done*/, std::uint64_t /*of*/) override
    {
        if (--left_ == 0) {
            throw Cancelled();
        }
    }
    void SoundFailed(std::string_view /*line*/) override {}
    void IndexNotKept(const Failure& failure) override { ADD_FAILURE() << failure.OneLine(); }
    void ReportError(const Failure& failure) override { ADD_FAILURE() << failure.OneLine(); }
    void ReportWarning(std::string_view text) override { ADD_FAILURE() << "warning: " << text; }

private:
    int left_;
};

TEST(FindRun, AnIndexingStoppedHalfWayKeepsWhatItDidForTheNextRun)
{
    testing::MemoryFileSystem files;
    files.MakeFolder("out");
    AddGame(files, 1);
    // No clip: the run only indexes (the studio does so from its start).
    const FindRequest index_only{
        .places = {.game_folder = "game", .output_folder = "out"}, .clip = {}, .index_only = true};
    StoppingReport stopped(3);  // told before each sound: stopped before the third
    std::vector<FoundSound> found;
    ASSERT_EQ(FindRun(files, index_only, stopped, found), RunEnd::kCancelled);
    ASSERT_TRUE(files.Outputs().contains("out/" + std::string(audio::kSoundIndexFile)));

    RecordingReport rest;
    ASSERT_EQ(FindRun(files, index_only, rest, found), RunEnd::kCompleted);
    EXPECT_EQ(rest.sounds, 4U);
    EXPECT_EQ(rest.fingerprinted, 2U);
    EXPECT_TRUE(found.empty());
}

TEST(FindRun, AnIndexThatCannotBeWrittenLeavesTheSearchWhole)
{
    testing::MemoryFileSystem files;
    files.MakeFolder("out");
    AddGame(files, 1);
    const std::vector<float> tune = Tune(3);
    files.AddArchive("clip.wav", Wav(std::vector<float>(tune.begin() + kRate * 2, tune.begin() + kRate * 6)));
    files.FailWritesAfter(0);  // a full disk
    RecordingReport report;
    std::vector<FoundSound> found;
    ASSERT_EQ(Find(files, report, found), RunEnd::kCompleted);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].path, "sfx/sfx_0004.wav");
    ASSERT_EQ(report.not_kept.size(), 1U);
    EXPECT_EQ(report.not_kept[0].file, "out/" + std::string(audio::kSoundIndexFile));
    EXPECT_FALSE(files.Outputs().contains("out/" + std::string(audio::kSoundIndexFile)));
    EXPECT_TRUE(report.errors.empty());
}

TEST(FindRun, AClipThatIsNoSoundFailsTheRunByItsName)
{
    testing::MemoryFileSystem files;
    AddGame(files, 1);
    files.AddArchive("clip.wav", Bytes(100, std::byte{'x'}));
    RecordingReport report;
    std::vector<FoundSound> found;
    EXPECT_EQ(Find(files, report, found), RunEnd::kFailed);
    ASSERT_EQ(report.errors.size(), 1U);
    EXPECT_EQ(report.errors[0].file, "clip.wav");
    EXPECT_TRUE(report.errors[0].description.starts_with("cannot be decoded")) << report.errors[0].description;
    EXPECT_EQ(report.sounds, 0U);  // the game was not looked at
    EXPECT_TRUE(found.empty());
}

}  // namespace
}  // namespace quorvel
