#include "pack/archive_plan.hpp"

#include <algorithm>
#include <cassert>

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
        plan_.kinds.push_back(entry.kind);
        ++files_in_block_;
    }
    void BlockFinished(const BlockExtent& extent) override
    {
        const PlannedBlock block{.extent = extent,
                                 .first_number = next_number_,
                                 .first_file = plan_.kinds.size() - files_in_block_,
                                 .file_count = files_in_block_};
        plan_.blocks.push_back(block);
        assert(files_in_block_ == 0 ||
               plan_.FileName(block, 0) ==
                   EntryFileName(plan_.location.name, next_number_, ExtensionOf(plan_.kinds[block.first_file])));
        // A block without files still uses up its number.
        next_number_ += static_cast<std::int64_t>(std::max<std::size_t>(files_in_block_, 1));
        files_in_block_ = 0;
    }

private:
    ArchivePlan& plan_;
    ExtractionListener& progress_;
    std::size_t files_in_block_ = 0;
    std::int64_t next_number_ = 1;
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
    ArchivePlan plan{.location = location, .archive_size = archive.Size(), .blocks = {}, .kinds = {}, .truncation = {}};
    PlanRecorder recorder(plan, progress);
    ListArchive(location, archive, files, recorder);
    return plan;
}

}  // namespace quorvel
