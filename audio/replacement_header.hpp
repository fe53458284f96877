#pragma once

// The replacement's bytes around its data: the replaced sound's header,
// chunk for chunk and in its order, with what the new data needs. Its "fmt "
// chunk itself wherever the encoder's data has its block layout (else the
// encoder's, with the replaced sound's rate, and a note); a fact chunk with
// the new frame count; loop and cue points fitted (wav_markers.hpp); a PEAK
// chunk with the new peaks; every other chunk unchanged.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/replaced_sound.hpp"
#include "audio/replacement_report.hpp"
#include "audio/temporary_store.hpp"

namespace quorvel::audio {

struct ReplacementBytes {
    std::vector<std::byte> head;    // the RIFF header and every chunk up to the data's payload
    std::uint64_t data_offset = 0;  // where the data's payload lies in the encoded store
    std::uint64_t data_size = 0;
    std::vector<std::byte> tail;  // the data's pad byte and the chunks after it

    std::uint64_t size() const { return head.size() + data_size + tail.size(); }
};

// `encoded` holds the WAV libsndfile encoded, of `frames` frames. Notes
// (points dropped, a block size not matched) are added to `report`. Throws
// SoundError, for one, when the result would pass the 4 GiB a WAV holds.
ReplacementBytes MakeReplacementBytes(const ReplacedSound& replaced, TemporaryStore& encoded, std::int64_t frames,
                                      ReplacementReport& report);

}  // namespace quorvel::audio
