#include "extract/entry.hpp"

namespace quorvel {

std::string_view KindName(EntryKind kind)
{
    switch (kind) {
        case EntryKind::kEmpty:
            return "empty";
        case EntryKind::kShort:
            return "short";
        case EntryKind::kAvqf:
            return "avqf";
        case EntryKind::kData:
            return "data";
        case EntryKind::kSound:
            return "sound";
        case EntryKind::kTail:
            return "tail";
    }
    return "data";
}

std::string_view ExtensionOf(EntryKind kind)
{
    switch (kind) {
        case EntryKind::kSound:
            return ".wav";
        case EntryKind::kAvqf:
            return ".AVQF";
        default:
            return "";
    }
}

}  // namespace quorvel
