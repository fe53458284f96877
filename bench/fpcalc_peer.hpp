// The peer beside quorvel-find-bench: the fingerprinting program a user
// would pick today (fpcalc, Debian package libchromaprint-tools), run on
// the same clips and sounds, and scored by sliding one raw fingerprint over
// another and counting the bits that differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::bench {

// One 32-bit word per about 0.124 s of sound.
using RawFingerprint = std::vector<std::uint32_t>;
// The seconds between two words: fpcalc's frames of 4096 samples at
// 11025 Hz, two thirds overlapped.
inline constexpr double kPeerWordSeconds = 4096.0 / 3 / 11025;

// Above this share of bits wrong at the best offset, a clip matches nothing.
inline constexpr double kPeerMatchThreshold = 0.35;

struct PeerMatch {
    double error_rate = 1.0;  // bits wrong / bits compared, at the best offset
    int offset = 0;           // the clip's first word against the sound's word at this index
};

// Whether fpcalc can be run (it is looked up on PATH).
bool FpcalcAvailable();

// Writes `mono` at `rate` as a 16-bit WAV file (clipped, as a recording is).
void WriteWav(const std::string& path, const std::vector<float>& mono, int rate);

// `fpcalc -raw -length 0 PATH`; nothing when it gives no fingerprint (a
// file shorter than about 3 s).
std::optional<RawFingerprint> FpcalcFingerprint(const std::string& wav_path);

// The offset with the fewest bits wrong, sliding the shorter fingerprint
// wholly within the longer one: a clip cut from inside a sound lies wholly
// within it, and partial overlaps at the ends would compare a few words
// only, where chance alone gives low error rates.
PeerMatch BestOffset(const RawFingerprint& clip, const RawFingerprint& sound);

// What fpcalc answers for a clip.
struct PeerAnswer {
    bool fingerprinted = false;        // fpcalc gave the clip a fingerprint
    std::optional<std::size_t> sound;  // the sound matched, by the order added
    double seconds = 0;                // where the clip starts in it, to a word
};

// The game's sounds fingerprinted by fpcalc once, and clips looked up among
// them: the sound with the lowest error rate, if under kPeerMatchThreshold.
// Its WAV files live in a temporary folder, removed with it.
class FpcalcPeer {
public:
    FpcalcPeer();
    ~FpcalcPeer();
    FpcalcPeer(const FpcalcPeer&) = delete;
    FpcalcPeer& operator=(const FpcalcPeer&) = delete;

    void AddSound(const std::vector<float>& mono, int rate);
    PeerAnswer Find(const std::vector<float>& clip, int rate);

private:
    std::optional<RawFingerprint> Fingerprint(const std::vector<float>& mono, int rate);

    std::filesystem::path folder_;
    std::vector<std::optional<RawFingerprint>> sounds_;
};

}  // namespace quorvel::bench
