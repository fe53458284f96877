#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "extract/file_system.hpp"

namespace quorvel {

// "sfx_0001.wav": the number zero-padded to at least four digits. Numbers
// past 9999 keep all their digits, so entry 10000 never replaces entry 0.
std::string EntryFileName(std::string_view name, std::int64_t number, std::string_view extension);

// The running number of one archive's outputs and the one output file that
// is open at a time. A file still open when the writer is destroyed (the run
// failed or was stopped while writing it) is incomplete and gets removed.
class EntryWriter {
public:
    // `folder_failure`: why the output folder could not be made, if it
    // could not; reported in place of the first file creation's error.
    EntryWriter(FileSystem& files, std::string name, std::optional<Failure> folder_failure = std::nullopt);
    ~EntryWriter();
    EntryWriter(const EntryWriter&) = delete;
    EntryWriter& operator=(const EntryWriter&) = delete;

    void NextNumber() { ++entry_number_; }

    // Closes the current output, then creates (or truncates) the file for
    // the current number and makes it the current output.
    void Create(std::string_view extension);
    void Write(std::span<const std::byte> bytes);
    OutputFile& Current() { return *current_; }
    // Closing when no output is open does nothing.
    void Close();

private:
    FileSystem& files_;
    std::string name_;
    std::optional<Failure> folder_failure_;
    std::int64_t entry_number_ = 0;
    std::unique_ptr<OutputFile> current_;
    std::string current_path_;
};

}  // namespace quorvel
