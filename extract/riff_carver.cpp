#include "extract/riff_carver.hpp"

#include <algorithm>

#include "extract/archive_format.hpp"
#include "extract/riff_search.hpp"

namespace quorvel {
namespace {

using format::kRiff;

// Length of the longest end of `bytes` (from `from` on) that could be the
// start of a "RIFF" completed by the next bytes of the block.
std::size_t PartialRiffAtEnd(std::span<const std::byte> bytes, std::size_t from)
{
    const std::size_t available = bytes.size() - from;
    for (std::size_t length = std::min<std::size_t>(3, available); length > 0; --length) {
        if (std::equal(bytes.end() - static_cast<std::ptrdiff_t>(length), bytes.end(), kRiff.begin())) {
            return length;
        }
    }
    return 0;
}

}  // namespace

void RiffCarver::Begin(std::uint64_t block_offset)
{
    next_offset_ = block_offset;
    StartPiece();
    output_.Create(EntryKind::kSound, piece_offset_);
    Route(kRiff);
}

std::size_t RiffCarver::Feed(std::span<const std::byte> bytes, bool block_end)
{
    std::size_t routed = 0;
    std::size_t scan = 0;
    for (;;) {
        const std::size_t match = FindRiff(bytes, scan);
        if (match == kNoMatch) {
            const std::size_t held_back = block_end ? 0 : PartialRiffAtEnd(bytes, scan);
            const std::size_t done = bytes.size() - held_back;
            Route(bytes.subspan(routed, done - routed));
            if (block_end) {
                EndPiece();
            }
            return done;
        }
        // The bytes before a "RIFF" belong to the current piece whatever it
        // turns out to be. They are routed first while its header is
        // incomplete, so that the verdict sees the declared size; after
        // that, a "RIFF" that is sound data leaves them to be written with
        // what follows, in one write rather than one per chance match.
        if (piece_length_ < kHeaderSize) {
            Route(bytes.subspan(routed, match - routed));
            routed = match;
        }
        const std::uint64_t offset_in_piece = piece_length_ + (match - routed);
        switch (Judge(bytes, match, offset_in_piece, block_end)) {
            case Verdict::kNeedMoreBytes:
                Route(bytes.subspan(routed, match - routed));
                return match;
            case Verdict::kSoundData:
                break;
            case Verdict::kSplit:
                Route(bytes.subspan(routed, match - routed));
                routed = match;
                EndPiece();
                output_.NextNumber();
                StartPiece();
                output_.Create(EntryKind::kSound, piece_offset_);
                break;
        }
        scan = match + kRiff.size();
    }
}

RiffCarver::Verdict RiffCarver::Judge(std::span<const std::byte> bytes, std::size_t match,
                                      std::uint64_t offset_in_piece, bool block_end) const
{
    if (offset_in_piece < kHeaderSize || static_cast<std::int64_t>(offset_in_piece) >= kept_length_) {
        return Verdict::kSplit;
    }
    // Inside the declared extent of the current sound: a real next sound
    // would carry the same form type; a chance "RIFF" in the samples would not.
    if (bytes.size() - match < kHeaderSize) {
        return block_end ? Verdict::kSoundData : Verdict::kNeedMoreBytes;
    }
    const auto form_type = bytes.subspan(match + kSizeFieldEnd, 4);
    const bool same_form = std::equal(form_type.begin(), form_type.end(), header_.begin() + kSizeFieldEnd);
    return same_form ? Verdict::kSplit : Verdict::kSoundData;
}

void RiffCarver::StartPiece()
{
    piece_offset_ = next_offset_;
    piece_length_ = 0;
    kept_length_ = 0;
    tail_open_ = false;
}

void RiffCarver::Route(std::span<const std::byte> bytes)
{
    if (bytes.empty()) {
        return;
    }
    next_offset_ += bytes.size();
    if (piece_length_ < kSizeFieldEnd) {
        // Nothing can be written before the declared size says where the
        // sound ends: a size below -8 sends even the header to the tail.
        const std::size_t count = std::min<std::size_t>(bytes.size(), kSizeFieldEnd - piece_length_);
        std::copy_n(bytes.begin(), count, header_.begin() + static_cast<std::ptrdiff_t>(piece_length_));
        piece_length_ += count;
        bytes = bytes.subspan(count);
        if (piece_length_ < kSizeFieldEnd) {
            return;
        }
        kept_length_ = format::KeptLength(format::LoadInt32(std::span(header_).subspan<4, 4>()));
        Emit(std::span(header_).first(kSizeFieldEnd), 0);
    }
    if (piece_length_ < kHeaderSize) {
        const std::size_t count = std::min<std::size_t>(bytes.size(), kHeaderSize - piece_length_);
        std::copy_n(bytes.begin(), count, header_.begin() + static_cast<std::ptrdiff_t>(piece_length_));
    }
    Emit(bytes, piece_length_);
    piece_length_ += bytes.size();
}

void RiffCarver::Emit(std::span<const std::byte> bytes, std::uint64_t offset_in_piece)
{
    std::size_t sound_part = 0;
    if (kept_length_ > 0 && offset_in_piece < static_cast<std::uint64_t>(kept_length_)) {
        sound_part = static_cast<std::size_t>(
            std::min<std::uint64_t>(bytes.size(), static_cast<std::uint64_t>(kept_length_) - offset_in_piece));
    }
    output_.Write(bytes.first(sound_part));
    const auto tail = bytes.subspan(sound_part);
    if (tail.empty()) {
        return;
    }
    if (!tail_open_) {
        output_.NextNumber();
        output_.Create(EntryKind::kTail, piece_offset_ + offset_in_piece + sound_part);
        tail_open_ = true;
    }
    output_.Write(tail);
}

void RiffCarver::EndPiece()
{
    // Too short to hold a size: the piece is kept whole, with no tail.
    if (piece_length_ < kSizeFieldEnd) {
        output_.Write(std::span(header_).first(static_cast<std::size_t>(piece_length_)));
    }
}

}  // namespace quorvel
