#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "extract/entry.hpp"

namespace quorvel {

// An archive whose last block ran past its end.
struct Truncation {
    std::string archive;
    std::uint64_t block_offset = 0;
    std::uint64_t missing_bytes = 0;

    std::string Describe() const;
};

// Where one block lies in the archive, as the block stream walked it.
struct BlockExtent {
    std::uint64_t offset = 0;  // of its length field
    std::int32_t length_field = 0;
    std::uint64_t payload_offset = 0;
    // Payload bytes the block took from the archive: 0 for a length of 4 or
    // less, fewer than the length says when the archive ends inside it.
    std::uint64_t payload_size = 0;
    bool truncated = false;

    std::uint64_t End() const { return payload_offset + payload_size; }
};

// How the extraction reports to whoever runs it.
class ExtractionListener {
public:
    virtual ~ExtractionListener() = default;
    virtual void StatusChanged(std::string_view text) = 0;
    // The archive ends inside its last block. Told as soon as that is known,
    // before the block is extracted, so that a run that then fails or is
    // stopped can still say so.
    virtual void TruncationFound(const Truncation& truncation) = 0;
    // Bytes of the archive accounted for since the last call.
    virtual void Advance(std::uint64_t bytes) = 0;
    // After every block and every 64 KiB chunk: show the progress and let
    // the user interface breathe. Throws Cancelled when the user stopped the run.
    virtual void Checkpoint() = 0;
    // A file was finished: written whole and closed.
    virtual void EntryFinished(const Entry& /*entry*/) {}
    // A file was not written because its name was taken and the run keeps
    // what it finds (FileSystem::IfTaken::kKeep).
    virtual void EntryKept(const Entry& /*entry*/) {}
    // A block was walked; the files made from it were told before.
    virtual void BlockFinished(const BlockExtent& /*block*/) {}
};

}  // namespace quorvel
