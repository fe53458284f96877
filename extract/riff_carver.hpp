#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "extract/archive_format.hpp"
#include "extract/entry_writer.hpp"

namespace quorvel {

// Cuts one RIFF block into sound files while it streams past.
//
// The block is split wherever "RIFF" recurs; each piece is kept up to the
// size its own header declares (the size field + 8) and anything beyond that
// is a tail written to a file of its own. A "RIFF" inside the declared extent
// of the current sound is only believed when it carries the same form type
// (bytes 8..11, such as WAVE) as the sound it would cut short.
//
// Memory stays at a few bytes whatever the size of the block: bytes are
// routed to their file as soon as it is known which piece they belong to.
class RiffCarver {
public:
    explicit RiffCarver(EntryWriter& output) : output_(output) {}

    // Starts a block whose 4-byte signature "RIFF", at `block_offset` of
    // the archive, has been read and which has more bytes after it. Creates
    // the .wav file for the current number.
    void Begin(std::uint64_t block_offset = 0);

    // Carves the next bytes of the block. Returns how many of them are done
    // with; the others (at most 11) must be passed in again at the front of
    // the next call. With `block_end` set, `bytes` runs to the end of the
    // block and all of them are done with.
    std::size_t Feed(std::span<const std::byte> bytes, bool block_end);

private:
    enum class Verdict { kSplit, kSoundData, kNeedMoreBytes };

    // `offset_in_piece` is where the match lies in the current piece, whose
    // header must be complete when it is 12 or more.
    Verdict Judge(std::span<const std::byte> bytes, std::size_t match, std::uint64_t offset_in_piece,
                  bool block_end) const;
    void StartPiece();
    void Route(std::span<const std::byte> bytes);
    void Emit(std::span<const std::byte> bytes, std::uint64_t offset_in_piece);
    void EndPiece();

    // A header is "RIFF", the size and the form type: a "RIFF" closer than
    // this to the start of its piece cannot be weighed against that form type.
    static constexpr std::size_t kHeaderSize = format::kRiffHeaderSize;
    static constexpr std::size_t kSizeFieldEnd = format::kRiffSizeFieldEnd;

    EntryWriter& output_;
    std::array<std::byte, kHeaderSize> header_{};
    // Bytes of the current piece routed so far (the first 8 are held in
    // header_ until the declared size is known).
    std::uint64_t piece_length_ = 0;
    // Offset in the piece where the sound ends and the tail starts.
    std::int64_t kept_length_ = 0;
    // Archive offsets: of the next byte to be routed, and of the current piece.
    std::uint64_t next_offset_ = 0;
    std::uint64_t piece_offset_ = 0;
    bool tail_open_ = false;
};

}  // namespace quorvel
