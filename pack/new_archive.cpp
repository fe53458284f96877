#include "pack/new_archive.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "extract/archive_format.hpp"
#include "extract/archive_reader.hpp"
#include "extract/window_writer.hpp"
#include "pack/folder_file.hpp"
#include "pack/pack_refused.hpp"

namespace quorvel {
namespace {

using Piece = NewArchive::Piece;
using Part = NewArchive::Part;

constexpr std::uint64_t kLengthFieldSize = format::kLengthFieldSize;
// Files are copied in spans of a few MiB, with a checkpoint between them,
// so that a stop is seen within one span.
constexpr std::uint64_t kCopySpan = 64 * format::kChunkSize;

Piece LengthFieldPiece(std::uint64_t block_length)
{
    return Piece{.source = Piece::Source::kLengthField,
                 .size = kLengthFieldSize,
                 .length_field = static_cast<std::int32_t>(block_length),
                 .old_offset = 0,
                 .path = {}};
}

Piece OldPiece(std::uint64_t offset, std::uint64_t size)
{
    return Piece{
        .source = Piece::Source::kOldArchive, .size = size, .length_field = 0, .old_offset = offset, .path = {}};
}

// A file of the folder that is not the size it had when the new archive
// was laid out: whatever it holds now, the length field written for it
// would be wrong.
[[noreturn]] void ThrowFileChanged(const Piece& piece, std::uint64_t size)
{
    throw ExtractError(Failure{.kind = FailureKind::kChanged,
                               .description = "the file changed while it was being packed: it is " +
                                              std::to_string(size) + " bytes long, was " + std::to_string(piece.size),
                               .file = piece.path});
}

std::unique_ptr<InputFile> OpenPieceFile(const Piece& piece, FileSystem& files)
{
    auto file = OpenFolderFile(files, piece.path);
    if (file->Size() != piece.size) {
        ThrowFileChanged(piece, file->Size());
    }
    return file;
}

}  // namespace

NewArchive NewArchive::LayOut(const ArchivePlan& plan, FileSystem& files)
{
    NewArchive archive(plan);
    for (const PlannedBlock& block : plan.blocks) {
        archive.LayOutBlock(block, files);
    }
    const std::uint64_t trailer = plan.TrailerOffset();
    const std::uint64_t old_size = plan.archive_size - trailer;
    if (plan.truncation) {
        archive.AddPart(nullptr, trailer, old_size, false);
        archive.AddPiece(LengthFieldPiece(0));  // the final field the archive lacked
    } else {
        archive.AddPart(nullptr, trailer, old_size, true);
        archive.AddPiece(OldPiece(trailer, old_size));
    }
    return archive;
}

void NewArchive::AddPart(const PlannedBlock* block, std::uint64_t old_offset, std::uint64_t old_size, bool unchanged)
{
    parts_.push_back(Part{.block = block,
                          .old_offset = old_offset,
                          .old_size = old_size,
                          .first_piece = pieces_.size(),
                          .piece_count = 0,
                          .new_size = 0,
                          .unchanged = unchanged});
}

void NewArchive::AddPiece(Piece piece)
{
    Part& part = parts_.back();
    ++part.piece_count;
    part.new_size += piece.size;
    size_ += piece.size;
    pieces_.push_back(std::move(piece));
}

// A block whose files hold no bytes (a length of 4 or less, whose file is
// empty, or a payload of just "RIFF", which makes no file) stays as it is;
// one cut short by the archive's end gets the length of what it holds.
// Every other block is its files, in order, behind a new length field.
void NewArchive::LayOutBlock(const PlannedBlock& block, FileSystem& files)
{
    const BlockExtent& extent = block.extent;
    if (block.file_count == 0 || format::IsEmptyBlock(extent.length_field)) {
        AddPart(&block, extent.offset, block.OldSize(), !extent.truncated);
        if (extent.truncated) {
            AddPiece(LengthFieldPiece(kLengthFieldSize + extent.payload_size));
            AddPiece(OldPiece(extent.payload_offset, extent.payload_size));
        } else {
            AddPiece(OldPiece(extent.offset, block.OldSize()));
        }
        return;
    }
    AddPart(&block, extent.offset, block.OldSize(), false);
    const std::size_t length_piece = pieces_.size();
    AddPiece(LengthFieldPiece(0));
    std::uint64_t length = kLengthFieldSize;
    for (std::size_t i = 0; i < block.file_count; ++i) {
        std::string path = plan_->FilePath(files, block, i);
        const std::uint64_t size = OpenFolderFile(files, path)->Size();
        length += size;
        if (length > static_cast<std::uint64_t>(format::kLongestBlock)) {
            throw PackRefused(path, "the block at offset " + std::to_string(extent.offset) +
                                        " would grow to at least " + std::to_string(length) +
                                        " bytes with it, past the largest block length of " +
                                        std::to_string(format::kLongestBlock) + " bytes");
        }
        AddPiece(Piece{
            .source = Piece::Source::kFile, .size = size, .length_field = 0, .old_offset = 0, .path = std::move(path)});
    }
    pieces_[length_piece].length_field = static_cast<std::int32_t>(length);
}

namespace {

// Copies a span of a file through its window into `out`, a few MiB at a
// time with a checkpoint between them (not after the last: the caller's
// own comes then).
void CopyInSpans(ArchiveReader& reader, OutputFile& out, std::uint64_t length, ExtractionListener& progress)
{
    WindowWriter writer(&reader);
    while (length != 0) {
        const std::uint64_t span = std::min(length, kCopySpan);
        writer.Copy(out, span);
        writer.Finish();
        length -= span;
        progress.Advance(span);
        if (length != 0) {
            progress.Checkpoint();
        }
    }
}

void CopyFilePiece(const Piece& piece, FileSystem& files, OutputFile& out, ExtractionListener& progress)
{
    const auto file = OpenPieceFile(piece, files);
    ArchiveReader reader(*file, piece.path);
    try {
        CopyInSpans(reader, out, piece.size, progress);
    } catch (const ExtractError& error) {
        if (error.failure().kind != FailureKind::kEndedEarly || error.failure().file != piece.path) {
            throw;
        }
        throw ExtractError(Failure{.kind = FailureKind::kChanged,
                                   .description = "the file became shorter while it was being packed",
                                   .file = piece.path,
                                   .offset = error.failure().offset});
    }
}

}  // namespace

void WriteNewArchive(const NewArchive& archive, InputFile& old_archive, FileSystem& files, OutputFile& out,
                     ExtractionListener& progress)
{
    ArchiveReader old(old_archive, archive.plan().location.archive_path);
    for (const Part& part : archive.parts()) {
        for (std::size_t i = part.first_piece; i < part.first_piece + part.piece_count; ++i) {
            const Piece& piece = archive.pieces()[i];
            switch (piece.source) {
                case Piece::Source::kLengthField:
                    out.Write(format::StoreInt32(piece.length_field));
                    progress.Advance(piece.size);
                    break;
                case Piece::Source::kOldArchive:
                    old.Skip(piece.old_offset - old.Position());
                    CopyInSpans(old, out, piece.size, progress);
                    break;
                case Piece::Source::kFile:
                    CopyFilePiece(piece, files, out, progress);
                    break;
            }
        }
        if (part.block != nullptr) {
            progress.Checkpoint();
        }
    }
}

namespace {

// The new archive made as it is read. Reads come front to back (the block
// stream's); one further back starts over.
class NewArchiveFile final : public InputFile {
public:
    NewArchiveFile(const NewArchive& archive, InputFile& old_archive, FileSystem& files,
                   std::vector<BlockChange>* changes)
        : archive_(archive), old_(old_archive), files_(files), changes_(changes)
    {
    }

    std::uint64_t Size() override { return archive_.Size(); }

    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        if (offset < position_) {
            StartOver();
        }
        std::vector<std::byte> passed(format::kChunkSize);
        while (position_ < offset) {
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(passed.size(), offset - position_));
            if (Make(std::span(passed).first(count)) == 0) {
                return 0;
            }
        }
        return Make(buffer);
    }

private:
    void StartOver()
    {
        piece_ = 0;
        in_piece_ = 0;
        position_ = 0;
        file_.reset();
        part_ = 0;
        in_part_ = 0;
        part_differs_ = false;
    }

    // Some of the next bytes, from the one piece they lie in; 0 at the end.
    std::size_t Make(std::span<std::byte> out)
    {
        const auto& pieces = archive_.pieces();
        PassFinishedPieces();
        if (piece_ == pieces.size() || out.empty()) {
            return 0;
        }
        const Piece& piece = pieces[piece_];
        out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), piece.size - in_piece_)));
        std::size_t made = 0;
        switch (piece.source) {
            case Piece::Source::kLengthField: {
                const auto field = format::StoreInt32(piece.length_field);
                made = out.size();
                std::memcpy(out.data(), field.data() + in_piece_, made);
                break;
            }
            case Piece::Source::kOldArchive:
                made = ReadFully(old_, piece.old_offset + in_piece_, out);
                if (made == 0) {
                    throw ExtractError(Failure{.kind = FailureKind::kChanged,
                                               .description = "the archive became shorter while it was being packed",
                                               .file = archive_.plan().location.archive_path,
                                               .offset = piece.old_offset + in_piece_});
                }
                break;
            case Piece::Source::kFile:
                if (!file_) {
                    file_ = OpenPieceFile(piece, files_);
                }
                made = ReadFully(*file_, in_piece_, out);
                if (made == 0) {
                    throw ExtractError(Failure{.kind = FailureKind::kChanged,
                                               .description = "the file became shorter while it was being packed",
                                               .file = piece.path,
                                               .offset = in_piece_});
                }
                break;
        }
        Compare(out.first(made));
        in_piece_ += made;
        position_ += made;
        // A part is finished with its last byte: the reader may never ask
        // for more once it has the final field.
        PassFinishedPieces();
        return made;
    }

    void PassFinishedPieces()
    {
        const auto& pieces = archive_.pieces();
        while (piece_ < pieces.size() && in_piece_ == pieces[piece_].size) {
            NextPiece();
        }
    }

    // As many of `out` as the file still has from `offset` on.
    static std::size_t ReadFully(InputFile& file, std::uint64_t offset, std::span<std::byte> out)
    {
        std::size_t got = 0;
        while (got < out.size()) {
            const std::size_t count = file.ReadAt(offset + got, out.subspan(got));
            if (count == 0) {
                break;
            }
            got += count;
        }
        return got;
    }

    void NextPiece()
    {
        file_.reset();
        ++piece_;
        in_piece_ = 0;
        const Part& part = archive_.parts()[part_];
        if (piece_ == part.first_piece + part.piece_count) {
            FinishPart(part);
            ++part_;
            in_part_ = 0;
            part_differs_ = false;
        }
    }

    // The bytes just made, against the old bytes in their place.
    void Compare(std::span<const std::byte> made)
    {
        const Part& part = archive_.parts()[part_];
        if (changes_ == nullptr || part.unchanged || made.empty()) {
            return;
        }
        if (!part_differs_) {
            if (in_part_ + made.size() > part.old_size) {
                part_differs_ = true;
            } else {
                old_bytes_.resize(made.size());
                const std::size_t got = ReadFully(old_, part.old_offset + in_part_, old_bytes_);
                part_differs_ = got != made.size() || std::memcmp(old_bytes_.data(), made.data(), got) != 0;
            }
        }
        in_part_ += made.size();
    }

    void FinishPart(const Part& part)
    {
        if (changes_ == nullptr || part.unchanged || (!part_differs_ && part.new_size == part.old_size)) {
            return;
        }
        BlockChange change{.offset = part.old_offset,
                           .old_size = part.old_size,
                           .new_size = part.new_size,
                           .files = {},
                           .final_field = part.block == nullptr};
        for (std::size_t i = part.first_piece; i < part.first_piece + part.piece_count; ++i) {
            if (archive_.pieces()[i].source == Piece::Source::kFile) {
                change.files.push_back(archive_.pieces()[i].path);
            }
        }
        changes_->push_back(std::move(change));
    }

    const NewArchive& archive_;
    InputFile& old_;
    FileSystem& files_;
    std::vector<BlockChange>* changes_;
    std::size_t piece_ = 0;
    std::uint64_t in_piece_ = 0;
    std::uint64_t position_ = 0;
    std::unique_ptr<InputFile> file_;  // of the current piece, if it is a file
    std::size_t part_ = 0;
    std::uint64_t in_part_ = 0;
    bool part_differs_ = false;
    std::vector<std::byte> old_bytes_;
};

}  // namespace

std::unique_ptr<InputFile> ReadNewArchive(const NewArchive& archive, InputFile& old_archive, FileSystem& files,
                                          std::vector<BlockChange>* changes)
{
    return std::make_unique<NewArchiveFile>(archive, old_archive, files, changes);
}

}  // namespace quorvel
