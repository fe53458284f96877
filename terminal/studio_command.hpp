#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/game_folder.hpp"
#include "platform/browser_opener.hpp"

namespace quorvel {

struct StudioCommand {
    Places places;
    std::optional<std::string> labels_file;  // --labels FILE: a shared list to attach
    std::uint16_t port = 0;                  // 0: a free one
    bool open_browser = true;
};

// --studio: lists the archives, serves the page on the loopback interface,
// writes "Studio: http://127.0.0.1:PORT/?token=TOKEN" to `messages` and
// opens the page in the user's browser through `opener`, then serves until
// Quit on the page or the stop signal (Ctrl-C). Returns the exit status: 0;
// 1 when it could not start (the message says why: the port in use, an
// archive missing); 128 + the signal (130 for Quit) when a run under way
// was stopped.
int RunStudio(const StudioCommand& command, GameFolder& game, BrowserOpener& opener,
              const std::atomic<int>& stop_signal, std::FILE* messages);

}  // namespace quorvel
