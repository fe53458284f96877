#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::studio {

// What to answer a GET of a file of `size` bytes, given its Range header.
struct RangeDecision {
    enum class Kind {
        kWhole,          // 200, all of it: no Range, or one this server ignores
        kPartial,        // 206, bytes first..last
        kUnsatisfiable,  // 416: no range of the header lies in the file
    };
    Kind kind = Kind::kWhole;
    std::uint64_t first = 0;
    std::uint64_t last = 0;  // inclusive; meaningful for kPartial
    std::uint64_t size = 0;

    int Status() const;
    std::uint64_t Length() const;
    // The Content-Range header's value, empty for kWhole.
    std::string ContentRange() const;
};

// Decides as RFC 9110 has it: a header that is not a valid "bytes=" set
// (an inverted range, a unit other than bytes, too many ranges) is
// ignored; several satisfiable ranges are answered as the one span that
// covers them all, which a single-part 206 may do.
RangeDecision DecideRange(std::optional<std::string_view> header, std::uint64_t size);

}  // namespace quorvel::studio
