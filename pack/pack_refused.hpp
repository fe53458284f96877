#pragma once

#include <string>

#include "extract/extract_error.hpp"

namespace quorvel {

// The folder's files cannot make an archive that gives them back, or what
// the pack needs is not there: nothing was replaced.
class PackRefused : public ExtractError {
public:
    // `file`: the file to act on ("sfx/sfx_0012.wav"), or the archive.
    PackRefused(std::string file, std::string reason)
        : ExtractError(
              Failure{.kind = FailureKind::kRefused, .description = std::move(reason), .file = std::move(file)})
    {
    }
    const std::string& file() const noexcept { return failure().file; }
    const std::string& reason() const noexcept { return failure().description; }
};

}  // namespace quorvel
