#include "pack/pack.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "pack/archive_plan.hpp"
#include "pack/archive_writer.hpp"
#include "pack/sequential_reader.hpp"
#include "pack/verification.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kMissingNamed = 5;

// The three passes (walk, write, verify) as one count for the listener;
// the total is refined once the new archive's size is known.
class PackProgress final : public ExtractionListener {
public:
    PackProgress(PackListener& listener, std::uint64_t total) : listener_(listener), total_(total) {}

    void SetTotal(std::uint64_t total) { total_ = std::max(total, done_); }
    std::uint64_t done() const { return done_; }

    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& /*truncation*/) override {}
    void Advance(std::uint64_t bytes) override { done_ += bytes; }
    void Checkpoint() override { listener_.Progress(done_, total_); }

private:
    PackListener& listener_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
};

// Every file extraction makes must be in the folder; whatever else is
// there is left out, and said so.
std::vector<std::string> CheckFolder(const ArchivePlan& plan, PackFileSystem& pack_files)
{
    const auto listed = pack_files.ListFolder(plan.location.output_folder);
    std::unordered_set<std::string> present(listed.begin(), listed.end());
    std::unordered_set<std::string> expected;
    expected.reserve(plan.FileCount());
    std::vector<std::string> missing;
    std::size_t missing_count = 0;
    for (const PlannedBlock& block : plan.blocks) {
        for (std::size_t i = 0; i < block.file_count; ++i) {
            std::string name = plan.FileName(block, i);
            if (!present.contains(name) && missing_count++ < kMissingNamed) {
                missing.push_back(plan.location.name + "/" + name);
            }
            expected.insert(std::move(name));
        }
    }
    if (missing_count != 0) {
        std::string reason = "is missing from the folder; every file extraction makes is needed to rebuild the archive";
        if (missing_count > 1) {
            std::string others;
            for (std::size_t i = 1; i < missing.size(); ++i) {
                others += (i == 1 ? "" : ", ") + missing[i];
            }
            reason += " (" + std::to_string(missing_count - 1) + " more missing: " + others +
                      (missing_count > missing.size() ? ", ..." : "") + ")";
        }
        throw PackRefused(missing.front(), reason);
    }
    std::vector<std::string> ignored;
    for (const std::string& name : listed) {
        if (!expected.contains(name)) {
            ignored.push_back(plan.location.name + "/" + name);
        }
    }
    std::sort(ignored.begin(), ignored.end());
    return ignored;
}

// An output that writes nothing but notes which parts of the new archive
// differ from the old one.
class DiffingOutput final : public OutputFile, public PartObserver {
public:
    DiffingOutput(const ArchivePlan& plan, FileSystem& files, std::vector<BlockChange>& changes)
        : plan_(plan),
          old_file_(files.OpenArchive(plan.location.archive_path)),
          old_(*old_file_, plan.location.archive_path),
          changes_(changes)
    {
    }

    void PartStarted(const PlannedBlock* block, std::uint64_t old_offset, std::uint64_t old_size) override
    {
        block_ = block;
        old_offset_ = old_offset;
        old_size_ = old_size;
        compared_ = 0;
        differs_ = false;
        old_.SkipTo(old_offset);
    }

    void Write(std::span<const std::byte> bytes) override
    {
        while (!differs_ && !bytes.empty() && compared_ < old_size_) {
            const auto old =
                old_.Next(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), old_size_ - compared_)));
            if (old.empty() || std::memcmp(old.data(), bytes.data(), old.size()) != 0) {
                differs_ = true;
                break;
            }
            compared_ += old.size();
            bytes = bytes.subspan(old.size());
        }
        differs_ = differs_ || !bytes.empty();
    }

    void PartFinished(std::uint64_t new_size) override
    {
        if (!differs_ && new_size == old_size_) {
            return;
        }
        BlockChange change{.offset = old_offset_,
                           .old_size = old_size_,
                           .new_size = new_size,
                           .files = {},
                           .final_field = block_ == nullptr};
        if (block_ != nullptr) {
            for (std::size_t i = 0; i < block_->file_count; ++i) {
                change.files.push_back(plan_.location.name + "/" + plan_.FileName(*block_, i));
            }
        }
        changes_.push_back(std::move(change));
    }

    void Close() override {}

private:
    const ArchivePlan& plan_;
    std::unique_ptr<InputFile> old_file_;
    SequentialReader old_;
    std::vector<BlockChange>& changes_;
    const PlannedBlock* block_ = nullptr;
    std::uint64_t old_offset_ = 0;
    std::uint64_t old_size_ = 0;
    std::uint64_t compared_ = 0;
    bool differs_ = false;
};

// The temporary file until it has taken the archive's place: removed,
// whatever ended the pack, if it has not.
class TemporaryArchive {
public:
    TemporaryArchive(PackFileSystem& pack_files, const std::string& beside)
        : pack_files_(pack_files), path_(pack_files.MakeTemporaryBeside(beside))
    {
    }
    ~TemporaryArchive()
    {
        if (!path_.empty()) {
            pack_files_.RemoveTemporary(path_);
        }
    }
    TemporaryArchive(const TemporaryArchive&) = delete;
    TemporaryArchive& operator=(const TemporaryArchive&) = delete;

    const std::string& path() const { return path_; }
    void Renamed() { path_.clear(); }

private:
    PackFileSystem& pack_files_;
    std::string path_;
};

// The temporary archive, whose bytes are sent on to the disk every few
// MiB as they are written: the disk then works alongside the copying
// rather than all at once at the end.
class FlushingOutput final : public OutputFile {
public:
    static constexpr std::uint64_t kFlushSpan = 32 << 20;

    FlushingOutput(std::unique_ptr<OutputFile> out, PackFileSystem& pack_files, std::string path)
        : out_(std::move(out)), pack_files_(pack_files), path_(std::move(path))
    {
    }

    void Write(std::span<const std::byte> bytes) override
    {
        out_->Write(bytes);
        Wrote(bytes.size());
    }
    std::uint64_t CopyFrom(InputFile& input, std::uint64_t length) override
    {
        const std::uint64_t moved = out_->CopyFrom(input, length);
        Wrote(moved);
        return moved;
    }
    void Close() override
    {
        out_->Close();
        pack_files_.StartFlush(path_, flushed_, 0);
    }

private:
    void Wrote(std::uint64_t count)
    {
        written_ += count;
        if (written_ - flushed_ >= kFlushSpan) {
            pack_files_.StartFlush(path_, flushed_, written_ - flushed_);
            flushed_ = written_;
        }
    }

    std::unique_ptr<OutputFile> out_;
    PackFileSystem& pack_files_;
    std::string path_;
    std::uint64_t written_ = 0;
    std::uint64_t flushed_ = 0;
};

std::uint64_t WriteTemporary(const ArchivePlan& plan, FileSystem& files, PackFileSystem& pack_files,
                             const std::string& path, PackProgress& progress)
{
    FlushingOutput out(files.CreateOutput(path), pack_files, path);
    const std::uint64_t size = WriteArchive(plan, files, out, progress);
    out.Close();
    return size;
}

}  // namespace

PackResult PackArchive(const ArchiveLocation& location, FileSystem& files, PackFileSystem& pack_files,
                       PackListener& listener, PackMode mode)
{
    listener.StatusChanged("Packing: " + location.name);
    const std::uint64_t old_size = files.OpenArchive(location.archive_path)->Size();
    // Walk, write and verify: about three times the archive.
    PackProgress progress(listener, mode == PackMode::kDryRun ? 2 * old_size : 3 * old_size);
    const ArchivePlan plan = PlanArchive(location, files, progress);
    PackResult result{.old_size = plan.archive_size,
                      .new_size = 0,
                      .blocks = plan.blocks.size(),
                      .changes = {},
                      .ignored = CheckFolder(plan, pack_files),
                      .repaired = plan.truncation,
                      .backup_made = false,
                      .backup_path = location.archive_path + ".bak"};
    if (mode == PackMode::kDryRun) {
        DiffingOutput diff(plan, files, result.changes);
        result.new_size = WriteArchive(plan, files, diff, progress, &diff);
        return result;
    }
    TemporaryArchive temporary(pack_files, location.archive_path);
    result.new_size = WriteTemporary(plan, files, pack_files, temporary.path(), progress);
    progress.SetTotal(progress.done() + result.new_size);
    // Checked while the disk still writes it out; the flush then waits for
    // what is left, before anything of the old archive is touched.
    VerifyArchive(plan, temporary.path(), files, progress);
    pack_files.FlushToDisk(temporary.path());
    result.backup_made = pack_files.KeepBackup(location.archive_path, result.backup_path);
    pack_files.ReplaceWith(temporary.path(), location.archive_path);
    temporary.Renamed();
    return result;
}

}  // namespace quorvel
