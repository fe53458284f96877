#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <istream>
#include <optional>
#include <string>

#include "app/user_interface.hpp"

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
    void SetBarText(BarHandle bar, std::string_view text) override;
    bool ProcessPendingMessages() override;
    void Unload() override;
    void ReportError(const Failure& failure) override;
    void ReportWarning(std::string_view text) override;

private:
    void Print(std::string_view text);
    void DrawBarLine(std::chrono::steady_clock::time_point now);
    void EndBarLine();

    std::istream& input_;
    std::FILE* output_;
    Options options_;
    const std::atomic<int>& stop_signal_;
    int bar_position_ = 0;
    std::string bar_text_;
    bool bar_line_open_ = false;
    bool redraw_pending_ = false;
    std::chrono::steady_clock::time_point last_draw_;
};

// The answer to the question, or nothing for a line that is neither:
// y/yes, n/no in any case; an empty line means Yes, the default.
std::optional<bool> ParseAnswer(std::string_view line);

// "[#######-----------------------] 23.40%"
std::string DrawBar(int position, std::string_view text);

}  // namespace quorvel
