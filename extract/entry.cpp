#include "extract/entry.hpp"

#include <array>
#include <utility>

namespace quorvel {
namespace {

// Name and extension of each kind, in the order EntryKind lists them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kKinds = {{
    {"empty", ""},
    {"short", ""},
    {"avqf", ".AVQF"},
    {"data", ""},
    {"sound", ".wav"},
    {"tail", ""},
}};

}  // namespace

std::string_view KindName(EntryKind kind)
{
    return kKinds.at(static_cast<std::size_t>(kind)).first;
}

std::string_view ExtensionOf(EntryKind kind)
{
    return kKinds.at(static_cast<std::size_t>(kind)).second;
}

}  // namespace quorvel
