#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "extract/extraction_listener.hpp"
#include "extract/file_system.hpp"
#include "pack/archive_plan.hpp"

namespace quorvel {

// A block whose bytes change, and the files behind its new bytes.
struct BlockChange {
    std::uint64_t offset = 0;
    std::uint64_t old_size = 0;  // length field and payload
    std::uint64_t new_size = 0;
    std::vector<std::string> files;  // "sfx/sfx_0012.wav"
    bool final_field = false;        // the bytes after the last block, not a block
};

// The new archive, laid out from the plan and the folder's files as they
// are now: every block rebuilt from its files with its length recomputed;
// blocks without file bytes and the bytes after the last block as they
// are; a truncated archive made whole, ending with a zero final field.
class NewArchive {
public:
    // One run of the new archive's bytes and where it comes from.
    struct Piece {
        enum class Source { kLengthField, kOldArchive, kFile };
        Source source = Source::kOldArchive;
        std::uint64_t size = 0;
        std::int32_t length_field = 0;  // kLengthField
        std::uint64_t old_offset = 0;   // kOldArchive: where the bytes lie in the old archive
        std::string path;               // kFile: as the FileSystem opens it, and as messages name it
    };

    // A block of the new archive, or the bytes after the last block, and
    // where it stood in the old one.
    struct Part {
        const PlannedBlock* block = nullptr;  // nothing for the bytes after the last block
        std::uint64_t old_offset = 0;
        std::uint64_t old_size = 0;
        std::size_t first_piece = 0;
        std::size_t piece_count = 0;
        std::uint64_t new_size = 0;
        // The old bytes in their old place, so unchanged whatever the folder holds.
        bool unchanged = false;
    };

    // Sizes every file the plan names (which must all be there). Throws
    // PackRefused for a block that would outgrow its length field.
    static NewArchive LayOut(const ArchivePlan& plan, FileSystem& files);

    const ArchivePlan& plan() const { return *plan_; }
    std::uint64_t Size() const { return size_; }
    const std::vector<Part>& parts() const { return parts_; }
    const std::vector<Piece>& pieces() const { return pieces_; }

private:
    explicit NewArchive(const ArchivePlan& plan) : plan_(&plan) {}
    void AddPart(const PlannedBlock* block, std::uint64_t old_offset, std::uint64_t old_size, bool unchanged);
    void AddPiece(Piece piece);
    void LayOutBlock(const PlannedBlock& block, FileSystem& files);

    const ArchivePlan* plan_;
    std::uint64_t size_ = 0;
    std::vector<Part> parts_;
    std::vector<Piece> pieces_;
};

// Writes the new archive into `out`, each part through the window of the
// file it comes from. `progress` hears Advance and Checkpoint for every
// few MiB and every block.
void WriteNewArchive(const NewArchive& archive, InputFile& old_archive, FileSystem& files, OutputFile& out,
                     ExtractionListener& progress);

// The new archive as a file that is never written, its bytes made as they
// are read from the old archive and the folder's files: what a dry run
// verifies. As it is read front to back, the parts that differ from the
// old bytes in their place are added to `changes`, if given.
std::unique_ptr<InputFile> ReadNewArchive(const NewArchive& archive, InputFile& old_archive, FileSystem& files,
                                          std::vector<BlockChange>* changes);

}  // namespace quorvel
