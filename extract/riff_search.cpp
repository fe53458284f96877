#include "extract/riff_search.hpp"

#include <algorithm>
#include <cstring>
#include <functional>

namespace quorvel {

std::size_t FindRiff(std::span<const std::byte> bytes, std::size_t from)
{
    static constexpr char kRiff[] = {'R', 'I', 'F', 'F'};
    if (from >= bytes.size()) {
        return kNoMatch;
    }
    const auto* first = reinterpret_cast<const char*>(bytes.data()) + from;
    const auto* last = reinterpret_cast<const char*>(bytes.data()) + bytes.size();
    const auto* found =
        std::search(first, last, std::boyer_moore_horspool_searcher(std::begin(kRiff), std::end(kRiff)));
    return found == last ? kNoMatch : static_cast<std::size_t>(found - reinterpret_cast<const char*>(bytes.data()));
}

}  // namespace quorvel
