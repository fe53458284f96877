#include "audio/stored_sound.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorvel::audio {
namespace {

constexpr std::size_t kRiffHeaderSize = 12;

[[noreturn]] void Refuse(const std::string& name, const std::string& why)
{
    throw SoundError(name + ": cannot be decoded: " + why);
}

std::vector<std::byte> ReadHead(InputFile& input)
{
    std::vector<std::byte> head(static_cast<std::size_t>(std::min<std::uint64_t>(input.Size(), kHeaderBytes)));
    std::size_t got = 0;
    while (got < head.size()) {
        const std::size_t count = input.ReadAt(got, std::span(head).subspan(got));
        if (count == 0) {
            break;
        }
        got += count;
    }
    head.resize(got);
    return head;
}

bool IsRiffWave(std::span<const std::byte> head)
{
    return head.size() >= kRiffHeaderSize && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "WAVE", 4) == 0;
}

// The channels libsndfile decodes an encoding with: ADPCM in WAV is mono
// or stereo, GSM 6.10 and G.721 mono.
std::uint32_t MostChannelsOf(WavEncoding encoding)
{
    switch (encoding) {
        case WavEncoding::kImaAdpcm:
        case WavEncoding::kMsAdpcm:
            return 2;
        case WavEncoding::kGsm610:
        case WavEncoding::kG721:
            return 1;
        default:
            return kMostChannels;
    }
}

// The samples a block of the header's block align holds: IMA ADPCM keeps
// one sample of each channel in a 4-byte header and 2 in each byte after it;
// MS ADPCM two in a 7-byte header, and 2 a byte after it; GSM 6.10 two
// frames of 160 in 65 bytes. 0 for a block too small for its header.
std::uint32_t BlockSamples(const WavFormat& format)
{
    const std::uint32_t align = format.block_align;
    const std::uint32_t channels = format.channels;
    switch (format.encoding) {
        case WavEncoding::kImaAdpcm:
            return align > 4 * channels ? (align - 4 * channels) * 2 / channels + 1 : 0;
        case WavEncoding::kMsAdpcm:
            return align > 7 * channels ? (align - 7 * channels) * 2 / channels + 2 : 0;
        case WavEncoding::kGsm610:
            return align == 65 ? 320 : 0;
        default:
            return 0;
    }
}

void CheckShape(const WavFormat& format, const std::string& name)
{
    if (format.encoding == WavEncoding::kOther) {
        Refuse(name, "its encoding (format tag " + EncodingKey(format) + ", " + std::to_string(format.bits_per_sample) +
                         " bits) is not one that is decoded");
    }
    if (const std::uint32_t most = MostChannelsOf(format.encoding); format.channels > most) {
        Refuse(name, "its header says " + std::to_string(format.channels) + " channels of " + EncodingLabel(format) +
                         "; at most " + std::to_string(most) + " are decoded");
    }
    if (format.sample_rate > kHighestRate) {
        Refuse(name, "its header says a rate of " + std::to_string(format.sample_rate) + " Hz; at most " +
                         std::to_string(kHighestRate) + " Hz is decoded");
    }
    if (!IsBlockCoded(format.encoding)) {
        return;
    }
    if (format.block_align == 0) {
        Refuse(name, "its header says a block align of 0 for " + EncodingLabel(format));
    }
    if (format.samples_per_block != BlockSamples(format)) {
        Refuse(name, "its header says " + std::to_string(format.samples_per_block) + " samples per block of " +
                         std::to_string(format.block_align) + " bytes; " + EncodingLabel(format) + " of " +
                         std::to_string(format.channels) + " channels holds " + std::to_string(BlockSamples(format)));
    }
}

void CheckData(const WavFormat& format, std::uint64_t file_size, const std::string& name)
{
    const std::uint64_t data_end = format.data_offset + format.data_size;
    if (data_end > file_size) {
        Refuse(name, "it is cut short: its data chunk says " + std::to_string(format.data_size) +
                         " bytes from offset " + std::to_string(format.data_offset) + ", and it ends at " +
                         std::to_string(file_size));
    }
    const auto held = FramesHeldBy(format, format.data_size);
    if (held && format.frames > *held) {
        Refuse(name, "its fact chunk says " + std::to_string(format.frames) + " frames, and its data chunk of " +
                         std::to_string(format.data_size) + " bytes holds at most " + std::to_string(*held));
    }
}

std::uint32_t LoadLittleEndian(std::span<const std::byte> bytes, std::uint64_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::to_integer<std::uint32_t>(bytes[static_cast<std::size_t>(at) + i]) << (8 * i);
    }
    return value;
}

// Where the ids of the chunks before the data chunk lie that the header
// parse did not take its format from: all but the last fmt chunk of 16
// bytes or more and the last fact chunk of 4 or more (the parse reads those
// last), walked as the parse walks them.
std::vector<std::uint64_t> ChunksToHide(std::span<const std::byte> head, const WavFormat& format)
{
    const std::uint64_t data_header = format.data_offset - 8;
    std::vector<std::uint64_t> others;
    std::vector<std::uint64_t> fmts;
    std::vector<std::uint64_t> facts;
    for (std::uint64_t at = kRiffHeaderSize; at < data_header;) {
        const std::uint32_t size = LoadLittleEndian(head, at + 4);
        const auto id = head.subspan(static_cast<std::size_t>(at), 4);
        if (std::memcmp(id.data(), "fmt ", 4) == 0 && size >= 16) {
            fmts.push_back(at);
        } else if (std::memcmp(id.data(), "fact", 4) == 0 && size >= 4) {
            facts.push_back(at);
        } else {
            others.push_back(at);
        }
        at += 8 + std::uint64_t{size} + size % 2;
    }
    for (auto* taken : {&fmts, &facts}) {
        if (!taken->empty()) {
            others.insert(others.end(), taken->begin(), taken->end() - 1);
        }
    }
    return others;
}

// What libsndfile is shown of a stored sound: its bytes up to the end of
// its data chunk, with every chunk before it but the fmt and fact chunks the
// header parse read renamed "junk", which libsndfile passes over. So its
// parsers of text, cue points, loops and the other chunks a sound may carry
// never see an archive's bytes (one of them loops for minutes over a LIST
// chunk whose part says a size of nearly 4 GiB), and a sound is decoded
// from the same fmt and fact chunks it is listed by.
class SamplesOnlyView final : public InputFile {
public:
    SamplesOnlyView(InputFile& input, std::uint64_t size, std::vector<std::uint64_t> hidden)
        : input_(input), size_(size), hidden_(std::move(hidden))
    {
    }

    std::uint64_t Size() override { return size_; }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        if (offset >= size_) {
            return 0;
        }
        buffer = buffer.first(static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - offset)));
        const std::size_t got = input_.ReadAt(offset, buffer);
        for (const std::uint64_t id : hidden_) {
            for (std::uint64_t at = std::max(id, offset); at < std::min(id + 4, offset + got); ++at) {
                buffer[static_cast<std::size_t>(at - offset)] = static_cast<std::byte>("junk"[at - id]);
            }
        }
        return got;
    }

private:
    InputFile& input_;
    std::uint64_t size_;
    std::vector<std::uint64_t> hidden_;
};

struct Header {
    WavFormat format;
    std::vector<std::byte> head;
};

Header ReadAndCheckHeader(InputFile& input, const std::string& name)
{
    std::vector<std::byte> head = ReadHead(input);
    if (!IsRiffWave(head)) {
        Refuse(name, "it does not start with a RIFF WAVE header");
    }
    std::string why;
    const auto format = ReadWavFormat(head, &why);
    if (!format) {
        Refuse(name, why);
    }
    CheckShape(*format, name);
    CheckData(*format, input.Size(), name);
    return Header{.format = *format, .head = std::move(head)};
}

}  // namespace

WavFormat ReadSoundHeader(InputFile& input, const std::string& name)
{
    return ReadAndCheckHeader(input, name).format;
}

SoundDecoder OpenSound(InputFile& input, std::string name)
{
    const Header header = ReadAndCheckHeader(input, name);
    const WavFormat& format = header.format;
    SoundDecoder decoder =
        SoundDecoder::Open(std::make_unique<SamplesOnlyView>(input, format.data_offset + format.data_size,
                                                             ChunksToHide(header.head, format)),
                           std::move(name));
    const auto frames = static_cast<std::int64_t>(format.frames);
    if (decoder.channels() != static_cast<int>(format.channels) ||
        decoder.sample_rate() != static_cast<int>(format.sample_rate) || decoder.frames() < frames) {
        Refuse(decoder.name(), "libsndfile reads " + std::to_string(decoder.channels()) + " channels at " +
                                   std::to_string(decoder.sample_rate()) + " Hz, " + std::to_string(decoder.frames()) +
                                   " frames, where its header says " + std::to_string(format.channels) + " at " +
                                   std::to_string(format.sample_rate) + " Hz, " + std::to_string(frames));
    }
    decoder.LimitFrames(frames);
    return decoder;
}

}  // namespace quorvel::audio
