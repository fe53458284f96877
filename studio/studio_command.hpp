#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace quorvel {
class FileSystem;
class PackFileSystem;
}  // namespace quorvel

namespace quorvel::studio {

struct StudioCommand {
    std::string game_folder;                 // empty: the current folder
    std::string output_folder;               // empty: the game folder
    std::optional<std::string> labels_file;  // --labels FILE: a shared list to attach
    std::uint16_t port = 0;                  // 0: a free one
    bool open_browser = true;
};

// --studio: lists the archives, serves the page on the loopback interface,
// writes "Studio: http://127.0.0.1:PORT/?token=TOKEN" to `messages` and
// opens that address in the user's browser, then serves until Quit on the
// page or the stop signal (Ctrl-C). Returns the exit status: 0; 1 when it
// could not start (the message says why: the port in use, an archive
// missing); 128 + the signal (130 for Quit) when a run under way was stopped.
int RunStudio(const StudioCommand& command, FileSystem& files, PackFileSystem& pack_files,
              const std::atomic<int>& stop_signal, std::FILE* messages);

// Opens `address` with the system's handler for web addresses (xdg-open,
// open, ShellExecuteW). Returns why it could not, or nothing.
std::optional<std::string> OpenInBrowser(const std::string& address);

}  // namespace quorvel::studio
