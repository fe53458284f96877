#include "pack/format_check.hpp"

namespace quorvel {

std::optional<SoundFormat> SoundFormat::Of(std::span<const std::byte> head)
{
    const auto format = ReadWavFormat(head);
    if (!format) {
        return std::nullopt;
    }
    return SoundFormat{.encoding = format->encoding,
                       .format_tag = format->format_tag,
                       .channels = static_cast<std::uint16_t>(format->channels),
                       .sample_rate = format->sample_rate,
                       .bits_per_sample = static_cast<std::uint16_t>(format->bits_per_sample),
                       .block_align = static_cast<std::uint16_t>(format->block_align)};
}

std::string SoundFormat::Describe() const
{
    WavFormat format;
    format.encoding = encoding;
    format.format_tag = format_tag;
    std::string encoding_text = EncodingLabel(format);
    if (encoding_text == "PCM" || encoding_text == "float") {
        encoding_text = std::to_string(bits_per_sample) + "-bit " + encoding_text;
    }
    std::string text = std::to_string(channels) + " ch, " + std::to_string(sample_rate) + " Hz, " + encoding_text;
    if (block_align != 0 && IsBlockCoded(encoding)) {
        text += " in blocks of " + std::to_string(block_align) + " bytes";
    }
    return text;
}

std::string DescribeFormatChange(const FormatChange& change)
{
    const std::string now = change.now ? "is " + change.now->Describe() : "has no format that can be read";
    return change.path + " " + now + " where the archive's sound is " + change.archived.Describe() +
           ": the game may play it too fast, as noise or not at all; fit it to that sound with --replace " +
           change.listed + " FILE";
}

}  // namespace quorvel
