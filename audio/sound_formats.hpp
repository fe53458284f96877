#pragma once

// What a sound is called in a report, and how a replacement is written to
// be in the format of the sound it replaces.
//
// Encodings are named as the listing names them ("PCM", "float", "IMA
// ADPCM", "MS ADPCM", "GSM 6.10", "µ-law", "A-law", "G.721 ADPCM"), integer
// PCM and float with their depth ("PCM 16 bit"). A new sound is named by its
// container: "MP3", "FLAC", "Ogg Vorbis", "Opus", "AIFF", a WAV by its
// encoding ("WAV PCM 16 bit", "WAV IMA ADPCM"), any other container by its
// usual file extension ("CAF", "AU").

#include <string>

#include "audio/wav_chunks.hpp"

namespace quorvel::audio {

struct TargetFormat {
    WavFmt fmt;            // the sound replaced: its header is the replacement's
    int sf_format = 0;     // SF_FORMAT_WAV | the subtype that makes its data
    int encoder_rate = 0;  // the rate the encoder is opened at (see ChooseTarget)
    // Samples are rounded to this many bits (with TPDF dither where that
    // loses depth): the depth of integer PCM, 16 for the codecs, which
    // libsndfile feeds from 16-bit samples. 0: written as floats.
    int quantise_bits = 0;
    std::string name;  // "IMA ADPCM", "PCM 16 bit"
    std::string id;    // as the listing's JSON names it: "ima_adpcm", "pcm_s16"
};

// How a replacement is written in `replaced`'s format. libsndfile chooses
// an ADPCM block size from rate × channels and has no setting for it; since
// ADPCM bytes do not depend on the rate, the encoder is opened at a rate
// that gives the replaced sound's block size, and its rate is written into
// the header. A block size no rate gives is left to libsndfile (the caller
// tells it from the encoder's header). Throws SoundError, naming `name`,
// for a format no encoder writes.
TargetFormat ChooseTarget(const WavFmt& replaced, const std::string& name);

// "MP3", "WAV PCM 16 bit", ... for libsndfile's SF_FORMAT_* of a sound.
std::string DescribeSource(int sf_format);

// The depth of the integers a decoder gives for SF_FORMAT_* (8, 16, 24), or
// 0 for a source of floats or of more bits than a replacement is rounded to.
int SourceDepth(int sf_format);

// libsndfile's ADPCM block size for a rate and channel count.
int LibsndfileAdpcmBlockSize(long long rate_times_channels);

}  // namespace quorvel::audio
