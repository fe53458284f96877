#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "app/user_interface.hpp"
#include "terminal/standard_output.hpp"

namespace quorvel {

// The run on a terminal: the question on stderr with the answer read from
// stdin, then the status lines, and a bar redrawn in place when stderr is a
// terminal.
class TerminalUi final : public UserInterface {
public:
    using Clock = std::chrono::steady_clock::time_point (*)();

    struct Options {
        std::optional<bool> answer;  // from -y / -n: the question is not asked
        bool draw_bar = false;       // stderr is a terminal
        // The terminal erases the rest of a line on ESC [ K; a console that
        // takes no escape sequences gets the bar padded with spaces instead.
        bool erase_with_escape = true;
        bool quiet = false;  // -q: no title, status lines, bar or summary
        // -v: the path of each file written, on standard output.
        StandardOutput* files_written = nullptr;
        // The bar is redrawn at most this often; a change in between is
        // drawn with the next one, or before the bar's line ends.
        std::chrono::milliseconds redraw_interval{50};
        Clock clock = &std::chrono::steady_clock::now;
    };

    TerminalUi(std::istream& input, std::FILE* output, Options options, const std::atomic<int>& stop_signal);

    bool AskYesNo(std::string_view question, std::string_view caption) override;
    void ShowWindow(std::string_view title) override;
    void SetStatusText(std::string_view text) override;
    BarHandle CreateProgressBar(int x, int y, int width, int height) override;
    void SetBarPosition(BarHandle bar, int position) override;
    void SetBarCounts(BarHandle bar, std::int64_t done, std::int64_t total) override;
    void SetBarText(BarHandle bar, std::string_view text) override;
    bool ProcessPendingMessages() override;
    void Unload() override;
    void ReportError(const Failure& failure) override;
    void ReportWarning(std::string_view text) override;
    // "quorvel-extractor: TEXT" on a line of its own, below the bar.
    void ReportMessage(std::string_view text);
    void ArchiveFinished(const ArchiveTally& tally) override;
    void FileWritten(std::string_view path) override;

private:
    void Print(std::string_view text);
    void DrawBarLine(std::chrono::steady_clock::time_point now);
    void EndBarLine();
    bool ShowsProgress() const { return options_.draw_bar && !options_.quiet; }

    std::istream& input_;
    std::FILE* output_;
    Options options_;
    const std::atomic<int>& stop_signal_;
    int bar_position_ = 0;
    std::string bar_text_;
    bool bar_line_open_ = false;
    std::size_t bar_line_width_ = 0;  // the widest drawing of the open bar line
    bool redraw_pending_ = false;
    std::chrono::steady_clock::time_point last_draw_;
    // For the rate and the time left: the counts, and when the first came.
    std::int64_t bytes_done_ = 0;
    std::int64_t bytes_total_ = 0;
    std::optional<std::chrono::steady_clock::time_point> counting_since_;
    // The archive being extracted since when, and the lines for the end.
    std::chrono::steady_clock::time_point archive_started_;
    std::vector<std::string> summary_;
    std::uint64_t kept_ = 0;  // files left as they were, over all archives
};

// The answer to the question, or nothing for a line that is neither:
// y/yes, n/no in any case; an empty line means Yes, the default.
std::optional<bool> ParseAnswer(std::string_view line);

// "[#######-----------------------] 23.40%"
std::string DrawBar(int position, std::string_view text);

// "  310 MiB/s  0:04 left" for `done` of `total` bytes after `elapsed`;
// empty until a rate can be told (a quarter of a second in).
std::string RateAndTimeLeft(std::int64_t done, std::int64_t total, std::chrono::duration<double> elapsed);

}  // namespace quorvel
