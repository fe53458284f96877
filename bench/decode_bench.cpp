// Decoding stored sounds, as the studio serves them: a decoded WAV read
// front to back in 64 KiB pieces, for every encoding, on one core (the
// counter x_realtime is seconds of sound decoded per second); and the time
// to the first 64 KiB of a decoded WAV, and to its last 64 KiB (a player
// that seeks to the end), for the longest sound of each encoding in a game
// folder named by QUORVEL_BENCH_GAME (such as
// `quorvel-make-sample --profile game --size 1G`): the archives are opened
// and listed once, as the studio does when it starts.

#include <sndfile.h>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/game_reader.hpp"
#include "app/listed_file_input.hpp"
#include "app/listing_records.hpp"
#include "audio/decoded_wav.hpp"
#include "audio/memory_input.hpp"
#include "audio/tests/sound_kit.hpp"
#include "platform/posix_file_system.hpp"

namespace quorvel::bench {
namespace {

constexpr std::size_t kPiece = 64 * 1024;
constexpr int kSeconds = 20;

struct Encoding {
    const char* name;
    int sf_format;
    int channels;
    int rate;
};

// The rates and channels games store each encoding at.
const Encoding kEncodings[] = {
    {"pcm_u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 11025},
    {"pcm_s16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100},
    {"pcm_s24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 48000},
    {"pcm_s32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, 48000},
    {"float32", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000},
    {"float64", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 2, 48000},
    {"extensible_pcm_s24", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 6, 48000},
    {"ima_adpcm", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 44100},
    {"ms_adpcm", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, 44100},
    {"gsm610", SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000},
    {"ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 8000},
    {"alaw", SF_FORMAT_WAV | SF_FORMAT_ALAW, 2, 8000},
    {"g721", SF_FORMAT_WAV | SF_FORMAT_G721_32, 1, 8000},
};

std::uint64_t ReadWhole(InputFile& file, std::vector<std::byte>& piece)
{
    std::uint64_t done = 0;
    while (const std::size_t got = file.ReadAt(done, piece)) {
        done += got;
    }
    return done;
}

void BM_DecodedWav(benchmark::State& state, const Encoding& encoding)
{
    audio::MemoryInput sound(audio::testing::EncodeSound(
        encoding.sf_format, encoding.channels, encoding.rate,
        audio::testing::MakeSignal(encoding.channels, encoding.rate, std::int64_t{kSeconds} * encoding.rate)));
    std::vector<std::byte> piece(kPiece);
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        const auto wav = audio::DecodedWav::Open(sound, "bench.wav");
        bytes += ReadWhole(*wav, piece);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kSeconds, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// The game named by QUORVEL_BENCH_GAME, listed once.
struct Game {
    PosixFileSystem files;
    std::unique_ptr<GameReader> reader;
    std::map<std::string, const ListedFile*> longest;  // by encoding
};

Game* TheGame()
{
    static const std::unique_ptr<Game> game = []() -> std::unique_ptr<Game> {
        const char* folder = std::getenv("QUORVEL_BENCH_GAME");
        if (folder == nullptr) {
            return nullptr;
        }
        auto made = std::make_unique<Game>();
        made->reader = std::make_unique<GameReader>(
            GameReader::Open(made->files, Places{.game_folder = folder, .output_folder = {}}, true));
        for (const ListedFile& file : made->reader->Files()) {
            if (!file.format) {
                continue;
            }
            const ListedFile*& longest = made->longest[EncodingKey(*file.format)];
            if (longest == nullptr || file.format->frames > longest->format->frames) {
                longest = &file;
            }
        }
        return made;
    }();
    return game.get();
}

// The first 64 KiB of the decoded WAV (`from_end`: its last 64 KiB) of the
// longest sound of an encoding, from nothing open but the game.
void BM_GameSoundRange(benchmark::State& state, const std::string& encoding, bool from_end)
{
    Game* game = TheGame();
    if (game == nullptr || !game->longest.contains(encoding)) {
        state.SkipWithError("no game (QUORVEL_BENCH_GAME), or no sound of this encoding in it");
        return;
    }
    const ListedFile& file = *game->longest.at(encoding);
    std::vector<std::byte> piece(kPiece);
    for (auto _ : state) {
        ListedFileInput input(*game->reader, file);
        const auto wav = audio::DecodedWav::Open(input, file.path);
        const std::uint64_t offset = from_end && wav->Size() > kPiece ? wav->Size() - kPiece : 0;
        benchmark::DoNotOptimize(wav->ReadAt(offset, piece));
    }
    state.SetLabel(file.path + ", " + std::to_string(file.size >> 10) + " KiB, " + SecondsText(file.format->seconds) +
                   " s");
}

[[maybe_unused]] const bool kRegistered = [] {
    for (const Encoding& encoding : kEncodings) {
        benchmark::RegisterBenchmark((std::string("BM_DecodedWav/") + encoding.name).c_str(), BM_DecodedWav, encoding)
            ->Unit(benchmark::kMillisecond);
    }
    for (const char* encoding : {"pcm_u8", "pcm_s16", "pcm_s24", "pcm_s32", "float32", "float64", "ima_adpcm",
                                 "ms_adpcm", "gsm610", "ulaw", "alaw", "g721"}) {
        for (const bool from_end : {false, true}) {
            const std::string name =
                std::string(from_end ? "BM_GameSoundLastRange/" : "BM_GameSoundFirstByte/") + encoding;
            benchmark::RegisterBenchmark(name.c_str(), BM_GameSoundRange, std::string(encoding), from_end)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    return true;
}();

}  // namespace
}  // namespace quorvel::bench
