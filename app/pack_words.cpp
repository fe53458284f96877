#include "app/pack_words.hpp"

#include <algorithm>
#include <cstdint>

namespace quorvel {
namespace {

constexpr std::size_t kIgnoredNamed = 10;

std::string JoinNames(const std::vector<std::string>& names, std::size_t shown)
{
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i) {
        text += (i == 0 ? "" : ", ") + names[i];
    }
    if (names.size() > shown) {
        text += ", ...";
    }
    return text;
}

std::string LeftAsItWas(const ArchiveLocation& archive, PackMode mode)
{
    return archive.archive_path + (mode == PackMode::kDryRun ? ": " : " was left as it was: ");
}

}  // namespace

std::string PackedText(const PackResult& result)
{
    return "packed, " + std::to_string(result.new_size) + " bytes (was " + std::to_string(result.old_size) + "); " +
           (result.backup_made ? "the old archive is kept as " + result.backup_path
                               : result.backup_path + " from before was kept as it is");
}

std::string PackedLine(const ArchiveLocation& archive, const PackResult& result)
{
    return archive.archive_path + ": " + PackedText(result);
}

std::vector<std::string> PackWarnings(const ArchiveLocation& archive, const PackResult& result, PackMode mode)
{
    const bool dry_run = mode == PackMode::kDryRun;
    std::vector<std::string> warnings;
    if (!result.ignored.empty()) {
        const bool one = result.ignored.size() == 1;
        warnings.push_back(std::to_string(result.ignored.size()) + (one ? " file" : " files") +
                           " that extraction does not make " +
                           (dry_run ? "would be"
                            : one   ? "was"
                                    : "were") +
                           " left out: " + JoinNames(result.ignored, kIgnoredNamed));
    }
    for (const FormatChange& change : result.format_changes) {
        warnings.push_back(DescribeFormatChange(change));
    }
    if (result.repaired) {
        warnings.push_back(archive.archive_path + " was truncated (the block at offset " +
                           std::to_string(result.repaired->block_offset) + " lacked " +
                           std::to_string(result.repaired->missing_bytes) +
                           " bytes): " + (dry_run ? "packing would repair it" : "it is repaired") +
                           ", that block as long as its files and a zero final field added");
    }
    return warnings;
}

std::vector<std::string> DryRunLines(const ArchiveLocation& archive, const PackResult& result)
{
    std::vector<std::string> lines;
    for (const BlockChange& change : result.changes) {
        const std::string files = change.final_field     ? "(the final field)"
                                  : change.files.empty() ? "(no files)"
                                                         : JoinNames(change.files, SIZE_MAX);
        lines.push_back(archive.archive_path + ": block at offset " + std::to_string(change.offset) + ": " +
                        std::to_string(change.old_size) + " -> " + std::to_string(change.new_size) +
                        " bytes: " + files);
    }
    const auto blocks_changed = std::count_if(result.changes.begin(), result.changes.end(),
                                              [](const BlockChange& change) { return !change.final_field; });
    lines.push_back(archive.archive_path + ": " + std::to_string(blocks_changed) + " of " +
                    std::to_string(result.blocks) + " blocks would change, " + std::to_string(result.old_size) +
                    " -> " + std::to_string(result.new_size) + " bytes; nothing was written");
    return lines;
}

std::string NotPackedLine(const ArchiveLocation& archive, const Failure& failure, PackMode mode)
{
    if (failure.kind == FailureKind::kRefused) {
        return LeftAsItWas(archive, mode) + failure.file + ": " + failure.description;
    }
    return LeftAsItWas(archive, mode) + "it could not be packed";
}

std::string NothingToPackLine(const ArchiveLocation& sound_effects, const ArchiveLocation& speech)
{
    return "nothing to pack: neither sfx.pak nor speech.pak has its folder of extracted files (" +
           sound_effects.output_folder + " or " + speech.output_folder + ")";
}

}  // namespace quorvel
