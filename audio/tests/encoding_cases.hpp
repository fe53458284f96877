#pragma once

// Every WAV encoding a stored sound may have, as libsndfile writes it, with
// what the listing and the decoded WAV say of it.

#include <sndfile.h>

#include <array>
#include <string>

namespace quorvel::audio::testing {

struct EncodingCase {
    const char* name;  // for the test's name
    int sf_format;
    int channels;
    int sample_rate;
    const char* key;    // the listing's JSON "encoding"
    const char* label;  // the text listing's column
    int served_bits;    // the decoded WAV's: 16, or 32 for float
    // The fact chunk libsndfile writes counts the padding of the last block
    // (IMA ADPCM), so the sound's own count is the blocks' count.
    bool counts_padding = false;
};

inline constexpr std::array<EncodingCase, 17> kEncodingCases = {{
    {"PcmU8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 11025, "pcm_u8", "PCM", 16},
    {"PcmS16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, "pcm_s16", "PCM", 16},
    {"PcmS24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 48000, "pcm_s24", "PCM", 32},
    {"PcmS32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1, 96000, "pcm_s32", "PCM", 32},
    {"Float32", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, "float32", "float", 32},
    {"Float64", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, 22050, "float64", "float", 32},
    {"ExtensiblePcmS16", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 2, 32000, "pcm_s16", "PCM", 16},
    {"ExtensiblePcmS24", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 6, 48000, "pcm_s24", "PCM", 32},
    {"ExtensibleFloat32", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 2, 48000, "float32", "float", 32},
    {"ExtensibleMuLaw", SF_FORMAT_WAVEX | SF_FORMAT_ULAW, 1, 8000, "ulaw", "\xC2\xB5-law", 16},
    {"ImaAdpcmMono", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 22050, "ima_adpcm", "IMA ADPCM", 16, true},
    {"ImaAdpcmStereo", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 44100, "ima_adpcm", "IMA ADPCM", 16, true},
    {"MsAdpcm", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, 22050, "ms_adpcm", "MS ADPCM", 16},
    {"Gsm610", SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000, "gsm610", "GSM 6.10", 16},
    {"MuLaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 8000, "ulaw", "\xC2\xB5-law", 16},
    {"ALaw", SF_FORMAT_WAV | SF_FORMAT_ALAW, 2, 8000, "alaw", "A-law", 16},
    {"G721", SF_FORMAT_WAV | SF_FORMAT_G721_32, 1, 8000, "g721", "G.721 ADPCM", 16},
}};

inline std::string CaseName(const EncodingCase& encoding)
{
    return encoding.name;
}

}  // namespace quorvel::audio::testing
