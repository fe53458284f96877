#include "audio/wav_chunks.hpp"

#include <algorithm>
#include <cstring>

#include "audio/sound_decoder.hpp"

namespace quorvel::audio {
namespace {

constexpr std::size_t kRiffHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kPlainFmtSize = 16;
constexpr std::size_t kFmtWithExtraSize = 18;  // cbSize, the size of what follows
constexpr std::size_t kExtensibleFmtSize = 40;
constexpr std::size_t kExtensibleExtraSize = 22;
constexpr std::size_t kLargestFmtSize = kFmtWithExtraSize + 0xFFFF;

// Every standard sub-format GUID is a 16-bit format tag followed by these.
constexpr std::array<unsigned char, 14> kSubFormatBase = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                          0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::string Quoted(const WavChunk& chunk)
{
    return "the " + chunk.Name() + " chunk at offset " + std::to_string(chunk.offset - kChunkHeaderSize);
}

[[noreturn]] void Refuse(const std::string& name, const std::string& why)
{
    throw SoundError(name + ": not a sound whose header can be kept: " + why);
}

void ReadExactly(InputFile& input, std::uint64_t offset, std::span<std::byte> out, const std::string& name)
{
    std::size_t done = 0;
    try {
        while (done < out.size()) {
            const std::size_t got = input.ReadAt(offset + done, out.subspan(done));
            if (got == 0) {
                break;
            }
            done += got;
        }
    } catch (const std::exception& error) {
        throw SoundError(name + ": cannot be read at offset " + std::to_string(offset) + ": " + error.what());
    }
    if (done < out.size()) {
        throw SoundError(name + ": ends at offset " + std::to_string(offset + done) + ", " +
                         std::to_string(out.size() - done) + " bytes before what its header says");
    }
}

bool IsStandardSubFormat(std::span<const std::byte> guid)
{
    return std::equal(
        kSubFormatBase.begin(), kSubFormatBase.end(), guid.begin() + 2,
        [](unsigned char expected, std::byte got) { return std::to_integer<unsigned char>(got) == expected; });
}

bool HasSamplesPerBlock(std::uint16_t encoding)
{
    return encoding == wave_tag::kImaAdpcm || encoding == wave_tag::kMsAdpcm || encoding == wave_tag::kGsm610;
}

// Which chunks a header may hold only once: a second would leave the
// sound's format or its data open to two readings.
bool MustBeUnique(const WavChunk& chunk)
{
    return chunk.Is("fmt ") || chunk.Is("data") || chunk.Is("fact");
}

std::vector<WavChunk> WalkChunks(InputFile& input, std::uint64_t end, const std::string& name)
{
    std::vector<WavChunk> chunks;
    std::array<std::byte, kChunkHeaderSize> header{};
    for (std::uint64_t at = kRiffHeaderSize; at + kChunkHeaderSize <= end;) {
        if (chunks.size() == kMaxChunks) {
            Refuse(name, "more than " + std::to_string(kMaxChunks) + " chunks before offset " + std::to_string(at));
        }
        ReadExactly(input, at, header, name);
        WavChunk chunk;
        std::memcpy(chunk.id.data(), header.data(), 4);
        chunk.offset = at + kChunkHeaderSize;
        chunk.size = LoadLe(header, 4, 4);
        if (chunk.offset + chunk.size > end) {
            Refuse(name, Quoted(chunk) + " says " + std::to_string(chunk.size) + " bytes, but the sound ends " +
                             std::to_string(end - chunk.offset) + " bytes after its header");
        }
        for (const WavChunk& earlier : chunks) {
            if (MustBeUnique(chunk) && earlier.id == chunk.id) {
                Refuse(name, Quoted(chunk) + " is a second one; a sound has one");
            }
        }
        chunks.push_back(chunk);
        // Chunks are padded to an even size; the last one's pad byte may be
        // missing at the very end.
        at = std::min<std::uint64_t>(chunk.offset + chunk.size + (chunk.size % 2), end);
    }
    return chunks;
}

std::size_t FindChunk(const std::vector<WavChunk>& chunks, std::string_view id, const std::string& name,
                      std::uint64_t end)
{
    const auto found = std::find_if(chunks.begin(), chunks.end(), [&](const WavChunk& c) { return c.Is(id); });
    if (found == chunks.end()) {
        Refuse(name, "no \"" + std::string(id) + "\" chunk before the end at offset " + std::to_string(end));
    }
    return static_cast<std::size_t>(found - chunks.begin());
}

void CheckFmtExtra(std::span<const std::byte> payload, std::size_t wanted, const std::string& where,
                   const std::string& why)
{
    if (payload.size() < wanted) {
        throw SoundError(where + " has " + std::to_string(payload.size()) + " bytes; " + why + " takes " +
                         std::to_string(wanted));
    }
}

}  // namespace

std::string WavChunk::Name() const
{
    const bool printable = std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (printable) {
        return "\"" + std::string(id.data(), id.size()) + "\"";
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex = "0x";
    for (const char c : id) {
        hex += kDigits[static_cast<unsigned char>(c) >> 4];
        hex += kDigits[static_cast<unsigned char>(c) & 0xF];
    }
    return hex;
}

std::uint32_t LoadLe(std::span<const std::byte> bytes, std::size_t at, std::size_t width)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= std::to_integer<std::uint32_t>(bytes[at + i]) << (8 * i);
    }
    return value;
}

void StoreLe(std::span<std::byte> bytes, std::size_t at, std::size_t width, std::uint32_t value)
{
    for (std::size_t i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFFu);
    }
}

bool WavFmt::SameShape(const WavFmt& other) const
{
    return SameBlockLayout(other) && tag == other.tag && sample_rate == other.sample_rate && bits == other.bits &&
           valid_bits == other.valid_bits && channel_mask == other.channel_mask;
}

bool WavFmt::SameBlockLayout(const WavFmt& other) const
{
    const bool same = encoding == other.encoding && channels == other.channels && block_align == other.block_align &&
                      samples_per_block == other.samples_per_block;
    // An MS ADPCM block names its predictor by its index in the header's
    // coefficient table: the tables must agree too.
    if (!same || encoding != wave_tag::kMsAdpcm) {
        return same;
    }
    const auto table = [](const std::vector<std::byte>& fmt) {
        return std::span(fmt).subspan(std::min<std::size_t>(fmt.size(), 20));
    };
    return std::ranges::equal(table(bytes), table(other.bytes));
}

std::optional<std::int64_t> WavLayout::Frames() const
{
    const bool linear = fmt.encoding == wave_tag::kPcm || fmt.encoding == wave_tag::kFloat ||
                        fmt.encoding == wave_tag::kUlaw || fmt.encoding == wave_tag::kAlaw;
    if (linear) {
        return data().size / fmt.block_align;
    }
    if (fact_frames) {
        return *fact_frames;
    }
    if (fmt.samples_per_block > 0) {
        return static_cast<std::int64_t>(data().size / fmt.block_align) * fmt.samples_per_block;
    }
    return std::nullopt;
}

WavFmt ParseWavFmt(std::span<const std::byte> payload, const std::string& where)
{
    CheckFmtExtra(payload, kPlainFmtSize, where, "a format");
    WavFmt fmt;
    fmt.tag = static_cast<std::uint16_t>(LoadLe(payload, 0, 2));
    fmt.encoding = fmt.tag;
    fmt.channels = static_cast<std::uint16_t>(LoadLe(payload, 2, 2));
    fmt.sample_rate = LoadLe(payload, 4, 4);
    fmt.byte_rate = LoadLe(payload, 8, 4);
    fmt.block_align = static_cast<std::uint16_t>(LoadLe(payload, 12, 2));
    fmt.bits = static_cast<std::uint16_t>(LoadLe(payload, 14, 2));
    fmt.valid_bits = fmt.bits;
    fmt.bytes.assign(payload.begin(), payload.end());
    if (fmt.channels == 0 || fmt.channels > kMaxChannels) {
        throw SoundError(where + " says " + std::to_string(fmt.channels) + " channels; 1 to " +
                         std::to_string(kMaxChannels) + " expected");
    }
    if (fmt.sample_rate == 0 || fmt.sample_rate > kMaxSampleRate) {
        throw SoundError(where + " says a rate of " + std::to_string(fmt.sample_rate) + " Hz; 1 to " +
                         std::to_string(kMaxSampleRate) + " expected");
    }
    if (fmt.block_align == 0) {
        throw SoundError(where + " says blocks of 0 bytes");
    }
    if (fmt.extensible()) {
        CheckFmtExtra(payload, kExtensibleFmtSize, where, "an extensible format");
        if (LoadLe(payload, 16, 2) < kExtensibleExtraSize) {
            throw SoundError(where + " gives its extensible part " + std::to_string(LoadLe(payload, 16, 2)) +
                             " bytes; " + std::to_string(kExtensibleExtraSize) + " expected");
        }
        fmt.valid_bits = static_cast<std::uint16_t>(LoadLe(payload, 18, 2));
        fmt.channel_mask = LoadLe(payload, 20, 4);
        const auto guid = payload.subspan(24, 16);
        fmt.encoding = IsStandardSubFormat(guid) ? static_cast<std::uint16_t>(LoadLe(guid, 0, 2)) : 0;
    }
    if (HasSamplesPerBlock(fmt.encoding) && !fmt.extensible()) {
        CheckFmtExtra(payload, kFmtWithExtraSize + 2, where, "a block-coded format");
        fmt.samples_per_block = static_cast<std::uint16_t>(LoadLe(payload, kFmtWithExtraSize, 2));
    }
    return fmt;
}

WavLayout ReadWavLayout(InputFile& input, const std::string& name)
{
    std::uint64_t size = 0;
    try {
        size = input.Size();
    } catch (const std::exception& error) {
        throw SoundError(name + ": cannot be read: " + error.what());
    }
    std::array<std::byte, kRiffHeaderSize> riff{};
    if (size < kRiffHeaderSize) {
        Refuse(name, "it has " + std::to_string(size) + " bytes; a RIFF/WAVE header takes 12");
    }
    ReadExactly(input, 0, riff, name);
    if (std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0) {
        Refuse(name, "its first 12 bytes are not \"RIFF\", a size and \"WAVE\"");
    }
    const std::uint64_t end = std::uint64_t{LoadLe(riff, 4, 4)} + 8;
    if (end > size) {
        Refuse(name, "its RIFF header at offset 0 says " + std::to_string(end) + " bytes, but it has " +
                         std::to_string(size));
    }
    WavLayout layout;
    layout.chunks = WalkChunks(input, end, name);
    layout.fmt_chunk = FindChunk(layout.chunks, "fmt ", name, end);
    layout.data_chunk = FindChunk(layout.chunks, "data", name, end);
    const WavChunk& fmt = layout.chunks[layout.fmt_chunk];
    if (fmt.size > kLargestFmtSize) {
        Refuse(name, Quoted(fmt) + " says " + std::to_string(fmt.size) + " bytes; a format takes at most " +
                         std::to_string(kLargestFmtSize));
    }
    layout.fmt = ParseWavFmt(ReadChunkPayload(input, fmt, name), name + ": " + Quoted(fmt));
    for (const WavChunk& chunk : layout.chunks) {
        if (chunk.Is("fact") && chunk.size >= 4) {
            std::array<std::byte, 4> frames{};
            ReadExactly(input, chunk.offset, frames, name);
            layout.fact_frames = LoadLe(frames, 0, 4);
        }
    }
    return layout;
}

std::vector<std::byte> ReadChunkPayload(InputFile& input, const WavChunk& chunk, const std::string& name)
{
    std::vector<std::byte> payload(chunk.size);
    ReadExactly(input, chunk.offset, payload, name);
    return payload;
}

}  // namespace quorvel::audio
