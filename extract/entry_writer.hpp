#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "extract/archive_reader.hpp"
#include "extract/block_stream.hpp"
#include "extract/entry.hpp"
#include "extract/extraction_listener.hpp"
#include "extract/file_system.hpp"
#include "extract/output_names.hpp"
#include "extract/window_writer.hpp"

namespace quorvel {

// The running number of one archive's outputs and the one output file that
// is open at a time, written through this writer. A file still open when
// the writer is destroyed (the run failed or was stopped while writing it)
// is incomplete and gets removed; a file closed whole is told to the
// listener, if there is one.
class EntryWriter final {
public:
    // Files {name}_{NNNN}{ext} in `folder`. `folder_failure`: why that
    // folder could not be made, if it could not; reported in place of the
    // first file creation's error.
    // `archive`, if given, is where the written bytes come from: a window's
    // worth of them goes out at a time, and no file is kept once the
    // archive turns out to have lost bytes under a view. `options` choose
    // the files written (the folder is then made for the first of them) and
    // what becomes of a taken name.
    EntryWriter(FileSystem& files, std::string name, std::string folder, std::optional<Failure> folder_failure,
                ExtractionListener* listener, ArchiveReader* archive = nullptr, const ExtractionOptions& options = {});
    // Files in the folder {name}, with nobody listening.
    EntryWriter(FileSystem& files, std::string name);
    ~EntryWriter();
    EntryWriter(const EntryWriter&) = delete;
    EntryWriter& operator=(const EntryWriter&) = delete;

    void NextNumber() { ++entry_number_; }
    std::int64_t Number() const { return entry_number_; }

    // Closes the current output, then creates (or truncates) the file for
    // the current number and kind, whose first byte lies at `offset` of
    // the archive, and makes it the current output.
    void Create(EntryKind kind, std::uint64_t offset);
    void Write(std::span<const std::byte> bytes);
    // Moves the archive's next `length` bytes into the current output
    // (see WindowWriter::Copy). Requires an archive.
    void CopyFromArchive(std::uint64_t length);
    // Closing when no output is open does nothing.
    void Close();

private:
    void KeepHead(std::span<const std::byte> bytes);
    // The file is passed over: its bytes go nowhere, and nobody hears of it.
    void PassOver();

    FileSystem& files_;
    std::string name_;
    std::string folder_;
    std::optional<Failure> folder_failure_;
    ExtractionListener* listener_;
    ExtractionOptions options_;
    bool folder_pending_;
    WindowWriter window_writer_;
    std::int64_t entry_number_ = 0;
    std::unique_ptr<OutputFile> current_;
    bool writing_ = false;  // current_ is a file being written, not one passed over
    std::string current_path_;
    bool created_any_ = false;
    Entry entry_;
};

}  // namespace quorvel
