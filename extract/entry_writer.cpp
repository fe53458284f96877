#include "extract/entry_writer.hpp"

#include <algorithm>
#include <cassert>

namespace quorvel {

EntryWriter::EntryWriter(FileSystem& files, std::string name, std::string folder, std::optional<Failure> folder_failure,
                         ExtractionListener* listener, ArchiveReader* archive, const ExtractionOptions& options)
    : files_(files),
      name_(std::move(name)),
      folder_(std::move(folder)),
      folder_failure_(std::move(folder_failure)),
      listener_(listener),
      options_(options),
      folder_pending_(options.choice != nullptr),
      window_writer_(archive)
{
}

EntryWriter::EntryWriter(FileSystem& files, std::string name) : EntryWriter(files, name, name, std::nullopt, nullptr) {}

EntryWriter::~EntryWriter()
{
    if (current_) {
        window_writer_.Drop(*current_);
        current_->Abandon();
    }
}

void EntryWriter::Create(EntryKind kind, std::uint64_t offset)
{
    Close();
    entry_ = Entry{.folder = name_,
                   .file_name = EntryFileName(name_, entry_number_, ExtensionOf(kind)),
                   .number = entry_number_,
                   .kind = kind,
                   .offset = offset,
                   .size = 0,
                   .head = {}};
    if (options_.choice != nullptr && !options_.choice->Chooses(name_, entry_number_, entry_.RelativePath())) {
        PassOver();
        return;
    }
    if (folder_pending_) {
        folder_failure_ = files_.MakeFolder(folder_);
        folder_pending_ = false;
    }
    current_path_ = files_.Join(folder_, entry_.file_name);
    try {
        current_ = files_.CreateOutput(current_path_, options_.if_taken);
    } catch (const ExtractError& error) {
        // Only the file system's own refusals; a refusal of the pack's
        // checks, which stand in for the file system there, goes on as it is.
        const FailureKind kind = error.failure().kind;
        if (kind != FailureKind::kSystem && kind != FailureKind::kNotAFile) {
            throw;
        }
        // No file can be made in a folder that could not be made: the
        // folder's own error names the cause (say, a game folder the user
        // may not write in) where the file's would only say it is missing.
        throw CannotCreateOutput(folder_failure_ ? *folder_failure_ : error.failure(), !created_any_);
    }
    if (!current_) {  // the name was taken, and the run keeps what it finds
        if (listener_ != nullptr) {
            listener_->EntryKept(entry_);
        }
        PassOver();
        return;
    }
    writing_ = true;
    created_any_ = true;
}

void EntryWriter::PassOver()
{
    current_ = std::make_unique<DiscardingOutput>();
    writing_ = false;
}

void EntryWriter::Write(std::span<const std::byte> bytes)
{
    assert(current_);
    if (bytes.empty()) {
        return;
    }
    window_writer_.Write(*current_, bytes);
    KeepHead(bytes);
    entry_.size += bytes.size();
}

void EntryWriter::CopyFromArchive(std::uint64_t length)
{
    assert(current_);
    window_writer_.Copy(*current_, length);
    entry_.size += length;
}

void EntryWriter::Close()
{
    if (!current_) {
        return;
    }
    window_writer_.Finish();
    current_->Close();
    current_.reset();
    if (writing_ && listener_ != nullptr) {
        listener_->EntryFinished(entry_);
    }
    writing_ = false;
}

// A sound's format is in its first bytes; only those are kept.
void EntryWriter::KeepHead(std::span<const std::byte> bytes)
{
    if (entry_.kind == EntryKind::kSound && entry_.head.size() < Entry::kHeadSize) {
        const std::size_t count = std::min(bytes.size(), Entry::kHeadSize - entry_.head.size());
        entry_.head.insert(entry_.head.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
    }
}

}  // namespace quorvel
