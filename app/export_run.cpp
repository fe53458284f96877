#include "app/export_run.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "extract/listing.hpp"
#include "labels/label_names.hpp"
#include "labels/label_store.hpp"

namespace quorvel {
namespace {

constexpr std::string_view kQuestion = "Also export speech files?";

// One listed file's bytes, read from its archive as extraction writes them.
class ArchivedFile final : public InputFile {
public:
    ArchivedFile(InputFile& archive, std::string archive_path, std::uint64_t offset, std::uint64_t size)
        : archive_(archive), archive_path_(std::move(archive_path)), offset_(offset), size_(size)
    {
    }

    std::uint64_t Size() override { return size_; }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        if (offset >= size_ || buffer.empty()) {
            return 0;
        }
        buffer = buffer.first(static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - offset)));
        const std::size_t got = archive_.ReadAt(offset_ + offset, buffer);
        if (got == 0) {
            throw ExtractError(Failure{.kind = FailureKind::kEndedEarly,
                                       .description = "the archive is shorter than when its blocks were walked",
                                       .file = archive_path_,
                                       .offset = offset_ + offset});
        }
        return got;
    }

private:
    InputFile& archive_;
    std::string archive_path_;
    std::uint64_t offset_;
    std::uint64_t size_;
};

class Export {
public:
    Export(FileSystem& files, const ExportRequest& request, ExportReport& report)
        : files_(files), request_(request), report_(report)
    {
    }

    RunEnd Run();

private:
    class ArchiveWalk;

    void ExportAll();
    std::string ExportFolder() const;
    ArchiveLocation Locate(std::string_view name) const;
    void ExportArchive(const ArchiveLocation& location, InputFile& walked, InputFile& read);
    void ExportSound(const Entry& entry, const ArchiveLocation& location, InputFile& archive, ExportTally& tally);
    void SoundFailed(const audio::SoundError& error, ExportTally& tally);
    void WriteSound(audio::SoundExport& sound, const std::string& path, const audio::ExportTags& tags,
                    std::uint64_t size);
    void MakeFolders(const ArchiveLocation& location);
    void ShowProgress(std::int64_t within_entry);

    FileSystem& files_;
    const ExportRequest& request_;
    ExportReport& report_;
    std::int64_t bytes_done_ = 0;  // of the files finished
    std::int64_t bytes_total_ = 0;
    std::uint64_t failed_ = 0;
    bool folders_made_ = false;  // for the archive being exported
    std::vector<Truncation> truncations_;
};

// Walks one archive as extraction does, exporting each chosen sound as soon
// as the walk has finished it.
class Export::ArchiveWalk final : public ExtractionListener {
public:
    ArchiveWalk(Export& run, const ArchiveLocation& location, InputFile& archive, ExportTally& tally)
        : run_(run), location_(location), archive_(archive), tally_(tally)
    {
    }

    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& truncation) override { run_.truncations_.push_back(truncation); }
    void Advance(std::uint64_t /*bytes*/) override {}
    void Checkpoint() override { run_.ShowProgress(0); }
    void EntryFinished(const Entry& entry) override
    {
        const bool chosen = run_.request_.choice == nullptr ||
                            run_.request_.choice->Chooses(location_.name, entry.number, entry.RelativePath());
        if (chosen && entry.kind == EntryKind::kSound) {
            run_.ExportSound(entry, location_, archive_, tally_);
        } else if (chosen) {
            ++tally_.left;
        }
        run_.bytes_done_ += static_cast<std::int64_t>(entry.size);
        run_.ShowProgress(0);
    }

private:
    Export& run_;
    const ArchiveLocation& location_;
    InputFile& archive_;
    ExportTally& tally_;
};

RunEnd Export::Run()
{
    RunEnd end = RunEnd::kCompleted;
    try {
        ExportAll();
    } catch (const ExtractError& error) {
        report_.ReportError(error.failure());
        end = RunEnd::kFailed;
    } catch (const Cancelled&) {
        end = RunEnd::kCancelled;
    }
    // However the run ended, an archive found short is told: nothing else
    // would say that it lacked bytes.
    for (const Truncation& truncation : truncations_) {
        report_.ReportWarning(truncation.Describe());
    }
    if (end == RunEnd::kCompleted && failed_ != 0) {
        return RunEnd::kFailed;
    }
    if (end == RunEnd::kCompleted && !truncations_.empty()) {
        return RunEnd::kTruncated;
    }
    return end;
}

void Export::ExportAll()
{
    const bool with_speech = report_.AskYesNo(kQuestion);
    std::vector<ArchiveLocation> locations = {Locate(kSoundEffects)};
    if (with_speech) {
        locations.push_back(Locate(kSpeech));
    }
    // Every archive is opened first, so that a missing one stops the run
    // before anything is written. The walk and the sounds' reads each have
    // an open of their own: neither moves the other's window.
    std::vector<std::unique_ptr<InputFile>> walked;
    std::vector<std::unique_ptr<InputFile>> read;
    for (const ArchiveLocation& location : locations) {
        walked.push_back(files_.OpenArchive(location.archive_path));
        read.push_back(files_.OpenArchive(location.archive_path));
        bytes_total_ += static_cast<std::int64_t>(walked.back()->Size());
    }
    report_.Started();
    for (std::size_t i = 0; i < locations.size(); ++i) {
        ExportArchive(locations[i], *walked[i], *read[i]);
        walked[i].reset();
        read[i].reset();
    }
}

// export/ in the output folder, apart from what extraction writes there.
std::string Export::ExportFolder() const
{
    const Places& places = request_.places;
    const std::string base = ArchiveLocation::OutputParent(places.game_folder, places.output_folder);
    return base.empty() ? std::string(kExportFolder) : files_.Join(base, std::string(kExportFolder));
}

// The archive, and its exports' folder: export/{name}.
ArchiveLocation Export::Locate(std::string_view name) const
{
    return ArchiveLocation::Of(files_, std::string(name), request_.places.game_folder, ExportFolder());
}

void Export::ExportArchive(const ArchiveLocation& location, InputFile& walked, InputFile& read)
{
    report_.StatusChanged("Exporting: " + location.name);
    ExportTally tally{.archive = location.name, .folder = location.output_folder};
    folders_made_ = false;
    ArchiveWalk walk(*this, location, read, tally);
    ListArchive(location, walked, files_, walk);
    report_.ArchiveExported(tally);
}

void Export::ExportSound(const Entry& entry, const ArchiveLocation& location, InputFile& archive, ExportTally& tally)
{
    ArchivedFile bytes(archive, location.archive_path, entry.offset, entry.size);
    const std::string listed = entry.RelativePath();
    std::optional<audio::SoundExport> sound;
    try {
        sound = audio::SoundExport::Open(bytes, listed, request_.format);
    } catch (const audio::SoundError& error) {
        return SoundFailed(error, tally);
    }
    std::string label;
    if (request_.labels != nullptr) {
        if (const auto found = request_.labels->find(listed); found != request_.labels->end()) {
            label = found->second;
        }
    }
    const audio::ExportTags tags = ExportTagsOf(listed, label, bytes);
    MakeFolders(location);
    const std::string stem = entry.file_name.substr(0, entry.file_name.rfind('.'));
    const std::string path =
        files_.Join(location.output_folder, ExportFileName(stem, label, audio::ExtensionOf(request_.format)));
    try {
        WriteSound(*sound, path, tags, entry.size);
    } catch (const audio::SoundError& error) {
        return SoundFailed(error, tally);
    }
    ++tally.exported;
    report_.SoundExported(path);
}

// The sound's own fault: told, and the run goes on with the others.
void Export::SoundFailed(const audio::SoundError& error, ExportTally& tally)
{
    report_.SoundFailed(error.what());
    ++tally.failed;
    ++failed_;
}

// Writes the file whole or not at all: a failure or a stop throws away what
// was written, and an older file of that name stays as it was.
void Export::WriteSound(audio::SoundExport& sound, const std::string& path, const audio::ExportTags& tags,
                        std::uint64_t size)
{
    const std::unique_ptr<OutputFile> output = files_.CreateOutput(path, FileSystem::IfTaken::kReplace);
    const double bytes_per_frame =
        sound.frames() > 0 ? static_cast<double>(size) / static_cast<double>(sound.frames()) : 0;
    try {
        sound.WriteTo(*output, tags, [&](std::int64_t frames) {
            ShowProgress(static_cast<std::int64_t>(static_cast<double>(frames) * bytes_per_frame));
        });
        output->Close();
    } catch (...) {
        output->Abandon();
        throw;
    }
}

// export/ and export/{name}, made for an archive's first exported sound.
void Export::MakeFolders(const ArchiveLocation& location)
{
    if (folders_made_) {
        return;
    }
    for (const std::string& folder : {ExportFolder(), location.output_folder}) {
        if (auto failure = files_.MakeFolder(folder)) {
            throw ExtractError(std::move(*failure));
        }
    }
    folders_made_ = true;
}

void Export::ShowProgress(std::int64_t within_entry)
{
    report_.Progress(static_cast<std::uint64_t>(std::min(bytes_done_ + within_entry, bytes_total_)),
                     static_cast<std::uint64_t>(bytes_total_));
}

}  // namespace

audio::ExportTags ExportTagsOf(const std::string& listed, const std::string& label, InputFile& stored)
{
    return {.title = label, .comment = listed + " xxh64:" + ContentHash(stored)};
}

RunEnd ExportRun(FileSystem& files, const ExportRequest& request, ExportReport& report)
{
    return Export(files, request, report).Run();
}

}  // namespace quorvel
