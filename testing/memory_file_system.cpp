#include "testing/memory_file_system.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "extract/extract_error.hpp"

namespace quorvel::testing {
namespace {

[[noreturn]] void Throw(int number, const std::string& path)
{
    throw ExtractError(Failure{.number = number, .description = std::strerror(number), .file = path, .offset = {}});
}

class MemoryInputFile final : public InputFile {
public:
    MemoryInputFile(const Bytes& bytes, std::size_t read_limit) : bytes_(bytes), read_limit_(read_limit) {}

    std::uint64_t Size() override { return bytes_.size(); }

    std::size_t Read(std::span<std::byte> buffer) override
    {
        const std::size_t count = std::min({buffer.size(), bytes_.size() - position_, read_limit_});
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), count, buffer.begin());
        position_ += count;
        return count;
    }

private:
    const Bytes& bytes_;
    std::size_t read_limit_;
    std::size_t position_ = 0;
};

}  // namespace

class MemoryOutputFile final : public OutputFile {
public:
    MemoryOutputFile(MemoryFileSystem& files, std::string path) : files_(files), path_(std::move(path))
    {
        ++files_.open_outputs_;
    }
    ~MemoryOutputFile() override { --files_.open_outputs_; }

    void Write(std::span<const std::byte> bytes) override
    {
        if (files_.write_budget_) {
            if (*files_.write_budget_ < bytes.size()) {
                Throw(ENOSPC, path_);
            }
            *files_.write_budget_ -= bytes.size();
        }
        Bytes& file = files_.outputs_.at(path_);
        file.insert(file.end(), bytes.begin(), bytes.end());
    }

    void Close() override {}

private:
    MemoryFileSystem& files_;
    std::string path_;
};

std::unique_ptr<InputFile> MemoryFileSystem::OpenArchive(const std::string& path)
{
    const auto found = archives_.find(path);
    if (found == archives_.end()) {
        Throw(ENOENT, path);
    }
    return std::make_unique<MemoryInputFile>(found->second, read_limit_);
}

std::optional<Failure> MemoryFileSystem::MakeFolder(const std::string& path)
{
    if (blocked_folders_.contains(path)) {
        return Failure{.number = EACCES, .description = std::strerror(EACCES), .file = path, .offset = {}, .file_is_a_folder = true};
    }
    folders_.insert(path);
    return std::nullopt;
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateOutput(const std::string& path)
{
    const std::string folder = path.substr(0, path.find('/'));
    if (!folders_.contains(folder)) {
        Throw(ENOENT, path);
    }
    outputs_[path].clear();
    created_.push_back(path);
    return std::make_unique<MemoryOutputFile>(*this, path);
}

void MemoryFileSystem::RemoveOutput(const std::string& path) noexcept
{
    outputs_.erase(path);
}

std::string MemoryFileSystem::Join(const std::string& folder, const std::string& file) const
{
    return folder + "/" + file;
}

Bytes ToBytes(std::string_view text)
{
    Bytes bytes(text.size());
    std::copy(text.begin(), text.end(), reinterpret_cast<char*>(bytes.data()));
    return bytes;
}

}  // namespace quorvel::testing
