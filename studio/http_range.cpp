#include "studio/http_range.hpp"

#include <algorithm>
#include <vector>

namespace quorvel::studio {
namespace {

// More ranges than a media player ever asks for: a header past this is
// ignored rather than worked through.
constexpr std::size_t kMostRanges = 16;
constexpr std::uint64_t kNoNumber = UINT64_MAX;

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Digits only; a number too large for 64 bits saturates, which is past the
// end of any file.
std::optional<std::uint64_t> Number(std::string_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (kNoNumber - 1 - digit) / 10 ? kNoNumber - 1 : value * 10 + digit;
    }
    return value;
}

struct ByteRange {
    std::optional<std::uint64_t> first;  // nothing: a suffix range "-N"
    std::optional<std::uint64_t> last;
};

std::optional<ByteRange> ParseByteRange(std::string_view text)
{
    text = Trim(text);
    const auto dash = text.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view first_text = Trim(text.substr(0, dash));
    const std::string_view last_text = Trim(text.substr(dash + 1));
    ByteRange asked;
    if (!first_text.empty()) {
        asked.first = Number(first_text);
        if (!asked.first) {
            return std::nullopt;
        }
    }
    if (!last_text.empty()) {
        asked.last = Number(last_text);
        if (!asked.last) {
            return std::nullopt;
        }
    }
    if (!asked.first && !asked.last) {
        return std::nullopt;
    }
    if (asked.first && asked.last && *asked.last < *asked.first) {
        return std::nullopt;  // inverted: the whole header is invalid
    }
    return asked;
}

}  // namespace

int RangeDecision::Status() const
{
    switch (kind) {
        case Kind::kPartial:
            return 206;
        case Kind::kUnsatisfiable:
            return 416;
        case Kind::kWhole:
            break;
    }
    return 200;
}

std::uint64_t RangeDecision::Length() const
{
    switch (kind) {
        case Kind::kPartial:
            return last - first + 1;
        case Kind::kUnsatisfiable:
            return 0;
        case Kind::kWhole:
            break;
    }
    return size;
}

std::string RangeDecision::ContentRange() const
{
    switch (kind) {
        case Kind::kPartial:
            return "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size);
        case Kind::kUnsatisfiable:
            return "bytes */" + std::to_string(size);
        case Kind::kWhole:
            break;
    }
    return {};
}

RangeDecision DecideRange(std::optional<std::string_view> header, std::uint64_t size)
{
    const RangeDecision whole{.kind = RangeDecision::Kind::kWhole, .first = 0, .last = 0, .size = size};
    if (!header) {
        return whole;
    }
    std::string_view text = Trim(*header);
    constexpr std::string_view kUnit = "bytes=";
    if (text.size() < kUnit.size() ||
        !std::equal(kUnit.begin(), kUnit.end(), text.begin(), [](char a, char b) { return a == (b | 0x20); })) {
        return whole;
    }
    text.remove_prefix(kUnit.size());
    std::vector<ByteRange> asked_ranges;
    while (!text.empty() || asked_ranges.empty()) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (Trim(item).empty() && comma != std::string_view::npos) {
            continue;  // empty list elements are allowed
        }
        const auto asked = ParseByteRange(item);
        if (!asked || asked_ranges.size() == kMostRanges) {
            return whole;
        }
        asked_ranges.push_back(*asked);
        if (comma == std::string_view::npos) {
            break;
        }
    }
    bool any = false;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    for (const ByteRange& asked : asked_ranges) {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        if (!asked.first) {
            if (*asked.last == 0 || size == 0) {
                continue;  // a suffix of no bytes is never satisfiable
            }
            from = size - std::min(*asked.last, size);
            to = size - 1;
        } else {
            if (*asked.first >= size) {
                continue;
            }
            from = *asked.first;
            to = asked.last ? std::min(*asked.last, size - 1) : size - 1;
        }
        first = any ? std::min(first, from) : from;
        last = any ? std::max(last, to) : to;
        any = true;
    }
    if (!any) {
        return RangeDecision{.kind = RangeDecision::Kind::kUnsatisfiable, .first = 0, .last = 0, .size = size};
    }
    return RangeDecision{.kind = RangeDecision::Kind::kPartial, .first = first, .last = last, .size = size};
}

}  // namespace quorvel::studio
