#include "testing/archive_builder.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <stdexcept>

#include "testing/prng.hpp"

namespace quorvel::testing {
namespace {

constexpr std::uint64_t kLengthFieldSize = 4;

// Bytes that can be made from any offset on: texts, fields, runs, noise.
class DirectMaker final : public PartMaker {
public:
    DirectMaker(std::uint64_t size, FillAt fill) : size_(size), fill_(std::move(fill)) {}

    std::uint64_t Size() const override { return size_; }
    std::unique_ptr<ByteSource> Open(const Placement& at) const override { return std::make_unique<Source>(*this, at); }

private:
    class Source final : public ByteSource {
    public:
        Source(const DirectMaker& maker, const Placement& at) : maker_(maker), at_(at) {}

        std::size_t Read(std::span<std::byte> out) override
        {
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), maker_.size_ - done_));
            maker_.fill_(at_, done_, out.first(count));
            done_ += count;
            return count;
        }

    private:
        const DirectMaker& maker_;
        Placement at_;
        std::uint64_t done_ = 0;
    };

    std::uint64_t size_;
    FillAt fill_;
};

}  // namespace

Part Generated(std::uint64_t size, FillAt fill)
{
    return Part(std::make_shared<DirectMaker>(size, std::move(fill)));
}

namespace {

// `head`, then zero bytes up to `size`.
Part HeadThenZeros(std::string head, std::uint64_t size)
{
    return Generated(size, [head = std::move(head)](const Placement&, std::uint64_t offset, std::span<std::byte> out) {
        std::fill(out.begin(), out.end(), std::byte{0});
        if (offset < head.size()) {
            std::memcpy(out.data(), head.data() + offset, std::min<std::uint64_t>(out.size(), head.size() - offset));
        }
    });
}

std::string LittleEndian(std::uint32_t value, std::size_t size = 4)
{
    std::string text(size, '\0');
    PutLittleEndian(std::as_writable_bytes(std::span(text)), value);
    return text;
}

// Reads the sources `next` opens one after another, each opened at the
// archive offset reached; `next` gives nothing at the end.
class ConcatSource final : public ByteSource {
public:
    using Next = std::function<std::unique_ptr<ByteSource>(std::uint64_t offset)>;

    ConcatSource(std::uint64_t offset, Next next) : offset_(offset), next_(std::move(next)) {}

    std::size_t Read(std::span<std::byte> out) override
    {
        std::size_t done = 0;
        while (done < out.size() && (source_ || (source_ = next_(offset_)))) {
            const std::size_t count = source_->Read(out.subspan(done));
            if (count == 0) {
                source_.reset();
            }
            done += count;
            offset_ += count;
        }
        return done;
    }

private:
    std::uint64_t offset_;
    Next next_;
    std::unique_ptr<ByteSource> source_;
};

class RepeatMaker final : public PartMaker {
public:
    RepeatMaker(std::uint64_t count, Archive items) : count_(count), items_(std::move(items)) {}

    std::uint64_t Size() const override { return count_ * items_.Size(); }
    std::unique_ptr<ByteSource> Open(const Placement& at) const override
    {
        const std::uint64_t rounds = items_.Size() == 0 ? 0 : count_;
        return std::make_unique<ConcatSource>(
            at.offset, [this, rounds, seed = at.seed, round = std::uint64_t{0}](std::uint64_t offset) mutable {
                return round++ < rounds ? items_.Open(seed, offset) : nullptr;
            });
    }

private:
    std::uint64_t count_;
    Archive items_;
};

}  // namespace

Part::Part(std::string_view text) : Part(HeadThenZeros(std::string(text), text.size())) {}

Part Wav(std::uint64_t size)
{
    constexpr std::uint64_t kCanonicalHeaderSize = 44;
    if (size < 12 || size - 8 > std::numeric_limits<std::uint32_t>::max()) {
        throw std::invalid_argument("wav(" + std::to_string(size) + "): a sound has 12 bytes up to 4 GiB");
    }
    const auto riff_size = static_cast<std::uint32_t>(size - 8);
    return HeadThenZeros(
        size < kCanonicalHeaderSize
            ? Str(Riff(static_cast<std::int32_t>(riff_size)))
            : PcmHeader(riff_size, 1, 22050, 16, static_cast<std::uint32_t>(size - kCanonicalHeaderSize)),
        size);
}

std::string PcmHeader(std::uint32_t riff_size, std::uint16_t channels, std::uint32_t sample_rate,
                      std::uint16_t bits_per_sample, std::uint32_t data_size)
{
    const std::uint32_t block_align = channels * bits_per_sample / 8u;
    return "RIFF" + LittleEndian(riff_size) + "WAVEfmt " + LittleEndian(16) + LittleEndian(1, 2) +  // integer PCM
           LittleEndian(channels, 2) + LittleEndian(sample_rate) + LittleEndian(sample_rate * block_align) +
           LittleEndian(block_align, 2) + LittleEndian(bits_per_sample, 2) + "data" + LittleEndian(data_size);
}

Part Riff(std::int32_t declared_size, std::string_view form_type)
{
    if (form_type.size() != 4) {
        throw std::invalid_argument("a form type has 4 bytes, not \"" + std::string(form_type) + "\"");
    }
    return Part("RIFF" + LittleEndian(static_cast<std::uint32_t>(declared_size)) + std::string(form_type));
}

Part Int32(std::int32_t value)
{
    return Part(LittleEndian(static_cast<std::uint32_t>(value)));
}

Part Fill(std::uint64_t count, std::uint8_t value)
{
    return Generated(count, [value](const Placement&, std::uint64_t, std::span<std::byte> out) {
        std::fill(out.begin(), out.end(), std::byte{value});
    });
}

Part Noise(std::uint64_t count)
{
    return Generated(count, [](const Placement& at, std::uint64_t offset, std::span<std::byte> out) {
        SplitMix64::Bytes(SplitMix64(at.seed).Next() ^ at.offset, offset, out);
        std::replace(out.begin(), out.end(), std::byte{'R'}, std::byte{'r'});
    });
}

void Archive::Add(Part part)
{
    size_ += part.Size();
    parts_.push_back(std::move(part));
}

Archive& Archive::AddBlock(std::vector<Part> parts)
{
    std::uint64_t length = kLengthFieldSize;
    for (const Part& part : parts) {
        length += part.Size();
    }
    if (length > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw std::length_error("block of " + std::to_string(length) + " bytes is too long for its 32-bit length");
    }
    return AddLength(static_cast<std::int32_t>(length), std::move(parts));
}

Archive& Archive::AddLength(std::int32_t field, std::vector<Part> parts)
{
    ++blocks_;
    Add(Int32(field));
    return AddRaw(std::move(parts));
}

Archive& Archive::AddRaw(std::vector<Part> parts)
{
    for (Part& part : parts) {
        Add(std::move(part));
    }
    return *this;
}

Archive& Archive::Final()
{
    return Raw(Fill(kLengthFieldSize, 0));
}

Archive& Archive::Repeat(std::uint64_t count, const Archive& items)
{
    if (items.size_ != 0 && count > std::numeric_limits<std::uint64_t>::max() / items.size_) {
        throw std::length_error("an archive of " + std::to_string(count) + " times " + std::to_string(items.size_) +
                                " bytes is too large");
    }
    blocks_ += count * items.blocks_;
    Add(Part(std::make_shared<RepeatMaker>(count, items)));
    return *this;
}

std::unique_ptr<ByteSource> Archive::Open(std::uint64_t seed, std::uint64_t offset) const
{
    return std::make_unique<ConcatSource>(offset, [this, seed, next = std::size_t{0}](std::uint64_t at) mutable {
        return next < parts_.size() ? parts_[next++].Open({seed, at}) : nullptr;
    });
}

Bytes Archive::Make(std::uint64_t seed) const
{
    Bytes bytes(size_);
    bytes.resize(Open(seed)->Read(bytes));
    return bytes;
}

void Archive::WriteTo(std::ostream& out, std::uint64_t seed) const
{
    out.exceptions(std::ios::failbit | std::ios::badbit);
    const auto source = Open(seed);
    std::vector<char> chunk(64 * 1024);
    while (const std::size_t count = source->Read(std::as_writable_bytes(std::span(chunk)))) {
        out.write(chunk.data(), static_cast<std::streamsize>(count));
    }
}

}  // namespace quorvel::testing
