#pragma once

#include <cstdio>
#include <string_view>

namespace quorvel {

// Standard output with every write checked, the last flush included: a
// listing or report that did not reach its file is a failure, not a
// success. A reader that went away (a closed pipe, `| head -n 1`) stops
// the run quietly, as SIGPIPE stops other tools: Cancelled, with SIGPIPE
// as the stop signal.
class StandardOutput {
public:
    explicit StandardOutput(std::FILE* stream = stdout) : stream_(stream) {}

    // Throws ExtractError naming standard output, or Cancelled.
    void Write(std::string_view text);
    void Flush();

private:
    [[noreturn]] void Fail(int number);

    std::FILE* stream_;
};

// The flush at the end of the program. Returns the exit status it calls
// for: `status` when standard output took everything, else 1 after an
// error message on stderr, or 128 + SIGPIPE when its reader went away.
int FinishStandardOutput(int status);

}  // namespace quorvel
