#include "terminal/standard_output.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>

#include "extract/extract_error.hpp"
#include "terminal/console.hpp"
#include "terminal/messages.hpp"

namespace quorvel {
namespace {

constexpr const char* kStandardOutput = "standard output";

#ifdef SIGPIPE
constexpr int kReaderGone = SIGPIPE;
#else
constexpr int kReaderGone = 13;  // where there is no SIGPIPE, its number
#endif

// A failed write is told by the run it stops; the last flush only tells one
// that nobody told yet.
bool g_failure_told = false;

Failure WriteFailure(int number)
{
    return Failure{.number = number, .description = std::strerror(number), .file = kStandardOutput};
}

}  // namespace

void StandardOutput::Write(std::string_view text)
{
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) {
        Fail(errno);
    }
}

void StandardOutput::Flush()
{
    if (std::fflush(stream_) != 0) {
        Fail(errno);
    }
}

void StandardOutput::Fail(int number)
{
    g_failure_told = true;
    if (number == EPIPE) {
        RequestStop(kReaderGone);
        throw Cancelled();
    }
    throw ExtractError(WriteFailure(number != 0 ? number : EIO));
}

int FinishStandardOutput(int status)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (flushed || g_failure_told) {
        return status;  // a write that failed before was told by the run it stopped
    }
    const int number = errno != 0 ? errno : EIO;
    if (number == EPIPE) {
        return 128 + kReaderGone;
    }
    PrintError(stderr, WriteFailure(number));
    return 1;
}

}  // namespace quorvel
