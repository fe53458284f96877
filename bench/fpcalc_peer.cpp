#include "fpcalc_peer.hpp"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace quorvel::bench {

bool FpcalcAvailable()
{
    return std::system("fpcalc -version >/dev/null 2>&1") == 0;
}

void WriteWav(const std::string& path, const std::vector<float>& mono, int rate)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
    if (out == nullptr) {
        std::fprintf(stderr, "quorvel-find-bench: cannot write the WAV file %s: %s (is the temporary folder full?)\n",
                     path.c_str(), sf_strerror(nullptr));
        std::exit(1);
    }
    sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    sf_write_float(out, mono.data(), static_cast<sf_count_t>(mono.size()));
    sf_close(out);
}

namespace {

RawFingerprint ParseWords(std::string_view list)
{
    RawFingerprint words;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string word(list.substr(0, comma));
        words.push_back(static_cast<std::uint32_t>(std::strtoull(word.c_str(), nullptr, 10)));
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    }
    return words;
}

}  // namespace

std::optional<RawFingerprint> FpcalcFingerprint(const std::string& wav_path)
{
    // Its exit status is not to be trusted: it reports the end of a WAV
    // file as a decoding error and still prints the fingerprint.
    const std::string command = "fpcalc -raw -length 0 '" + wav_path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        std::perror("quorvel-find-bench: popen fpcalc");
        std::exit(1);
    }
    std::string output;
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) {
        output.append(buffer, got);
    }
    pclose(pipe);
    constexpr std::string_view kKey = "FINGERPRINT=";
    const std::size_t at = output.find(kKey);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t begin = at + kKey.size();
    const std::size_t end = output.find('\n', begin);
    RawFingerprint words = ParseWords(std::string_view(output).substr(begin, end - begin));
    if (words.empty()) {
        return std::nullopt;
    }
    return words;
}

PeerMatch BestOffset(const RawFingerprint& clip, const RawFingerprint& sound)
{
    PeerMatch best;
    if (clip.empty() || sound.empty()) {
        return best;
    }
    const bool clip_shorter = clip.size() <= sound.size();
    const RawFingerprint& inner = clip_shorter ? clip : sound;
    const RawFingerprint& outer = clip_shorter ? sound : clip;
    const std::size_t bits_compared = inner.size() * 32;
    for (std::size_t shift = 0; shift + inner.size() <= outer.size(); ++shift) {
        std::size_t bits_wrong = 0;
        for (std::size_t i = 0; i < inner.size(); ++i) {
            bits_wrong += static_cast<std::size_t>(std::popcount(inner[i] ^ outer[shift + i]));
        }
        const double rate = static_cast<double>(bits_wrong) / static_cast<double>(bits_compared);
        if (rate < best.error_rate) {
            best.error_rate = rate;
            best.offset = clip_shorter ? static_cast<int>(shift) : -static_cast<int>(shift);
        }
    }
    return best;
}

FpcalcPeer::FpcalcPeer()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-fpcalc-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("quorvel-find-bench: mkdtemp for fpcalc's WAV files");
        std::exit(1);
    }
    folder_ = pattern;
}

FpcalcPeer::~FpcalcPeer()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::optional<RawFingerprint> FpcalcPeer::Fingerprint(const std::vector<float>& mono, int rate)
{
    const std::string path = (folder_ / "sound.wav").string();
    WriteWav(path, mono, rate);
    return FpcalcFingerprint(path);
}

void FpcalcPeer::AddSound(const std::vector<float>& mono, int rate)
{
    sounds_.push_back(Fingerprint(mono, rate));
}

PeerAnswer FpcalcPeer::Find(const std::vector<float>& clip, int rate)
{
    const std::optional<RawFingerprint> words = Fingerprint(clip, rate);
    PeerAnswer answer{.fingerprinted = words.has_value(), .sound = std::nullopt};
    if (!words) {
        return answer;
    }
    double lowest = kPeerMatchThreshold;
    for (std::size_t i = 0; i < sounds_.size(); ++i) {
        if (!sounds_[i]) {
            continue;
        }
        const PeerMatch match = BestOffset(*words, *sounds_[i]);
        if (match.error_rate < lowest) {
            lowest = match.error_rate;
            answer.sound = i;
            answer.seconds = std::max(0, match.offset) * kPeerWordSeconds;
        }
    }
    return answer;
}

}  // namespace quorvel::bench
