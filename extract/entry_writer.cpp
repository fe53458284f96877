#include "extract/entry_writer.hpp"

#include <cassert>

namespace quorvel {

std::string EntryFileName(std::string_view name, std::int64_t number, std::string_view extension)
{
    std::string digits = std::to_string(number);
    if (digits.size() < 4) {
        digits.insert(0, 4 - digits.size(), '0');
    }
    std::string file_name(name);
    file_name += '_';
    file_name += digits;
    file_name += extension;
    return file_name;
}

EntryWriter::EntryWriter(FileSystem& files, std::string name, std::optional<Failure> folder_failure)
    : files_(files), name_(std::move(name)), folder_failure_(std::move(folder_failure))
{
}

EntryWriter::~EntryWriter()
{
    if (current_) {
        current_.reset();
        files_.RemoveOutput(current_path_);
    }
}

void EntryWriter::Create(std::string_view extension)
{
    Close();
    current_path_ = files_.Join(name_, EntryFileName(name_, entry_number_, extension));
    try {
        current_ = files_.CreateOutput(current_path_);
    } catch (const ExtractError&) {
        // No file can be made in a folder that could not be made: the
        // folder's own error names the cause (say, a game folder the user
        // may not write in) where the file's would only say it is missing.
        if (folder_failure_) {
            throw ExtractError(*folder_failure_);
        }
        throw;
    }
}

void EntryWriter::Write(std::span<const std::byte> bytes)
{
    assert(current_);
    if (!bytes.empty()) {
        current_->Write(bytes);
    }
}

void EntryWriter::Close()
{
    if (current_) {
        current_->Close();
        current_.reset();
    }
}

}  // namespace quorvel
