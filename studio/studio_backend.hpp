#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "studio/byte_source.hpp"

namespace quorvel::studio {

// The seam between the studio and the program's core: what the studio
// lists, reads and runs, and nothing of how. The program's own is
// core_backend.cpp; tests use a fake.

// A file that extraction would write, as the listing tells it.
struct ListedFile {
    std::string path;       // "sfx/sfx_0012.wav": under the output folder, "/"-separated
    std::string archive;    // "sfx"
    std::string file_name;  // "sfx_0012.wav"
    std::string kind;       // "sound", "tail", "data", "avqf", "short", "empty"
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::string record;  // its line of the JSON listing, without the line end
};

struct Listing {
    // Every line of the JSON listing in order: a file's (with its index in
    // `files`) or an archive's summary.
    struct Line {
        std::string json;
        std::optional<std::size_t> file;
    };
    std::vector<Line> lines;
    std::vector<ListedFile> files;
    bool speech = true;  // false: there is no speech.pak, so sfx alone is listed
};

// A run that could not be done; the message names the file and the cause.
class RunFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A run stopped on request (RunReporter::StopRequested) before its end.
class RunStopped : public std::exception {
public:
    const char* what() const noexcept override { return "stopped"; }
};

// What a run tells while it goes, and whether it should stop. Called on
// the run's own thread.
class RunReporter {
public:
    virtual ~RunReporter() = default;
    virtual void Status(std::string_view text) = 0;
    virtual void Progress(std::uint64_t done, std::uint64_t total) = 0;
    virtual bool StopRequested() const = 0;
};

// An upload on its way to the output folder: a temporary file there until
// a swap takes it; removed when dropped.
class UploadFile {
public:
    virtual ~UploadFile() = default;
    // Throws RunFailed when the bytes cannot be written (a full disk).
    virtual void Write(std::span<const std::byte> bytes) = 0;
    // Closes it for good, checking that every byte made it.
    virtual void Finish() = 0;
};

struct BlockReport {
    std::uint64_t offset = 0;
    std::uint64_t old_size = 0;
    std::uint64_t new_size = 0;
    std::vector<std::string> files;
    bool final_field = false;
};

struct ArchiveReport {
    std::string archive;  // "sfx.pak"
    std::uint64_t old_size = 0;
    std::uint64_t new_size = 0;
    std::uint64_t blocks = 0;
    std::vector<BlockReport> changes;     // what would change (a dry run)
    std::vector<std::string> ignored;     // files of the folder that extraction does not make
    std::optional<std::string> repaired;  // a truncated archive, made whole
    std::optional<std::string> refused;   // why it was left as it was
    std::string result;                   // "packed, ... bytes; the old archive is kept as sfx.pak.bak"
};

struct PackReport {
    bool dry_run = true;
    std::vector<ArchiveReport> archives;
};

struct SwapOutcome {
    bool accepted = false;
    std::string refusal;  // why not: the pack's own reason
};

class StudioBackend {
public:
    virtual ~StudioBackend() = default;

    // The archives as `--list --json` lists them. Throws RunFailed.
    virtual Listing List() = 0;
    // A listed file's bytes from `offset` on, as extraction would write
    // them, read from the archive itself.
    virtual std::unique_ptr<ByteSource> OpenListed(const ListedFile& file, std::uint64_t offset) = 0;
    // The file of that name in the output folder, if there is one.
    virtual std::optional<std::uint64_t> OutputSize(const ListedFile& file) = 0;
    virtual std::unique_ptr<ByteSource> OpenOutput(const ListedFile& file, std::uint64_t offset) = 0;
    // The folder the output goes to: the game folder, or -o DIR.
    virtual std::string OutputFolder() const = 0;

    // The runs. Each throws RunFailed or RunStopped; files finished stay.
    // Extract: the given files (all of them when empty), as the terminal
    // program writes them.
    virtual void Extract(const std::vector<const ListedFile*>& files, RunReporter& reporter) = 0;
    virtual std::unique_ptr<UploadFile> CreateUpload() = 0;
    // Makes the upload the file of the output folder, extracting the
    // archive there first where it has not been; the pack's checks decide,
    // and on a refusal nothing is changed.
    virtual SwapOutcome Swap(const ListedFile& file, UploadFile& upload, RunReporter& reporter) = 0;
    // Puts the extracted original back.
    virtual void Undo(const ListedFile& file, RunReporter& reporter) = 0;
    virtual PackReport Pack(bool dry_run, RunReporter& reporter) = 0;
};

}  // namespace quorvel::studio
