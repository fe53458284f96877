#include "fuzz/fuzz_support.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "extract/block_stream.hpp"
#include "extract/extract_error.hpp"
#include "extract/listing.hpp"
#include "pack/pack.hpp"
#include "testing/archive_builder.hpp"
#include "testing/memory_file_system.hpp"
#include "testing/recording_listener.hpp"

namespace quorvel::fuzz {
namespace {

const std::string kName = "sfx";

// Stops the run at checkpoint `cancel_at` (1 = the first; 0 = never).
class CancellingListener final : public testing::RecordingListener {
public:
    explicit CancellingListener(std::uint64_t cancel_at) : cancel_at_(cancel_at) {}

    void Checkpoint() override
    {
        RecordingListener::Checkpoint();
        if (checkpoints.size() == cancel_at_) {
            throw Cancelled();
        }
    }

private:
    std::uint64_t cancel_at_;
};

struct CoreRun {
    std::map<std::string, testing::Bytes> outputs;
    std::optional<Truncation> truncation;
    std::optional<Failure> failure;
    bool cancelled = false;
    std::uint64_t progress = 0;
};

void ServeAsTheRunDoes(testing::MemoryFileSystem& files, const RunOptions& options)
{
    if (options.views) {
        files.ServeViews(options.read_limit);
    } else if (options.read_limit != 0) {
        files.LimitReadSize(options.read_limit);
    }
}

CoreRun RunCore(std::span<const std::byte> archive, const RunOptions& options)
{
    testing::MemoryFileSystem files;
    files.AddArchive(ArchivePath(kName), archive);
    ServeAsTheRunDoes(files, options);
    if (options.fault == Fault::kWriteFailure) {
        files.FailWritesAfter(options.fault_at);
    }
    CancellingListener listener(options.fault == Fault::kCancel ? options.fault_at : 0);
    CoreRun run;
    try {
        ExtractArchive(kName, files, listener);
    } catch (const ExtractError& error) {
        run.failure = error.failure();
    } catch (const Cancelled&) {
        run.cancelled = true;
    }
    Expect(files.OpenOutputs() == 0, "an output file was left open");
    Expect(files.Folders().contains(kName), "the output folder was not made");
    run.truncation = listener.truncation;
    run.outputs = files.Outputs();
    run.progress = listener.bytes_done;
    return run;
}

struct ParsedName {
    std::int64_t number = 0;
    std::string extension;
};

// Reads "sfx/sfx_0012.wav" back into its number and extension.
ParsedName ParseOutputPath(const std::string& path)
{
    const std::string prefix = kName + "/" + kName + "_";
    Expect(path.starts_with(prefix), "an output lies outside its folder or has a foreign name: " + path);
    const std::string rest = path.substr(prefix.size());
    const std::size_t digits =
        rest.find_first_not_of("0123456789") == std::string::npos ? rest.size() : rest.find_first_not_of("0123456789");
    Expect(digits >= 4, "an output number has fewer than four digits: " + path);
    ParsedName parsed;
    std::from_chars(rest.data(), rest.data() + digits, parsed.number);
    parsed.extension = rest.substr(digits);
    Expect(parsed.extension.empty() || parsed.extension == ".wav" || parsed.extension == ".AVQF",
           "an output has an unknown extension: " + path);
    return parsed;
}

// What must hold of any complete run, checked on the outputs themselves
// rather than against the model's list: every payload byte in exactly one
// output, in order, and numbers without gaps except those of "RIFF"-only
// payloads.
void CheckCoverage(std::span<const std::byte> archive, const CoreRun& run, const model::Extraction& expected)
{
    std::map<std::int64_t, const testing::Bytes*> by_number;
    for (const auto& [path, bytes] : run.outputs) {
        const ParsedName parsed = ParseOutputPath(path);
        Expect(by_number.emplace(parsed.number, &bytes).second, "two outputs share a number: " + path);
    }
    for (const std::int64_t number : expected.numbers_without_file) {
        Expect(by_number.emplace(number, nullptr).second, "a \"RIFF\"-only payload's number carries a file");
    }
    std::int64_t next = 1;
    testing::Bytes joined;
    for (const auto& [number, bytes] : by_number) {
        Expect(number == next, "the numbering has a gap before " + std::to_string(number));
        ++next;
        if (bytes != nullptr) {
            joined.insert(joined.end(), bytes->begin(), bytes->end());
        }
    }
    testing::Bytes payloads;
    for (const model::Stretch& payload : expected.payloads) {
        const auto bytes = archive.subspan(payload.offset, payload.size);
        payloads.insert(payloads.end(), bytes.begin(), bytes.end());
    }
    Expect(joined == payloads, "the outputs joined in number order differ from the payload bytes");
}

std::string OutputPath(const model::File& file)
{
    return kName + "/" + model::FileName(kName, file);
}

class EntryCollector final : public testing::RecordingListener {
public:
    void EntryFinished(const Entry& entry) override
    {
        files[entry.RelativePath()] = {entry.size, entry.size == 0 ? 0 : entry.offset};
    }
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> files;  // size, offset of a file with bytes
};

// The listing is the truth about extraction: the same names, the same
// sizes, at the offsets the model gives, whether the archive is read or
// viewed, however its blocks lie across the windows.
void CheckListing(std::span<const std::byte> archive, const model::Extraction& expected, const RunOptions& options)
{
    testing::MemoryFileSystem files;
    files.AddArchive(ArchivePath(kName), archive);
    ServeAsTheRunDoes(files, options);
    EntryCollector listed;
    ListArchive(ArchiveLocation::Of(files, kName), files, listed);
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> model_files;
    for (const model::File& file : expected.files) {
        model_files[OutputPath(file)] = {file.bytes.size, file.bytes.size == 0 ? 0 : file.bytes.offset};
    }
    Expect(listed.files == model_files, "the listing differs from the files extraction writes");
    Expect(listed.truncation.has_value() == expected.truncated, "the listing tells another truncation");
    Expect(files.Outputs().empty(), "the listing wrote a file");
}

class QuietPackListener final : public PackListener {
public:
    void StatusChanged(std::string_view /*text*/) override {}
    void Progress(std::uint64_t /*done*/, std::uint64_t /*total*/) override {}
};

// Packing the files of a complete run without edits gives the archive back
// byte for byte, and its dry run says nothing changes; a truncated archive
// comes back whole, and extracting it gives the same files.
void CheckPack(std::span<const std::byte> archive, const CoreRun& run, const RunOptions& options)
{
    testing::MemoryFileSystem files;
    files.AddArchive(ArchivePath(kName), archive);
    ServeAsTheRunDoes(files, options);
    files.MakeFolder(kName);
    for (const auto& [path, bytes] : run.outputs) {
        files.SetOutput(path, bytes);
    }
    QuietPackListener listener;
    try {
        const PackResult dry_run =
            PackArchive(ArchiveLocation::Of(files, kName), files, files, listener, PackMode::kDryRun);
        Expect(dry_run.changes.empty() == !run.truncation, "the dry run of an unedited extraction tells changes");
        PackArchive(ArchiveLocation::Of(files, kName), files, files, listener, PackMode::kReplace);
    } catch (const PackRefused& refusal) {
        Finding(std::string("the pack of an unedited extraction was refused: ") + refusal.what());
    }
    const testing::Bytes packed = files.ArchiveBytes(ArchivePath(kName));
    if (!run.truncation) {
        Expect(std::equal(packed.begin(), packed.end(), archive.begin(), archive.end()),
               "the pack of an unedited extraction differs from the archive");
        return;
    }
    testing::MemoryFileSystem again;
    again.AddArchive(ArchivePath(kName), packed);
    testing::RecordingListener recording;
    ExtractArchive(kName, again, recording);
    Expect(!recording.truncation, "the pack of a truncated archive is truncated still");
    Expect(again.Outputs() == run.outputs,
           "the repaired archive extracts to other files\n" + DescribeOutputs(again.Outputs(), run.outputs));
}

void CheckCompleteRun(std::span<const std::byte> archive, const CoreRun& run, const model::Extraction& expected,
                      const RunOptions& options)
{
    Expect(!run.failure, "the run failed: " + (run.failure ? run.failure->Describe() : ""));
    Expect(!run.cancelled, "the run was cancelled without being asked to");
    const auto expected_outputs = ModelOutputs(archive, expected.files, expected.files.size());
    Expect(run.outputs == expected_outputs,
           "the outputs differ from the model's\n" + DescribeOutputs(run.outputs, expected_outputs));
    Expect(run.truncation.has_value() == expected.truncated, "the truncation warning differs from the model's");
    Expect(run.progress == expected.progress, "the progress differs from the model's: " + std::to_string(run.progress) +
                                                  " instead of " + std::to_string(expected.progress));
    CheckCoverage(archive, run, expected);
    CheckListing(archive, expected, options);
    CheckPack(archive, run, options);
}

// A run stopped by a fault keeps the files finished before it, whole, and
// nothing of the file it was writing.
void CheckStoppedRun(std::span<const std::byte> archive, const CoreRun& run, const model::Extraction& expected,
                     Fault fault)
{
    const std::size_t finished = run.outputs.size();
    Expect(finished <= expected.files.size(), "a stopped run made more files than a complete one");
    Expect(run.outputs == ModelOutputs(archive, expected.files, finished),
           "the files kept after a stop are not the model's first files, whole");
    if (fault == Fault::kWriteFailure) {
        Expect(run.failure.has_value(), "a stopped run reported no failure");
        Expect(finished < expected.files.size() && run.failure->file == OutputPath(expected.files[finished]),
               "the failure does not name the file being written");
    }
}

}  // namespace

std::uint8_t InputCursor::Byte()
{
    return position_ < size_ ? data_[position_++] : 0;
}

std::span<const std::byte> InputCursor::Rest()
{
    const auto* first = reinterpret_cast<const std::byte*>(data_) + position_;
    const std::size_t count = size_ - std::min(position_, size_);
    position_ = size_;
    return {first, count};
}

RunOptions TakeRunOptions(InputCursor& input)
{
    RunOptions options;
    options.fault = static_cast<Fault>(input.Byte() % 3);
    const std::uint16_t fault_at = input.Take<std::uint16_t>();
    // A checkpoint comes at every block; a write budget is in bytes.
    options.fault_at = options.fault == Fault::kCancel ? std::uint64_t{fault_at} + 1 : std::uint64_t{fault_at} * 4;
    // Mostly whole reads; sometimes reads of a few bytes, which move every
    // boundary; sometimes reads of some KiB, which keep big archives quick.
    const std::uint8_t limit = input.Byte();
    options.read_limit = limit < 128 ? 0 : limit < 192 ? limit - 127 : static_cast<std::size_t>(limit - 191) * 1024;
    // Half of those last: the archive viewed where it lies, in windows of that size.
    options.views = limit >= 192 && limit % 2 == 1;
    return options;
}

testing::Bytes TakeFillerBlock(InputCursor& input, RunOptions& options)
{
    const std::uint8_t choice = input.Byte();
    if (choice < 192) {
        return {};
    }
    const std::size_t before_boundary = choice - 192u;
    const std::size_t block_size = 0x10000 - before_boundary;
    if (options.read_limit != 0) {
        options.read_limit = std::max<std::size_t>(options.read_limit, 1024);
    }
    return testing::Archive().Block(testing::Fill(block_size - 4, 0)).Make();
}

void CheckArchive(std::span<const std::byte> archive, const RunOptions& options)
{
    const model::Extraction expected = model::ExtractArchive(archive);
    const CoreRun run = RunCore(archive, options);
    if (run.failure || run.cancelled) {
        Expect(options.fault != Fault::kNone, "the run failed: " + (run.failure ? run.failure->Describe() : ""));
        CheckStoppedRun(archive, run, expected, options.fault);
    } else {
        CheckCompleteRun(archive, run, expected, options);
    }
}

std::map<std::string, testing::Bytes> ModelOutputs(std::span<const std::byte> archive,
                                                   std::span<const model::File> files, std::size_t count)
{
    std::map<std::string, testing::Bytes> outputs;
    for (const model::File& file : files.first(count)) {
        const auto bytes = archive.subspan(file.bytes.offset, file.bytes.size);
        outputs.emplace(OutputPath(file), testing::Bytes(bytes.begin(), bytes.end()));
    }
    return outputs;
}

std::string DescribeOutputs(const std::map<std::string, testing::Bytes>& actual,
                            const std::map<std::string, testing::Bytes>& expected)
{
    std::map<std::string, std::pair<std::string, std::string>> rows;
    const auto sizes = [](const testing::Bytes& bytes) { return std::to_string(bytes.size()) + " bytes"; };
    for (const auto& [path, bytes] : actual) {
        rows[path].first = sizes(bytes);
    }
    for (const auto& [path, bytes] : expected) {
        rows[path].second = sizes(bytes);
    }
    std::string text = "output: made / expected\n";
    for (const auto& [path, row] : rows) {
        const bool same = actual.contains(path) && expected.contains(path) && actual.at(path) == expected.at(path);
        text += (same ? "  " : "! ") + path + ": " + (row.first.empty() ? "-" : row.first) + " / " +
                (row.second.empty() ? "-" : row.second) + "\n";
    }
    return text;
}

void Finding(std::string_view what)
{
    std::fprintf(stderr, "FINDING: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

}  // namespace quorvel::fuzz
