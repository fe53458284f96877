#include "pack/verification.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "extract/archive_format.hpp"
#include "pack/folder_file.hpp"
#include "pack/pack_refused.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kChunkSize = format::kChunkSize;

std::string Quote(std::span<const std::byte> bytes)
{
    std::string text = "\"";
    for (const std::byte b : bytes) {
        const auto c = static_cast<unsigned char>(b);
        text += (c >= 0x20 && c < 0x7f && c != '"') ? std::string(1, static_cast<char>(c)) : "?";
    }
    return text + "\"";
}

// The files the plan says extraction makes, in the order it makes them.
class ExpectedFiles {
public:
    ExpectedFiles(const ArchivePlan& plan, const FileSystem& files) : plan_(plan), files_(files) { SkipFileless(); }

    bool AtEnd() const { return block_ == plan_.blocks.size(); }
    // As the file system opens it, and as messages name it.
    std::string Path() const { return plan_.FilePath(files_, plan_.blocks[block_], file_); }
    void Next()
    {
        ++file_;
        SkipFileless();
    }

private:
    void SkipFileless()
    {
        while (block_ < plan_.blocks.size() && file_ == plan_.blocks[block_].file_count) {
            ++block_;
            file_ = 0;
        }
    }

    const ArchivePlan& plan_;
    const FileSystem& files_;
    std::size_t block_ = 0;
    std::size_t file_ = 0;
};

// Stands in for one output file: what is written must be the folder's file.
class ComparingOutput final : public OutputFile {
public:
    ComparingOutput(std::unique_ptr<InputFile> reference, std::string shown, std::vector<std::byte>& buffer)
        : reference_(std::move(reference)), shown_(std::move(shown)), size_(reference_->Size()), buffer_(buffer)
    {
    }

    void Write(std::span<const std::byte> bytes) override
    {
        if (compared_ + bytes.size() > size_) {
            Refuse("extraction of the new archive would make it longer than its " + std::to_string(size_) + " bytes");
        }
        while (!bytes.empty()) {
            const auto expected = ReadReference(bytes.size());
            if (std::memcmp(expected.data(), bytes.data(), expected.size()) != 0) {
                const auto mismatch = std::mismatch(expected.begin(), expected.end(), bytes.begin());
                Refuse("extraction of the new archive would give other bytes from byte " +
                       std::to_string(compared_ + static_cast<std::size_t>(mismatch.first - expected.begin())) + " on");
            }
            compared_ += expected.size();
            bytes = bytes.subspan(expected.size());
        }
    }

    // Never removes anything: the "outputs" are the user's files.
    void Abandon() noexcept override {}

    void Close() override
    {
        if (compared_ == size_) {
            return;
        }
        std::string reason = "extraction of the new archive would end it after " + std::to_string(compared_) +
                             " of its " + std::to_string(size_) + " bytes";
        const auto next = ReadReference(std::min<std::uint64_t>(format::kRiffHeaderSize, size_ - compared_));
        if (next.size() == format::kRiffHeaderSize && format::HasSignature(next, format::kRiff)) {
            reason += ", where \"RIFF\" and the form type " +
                      Quote(next.subspan(format::kRiffSizeFieldEnd, format::kSignatureSize)) +
                      " start what extraction takes for the next sound";
        }
        Refuse(reason);
    }

private:
    std::span<const std::byte> ReadReference(std::size_t count)
    {
        count = std::min(count, buffer_.size());
        std::size_t got = 0;
        while (got < count) {
            const std::size_t read = reference_->ReadAt(compared_ + got, std::span(buffer_).subspan(got, count - got));
            if (read == 0) {
                Refuse("the file became shorter while it was being packed");
            }
            got += read;
        }
        return std::span<const std::byte>(buffer_).first(got);
    }

    [[noreturn]] void Refuse(const std::string& reason) const
    {
        throw PackRefused(shown_, "would not come back the same: " + reason);
    }

    std::unique_ptr<InputFile> reference_;
    std::string shown_;
    std::uint64_t size_;
    std::uint64_t compared_ = 0;
    std::vector<std::byte>& buffer_;
};

// The new archive from the real file system; outputs compared, never written.
class ComparingFileSystem final : public ForwardingFileSystem {
public:
    ComparingFileSystem(FileSystem& files, ExpectedFiles& expected) : ForwardingFileSystem(files), expected_(expected)
    {
    }

    std::optional<Failure> MakeFolder(const std::string& /*path*/) override { return std::nullopt; }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken /*if_taken*/) override
    {
        if (expected_.AtEnd()) {
            throw PackRefused(path, "extraction of the new archive would make this file, which the folder lacks");
        }
        if (path != expected_.Path()) {
            throw PackRefused(expected_.Path(),
                              "would not come back the same: extraction of the new archive "
                              "would make " +
                                  path + " in its place");
        }
        auto output = std::make_unique<ComparingOutput>(OpenFolderFile(files_, path), expected_.Path(), buffer_);
        expected_.Next();
        return output;
    }

private:
    ExpectedFiles& expected_;
    std::vector<std::byte> buffer_ = std::vector<std::byte>(kChunkSize);
};

// Passes the walk's progress on; a truncation cannot be, as the new
// archive was written whole.
class VerifyingListener final : public ExtractionListener {
public:
    VerifyingListener(ExtractionListener& progress, const std::string& archive) : progress_(progress), archive_(archive)
    {
    }
    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& truncation) override
    {
        throw PackRefused(archive_,
                          "the new archive came out truncated at offset " + std::to_string(truncation.block_offset));
    }
    void Advance(std::uint64_t bytes) override { progress_.Advance(bytes); }
    void Checkpoint() override { progress_.Checkpoint(); }

private:
    ExtractionListener& progress_;
    const std::string& archive_;
};

}  // namespace

void VerifyArchive(const ArchivePlan& plan, InputFile& new_archive, const std::string& new_archive_path,
                   FileSystem& files, ExtractionListener& progress)
{
    ExpectedFiles expected(plan, files);
    ComparingFileSystem comparing(files, expected);
    VerifyingListener listener(progress, plan.location.archive_path);
    ArchiveLocation location = plan.location;
    location.archive_path = new_archive_path;
    WalkArchive(location, new_archive, comparing, listener);
    if (!expected.AtEnd()) {
        throw PackRefused(expected.Path(), "would not come back: extraction of the new archive ends before it");
    }
}

}  // namespace quorvel
