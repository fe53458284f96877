#include "app/game_reader.hpp"

#include <algorithm>

#include "extract/listing.hpp"

namespace quorvel {
namespace {

// Turns the walk's finished files into listed ones; the walk's progress
// goes on to `progress`.
class Collector final : public ExtractionListener {
public:
    Collector(std::size_t archive, std::vector<ListedFile>& files, ExtractionListener* progress)
        : archive_(archive), files_(files), progress_(progress)
    {
    }

    std::optional<Truncation> truncation;

    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& found) override { truncation = found; }
    void Advance(std::uint64_t bytes) override
    {
        if (progress_ != nullptr) {
            progress_->Advance(bytes);
        }
    }
    void Checkpoint() override
    {
        if (progress_ != nullptr) {
            progress_->Checkpoint();
        }
    }
    void EntryFinished(const Entry& entry) override
    {
        files_.push_back(
            ListedFile{.path = entry.RelativePath(),
                       .archive = archive_,
                       .number = entry.number,
                       .kind = entry.kind,
                       .offset = entry.offset,
                       .size = entry.size,
                       .format = entry.kind == EntryKind::kSound ? ReadWavFormat(entry.head) : std::nullopt});
    }

private:
    std::size_t archive_;
    std::vector<ListedFile>& files_;
    ExtractionListener* progress_;
};

}  // namespace

ListedArchive ListOneArchive(const ArchiveLocation& location, InputFile& archive, FileSystem& files,
                             std::size_t archive_index, std::vector<ListedFile>& listed, ExtractionListener* progress)
{
    ListedArchive result{.location = location,
                         .archive_size = archive.Size(),
                         .first_file = listed.size(),
                         .file_count = 0,
                         .truncation = {}};
    Collector collector(archive_index, listed, progress);
    ListArchive(location, archive, files, collector);
    result.file_count = listed.size() - result.first_file;
    result.truncation = collector.truncation;
    return result;
}

GameReader GameReader::Open(FileSystem& files, const Places& places, bool with_speech, ExtractionListener* progress)
{
    GameReader game;
    const auto locations = ArchivesOfRun(files, places, with_speech);
    // As extraction does: every archive must be there before any is read.
    for (const ArchiveLocation& location : locations) {
        game.inputs_.push_back(files.OpenArchive(location.archive_path));
    }
    for (std::size_t i = 0; i < locations.size(); ++i) {
        game.archives_.push_back(ListOneArchive(locations[i], *game.inputs_[i], files, i, game.files_, progress));
    }
    game.by_path_.reserve(game.files_.size());
    for (std::size_t i = 0; i < game.files_.size(); ++i) {
        game.by_path_.emplace(game.files_[i].path, i);
    }
    return game;
}

std::shared_ptr<const GameReader> GameReader::ListingOnly() const
{
    auto listing = std::shared_ptr<GameReader>(new GameReader());
    listing->archives_ = archives_;
    listing->files_ = files_;
    listing->by_path_ = by_path_;
    return listing;
}

GameReader::GameReader(GameReader&&) noexcept = default;
GameReader& GameReader::operator=(GameReader&&) noexcept = default;
GameReader::~GameReader() = default;

std::span<const ListedFile> GameReader::FilesOf(const ListedArchive& archive) const
{
    return std::span(files_).subspan(archive.first_file, archive.file_count);
}

ListingTotals GameReader::Totals(const ListedArchive& archive) const
{
    return TotalsOf(FilesOf(archive));
}

ListingTotals TotalsOf(std::span<const ListedFile> files)
{
    ListingTotals totals;
    for (const ListedFile& file : files) {
        ++totals.files;
        totals.bytes += file.size;
        if (file.kind == EntryKind::kSound) {
            ++totals.sounds;
            totals.seconds += file.format ? file.format->seconds : 0;
        }
    }
    return totals;
}

const ListedFile* GameReader::Find(std::string_view path) const
{
    const auto found = by_path_.find(std::string(path));
    return found == by_path_.end() ? nullptr : &files_[found->second];
}

std::size_t GameReader::Read(const ListedFile& file, std::uint64_t offset, std::span<std::byte> out) const
{
    if (offset >= file.size) {
        return 0;
    }
    out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), file.size - offset)));
    if (file.archive >= inputs_.size()) {
        throw ExtractError(Failure{.kind = FailureKind::kChanged,
                                   .description = "the archive is being packed: ask again when the pack has ended",
                                   .file = archives_[file.archive].location.archive_path});
    }
    InputFile& archive = *inputs_[file.archive];
    std::size_t got = 0;
    while (got < out.size()) {
        const std::size_t count = archive.ReadAt(file.offset + offset + got, out.subspan(got));
        if (count == 0) {
            throw ExtractError(Failure{.kind = FailureKind::kEndedEarly,
                                       .description = "the archive is shorter than when it was listed",
                                       .file = archives_[file.archive].location.archive_path,
                                       .offset = file.offset + offset + got});
        }
        got += count;
    }
    return got;
}

namespace {

class ListedInputFile final : public InputFile {
public:
    ListedInputFile(std::shared_ptr<const GameReader> game, const ListedFile& file)
        : game_(std::move(game)), file_(file)
    {
    }
    std::uint64_t Size() override { return file_.size; }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        return game_->Read(file_, offset, buffer);
    }

private:
    std::shared_ptr<const GameReader> game_;
    const ListedFile& file_;  // one of the reader's own
};

}  // namespace

std::unique_ptr<InputFile> OpenListedFile(std::shared_ptr<const GameReader> game, const ListedFile& file)
{
    return std::make_unique<ListedInputFile>(std::move(game), file);
}

}  // namespace quorvel
