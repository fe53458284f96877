#include "labels/labels_file.hpp"

#include <algorithm>
#include <cstdio>
#include <set>
#include <unordered_map>

namespace quorvel {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kHashDigits = 16;

std::optional<std::string> NormalisedHash(std::string_view text)
{
    if (text.size() != kHashDigits) {
        return std::nullopt;
    }
    std::string hash;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            hash += c;
        } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
            hash += static_cast<char>(c | 0x20);
        } else {
            return std::nullopt;
        }
    }
    return hash;
}

bool HasControl(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; });
}

// Code points that break a line or turn the text around them although
// they are not C0 controls: C1 controls (U+0085 is a line break, U+009B a
// terminal's escape), the line and paragraph separators, and the
// bidirectional marks, embeddings, overrides and isolates that make a
// label read as something else.
bool BreaksOrTurnsText(std::uint32_t code)
{
    return (code >= 0x80 && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// The code points of valid UTF-8 text.
template <typename Visit>
void ForEachCodePoint(std::string_view text, Visit visit)
{
    std::uint32_t code = 0;
    for (std::size_t length = 0; !text.empty(); text.remove_prefix(std::max<std::size_t>(length, 1))) {
        length = Utf8SequenceAt(text, code);
        visit(code);
    }
}

// A listed path is plain: "/"-separated names, none of them "." or "..".
bool PlausiblePath(std::string_view path)
{
    if (path.empty() || path.front() == '/' || HasControl(path) || path.find('\\') != std::string_view::npos) {
        return false;
    }
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::optional<LabelLine> ParseLine(std::string_view line)
{
    const auto first_tab = line.find('\t');
    const auto second_tab = first_tab == std::string_view::npos ? first_tab : line.find('\t', first_tab + 1);
    if (second_tab == std::string_view::npos) {
        return std::nullopt;
    }
    LabelLine parsed{
        .path = std::string(line.substr(0, first_tab)), .hash = {}, .label = std::string(line.substr(second_tab + 1))};
    const std::string_view hash = line.substr(first_tab + 1, second_tab - first_tab - 1);
    if (!hash.empty()) {
        const auto normalised = NormalisedHash(hash);
        if (!normalised) {
            return std::nullopt;
        }
        parsed.hash = *normalised;
    }
    if (!IsUtf8(line) || !PlausiblePath(parsed.path) || parsed.label.empty() || LabelProblem(parsed.label)) {
        return std::nullopt;
    }
    return parsed;
}

}  // namespace

std::size_t Utf8SequenceAt(std::string_view text, std::uint32_t& code)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1FU;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0FU;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07U;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0U) != 0x80U) {
            return 0;
        }
        code = (code << 6) | (next & 0x3FU);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool IsUtf8(std::string_view text)
{
    std::uint32_t code = 0;
    for (std::size_t length = 0; !text.empty(); text.remove_prefix(length)) {
        length = Utf8SequenceAt(text, code);
        if (length == 0) {
            return false;
        }
    }
    return true;
}

std::size_t CodePoints(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
}

std::optional<std::string> LabelProblem(std::string_view label)
{
    if (!IsUtf8(label)) {
        return "a label must be UTF-8 text";
    }
    bool turns = false;
    ForEachCodePoint(label, [&](std::uint32_t code) { turns = turns || BreaksOrTurnsText(code); });
    if (HasControl(label) || turns) {
        return "a label holds no tab, line break, other control character or text direction mark";
    }
    if (CodePoints(label) > kLongestLabel) {
        return "a label has at most " + std::to_string(kLongestLabel) + " characters";
    }
    return std::nullopt;
}

ParsedLabels ParseLabels(std::string_view text)
{
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    ParsedLabels parsed;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#' || line.find_first_not_of(" \t") == std::string_view::npos) {
            continue;
        }
        if (auto label = ParseLine(line)) {
            parsed.lines.push_back(std::move(*label));
        } else {
            ++parsed.rejected;
        }
    }
    return parsed;
}

std::string FormatLabels(const std::vector<LabelLine>& lines)
{
    std::string text = "# Quorvel Extractor labels: PATH<TAB>HASH<TAB>LABEL, HASH the XXH64 (seed 0) of the file\n";
    for (const LabelLine& line : lines) {
        text += line.path + '\t' + line.hash + '\t' + line.label + '\n';
    }
    return text;
}

std::string HashText(std::uint64_t hash)
{
    constexpr char kDigits[] = "0123456789abcdef";
    std::string text(kHashDigits, '0');
    for (std::size_t i = 0; i < kHashDigits; ++i) {
        text[kHashDigits - 1 - i] = kDigits[(hash >> (4 * i)) & 0xFU];
    }
    return text;
}

LabelMatch MatchLabels(const std::vector<LabelLine>& lines, const std::vector<LabelTarget>& files)
{
    std::unordered_map<std::string, std::vector<const LabelTarget*>> by_hash;
    std::unordered_map<std::string, const LabelTarget*> by_path;
    for (const LabelTarget& file : files) {
        if (!file.hash.empty()) {
            by_hash[file.hash].push_back(&file);
        }
        by_path[file.path] = &file;
    }
    // Files named by a line of their own path and hash keep that line's
    // label against lines that only share their bytes.
    std::set<std::string> exact;
    for (const LabelLine& line : lines) {
        const auto found = by_path.find(line.path);
        if (found != by_path.end() && !line.hash.empty() && found->second->hash == line.hash) {
            exact.insert(line.path);
        }
    }
    LabelMatch match;
    for (const LabelLine& line : lines) {
        const auto same_bytes = line.hash.empty() ? by_hash.end() : by_hash.find(line.hash);
        if (same_bytes != by_hash.end()) {
            ++match.by_hash;
            if (exact.contains(line.path) && by_path.at(line.path)->hash == line.hash) {
                match.labels[line.path] = line.label;
                continue;
            }
            for (const LabelTarget* file : same_bytes->second) {
                if (!exact.contains(file->path)) {
                    match.labels[file->path] = line.label;
                }
            }
        } else if (by_path.contains(line.path)) {
            ++match.by_path;
            match.labels[line.path] = line.label;
        } else {
            ++match.unmatched;
        }
    }
    return match;
}

}  // namespace quorvel
