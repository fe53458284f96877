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
#include "testing/memory_file_system.hpp"

namespace {

using namespace quorvel;

// A small generator (splitmix64) for the slice sizes: a few input bytes
// then give any number of slices.
class SliceSizes {
public:
    explicit SliceSizes(std::uint64_t seed) : state_(seed) {}

    std::size_t Next()
    {
        const std::uint64_t value = Mix();
        switch (value % 4) {
            case 0:
                return 1 + (value >> 8) % 16;  // around headers and markers
            case 1:
                return 1 + (value >> 8) % 512;
            default:
                return 1 + (value >> 8) % 0x18000;  // across whole chunks
        }
    }

private:
    std::uint64_t Mix()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    std::uint64_t state_;
};

void CarveInSlices(std::span<const std::byte> payload, std::uint64_t seed)
{
    testing::MemoryFileSystem files;
    files.MakeFolder("sfx");
    {
        EntryWriter writer(files, "sfx");
        writer.NextNumber();
        RiffCarver carver(writer);
        carver.Begin();
        SliceSizes sizes(seed);
        model::Bytes pending;
        std::size_t next = 4;  // the signature was read by the block stream
        for (;;) {
            const std::size_t slice = std::min(sizes.Next(), payload.size() - next);
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

    std::map<std::string, model::Bytes> expected;
    for (const auto& file : model::CarveRiffPayload(payload, 1)) {
        expected.emplace(model::OutputPath("sfx", file), file.bytes);
    }
    fuzz::Expect(files.Outputs() == expected,
                 "carving in slices differs from the model\n" + fuzz::DescribeOutputs(files.Outputs(), expected));
}

model::Bytes WrapInArchive(const model::Bytes& filler, std::span<const std::byte> payload)
{
    model::Bytes archive = filler;
    const auto length = static_cast<std::uint32_t>(payload.size() + 4);
    for (int i = 0; i < 4; ++i) {
        archive.push_back(static_cast<std::byte>(length >> (8 * i)));
    }
    archive.insert(archive.end(), payload.begin(), payload.end());
    archive.insert(archive.end(), 4, std::byte{0});  // the final field
    return archive;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::InputCursor input(data, size);
    fuzz::RunOptions options = fuzz::TakeRunOptions(input);
    const model::Bytes filler = fuzz::TakeFillerBlock(input, options);
    const std::uint64_t seed = input.Uint64();
    const auto rest = input.Rest();

    model::Bytes payload = testing::ToBytes("RIFF");
    payload.insert(payload.end(), rest.begin(), rest.end());
    if (payload.size() > 4) {
        CarveInSlices(payload, seed);
    }
    fuzz::CheckArchive(WrapInArchive(filler, payload), options);
    return 0;
}
