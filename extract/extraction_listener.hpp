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
};

}  // namespace quorvel
