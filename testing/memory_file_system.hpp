#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel::testing {

using Bytes = std::vector<std::byte>;

// A file system in memory for tests: archives are given as bytes, outputs
// are recorded, and faults can be planted.
class MemoryFileSystem final : public FileSystem {
public:
    void AddArchive(const std::string& path, Bytes bytes) { archives_[path] = std::move(bytes); }
    // Reads of an archive return at most this many bytes at a time.
    void LimitReadSize(std::size_t bytes) { read_limit_ = bytes; }
    // The write that would take the total written bytes past `bytes` fails.
    void FailWritesAfter(std::uint64_t bytes) { write_budget_ = bytes; }
    void BlockFolder(const std::string& path) { blocked_folders_.insert(path); }

    const std::map<std::string, Bytes>& Outputs() const { return outputs_; }
    const std::set<std::string>& Folders() const { return folders_; }
    // Every path ever created, in order of creation (with repeats).
    const std::vector<std::string>& Created() const { return created_; }
    int OpenOutputs() const { return open_outputs_; }

    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override;
    std::optional<Failure> MakeFolder(const std::string& path) override;
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override;
    void RemoveOutput(const std::string& path) noexcept override;
    std::string Join(const std::string& folder, const std::string& file) const override;

private:
    friend class MemoryOutputFile;

    std::map<std::string, Bytes> archives_;
    std::map<std::string, Bytes> outputs_;
    std::set<std::string> folders_;
    std::set<std::string> blocked_folders_;
    std::vector<std::string> created_;
    std::size_t read_limit_ = SIZE_MAX;
    std::optional<std::uint64_t> write_budget_;
    int open_outputs_ = 0;
};

Bytes ToBytes(std::string_view text);

}  // namespace quorvel::testing
