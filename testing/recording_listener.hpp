#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "extract/block_stream.hpp"

namespace quorvel::testing {

// Keeps what the extraction reported: the status texts, the truncation and
// the running byte count at every checkpoint.
class RecordingListener : public ExtractionListener {
public:
    void StatusChanged(std::string_view text) override { statuses.emplace_back(text); }
    void TruncationFound(const Truncation& found) override { truncation = found; }
    void Advance(std::uint64_t bytes) override { bytes_done += bytes; }
    void Checkpoint() override { checkpoints.push_back(bytes_done); }

    std::vector<std::string> statuses;
    std::optional<Truncation> truncation;
    std::uint64_t bytes_done = 0;
    std::vector<std::uint64_t> checkpoints;
};

}  // namespace quorvel::testing
