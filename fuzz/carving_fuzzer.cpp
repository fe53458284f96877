// Fuzzes the carving of one RIFF block: the input (after its parameters) is
// the payload that follows the signature "RIFF".
//
// It is carved twice: once by driving RiffCarver directly, fed in slices
// whose sizes come from the input, so that every byte of the payload can
// meet a slice boundary, including inside a "RIFF" or a header; and once
// wrapped in an archive behind a block that moves it against the 64 KiB
// chunks. Both must agree with the reference model.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "extract/entry_writer.hpp"
#include "extract/riff_carver.hpp"
#include "fuzz/fuzz_support.hpp"
#include "testing/archive_builder.hpp"
#include "testing/memory_file_system.hpp"
#include "testing/prng.hpp"

namespace {

using namespace quorvel;

// Slice sizes from a few input bytes: any number of them, from a seed.
std::size_t NextSliceSize(testing::SplitMix64& random)
{
    const std::uint64_t value = random.Next();
    switch (value % 4) {
        case 0:
            return 1 + (value >> 8) % 16;  // around headers and markers
        case 1:
            return 1 + (value >> 8) % 512;
        default:
            return 1 + (value >> 8) % 0x18000;  // across whole chunks
    }
}

void CarveInSlices(std::span<const std::byte> payload, std::uint64_t seed)
{
    testing::MemoryFileSystem files;
    files.MakeFolder("sfx");
    {
        EntryWriter writer(files, "sfx");
        writer.NextNumber();
        RiffCarver carver(writer);
        carver.Begin();
        testing::SplitMix64 random(seed);
        testing::Bytes pending;
        std::size_t next = 4;  // the signature was read by the block stream
        for (;;) {
            const std::size_t slice = std::min(NextSliceSize(random), payload.size() - next);
            pending.insert(pending.end(), payload.begin() + static_cast<std::ptrdiff_t>(next),
                           payload.begin() + static_cast<std::ptrdiff_t>(next + slice));
            next += slice;
            const bool block_end = next == payload.size();
            const std::size_t done = carver.Feed(pending, block_end);
            fuzz::Expect(done <= pending.size(), "the carver claims more bytes than it was given");
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done));
            if (block_end) {
                fuzz::Expect(pending.empty(), "the carver left bytes over at the end of the block");
                break;
            }
            fuzz::Expect(pending.size() <= 11, "the carver held back more than 11 bytes");
        }
        writer.Close();
    }
    fuzz::Expect(files.OpenOutputs() == 0, "an output file was left open");

    const auto files_expected = model::CarveRiffPayload(payload, 1);
    const auto expected = fuzz::ModelOutputs(payload, files_expected, files_expected.size());
    fuzz::Expect(files.Outputs() == expected,
                 "carving in slices differs from the model\n" + fuzz::DescribeOutputs(files.Outputs(), expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::InputCursor input(data, size);
    fuzz::RunOptions options = fuzz::TakeRunOptions(input);
    const testing::Bytes filler = fuzz::TakeFillerBlock(input, options);
    const std::uint64_t seed = input.Take<std::uint64_t>();
    const testing::Bytes payload = testing::Archive().Raw("RIFF", input.Rest()).Make();
    if (payload.size() > 4) {
        CarveInSlices(payload, seed);
    }
    fuzz::CheckArchive(testing::Archive().Raw(filler).Block(payload).Final().Make(), options);
    return 0;
}
