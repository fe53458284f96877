// Writes the seeds of the sound decoding fuzzer: one short sound of every
// WAV encoding libsndfile writes, bare and with the chunks a sound may carry
// besides its samples (text, cue points, a loop, broadcast information),
// each behind the fuzzer's parameter bytes
// (reads of 4096 frames, a seek to the middle, 100 buckets).
//
// Usage: make_sound_seeds FOLDER

#include <sndfile.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "audio/tests/sound_kit.hpp"

namespace {

struct Seed {
    const char* name;
    int sf_format;
    int channels;
    int rate;
};

constexpr Seed kSeeds[] = {
    {"pcm_u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 11025},
    {"pcm_s16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 22050},
    {"pcm_s24", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 3, 48000},
    {"pcm_s32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1, 8000},
    {"float32", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100},
    {"float64", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, 8000},
    {"ima_adpcm", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 22050},
    {"ms_adpcm", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, 22050},
    {"gsm610", SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000},
    {"ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 8000},
    {"alaw", SF_FORMAT_WAVEX | SF_FORMAT_ALAW, 2, 8000},
    {"g721", SF_FORMAT_WAV | SF_FORMAT_G721_32, 1, 8000},
};

// The seed file: the parameters, then the sound.
bool WriteSeed(const std::string& path, const Seed& seed, bool chunks)
{
    namespace kit = quorvel::audio::testing;
    const std::string parameters("\x00\x10\x00\x00\x00\x80\x63\x00", 8);
    const auto signal = kit::MakeSignal(seed.channels, seed.rate, 3000);
    const auto sound = chunks ? kit::EncodeSoundWithMetadata(seed.sf_format, seed.channels, seed.rate, signal)
                              : kit::EncodeSound(seed.sf_format, seed.channels, seed.rate, signal);
    std::ofstream out(path, std::ios::binary);
    out << parameters;
    out.write(reinterpret_cast<const char*>(sound.data()), static_cast<std::streamsize>(sound.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_sound_seeds: cannot write %s\n", path.c_str());
    }
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sound_seeds FOLDER\n");
        return 2;
    }
    for (const Seed& seed : kSeeds) {
        for (const bool chunks : {false, true}) {
            if (!WriteSeed(std::string(argv[1]) + "/" + seed.name + (chunks ? "_with_chunks" : ""), seed, chunks)) {
                return 1;
            }
        }
    }
    return 0;
}
