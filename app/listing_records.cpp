#include "app/listing_records.hpp"

#include <cstdio>

namespace quorvel {
namespace {

std::string NumberOrNull(const std::optional<WavFormat>& format, std::uint32_t WavFormat::*field)
{
    return format ? std::to_string((*format).*field) : "null";
}

}  // namespace

std::string JsonString(std::string_view text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string SecondsText(double seconds)
{
    // The program never sets a locale, so the point stays a point.
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

std::string FileRecord(const ListedFile& file)
{
    const auto& format = file.format;
    return "{\"path\": " + JsonString(file.path) + ", \"kind\": \"" + std::string(KindName(file.kind)) +
           "\", \"offset\": " + std::to_string(file.offset) + ", \"size\": " + std::to_string(file.size) +
           ", \"channels\": " + NumberOrNull(format, &WavFormat::channels) +
           ", \"rate\": " + NumberOrNull(format, &WavFormat::sample_rate) +
           ", \"bits\": " + NumberOrNull(format, &WavFormat::bits_per_sample) +
           ", \"encoding\": " + (format ? JsonString(EncodingKey(*format)) : "null") +
           ", \"seconds\": " + (format ? SecondsText(format->seconds) : "null") + "}";
}

std::string FileRecord(const ListedFile& file, const std::string* label)
{
    std::string record = FileRecord(file);
    record.pop_back();
    return record + ", \"label\": " + (label != nullptr ? JsonString(*label) : "null") + "}";
}

std::string ArchiveRecord(const ListedArchive& archive, const ListingTotals& totals)
{
    std::string truncated = "null";
    if (archive.truncation) {
        truncated = "{\"offset\": " + std::to_string(archive.truncation->block_offset) +
                    ", \"missing\": " + std::to_string(archive.truncation->missing_bytes) + "}";
    }
    return "{\"archive\": " + JsonString(ArchivePath(archive.location.name)) +
           ", \"files\": " + std::to_string(totals.files) + ", \"bytes\": " + std::to_string(totals.bytes) +
           ", \"sounds\": " + std::to_string(totals.sounds) + ", \"seconds\": " + SecondsText(totals.seconds) +
           ", \"truncated\": " + truncated + "}";
}

}  // namespace quorvel
