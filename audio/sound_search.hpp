#pragma once

// Finding the sounds that hold a clip, by their landmarks
// (audio/fingerprint.hpp): each of the clip's hashes is looked up; a sound
// that holds the clip gives many of them back at one offset (its frame less
// the clip's), where chance spreads the others over every offset. A sound's
// score is the count at its best offset (and the offsets either side, for a
// clip that falls between two frames); that offset is where the clip lies
// in it.
//
//     SoundSearch search;
//     search.Add(0, FingerprintSound(first));
//     std::vector<SoundMatch> found = search.Find(FingerprintSound(clip), 10);

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "audio/fingerprint.hpp"

namespace quorvel::audio {

// The fewest landmarks at one offset that make a match. Unrelated sounds
// and noise give at most 2 by chance; a clip of one second of a sound under
// noise at 5 dB SNR gives 12 and more.
inline constexpr std::uint32_t kLeastMatchScore = 8;
// A clip of fewer than 4 * kLeastMatchScore landmarks (a whole effect of
// 0.2 to 0.5 s gives 3 to 30) matches with a quarter of them at one offset,
// and never fewer than kLeastShortMatchScore: chance does not line up 4.
inline constexpr std::uint32_t kLeastShortMatchScore = 4;

// The fewest landmarks at one offset that make a match for a clip of
// `clip_landmarks`.
std::uint32_t LeastMatchScore(std::size_t clip_landmarks);

struct SoundMatch {
    std::uint32_t sound = 0;  // as the sound was added
    double seconds = 0;       // where the clip starts in the sound
    std::uint32_t score = 0;  // landmarks that agree on that place
};

class SoundSearch {
public:
    // Adds a sound's landmarks under `sound` (a caller's number).
    void Add(std::uint32_t sound, std::span<const Landmark> landmarks);
    // The sounds that hold the clip, best first (then by number), at most
    // `most`, none below LeastMatchScore(clip.size()). `leave_out`: a sound never
    // given (the clip's own, for similar sounds).
    std::vector<SoundMatch> Find(std::span<const Landmark> clip, std::size_t most,
                                 std::optional<std::uint32_t> leave_out = std::nullopt) const;
    std::size_t size() const { return postings_; }

private:
    struct Posting {
        std::uint32_t sound = 0;
        std::uint32_t frame = 0;
    };
    std::unordered_map<std::uint32_t, std::vector<Posting>> by_hash_;
    std::size_t postings_ = 0;
};

}  // namespace quorvel::audio
