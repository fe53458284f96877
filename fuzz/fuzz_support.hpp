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

#include "fuzz/reference_model.hpp"

namespace quorvel::fuzz {

// Hands out the fuzz input front to back; zeros once it runs dry, so every
// input is a valid case.
class InputCursor {
public:
    InputCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte();
    std::uint16_t Uint16();
    std::uint64_t Uint64();
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
model::Bytes TakeFillerBlock(InputCursor& input, RunOptions& options);

// Runs the real extraction of `archive` and stops the process (a finding)
// if anything differs from what the reference model expects.
void CheckArchive(std::span<const std::byte> archive, const RunOptions& options);

// Lists two sets of outputs side by side, for a finding's report.
std::string DescribeOutputs(const std::map<std::string, model::Bytes>& actual,
                            const std::map<std::string, model::Bytes>& expected);

// Reports a finding: prints what was expected and aborts.
[[noreturn]] void Finding(std::string_view what);
inline void Expect(bool holds, std::string_view what)
{
    if (!holds) {
        Finding(what);
    }
}

}  // namespace quorvel::fuzz
