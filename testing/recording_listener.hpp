#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extract/block_stream.hpp"

namespace quorvel::testing {

// Keeps what the extraction reported: the status texts and the running
// byte count at every checkpoint.
class RecordingListener : public ExtractionListener {
public:
    void StatusChanged(std::string_view text) override { statuses.emplace_back(text); }
    void Advance(std::uint64_t bytes) override { bytes_done += bytes; }
    void Checkpoint() override { checkpoints.push_back(bytes_done); }

    std::vector<std::string> statuses;
    std::uint64_t bytes_done = 0;
    std::vector<std::uint64_t> checkpoints;
};

}  // namespace quorvel::testing
