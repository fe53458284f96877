#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// What the command line asks for.
struct Options {
    std::optional<bool> answer;  // -y / -n: the last one counts
    std::string game_folder;     // -C
    std::string output_folder;   // -o
    bool list = false;           // -l
    bool json = false;
    bool pack = false;
    bool dry_run = false;
    bool quiet = false;           // -q
    bool to_stdout = false;       // -O
    bool keep_old_files = false;  // -k
    bool verbose = false;         // -v
    bool studio = false;
    // --export FORMAT: "flac" and the like, checked where the formats are known.
    std::optional<std::string> export_format;
    // --replace: the operands are SOUND FILE pairs; --replace-list LIST
    // gives them one SOUND<TAB>FILE a line.
    bool replace = false;
    std::string replace_list;
    bool keep_loudness = false;
    bool fit_length = false;
    std::string labels_file;
    // --find CLIP: the sounds that hold the clip; --max N of them at most.
    std::optional<std::string> find_clip;
    std::optional<unsigned> most_found;
    std::optional<unsigned> port;
    bool no_open = false;
    // Files chosen by name, pattern or number: "sfx/sfx_0012.wav", "*.wav", "sfx:12-40".
    std::vector<std::string> operands;
};

struct ParsedCommandLine {
    enum class Action { kRun, kHelp, kVersion, kUsageError };
    Action action = Action::kRun;
    Options options;
    std::string usage_error;  // for kUsageError: what is wrong, in one line
};

// Parses the arguments as getopt_long does (bundled short options, -Cdir
// as well as -C dir, --game=dir, "--" ending the options, operands among
// the options), then checks that the options go together. A short option's
// value is the next argument whatever it looks like: `-o -y` names the
// folder "-y".
ParsedCommandLine ParseCommandLine(int argc, char** argv);

}  // namespace quorvel
