// Fuzzes whole archives through the real block stream and compares every
// run with the reference model.
//
// Input: 4 bytes of run parameters (fault, read size limit), 1 byte choosing
// a zero-filled block to put in front, then the archive.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.hpp"
#include "testing/archive_builder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quorvel;
    fuzz::InputCursor input(data, size);
    fuzz::RunOptions options = fuzz::TakeRunOptions(input);
    const testing::Bytes filler = fuzz::TakeFillerBlock(input, options);
    fuzz::CheckArchive(testing::Archive().Raw(filler, input.Rest()).Make(), options);
    return 0;
}
