// The core's cost per block and per byte, over an archive in memory with the
// outputs thrown away: what the program adds on top of the disk's work.
// The whole run sequence takes part (progress arithmetic at every
// checkpoint), behind a user interface that shows nothing.

#include <benchmark/benchmark.h>
#include <cstdint>
#include <stdexcept>

#include "app/form1.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel::bench {
namespace {

class SilentUi final : public UserInterface {
public:
    bool AskYesNo(std::string_view /*question*/, std::string_view /*caption*/) override { return false; }
    void ShowWindow(std::string_view /*title*/) override {}
    void SetStatusText(std::string_view /*text*/) override {}
    BarHandle CreateProgressBar(int /*x*/, int /*y*/, int /*width*/, int /*height*/) override { return 1; }
    void SetBarPosition(BarHandle /*bar*/, int position) override { benchmark::DoNotOptimize(position); }
    void SetBarText(BarHandle /*bar*/, std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
    bool ProcessPendingMessages() override { return true; }
    void Unload() override {}
    void ReportError(const Failure& failure) override { throw std::runtime_error(failure.Describe()); }
    void ReportWarning(std::string_view /*text*/) override {}
};

void ExtractAll(benchmark::State& state, const testing::Archive& archive, std::uint64_t expected_files)
{
    testing::MemoryFileSystem files(testing::OutputMode::kDiscard);
    // Made once, as one run of bytes: each read is then one copy, as from the page cache.
    files.AddArchive("sfx.pak", archive.Make());
    for (auto _ : state) {
        SilentUi ui;
        if (Form1(ui, files).FormLoad() != RunEnd::kCompleted) {
            state.SkipWithError("the run did not complete");
            return;
        }
    }
    if (files.FilesCreated() != expected_files * state.iterations()) {
        state.SkipWithError("unexpected number of outputs");
        return;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * archive.Size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * expected_files));
}

// A sound of `size` bytes whose samples are noise.
std::vector<testing::Part> NoiseSound(std::uint64_t size)
{
    return {testing::Riff(static_cast<std::int32_t>(size - 8)), testing::Noise(size - 12)};
}

// Many tiny blocks of every kind but RIFF: the per-block cost (items/s is
// outputs per second).
void BM_TinyBlocks(benchmark::State& state)
{
    const auto blocks = static_cast<std::uint64_t>(state.range(0));
    testing::Archive archive;
    for (std::uint64_t i = 0; i < blocks; ++i) {
        switch (i % 3) {
            case 0:
                archive.Block(testing::Fill(12, 0x41));
                break;
            case 1:
                archive.Block("AVQF");
                break;
            default:
                archive.Block();
                break;
        }
    }
    ExtractAll(state, archive.Final(), blocks);
}
BENCHMARK(BM_TinyBlocks)->Arg(10'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

// Many small sounds, one per RIFF block: the per-sound cost.
void BM_SmallSoundBlocks(benchmark::State& state)
{
    const auto blocks = static_cast<std::uint64_t>(state.range(0));
    testing::Archive archive;
    archive.Repeat(blocks, testing::Archive().AddBlock(NoiseSound(2048)));
    ExtractAll(state, archive.Final(), blocks);
}
BENCHMARK(BM_SmallSoundBlocks)->Arg(10'000)->Unit(benchmark::kMillisecond);

// One RIFF block holding sounds of the given size: the carving cost per byte.
void BM_CarveLargeBlock(benchmark::State& state)
{
    const auto sound_size = static_cast<std::uint64_t>(state.range(0));
    const std::uint64_t sounds = (64U << 20) / sound_size;
    std::vector<testing::Part> payload;
    for (std::uint64_t i = 0; i < sounds; ++i) {
        const auto sound = NoiseSound(sound_size);
        payload.insert(payload.end(), sound.begin(), sound.end());
    }
    ExtractAll(state, testing::Archive().AddBlock(payload).Final(), sounds);
}
BENCHMARK(BM_CarveLargeBlock)->Arg(64 << 10)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

// One large block that is not RIFF: copied through without being looked at.
void BM_CopyLargeBlock(benchmark::State& state)
{
    ExtractAll(state, testing::Archive().Block(testing::Fill(64U << 20, 0x33)).Final(), 1);
}
BENCHMARK(BM_CopyLargeBlock)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel::bench
