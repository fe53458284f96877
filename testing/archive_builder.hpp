#pragma once

// The one archive builder. An archive is written as a list of items, the
// same as in a layout text (see layout.hpp):
//
//     Archive().Block("AVQF1234").Block().Block(Riff(4), "xy", Riff(4)).Final();
//     Archive().Block("AVQF1234").Length(64, "AVQFpart");  // truncated
//     Archive().Repeat(1'000'000, Archive().Length(4)).Raw("end!");
//
// Bytes are made as they are read, so an archive of several GiB (a repeat,
// a long run of one byte) costs no memory until it is read whole.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "testing/byte_order.hpp"

namespace quorvel::testing {

// Bytes made in order: each read fills as much of `out` as there is left,
// and returns 0 only at the end.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::size_t Read(std::span<std::byte> out) = 0;
};

// Where a part is read from: the seed of the archive's noise and the
// part's offset in the archive.
struct Placement {
    std::uint64_t seed = 0;
    std::uint64_t offset = 0;
};

// What a part is made of; the generator adds its own kinds (sounds made
// by a synthesizer) through this.
class PartMaker {
public:
    virtual ~PartMaker() = default;
    virtual std::uint64_t Size() const = 0;
    virtual std::unique_ptr<ByteSource> Open(const Placement& at) const = 0;
};

// A run of archive bytes whose size is known before they are made.
class Part {
public:
    // The bytes of a text (they may hold '\0' when given as a string).
    Part(const char* text) : Part(std::string_view(text)) {}
    Part(const std::string& text) : Part(std::string_view(text)) {}
    Part(std::string_view text);
    Part(std::span<const std::byte> bytes) : Part(AsText(bytes)) {}
    explicit Part(std::shared_ptr<const PartMaker> maker) : maker_(std::move(maker)) {}

    std::uint64_t Size() const { return maker_->Size(); }
    std::unique_ptr<ByteSource> Open(const Placement& at) const { return maker_->Open(at); }

private:
    std::shared_ptr<const PartMaker> maker_;
};

// Fills `out` with a part's bytes from `offset` (in the part) on.
using FillAt = std::function<void(const Placement& at, std::uint64_t offset, std::span<std::byte> out)>;
// A part of `size` bytes whose bytes can be made from any offset on.
Part Generated(std::uint64_t size, FillAt fill);

// A well-formed sound of exactly `size` bytes (at least 12): size field
// size - 8, form type "WAVE", silent samples (no "RIFF" among them). From 44
// bytes on it has a canonical PCM header: a "fmt " chunk of 1 channel,
// 22050 Hz, 16 bits, and a "data" chunk of size - 44 bytes.
Part Wav(std::uint64_t size);
// The 44-byte header of a PCM WAV file: "RIFF", `riff_size`, "WAVE", a "fmt "
// chunk of the format and the header of a "data" chunk of `data_size` bytes.
std::string PcmHeader(std::uint32_t riff_size, std::uint16_t channels, std::uint32_t sample_rate,
                      std::uint16_t bits_per_sample, std::uint32_t data_size);
// "RIFF", the declared size (little-endian) and the form type: 12 bytes.
Part Riff(std::int32_t declared_size, std::string_view form_type = "WAVE");
Part Int32(std::int32_t value);
// `count` bytes of `value`.
Part Fill(std::uint64_t count, std::uint8_t value);
// `count` pseudo-random bytes without an 'R' (so never "RIFF"), made from the
// archive's seed and the offset they start at: repeated noise differs.
Part Noise(std::uint64_t count);

class Archive {
public:
    // A block: its length field (4 + the parts' size) and the parts.
    // Throws std::length_error when the length does not fit its field.
    template <typename... Parts>
    Archive& Block(const Parts&... parts)
    {
        return AddBlock({Part(parts)...});
    }
    // A length field of any value, then the parts as they are.
    template <typename... Parts>
    Archive& Length(std::int32_t field, const Parts&... parts)
    {
        return AddLength(field, {Part(parts)...});
    }
    template <typename... Parts>
    Archive& Raw(const Parts&... parts)
    {
        return AddRaw({Part(parts)...});
    }
    // The final field: 4 zero bytes.
    Archive& Final();
    Archive& Repeat(std::uint64_t count, const Archive& items);

    Archive& AddBlock(std::vector<Part> parts);
    Archive& AddLength(std::int32_t field, std::vector<Part> parts);
    Archive& AddRaw(std::vector<Part> parts);

    std::uint64_t Size() const { return size_; }
    // Items that start with a length field (blocks and raw lengths).
    std::uint64_t Blocks() const { return blocks_; }

    // Reads the bytes, the noise made from `seed` as if the archive started
    // at `offset`; the archive must outlive the source.
    std::unique_ptr<ByteSource> Open(std::uint64_t seed = 0, std::uint64_t offset = 0) const;
    Bytes Make(std::uint64_t seed = 0) const;
    std::string Str(std::uint64_t seed = 0) const { return std::string(AsText(Make(seed))); }
    // Streams the bytes to `out`, which is made to throw on failure.
    void WriteTo(std::ostream& out, std::uint64_t seed = 0) const;

private:
    void Add(Part part);

    std::vector<Part> parts_;
    std::uint64_t size_ = 0;
    std::uint64_t blocks_ = 0;
};

// The bytes of some parts, e.g. Str(Riff(4), "xy").
template <typename... Parts>
std::string Str(const Parts&... parts)
{
    return Archive().Raw(parts...).Str();
}

}  // namespace quorvel::testing
