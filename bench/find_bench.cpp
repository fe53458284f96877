// Finding a sound by ear, measured on a generated game (bench/find.sh):
// clips of 1, 2 and 5 s cut at random from its sounds, degraded as a
// recording would be, looked up among all its sounds. Prints a Markdown
// report: how often the right sound comes first, the error of the place
// given, the matches found for clips of sounds that are not in the game,
// the fingerprinting speed and the search time in an index of 10 hours.
// Beside each row, when fpcalc is installed: how many of the same clips it
// gives a fingerprint for, and how many it finds first (fpcalc_peer.hpp).
//
//     quorvel-find-bench GAME_FOLDER [CLIPS_PER_ROW]

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/game_reader.hpp"
#include "app/listed_file_input.hpp"
#include "audio/fingerprint.hpp"
#include "audio/memory_input.hpp"
#include "audio/resampler.hpp"
#include "audio/sound_search.hpp"
#include "audio/stored_sound.hpp"
#include "audio/tests/sound_kit.hpp"
#include "fpcalc_peer.hpp"
#include "platform/posix_file_system.hpp"
#include "testing/prng.hpp"

namespace {

using namespace quorvel;
using Clock = std::chrono::steady_clock;

struct Sound {
    int rate = 0;
    std::vector<float> mono;
};

double CpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

Sound DecodeMono(audio::SoundDecoder& decoder)
{
    Sound sound{decoder.sample_rate(), {}};
    const auto channels = static_cast<std::size_t>(decoder.channels());
    std::vector<float> piece(4096 * channels);
    while (const std::size_t got = decoder.Read(piece)) {
        for (std::size_t i = 0; i < got; ++i) {
            float sum = 0;
            for (std::size_t c = 0; c < channels; ++c) {
                sum += piece[i * channels + c];
            }
            sound.mono.push_back(sum / static_cast<float>(channels));
        }
    }
    return sound;
}

std::vector<audio::Landmark> Fingerprint(const std::vector<float>& mono, int rate)
{
    audio::Fingerprinter fingerprinter(rate, 1);
    fingerprinter.Add(mono);
    return fingerprinter.Finish();
}

double Power(const std::vector<float>& samples)
{
    double sum = 0;
    for (const float s : samples) {
        sum += static_cast<double>(s) * s;
    }
    return samples.empty() ? 0 : sum / static_cast<double>(samples.size());
}

void AddWhiteNoise(std::vector<float>& clip, double snr_db, testing::SplitMix64& random)
{
    const double width = std::sqrt(12 * Power(clip) / std::pow(10, snr_db / 10));
    for (float& s : clip) {
        s += static_cast<float>((static_cast<double>(random.Next() >> 11) / 9007199254740992.0 - 0.5) * width);
    }
}

std::vector<float> Resample(const std::vector<float>& clip, int from, int to)
{
    audio::Resampler resampler(from, to, 1);
    std::vector<float> out;
    resampler.Process(clip, out);
    resampler.Finish(out);
    return out;
}

// Through libsndfile's MP3 encoder at a constant 64 kbit/s, and back.
std::vector<float> ThroughMp3(const std::vector<float>& clip, int rate)
{
    char path[] = "/tmp/quorvel-find-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        std::perror("mkstemp");
        std::exit(1);
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SNDFILE* out = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    int mode = SF_BITRATE_MODE_CONSTANT;
    sf_command(out, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    // libsndfile maps 0 to 320 kbit/s and 1 to 32 kbit/s (8 at the lowest rates), linearly.
    double level = (320.0 - 64.0) / (320.0 - 32.0);
    sf_command(out, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    sf_write_float(out, clip.data(), static_cast<sf_count_t>(clip.size()));
    sf_close(out);
    SF_INFO back_info{};
    SNDFILE* in = sf_open(path, SFM_READ, &back_info);
    std::vector<float> back(static_cast<std::size_t>(back_info.frames * back_info.channels));
    sf_read_float(in, back.data(), static_cast<sf_count_t>(back.size()));
    sf_close(in);
    std::remove(path);
    return back;
}

struct Condition {
    std::string name;
    std::function<std::vector<float>(std::vector<float>, int, int&, testing::SplitMix64&)> degrade;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorvel-find-bench GAME_FOLDER [CLIPS_PER_ROW]\n");
        return 2;
    }
    const int clips_per_row = argc > 2 ? std::atoi(argv[2]) : 40;
    PosixFileSystem files;
    const GameReader game = GameReader::Open(files, Places{.game_folder = argv[1], .output_folder = {}}, true);

    // Every sound fingerprinted as --find does it, from its stored bytes.
    audio::SoundSearch search;
    std::optional<bench::FpcalcPeer> peer;
    if (bench::FpcalcAvailable()) {
        peer.emplace();
    }
    std::vector<Sound> sounds;
    std::vector<std::size_t> landmark_counts;
    double seconds_of_sound = 0;
    double fingerprint_cpu = 0;
    std::size_t landmarks_total = 0;
    for (const ListedFile& file : game.Files()) {
        if (file.kind != EntryKind::kSound) {
            continue;
        }
        ListedFileInput input(game, file);
        try {
            audio::SoundDecoder decoder = audio::OpenSound(input, file.path);
            const double start = CpuSeconds();
            const std::vector<audio::Landmark> landmarks = audio::FingerprintSound(decoder);
            fingerprint_cpu += CpuSeconds() - start;
            ListedFileInput again(game, file);
            audio::SoundDecoder second = audio::OpenSound(again, file.path);
            sounds.push_back(DecodeMono(second));
            seconds_of_sound += static_cast<double>(sounds.back().mono.size()) / sounds.back().rate;
            search.Add(static_cast<std::uint32_t>(sounds.size() - 1), landmarks);
            if (peer) {
                peer->AddSound(sounds.back().mono, sounds.back().rate);
            }
            landmarks_total += landmarks.size();
        } catch (const audio::SoundError&) {
        }
    }

    const std::vector<Condition> conditions = {
        {"clean", [](std::vector<float> c, int, int&, testing::SplitMix64&) { return c; }},
        {"white noise, 10 dB SNR",
         [](std::vector<float> c, int, int&, testing::SplitMix64& r) { return AddWhiteNoise(c, 10, r), c; }},
        {"white noise, 5 dB SNR",
         [](std::vector<float> c, int, int&, testing::SplitMix64& r) { return AddWhiteNoise(c, 5, r), c; }},
        {"white noise, 0 dB SNR",
         [](std::vector<float> c, int, int&, testing::SplitMix64& r) { return AddWhiteNoise(c, 0, r), c; }},
        {"another sound under it, 5 dB SNR",
         [](std::vector<float> c, int rate, int&, testing::SplitMix64& r) {
             std::vector<float> other = audio::testing::MakeTune(1, rate, static_cast<std::int64_t>(c.size()),
                                                                 static_cast<std::uint32_t>(r.Next()));
             const double scale = std::sqrt(Power(c) / std::pow(10, 0.5) / std::max(Power(other), 1e-12));
             for (std::size_t i = 0; i < c.size(); ++i) {
                 c[i] += static_cast<float>(other[i] * scale);
             }
             return c;
         }},
        {"MP3, 64 kbit/s",
         [](std::vector<float> c, int rate, int&, testing::SplitMix64&) { return ThroughMp3(c, rate); }},
        {"16 kHz",
         [](std::vector<float> c, int rate, int& out_rate, testing::SplitMix64&) {
             out_rate = 16000;
             return Resample(c, rate, 16000);
         }},
        {"+12 dB (clipped)",
         [](std::vector<float> c, int, int&, testing::SplitMix64&) {
             for (float& s : c) {
                 s = std::clamp(s * 3.98F, -1.0F, 1.0F);
             }
             return c;
         }},
        {"-12 dB",
         [](std::vector<float> c, int, int&, testing::SplitMix64&) {
             for (float& s : c) {
                 s *= 0.251F;
             }
             return c;
         }},
    };

    std::printf("# Finding a sound by ear\n\n");
    std::printf("Game: %zu sounds, %.0f s of sound, %zu landmarks (%.0f a second).\n\n", sounds.size(),
                seconds_of_sound, landmarks_total, static_cast<double>(landmarks_total) / seconds_of_sound);
    std::printf("Fingerprinting (decode, mix, resample, spectrum, peaks, pairs): %.0f x real time on one core.\n\n",
                seconds_of_sound / fingerprint_cpu);
    if (peer) {
        std::printf(
            "fpcalc: `fpcalc -raw -length 0` on each clip and each sound, written as 16-bit WAV files. A "
            "clip's answer is the sound whose fingerprint differs from the clip's in the fewest bits at the "
            "best offset (the shorter slid wholly within the longer), if under %.0f %% of the bits compared; "
            "a clip it gives no fingerprint for finds nothing.\n\n",
            bench::kPeerMatchThreshold * 100);
    } else {
        std::printf(
            "fpcalc is not installed (Debian: apt-get install libchromaprint-tools): its columns are empty.\n\n");
    }
    std::printf(
        "| clip | degradation | found first | in the list | place within 50 ms | error median | search "
        "| fpcalc: fingerprint | fpcalc: found first |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
    testing::SplitMix64 random(2026);
    for (const int clip_seconds : {1, 2, 5}) {
        std::vector<std::size_t> long_enough;
        for (std::size_t i = 0; i < sounds.size(); ++i) {
            if (sounds[i].mono.size() >= static_cast<std::size_t>((clip_seconds + 0.5) * sounds[i].rate)) {
                long_enough.push_back(i);
            }
        }
        if (long_enough.empty()) {
            continue;
        }
        for (const Condition& condition : conditions) {
            int found_first = 0;
            int listed = 0;
            std::vector<double> errors;
            double search_seconds = 0;
            int peer_fingerprinted = 0;
            int peer_found_first = 0;
            for (int n = 0; n < clips_per_row; ++n) {
                const std::size_t which = long_enough[random.Between(0, long_enough.size() - 1)];
                const Sound& sound = sounds[which];
                const auto frames = static_cast<std::size_t>(clip_seconds * sound.rate);
                const std::size_t start = random.Between(0, sound.mono.size() - frames);
                std::vector<float> clip(sound.mono.begin() + static_cast<std::ptrdiff_t>(start),
                                        sound.mono.begin() + static_cast<std::ptrdiff_t>(start + frames));
                int rate = sound.rate;
                clip = condition.degrade(std::move(clip), sound.rate, rate, random);
                const std::vector<audio::Landmark> landmarks = Fingerprint(clip, rate);
                const auto began = Clock::now();
                const std::vector<audio::SoundMatch> found = search.Find(landmarks, 10);
                search_seconds += std::chrono::duration<double>(Clock::now() - began).count();
                listed += std::any_of(found.begin(), found.end(),
                                      [which](const audio::SoundMatch& m) { return m.sound == which; })
                              ? 1
                              : 0;
                if (!found.empty() && found[0].sound == which) {
                    ++found_first;
                    errors.push_back(std::abs(found[0].seconds - static_cast<double>(start) / sound.rate));
                }
                if (peer) {
                    const bench::PeerAnswer answer = peer->Find(clip, rate);
                    peer_fingerprinted += answer.fingerprinted ? 1 : 0;
                    peer_found_first += answer.sound == which ? 1 : 0;
                }
            }
            std::sort(errors.begin(), errors.end());
            const auto within = std::count_if(errors.begin(), errors.end(), [](double e) { return e <= 0.05; });
            std::printf("| %d s | %s | %d / %d | %d | %td of %zu | %.0f ms | %.2f ms | %s | %s |\n", clip_seconds,
                        condition.name.c_str(), found_first, clips_per_row, listed, within, errors.size(),
                        errors.empty() ? 0.0 : errors[errors.size() / 2] * 1000, search_seconds / clips_per_row * 1000,
                        peer ? std::to_string(peer_fingerprinted).c_str() : "",
                        peer ? std::to_string(peer_found_first).c_str() : "");
        }
    }

    // Clips of sounds that are not in the game: any match is a false one.
    int false_matches = 0;
    int peer_fingerprinted = 0;
    int peer_false_matches = 0;
    const int strangers = clips_per_row * 5;
    for (int n = 0; n < strangers; ++n) {
        const int seconds = n % 3 == 0 ? 1 : n % 3 == 1 ? 2 : 5;
        std::vector<float> clip = n % 2 == 0
                                      ? audio::testing::MakeTune(1, 22050, std::int64_t{22050} * seconds, 100000 + n)
                                      : std::vector<float>(static_cast<std::size_t>(22050 * seconds), 0.0F);
        if (n % 2 == 1) {
            AddWhiteNoise(clip, 0, random);
            for (float& s : clip) {
                s += static_cast<float>((static_cast<double>(random.Next() >> 11) / 9007199254740992.0 - 0.5) * 0.3);
            }
        }
        false_matches += search.Find(Fingerprint(clip, 22050), 10).empty() ? 0 : 1;
        if (peer) {
            const bench::PeerAnswer answer = peer->Find(clip, 22050);
            peer_fingerprinted += answer.fingerprinted ? 1 : 0;
            peer_false_matches += answer.sound ? 1 : 0;
        }
    }
    std::printf("\nClips of sounds not in the game (tunes and white noise, 1 to 5 s): %d of %d matched something",
                false_matches, strangers);
    if (peer) {
        std::printf(" (fpcalc: %d of the %d it gave a fingerprint for)", peer_false_matches, peer_fingerprinted);
    }
    std::printf(".\n");

    // The same search in an index of 10 hours: the game's landmarks, and
    // random ones at the same rate for the rest.
    const double ten_hours = 36000;
    const auto extra = static_cast<std::size_t>((ten_hours - seconds_of_sound) * landmarks_total / seconds_of_sound);
    std::vector<audio::Landmark> filler;
    const std::size_t per_sound = 600000;  // about an hour's worth of one sound each
    std::uint32_t next_sound = static_cast<std::uint32_t>(sounds.size());
    for (std::size_t added = 0; added < extra; added += per_sound) {
        filler.clear();
        for (std::size_t i = 0; i < std::min(per_sound, extra - added); ++i) {
            filler.push_back(
                {static_cast<std::uint32_t>(random.Next() & 0xFFFFFF), static_cast<std::uint32_t>(i / 60)});
        }
        search.Add(next_sound++, filler);
    }
    double search_seconds = 0;
    int found_first = 0;
    for (int n = 0; n < clips_per_row; ++n) {
        const std::size_t which = random.Between(0, sounds.size() - 1);
        const Sound& sound = sounds[which];
        const auto frames = std::min(sound.mono.size(), static_cast<std::size_t>(2 * sound.rate));
        const std::size_t start = random.Between(0, sound.mono.size() - frames);
        std::vector<float> clip(sound.mono.begin() + static_cast<std::ptrdiff_t>(start),
                                sound.mono.begin() + static_cast<std::ptrdiff_t>(start + frames));
        AddWhiteNoise(clip, 5, random);
        const std::vector<audio::Landmark> landmarks = Fingerprint(clip, sound.rate);
        const auto began = Clock::now();
        const std::vector<audio::SoundMatch> found = search.Find(landmarks, 10);
        search_seconds += std::chrono::duration<double>(Clock::now() - began).count();
        found_first += !found.empty() && found[0].sound == which ? 1 : 0;
    }
    std::printf(
        "\nIn an index of 10 hours (%zu landmarks): a clip of up to 2 s under white noise at 5 dB SNR is "
        "looked up in %.2f ms on average, and %d of %d come first.\n",
        search.size(), search_seconds / clips_per_row * 1000, found_first, clips_per_row);
    return 0;
}
