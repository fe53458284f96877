// Finding a sound by ear, measured on a generated game (bench/find.sh):
// clips of 1, 2 and 5 s cut at random from its sounds, and whole sounds of
// 0.2 to 0.5 s, degraded as a recording would be, looked up among all its
// sounds. Prints a Markdown report: how often a right answer comes first
// (the clip's own sound, or one that holds the same samples there), the
// error of the place given, the matches found for clips of sounds that are
// not in the game, the fingerprinting speed and the search time in an
// index of 10 hours. Beside each row, when fpcalc is installed: how many of
// the same clips it gives a fingerprint for, and how many it answers right
// first (fpcalc_peer.hpp).
//
//     quorvel-find-bench [--misses] [--no-peer] GAME_FOLDER [CLIPS_PER_ROW [SEED]]
//
// --misses: every clip not answered right first, and every stranger that
// matched, is told on standard error, with what was answered, to see what
// the fingerprint misses when tuning it. --no-peer: fpcalc is left out
// (its columns empty), which makes a tuning run several times faster.

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
    std::string path;  // as listed, for --misses
    int sf_format = 0;
};

// The sample game writes its float sounds at 32-bit integer scale (about
// 2^31 for full scale): a player would clip them to a square wave, which is
// not what the sound is. Their clips are cut at the scale meant, so that
// +12 dB and MP3 treat them as they treat every other sound; the index
// holds them as stored (the fingerprint does not depend on the scale).
void BringToFullScale(std::vector<float>& mono)
{
    const float peak = mono.empty() ? 0.0F : *std::max_element(mono.begin(), mono.end(), [](float a, float b) {
        return std::abs(a) < std::abs(b);
    });
    if (std::abs(peak) > 1.5F) {
        for (float& s : mono) {
            s = static_cast<float>(s / 2147483648.0);
        }
    }
}

double CpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

Sound DecodeMono(audio::SoundDecoder& decoder)
{
    Sound sound{.rate = decoder.sample_rate(), .mono = {}, .path = decoder.name(), .sf_format = decoder.sf_format()};
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

// A little reverberation, as of a small room: the direct sound and 60
// reflections at random delays up to 0.3 s, of random sign, their level
// falling by 60 dB over 0.3 s (RT60 0.3 s); the reflections together carry
// half the direct sound's energy (3 dB under it).
std::vector<float> AddReverberation(const std::vector<float>& clip, int rate, testing::SplitMix64& random)
{
    constexpr int kReflections = 60;
    constexpr double kRt60 = 0.3;
    std::vector<std::pair<std::size_t, double>> taps;
    double energy = 0;
    for (int i = 0; i < kReflections; ++i) {
        const double delay = 0.005 + (kRt60 - 0.005) * static_cast<double>(random.Next() >> 11) / 9007199254740992.0;
        const double gain = std::pow(10, -3 * delay / kRt60) * (random.Next() & 1 ? 1 : -1);
        taps.emplace_back(static_cast<std::size_t>(delay * rate), gain);
        energy += gain * gain;
    }
    const double scale = std::sqrt(0.5 / energy);
    std::vector<float> out = clip;
    for (const auto& [delay, gain] : taps) {
        for (std::size_t i = delay; i < out.size(); ++i) {
            out[i] += static_cast<float>(clip[i - delay] * gain * scale);
        }
    }
    return out;
}

// Another sound (a tune) under the clip, `snr_db` below it.
std::vector<float> AddAnotherSound(std::vector<float> clip, int rate, double snr_db, testing::SplitMix64& random)
{
    const std::vector<float> other = audio::testing::MakeTune(1, rate, static_cast<std::int64_t>(clip.size()),
                                                              static_cast<std::uint32_t>(random.Next()));
    const double scale = std::sqrt(Power(clip) / std::pow(10, snr_db / 10) / std::max(Power(other), 1e-12));
    for (std::size_t i = 0; i < clip.size(); ++i) {
        clip[i] += static_cast<float>(other[i] * scale);
    }
    return clip;
}

struct Condition {
    std::string name;
    std::function<std::vector<float>(std::vector<float>, int, int&, testing::SplitMix64&)> degrade;
};

std::vector<Condition> Conditions()
{
    std::vector<Condition> conditions = {
        {"clean", [](std::vector<float> c, int, int&, testing::SplitMix64&) { return c; }}};
    for (const int snr : {10, 5, 0}) {
        conditions.push_back({"white noise, " + std::to_string(snr) + " dB SNR",
                              [snr](std::vector<float> c, int, int&, testing::SplitMix64& r) {
                                  AddWhiteNoise(c, snr, r);
                                  return c;
                              }});
    }
    for (const int snr : {10, 5, 0}) {
        conditions.push_back({"another sound under it, " + std::to_string(snr) + " dB SNR",
                              [snr](std::vector<float> c, int rate, int&, testing::SplitMix64& r) {
                                  return AddAnotherSound(std::move(c), rate, snr, r);
                              }});
    }
    // At 44.1 kHz, as a recording is made (LAME fails an assertion on some
    // short clips at 11025 Hz).
    conditions.push_back({"MP3, 64 kbit/s", [](std::vector<float> c, int rate, int& out_rate, testing::SplitMix64&) {
                              out_rate = 44100;
                              return ThroughMp3(Resample(c, rate, 44100), 44100);
                          }});
    conditions.push_back({"16 kHz", [](std::vector<float> c, int rate, int& out_rate, testing::SplitMix64&) {
                              out_rate = 16000;
                              return Resample(c, rate, 16000);
                          }});
    conditions.push_back({"+12 dB (clipped)", [](std::vector<float> c, int, int&, testing::SplitMix64&) {
                              for (float& s : c) {
                                  s = std::clamp(s * 3.98F, -1.0F, 1.0F);
                              }
                              return c;
                          }});
    conditions.push_back({"-12 dB", [](std::vector<float> c, int, int&, testing::SplitMix64&) {
                              for (float& s : c) {
                                  s *= 0.251F;
                              }
                              return c;
                          }});
    conditions.push_back({"a little reverberation", [](std::vector<float> c, int rate, int&, testing::SplitMix64& r) {
                              return AddReverberation(c, rate, r);
                          }});
    return conditions;
}

// Clips are compared at the fingerprint's rate: what lies above 5.5 kHz
// does not decide whether two stretches are the same sound.
constexpr int kCompareRate = audio::kFingerprintRate;

// How well `b`, from `b_origin + lag` on, repeats `a`: the lag in
// [-max_lag, max_lag] of the highest normalised correlation over the part
// of `a` that `b` covers (at least nine tenths of it). Of lags nearly as
// good, the smallest wins: a steady tone repeats at every period.
struct Alignment {
    long lag = 0;
    double correlation = 0;
};

Alignment Align(const std::vector<float>& a, const std::vector<float>& b, long b_origin, long max_lag)
{
    std::vector<std::pair<long, double>> tried;
    double best = -1;
    for (long lag = -max_lag; lag <= max_lag; ++lag) {
        const long first = std::max(0L, -(b_origin + lag));
        const long last = std::min(static_cast<long>(a.size()), static_cast<long>(b.size()) - (b_origin + lag));
        if (last - first < static_cast<long>(a.size()) * 9 / 10 || last <= first) {
            continue;
        }
        double ab = 0;
        double aa = 0;
        double bb = 0;
        for (long i = first; i < last; ++i) {
            const double x = a[static_cast<std::size_t>(i)];
            const double y = b[static_cast<std::size_t>(b_origin + lag + i)];
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        const double correlation = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
        tried.emplace_back(lag, correlation);
        best = std::max(best, correlation);
    }
    Alignment chosen{0, -1};
    for (const auto& [lag, correlation] : tried) {
        if (correlation >= best - 0.002 && (chosen.correlation < 0 || std::abs(lag) < std::abs(chosen.lag))) {
            chosen = {lag, correlation};
        }
    }
    return chosen;
}

// The seconds by which the degraded clip lags the clean one (an MP3
// encoder's delay, say), found by cross-correlation within 100 ms.
double DegradedLag(const std::vector<float>& clean, int clean_rate, const std::vector<float>& degraded,
                   int degraded_rate)
{
    const std::vector<float> a_whole = Resample(clean, clean_rate, kCompareRate);
    const std::vector<float> b = Resample(degraded, degraded_rate, kCompareRate);
    const long margin = std::min<long>(kCompareRate / 10, static_cast<long>(a_whole.size()) / 3);
    const long length = std::min<long>(kCompareRate, static_cast<long>(a_whole.size()) - 2 * margin);
    if (length <= 0) {
        return 0;
    }
    const long origin = (static_cast<long>(a_whole.size()) - length) / 2;
    const std::vector<float> a(a_whole.begin() + origin, a_whole.begin() + origin + length);
    return static_cast<double>(Align(a, b, origin, margin).lag) / kCompareRate;
}

// Whether `sound` holds the clean clip within `window` seconds of
// `seconds`: a normalised correlation of 0.98 or more. The lag, if so.
std::optional<double> SameAudioNear(const std::vector<float>& clean, int clean_rate, const Sound& sound, double seconds,
                                    double window)
{
    const double from = std::max(0.0, seconds - window - 0.01);
    const double clip_seconds = static_cast<double>(clean.size()) / clean_rate;
    const auto first = static_cast<std::size_t>(from * sound.rate);
    const auto last =
        std::min(sound.mono.size(), static_cast<std::size_t>((seconds + clip_seconds + window + 0.01) * sound.rate));
    if (first >= last) {
        return std::nullopt;
    }
    const std::vector<float> a = Resample(clean, clean_rate, kCompareRate);
    const std::vector<float> b = Resample(std::vector<float>(sound.mono.begin() + static_cast<std::ptrdiff_t>(first),
                                                             sound.mono.begin() + static_cast<std::ptrdiff_t>(last)),
                                          sound.rate, kCompareRate);
    const auto origin = std::lround((seconds - from) * kCompareRate);
    const Alignment found = Align(a, b, origin, std::lround(window * kCompareRate));
    if (found.correlation < 0.98) {
        return std::nullopt;
    }
    return static_cast<double>(found.lag) / kCompareRate;
}

// How an answer is judged: right when it is the clip's own sound, or any
// sound that holds the clip's clean audio within `window` of the place
// given. The error is the distance to where the clip was cut, or to where
// the answer holds its audio when that is nearer than `window`.
struct Verdict {
    bool right = false;
    bool by_same_audio = false;  // another sound, or its own at another place
    double error = 0;
};

constexpr double kPlaceTolerance = 0.05;

// `true_seconds`: where the degraded clip starts in its sound; `lag`: the
// seconds it lags the clean clip, which are added back to find the clean
// clip in the answered sound.
Verdict Judge(const std::vector<Sound>& sounds, std::size_t which, double true_seconds, double lag_seconds,
              const std::vector<float>& clean, std::size_t answer, double seconds, double window)
{
    if (answer == which && std::abs(seconds - true_seconds) <= window) {
        return {true, false, std::abs(seconds - true_seconds)};
    }
    const std::optional<double> lag =
        SameAudioNear(clean, sounds[which].rate, sounds[answer], seconds + lag_seconds, window);
    if (lag) {
        return {true, true, std::abs(*lag)};
    }
    if (answer == which) {
        return {true, false, std::abs(seconds - true_seconds)};  // its own sound, but the place is wrong
    }
    return {};
}

}  // namespace

namespace {

// One row's tally.
struct Row {
    int clips = 0;
    int right_first = 0;
    int by_same_audio = 0;
    int listed = 0;
    std::vector<double> errors;
    double search_seconds = 0;
    int peer_fingerprinted = 0;
    int peer_right_first = 0;
};

// The first three answers, for --misses.
std::string Answered(const std::vector<audio::SoundMatch>& found)
{
    if (found.empty()) {
        return "nothing";
    }
    std::string answered;
    for (std::size_t i = 0; i < std::min<std::size_t>(found.size(), 3); ++i) {
        char text[96];
        std::snprintf(text, sizeof text, "%ssound %u at %.3f s, score %u", i == 0 ? "" : "; then ", found[i].sound,
                      found[i].seconds, found[i].score);
        answered += text;
    }
    return answered;
}

struct Bench {
    std::vector<Sound> sounds;
    audio::SoundSearch search;
    std::optional<bench::FpcalcPeer> peer;
    testing::SplitMix64 random{0};
    bool tell_misses = false;

    // A clip of `frames` from `start` of sound `which`, degraded, looked up
    // and judged.
    void Run(Row& row, const std::string& row_name, std::size_t which, std::size_t start, std::size_t frames,
             const Condition& condition)
    {
        const Sound& sound = sounds[which];
        const std::vector<float> clean(sound.mono.begin() + static_cast<std::ptrdiff_t>(start),
                                       sound.mono.begin() + static_cast<std::ptrdiff_t>(start + frames));
        int rate = sound.rate;
        const std::vector<float> clip = condition.degrade(clean, sound.rate, rate, random);
        const std::vector<audio::Landmark> landmarks = Fingerprint(clip, rate);
        const auto began = Clock::now();
        const std::vector<audio::SoundMatch> found = search.Find(landmarks, 10);
        row.search_seconds += std::chrono::duration<double>(Clock::now() - began).count();
        ++row.clips;
        const double lag = DegradedLag(clean, sound.rate, clip, rate);
        const double true_seconds = std::max(0.0, static_cast<double>(start) / sound.rate - lag);
        std::optional<Verdict> first;
        if (!found.empty()) {
            first = Judge(sounds, which, true_seconds, lag, clean, found[0].sound, found[0].seconds, kPlaceTolerance);
            if (first->right) {
                ++row.right_first;
                row.by_same_audio += first->by_same_audio ? 1 : 0;
                row.errors.push_back(first->error);
            }
        }
        const bool own_listed =
            std::any_of(found.begin(), found.end(), [which](const audio::SoundMatch& m) { return m.sound == which; });
        row.listed += own_listed || (first && first->right) ? 1 : 0;
        if (tell_misses && !(first && first->right)) {
            std::fprintf(stderr,
                         "miss: %s, %s: sound %zu (%s, format %#x, %d Hz, %.1f s) from %.2f s, %zu landmarks; "
                         "answered %s\n",
                         row_name.c_str(), condition.name.c_str(), which, sound.path.c_str(), sound.sf_format,
                         sound.rate, static_cast<double>(sound.mono.size()) / sound.rate,
                         static_cast<double>(start) / sound.rate, landmarks.size(), Answered(found).c_str());
        }
        if (peer) {
            const bench::PeerAnswer answer = peer->Find(clip, rate);
            row.peer_fingerprinted += answer.fingerprinted ? 1 : 0;
            // Its place is known to a word (0.124 s) only: any place within 0.2 s.
            row.peer_right_first +=
                answer.sound &&
                        (*answer.sound == which ||
                         Judge(sounds, which, true_seconds, lag, clean, *answer.sound, answer.seconds, 0.2).right)
                    ? 1
                    : 0;
        }
    }
};

void PrintRow(const std::string& clip, const std::string& condition, Row& row, bool peer)
{
    std::sort(row.errors.begin(), row.errors.end());
    const auto within =
        std::count_if(row.errors.begin(), row.errors.end(), [](double e) { return e <= kPlaceTolerance; });
    std::printf("| %s | %s | %d / %d | %d | %d | %td of %zu | %.0f ms | %.2f ms | %s | %s |\n", clip.c_str(),
                condition.c_str(), row.right_first, row.clips, row.by_same_audio, row.listed, within, row.errors.size(),
                row.errors.empty() ? 0.0 : row.errors[row.errors.size() / 2] * 1000,
                row.clips > 0 ? row.search_seconds / row.clips * 1000 : 0.0,
                peer ? std::to_string(row.peer_fingerprinted).c_str() : "",
                peer ? std::to_string(row.peer_right_first).c_str() : "");
}

double Uniform(testing::SplitMix64& random)
{
    return static_cast<double>(random.Next() >> 11) / 9007199254740992.0;
}

}  // namespace

int main(int argc, char** argv)
{
    bool tell_misses = false;
    bool without_peer = false;
    for (; argc > 1 && argv[1][0] == '-'; --argc, ++argv) {
        const std::string option = argv[1];
        if (option == "--misses") {
            tell_misses = true;
        } else if (option == "--no-peer") {
            without_peer = true;
        } else {
            std::fprintf(stderr, "quorvel-find-bench: unknown option '%s'\n", option.c_str());
            return 2;
        }
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorvel-find-bench [--misses] [--no-peer] GAME_FOLDER [CLIPS_PER_ROW [SEED]]\n");
        return 2;
    }
    const int clips_per_row = argc > 2 ? std::atoi(argv[2]) : 40;
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 2026;
    PosixFileSystem files;
    const GameReader game = GameReader::Open(files, Places{.game_folder = argv[1], .output_folder = {}}, true);

    // Every sound fingerprinted as --find does it, from its stored bytes.
    Bench bench;
    bench.random = testing::SplitMix64(seed);
    bench.tell_misses = tell_misses;
    if (!without_peer && bench::FpcalcAvailable()) {
        bench.peer.emplace();
    }
    std::vector<Sound>& sounds = bench.sounds;
    double seconds_of_sound = 0;
    double fingerprint_cpu = 0;
    std::size_t landmarks_total = 0;
    std::size_t line_landmarks = 0;  // pairs of a line's crossings: above the 24 bits of a pair of peaks
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
            BringToFullScale(sounds.back().mono);
            seconds_of_sound += static_cast<double>(sounds.back().mono.size()) / sounds.back().rate;
            bench.search.Add(static_cast<std::uint32_t>(sounds.size() - 1), landmarks);
            if (bench.peer) {
                bench.peer->AddSound(sounds.back().mono, sounds.back().rate);
            }
            landmarks_total += landmarks.size();
            line_landmarks += static_cast<std::size_t>(std::count_if(
                landmarks.begin(), landmarks.end(), [](const audio::Landmark& l) { return l.hash >> 24 != 0; }));
        } catch (const audio::SoundError&) {
        }
    }
    const bool peer = bench.peer.has_value();
    testing::SplitMix64& random = bench.random;
    const std::vector<Condition> conditions = Conditions();

    std::printf("# Finding a sound by ear\n\n");
    std::printf("Game: %zu sounds, %.0f s of sound, %zu landmarks (%.0f a second); clips drawn with seed %llu.\n\n",
                sounds.size(), seconds_of_sound, landmarks_total,
                static_cast<double>(landmarks_total) / seconds_of_sound, static_cast<unsigned long long>(seed));
    std::printf("Fingerprinting (decode, mix, resample, spectrum, peaks, pairs): %.0f x real time on one core.\n\n",
                seconds_of_sound / fingerprint_cpu);
    std::printf(
        "An answer is right when it is the clip's own sound, or another sound that holds the clip's clean "
        "samples within 50 ms of the place given (normalised correlation of 0.98 or more at %d Hz): many "
        "sounds of the game are the same steady tone. \"same audio\" counts the right answers that hold the "
        "clip's samples away from where it was cut (another sound, or elsewhere in its own). The place is "
        "within 50 ms when it is that near where the clip was cut or where the answer holds its samples; it "
        "is measured against where the degraded clip starts, its lag behind the clean clip (an MP3 encoder's "
        "delay) found by cross-correlation.\n\n",
        kCompareRate);
    if (peer) {
        std::printf(
            "fpcalc: `fpcalc -raw -length 0` on each clip and each sound, written as 16-bit WAV files. A "
            "clip's answer is the sound whose fingerprint differs from the clip's in the fewest bits at the "
            "best offset (the shorter slid wholly within the longer), if under %.0f %% of the bits compared; "
            "a clip it gives no fingerprint for finds nothing. It is right by the same rule, another sound's "
            "place allowed 0.2 s (it gives one to a word, 0.124 s).\n\n",
            bench::kPeerMatchThreshold * 100);
    } else {
        std::printf(
            "fpcalc is left out (--no-peer) or not installed (Debian: apt-get install libchromaprint-tools): its "
            "columns are empty.\n\n");
    }
    std::printf(
        "| clip | degradation | right first | same audio | in the list | place within 50 ms | error median | "
        "search | fpcalc: fingerprint | fpcalc: right first |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    int total_by_same_audio = 0;
    int total_right = 0;
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
            Row row;
            for (int n = 0; n < clips_per_row; ++n) {
                const std::size_t which = long_enough[random.Between(0, long_enough.size() - 1)];
                const auto frames = static_cast<std::size_t>(clip_seconds * sounds[which].rate);
                const std::size_t start = random.Between(0, sounds[which].mono.size() - frames);
                bench.Run(row, std::to_string(clip_seconds) + " s", which, start, frames, condition);
            }
            total_by_same_audio += row.by_same_audio;
            total_right += row.right_first;
            PrintRow(std::to_string(clip_seconds) + " s", condition.name, row, peer);
        }
    }
    // Whole short sounds, as a user would record a short effect.
    std::vector<std::size_t> short_sounds;
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        const double seconds = static_cast<double>(sounds[i].mono.size()) / sounds[i].rate;
        if (seconds >= 0.2 && seconds <= 0.5) {
            short_sounds.push_back(i);
        }
    }
    if (!short_sounds.empty()) {
        for (const Condition& condition : conditions) {
            Row row;
            for (int n = 0; n < clips_per_row; ++n) {
                const std::size_t which = short_sounds[random.Between(0, short_sounds.size() - 1)];
                bench.Run(row, "whole", which, 0, sounds[which].mono.size(), condition);
            }
            total_by_same_audio += row.by_same_audio;
            total_right += row.right_first;
            PrintRow("whole, 0.2-0.5 s", condition.name, row, peer);
        }
    }
    std::printf(
        "\n%d of the %d right answers are right by holding the same audio (%zu of the game's sounds last 0.2 to "
        "0.5 s).\n",
        total_by_same_audio, total_right, short_sounds.size());

    // Clips of sounds that are not in the game: any match is a false one.
    int false_matches = 0;
    int peer_fingerprinted = 0;
    int peer_false_matches = 0;
    const int strangers = clips_per_row * 5;
    for (int n = 0; n < strangers; ++n) {
        const double seconds = n % 4 == 0 ? 0.3 + 0.2 * Uniform(random) : n % 4 == 1 ? 1 : n % 4 == 2 ? 2 : 5;
        const auto frames = static_cast<std::int64_t>(22050 * seconds);
        const bool tune = (n / 4) % 2 == 0;
        std::vector<float> clip = tune ? audio::testing::MakeTune(1, 22050, frames, 100000 + n)
                                       : std::vector<float>(static_cast<std::size_t>(frames), 0.0F);
        if (!tune) {
            for (float& s : clip) {
                s = static_cast<float>((Uniform(random) - 0.5) * 0.6);
            }
        }
        const std::vector<audio::Landmark> landmarks = Fingerprint(clip, 22050);
        const std::vector<audio::SoundMatch> found = bench.search.Find(landmarks, 10);
        if (!found.empty()) {
            ++false_matches;
            if (bench.tell_misses) {
                std::fprintf(stderr, "stranger: %s of %.2f s, %zu landmarks; answered %s\n", tune ? "tune" : "noise",
                             seconds, landmarks.size(), Answered(found).c_str());
            }
        }
        if (peer) {
            const bench::PeerAnswer answer = bench.peer->Find(clip, 22050);
            peer_fingerprinted += answer.fingerprinted ? 1 : 0;
            peer_false_matches += answer.sound ? 1 : 0;
        }
    }
    std::printf(
        "\nClips of sounds not in the game (tunes and white noise of 0.3 to 0.5, 1, 2 and 5 s): %d of %d matched "
        "something",
        false_matches, strangers);
    if (peer) {
        std::printf(" (fpcalc: %d of the %d it gave a fingerprint for)", peer_false_matches, peer_fingerprinted);
    }
    std::printf(".\n");

    // The same search in an index of 10 hours: the game's landmarks, and
    // random ones at the same rate for the rest, as many of them a line's
    // as in the game (fpcalc is not asked).
    bench.peer.reset();
    const double ten_hours = 36000;
    const auto extra = static_cast<std::size_t>((ten_hours - seconds_of_sound) * landmarks_total / seconds_of_sound);
    std::vector<audio::Landmark> filler;
    const std::size_t per_sound = 600000;  // about an hour's worth of one sound each
    auto next_sound = static_cast<std::uint32_t>(sounds.size());
    // Drawn apart, so that the clips below do not change with the count.
    testing::SplitMix64 filler_random(seed + 1);
    for (std::size_t added = 0; added < extra; added += per_sound) {
        filler.clear();
        for (std::size_t i = 0; i < std::min(per_sound, extra - added); ++i) {
            const std::uint64_t bits = filler_random.Next();
            const bool line = bits % landmarks_total < line_landmarks;
            const auto hash =
                static_cast<std::uint32_t>(line ? 0x80000000U | ((bits >> 32) & 0x03FFFFFF) : (bits >> 32) & 0xFFFFFF);
            filler.push_back({hash, static_cast<std::uint32_t>(i / 60)});
        }
        bench.search.Add(next_sound++, filler);
    }
    Row row;
    for (int n = 0; n < clips_per_row; ++n) {
        const std::size_t which = random.Between(0, sounds.size() - 1);
        const auto frames = std::min(sounds[which].mono.size(), static_cast<std::size_t>(2 * sounds[which].rate));
        const std::size_t start = random.Between(0, sounds[which].mono.size() - frames);
        bench.Run(row, "10 hours, 2 s", which, start, frames, conditions[2]);
    }
    std::printf(
        "\nIn an index of 10 hours (%zu landmarks): a clip of up to 2 s under white noise at 5 dB SNR is "
        "looked up in %.2f ms on average, and %d of %d are right first.\n",
        bench.search.size(), row.search_seconds / clips_per_row * 1000, row.right_first, clips_per_row);
    return 0;
}
