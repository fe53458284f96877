#pragma once

// The landmarks of a game's sounds, kept between runs in one file of the
// output folder (kSoundIndexFile) so that a search fingerprints only the
// sounds that are new or changed. Each sound's landmarks are keyed by the
// hash of its stored bytes (labels/label_store.hpp's ContentHash), not by
// its path: a game that renumbers its files loses nothing.
//
// The file: a magic and a version, the count of sounds, then each sound's
// hash (a length and its bytes) and landmarks (a count, then hash and frame
// as two 32-bit numbers), all little-endian, and last a 64-bit FNV-1a of
// everything before it. It is read defensively: every length and count is
// checked against the bytes left, and the sum against the bytes; a file
// that fails any check (damaged, truncated, of another version or not an
// index at all) is rebuilt, never trusted.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio/fingerprint.hpp"
#include "extract/file_system.hpp"

namespace quorvel::audio {

inline constexpr std::string_view kSoundIndexFile = "quorvel-sound-index.bin";

class SoundIndex {
public:
    // What became of the file a load looked at.
    enum class Loaded {
        kNone,     // there is none: the index starts empty
        kRead,     // read whole and checked
        kDamaged,  // not an index of this version, or damaged: the index starts empty
    };
    // Reads the index at `path` (inside the output folder). Throws
    // ExtractError only where the file cannot be read at all.
    static Loaded Load(FileSystem& files, const std::string& path, SoundIndex& index);
    // Writes the index at `path` under a temporary name that takes the name
    // only once whole. Throws ExtractError.
    void Save(FileSystem& files, const std::string& path) const;

    std::vector<std::byte> Bytes() const;
    // The index these bytes hold; nothing where any check fails.
    static std::optional<SoundIndex> Parse(std::span<const std::byte> bytes);

    // A sound's landmarks; nothing when the index has none for its hash.
    const std::vector<Landmark>* Find(const std::string& content_hash) const;
    void Put(const std::string& content_hash, std::vector<Landmark> landmarks);
    std::size_t size() const { return sounds_.size(); }

    // One sound of the game, as the index is brought up to date with it.
    struct Sound {
        std::string content_hash;
        // Its landmarks, decoded from its bytes (FingerprintSound); throws
        // SoundError where it cannot be decoded, which is kept as a sound
        // with no landmarks, so that it is not tried again.
        std::function<std::vector<Landmark>()> fingerprint;
    };
    // Fingerprints the sounds it has no landmarks for and forgets the ones
    // that are no longer there. Returns how many were fingerprinted; each
    // sound's failure is passed to `failed`.
    std::size_t Update(std::span<const Sound> sounds, const std::function<void(const SoundError&)>& failed);

private:
    std::map<std::string, std::vector<Landmark>> sounds_;
};

}  // namespace quorvel::audio
