// How fast the carver finds "RIFF" in a 64 KiB window (the size the archive
// is read in), against glibc's memmem and the standard library's
// Boyer-Moore-Horspool searcher over the same bytes.

#include <string.h>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "extract/riff_search.hpp"

namespace {

constexpr std::size_t kWindow = 0x10000;
constexpr std::string_view kRiff = "RIFF";

enum Content : std::int64_t { kNoise, kSilence, kRifRepeated, kAllR };

const char* ContentName(std::int64_t content)
{
    switch (content) {
        case kNoise:
            return "noise";
        case kSilence:
            return "silence";
        case kRifRepeated:
            return "RIF-repeated+RIFF/300B";
        default:
            return "all-R";
    }
}

// Noise stands for compressed or noisy samples; silence for quiet 8-bit
// sounds; "RIF" repeated with a real "RIFF" every 300 bytes is the search's
// worst case; a run of 'R' defeats a search that only looks for the first byte.
std::vector<char> MakeWindow(std::int64_t content)
{
    std::vector<char> window(kWindow);
    switch (content) {
        case kNoise: {
            std::uint64_t state = 0x9E3779B97F4A7C15ULL;
            for (char& byte : window) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                byte = static_cast<char>(state >> 56);
            }
            break;
        }
        case kSilence:
            std::fill(window.begin(), window.end(), static_cast<char>(0x80));
            break;
        case kRifRepeated:
            for (std::size_t i = 0; i < window.size(); ++i) {
                window[i] = "RIF"[i % 3];
            }
            for (std::size_t i = 150; i + kRiff.size() <= window.size(); i += 300) {
                std::copy(kRiff.begin(), kRiff.end(), window.begin() + static_cast<std::ptrdiff_t>(i));
            }
            break;
        default:
            std::fill(window.begin(), window.end(), 'R');
            break;
    }
    return window;
}

// Every match in the window, as the carver asks for them: each search
// starts after the previous match.
template <typename Find>
void CountAll(benchmark::State& state, Find find)
{
    const auto window = MakeWindow(state.range(0));
    state.SetLabel(ContentName(state.range(0)));
    std::size_t matches = 0;
    for (auto _ : state) {
        matches = 0;
        for (std::size_t from = find(window, 0); from != quorvel::kNoMatch; from = find(window, from + 4)) {
            ++matches;
        }
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches"] = static_cast<double>(matches);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * window.size()));
}

std::size_t FindWithCore(const std::vector<char>& window, std::size_t from)
{
    return quorvel::FindRiff(std::as_bytes(std::span(window)), from);
}

std::size_t FindWithPortable(const std::vector<char>& window, std::size_t from)
{
    return quorvel::FindRiffPortable(std::as_bytes(std::span(window)), from);
}

std::size_t FindWithMemmem(const std::vector<char>& window, std::size_t from)
{
    if (from >= window.size()) {
        return quorvel::kNoMatch;
    }
    const void* found = ::memmem(window.data() + from, window.size() - from, kRiff.data(), kRiff.size());
    return found == nullptr ? quorvel::kNoMatch
                            : static_cast<std::size_t>(static_cast<const char*>(found) - window.data());
}

std::size_t FindWithHorspool(const std::vector<char>& window, std::size_t from)
{
    if (from >= window.size()) {
        return quorvel::kNoMatch;
    }
    const auto found = std::search(window.begin() + static_cast<std::ptrdiff_t>(from), window.end(),
                                   std::boyer_moore_horspool_searcher(kRiff.begin(), kRiff.end()));
    return found == window.end() ? quorvel::kNoMatch : static_cast<std::size_t>(found - window.begin());
}

void BM_FindRiff(benchmark::State& state)
{
    CountAll(state, FindWithCore);
}

void BM_FindRiffPortable(benchmark::State& state)
{
    CountAll(state, FindWithPortable);
}

void BM_GlibcMemmem(benchmark::State& state)
{
    CountAll(state, FindWithMemmem);
}

void BM_StdHorspool(benchmark::State& state)
{
    CountAll(state, FindWithHorspool);
}

BENCHMARK(BM_FindRiff)->DenseRange(kNoise, kAllR);
BENCHMARK(BM_FindRiffPortable)->DenseRange(kNoise, kAllR);
BENCHMARK(BM_GlibcMemmem)->DenseRange(kNoise, kAllR);
BENCHMARK(BM_StdHorspool)->DenseRange(kNoise, kAllR);

}  // namespace
