#pragma once

// Finding a sound by ear (--find CLIP): the clip's landmarks looked up in
// those of every sound of the game, kept in the index file of the output
// folder (audio/sound_index.hpp) so that a later search fingerprints only
// the sounds that are new or changed since.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/places.hpp"
#include "app/run_end.hpp"
#include "extract/extract_error.hpp"
#include "extract/file_system.hpp"
#include "pack/pack.hpp"

namespace quorvel {

struct FindRequest {
    // The game folder; the output folder, which the index file goes into
    // (the game folder when empty).
    Places places;
    std::string clip;  // any file the decoder reads; with clip_bytes, the clip's name in messages
    // The clip's bytes, read in place of the file `clip` (a clip sent to the studio).
    InputFile* clip_bytes = nullptr;
    // Sounds like this one (a listed path) in place of a clip: its own
    // landmarks are the clip, and it is left out of what is found.
    std::string like{};
    std::size_t most = 10;
    // Only bring the index up to date, ahead of the searches to come (the
    // studio, from its start): no clip, nothing found.
    bool index_only = false;
};

// One sound that holds the clip.
struct FoundSound {
    std::string path;    // as listed: "sfx/sfx_0003.wav"
    double seconds = 0;  // where the clip starts in it, to the millisecond
    std::uint32_t score = 0;
};

// How a search tells whoever runs it what it does. One thread calls it, in order.
class FindReport : public RunListener {
public:
    // The speech question (Yes is the default); returns true for Yes.
    virtual bool AskYesNo(std::string_view question) = 0;
    // The clip is read and every archive is there: the index is brought up to date.
    virtual void Started() {}
    // Progress (RunListener) is told after every sound, in its bytes; it
    // throws Cancelled to stop the run.
    // A sound of the game could not be decoded, in one line "FILE: DESCRIPTION":
    // it is left out of the search, which goes on.
    virtual void SoundFailed(std::string_view line) = 0;
    // The index is up to date: `fingerprinted` of `sounds` were new or changed.
    virtual void Indexed(std::size_t /*sounds*/, std::size_t /*fingerprinted*/) {}
    // The index file could not be written (a folder that is not writable,
    // a full disk): the search goes on all the same, and the next one
    // fingerprints those sounds again.
    virtual void IndexNotKept(const Failure& failure) = 0;
    // The failure that ended the run.
    virtual void ReportError(const Failure& failure) = 0;
    // Told once, after the work, when an archive turned out to be truncated.
    virtual void ReportWarning(std::string_view text) = 0;
};

// Reads the clip (a clip that cannot be decoded fails the run before
// anything else), asks the speech question, lists the archives, brings the
// index up to date (a damaged or foreign index file is rebuilt) and writes
// it back when it changed, then fills `found` with the sounds that hold the
// clip, best first, at most request.most. A run that finds nothing has
// completed all the same. A run stopped while it indexes keeps the sounds
// fingerprinted so far in the index file.
RunEnd FindRun(FileSystem& files, const FindRequest& request, FindReport& report, std::vector<FoundSound>& found);

}  // namespace quorvel
