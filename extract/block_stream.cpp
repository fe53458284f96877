#include "extract/block_stream.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "extract/archive_format.hpp"
#include "extract/archive_reader.hpp"
#include "extract/entry_writer.hpp"
#include "extract/riff_carver.hpp"

namespace quorvel {
namespace {

constexpr std::uint64_t kChunkSize = format::kChunkSize;
constexpr std::uint64_t kLengthFieldSize = format::kLengthFieldSize;
constexpr std::uint64_t kSignatureSize = format::kSignatureSize;
// A RIFF block is carved a chunk (and the bytes a read carries over) at a time.
constexpr std::uint64_t kFeedSize = kChunkSize + ArchiveReader::kMaxCarry;

// A block whose payload has no room for a signature is empty or short by its
// length; one that lacks it because the archive ended early is data.
EntryKind KindWithoutSignature(std::int64_t block_length)
{
    return format::IsEmptyBlock(block_length)   ? EntryKind::kEmpty
           : format::IsShortBlock(block_length) ? EntryKind::kShort
                                                : EntryKind::kData;
}

// Accounts a span of `length` bytes in 64 KiB chunks: each chunk is added to
// the progress, then shown, once all of its bytes have been handled.
class ChunkedProgress {
public:
    enum class LastChunk { kShown, kLeftToTheBlock };

    ChunkedProgress(ExtractionListener& listener, std::uint64_t length, LastChunk last_chunk)
        : listener_(listener), length_(length), last_chunk_(last_chunk)
    {
    }

    void Reached(std::uint64_t handled)
    {
        while (accounted_ < length_ && handled >= std::min(accounted_ + kChunkSize, length_)) {
            const std::uint64_t chunk = std::min(kChunkSize, length_ - accounted_);
            accounted_ += chunk;
            listener_.Advance(chunk);
            if (accounted_ < length_ || last_chunk_ == LastChunk::kShown) {
                listener_.Checkpoint();
            }
        }
    }

private:
    ExtractionListener& listener_;
    std::uint64_t length_;
    LastChunk last_chunk_;
    std::uint64_t accounted_ = 0;
};

class BlockStream {
public:
    BlockStream(const ArchiveLocation& location, FileSystem& files, InputFile& archive,
                std::optional<Failure> folder_failure, ExtractionListener& listener,
                const ExtractionOptions& options = {})
        : reader_(archive, location.archive_path),
          output_(files, location.name, location.output_folder, std::move(folder_failure), &listener, &reader_,
                  options),
          listener_(listener)
    {
    }

    void Run()
    {
        while (reader_.Remaining() >= kLengthFieldSize) {
            const std::uint64_t block_offset = reader_.Position();
            const std::int64_t block_length = ReadLength();
            if (reader_.Remaining() == 0) {
                break;  // that was the archive's final field
            }
            listener_.Advance(kLengthFieldSize);
            output_.NextNumber();
            std::int64_t payload = block_length - static_cast<std::int64_t>(kLengthFieldSize);
            const bool truncated = payload > 0 && static_cast<std::uint64_t>(payload) > reader_.Remaining();
            if (truncated) {
                // Extract what is there by the usual rules, then stop.
                listener_.TruncationFound(Truncation{reader_.path(), block_offset,
                                                     static_cast<std::uint64_t>(payload) - reader_.Remaining()});
                payload = static_cast<std::int64_t>(reader_.Remaining());
            }
            ExtractBlock(block_length, payload);
            output_.Close();
            listener_.BlockFinished(
                BlockExtent{.offset = block_offset,
                            .length_field = static_cast<std::int32_t>(block_length),
                            .payload_offset = block_offset + kLengthFieldSize,
                            .payload_size = static_cast<std::uint64_t>(std::max<std::int64_t>(payload, 0)),
                            .truncated = truncated});
            listener_.Checkpoint();
            if (truncated) {
                break;
            }
        }
    }

private:
    std::int64_t ReadLength()
    {
        const auto field = reader_.Ensure(kLengthFieldSize).first<format::kLengthFieldSize>();
        const std::int32_t length = format::LoadInt32(field);
        reader_.Consume(kLengthFieldSize);
        return length;
    }

    // `payload`: the bytes of the block that are there, which a truncated
    // block has fewer of than its length says.
    void ExtractBlock(std::int64_t block_length, std::int64_t payload)
    {
        if (payload < static_cast<std::int64_t>(kSignatureSize)) {
            // Too short for a signature: whatever payload there is, is kept.
            CopyBlock(static_cast<std::uint64_t>(std::max<std::int64_t>(payload, 0)),
                      KindWithoutSignature(block_length));
            return;
        }
        const auto signature = reader_.Ensure(kSignatureSize);
        if (format::HasSignature(signature, format::kRiff)) {
            const std::uint64_t block_offset = reader_.Position();
            reader_.Consume(kSignatureSize);
            CarveRiffBlock(block_offset, static_cast<std::uint64_t>(payload) - kSignatureSize);
        } else {
            CopyBlock(static_cast<std::uint64_t>(payload),
                      format::HasSignature(signature, format::kAvqf) ? EntryKind::kAvqf : EntryKind::kData);
        }
    }

    void CopyBlock(std::uint64_t length, EntryKind kind)
    {
        output_.Create(kind, reader_.Position());
        // A block that fits one chunk is shown once, after the block.
        ChunkedProgress progress(listener_, length, ChunkedProgress::LastChunk::kLeftToTheBlock);
        for (std::uint64_t copied = 0; copied < length;) {
            const std::uint64_t chunk = std::min(kChunkSize, length - copied);
            output_.CopyFromArchive(chunk);
            copied += chunk;
            progress.Reached(copied);
        }
    }

    // The signature is not counted in the progress; every byte after it is.
    void CarveRiffBlock(std::uint64_t block_offset, std::uint64_t length)
    {
        if (length == 0) {
            return;  // a payload of just "RIFF": no file, but its number stays used
        }
        RiffCarver carver(output_);
        carver.Begin(block_offset);
        ChunkedProgress progress(listener_, length, ChunkedProgress::LastChunk::kShown);
        std::uint64_t left = length;
        std::size_t held_back = 0;
        for (;;) {
            // Fed a chunk at a time however large the window, so that the
            // progress moves (and a stop is seen) every 64 KiB.
            if (reader_.Available().size() <= held_back) {
                reader_.Refill();
            }
            const auto window = reader_.Available();
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>({window.size(), left, kFeedSize}));
            const bool block_end = count == left;
            const std::size_t done = carver.Feed(window.first(count), block_end);
            reader_.Consume(done);
            left -= done;
            held_back = count - done;
            progress.Reached(length - left + held_back);
            if (block_end) {
                return;
            }
        }
    }

    ArchiveReader reader_;
    EntryWriter output_;
    ExtractionListener& listener_;
};

}  // namespace

std::string Truncation::Describe() const
{
    return archive + " is truncated: the block at offset " + std::to_string(block_offset) + " is missing " +
           std::to_string(missing_bytes) + " bytes at the end of the archive; what it holds was extracted.";
}

std::string ArchivePath(std::string_view name)
{
    return std::string(name) + ".pak";
}

ArchiveLocation ArchiveLocation::Of(const FileSystem& files, const std::string& name, const std::string& game_folder,
                                    const std::string& output_parent)
{
    const auto in = [&files](const std::string& folder, const std::string& file) {
        return folder.empty() ? file : files.Join(folder, file);
    };
    return {.name = name, .archive_path = in(game_folder, ArchivePath(name)), .output_folder = in(output_parent, name)};
}

ArchiveLocation ArchiveLocation::OfRun(const FileSystem& files, const std::string& name, const std::string& game_folder,
                                       const std::string& output_folder)
{
    return Of(files, name, game_folder, OutputParent(game_folder, output_folder));
}

void ExtractArchive(const ArchiveLocation& location, FileSystem& files, ExtractionListener& listener,
                    const ExtractionOptions& options)
{
    listener.StatusChanged("Extracting: " + location.name);
    // Opened and closed once before anything else, so that a missing or
    // unreadable archive is reported before its folder is made: a run that
    // names the wrong game folder leaves nothing behind.
    files.OpenArchive(location.archive_path);
    const auto archive = files.OpenArchive(location.archive_path);
    // A run that chooses files makes the folder for the first one it writes.
    std::optional<Failure> folder_failure;
    if (options.choice == nullptr) {
        folder_failure = files.MakeFolder(location.output_folder);
    }
    BlockStream stream(location, files, *archive, std::move(folder_failure), listener, options);
    stream.Run();
}

void WalkArchive(const ArchiveLocation& location, InputFile& archive, FileSystem& files, ExtractionListener& listener)
{
    BlockStream stream(location, files, archive, std::nullopt, listener);
    stream.Run();
}

void ExtractArchive(const std::string& name, FileSystem& files, ExtractionListener& listener)
{
    ExtractArchive(ArchiveLocation::Of(files, name), files, listener);
}

}  // namespace quorvel
