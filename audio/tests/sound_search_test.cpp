// Finding a sound by ear: clips cut from sounds, degraded as a recording
// off the speakers would be, must find their sound and their place in it;
// clips of other sounds and noise must find nothing; and the index file is
// reused, updated and rebuilt as its sounds and its bytes say.

#include "audio/sound_search.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "audio/fingerprint.hpp"
#include "audio/resampler.hpp"
#include "audio/sound_index.hpp"
#include "audio/tests/sound_kit.hpp"
#include "testing/memory_file_system.hpp"
#include "testing/prng.hpp"

namespace quorvel::audio {
namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
// Longer than every piece the fingerprinter works in.
constexpr std::int64_t kSoundFrames = std::int64_t{kRate} * 15;

// Fed in pieces of an odd size, so that windows and resampler pieces fall
// across them.
std::vector<Landmark> Fingerprint(const std::vector<float>& samples, int rate, int channels)
{
    Fingerprinter fingerprinter(rate, channels);
    const std::size_t piece = 7919 * static_cast<std::size_t>(channels);
    std::vector<Landmark> landmarks;
    for (std::size_t start = 0; start < samples.size(); start += piece) {
        const std::size_t count = std::min(piece, samples.size() - start);
        fingerprinter.Add(std::span(samples).subspan(start, count));
        std::vector<Landmark> ready = fingerprinter.TakeReady();
        landmarks.insert(landmarks.end(), ready.begin(), ready.end());
    }
    std::vector<Landmark> rest = fingerprinter.Finish();
    landmarks.insert(landmarks.end(), rest.begin(), rest.end());
    return landmarks;
}

// White noise `snr_db` under the clip's power, a gain, and another rate:
// what a microphone by a loudspeaker hands over.
std::vector<float> Degrade(std::vector<float> clip, double snr_db, double gain, int to_rate, std::uint64_t seed)
{
    double power = 0;
    for (const float sample : clip) {
        power += static_cast<double>(sample) * sample;
    }
    power /= static_cast<double>(clip.size());
    // A uniform noise of width w has a power of w^2 / 12.
    const double width = std::sqrt(12 * power / std::pow(10, snr_db / 10));
    quorvel::testing::SplitMix64 random(seed);
    for (float& sample : clip) {
        const double noise = (static_cast<double>(random.Next() >> 11) / 9007199254740992.0 - 0.5) * width;
        sample = static_cast<float>((sample + noise) * gain);
    }
    Resampler resampler(kRate, to_rate, kChannels);
    std::vector<float> resampled;
    resampler.Process(clip, resampled);
    resampler.Finish(resampled);
    return resampled;
}

std::vector<float> Cut(const std::vector<float>& sound, std::int64_t start, std::int64_t frames)
{
    return {sound.begin() + start * kChannels, sound.begin() + (start + frames) * kChannels};
}

class SoundSearchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (std::uint32_t seed = 1; seed <= kSounds; ++seed) {
            sounds_->push_back(testing::MakeTune(kChannels, kRate, kSoundFrames, seed));
            search_->Add(seed - 1, Fingerprint(sounds_->back(), kRate, kChannels));
        }
    }
    static constexpr std::uint32_t kSounds = 5;
    static inline auto* sounds_ = new std::vector<std::vector<float>>();
    static inline auto* search_ = new SoundSearch();
};

TEST_F(SoundSearchTest, ClipUnderNoiseGainAndAnotherRateFindsItsSoundAndPlace)
{
    quorvel::testing::SplitMix64 random(20261208);
    for (std::uint32_t sound = 0; sound < kSounds; ++sound) {
        for (const int seconds : {1, 2}) {
            const std::int64_t frames = std::int64_t{kRate} * seconds;
            const auto start = static_cast<std::int64_t>(random.Between(0, kSoundFrames - frames));
            const double gain = sound % 2 == 0 ? 0.25 : 1.2;
            const std::vector<float> clip = Degrade(Cut((*sounds_)[sound], start, frames), 5, gain, 16000, sound);

            const std::vector<SoundMatch> found = search_->Find(Fingerprint(clip, 16000, kChannels), 10);
            const double place = static_cast<double>(start) / kRate;
            SCOPED_TRACE("sound " + std::to_string(sound) + ", " + std::to_string(seconds) + " s at " +
                         std::to_string(place) + " s");
            ASSERT_FALSE(found.empty());
            EXPECT_EQ(found[0].sound, sound);
            EXPECT_NEAR(found[0].seconds, place, 0.05);
            // The place is given to the millisecond.
            EXPECT_DOUBLE_EQ(found[0].seconds * 1000, std::round(found[0].seconds * 1000));
        }
    }
}

TEST_F(SoundSearchTest, ClipOfAnotherSoundOrOfNoiseFindsNothing)
{
    const std::vector<float> stranger = testing::MakeTune(kChannels, kRate, std::int64_t{kRate} * 3, 99);
    EXPECT_TRUE(search_->Find(Fingerprint(stranger, kRate, kChannels), 10).empty());
    // MakeSignal's chord is no tune of the index either.
    const std::vector<float> chord = testing::MakeSignal(kChannels, kRate, std::int64_t{kRate} * 3, 1);
    EXPECT_TRUE(search_->Find(Fingerprint(chord, kRate, kChannels), 10).empty());
    const std::vector<float> noise = Degrade(std::vector<float>(std::size_t{kRate} * 2 * kChannels, 0.0F), 0, 1, kRate,
                                             5);  // silence under noise: noise
    EXPECT_TRUE(search_->Find(Fingerprint(noise, kRate, kChannels), 10).empty());
}

TEST_F(SoundSearchTest, SimilarSoundsLeaveTheSoundItselfOutAndFindWhatHoldsIt)
{
    // A sound made of a stretch of sound 2: similar to 2, and 2 to it.
    SoundSearch search;
    search.Add(0, Fingerprint((*sounds_)[2], kRate, kChannels));
    search.Add(1, Fingerprint((*sounds_)[3], kRate, kChannels));
    const std::vector<Landmark> part = Fingerprint(Cut((*sounds_)[2], kRate * 4, kRate * 5), kRate, kChannels);
    search.Add(2, part);

    const std::vector<SoundMatch> found = search.Find(part, 10, 2);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].sound, 0U);
    EXPECT_NEAR(found[0].seconds, 4.0, 0.05);
    EXPECT_TRUE(search.Find(Fingerprint((*sounds_)[3], kRate, kChannels), 10, 1).empty());
}

TEST_F(SoundSearchTest, WholeShortSoundIsFoundAndShortStrangersAreNot)
{
    // A whole effect of 0.4 s under noise at 10 dB gives too few landmarks
    // for the full score a longer clip needs (23, 6 of them in place).
    SoundSearch search;
    for (std::uint32_t sound = 0; sound < kSounds; ++sound) {
        search.Add(sound, Fingerprint((*sounds_)[sound], kRate, kChannels));
    }
    const std::vector<float> effect = testing::MakeTune(kChannels, kRate, kRate * 4 / 10, 40);
    search.Add(kSounds, Fingerprint(effect, kRate, kChannels));
    const std::vector<Landmark> clip = Fingerprint(Degrade(effect, 10, 0.5, 22050, 3), 22050, kChannels);
    ASSERT_LT(clip.size(), 4 * kLeastMatchScore);
    const std::vector<SoundMatch> found = search.Find(clip, 10);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].sound, kSounds);
    EXPECT_NEAR(found[0].seconds, 0.0, 0.05);

    for (std::uint32_t seed = 100; seed < 120; ++seed) {
        const std::int64_t frames = kRate * (3 + static_cast<std::int64_t>(seed % 3)) / 10;
        const std::vector<float> stranger = seed % 2 == 0 ? testing::MakeTune(kChannels, kRate, frames, seed)
                                                          : Degrade(std::vector<float>(frames * kChannels, 0.0F), 0, 1,
                                                                    kRate, seed);  // silence under noise: noise
        EXPECT_TRUE(search.Find(Fingerprint(stranger, kRate, kChannels), 10).empty()) << "stranger " << seed;
    }
}

// A sine sweeping linearly from `from_hz` to `to_hz` over the whole sound,
// the same in both channels, as a game's rising whistle or engine.
// `overtones`: its 2nd to 4th harmonics at that level (dB below it), as a
// coarse encoding (8-bit, mu-law, ADPCM) leaves them.
std::vector<float> MakeSweep(std::int64_t frames, double from_hz, double to_hz, std::optional<double> overtones = {})
{
    const double overtone_gain = overtones ? std::pow(10, -*overtones / 20) : 0;
    std::vector<float> samples;
    double phase = 0;
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        phase += 2 * std::numbers::pi * (from_hz + (to_hz - from_hz) * static_cast<double>(frame) / frames) / kRate;
        double sample = std::sin(phase);
        for (int harmonic = 2; harmonic <= 4; ++harmonic) {
            sample += overtone_gain * std::sin(harmonic * phase);
        }
        samples.insert(samples.end(), kChannels, static_cast<float>(0.5 * sample));
    }
    return samples;
}

TEST(SoundSearchLines, SweepUnderNoiseFindsItsSoundAndPlaceAndNotAnotherSweep)
{
    // One level all along: a sweep's own peaks are where a tenth of a dB
    // tips the balance, and 5 dB of noise moves every one of them. Sweeps
    // of 5 to 36 bins a second, and a steady tone at a pitch each of
    // them passes, which must not take their clips.
    const std::vector<std::pair<double, double>> seconds_and_top = {{4, 1760}, {9, 1760}, {20, 1760}, {12, 880}};
    SoundSearch search;
    std::vector<std::vector<float>> sweeps;
    for (const auto& [seconds, top] : seconds_and_top) {
        sweeps.push_back(MakeSweep(static_cast<std::int64_t>(seconds * kRate), 220, top));
        search.Add(static_cast<std::uint32_t>(sweeps.size() - 1), Fingerprint(sweeps.back(), kRate, kChannels));
    }
    search.Add(static_cast<std::uint32_t>(sweeps.size()),
               Fingerprint(MakeSweep(std::int64_t{kRate} * 30, 440, 440), kRate, kChannels));
    quorvel::testing::SplitMix64 random(20261209);
    for (std::uint32_t sound = 0; sound < sweeps.size(); ++sound) {
        for (int clip = 0; clip < 3; ++clip) {
            const std::int64_t frames = std::int64_t{kRate} * 2;
            const auto sound_frames = static_cast<std::int64_t>(sweeps[sound].size() / kChannels);
            const auto start = static_cast<std::int64_t>(random.Between(0, sound_frames - frames));
            const std::vector<float> recorded = Degrade(Cut(sweeps[sound], start, frames), 5, 0.7, 16000, clip);

            const std::vector<SoundMatch> found = search.Find(Fingerprint(recorded, 16000, kChannels), 10);
            const double place = static_cast<double>(start) / kRate;
            SCOPED_TRACE("sweep " + std::to_string(sound) + " at " + std::to_string(place) + " s");
            ASSERT_FALSE(found.empty());
            EXPECT_EQ(found[0].sound, sound);
            EXPECT_NEAR(found[0].seconds, place, 0.05);
        }
    }
}

TEST(SoundSearchLines, SlowSweepStoredCoarselyIsFoundUnderNoiseBeforeItsCleanTwin)
{
    // The stored sweep's faint overtones are lines too, and cross bins
    // more often than it does; noise hides them in the clip. Beside it, a
    // clean sweep 1.7 % shorter: where a 2 s clip lies, the two are a
    // fraction of a bin apart.
    SoundSearch search;
    const std::vector<float> stored = MakeSweep(std::int64_t{kRate} * 30, 220, 1760, 40);
    search.Add(0, Fingerprint(stored, kRate, kChannels));
    search.Add(1, Fingerprint(MakeSweep(std::int64_t{kRate} * 59 / 2, 220, 1760), kRate, kChannels));
    for (const double place : {3.3, 11.9, 26.2}) {
        const auto start = static_cast<std::int64_t>(place * kRate);
        const std::vector<float> recorded =
            Degrade(Cut(stored, start, std::int64_t{kRate} * 2), 5, 0.7, 16000, static_cast<std::uint64_t>(start));

        const std::vector<SoundMatch> found = search.Find(Fingerprint(recorded, 16000, kChannels), 10);
        SCOPED_TRACE("clip at " + std::to_string(place) + " s");
        ASSERT_FALSE(found.empty());
        EXPECT_EQ(found[0].sound, 0U);
        EXPECT_NEAR(found[0].seconds, place, 0.05);
    }
}

TEST(SoundSearchScore, ShortClipNeedsAQuarterOfItsLandmarksLongOneTheFullScore)
{
    SoundSearch search;
    std::vector<Landmark> sound;
    for (std::uint32_t i = 0; i < 100; ++i) {
        sound.push_back({1000 + i, 50 + i});
    }
    search.Add(7, sound);
    // 6 landmarks, 5 of them where the sound has them: found.
    std::vector<Landmark> clip(sound.begin() + 20, sound.begin() + 25);
    for (Landmark& landmark : clip) {
        landmark.frame -= 60;
    }
    clip.push_back({5, 0});
    ASSERT_EQ(search.Find(clip, 10).size(), 1U);
    EXPECT_EQ(search.Find(clip, 10)[0].score, 5U);
    EXPECT_NEAR(search.Find(clip, 10)[0].seconds, FingerprintSeconds(60), 0.001);
    // 3 agree: too few however short the clip.
    EXPECT_TRUE(search.Find(std::span(clip).first(3), 10).empty());
    // The same 5 among 40 landmarks: a long clip needs kLeastMatchScore.
    for (std::uint32_t i = 0; i < 34; ++i) {
        clip.push_back({90000 + i, i});
    }
    EXPECT_TRUE(search.Find(clip, 10).empty());
    for (std::uint32_t i = 25; i < 25 + kLeastMatchScore - 5; ++i) {
        clip.push_back({1000 + i, i - 10});
    }
    ASSERT_EQ(search.Find(clip, 10).size(), 1U);
    EXPECT_EQ(search.Find(clip, 10)[0].score, kLeastMatchScore);
}

// The index file.

std::vector<SoundIndex::Sound> Sounds(const std::vector<std::string>& hashes, std::size_t& fingerprinted)
{
    std::vector<SoundIndex::Sound> sounds;
    for (const std::string& hash : hashes) {
        sounds.push_back(
            {hash, [hash, &fingerprinted] {
                 ++fingerprinted;
                 if (hash == "undecodable") {
                     throw SoundError("sfx/sfx_0009.wav: cannot be decoded");
                 }
                 return std::vector<Landmark>{{static_cast<std::uint32_t>(hash.size()), 7}, {0xFFFFFFFFU, 0}};
             }});
    }
    return sounds;
}

std::uint64_t Fnv1a(std::span<const std::byte> bytes)
{
    std::uint64_t sum = 0xcbf29ce484222325ULL;
    for (const std::byte byte : bytes) {
        sum = (sum ^ static_cast<std::uint64_t>(byte)) * 0x100000001b3ULL;
    }
    return sum;
}

// The bytes with their sum made right again: what only the checks of
// lengths and counts can refuse.
std::vector<std::byte> Resealed(std::vector<std::byte> bytes)
{
    bytes.resize(bytes.size() - 8);
    const std::uint64_t sum = Fnv1a(bytes);
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(static_cast<std::byte>(sum >> (8 * i)));
    }
    return bytes;
}

TEST(SoundIndexFile, IsReusedWhenNothingChangedAndUpdatedForWhatDid)
{
    quorvel::testing::MemoryFileSystem files;
    files.MakeFolder("out");
    const std::string path = "out/" + std::string(kSoundIndexFile);
    std::size_t fingerprinted = 0;
    std::vector<std::string> failures;
    auto failed = [&failures](const SoundError& error) { failures.push_back(error.what()); };

    SoundIndex index;
    EXPECT_EQ(SoundIndex::Load(files, path, index), SoundIndex::Loaded::kNone);
    EXPECT_EQ(index.Update(Sounds({"aaaa", "bb", "undecodable"}, fingerprinted), failed), 3U);
    EXPECT_EQ(failures, std::vector<std::string>{"sfx/sfx_0009.wav: cannot be decoded"});
    index.Save(files, path);

    SoundIndex again;
    ASSERT_EQ(SoundIndex::Load(files, path, again), SoundIndex::Loaded::kRead);
    EXPECT_EQ(again.Update(Sounds({"aaaa", "bb", "undecodable"}, fingerprinted), failed), 0U);
    EXPECT_EQ(fingerprinted, 3U);
    ASSERT_NE(again.Find("aaaa"), nullptr);
    EXPECT_EQ(*again.Find("aaaa"), (std::vector<Landmark>{{4, 7}, {0xFFFFFFFFU, 0}}));
    ASSERT_NE(again.Find("undecodable"), nullptr);
    EXPECT_TRUE(again.Find("undecodable")->empty());

    // "bb" changed to "cc": only it is fingerprinted, and "bb" is let go.
    EXPECT_EQ(again.Update(Sounds({"aaaa", "cc", "undecodable"}, fingerprinted), failed), 1U);
    EXPECT_EQ(again.Find("bb"), nullptr);
    EXPECT_EQ(again.size(), 3U);
    // Written over the older file only once whole.
    again.Save(files, path);
    SoundIndex third;
    ASSERT_EQ(SoundIndex::Load(files, path, third), SoundIndex::Loaded::kRead);
    EXPECT_EQ(third.Bytes(), again.Bytes());
}

TEST(SoundIndexFile, DamagedTruncatedOrForeignIsRebuiltNeverTrusted)
{
    quorvel::testing::MemoryFileSystem files;
    files.MakeFolder("out");
    const std::string path = "out/" + std::string(kSoundIndexFile);
    std::size_t fingerprinted = 0;
    SoundIndex index;
    index.Update(Sounds({"aaaa", "bb"}, fingerprinted), [](const SoundError&) {});
    const std::vector<std::byte> whole = index.Bytes();
    ASSERT_TRUE(SoundIndex::Parse(whole));

    for (std::size_t length = 0; length < whole.size(); ++length) {
        EXPECT_FALSE(SoundIndex::Parse(std::span(whole).first(length))) << "cut to " << length;
    }
    for (std::size_t at = 0; at < whole.size(); ++at) {
        std::vector<std::byte> flipped = whole;
        flipped[at] ^= std::byte{0x10};
        EXPECT_FALSE(SoundIndex::Parse(flipped)) << "byte " << at;
    }
    // Counts past the bytes, with a right sum: refused before anything is
    // made for them. The count of sounds lies after the magic and version;
    // the first sound's landmark count after its hash "aaaa".
    for (const std::size_t at : {std::size_t{12}, std::size_t{20 + 1 + 4}}) {
        std::vector<std::byte> counted = whole;
        for (std::size_t i = 0; i < 8; ++i) {
            counted[at + i] = std::byte{0x7F};
        }
        EXPECT_FALSE(SoundIndex::Parse(Resealed(counted))) << "count at " << at;
    }
    ASSERT_TRUE(SoundIndex::Parse(Resealed(whole)));

    // A file that is no index: a WAV, under the index's name.
    files.SetOutput(path, testing::EncodeSound(0x010000 | 0x0002, 1, 8000, std::vector<float>(4000, 0.25F)));
    SoundIndex loaded;
    loaded.Put("stale", {});
    EXPECT_EQ(SoundIndex::Load(files, path, loaded), SoundIndex::Loaded::kDamaged);
    EXPECT_EQ(loaded.size(), 0U);
    fingerprinted = 0;
    EXPECT_EQ(loaded.Update(Sounds({"aaaa", "bb"}, fingerprinted), [](const SoundError&) {}), 2U);
    loaded.Save(files, path);
    EXPECT_EQ(SoundIndex::Load(files, path, loaded), SoundIndex::Loaded::kRead);
    EXPECT_EQ(loaded.Bytes(), whole);
}

}  // namespace
}  // namespace quorvel::audio
