// quorvel-extractor for Linux and macOS: run in the game's folder, it unpacks
// sfx.pak (and, on Yes, speech.pak) into the folders sfx and speech.

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string_view>

#include "app/form1.hpp"
#include "platform/posix_file_system.hpp"
#include "terminal/terminal_ui.hpp"

#ifndef QUORVEL_VERSION
#define QUORVEL_VERSION "unknown"
#endif

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitTruncated = 3;

constexpr std::string_view kUsage =
    "Usage: quorvel-extractor [-y | -n]\n"
    "Run in the game's folder: unpacks sfx.pak into the folder sfx and, if\n"
    "the answer to \"Also extract speech files?\" is yes, speech.pak into speech.\n"
    "\n"
    "  -y, --yes      extract the speech files too, without asking\n"
    "  -n, --no       extract only the sound effects, without asking\n"
    "  -h, --help     show this help\n"
    "      --version  show the version\n"
    "\n"
    "Exit status: 0 done; 1 failed (the message says why); 2 bad usage;\n"
    "3 done, but an archive was truncated; 130/143 stopped by SIGINT/SIGTERM.\n";

std::atomic<int> g_stop_signal{0};

extern "C" void RememberStopSignal(int signal_number)
{
    g_stop_signal.store(signal_number, std::memory_order_relaxed);
}

// Ctrl-C and kill stop the run at the next chunk, so that the file being
// written can be removed; a full disk or file size limit becomes an error
// on write rather than death by SIGXFSZ.
void InstallSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = RememberStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv)
{
    quorvel::TerminalUi::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-y" || argument == "--yes") {
            options.answer = true;
        } else if (argument == "-n" || argument == "--no") {
            options.answer = false;
        } else if (argument == "-h" || argument == "--help") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return 0;
        } else if (argument == "--version") {
            std::puts("quorvel-extractor " QUORVEL_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "quorvel-extractor: unknown argument '%s'\n%s", argv[i], kUsage.data());
            return kExitUsage;
        }
    }
    options.draw_bar = ::isatty(STDERR_FILENO) != 0;

    InstallSignalHandlers();
    quorvel::PosixFileSystem files;
    quorvel::TerminalUi ui(std::cin, stderr, options, g_stop_signal);
    switch (quorvel::Form1(ui, files).FormLoad()) {
        case quorvel::RunEnd::kCompleted:
            return 0;
        case quorvel::RunEnd::kTruncated:
            return kExitTruncated;
        case quorvel::RunEnd::kFailed:
            return kExitFailed;
        case quorvel::RunEnd::kCancelled:
            return 128 + g_stop_signal.load();
    }
    return kExitFailed;
}
