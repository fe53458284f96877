#include "testing/memory_file_system.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "extract/extract_error.hpp"

namespace quorvel::testing {
namespace {

[[noreturn]] void Throw(int number, const std::string& path)
{
    throw ExtractError(Failure{.number = number, .description = std::strerror(number), .file = path, .offset = {}});
}

class BuiltInputFile final : public InputFile {
public:
    BuiltInputFile(const Archive& archive, std::size_t read_limit, std::optional<std::size_t> view_size,
                   std::uint64_t& bytes_read)
        : archive_(archive),
          size_(archive_.Size()),
          source_(archive_.Open()),
          read_limit_(read_limit),
          view_size_(view_size),
          bytes_read_(bytes_read)
    {
    }

    std::uint64_t Size() override { return size_; }
    // The bytes are made front to back, so a read elsewhere makes its way
    // there: on from where the last read ended, or anew from the start.
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        if (offset < made_) {
            source_ = archive_.Open();
            made_ = 0;
        }
        Bytes passed(std::min<std::uint64_t>(offset - made_, 0x10000));
        while (made_ < offset) {
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(passed.size(), offset - made_));
            const std::size_t got = source_->Read(std::span(passed).first(count));
            if (got == 0) {
                return 0;
            }
            made_ += got;
        }
        const std::size_t got = source_->Read(buffer.first(std::min(buffer.size(), read_limit_)));
        made_ += got;
        bytes_read_ += got;
        return got;
    }

    // Views are windows onto the whole archive, made at the first of them.
    std::optional<std::span<const std::byte>> View(std::uint64_t offset, ViewUse /*use*/) override
    {
        if (!view_size_) {
            return std::nullopt;
        }
        if (whole_.size() != size_) {
            whole_.resize(static_cast<std::size_t>(size_));
            const auto whole_source = archive_.Open();
            std::size_t filled = 0;
            while (filled < whole_.size()) {
                const std::size_t got = whole_source->Read(std::span(whole_).subspan(filled));
                if (got == 0) {
                    break;
                }
                filled += got;
            }
            whole_.resize(filled);
        }
        if (offset >= whole_.size()) {
            return std::span<const std::byte>{};
        }
        return std::span<const std::byte>(whole_)
            .subspan(static_cast<std::size_t>(offset))
            .first(std::min<std::size_t>(*view_size_, whole_.size() - static_cast<std::size_t>(offset)));
    }

private:
    Archive archive_;
    std::uint64_t size_;
    std::unique_ptr<ByteSource> source_;
    std::uint64_t made_ = 0;  // where source_ stands
    std::size_t read_limit_;
    std::optional<std::size_t> view_size_;
    std::uint64_t& bytes_read_;
    Bytes whole_;
};

}  // namespace

// A new output's bytes go straight into its file; those of an output that
// replaces an older file are kept aside and take its place when it is
// closed, as the real file systems do it.
class MemoryOutputFile final : public OutputFile {
public:
    MemoryOutputFile(MemoryFileSystem& files, std::string path, bool replaces)
        : files_(files), path_(std::move(path)), replaces_(replaces)
    {
        ++files_.open_outputs_;
    }
    ~MemoryOutputFile() override { --files_.open_outputs_; }

    void Write(std::span<const std::byte> bytes) override
    {
        Spend(bytes.size());
        size_ += bytes.size();
        if (files_.mode_ == OutputMode::kKeep) {
            Bytes& file = replaces_ ? pending_ : files_.outputs_.at(path_);
            file.insert(file.end(), bytes.begin(), bytes.end());
        }
    }

    bool WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) override
    {
        Spend(bytes.size());
        size_ = std::max<std::uint64_t>(size_, offset + bytes.size());
        if (files_.mode_ == OutputMode::kKeep) {
            Bytes& file = replaces_ ? pending_ : files_.outputs_.at(path_);
            if (file.size() < size_) {
                file.resize(static_cast<std::size_t>(size_));
            }
            std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(offset));
        }
        return true;
    }

    void Close() override
    {
        if (files_.mode_ == OutputMode::kKeep && replaces_) {
            files_.outputs_.insert_or_assign(path_, std::move(pending_));
        }
        if (files_.mode_ == OutputMode::kSizesOnly) {
            files_.sizes_.erase(path_);
            if (size_ != 0) {
                files_.sizes_[path_] = size_;
            }
        }
        closed_ = true;
    }

    void Abandon() noexcept override
    {
        if (!closed_ && !replaces_) {
            files_.outputs_.erase(path_);
        }
        closed_ = true;
    }

private:
    void Spend(std::size_t count)
    {
        if (files_.write_budget_) {
            if (*files_.write_budget_ < count) {
                Throw(ENOSPC, path_);
            }
            *files_.write_budget_ -= count;
        }
        files_.bytes_written_ += count;
    }

    MemoryFileSystem& files_;
    std::string path_;
    bool replaces_;
    Bytes pending_;
    std::uint64_t size_ = 0;
    bool closed_ = false;
};

std::unique_ptr<InputFile> MemoryFileSystem::OpenArchive(const std::string& path)
{
    const auto found = archives_.find(path);
    if (found == archives_.end()) {
        const auto output = outputs_.find(path);
        if (output == outputs_.end()) {
            Throw(ENOENT, path);
        }
        // Read from a copy, so that the file may be rewritten while it is read.
        return std::make_unique<BuiltInputFile>(Archive().Raw(output->second), read_limit_, view_size_, bytes_read_);
    }
    return std::make_unique<BuiltInputFile>(found->second, read_limit_, view_size_, bytes_read_);
}

std::unique_ptr<InputFile> MemoryFileSystem::OpenRegularFile(const std::string& path)
{
    if (const auto planted = planted_.find(path); planted != planted_.end()) {
        ThrowNotAFile(path, planted->second == Found::kLink     ? "is a symbolic link"
                            : planted->second == Found::kFolder ? "is a folder"
                                                                : "is not a regular file");
    }
    const auto output = outputs_.find(path);
    if (output == outputs_.end()) {
        return nullptr;
    }
    return std::make_unique<BuiltInputFile>(Archive().Raw(output->second), read_limit_, view_size_, bytes_read_);
}

std::optional<Failure> MemoryFileSystem::MakeFolder(const std::string& path)
{
    if (blocked_folders_.contains(path)) {
        return Failure{.number = EACCES,
                       .description = std::strerror(EACCES),
                       .file = path,
                       .offset = {},
                       .file_is_a_folder = true};
    }
    folders_.insert(path);
    return std::nullopt;
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateOutput(const std::string& path, IfTaken if_taken)
{
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && !folders_.contains(path.substr(0, slash))) {
        Throw(ENOENT, path);
    }
    // Names are remembered only where bytes are kept: a rerun over outputs
    // of a run that kept only sizes writes them as new.
    const bool taken = outputs_.contains(path);
    if (taken && if_taken == IfTaken::kKeep) {
        return nullptr;
    }
    if (!taken && mode_ == OutputMode::kKeep) {
        outputs_[path];
    }
    ++files_created_;
    last_created_ = path;
    return std::make_unique<MemoryOutputFile>(*this, path, taken);
}

std::string MemoryFileSystem::Join(const std::string& folder, const std::string& file) const
{
    return folder + "/" + file;
}

std::vector<std::string> MemoryFileSystem::ListFolder(const std::string& folder)
{
    if (!folders_.contains(folder)) {
        Throw(ENOENT, folder);
    }
    std::vector<std::string> names;
    const std::string prefix = folder + "/";
    const auto add = [&](const std::string& path) {
        if (path.starts_with(prefix) && path.find('/', prefix.size()) == std::string::npos) {
            names.push_back(path.substr(prefix.size()));
        }
    };
    for (const auto& [path, bytes] : outputs_) {
        add(path);
    }
    for (const auto& [path, what] : planted_) {
        add(path);
    }
    return names;
}

bool MemoryFileSystem::Exists(const std::string& path) const
{
    return archives_.contains(path) || outputs_.contains(path) || folders_.contains(path);
}

PackFileSystem::Found MemoryFileSystem::LookAt(const std::string& path)
{
    if (folders_.contains(path)) {
        return Found::kFolder;
    }
    if (const auto archive = archives_.find(path); archive != archives_.end()) {
        return archive->second.Size() == 0 ? Found::kEmptyFile : Found::kFileWithBytes;
    }
    if (const auto output = outputs_.find(path); output != outputs_.end()) {
        return output->second.empty() ? Found::kEmptyFile : Found::kFileWithBytes;
    }
    if (const auto planted = planted_.find(path); planted != planted_.end()) {
        return planted->second;
    }
    return Found::kNothing;
}

PackFileSystem::Temporary MemoryFileSystem::MakeTemporaryBeside(const std::string& path)
{
    const std::string folder = path.find('/') == std::string::npos ? "" : path.substr(0, path.rfind('/'));
    if (blocked_folders_.contains(folder)) {
        Throw(EACCES, path + ".tmp");
    }
    std::string temporary = path + ".tmp";
    while (Exists(temporary)) {
        temporary += "~";
    }
    outputs_[temporary];
    return Temporary{.path = temporary, .file = std::make_unique<MemoryOutputFile>(*this, temporary, false)};
}

bool MemoryFileSystem::MakeBackup(const std::string& path, const std::string& backup)
{
    if (Exists(backup)) {
        return false;
    }
    archives_.insert_or_assign(backup, archives_.at(path));
    return true;
}

void MemoryFileSystem::ReplaceWith(const std::string& temporary, const std::string& path)
{
    // An archive stays an archive; any other file is one of the folders'.
    if (archives_.contains(path)) {
        archives_.insert_or_assign(path, Archive().Raw(outputs_.at(temporary)));
    } else {
        planted_.erase(path);
        outputs_.insert_or_assign(path, outputs_.at(temporary));
    }
    outputs_.erase(temporary);
}

}  // namespace quorvel::testing
