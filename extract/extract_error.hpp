#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace quorvel {

// What kind of failure it is, which decides how it is told and whether a
// layer may act on it.
enum class FailureKind {
    kSystem,      // the operating system refused; `number` is its error number
    kNotAFile,    // the name holds something the tool will not read or write: a link, a FIFO, a folder
    kEndedEarly,  // an archive is shorter than it was when it was opened
    kChanged,     // a file changed while the run was using it
    kRefused,     // the pack's checks refused the folder's files
};

// A failure the user can act on: its kind (the operating system's error
// number for a system error) and description, the file (or folder)
// concerned and, where it helps, the archive offset.
struct Failure {
    FailureKind kind = FailureKind::kSystem;
    long number = 0;  // only for kSystem
    std::string description = {};
    std::string file = {};
    std::optional<std::uint64_t> offset = {};
    bool file_is_a_folder = false;

    // "Error 2: No such file or directory" and the file and offset on lines
    // of their own, as a message box shows it; a failure the tool raises
    // itself has no number.
    std::string Describe() const;
    // The same on one line, in the form command-line tools use:
    // "sfx.pak: No such file or directory (error 2)".
    std::string OneLine() const;
};

class ExtractError : public std::runtime_error {
public:
    explicit ExtractError(Failure failure);
    const Failure& failure() const noexcept { return failure_; }

private:
    Failure failure_;
};

// A name that holds something the tool will not read or write as a file.
[[noreturn]] void ThrowNotAFile(const std::string& path, std::string description);

// An output file could not be created: the folder it goes into could not
// be made, or the file itself could not be created there.
class CannotCreateOutput : public ExtractError {
public:
    CannotCreateOutput(Failure failure, bool first_of_archive)
        : ExtractError(std::move(failure)), first_of_archive_(first_of_archive)
    {
    }
    // Nothing of the archive was written yet: another folder could take all of it.
    bool first_of_archive() const noexcept { return first_of_archive_; }

private:
    bool first_of_archive_;
};

// Thrown from a progress checkpoint when the user asked the run to stop.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

}  // namespace quorvel
