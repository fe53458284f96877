#include "terminal/terminal_ui.hpp"

#include <algorithm>
#include <cctype>
#include <string>

#include "terminal/messages.hpp"

namespace quorvel {
namespace {

constexpr int kBarCells = 30;

std::string_view Trim(std::string_view text)
{
    const auto is_space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && is_space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::optional<bool> ParseAnswer(std::string_view line)
{
    std::string answer(Trim(line));
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (answer.empty() || answer == "y" || answer == "yes") {
        return true;
    }
    if (answer == "n" || answer == "no") {
        return false;
    }
    return std::nullopt;
}

std::string DrawBar(int position, std::string_view text)
{
    const int filled = std::clamp(position, 0, 100) * kBarCells / 100;
    std::string bar;
    bar.reserve(kBarCells + 3 + text.size());
    bar.push_back('[');
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarCells - filled), '-');
    bar.append("] ");
    bar.append(text);
    return bar;
}

std::string RateAndTimeLeft(std::int64_t done, std::int64_t total, std::chrono::duration<double> elapsed)
{
    // Before a quarter of a second the rate is mostly start-up noise.
    if (done <= 0 || elapsed.count() < 0.25) {
        return {};
    }
    const double bytes_per_second = static_cast<double>(done) / elapsed.count();
    const auto seconds_left =
        static_cast<long long>(static_cast<double>(std::max<std::int64_t>(total - done, 0)) / bytes_per_second + 0.5);
    char text[64];
    std::snprintf(text, sizeof text, "  %.0f MiB/s  %lld:%02lld left", bytes_per_second / (1024.0 * 1024.0),
                  seconds_left / 60, seconds_left % 60);
    return text;
}

TerminalUi::TerminalUi(std::istream& input, std::FILE* output, Options options, const std::atomic<int>& stop_signal)
    : input_(input), output_(output), options_(options), stop_signal_(stop_signal)
{
}

bool TerminalUi::AskYesNo(std::string_view question, std::string_view /*caption*/)
{
    if (options_.answer) {
        return *options_.answer;
    }
    for (;;) {
        Print(std::string(question) + " [Y/n] ");
        std::string line;
        if (!std::getline(input_, line)) {
            Print("\n");
            if (!ProcessPendingMessages()) {
                throw Cancelled();  // Ctrl-C at the question is no answer
            }
            return true;  // no answer to be had: the default
        }
        if (const auto answer = ParseAnswer(line)) {
            return *answer;
        }
        Print("Please answer y or n.\n");
    }
}

void TerminalUi::ShowWindow(std::string_view title)
{
    if (!options_.quiet) {
        Print(std::string(title) + "\n");
    }
}

void TerminalUi::SetStatusText(std::string_view text)
{
    archive_started_ = options_.clock();
    if (!options_.quiet) {
        EndBarLine();
        Print(std::string(text) + "\n");
    }
}

BarHandle TerminalUi::CreateProgressBar(int /*x*/, int /*y*/, int /*width*/, int /*height*/)
{
    return 1;
}

void TerminalUi::SetBarPosition(BarHandle /*bar*/, int position)
{
    bar_position_ = position;
}

void TerminalUi::SetBarCounts(BarHandle /*bar*/, std::int64_t done, std::int64_t total)
{
    if (!counting_since_) {
        counting_since_ = options_.clock();
    }
    bytes_done_ = done;
    bytes_total_ = total;
}

void TerminalUi::SetBarText(BarHandle /*bar*/, std::string_view text)
{
    // Redrawn only when the text changes, and not more often than the eye
    // can follow: drawing each of the 10,001 texts a run can show made a
    // 1 GiB sound 10-20 % slower on a pseudo-terminal.
    if (!ShowsProgress() || (bar_line_open_ && text == bar_text_)) {
        return;
    }
    bar_text_ = text;
    const auto now = options_.clock();
    if (bar_line_open_ && now - last_draw_ < options_.redraw_interval) {
        redraw_pending_ = true;
        return;
    }
    DrawBarLine(now);
}

void TerminalUi::DrawBarLine(std::chrono::steady_clock::time_point now)
{
    std::string line = "\r";
    line += DrawBar(bar_position_, bar_text_);
    if (counting_since_) {
        line += RateAndTimeLeft(bytes_done_, bytes_total_, now - *counting_since_);
    }
    // The line may have been longer before (the rate shrinks, the time left
    // loses a digit): what is left of the old drawing is erased.
    const std::size_t width = line.size() - 1;
    if (options_.erase_with_escape) {
        if (counting_since_) {
            line += "\x1b[K";
        }
    } else if (width < bar_line_width_) {
        line.append(bar_line_width_ - width, ' ');
    }
    bar_line_width_ = std::max(bar_line_width_, width);
    Print(line);
    bar_line_open_ = true;
    redraw_pending_ = false;
    last_draw_ = now;
}

bool TerminalUi::ProcessPendingMessages()
{
    return stop_signal_.load(std::memory_order_relaxed) == 0;
}

void TerminalUi::Unload()
{
    EndBarLine();
    for (const std::string& line : summary_) {
        Print(line);
    }
    summary_.clear();
    if (kept_ != 0 && !options_.quiet) {
        Print(MessageLine(std::to_string(kept_) + (kept_ == 1 ? " file was" : " files were") +
                          " there already and kept as " + (kept_ == 1 ? "it was" : "they were")));
    }
    kept_ = 0;
}

void TerminalUi::FileWritten(std::string_view path)
{
    if (options_.files_written != nullptr) {
        options_.files_written->Write(std::string(path) + "\n");
    }
}

void TerminalUi::ArchiveFinished(const ArchiveTally& tally)
{
    kept_ += tally.kept;
    if (!ShowsProgress()) {
        return;
    }
    const std::chrono::duration<double> took = options_.clock() - archive_started_;
    char line[160];
    std::snprintf(line, sizeof line, "%s: %llu file%s, %llu bytes, %.2f s\n", tally.archive.c_str(),
                  static_cast<unsigned long long>(tally.files), tally.files == 1 ? "" : "s",
                  static_cast<unsigned long long>(tally.bytes), took.count());
    summary_.emplace_back(line);
}

void TerminalUi::ReportError(const Failure& failure)
{
    EndBarLine();
    Print(MessageLine(failure.OneLine()));
}

void TerminalUi::ReportWarning(std::string_view text)
{
    EndBarLine();
    Print(WarningLine(text));
}

void TerminalUi::ReportMessage(std::string_view text)
{
    EndBarLine();
    Print(MessageLine(text));
}

void TerminalUi::Print(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), output_);
    std::fflush(output_);
}

void TerminalUi::EndBarLine()
{
    if (bar_line_open_) {
        if (redraw_pending_) {
            DrawBarLine(options_.clock());
        }
        Print("\n");
        bar_line_open_ = false;
        bar_line_width_ = 0;
    }
}

}  // namespace quorvel
