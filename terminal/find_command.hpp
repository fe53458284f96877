#pragma once

#include <atomic>
#include <cstdio>
#include <istream>
#include <optional>

#include "app/find_run.hpp"
#include "terminal/standard_output.hpp"

namespace quorvel {

struct FindCommand {
    FindRequest request;
    std::optional<bool> answer;  // -y / -n: the speech question is not asked
    bool quiet = false;
    bool json = false;
    bool draw_bar = false;  // the messages go to a terminal
    bool erase_with_escape = true;
};

// --find CLIP: the speech question on `messages` with the answer read from
// `input`, the status line and bar while the index is brought up to date
// (unless quiet), a line for each sound that could not be decoded, then the
// sounds that hold the clip on `output`, best first, one
// "PATH<TAB>SECONDS<TAB>SCORE" line each, or with json one
// {"path": ..., "offset": ..., "score": ...} a line. Returns the exit
// status: 0 found, 1 nothing found or failed, 3 found in a truncated
// archive, 128 + the signal when stopped.
int RunFindCommand(const FindCommand& command, FileSystem& files, const std::atomic<int>& stop_signal,
                   std::istream& input, std::FILE* messages, StandardOutput& output);

// One found sound as a line of output, its newline included.
std::string FoundLine(const FoundSound& sound, bool json);

}  // namespace quorvel
