#include "audio/sound_search.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorvel::audio {

std::uint32_t LeastMatchScore(std::size_t clip_landmarks)
{
    const auto quarter = static_cast<std::uint32_t>(std::min<std::size_t>(clip_landmarks / 4, kLeastMatchScore));
    return std::max(kLeastShortMatchScore, quarter);
}

void SoundSearch::Add(std::uint32_t sound, std::span<const Landmark> landmarks)
{
    for (const Landmark& landmark : landmarks) {
        by_hash_[landmark.hash].push_back({sound, landmark.frame});
    }
    postings_ += landmarks.size();
}

namespace {

// One vote: a sound, and an offset (its frame less the clip's) biased to be
// unsigned, in one number, so that sorting the votes groups them by sound
// and then by offset.
std::uint64_t Vote(std::uint32_t sound, std::int64_t offset)
{
    return (std::uint64_t{sound} << 32) | static_cast<std::uint32_t>(offset + (std::int64_t{1} << 31));
}
std::uint32_t SoundOf(std::uint64_t vote)
{
    return static_cast<std::uint32_t>(vote >> 32);
}
std::int64_t OffsetOf(std::uint64_t vote)
{
    return static_cast<std::int64_t>(vote & 0xFFFFFFFFU) - (std::int64_t{1} << 31);
}

// A sound's best offset among its votes (sorted, one count per offset): the
// one whose count, with its two neighbours', is highest; the place is the
// mean of the three offsets weighted by their counts, which puts a clip
// that lies between two frames between them.
SoundMatch BestOffset(std::uint32_t sound, std::span<const std::pair<std::int64_t, std::uint32_t>> offsets)
{
    SoundMatch best{sound, 0, 0};
    double best_place = 0;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const auto [offset, count] = offsets[i];
        const std::uint32_t before = i > 0 && offsets[i - 1].first == offset - 1 ? offsets[i - 1].second : 0;
        const std::uint32_t after =
            i + 1 < offsets.size() && offsets[i + 1].first == offset + 1 ? offsets[i + 1].second : 0;
        const std::uint32_t score = before + count + after;
        if (score > best.score) {
            best.score = score;
            best_place = static_cast<double>(offset) + (static_cast<double>(after) - before) / score;
        }
    }
    // A clip cannot start before its sound; one that starts with it may
    // come out a fraction of a frame early.
    best.seconds = std::max(0.0, std::round(FingerprintSeconds(1) * best_place * 1000) / 1000);
    return best;
}

}  // namespace

std::vector<SoundMatch> SoundSearch::Find(std::span<const Landmark> clip, std::size_t most,
                                          std::optional<std::uint32_t> leave_out) const
{
    std::vector<std::uint64_t> votes;
    for (const Landmark& landmark : clip) {
        const auto found = by_hash_.find(landmark.hash);
        if (found == by_hash_.end()) {
            continue;
        }
        for (const Posting& posting : found->second) {
            if (posting.sound != leave_out) {
                votes.push_back(Vote(posting.sound, static_cast<std::int64_t>(posting.frame) - landmark.frame));
            }
        }
    }
    std::sort(votes.begin(), votes.end());
    const std::uint32_t least = LeastMatchScore(clip.size());
    std::vector<SoundMatch> matches;
    std::vector<std::pair<std::int64_t, std::uint32_t>> offsets;
    for (std::size_t i = 0; i < votes.size();) {
        const std::uint32_t sound = SoundOf(votes[i]);
        offsets.clear();
        for (; i < votes.size() && SoundOf(votes[i]) == sound; ++i) {
            if (!offsets.empty() && Vote(sound, offsets.back().first) == votes[i]) {
                ++offsets.back().second;
            } else {
                offsets.emplace_back(OffsetOf(votes[i]), 1);
            }
        }
        SoundMatch match = BestOffset(sound, offsets);
        if (match.score >= least) {
            matches.push_back(match);
        }
    }
    std::sort(matches.begin(), matches.end(), [](const SoundMatch& a, const SoundMatch& b) {
        return a.score != b.score ? a.score > b.score : a.sound < b.sound;
    });
    matches.resize(std::min(matches.size(), most));
    return matches;
}

}  // namespace quorvel::audio
