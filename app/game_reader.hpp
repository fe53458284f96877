#pragma once

// The reading surface of a game folder: its archives, the files extraction
// would write from them (as the listing gives them), and those files'
// bytes, read straight from the archives without extracting anything.
//
//     GameReader game = GameReader::Open(files, places, /*with_speech=*/true);
//     for (const ListedFile& file : game.Files()) { ... }
//     game.Read(*game.Find("sfx/sfx_0012.wav"), 0, buffer);
//
// Every file extraction writes is one contiguous range of its archive, so
// reading a file is reading that range.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/places.hpp"
#include "extract/entry.hpp"
#include "extract/extraction_listener.hpp"
#include "extract/file_system.hpp"
#include "extract/wav_format.hpp"

namespace quorvel {

// A file extraction would write.
struct ListedFile {
    std::string path;         // "sfx/sfx_0012.wav": under the output folder, "/"-separated
    std::size_t archive = 0;  // index into GameReader::Archives()
    std::int64_t number = 0;  // its number in the archive
    EntryKind kind = EntryKind::kData;
    // Archive offset of its first byte; for a file with no bytes, where its
    // block's payload starts.
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::optional<WavFormat> format;  // a sound's, where its header tells it
};

// One archive, listed.
struct ListedArchive {
    ArchiveLocation location;
    std::uint64_t archive_size = 0;
    std::size_t first_file = 0;  // its files, in extraction order, in GameReader::Files()
    std::size_t file_count = 0;
    std::optional<Truncation> truncation;
};

// What the files of one archive add up to.
struct ListingTotals {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::uint64_t sounds = 0;
    double seconds = 0;
};

class GameReader {
public:
    // Lists the archives of `places` (sfx, then speech if asked for), each
    // walked as extraction walks it, writing nothing. Fails as extraction
    // would (ExtractError): a missing archive before anything is listed.
    // `progress`, if given, hears the walk (and may stop it: Cancelled).
    static GameReader Open(FileSystem& files, const Places& places, bool with_speech,
                           ExtractionListener* progress = nullptr);

    GameReader(GameReader&&) noexcept;
    GameReader& operator=(GameReader&&) noexcept;
    ~GameReader();

    const std::vector<ListedArchive>& Archives() const { return archives_; }
    const std::vector<ListedFile>& Files() const { return files_; }
    std::span<const ListedFile> FilesOf(const ListedArchive& archive) const;
    ListingTotals Totals(const ListedArchive& archive) const;
    // The file of that listed path ("sfx/sfx_0012.wav"), or nullptr.
    const ListedFile* Find(std::string_view path) const;

    // Reads the file's bytes from `offset` (within the file) on into `out`,
    // as extraction writes them; returns how many, fewer than asked only at
    // the file's end. Safe to call from several threads at once where the
    // platform reads files at an offset (POSIX, Windows).
    std::size_t Read(const ListedFile& file, std::uint64_t offset, std::span<std::byte> out) const;

    // The same listing with no archive open, for while a pack puts new
    // archives in the place of these (Windows keeps the name of an open
    // file): its files are found, not read (Read throws ExtractError).
    std::shared_ptr<const GameReader> ListingOnly() const;

private:
    GameReader() = default;

    std::vector<ListedArchive> archives_;
    std::vector<std::unique_ptr<InputFile>> inputs_;  // one per archive, open for reading
    std::vector<ListedFile> files_;
    std::unordered_map<std::string, std::size_t> by_path_;
};

ListingTotals TotalsOf(std::span<const ListedFile> files);

// A listed file's bytes as a file of their own, read from the archive;
// the file keeps the reader (and its archives) open while it lives.
std::unique_ptr<InputFile> OpenListedFile(std::shared_ptr<const GameReader> game, const ListedFile& file);

// Lists one open archive, appending its files to `listed`, and returns it.
ListedArchive ListOneArchive(const ArchiveLocation& location, InputFile& archive, FileSystem& files,
                             std::size_t archive_index, std::vector<ListedFile>& listed, ExtractionListener* progress);

}  // namespace quorvel
