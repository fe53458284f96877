#pragma once

// What the terminal program needs from the system it runs on: the command
// line, the stop request, the terminal, the folders named on the command
// line and the file system. One implementation per platform, chosen by
// terminal/CMakeLists.txt: console_posix.cpp and console_win32.cpp.

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extract/extract_error.hpp"
#include "extract/file_system.hpp"

namespace quorvel {

// Whether "\\" separates folders in the paths users type (Windows), rather
// than taking the next character as it is in a pattern.
#ifdef _WIN32
inline constexpr bool kBackslashSeparatesPaths = true;
#else
inline constexpr bool kBackslashSeparatesPaths = false;
#endif

// The arguments as UTF-8, the form the file systems take paths in.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// The UTF-8 arguments in the argc/argv shape the option parser reads.
class CommandLine {
public:
    CommandLine(int argc, char** argv) : arguments_(Utf8Arguments(argc, argv))
    {
        for (std::string& argument : arguments_) {
            pointers_.push_back(argument.data());
        }
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(arguments_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> arguments_;
    std::vector<char*> pointers_;
};

// From here on, Ctrl-C (and SIGTERM, SIGHUP when the terminal closes, or
// closing the console window) no longer ends the program but sets the stop
// signal, so that the run stops at its next check and removes the file
// being written. Messages are
// written as UTF-8 on every platform.
void PrepareConsole();

// The signal that asked the run to stop (SIGINT for Ctrl-C), or 0; the exit
// status of a stopped run is 128 + it.
const std::atomic<int>& StopSignal();
// Stops the run as that signal would (SIGPIPE when standard output's
// reader went away).
void RequestStop(int signal_number);

// Standard output takes bytes as they are, not text whose line ends the
// system may change: for files written to it (-O).
void UseBinaryStandardOutput();

// Whether a person reads `stream` on a terminal (not a file or a pipe).
bool IsTerminal(std::FILE* stream);

// Readies the terminal behind `stream` for the redrawn bar. Returns whether
// it erases the rest of a line on ESC [ K; if not, the bar is padded with
// spaces instead.
bool PrepareLineErasing(std::FILE* stream);

// The game folder named on the command line must be a folder.
std::optional<Failure> CheckGameFolder(const std::string& folder);

// The output folder named on the command line is made, with its parents.
std::optional<Failure> MakeOutputFolder(const std::string& folder);

std::unique_ptr<FileSystem> MakeFileSystem();

}  // namespace quorvel
