#include "pack/pack.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "extract/output_names.hpp"
#include "pack/archive_plan.hpp"
#include "pack/folder_file.hpp"
#include "pack/new_archive.hpp"
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
std::vector<std::string> CheckFolder(const ArchivePlan& plan, const FileSystem& files, PackFileSystem& pack_files)
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
                missing.push_back(files.Join(plan.location.output_folder, name));
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
        // The folder where reruns and swaps keep their new files until
        // they take their names is the tool's own, and empty between runs.
        if (!expected.contains(name) && !name.starts_with(kReplacementFolder)) {
            ignored.push_back(files.Join(plan.location.output_folder, name));
        }
    }
    std::sort(ignored.begin(), ignored.end());
    return ignored;
}

// The sounds of the folder whose format is not their archived sound's.
std::vector<FormatChange> FindFormatChanges(const ArchivePlan& plan, FileSystem& files)
{
    std::vector<FormatChange> changes;
    std::vector<std::byte> head(Entry::kHeadSize);
    for (const PlannedBlock& block : plan.blocks) {
        for (std::size_t i = 0; i < block.file_count; ++i) {
            const auto& archived = plan.formats[block.first_file + i];
            if (!archived) {
                continue;  // not a sound, or one whose format the archive does not tell either
            }
            const std::string path = plan.FilePath(files, block, i);
            const auto file = OpenFolderFile(files, path);
            std::size_t got = 0;
            while (got < head.size()) {
                const std::size_t count = file->ReadAt(got, std::span(head).subspan(got));
                if (count == 0) {
                    break;
                }
                got += count;
            }
            const auto now = SoundFormat::Of(std::span(head).first(got));
            if (now != archived) {
                changes.push_back(FormatChange{.path = path,
                                               .archived = *archived,
                                               .now = now,
                                               .listed = ListedPath(plan.location.name, plan.FileName(block, i))});
            }
        }
    }
    return changes;
}

// The temporary file until it has taken the archive's place: removed,
// whatever ended the pack, if it has not.
class TemporaryArchive {
public:
    TemporaryArchive(PackFileSystem& pack_files, const std::string& beside)
        : pack_files_(pack_files), temporary_(pack_files.MakeTemporaryBeside(beside))
    {
    }
    ~TemporaryArchive()
    {
        if (!temporary_.path.empty()) {
            if (temporary_.file) {
                temporary_.file->Abandon();
            }
            pack_files_.RemoveTemporary(temporary_.path);
        }
    }
    TemporaryArchive(const TemporaryArchive&) = delete;
    TemporaryArchive& operator=(const TemporaryArchive&) = delete;

    const std::string& path() const { return temporary_.path; }
    // The file to write it through, once.
    std::unique_ptr<OutputFile> TakeFile() { return std::move(temporary_.file); }
    void Renamed() { temporary_.path.clear(); }

private:
    PackFileSystem& pack_files_;
    PackFileSystem::Temporary temporary_;
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
    std::uint64_t CopyFrom(InputFile& input, std::uint64_t offset, std::uint64_t length) override
    {
        const std::uint64_t moved = out_->CopyFrom(input, offset, length);
        Wrote(moved);
        return moved;
    }
    void Close() override
    {
        out_->Close();
        pack_files_.StartFlush(path_, flushed_, 0);
    }
    void Abandon() noexcept override { out_->Abandon(); }

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

// What has the backup's name must be the archive as it was before an
// earlier pack, or nothing: anything else (a folder, a link that may point
// anywhere or at the archive itself, an empty file) would leave the old
// archive nowhere once the new one takes its name.
void CheckBackupName(PackFileSystem& pack_files, const std::string& backup)
{
    const char* what = nullptr;
    switch (pack_files.LookAt(backup)) {
        case PackFileSystem::Found::kNothing:
        case PackFileSystem::Found::kFileWithBytes:
            return;
        case PackFileSystem::Found::kEmptyFile:
            what = "an empty file";
            break;
        case PackFileSystem::Found::kFolder:
            what = "a folder";
            break;
        case PackFileSystem::Found::kLink:
            what = "a symbolic link";
            break;
        case PackFileSystem::Found::kOther:
            what = "neither a file nor a folder";
            break;
    }
    throw PackRefused(backup, std::string("is ") + what +
                                  ", not an earlier copy of the archive: move it away, so that the pack can keep "
                                  "the archive it replaces under that name");
}

// The old archive under the backup's name, or an earlier backup there as
// it is. Returns whether a backup was made.
bool KeepBackup(PackFileSystem& pack_files, const std::string& archive, const std::string& backup)
{
    for (;;) {
        CheckBackupName(pack_files, backup);
        if (pack_files.LookAt(backup) == PackFileSystem::Found::kFileWithBytes) {
            return false;
        }
        if (pack_files.MakeBackup(archive, backup)) {
            return true;
        }
        // Something took the name meanwhile: look again.
    }
}

void WriteTemporary(const NewArchive& layout, InputFile& old_archive, FileSystem& files, PackFileSystem& pack_files,
                    TemporaryArchive& temporary, PackProgress& progress)
{
    FlushingOutput out(temporary.TakeFile(), pack_files, temporary.path());
    try {
        WriteNewArchive(layout, old_archive, files, out, progress);
        out.Close();
    } catch (...) {
        out.Abandon();
        throw;
    }
}

}  // namespace

PackResult PackArchive(const ArchiveLocation& location, FileSystem& files, PackFileSystem& pack_files,
                       PackListener& listener, PackMode mode)
{
    listener.StatusChanged("Packing: " + location.name);
    const std::string backup = location.archive_path + ".bak";
    CheckBackupName(pack_files, backup);
    // Opened once: walked for its blocks, then read again for the bytes
    // the new archive keeps (and, on a dry run, compares with).
    auto archive = files.OpenArchive(location.archive_path);
    const std::uint64_t old_size = archive->Size();
    // Walk, write and verify: about three times the archive; a dry run
    // does not write.
    PackProgress progress(listener, mode == PackMode::kDryRun ? 2 * old_size : 3 * old_size);
    const ArchivePlan plan = PlanArchive(location, *archive, files, progress);
    PackResult result{.old_size = plan.archive_size,
                      .new_size = 0,
                      .blocks = plan.blocks.size(),
                      .changes = {},
                      .ignored = CheckFolder(plan, files, pack_files),
                      .format_changes = FindFormatChanges(plan, files),
                      .repaired = plan.truncation,
                      .backup_made = false,
                      .backup_path = backup};
    const NewArchive layout = NewArchive::LayOut(plan, files);
    result.new_size = layout.Size();
    progress.SetTotal(progress.done() + (mode == PackMode::kDryRun ? 1 : 2) * layout.Size());
    if (mode == PackMode::kDryRun) {
        const auto new_archive = ReadNewArchive(layout, *archive, files, &result.changes);
        VerifyArchive(plan, *new_archive, "the new " + ArchivePath(location.name), files, progress);
        return result;
    }
    TemporaryArchive temporary(pack_files, location.archive_path);
    WriteTemporary(layout, *archive, files, pack_files, temporary, progress);
    // Checked while the disk still writes it out; the flush then waits for
    // what is left, before anything of the old archive is touched.
    VerifyArchive(plan, *files.OpenArchive(temporary.path()), temporary.path(), files, progress);
    pack_files.FlushToDisk(temporary.path());
    // Closed before its name is given away: Windows keeps the name of a
    // file open without shared deletion.
    archive.reset();
    result.backup_made = KeepBackup(pack_files, location.archive_path, backup);
    pack_files.ReplaceWith(temporary.path(), location.archive_path);
    temporary.Renamed();
    return result;
}

}  // namespace quorvel
