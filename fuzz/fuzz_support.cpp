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
#include "testing/memory_file_system.hpp"

namespace quorvel::fuzz {
namespace {

const std::string kName = "sfx";

class CountingListener final : public ExtractionListener {
public:
    explicit CountingListener(std::uint64_t cancel_at) : cancel_at_(cancel_at) {}

    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& found) override { truncation_ = found; }
    void Advance(std::uint64_t bytes) override { advanced_ += bytes; }
    void Checkpoint() override
    {
        if (++checkpoints_ == cancel_at_) {
            throw Cancelled();
        }
    }

    std::uint64_t advanced() const { return advanced_; }
    const std::optional<Truncation>& truncation() const { return truncation_; }

private:
    std::uint64_t cancel_at_;
    std::uint64_t advanced_ = 0;
    std::uint64_t checkpoints_ = 0;
    std::optional<Truncation> truncation_;
};

struct CoreRun {
    std::map<std::string, model::Bytes> outputs;
    std::optional<Truncation> truncation;
    std::optional<Failure> failure;
    bool cancelled = false;
    std::uint64_t progress = 0;
};

CoreRun RunCore(std::span<const std::byte> archive, const RunOptions& options)
{
    testing::MemoryFileSystem files;
    files.AddArchive(ArchivePath(kName), model::Bytes(archive.begin(), archive.end()));
    if (options.read_limit != 0) {
        files.LimitReadSize(options.read_limit);
    }
    if (options.fault == Fault::kWriteFailure) {
        files.FailWritesAfter(options.fault_at);
    }
    CountingListener listener(options.fault == Fault::kCancel ? options.fault_at : 0);
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
    run.truncation = listener.truncation();
    run.outputs = files.Outputs();
    run.progress = listener.advanced();
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
void CheckCoverage(const CoreRun& run, const model::Extraction& expected)
{
    std::map<std::int64_t, const model::Bytes*> by_number;
    for (const auto& [path, bytes] : run.outputs) {
        const ParsedName parsed = ParseOutputPath(path);
        Expect(by_number.emplace(parsed.number, &bytes).second, "two outputs share a number: " + path);
    }
    for (const std::int64_t number : expected.numbers_without_file) {
        Expect(by_number.emplace(number, nullptr).second, "a \"RIFF\"-only payload's number carries a file");
    }
    std::int64_t next = 1;
    model::Bytes joined;
    for (const auto& [number, bytes] : by_number) {
        Expect(number == next, "the numbering has a gap before " + std::to_string(number));
        ++next;
        if (bytes != nullptr) {
            joined.insert(joined.end(), bytes->begin(), bytes->end());
        }
    }
    Expect(joined == expected.payload_bytes, "the outputs joined in number order differ from the payload bytes");
}

std::map<std::string, model::Bytes> ExpectedOutputs(const model::Extraction& expected, std::size_t count)
{
    std::map<std::string, model::Bytes> outputs;
    for (std::size_t i = 0; i < count; ++i) {
        outputs.emplace(model::OutputPath(kName, expected.files[i]), expected.files[i].bytes);
    }
    return outputs;
}

void CheckCompleteRun(const CoreRun& run, const model::Extraction& expected)
{
    Expect(!run.failure, "the run failed: " + (run.failure ? run.failure->Describe() : ""));
    Expect(!run.cancelled, "the run was cancelled without being asked to");
    const auto expected_outputs = ExpectedOutputs(expected, expected.files.size());
    Expect(run.outputs == expected_outputs,
           "the outputs differ from the model's\n" + DescribeOutputs(run.outputs, expected_outputs));
    Expect(run.truncation.has_value() == expected.truncated, "the truncation warning differs from the model's");
    Expect(run.progress == expected.progress, "the progress differs from the model's: " + std::to_string(run.progress) +
                                                  " instead of " + std::to_string(expected.progress));
    CheckCoverage(run, expected);
}

// A run stopped by a fault keeps the files finished before it, whole, and
// nothing of the file it was writing.
void CheckStoppedRun(const CoreRun& run, const model::Extraction& expected, Fault fault)
{
    const std::size_t finished = run.outputs.size();
    Expect(finished <= expected.files.size(), "a stopped run made more files than a complete one");
    Expect(run.outputs == ExpectedOutputs(expected, finished),
           "the files kept after a stop are not the model's first files, whole");
    if (fault == Fault::kWriteFailure) {
        Expect(run.failure.has_value(), "a stopped run reported no failure");
        Expect(
            finished < expected.files.size() && run.failure->file == model::OutputPath(kName, expected.files[finished]),
            "the failure does not name the file being written");
    }
}

}  // namespace

std::uint8_t InputCursor::Byte()
{
    return position_ < size_ ? data_[position_++] : 0;
}

std::uint16_t InputCursor::Uint16()
{
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | Byte() << 8);
}

std::uint64_t InputCursor::Uint64()
{
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value |= std::uint64_t{Byte()} << (8 * i);
    }
    return value;
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
    const std::uint16_t fault_at = input.Uint16();
    // A checkpoint comes at every block; a write budget is in bytes.
    options.fault_at = options.fault == Fault::kCancel ? std::uint64_t{fault_at} + 1 : std::uint64_t{fault_at} * 4;
    // Mostly whole reads; sometimes reads of a few bytes, which move every
    // boundary; sometimes reads of some KiB, which keep big archives quick.
    const std::uint8_t limit = input.Byte();
    options.read_limit = limit < 128 ? 0 : limit < 192 ? limit - 127 : static_cast<std::size_t>(limit - 191) * 1024;
    return options;
}

model::Bytes TakeFillerBlock(InputCursor& input, RunOptions& options)
{
    const std::uint8_t choice = input.Byte();
    if (choice < 192) {
        return {};
    }
    const std::size_t before_boundary = choice - 192u;
    const std::size_t block_size = 0x10000 - before_boundary;
    const auto length = static_cast<std::uint32_t>(block_size);
    model::Bytes block(block_size, std::byte{0});
    for (std::size_t i = 0; i < 4; ++i) {
        block[i] = static_cast<std::byte>(length >> (8 * i));
    }
    if (options.read_limit != 0) {
        options.read_limit = std::max<std::size_t>(options.read_limit, 1024);
    }
    return block;
}

void CheckArchive(std::span<const std::byte> archive, const RunOptions& options)
{
    const model::Extraction expected = model::ExtractArchive(archive);
    const CoreRun run = RunCore(archive, options);
    if (run.failure || run.cancelled) {
        Expect(options.fault != Fault::kNone, "the run failed: " + (run.failure ? run.failure->Describe() : ""));
        CheckStoppedRun(run, expected, options.fault);
    } else {
        CheckCompleteRun(run, expected);
    }
}

std::string DescribeOutputs(const std::map<std::string, model::Bytes>& actual,
                            const std::map<std::string, model::Bytes>& expected)
{
    std::map<std::string, std::pair<std::string, std::string>> rows;
    const auto sizes = [](const model::Bytes& bytes) { return std::to_string(bytes.size()) + " bytes"; };
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
