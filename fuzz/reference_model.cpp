#include "fuzz/reference_model.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quorvel::model {
namespace {

constexpr char kRiff[] = "RIFF";

std::int32_t Int32At(std::span<const std::byte> bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::to_integer<std::uint32_t>(bytes[at + i]) << (8 * i);
    }
    return static_cast<std::int32_t>(value);
}

bool TextAt(std::span<const std::byte> bytes, std::size_t at, const char* text)
{
    const std::size_t length = std::strlen(text);
    return at + length <= bytes.size() && std::memcmp(bytes.data() + at, text, length) == 0;
}

Bytes Slice(std::span<const std::byte> bytes, std::size_t begin, std::size_t end)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(begin), bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

// A "RIFF" at offset `k` of the piece starting at `start` begins a new
// sound when it lies within the piece's header, past the piece's declared
// end, or carries the same form type as the piece.
bool StartsNewPiece(std::span<const std::byte> payload, std::size_t start, std::size_t match)
{
    const std::size_t k = match - start;
    if (k < 12) {
        return true;
    }
    const std::int64_t kept = std::int64_t{Int32At(payload, start + 4)} + 8;
    if (static_cast<std::int64_t>(k) >= kept) {
        return true;
    }
    if (match + 12 > payload.size()) {
        return false;
    }
    return std::memcmp(payload.data() + match + 8, payload.data() + start + 8, 4) == 0;
}

}  // namespace

std::vector<File> CarveRiffPayload(std::span<const std::byte> payload, std::int64_t first_number)
{
    std::vector<std::pair<std::size_t, std::size_t>> pieces;
    std::size_t start = 0;
    for (std::size_t at = 1; at + 4 <= payload.size(); ++at) {
        if (TextAt(payload, at, kRiff) && StartsNewPiece(payload, start, at)) {
            pieces.emplace_back(start, at);
            start = at;
        }
    }
    pieces.emplace_back(start, payload.size());

    std::vector<File> files;
    std::int64_t number = first_number;
    for (const auto& [begin, end] : pieces) {
        const std::size_t length = end - begin;
        std::size_t kept = length;
        if (length >= 8) {
            const std::int64_t declared_end = std::int64_t{Int32At(payload, begin + 4)} + 8;
            kept =
                static_cast<std::size_t>(std::clamp<std::int64_t>(declared_end, 0, static_cast<std::int64_t>(length)));
        }
        files.push_back(File{number, ".wav", Slice(payload, begin, begin + kept)});
        ++number;
        if (kept < length) {
            files.push_back(File{number, "", Slice(payload, begin + kept, end)});
            ++number;
        }
    }
    return files;
}

Extraction ExtractArchive(std::span<const std::byte> archive)
{
    Extraction result;
    const std::size_t size = archive.size();
    std::size_t position = 0;
    std::int64_t number = 0;
    while (size - position >= 4) {
        const std::int64_t length = Int32At(archive, position);
        position += 4;
        if (position == size) {
            break;  // the final field
        }
        result.progress += 4;
        ++number;
        std::int64_t payload = length - 4;
        const auto remaining = static_cast<std::int64_t>(size - position);
        if (payload > remaining) {
            result.truncated = true;
            payload = remaining;
        }
        const auto begin = position;
        const auto end = position + static_cast<std::size_t>(std::max<std::int64_t>(payload, 0));
        const auto bytes = archive.subspan(begin, end - begin);
        if (payload < 4) {
            result.files.push_back(File{number, "", Slice(archive, begin, end)});
            result.progress += bytes.size();
        } else if (TextAt(bytes, 0, kRiff)) {
            result.progress += bytes.size() - 4;
            if (bytes.size() == 4) {
                result.numbers_without_file.push_back(number);
            } else {
                auto carved = CarveRiffPayload(bytes, number);
                number = carved.back().number;
                std::move(carved.begin(), carved.end(), std::back_inserter(result.files));
            }
        } else {
            result.files.push_back(File{number, TextAt(bytes, 0, "AVQF") ? ".AVQF" : "", Slice(archive, begin, end)});
            result.progress += bytes.size();
        }
        if (!(bytes.size() == 4 && TextAt(bytes, 0, kRiff))) {
            result.payload_bytes.insert(result.payload_bytes.end(), bytes.begin(), bytes.end());
        }
        position = end;
        if (result.truncated) {
            break;
        }
    }
    return result;
}

std::string OutputPath(const std::string& name, const File& file)
{
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04lld", static_cast<long long>(file.number));
    return name + "/" + name + "_" + digits + file.extension;
}

}  // namespace quorvel::model
