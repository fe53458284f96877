#pragma once

// What both fuzz targets share: turning fuzz bytes into run parameters, and
// running the real extraction over an in-memory file system to check it
// against the reference model and the invariants every run must keep.

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "testing/byte_order.hpp"
#include "testing/reference_model.hpp"

namespace quorvel::fuzz {

// Hands out the fuzz input front to back; zeros once it runs dry, so every
// input is a valid case.
class InputCursor {
public:
    InputCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte();
    // The next sizeof(Number) bytes, little-endian.
    template <typename Number>
    Number Take()
    {
        Number value = 0;
        for (std::size_t i = 0; i < sizeof(Number); ++i) {
            value = static_cast<Number>(value | Number{Byte()} << (8 * i));
        }
        return value;
    }
    std::span<const std::byte> Rest();

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

enum class Fault { kNone, kCancel, kWriteFailure };

struct RunOptions {
    // Largest read the archive returns at once; 0 for no limit.
    std::size_t read_limit = 0;
    bool views = false;
    Fault fault = Fault::kNone;
    // The checkpoint that cancels (1 = the first), or the bytes that can be
    // written before the disk is full.
    std::uint64_t fault_at = 0;
};

// Reads the shared run parameters (4 bytes) from the front of the input.
RunOptions TakeRunOptions(InputCursor& input);

// Reads 1 byte choosing whether to put a zero-filled block in front of the
// archive, and returns it (empty for none). Such a block ends up to 63 bytes
// before the 64 KiB chunk boundary, so that the headers and markers that
// follow straddle it. Tiny reads become 1 KiB reads then, to keep runs quick.
testing::Bytes TakeFillerBlock(InputCursor& input, RunOptions& options);

// Runs the real extraction of `archive` and stops the process (a finding)
// if anything differs from what the reference model expects.
void CheckArchive(std::span<const std::byte> archive, const RunOptions& options);

// The first `count` of the model's `files`, by path ("sfx/sfx_0001.wav"),
// with their bytes out of `archive`.
std::map<std::string, testing::Bytes> ModelOutputs(std::span<const std::byte> archive,
                                                   std::span<const model::File> files, std::size_t count);

// Lists two sets of outputs side by side, for a finding's report.
std::string DescribeOutputs(const std::map<std::string, testing::Bytes>& actual,
                            const std::map<std::string, testing::Bytes>& expected);

// Reports a finding: prints what was expected and aborts.
[[noreturn]] void Finding(std::string_view what);
inline void Expect(bool holds, std::string_view what)
{
    if (!holds) {
        Finding(what);
    }
}

}  // namespace quorvel::fuzz
