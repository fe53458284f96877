#include "pack/archive_writer.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <vector>

#include "extract/archive_reader.hpp"
#include "pack/pack.hpp"
#include "pack/sequential_reader.hpp"

namespace quorvel {
namespace {

constexpr std::uint64_t kChunkSize = 0x10000;
constexpr std::uint64_t kDirectCopySpan = 64 * kChunkSize;
constexpr std::uint64_t kLengthFieldSize = 4;
constexpr std::uint64_t kLongestBlock = std::numeric_limits<std::int32_t>::max();
// A block with more files than this has them opened once to be sized and
// again to be copied, rather than all at once.
constexpr std::size_t kFilesHeldOpen = 64;

std::array<std::byte, 4> LengthField(std::int64_t length)
{
    const auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(length));
    return {std::byte(value & 0xff), std::byte((value >> 8) & 0xff), std::byte((value >> 16) & 0xff),
            std::byte(value >> 24)};
}

class Writer {
public:
    Writer(const ArchivePlan& plan, FileSystem& files, OutputFile& out, ExtractionListener& progress,
           PartObserver* observer)
        : plan_(plan),
          files_(files),
          out_(out),
          progress_(progress),
          observer_(observer),
          old_file_(files.OpenArchive(plan.location.archive_path)),
          old_(*old_file_, plan.location.archive_path)
    {
    }

    std::uint64_t Run()
    {
        for (const PlannedBlock& block : plan_.blocks) {
            Started(&block, block.extent.offset, block.OldSize());
            if (block.file_count == 0 || block.extent.length_field <= static_cast<std::int32_t>(kLengthFieldSize)) {
                KeepBlock(block);
            } else {
                RebuildBlock(block);
            }
            Finished();
            progress_.Checkpoint();
        }
        WriteTrailer();
        return written_;
    }

private:
    void Started(const PlannedBlock* block, std::uint64_t old_offset, std::uint64_t old_size)
    {
        part_start_ = written_;
        if (observer_ != nullptr) {
            observer_->PartStarted(block, old_offset, old_size);
        }
    }

    void Finished()
    {
        if (observer_ != nullptr) {
            observer_->PartFinished(written_ - part_start_);
        }
    }

    void Write(std::span<const std::byte> bytes)
    {
        out_.Write(bytes);
        written_ += bytes.size();
    }

    // Copies old archive bytes: a block with no file bytes, the trailer.
    void CopyOld(std::uint64_t offset, std::uint64_t length)
    {
        old_.SkipTo(offset);
        while (length != 0) {
            const auto bytes = old_.Next(static_cast<std::size_t>(std::min(length, kChunkSize)));
            if (bytes.empty()) {
                throw ExtractError(Failure{.number = 0,
                                           .description = "the archive became shorter while it was being packed",
                                           .file = plan_.location.archive_path,
                                           .offset = old_.Position()});
            }
            Write(bytes);
            length -= bytes.size();
        }
    }

    // A length of 4 or less (its file is empty) or a payload of just "RIFF"
    // (no file at all): no file holds its bytes, so it stays as it is; a block cut
    // short by the archive's end gets the length of what it holds.
    void KeepBlock(const PlannedBlock& block)
    {
        const BlockExtent& extent = block.extent;
        if (extent.truncated) {
            Write(LengthField(static_cast<std::int64_t>(kLengthFieldSize + extent.payload_size)));
            CopyOld(extent.payload_offset, extent.payload_size);
        } else {
            CopyOld(extent.offset, block.OldSize());
        }
        progress_.Advance(block.OldSize());
    }

    void RebuildBlock(const PlannedBlock& block)
    {
        std::vector<std::unique_ptr<InputFile>> held;
        std::uint64_t length = kLengthFieldSize;
        for (std::size_t i = 0; i < block.file_count; ++i) {
            auto file = files_.OpenArchive(plan_.FilePath(files_, block, i));
            length += file->Size();
            if (length > kLongestBlock) {
                throw PackRefused(plan_.location.name + "/" + plan_.FileName(block, i),
                                  "the block at offset " + std::to_string(block.extent.offset) +
                                      " would grow to at least " + std::to_string(length) +
                                      " bytes with it, past the largest block length of " +
                                      std::to_string(kLongestBlock) + " bytes");
            }
            if (block.file_count <= kFilesHeldOpen) {
                held.push_back(std::move(file));
            }
        }
        Write(LengthField(static_cast<std::int64_t>(length)));
        progress_.Advance(kLengthFieldSize);
        for (std::size_t i = 0; i < block.file_count; ++i) {
            const std::string path = plan_.FilePath(files_, block, i);
            auto file = held.empty() ? files_.OpenArchive(path) : std::move(held[i]);
            CopyFile(*file, path);
        }
    }

    // Through the window the extraction reads archives with: written from
    // where the bytes lie where the platform maps files, else copied by the
    // platform or read; a checkpoint after each span of a few MiB.
    void CopyFile(InputFile& file, const std::string& path)
    {
        ArchiveReader reader(file, path);
        try {
            for (std::uint64_t left = file.Size(); left != 0;) {
                const std::uint64_t span = std::min(left, kDirectCopySpan);
                reader.CopyTo(out_, span);
                written_ += span;
                left -= span;
                progress_.Advance(span);
                if (left != 0) {
                    progress_.Checkpoint();
                }
            }
        } catch (const ExtractError& error) {
            if (error.failure().number != 0 || error.failure().file != path) {
                throw;
            }
            throw ExtractError(Failure{.number = 0,
                                       .description = "the file became shorter while it was being packed",
                                       .file = path,
                                       .offset = error.failure().offset});
        }
    }

    void WriteTrailer()
    {
        const std::uint64_t offset = plan_.TrailerOffset();
        Started(nullptr, offset, plan_.archive_size - offset);
        if (plan_.truncation) {
            Write(LengthField(0));  // the final field the archive lacked
        } else {
            CopyOld(offset, plan_.archive_size - offset);
        }
        Finished();
    }

    const ArchivePlan& plan_;
    FileSystem& files_;
    OutputFile& out_;
    ExtractionListener& progress_;
    PartObserver* observer_;
    std::unique_ptr<InputFile> old_file_;
    SequentialReader old_;
    std::uint64_t written_ = 0;
    std::uint64_t part_start_ = 0;
};

}  // namespace

std::uint64_t WriteArchive(const ArchivePlan& plan, FileSystem& files, OutputFile& out, ExtractionListener& progress,
                           PartObserver* observer)
{
    return Writer(plan, files, out, progress, observer).Run();
}

}  // namespace quorvel
