// The studio over the core: the game folder's reading surface (GameReader)
// for the listing and the files' bytes, Form1 for extractions, the pack's
// dry run for a swap's checks, PackRun for the pack.

#include "studio/core_backend.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

#include "app/form1.hpp"
#include "app/game_reader.hpp"
#include "app/listing_records.hpp"
#include "app/pack_run.hpp"
#include "extract/archive_format.hpp"
#include "pack/pack.hpp"
#include "studio/labels.hpp"
#include "studio/random_token.hpp"
#include "studio/studio.hpp"
#include "studio/text_file.hpp"

namespace quorvel::studio {
namespace {

using CoreFile = quorvel::ListedFile;

[[noreturn]] void Fail(const ExtractError& error)
{
    throw RunFailed(error.failure().OneLine());
}

// A listed file's bytes from one offset on, read from its archive; the
// reader is kept alive by the source, whatever the backend lists meanwhile.
class ListedFileSource final : public ByteSource {
public:
    ListedFileSource(std::shared_ptr<const GameReader> game, const CoreFile& file, std::uint64_t offset)
        : game_(std::move(game)), file_(file), offset_(offset)
    {
    }
    std::size_t Read(std::span<std::byte> buffer) override
    {
        try {
            const std::size_t got = game_->Read(file_, offset_, buffer);
            offset_ += got;
            return got;
        } catch (const ExtractError& error) {
            Fail(error);
        }
    }

private:
    std::shared_ptr<const GameReader> game_;
    const CoreFile& file_;
    std::uint64_t offset_;
};

class FileSource final : public ByteSource {
public:
    FileSource(const std::filesystem::path& path, std::uint64_t offset) : in_(path, std::ios::binary)
    {
        if (!in_ || !in_.seekg(static_cast<std::streamoff>(offset))) {
            throw RunFailed(Utf8FromPath(path) + ": cannot be read");
        }
    }
    std::size_t Read(std::span<std::byte> buffer) override
    {
        in_.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
        if (in_.bad()) {
            throw RunFailed("an extracted file cannot be read");
        }
        return static_cast<std::size_t>(in_.gcount());
    }

private:
    std::ifstream in_;
};

// The files a run writes, by their listed paths.
class ChosenPaths final : public FileChoice {
public:
    explicit ChosenPaths(std::set<std::string> paths) : paths_(std::move(paths)) {}
    bool Chooses(std::string_view /*archive*/, std::int64_t /*number*/, std::string_view path) override
    {
        return paths_.contains(std::string(path));
    }

private:
    std::set<std::string> paths_;
};

// The folder's files, with one of them read from elsewhere: the pack's
// checks on a file before it takes its place.
class SubstitutingFileSystem final : public ForwardingFileSystem {
public:
    SubstitutingFileSystem(FileSystem& files, std::string path, std::string stand_in)
        : ForwardingFileSystem(files), path_(std::move(path)), stand_in_(std::move(stand_in))
    {
    }
    std::unique_ptr<InputFile> OpenRegularFile(const std::string& path) override
    {
        return files_.OpenRegularFile(path == path_ ? stand_in_ : path);
    }

private:
    std::string path_;
    std::string stand_in_;
};

// The extraction run's user interface: the question answered as the
// listing was made, the bar's counts and the stop request passed on.
class RunUi final : public UserInterface {
public:
    RunUi(bool speech, RunReporter& reporter) : speech_(speech), reporter_(reporter) {}

    bool AskYesNo(std::string_view /*question*/, std::string_view /*caption*/) override { return speech_; }
    void ShowWindow(std::string_view /*title*/) override {}
    void SetStatusText(std::string_view text) override { reporter_.Status(text); }
    void Unload() override {}
    void ReportError(const Failure& failure) override { failure_ = failure; }
    void ReportWarning(std::string_view /*text*/) override {}
    BarHandle CreateProgressBar(int /*x*/, int /*y*/, int /*width*/, int /*height*/) override { return 1; }
    void SetBarPosition(BarHandle /*bar*/, int /*position*/) override {}
    void SetBarCounts(BarHandle /*bar*/, std::int64_t done, std::int64_t total) override
    {
        reporter_.Progress(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total));
    }
    void SetBarText(BarHandle /*bar*/, std::string_view /*text*/) override {}
    bool ProcessPendingMessages() override { return !reporter_.StopRequested(); }

    const std::optional<Failure>& failure() const { return failure_; }

private:
    bool speech_;
    RunReporter& reporter_;
    std::optional<Failure> failure_;
};

// Progress of a pack, and the request to stop it.
class RunPackListener : public PackListener {
public:
    explicit RunPackListener(RunReporter& reporter) : reporter_(reporter) {}
    void StatusChanged(std::string_view text) override { reporter_.Status(text); }
    void Progress(std::uint64_t done, std::uint64_t total) override
    {
        reporter_.Progress(done, total);
        if (reporter_.StopRequested()) {
            throw Cancelled();
        }
    }

private:
    RunReporter& reporter_;
};

// What became of each archive, for the page.
class StudioPackReport final : public PackRunReport {
public:
    StudioPackReport(RunReporter& reporter, PackReport& report) : listener_(reporter), report_(report) {}

    void StatusChanged(std::string_view text) override { listener_.StatusChanged(text); }
    void Progress(std::uint64_t done, std::uint64_t total) override { listener_.Progress(done, total); }
    void NothingToPack(const ArchiveLocation& sound_effects, const ArchiveLocation& /*speech*/) override
    {
        ArchiveReport archive;
        archive.archive = ArchivePath(sound_effects.name);
        archive.refused = "there is no folder " + sound_effects.output_folder + " of extracted files to pack";
        report_.archives.push_back(std::move(archive));
    }
    void Packed(const ArchiveLocation& location, const PackResult& result) override
    {
        ArchiveReport& archive = Add(location);
        archive.old_size = result.old_size;
        archive.new_size = result.new_size;
        archive.blocks = result.blocks;
        archive.ignored = result.ignored;
        for (const BlockChange& change : result.changes) {
            archive.changes.push_back(BlockReport{.offset = change.offset,
                                                  .old_size = change.old_size,
                                                  .new_size = change.new_size,
                                                  .files = change.files,
                                                  .final_field = change.final_field});
        }
        if (result.repaired) {
            archive.repaired = result.repaired->Describe();
        }
        archive.result = report_.dry_run
                             ? "would be packed"
                             : "packed, " + std::to_string(result.new_size) + " bytes (was " +
                                   std::to_string(result.old_size) + "); " +
                                   (result.backup_made ? "the old archive is kept as " + result.backup_path
                                                       : result.backup_path + " from before was kept as it is");
    }
    void NotPacked(const ArchiveLocation& location, const Failure& failure) override
    {
        ArchiveReport& archive = Add(location);
        archive.refused =
            failure.kind == FailureKind::kRefused ? failure.file + ": " + failure.description : failure.OneLine();
        archive.result = report_.dry_run ? "would be refused" : "left as it was";
    }
    void Stopped(const ArchiveLocation& /*location*/) override {}

private:
    ArchiveReport& Add(const ArchiveLocation& location)
    {
        report_.archives.push_back(ArchiveReport{});
        report_.archives.back().archive = ArchivePath(location.name);
        return report_.archives.back();
    }

    RunPackListener listener_;
    PackReport& report_;
};

class CoreUpload final : public UploadFile {
public:
    explicit CoreUpload(std::filesystem::path path) : path_(std::move(path)), out_(path_, std::ios::binary)
    {
        if (!out_) {
            throw RunFailed(Utf8FromPath(path_) + ": cannot be created");
        }
    }
    ~CoreUpload() override
    {
        if (!path_.empty()) {
            out_.close();
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }
    void Write(std::span<const std::byte> bytes) override
    {
        if (!out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
            throw RunFailed(Utf8FromPath(path_) + ": cannot be written (is the disk full?)");
        }
    }
    void Finish() override
    {
        out_.close();
        if (!out_) {
            throw RunFailed(Utf8FromPath(path_) + ": cannot be written (is the disk full?)");
        }
    }
    const std::filesystem::path& path() const { return path_; }
    // Renamed into place: no longer ours to remove.
    void Taken() { path_.clear(); }

private:
    std::filesystem::path path_;
    std::ofstream out_;
};

bool IsWav(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    char header[format::kRiffHeaderSize] = {};
    return in.read(header, sizeof header) && std::memcmp(header, format::kRiff.data(), 4) == 0 &&
           std::memcmp(header + format::kRiffSizeFieldEnd, "WAVE", 4) == 0;
}

class CoreBackend final : public StudioBackend {
public:
    CoreBackend(CorePlaces places, FileSystem& files, PackFileSystem& pack_files)
        : places_{.game_folder = std::move(places.game_folder), .output_folder = std::move(places.output_folder)},
          files_(files),
          pack_files_(pack_files)
    {
    }

    // Without speech.pak the sound effects alone are listed.
    Listing List() override
    {
        return ListWith(pack_files_.LookAt(Locate(files_, places_, kSpeech).archive_path) !=
                        PackFileSystem::Found::kNothing);
    }

    Listing ListWith(bool speech)
    {
        std::shared_ptr<const GameReader> game;
        try {
            game = std::make_shared<const GameReader>(GameReader::Open(files_, places_, speech));
        } catch (const ExtractError& error) {
            Fail(error);
        }
        Listing listing;
        listing.speech = speech;
        for (const ListedArchive& archive : game->Archives()) {
            for (const CoreFile& file : game->FilesOf(archive)) {
                listing.lines.push_back(Listing::Line{.json = FileRecord(file), .file = listing.files.size()});
                listing.files.push_back(ListedFile{.path = file.path,
                                                   .archive = archive.location.name,
                                                   .file_name = file.path.substr(file.path.find('/') + 1),
                                                   .kind = std::string(KindName(file.kind)),
                                                   .offset = file.offset,
                                                   .size = file.size,
                                                   .record = listing.lines.back().json});
            }
            listing.lines.push_back(
                Listing::Line{.json = ArchiveRecord(archive, game->Totals(archive)), .file = std::nullopt});
        }
        const std::lock_guard lock(mutex_);
        game_ = std::move(game);
        speech_ = speech;
        return listing;
    }

    std::unique_ptr<ByteSource> OpenListed(const ListedFile& file, std::uint64_t offset) override
    {
        const auto game = Game();
        const CoreFile* listed = game->Find(file.path);
        if (listed == nullptr) {
            throw RunFailed(file.path + ": no longer in the archive");
        }
        return std::make_unique<ListedFileSource>(game, *listed, offset);
    }

    std::optional<std::uint64_t> OutputSize(const ListedFile& file) override
    {
        std::error_code error;
        const auto path = PathFromUtf8(OutputPath(file));
        const auto status = std::filesystem::symlink_status(path, error);
        if (error || !std::filesystem::is_regular_file(status)) {
            return std::nullopt;
        }
        const auto size = std::filesystem::file_size(path, error);
        return error ? std::nullopt : std::optional(static_cast<std::uint64_t>(size));
    }

    std::unique_ptr<ByteSource> OpenOutput(const ListedFile& file, std::uint64_t offset) override
    {
        return std::make_unique<FileSource>(PathFromUtf8(OutputPath(file)), offset);
    }

    std::string OutputFolder() const override
    {
        return places_.output_folder.empty() ? places_.game_folder : places_.output_folder;
    }

    void Extract(const std::vector<const ListedFile*>& chosen, RunReporter& reporter) override
    {
        bool speech = true;
        {
            const std::lock_guard lock(mutex_);
            speech = speech_;
        }
        RunUi ui(speech, reporter);
        std::set<std::string> paths;
        for (const ListedFile* file : chosen) {
            paths.insert(file->path);
        }
        ChosenPaths choice(std::move(paths));
        Form1 form(ui, files_, places_, ExtractionOptions{.choice = chosen.empty() ? nullptr : &choice});
        switch (form.FormLoad()) {
            case RunEnd::kCompleted:
            case RunEnd::kTruncated:
                return;
            case RunEnd::kCancelled:
                throw RunStopped();
            case RunEnd::kFailed:
                break;
        }
        throw RunFailed(ui.failure() ? ui.failure()->OneLine() : "the extraction failed");
    }

    std::unique_ptr<UploadFile> CreateUpload() override
    {
        return std::make_unique<CoreUpload>(InOutputFolder(".quorvel-upload-" + MakeToken().substr(0, 16) + ".wav"));
    }

    // The pack's own checks decide, on the folder with the upload in the
    // file's place, before anything is changed: the dry run, which makes
    // them all, its verification included.
    SwapOutcome Swap(const ListedFile& file, UploadFile& upload, RunReporter& reporter) override
    {
        auto& incoming = dynamic_cast<CoreUpload&>(upload);
        if (!IsWav(incoming.path())) {
            return SwapOutcome{.accepted = false, .refusal = "it is not a WAV file (one starts with RIFF and WAVE)"};
        }
        ExtractMissing(file.archive, reporter);
        const std::string target = OutputPath(file);
        SubstitutingFileSystem with_upload(files_, target, Utf8FromPath(incoming.path()));
        RunPackListener listener(reporter);
        try {
            PackArchive(Locate(files_, places_, file.archive), with_upload, pack_files_, listener, PackMode::kDryRun);
        } catch (const PackRefused& refusal) {
            const std::string about = refusal.file() == file.path ? "" : refusal.file() + ": ";
            return SwapOutcome{.accepted = false, .refusal = about + refusal.reason()};
        } catch (const ExtractError& error) {
            Fail(error);
        } catch (const Cancelled&) {
            throw RunStopped();
        }
        std::error_code error;
        std::filesystem::rename(incoming.path(), PathFromUtf8(target), error);
        if (error) {
            throw RunFailed(target + ": " + error.message());
        }
        incoming.Taken();
        return SwapOutcome{.accepted = true, .refusal = {}};
    }

    // The archive's own file, extracted again over the swapped one.
    void Undo(const ListedFile& file, RunReporter& reporter) override { Extract({&file}, reporter); }

    PackReport Pack(bool dry_run, RunReporter& reporter) override
    {
        if (!dry_run) {
            // Windows keeps the name of a file open without shared deletion:
            // the archives the listing holds open are let go (reads under
            // way keep theirs until they end) and opened again when next read.
            const std::lock_guard lock(mutex_);
            game_.reset();
        }
        PackReport report{.dry_run = dry_run, .archives = {}};
        StudioPackReport told(reporter, report);
        const RunEnd end =
            PackRun(files_, pack_files_, places_, dry_run ? PackMode::kDryRun : PackMode::kReplace, told);
        if (end == RunEnd::kCancelled) {
            throw RunStopped();
        }
        return report;
    }

private:
    std::shared_ptr<const GameReader> Game()
    {
        {
            const std::lock_guard lock(mutex_);
            if (game_) {
                return game_;
            }
        }
        bool speech = true;
        {
            const std::lock_guard lock(mutex_);
            speech = speech_;
        }
        ListWith(speech);
        const std::lock_guard lock(mutex_);
        return game_;
    }

    std::string OutputPath(const ListedFile& file) const
    {
        return files_.Join(Locate(files_, places_, file.archive).output_folder, file.file_name);
    }

    std::filesystem::path InOutputFolder(const std::string& name) const
    {
        const std::string folder = OutputFolder();
        return PathFromUtf8(folder.empty() ? name : files_.Join(folder, name));
    }

    // A swap goes into an extracted folder: the files of the archive that
    // are not there yet are extracted first, and no file that is there is
    // touched.
    void ExtractMissing(const std::string& archive, RunReporter& reporter)
    {
        const auto game = Game();
        std::vector<ListedFile> missing;
        for (const CoreFile& file : game->Files()) {
            const ListedArchive& listed = game->Archives()[file.archive];
            if (listed.location.name == archive) {
                ListedFile studio_file{.path = file.path,
                                       .archive = archive,
                                       .file_name = file.path.substr(file.path.find('/') + 1),
                                       .kind = {},
                                       .offset = file.offset,
                                       .size = file.size,
                                       .record = {}};
                if (!OutputSize(studio_file)) {
                    missing.push_back(std::move(studio_file));
                }
            }
        }
        if (missing.empty()) {
            return;
        }
        std::vector<const ListedFile*> chosen;
        for (const ListedFile& file : missing) {
            chosen.push_back(&file);
        }
        Extract(chosen, reporter);
    }

    Places places_;
    FileSystem& files_;
    PackFileSystem& pack_files_;
    std::mutex mutex_;
    std::shared_ptr<const GameReader> game_;  // what was listed last, open for reading
    bool speech_ = true;
};

}  // namespace

std::map<std::string, std::string> LabelsFromList(const CorePlaces& places, bool speech, const std::string& labels_file,
                                                  FileSystem& files, PackFileSystem& pack_files)
{
    constexpr std::uintmax_t kLargestList = 64 << 20;
    const auto text = ReadTextFile(PathFromUtf8(labels_file), kLargestList);
    if (!text) {
        throw RunFailed(labels_file + ": cannot be read");
    }
    CoreBackend backend(places, files, pack_files);
    const Listing listing = backend.ListWith(speech);
    std::vector<LabelTarget> targets;
    for (const ListedFile& file : listing.files) {
        targets.push_back(LabelTarget{.path = file.path, .hash = HashListed(backend, file)});
    }
    return MatchLabels(ParseLabels(*text).lines, targets).labels;
}

std::unique_ptr<StudioBackend> MakeCoreBackend(CorePlaces places, FileSystem& files, PackFileSystem& pack_files)
{
    return std::make_unique<CoreBackend>(std::move(places), files, pack_files);
}

}  // namespace quorvel::studio
