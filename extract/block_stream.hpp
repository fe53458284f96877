#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "extract/file_system.hpp"

namespace quorvel {

struct Truncation;

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
};

// An archive whose last block ran past its end.
struct Truncation {
    std::string archive;
    std::uint64_t block_offset = 0;
    std::uint64_t missing_bytes = 0;

    std::string Describe() const;
};

std::string ArchivePath(std::string_view name);

// Unpacks {name}.pak into the folder {name}, one numbered file per block and
// per carved sound. Throws ExtractError on failure; files finished before
// then stay, the one being written is removed.
void ExtractArchive(const std::string& name, FileSystem& files, ExtractionListener& listener);

}  // namespace quorvel
