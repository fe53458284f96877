#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "extract/file_system.hpp"
#include "pack/pack_file_system.hpp"
#include "testing/archive_builder.hpp"

namespace quorvel::testing {

// What becomes of the bytes written to outputs.
enum class OutputMode {
    kKeep,       // every output's bytes: Outputs()
    kSizesOnly,  // the size of every output that received bytes: Sizes()
    kDiscard,    // nothing but the counts, for benchmarks
};

// The one file system of tests and benchmarks, in memory: archives are
// built (and made as they are read, so they may be larger than memory),
// outputs are kept, sized or thrown away, and faults can be planted.
// Outputs can be read back like archives, and a pack's temporary file
// takes an archive's place as the real file systems do it.
class MemoryFileSystem final : public FileSystem, public PackFileSystem {
public:
    explicit MemoryFileSystem(OutputMode mode = OutputMode::kKeep) : mode_(mode) {}

    void AddArchive(const std::string& path, Archive archive) { archives_.insert_or_assign(path, std::move(archive)); }
    void AddArchive(const std::string& path, std::span<const std::byte> bytes)
    {
        AddArchive(path, Archive().Raw(bytes));
    }
    // Reads of an archive return at most this many bytes at a time.
    void LimitReadSize(std::size_t bytes) { read_limit_ = bytes; }
    // Archives are viewed where they lie, in windows of `bytes` (at least
    // InputFile::kMinimumView), as a platform that maps files does, and
    // outputs copy from them; archives must then fit in memory.
    void ServeViews(std::size_t bytes) { view_size_ = std::max(bytes, InputFile::kMinimumView); }
    // The write that would take the total written bytes past `bytes` fails.
    void FailWritesAfter(std::uint64_t bytes) { write_budget_ = bytes; }
    // The folder cannot be made: permission denied.
    void BlockFolder(const std::string& path) { blocked_folders_.insert(path); }

    const std::map<std::string, Bytes>& Outputs() const { return outputs_; }
    const std::map<std::string, std::uint64_t>& Sizes() const { return sizes_; }
    const std::set<std::string>& Folders() const { return folders_; }
    // Outputs created (each time a name is created again, too).
    std::uint64_t FilesCreated() const { return files_created_; }
    const std::string& LastCreated() const { return last_created_; }
    std::uint64_t BytesWritten() const { return bytes_written_; }
    // Bytes that reads of archives returned (views are not counted).
    std::uint64_t BytesRead() const { return bytes_read_; }
    int OpenOutputs() const { return open_outputs_; }

    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override;
    // The outputs, and what was planted in their place.
    std::unique_ptr<InputFile> OpenRegularFile(const std::string& path) override;
    std::optional<Failure> MakeFolder(const std::string& path) override;
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) override;
    std::string Join(const std::string& folder, const std::string& file) const override;

    std::vector<std::string> ListFolder(const std::string& folder) override;
    bool Exists(const std::string& path) const;
    Found LookAt(const std::string& path) override;
    bool IsFolder(const std::string& path) override { return folders_.contains(path); }
    Temporary MakeTemporaryBeside(const std::string& path) override;
    void FlushToDisk(const std::string& /*path*/) override {}
    bool MakeBackup(const std::string& path, const std::string& backup) override;
    void ReplaceWith(const std::string& temporary, const std::string& path) override;
    void RemoveTemporary(const std::string& path) noexcept override { outputs_.erase(path); }

    // An output's bytes (kKeep), as an archive: what a pack reads back.
    Bytes ArchiveBytes(const std::string& path) const { return archives_.at(path).Make(); }
    void SetOutput(const std::string& path, Bytes bytes) { outputs_.insert_or_assign(path, std::move(bytes)); }
    void RemoveFile(const std::string& path) { outputs_.erase(path); }
    // Something that is not a file (kLink, kFolder, kOther) in a file's place.
    void Plant(const std::string& path, Found what)
    {
        outputs_.erase(path);
        planted_.insert_or_assign(path, what);
    }

private:
    friend class MemoryOutputFile;

    OutputMode mode_;
    std::map<std::string, Archive> archives_;
    std::map<std::string, Bytes> outputs_;
    std::map<std::string, Found> planted_;
    std::map<std::string, std::uint64_t> sizes_;
    std::set<std::string> folders_;
    std::set<std::string> blocked_folders_;
    std::uint64_t files_created_ = 0;
    std::string last_created_;
    std::uint64_t bytes_written_ = 0;
    std::uint64_t bytes_read_ = 0;
    std::size_t read_limit_ = SIZE_MAX;
    std::optional<std::size_t> view_size_;
    std::optional<std::uint64_t> write_budget_;
    int open_outputs_ = 0;
};

}  // namespace quorvel::testing
