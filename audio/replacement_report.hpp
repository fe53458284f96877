#pragma once

// What fitting a new sound to the sound it replaces does to it, said before
// anything is written: one line, a line per note, and the same as fields
// for JSON.
//
//     new.mp3 (MP3, 2 ch, 44100 Hz, 3.21 s, -14.2 LUFS) -> IMA ADPCM, 1 ch, 22050 Hz, 3.21 s, -20.5 LUFS (gain -6.3 dB,
//     matched to the sound it replaces) gain lowered from +4.0 dB to +1.2 dB to keep the true peak at or under -1.0
//     dBTP

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/loudness.hpp"

namespace quorvel::audio {

struct SoundSummary {
    std::string format;    // "MP3", "WAV PCM 16 bit"; the replacement's encoding: "IMA ADPCM"
    std::string encoding;  // the replacement's, as the listing's JSON names it ("ima_adpcm"); empty for a new sound
    int channels = 0;
    int sample_rate = 0;
    std::int64_t frames = 0;
    Loudness loudness;

    double seconds() const { return sample_rate > 0 ? static_cast<double>(frames) / sample_rate : 0.0; }
};

enum class LevelRule {
    kMatched,         // gain set so that what is stored measures as the replaced sound
    kKept,            // asked to keep the new sound's level
    kCopied,          // kept, and the new sound was already in the format: its bytes as they are
    kReplacedSilent,  // the replaced sound is silent: there is no level to match
    kNewSilent,       // the new sound is silent: no gain makes it louder
};

struct ReplacementNote {
    enum class Kind {
        kGainLowered,
        kLoopDropped,
        kCuePointDropped,
        kBlockSizeNotMatched,
        kTrimmed,
        kPadded,
    };
    Kind kind;
    std::string text;
    std::vector<std::pair<std::string, double>> values;  // the figures the text gives, by JSON key
};

struct ReplacementReport {
    std::string name;           // the new sound's
    std::string replaced_name;  // the sound it replaces
    SoundSummary input;         // the new sound as it is
    SoundSummary output;        // as it will be stored
    SoundSummary replaced;
    LevelRule level = LevelRule::kMatched;
    double gain_db = 0;
    std::string channel_rule;  // "stereo to mono: the mean of the two"
    std::uint64_t bytes = 0;   // of the replacement
    std::vector<ReplacementNote> notes;

    // The line, then one line per note; every line ends in '\n'.
    std::string Text() const;
    // One JSON object on one line, no line end:
    // {"file": "new.mp3", "replaces": {...}, "input": {...}, "output": {...},
    //  "level": "matched", "gain_db": -6.3, "channels": "...", "bytes": 1234, "notes": [{"kind": ..., "text": ...}]}
    std::string Json() const;
};

}  // namespace quorvel::audio
