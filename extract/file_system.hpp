#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "extract/extract_error.hpp"

namespace quorvel {

// A file opened for reading (an archive, or a file a pack reads back),
// other writers locked out where the platform allows it. It has no position
// of its own: each read names its offset, so that any number of readers can
// share one open file.
class InputFile {
public:
    virtual ~InputFile() = default;
    // The size when the file was opened.
    virtual std::uint64_t Size() = 0;
    // Reads up to buffer.size() bytes from `offset` on; returns 0 only at or
    // past the end of the file. Throws ExtractError on failure.
    virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) = 0;

    // The fewest bytes a view holds when the file has that many more.
    static constexpr std::size_t kMinimumView = 256;
    // How much of a view its reader means to look at.
    enum class ViewUse {
        kMost,  // all of it, front to back: its bytes are best read at once
        kPeek,  // a few bytes first (the fields after bytes passed over)
    };
    // The file's bytes from `offset` on where they already lie (a mapping),
    // so that they need not be copied to be looked at: at least kMinimumView
    // of them, or all that remain; empty when the file now ends before
    // `offset`. Valid until the next View or the end of the file object.
    // Nothing (asked first, at offset 0): this file is read, not viewed.
    virtual std::optional<std::span<const std::byte>> View(std::uint64_t /*offset*/, ViewUse /*use*/)
    {
        return std::nullopt;
    }
    // False once a view turned out to hold bytes the file no longer has
    // (it shrank while viewed): those read as zeros, and nothing made from
    // them may be kept.
    virtual bool ViewsIntact() const { return true; }
};

// One output file being written. Never follows a symbolic link in place of
// the file.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes all of bytes or throws ExtractError.
    virtual void Write(std::span<const std::byte> bytes) = 0;
    // Moves `length` bytes of `input`, from `offset` on, straight into this
    // file. Returns how many were moved; fewer (even 0) means the caller
    // must move the rest itself. Lets a platform skip user-space copies for
    // spans that need no inspection.
    virtual std::uint64_t CopyFrom(InputFile& /*input*/, std::uint64_t /*offset*/, std::uint64_t /*length*/)
    {
        return 0;
    }
    // Writes all of bytes at `offset`, for formats whose header is finished
    // only once their data is written (an encoder seeks back to it). An
    // output is written either this way or with Write: where Write would go
    // on after a WriteAt is not defined. False, having written nothing, for
    // an output that only goes front to back (standard output). Throws
    // ExtractError.
    virtual bool WriteAt(std::uint64_t /*offset*/, std::span<const std::byte> /*bytes*/) { return false; }
    // False for an output that throws its bytes away: whole spans meant for
    // it are then passed over without being read.
    virtual bool KeepsBytes() const { return true; }
    // Flushes and closes, and only then gives the file its name where it
    // replaces an older one; throws ExtractError if the data did not make it.
    virtual void Close() = 0;
    // Throws away what was written, for a run that failed or was stopped
    // before Close: a new file is removed, and an older file it was to
    // replace stays as it was. Failures are ignored, because it only runs
    // while another failure (or a stop) is being reported.
    virtual void Abandon() noexcept = 0;
};

// Inside an output folder: where a platform may write the new files for
// taken names before they take those names. The tool's own, and empty
// between runs.
inline constexpr const char* kReplacementFolder = ".quorvel-replacing";

// The file services the extraction needs, relative to the working folder.
class FileSystem {
public:
    // What becomes of an output name that is taken already.
    enum class IfTaken {
        // A file of an earlier run is replaced: the new one is written under
        // a temporary name beside it and takes the name only once whole, so
        // that a run stopped, failed or killed leaves the old file as it was.
        kReplace,
        kKeep,  // whatever has the name is left as it is: no output
    };

    virtual ~FileSystem() = default;
    // An archive, or a folder the user chose: a link in its place is
    // followed, as the user may have made it (game libraries often are).
    virtual std::unique_ptr<InputFile> OpenArchive(const std::string& path) = 0;
    // A file inside a folder that a user or a mod fills (an archive's
    // folder, the output folder): its folder is followed where it is a
    // link, the file itself never; only a regular file is opened, and what
    // is checked is the open file, so that a name swapped for a link
    // meanwhile cannot lead anywhere else. Nothing when nothing has the
    // name; throws ExtractError (kNotAFile: "is a symbolic link", "is a
    // folder", "is not a regular file") otherwise.
    virtual std::unique_ptr<InputFile> OpenRegularFile(const std::string& path) = 0;
    // Makes an output folder. Returns why it could not be made, or nothing
    // when it was made or is there already from an earlier run. A file in
    // the folder's way is reported here or by the first file creation,
    // whichever of the two the platform words more clearly.
    virtual std::optional<Failure> MakeFolder(const std::string& path) = 0;
    // An output file for `path`: a name nobody has is made at once (one
    // open); a taken one as `if_taken` says, nullptr where it is kept. Only
    // a regular file with no other hard links is ever replaced.
    virtual std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) = 0;
    // Joins a folder and a file name with the platform's separator.
    virtual std::string Join(const std::string& folder, const std::string& file) const = 0;
};

// A file system that passes every call on to another: the base of those
// that change one or two of them.
class ForwardingFileSystem : public FileSystem {
public:
    explicit ForwardingFileSystem(FileSystem& files) : files_(files) {}

    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override { return files_.OpenArchive(path); }
    std::unique_ptr<InputFile> OpenRegularFile(const std::string& path) override
    {
        return files_.OpenRegularFile(path);
    }
    std::optional<Failure> MakeFolder(const std::string& path) override { return files_.MakeFolder(path); }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) override
    {
        return files_.CreateOutput(path, if_taken);
    }
    std::string Join(const std::string& folder, const std::string& file) const override
    {
        return files_.Join(folder, file);
    }

protected:
    FileSystem& files_;
};

// An output that keeps nothing: for files a run passes over.
class DiscardingOutput final : public OutputFile {
public:
    void Write(std::span<const std::byte> /*bytes*/) override {}
    bool WriteAt(std::uint64_t /*offset*/, std::span<const std::byte> /*bytes*/) override { return true; }
    bool KeepsBytes() const override { return false; }
    void Close() override {}
    void Abandon() noexcept override {}
};

}  // namespace quorvel
