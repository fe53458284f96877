#pragma once

#include <atomic>
#include <cstdio>
#include <istream>
#include <optional>

#include "app/export_run.hpp"

namespace quorvel {

struct ExportCommand {
    ExportRequest request;
    std::optional<bool> answer;  // -y / -n: the speech question is not asked
    bool quiet = false;
    bool draw_bar = false;  // the messages go to a terminal
    bool erase_with_escape = true;
};

// --export FORMAT: the speech question on `messages` with the answer read
// from `input`, the status lines and the bar as extraction shows them, a
// line for each sound that could not be exported and, unless quiet, one
// line per archive at its end: how many sounds were exported where, how
// many failed, how many files were left out for not being sounds.
RunEnd RunExportCommand(const ExportCommand& command, FileSystem& files, const std::atomic<int>& stop_signal,
                        std::istream& input, std::FILE* messages);

// "sfx: 35 sounds exported to export/sfx, 1 failed, 12 files that are not
// sounds left out"
std::string ExportSummary(const ExportTally& tally);

}  // namespace quorvel
