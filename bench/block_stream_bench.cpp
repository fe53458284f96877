// The core's cost per block and per byte, over an archive in memory with the
// outputs thrown away: what the program adds on top of the disk's work.
// The whole run sequence takes part (progress arithmetic at every
// checkpoint), behind a user interface that shows nothing.

#include <benchmark/benchmark.h>
#include <cstdint>
#include <stdexcept>

#include "app/form1.hpp"
#include "bench/in_memory_archive.hpp"

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

void ExtractAll(benchmark::State& state, const Bytes& archive, std::uint64_t expected_files)
{
    std::uint64_t files = 0;
    for (auto _ : state) {
        DiscardingFileSystem file_system(archive);
        SilentUi ui;
        if (Form1(ui, file_system).FormLoad() != RunEnd::kCompleted) {
            state.SkipWithError("the run did not complete");
            return;
        }
        files = file_system.FilesCreated();
    }
    if (files != expected_files) {
        state.SkipWithError("unexpected number of outputs");
        return;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * archive.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * files));
}

// Many tiny blocks of every kind but RIFF: the per-block cost (items/s is
// outputs per second).
void BM_TinyBlocks(benchmark::State& state)
{
    const auto blocks = static_cast<std::uint64_t>(state.range(0));
    Bytes archive;
    for (std::uint64_t i = 0; i < blocks; ++i) {
        switch (i % 3) {
            case 0:
                AppendBlock(archive, Bytes(12, std::byte{0x41}));
                break;
            case 1:
                AppendBlock(archive, Bytes{std::byte{'A'}, std::byte{'V'}, std::byte{'Q'}, std::byte{'F'}});
                break;
            default:
                AppendBlock(archive, Bytes{});
                break;
        }
    }
    AppendFinalField(archive);
    ExtractAll(state, archive, blocks);
}
BENCHMARK(BM_TinyBlocks)->Arg(10'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

// Many small sounds, one per RIFF block: the per-sound cost.
void BM_SmallSoundBlocks(benchmark::State& state)
{
    const auto blocks = static_cast<std::uint64_t>(state.range(0));
    Bytes archive;
    for (std::uint64_t i = 0; i < blocks; ++i) {
        AppendBlock(archive, MakeSound(2048, static_cast<std::uint32_t>(i)));
    }
    AppendFinalField(archive);
    ExtractAll(state, archive, blocks);
}
BENCHMARK(BM_SmallSoundBlocks)->Arg(10'000)->Unit(benchmark::kMillisecond);

// One RIFF block holding sounds of the given size: the carving cost per byte.
void BM_CarveLargeBlock(benchmark::State& state)
{
    const auto sound_size = static_cast<std::size_t>(state.range(0));
    const std::size_t sounds = (64U << 20) / sound_size;
    Bytes payload;
    for (std::size_t i = 0; i < sounds; ++i) {
        const Bytes sound = MakeSound(sound_size, static_cast<std::uint32_t>(i + 1));
        payload.insert(payload.end(), sound.begin(), sound.end());
    }
    Bytes archive;
    AppendBlock(archive, payload);
    AppendFinalField(archive);
    ExtractAll(state, archive, sounds);
}
BENCHMARK(BM_CarveLargeBlock)->Arg(64 << 10)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

// One large block that is not RIFF: copied through without being looked at.
void BM_CopyLargeBlock(benchmark::State& state)
{
    Bytes archive;
    AppendBlock(archive, Bytes(64U << 20, std::byte{0x33}));
    AppendFinalField(archive);
    ExtractAll(state, archive, 1);
}
BENCHMARK(BM_CopyLargeBlock)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel::bench
