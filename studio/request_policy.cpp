#include "studio/request_policy.hpp"

#include <algorithm>

namespace quorvel::studio {
namespace {

constexpr std::size_t kLongestPath = 1024;

std::optional<int> HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
        return (c | 0x20) - 'a' + 10;
    }
    return std::nullopt;
}

std::optional<std::string> DecodeQueryPart(std::string_view text)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const auto high = HexValue(text[i + 1]);
            const auto low = HexValue(text[i + 2]);
            if (!high || !low) {
                return std::nullopt;
            }
            decoded += static_cast<char>(*high * 16 + *low);
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

bool IsPathCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

}  // namespace

bool TokensEqual(std::string_view given, std::string_view expected)
{
    unsigned difference = given.size() == expected.size() ? 0U : 1U;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const char g = i < given.size() ? given[i] : '\0';
        difference |= static_cast<unsigned>(static_cast<unsigned char>(g) ^ static_cast<unsigned char>(expected[i]));
    }
    return difference == 0 && !expected.empty();
}

bool HostAllowed(std::string_view host, std::uint16_t port)
{
    // Appended rather than "+": GCC 12 at -O3 warns falsely (-Wrestrict) about the latter.
    std::string suffix(1, ':');
    suffix += std::to_string(port);
    if (!host.ends_with(suffix)) {
        return false;
    }
    const std::string_view name = host.substr(0, host.size() - suffix.size());
    return name == "127.0.0.1" || name == "[::1]" || EqualsIgnoringCase(name, "localhost");
}

bool OriginAllowed(std::optional<std::string_view> origin, std::uint16_t port)
{
    constexpr std::string_view kScheme = "http://";
    if (!origin || !origin->starts_with(kScheme)) {
        return false;
    }
    return HostAllowed(origin->substr(kScheme.size()), port);
}

std::optional<Target> ParseTarget(std::string_view target)
{
    if (target.empty() || target.front() != '/') {
        return std::nullopt;
    }
    const auto question = target.find('?');
    Target parsed{.path = std::string(target.substr(0, question)), .query = {}};
    if (question == std::string_view::npos) {
        return parsed;
    }
    std::string_view query = target.substr(question + 1);
    if (const auto hash = query.find('#'); hash != std::string_view::npos) {
        query = query.substr(0, hash);
    }
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        if (pair.empty()) {
            continue;
        }
        const auto equals = pair.find('=');
        const auto key = DecodeQueryPart(pair.substr(0, equals));
        const auto value =
            DecodeQueryPart(equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1));
        if (!key || !value) {
            return std::nullopt;
        }
        // The first of a repeated name counts: a later copy cannot override it.
        parsed.query.emplace(*key, *value);
    }
    return parsed;
}

std::optional<std::string> ListedPath(std::string_view path, std::string_view prefix)
{
    if (!path.starts_with(prefix)) {
        return std::nullopt;
    }
    path.remove_prefix(prefix.size());
    if (path.empty() || path.size() > kLongestPath) {
        return std::nullopt;
    }
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || !std::all_of(part.begin(), part.end(), IsPathCharacter)) {
            return std::nullopt;
        }
        start = end + 1;
    }
    return std::string(path);
}

}  // namespace quorvel::studio
