#include "audio/sound_search.hpp"

#include <algorithm>
#include <cmath>
#include <map>

namespace quorvel::audio {

void SoundSearch::Add(std::uint32_t sound, std::span<const Landmark> landmarks)
{
    for (const Landmark& landmark : landmarks) {
        by_hash_[landmark.hash].push_back({sound, landmark.frame});
    }
    postings_ += landmarks.size();
}

namespace {

// A sound's best offset: the one whose count, with its two neighbours', is
// highest; the place is the mean of the three offsets weighted by their
// counts, which puts a clip that lies between two frames between them.
SoundMatch BestOffset(std::uint32_t sound, const std::map<std::int64_t, std::uint32_t>& offsets)
{
    auto count_at = [&offsets](std::int64_t offset) {
        const auto found = offsets.find(offset);
        return found == offsets.end() ? 0U : found->second;
    };
    SoundMatch best{sound, 0, 0};
    double best_place = 0;
    for (const auto& [offset, count] : offsets) {
        const std::uint32_t before = count_at(offset - 1);
        const std::uint32_t after = count_at(offset + 1);
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
    std::unordered_map<std::uint32_t, std::map<std::int64_t, std::uint32_t>> offsets_by_sound;
    for (const Landmark& landmark : clip) {
        const auto found = by_hash_.find(landmark.hash);
        if (found == by_hash_.end()) {
            continue;
        }
        for (const Posting& posting : found->second) {
            if (posting.sound != leave_out) {
                ++offsets_by_sound[posting.sound][static_cast<std::int64_t>(posting.frame) - landmark.frame];
            }
        }
    }
    std::vector<SoundMatch> matches;
    for (const auto& [sound, offsets] : offsets_by_sound) {
        SoundMatch match = BestOffset(sound, offsets);
        if (match.score >= kLeastMatchScore) {
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
