#pragma once

#include <atomic>
#include <cstdio>

#include "app/replace_run.hpp"

namespace quorvel {

struct ReplaceCommand {
    ReplaceRequest request;
    bool quiet = false;
    bool draw_bar = false;  // the messages go to a terminal
};

// --replace SOUND FILE ... and --replace-list LIST: for each sound, its
// report (what the new file is, what it becomes, the gain, the notes)
// before anything changes, then a line saying where the fitted sound now
// is, or one line saying why it was left as it was and what to do; the
// status lines and the bar while the archive is extracted and the pack's
// checks run. With -q only what went wrong is told.
RunEnd RunReplaceCommand(const ReplaceCommand& command, GameFolder& game, const std::atomic<int>& stop_signal,
                         std::FILE* messages);

}  // namespace quorvel
