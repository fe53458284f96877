#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace quorvel {

// A failure the user can act on: the operating system's error number and
// description, the file (or folder) concerned and, where it helps, the
// archive offset.
struct Failure {
    long number = 0;
    std::string description;
    std::string file;
    std::optional<std::uint64_t> offset;
    bool file_is_a_folder = false;

    std::string Describe() const;
};

class ExtractError : public std::runtime_error {
public:
    explicit ExtractError(Failure failure);
    const Failure& failure() const noexcept { return failure_; }

private:
    Failure failure_;
};

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
