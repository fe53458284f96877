#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::studio {

// The rules every request meets before any route sees it. A server on the
// user's machine is reachable by every page the browser shows and every
// program the user runs, so each rule stands against one way in.

// Compares in time that depends only on the lengths, so that the token
// cannot be guessed a byte at a time from how long a refusal takes.
bool TokensEqual(std::string_view given, std::string_view expected);

// Host must name the loopback address and our port as the page's address
// does: a page of another site that rebinds its name to 127.0.0.1 sends its
// own name here (DNS rebinding).
bool HostAllowed(std::string_view host, std::uint16_t port);

// Origin (sent by browsers with every POST) must be the studio's own page:
// a page of another site may send a form here but cannot say it is us.
bool OriginAllowed(std::optional<std::string_view> origin, std::uint16_t port);

// A request target split into its path (never decoded: see ListedPath) and
// its query's parameters (decoded, "+" as a space). Nothing for a target
// that is not origin-form ("/..."), or has a malformed escape.
struct Target {
    std::string path;
    std::map<std::string, std::string> query;
};
std::optional<Target> ParseTarget(std::string_view target);

// The file path after a route's prefix ("/api/file/"), if it can be a path
// of the listing at all: plain "/"-separated names of letters, digits and
// "._-", no "." or ".." names, no empty name, nothing percent-encoded, not
// absolute, no backslash or drive letter. The caller then looks it up in
// the listing, and only what is there is served.
std::optional<std::string> ListedPath(std::string_view path, std::string_view prefix);

}  // namespace quorvel::studio
