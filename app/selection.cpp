#include "app/selection.hpp"

#include <algorithm>
#include <charconv>

#include "app/places.hpp"

namespace quorvel {
namespace {

constexpr char kSeparator = '/';

std::optional<std::int64_t> ParseNumber(std::string_view text)
{
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || number < 0) {
        return std::nullopt;
    }
    return number;
}

// A "[...]" set at the start of `pattern` (just after the "["): whether it
// holds `c`, and how long it is up to and including its "]". Nothing when
// it has no "]": then the "[" is taken as it is.
struct SetMatch {
    bool holds = false;
    std::size_t length = 0;
};

std::optional<SetMatch> MatchSet(std::string_view pattern, char c)
{
    std::size_t at = 0;
    const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    if (negated) {
        ++at;
    }
    bool holds = false;
    // A "]" right after the opening is one of the set.
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
        const char low = pattern[at];
        if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
            const char high = pattern[at + 2];
            holds = holds || (low <= c && c <= high);
            at += 3;
        } else {
            holds = holds || low == c;
            ++at;
        }
    }
    if (at >= pattern.size()) {
        return std::nullopt;
    }
    return SetMatch{.holds = holds != negated, .length = at + 1};
}

}  // namespace

namespace {

// How much of the pattern, from `at`, one character `c` of the text takes:
// nothing when it does not match there. Never a "*".
std::optional<std::size_t> MatchOne(std::string_view pattern, std::size_t at, char c)
{
    switch (pattern[at]) {
        case '?':
            return c != kSeparator ? std::optional<std::size_t>(1) : std::nullopt;
        case '[':
            if (const auto set = MatchSet(pattern.substr(at + 1), c)) {
                return set->holds && c != kSeparator ? std::optional<std::size_t>(1 + set->length) : std::nullopt;
            }
            break;  // no "]": an ordinary "["
        case '\\':
            if (at + 1 < pattern.size()) {
                return pattern[at + 1] == c ? std::optional<std::size_t>(2) : std::nullopt;
            }
            break;
        default:
            break;
    }
    return pattern[at] == c ? std::optional<std::size_t>(1) : std::nullopt;
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view text)
{
    // Backtracking to the last "*" is enough: a "*" never takes a
    // separator, so once one is passed, no earlier "*" could take more.
    std::size_t p = 0;
    std::size_t t = 0;
    std::optional<std::size_t> after_star;
    std::size_t star_took_up_to = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            after_star = ++p;
            star_took_up_to = t;
            continue;
        }
        if (p < pattern.size()) {
            if (const auto taken = MatchOne(pattern, p, text[t])) {
                p += *taken;
                ++t;
                continue;
            }
        }
        if (after_star && text[star_took_up_to] != kSeparator) {
            p = *after_star;
            t = ++star_took_up_to;
            continue;
        }
        return false;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

Selection Selection::Parse(const std::vector<std::string>& operands, bool backslash_separates)
{
    Selection selection;
    for (const std::string& written : operands) {
        Operand operand{.written = written, .pattern = {}, .archive = {}, .first = 0, .last = {}, .matched = false};
        const auto colon = written.find(':');
        const std::string_view archive = std::string_view(written).substr(0, colon);
        const bool names_an_archive =
            colon != std::string::npos &&
            std::find(kArchiveNames.begin(), kArchiveNames.end(), archive) != kArchiveNames.end();
        if (names_an_archive) {
            const std::string_view range = std::string_view(written).substr(colon + 1);
            const auto dash = range.find('-');
            const auto first = ParseNumber(range.substr(0, dash));
            const auto last = dash == std::string_view::npos ? first : ParseNumber(range.substr(dash + 1));
            const bool open_ended = dash != std::string_view::npos && dash + 1 == range.size();
            if (!first || (!last && !open_ended)) {
                throw BadOperand("'" + written + "' is no number or range of " + std::string(archive) + " (such as " +
                                 std::string(archive) + ":12, " + std::string(archive) + ":12-40 or " +
                                 std::string(archive) + ":7-)");
            }
            if (last && *last < *first) {
                throw BadOperand("'" + written + "' is a range that ends before it starts");
            }
            operand.archive = std::string(archive);
            operand.first = *first;
            operand.last = open_ended ? std::nullopt : last;
        } else {
            operand.pattern = written;
            if (backslash_separates) {
                std::replace(operand.pattern.begin(), operand.pattern.end(), '\\', kSeparator);
            }
            if (operand.pattern.empty()) {
                throw BadOperand("an empty operand chooses nothing");
            }
        }
        selection.operands_.push_back(std::move(operand));
    }
    return selection;
}

bool Selection::Chooses(std::string_view archive, std::int64_t number, std::string_view path)
{
    const auto slash = path.rfind(kSeparator);
    const std::string_view file_name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    bool chosen = false;
    // Every operand is asked, so that each one that chooses the file counts it.
    for (Operand& operand : operands_) {
        bool matches = false;
        if (operand.pattern.empty()) {
            matches =
                operand.archive == archive && number >= operand.first && (!operand.last || number <= *operand.last);
        } else {
            const bool whole_path = operand.pattern.find(kSeparator) != std::string::npos;
            matches = MatchesPattern(operand.pattern, whole_path ? path : file_name);
        }
        operand.matched = operand.matched || matches;
        chosen = chosen || matches;
    }
    return chosen;
}

bool Selection::Names(std::string_view archive) const
{
    return std::any_of(operands_.begin(), operands_.end(), [archive](const Operand& operand) {
        if (operand.pattern.empty()) {
            return operand.archive == archive;
        }
        const auto slash = operand.pattern.find(kSeparator);
        return slash != std::string::npos && MatchesPattern(operand.pattern.substr(0, slash), archive);
    });
}

std::vector<std::string> Selection::Unmatched() const
{
    std::vector<std::string> unmatched;
    for (const Operand& operand : operands_) {
        if (!operand.matched) {
            unmatched.push_back(operand.written);
        }
    }
    return unmatched;
}

}  // namespace quorvel
