#include "pack/archive_plan.hpp"

#include <algorithm>

#include "extract/entry_writer.hpp"
#include "extract/listing.hpp"

namespace quorvel {
namespace {

// Turns the walk's events into the plan; progress goes on to `progress`.
class PlanRecorder final : public ExtractionListener {
public:
    PlanRecorder(ArchivePlan& plan, ExtractionListener& progress) : plan_(plan), progress_(progress) {}

    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& truncation) override { plan_.truncation = truncation; }
    void Advance(std::uint64_t bytes) override { progress_.Advance(bytes); }
    void Checkpoint() override { progress_.Checkpoint(); }
    void EntryFinished(const Entry& entry) override
    {
        if (files_in_block_ == 0) {
            first_number_ = entry.number;  // a block's files are numbered on from its first
        }
        plan_.kinds.push_back(entry.kind);
        plan_.formats.push_back(entry.kind == EntryKind::kSound ? SoundFormat::Of(entry.head) : std::nullopt);
        ++files_in_block_;
    }
    void BlockFinished(const BlockExtent& extent) override
    {
        plan_.blocks.push_back(PlannedBlock{.extent = extent,
                                            .first_number = files_in_block_ == 0 ? 0 : first_number_,
                                            .first_file = plan_.kinds.size() - files_in_block_,
                                            .file_count = files_in_block_});
        files_in_block_ = 0;
    }

private:
    ArchivePlan& plan_;
    ExtractionListener& progress_;
    std::size_t files_in_block_ = 0;
    std::int64_t first_number_ = 0;
};

}  // namespace

std::string ArchivePlan::FileName(const PlannedBlock& block, std::size_t index) const
{
    return EntryFileName(location.name, block.first_number + static_cast<std::int64_t>(index),
                         ExtensionOf(kinds[block.first_file + index]));
}

std::string ArchivePlan::FilePath(const FileSystem& files, const PlannedBlock& block, std::size_t index) const
{
    return files.Join(location.output_folder, FileName(block, index));
}

ArchivePlan PlanArchive(const ArchiveLocation& location, InputFile& archive, FileSystem& files,
                        ExtractionListener& progress)
{
    ArchivePlan plan{.location = location,
                     .archive_size = archive.Size(),
                     .blocks = {},
                     .kinds = {},
                     .formats = {},
                     .truncation = {}};
    PlanRecorder recorder(plan, progress);
    ListArchive(location, archive, files, recorder);
    return plan;
}

}  // namespace quorvel
