#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "app/places.hpp"
#include "extract/file_system.hpp"
#include "pack/pack_file_system.hpp"
#include "terminal/standard_output.hpp"

namespace quorvel {

struct PackCommand {
    Places places;  // the game folder, and where sfx and speech are (empty: the game folder)
    bool dry_run = false;
    bool quiet = false;
    bool draw_bar = false;
};

// --pack: every archive that has both its .pak and its folder is rebuilt
// from the folder. Status and messages go to `messages`, a dry run's report
// to `report`. Returns the exit status: 0 when every archive was packed,
// 1 when one was refused or failed (it was left as it was), 128 + the
// signal when stopped.
int RunPackCommand(const PackCommand& command, FileSystem& files, PackFileSystem& pack_files,
                   const std::atomic<int>& stop_signal, std::FILE* messages, StandardOutput& report);

}  // namespace quorvel
