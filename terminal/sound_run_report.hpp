#pragma once

// What the runs over the game's sounds (export, find) share on a terminal:
// the speech question, the status line and its bar, a sound that failed and
// the run's error and warning, through the terminal's user interface (which
// also turns Ctrl-C into a stop at the next report). Each run's own reports
// are added by the class that derives from it.

#include <atomic>
#include <cstdio>
#include <istream>
#include <string_view>

#include "app/form1.hpp"
#include "progress/progress_bar.hpp"
#include "terminal/terminal_ui.hpp"

namespace quorvel {

template <class Report>
class TerminalSoundRunReport : public Report {
public:
    // `Command` has the terminal's answer, draw_bar, erase_with_escape and quiet.
    template <class Command>
    TerminalSoundRunReport(const Command& command, const std::atomic<int>& stop_signal, std::istream& input,
                           std::FILE* messages)
        : ui_(input, messages,
              TerminalUi::Options{.answer = command.answer,
                                  .draw_bar = command.draw_bar,
                                  .erase_with_escape = command.erase_with_escape,
                                  .quiet = command.quiet},
              stop_signal),
          // A terminal places its bar itself: the window's coordinates are unused.
          bar_(CreateProgressBar(ui_, 0, 0, 0, 0))
    {
    }
    ~TerminalSoundRunReport() override { ui_.Unload(); }
    TerminalSoundRunReport(const TerminalSoundRunReport&) = delete;
    TerminalSoundRunReport& operator=(const TerminalSoundRunReport&) = delete;

    bool AskYesNo(std::string_view question) override { return ui_.AskYesNo(question, kWindowTitle); }
    void Started() override { ui_.ShowWindow(kWindowTitle); }
    void StatusChanged(std::string_view text) override { ui_.SetStatusText(text); }
    void Progress(std::uint64_t done, std::uint64_t total) override
    {
        if (!UpdateProgress(ui_, bar_, static_cast<std::int64_t>(done), static_cast<std::int64_t>(total)) ||
            !ui_.ProcessPendingMessages()) {
            throw Cancelled();
        }
    }
    void SoundFailed(std::string_view line) override { ui_.ReportMessage(line); }
    void ReportError(const Failure& failure) override { ui_.ReportError(failure); }
    void ReportWarning(std::string_view text) override { ui_.ReportWarning(text); }

protected:
    TerminalUi ui_;
    BarHandle bar_;
};

}  // namespace quorvel
