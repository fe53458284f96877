// The studio over the core. Where the core does not yet offer a call of its
// own, a small stand-in is written here (marked "Stand-in"), to give way to
// the core's call when there is one.

#include "studio/core_backend.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <unordered_set>
#include <vector>

#include "app/form1.hpp"
#include "extract/listing.hpp"
#include "pack/pack.hpp"
#include "studio/labels.hpp"
#include "studio/random_token.hpp"
#include "studio/studio.hpp"
#include "studio/text_file.hpp"
#include "terminal/listing_printer.hpp"

namespace quorvel::studio {
namespace {

constexpr const char* kArchiveNames[] = {"sfx", "speech"};
static_assert(static_cast<int>(ListingStyle::kColumns) == static_cast<int>(ListingPrinter::Style::kColumns) &&
              static_cast<int>(ListingStyle::kTabs) == static_cast<int>(ListingPrinter::Style::kTabs) &&
              static_cast<int>(ListingStyle::kJson) == static_cast<int>(ListingPrinter::Style::kJson));
constexpr std::size_t kPieceSize = 1 << 16;

// Stand-in: the listing's JSON records come from the terminal's
// ListingPrinter, written into memory, until the core formats them.
class MemoryStream {
public:
    MemoryStream()
    {
#ifdef _WIN32
        // tmpfile() would make its file in the root of the drive, where a
        // user may not write: a file of the user's temporary folder instead,
        // deleted when closed.
        wchar_t folder[MAX_PATH + 1];
        wchar_t name[MAX_PATH + 1];
        if (::GetTempPathW(MAX_PATH + 1, folder) != 0 && ::GetTempFileNameW(folder, L"qvl", 0, name) != 0) {
            file_ = ::_wfopen(name, L"w+bTD");
        }
#else
        file_ = ::open_memstream(&data_, &size_);
#endif
        if (file_ == nullptr) {
            throw RunFailed("no memory for the listing");
        }
    }
    ~MemoryStream()
    {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
#ifndef _WIN32
        std::free(data_);
#endif
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    std::FILE* file()
    {
        return file_;
    }

    std::string Text()
    {
        std::fflush(file_);
#ifdef _WIN32
        std::string text;
        std::rewind(file_);
        char piece[4096];
        for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, file_)) > 0;) {
            text.append(piece, got);
        }
        return text;
#else
        return std::string(data_, size_);
#endif
    }

private:
    std::FILE* file_ = nullptr;
#ifndef _WIN32
    char* data_ = nullptr;
    std::size_t size_ = 0;
#endif
};

// Tells the printer and keeps the entries.
class ListingTee final : public ExtractionListener {
public:
    explicit ListingTee(ExtractionListener& printer) : printer_(printer) {}

    void StatusChanged(std::string_view text) override { printer_.StatusChanged(text); }
    void TruncationFound(const Truncation& truncation) override { printer_.TruncationFound(truncation); }
    void Advance(std::uint64_t bytes) override { printer_.Advance(bytes); }
    void Checkpoint() override { printer_.Checkpoint(); }
    void EntryFinished(const Entry& entry) override
    {
        printer_.EntryFinished(entry);
        entries.push_back(entry);
    }

    std::vector<Entry> entries;

private:
    ExtractionListener& printer_;
};

// Bytes of an archive from one offset on, no more than one file's.
class ArchiveSlice final : public ByteSource {
public:
    ArchiveSlice(std::unique_ptr<InputFile> archive, std::uint64_t length) : archive_(std::move(archive)), left_(length)
    {
    }
    std::size_t Read(std::span<std::byte> buffer) override
    {
        if (left_ == 0) {
            return 0;
        }
        const std::size_t got = archive_->Read(buffer.first(std::min<std::uint64_t>(buffer.size(), left_)));
        left_ -= got;
        return got;
    }

private:
    std::unique_ptr<InputFile> archive_;
    std::uint64_t left_;
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

// An output that keeps nothing: the files a run was not asked for.
class PassedOverOutput final : public OutputFile {
public:
    void Write(std::span<const std::byte> /*bytes*/) override {}
    bool KeepsBytes() const override { return false; }
    void Close() override {}
};

// Stand-in: extraction of chosen files, until the core chooses files
// itself. The run is the whole extraction; only the chosen names are
// written, the others pass over the archive unread.
class ChosenFilesOnly final : public FileSystem {
public:
    ChosenFilesOnly(FileSystem& files, std::set<std::string> chosen) : files_(files), chosen_(std::move(chosen)) {}

    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override { return files_.OpenArchive(path); }
    std::optional<Failure> MakeFolder(const std::string& path) override { return files_.MakeFolder(path); }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override
    {
        if (!chosen_.contains(path)) {
            return std::make_unique<PassedOverOutput>();
        }
        return files_.CreateOutput(path);
    }
    void RemoveOutput(const std::string& path) noexcept override
    {
        if (chosen_.contains(path)) {
            files_.RemoveOutput(path);
        }
    }
    std::string Join(const std::string& folder, const std::string& file) const override
    {
        return files_.Join(folder, file);
    }

private:
    FileSystem& files_;
    std::set<std::string> chosen_;
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
    void ReportWarning(std::string_view text) override { warnings_.emplace_back(text); }
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
    std::vector<std::string> warnings_;
};

class RunPackListener final : public PackListener {
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

// Stand-in: a dry run that makes every check of the pack, its verification
// included, until the core's dry run does. The real pack runs over these
// file operations, which let it write and verify its temporary archive and
// then refuse to keep a backup or replace anything: the pack then removes
// its temporary file, as it does whenever it ends early.
class VerifiedOnly : public std::exception {};

class VerifyingPackFileSystem final : public PackFileSystem {
public:
    explicit VerifyingPackFileSystem(PackFileSystem& pack_files) : pack_files_(pack_files) {}

    std::vector<std::string> ListFolder(const std::string& folder) override { return pack_files_.ListFolder(folder); }
    bool Exists(const std::string& path) override { return pack_files_.Exists(path); }
    bool IsFolder(const std::string& path) override { return pack_files_.IsFolder(path); }
    std::string MakeTemporaryBeside(const std::string& path) override { return pack_files_.MakeTemporaryBeside(path); }
    void FlushToDisk(const std::string& /*path*/) override {}
    bool KeepBackup(const std::string& /*path*/, const std::string& /*backup*/) override { throw VerifiedOnly(); }
    void ReplaceWith(const std::string& /*temporary*/, const std::string& /*path*/) override { throw VerifiedOnly(); }
    void RemoveTemporary(const std::string& path) noexcept override { pack_files_.RemoveTemporary(path); }

private:
    PackFileSystem& pack_files_;
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

std::string PackedText(const PackResult& result)
{
    return "packed, " + std::to_string(result.new_size) + " bytes (was " + std::to_string(result.old_size) + "); " +
           (result.backup_made ? "the old archive is kept as " + result.backup_path
                               : result.backup_path + " from before was kept as it is");
}

class CoreBackend final : public StudioBackend {
public:
    CoreBackend(CorePlaces places, FileSystem& files, PackFileSystem& pack_files)
        : places_(std::move(places)), files_(files), pack_files_(pack_files)
    {
    }

    // The listing in one of the printer's styles (and what it found
    // truncated), for --list --labels.
    Listing ListIn(bool speech, ListingPrinter::Style style)
    {
        Listing listing;
        listing.speech = speech;
        truncations_.clear();
        try {
            for (const ArchiveLocation& location : ListedArchives(speech)) {
                files_.OpenArchive(location.archive_path);
            }
            for (const ArchiveLocation& location : ListedArchives(speech)) {
                ListOne(location, listing, style);
            }
        } catch (const ExtractError& error) {
            throw RunFailed(error.failure().Describe());
        }
        return listing;
    }
    const std::vector<std::string>& truncations() const { return truncations_; }

    Listing List() override
    {
        Listing listing;
        listing.speech = pack_files_.Exists(Location("speech").archive_path);
        try {
            for (const ArchiveLocation& location : ListedArchives(listing.speech)) {
                files_.OpenArchive(location.archive_path);  // a missing archive stops the listing first
            }
            for (const ArchiveLocation& location : ListedArchives(listing.speech)) {
                ListOne(location, listing);
            }
        } catch (const ExtractError& error) {
            throw RunFailed(error.failure().Describe());
        }
        speech_ = listing.speech;
        known_ = listing.files;
        return listing;
    }

    std::unique_ptr<ByteSource> OpenListed(const ListedFile& file, std::uint64_t offset) override
    {
        try {
            auto archive = files_.OpenArchive(Location(file.archive).archive_path);
            std::uint64_t to_skip = file.offset + offset;
            while (to_skip > 0) {
                const std::uint64_t skipped = archive->Skip(to_skip);
                if (skipped == 0) {
                    break;
                }
                to_skip -= skipped;
            }
            // An archive that cannot seek is read up to the offset.
            std::vector<std::byte> scratch(kPieceSize);
            while (to_skip > 0) {
                const std::size_t got =
                    archive->Read(std::span(scratch).first(std::min<std::uint64_t>(to_skip, kPieceSize)));
                if (got == 0) {
                    throw RunFailed(file.path + ": the archive ends before the file");
                }
                to_skip -= got;
            }
            return std::make_unique<ArchiveSlice>(std::move(archive), file.size - std::min(offset, file.size));
        } catch (const ExtractError& error) {
            throw RunFailed(error.failure().Describe());
        }
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
        RunUi ui(speech_, reporter);
        std::optional<ChosenFilesOnly> chosen_files;
        if (!chosen.empty()) {
            std::set<std::string> names;
            for (const ListedFile* file : chosen) {
                names.insert(OutputPath(*file));
            }
            chosen_files.emplace(files_, std::move(names));
        }
        FileSystem& files = chosen_files ? static_cast<FileSystem&>(*chosen_files) : files_;
        Form1 form(ui, files, Places{.game_folder = places_.game_folder, .output_folder = places_.output_folder});
        switch (form.FormLoad()) {
            case RunEnd::kCompleted:
            case RunEnd::kTruncated:
                return;
            case RunEnd::kCancelled:
                throw RunStopped();
            case RunEnd::kFailed:
                break;
        }
        throw RunFailed(ui.failure() ? ui.failure()->Describe() : "the extraction failed");
    }

    std::unique_ptr<UploadFile> CreateUpload() override
    {
        return std::make_unique<CoreUpload>(InOutputFolder(".quorvel-upload-" + MakeToken().substr(0, 16) + ".wav"));
    }

    SwapOutcome Swap(const ListedFile& file, UploadFile& upload, RunReporter& reporter) override
    {
        auto& incoming = dynamic_cast<CoreUpload&>(upload);
        if (!IsWav(incoming.path())) {
            return SwapOutcome{.accepted = false, .refusal = "it is not a WAV file (one starts with RIFF and WAVE)"};
        }
        ExtractMissing(file.archive, reporter);
        const auto target = PathFromUtf8(OutputPath(file));
        const auto kept = InOutputFolder(".quorvel-keep-" + MakeToken().substr(0, 16));
        Rename(target, kept);
        try {
            Rename(incoming.path(), target);
        } catch (...) {
            Rename(kept, target);
            throw;
        }
        incoming.Taken();
        std::optional<std::string> refusal;
        try {
            refusal = CheckPack(Location(file.archive), reporter);
        } catch (...) {
            Rename(kept, target);
            throw;
        }
        if (refusal) {
            Rename(kept, target);
            return SwapOutcome{.accepted = false, .refusal = *refusal};
        }
        std::error_code ignored;
        std::filesystem::remove(kept, ignored);
        return SwapOutcome{.accepted = true, .refusal = {}};
    }

    void Undo(const ListedFile& file, RunReporter& reporter) override { Extract({&file}, reporter); }

    PackReport Pack(bool dry_run, RunReporter& reporter) override
    {
        PackReport report{.dry_run = dry_run, .archives = {}};
        for (const char* name : kArchiveNames) {
            const ArchiveLocation location = Location(name);
            if (!pack_files_.Exists(location.archive_path)) {
                continue;
            }
            ArchiveReport archive;
            archive.archive = ArchivePath(name);
            if (!pack_files_.IsFolder(location.output_folder)) {
                archive.refused = "there is no folder " + location.output_folder + " of extracted files to pack";
                report.archives.push_back(std::move(archive));
                continue;
            }
            PackOne(location, dry_run, reporter, archive);
            report.archives.push_back(std::move(archive));
        }
        return report;
    }

private:
    ArchiveLocation Location(const std::string& name) const
    {
        return ArchiveLocation::OfRun(files_, name, places_.game_folder, places_.output_folder);
    }

    std::vector<ArchiveLocation> ListedArchives(bool speech) const
    {
        std::vector<ArchiveLocation> archives = {ArchiveLocation::Of(files_, "sfx", places_.game_folder)};
        if (speech) {
            archives.push_back(ArchiveLocation::Of(files_, "speech", places_.game_folder));
        }
        return archives;
    }

    void ListOne(const ArchiveLocation& location, Listing& listing,
                 ListingPrinter::Style style = ListingPrinter::Style::kJson)
    {
        MemoryStream stream;
        ListingPrinter printer(stream.file(), style);
        ListingTee tee(printer);
        ListArchive(location, files_, tee);
        printer.FinishArchive(location.archive_path, ArchivePath(location.name));
        if (printer.truncation()) {
            truncations_.push_back(printer.truncation()->Describe());
        }
        const std::string text = stream.Text();
        std::size_t at = 0;
        for (std::size_t i = 0; i <= tee.entries.size(); ++i) {
            const std::size_t end = text.find('\n', at);
            if (end == std::string::npos) {
                throw RunFailed(location.archive_path + ": the listing ended early");
            }
            std::string line = text.substr(at, end - at);
            at = end + 1;
            if (i == tee.entries.size()) {
                listing.lines.push_back(Listing::Line{.json = std::move(line), .file = std::nullopt});
                break;
            }
            const Entry& entry = tee.entries[i];
            listing.lines.push_back(Listing::Line{.json = line, .file = listing.files.size()});
            listing.files.push_back(ListedFile{.path = entry.RelativePath(),
                                               .archive = location.name,
                                               .file_name = entry.file_name,
                                               .kind = std::string(KindName(entry.kind)),
                                               .offset = entry.offset,
                                               .size = entry.size,
                                               .record = std::move(line)});
        }
    }

    std::string OutputPath(const ListedFile& file) const
    {
        return files_.Join(Location(file.archive).output_folder, file.file_name);
    }

    std::filesystem::path InOutputFolder(const std::string& name) const
    {
        const std::string folder = OutputFolder();
        return PathFromUtf8(folder.empty() ? name : files_.Join(folder, name));
    }

    static bool IsWav(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        char header[12] = {};
        return in.read(header, sizeof header) && std::memcmp(header, "RIFF", 4) == 0 &&
               std::memcmp(header + 8, "WAVE", 4) == 0;
    }

    static void Rename(const std::filesystem::path& from, const std::filesystem::path& to)
    {
        std::error_code error;
        std::filesystem::rename(from, to, error);
        if (error) {
            throw RunFailed(Utf8FromPath(from) + " -> " + Utf8FromPath(to) + ": " + error.message());
        }
    }

    // A swap goes into an extracted folder: the files of the archive that
    // are not there yet are extracted first, and no file that is there is
    // touched.
    void ExtractMissing(const std::string& archive, RunReporter& reporter)
    {
        std::vector<const ListedFile*> missing;
        for (const ListedFile& file : known_) {
            if (file.archive == archive && !OutputSize(file)) {
                missing.push_back(&file);
            }
        }
        if (!missing.empty()) {
            Extract(missing, reporter);
        }
    }

    // The pack's checks, made as the pack makes them; the refusal, if any.
    std::optional<std::string> CheckPack(const ArchiveLocation& location, RunReporter& reporter)
    {
        VerifyingPackFileSystem verifying(pack_files_);
        RunPackListener listener(reporter);
        try {
            PackArchive(location, files_, verifying, listener, PackMode::kReplace);
        } catch (const VerifiedOnly&) {
            return std::nullopt;
        } catch (const PackRefused& refusal) {
            return std::string(refusal.what());
        } catch (const ExtractError& error) {
            throw RunFailed(error.failure().Describe());
        } catch (const Cancelled&) {
            throw RunStopped();
        }
        return std::nullopt;
    }

    void PackOne(const ArchiveLocation& location, bool dry_run, RunReporter& reporter, ArchiveReport& archive)
    {
        RunPackListener listener(reporter);
        try {
            if (dry_run) {
                const PackResult result = PackArchive(location, files_, pack_files_, listener, PackMode::kDryRun);
                Describe(result, archive);
                archive.refused = CheckPack(location, reporter);
                archive.result = archive.refused ? "would be refused" : "would be packed";
            } else {
                const PackResult result = PackArchive(location, files_, pack_files_, listener, PackMode::kReplace);
                Describe(result, archive);
                archive.result = PackedText(result);
            }
        } catch (const PackRefused& refusal) {
            archive.refused = refusal.what();
        } catch (const ExtractError& error) {
            archive.refused = error.failure().Describe();
        } catch (const Cancelled&) {
            throw RunStopped();
        }
    }

    static void Describe(const PackResult& result, ArchiveReport& archive)
    {
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
    }

    CorePlaces places_;
    FileSystem& files_;
    PackFileSystem& pack_files_;
    bool speech_ = true;
    std::vector<ListedFile> known_;
    std::vector<std::string> truncations_;
};

}  // namespace

int ListWithLabels(const CorePlaces& places, bool speech, ListingStyle style, const std::string& labels_file,
                   FileSystem& files, PackFileSystem& pack_files, std::FILE* out, std::FILE* messages)
{
    constexpr std::uintmax_t kLargestList = 64 << 20;
    const auto printer_style = style == ListingStyle::kJson   ? ListingPrinter::Style::kJson
                               : style == ListingStyle::kTabs ? ListingPrinter::Style::kTabs
                                                              : ListingPrinter::Style::kColumns;
    CoreBackend backend(places, files, pack_files);
    errno = 0;
    try {
        const auto text = ReadTextFile(PathFromUtf8(labels_file), kLargestList);
        if (!text) {
            throw RunFailed(labels_file + ": No such file");
        }
        const Listing listing = backend.ListIn(speech, printer_style);
        std::vector<LabelTarget> targets;
        for (const ListedFile& file : listing.files) {
            targets.push_back(LabelTarget{.path = file.path, .hash = HashListed(backend, file)});
        }
        const LabelMatch match = MatchLabels(ParseLabels(*text).lines, targets);
        for (const Listing::Line& line : listing.lines) {
            std::string printed = line.json;
            if (line.file) {
                const auto found = match.labels.find(listing.files[*line.file].path);
                const std::string* label = found == match.labels.end() ? nullptr : &found->second;
                if (style == ListingStyle::kJson) {
                    printed = WithLabel(printed, label);
                } else if (label != nullptr) {
                    printed += (style == ListingStyle::kTabs ? "\t" : "  ") + *label;
                }
            }
            if (std::fprintf(out, "%s\n", printed.c_str()) < 0) {
                throw RunFailed("standard output cannot be written");
            }
        }
        if (std::fflush(out) != 0) {
            throw RunFailed("standard output cannot be written");
        }
    } catch (const std::exception& error) {
        // A reader that went away (`| head`) ends the listing quietly.
        if (errno != EPIPE) {
            std::fprintf(messages, "quorvel-extractor: %s\n", error.what());
        }
        return 1;
    }
    for (const std::string& truncation : backend.truncations()) {
        std::fprintf(messages, "quorvel-extractor: warning: %s\n", truncation.c_str());
    }
    return backend.truncations().empty() ? 0 : 3;
}

std::unique_ptr<StudioBackend> MakeCoreBackend(CorePlaces places, FileSystem& files, PackFileSystem& pack_files)
{
    return std::make_unique<CoreBackend>(std::move(places), files, pack_files);
}

}  // namespace quorvel::studio
