#include "testing/reference_model.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "testing/byte_order.hpp"

namespace quorvel::model {
namespace {

constexpr std::string_view kRiff = "RIFF";

std::int32_t Int32At(std::span<const std::byte> bytes, std::size_t at)
{
    return static_cast<std::int32_t>(testing::LittleEndianAt(bytes, at));
}

bool TextAt(std::span<const std::byte> bytes, std::size_t at, std::string_view text)
{
    return at + text.size() <= bytes.size() && std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
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

std::vector<File> CarveRiffPayload(std::span<const std::byte> payload, std::int64_t first_number, std::uint64_t offset)
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
        files.push_back(File{number, ".wav", {offset + begin, kept}});
        ++number;
        if (kept < length) {
            files.push_back(File{number, "", {offset + begin + kept, length - kept}});
            ++number;
        }
    }
    return files;
}

Extraction ExtractArchive(std::uint64_t size, const ReadAt& read)
{
    Extraction result;
    std::uint64_t position = 0;
    std::int64_t number = 0;
    while (size - position >= 4) {
        std::array<std::byte, 4> field{};
        read(position, field);
        const std::int64_t length = Int32At(field, 0);
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
        const Stretch stretch{position, static_cast<std::uint64_t>(std::max<std::int64_t>(payload, 0))};
        std::array<std::byte, 4> signature{};
        read(position, std::span(signature).first(std::min<std::size_t>(4, stretch.size)));
        const bool riff = stretch.size >= 4 && TextAt(signature, 0, kRiff);
        if (riff && stretch.size == 4) {
            result.numbers_without_file.push_back(number);
        } else if (riff) {
            std::vector<std::byte> bytes(stretch.size);
            read(position, bytes);
            auto carved = CarveRiffPayload(bytes, number, position);
            number = carved.back().number;
            std::move(carved.begin(), carved.end(), std::back_inserter(result.files));
        } else {
            const bool tagged = stretch.size >= 4 && TextAt(signature, 0, "AVQF");
            result.files.push_back(File{number, tagged ? ".AVQF" : "", stretch});
        }
        if (!(riff && stretch.size == 4)) {
            result.payloads.push_back(stretch);
        }
        result.progress += riff ? stretch.size - 4 : stretch.size;
        position += stretch.size;
        if (result.truncated) {
            break;
        }
    }
    return result;
}

Extraction ExtractArchive(std::span<const std::byte> archive)
{
    return ExtractArchive(archive.size(), [archive](std::uint64_t offset, std::span<std::byte> out) {
        std::copy_n(archive.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    });
}

std::string FileName(std::string_view name, const File& file)
{
    std::string digits = std::to_string(file.number);
    digits.insert(0, 4 - std::min<std::size_t>(4, digits.size()), '0');
    return std::string(name) + "_" + digits + file.extension;
}

}  // namespace quorvel::model
