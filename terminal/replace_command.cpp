#include "terminal/replace_command.hpp"

#include <iostream>

#include "app/form1.hpp"
#include "progress/progress_bar.hpp"
#include "terminal/messages.hpp"
#include "terminal/terminal_ui.hpp"

namespace quorvel {
namespace {

// The replacements on a terminal, through the terminal's user interface
// (which also turns Ctrl-C into a stop at the next report).
class TerminalReplaceReport final : public ReplaceReport {
public:
    TerminalReplaceReport(const ReplaceCommand& command, const std::atomic<int>& stop_signal, std::FILE* messages)
        : command_(command),
          messages_(messages),
          ui_(std::cin, messages,
              TerminalUi::Options{.answer = true, .draw_bar = command.draw_bar, .quiet = command.quiet}, stop_signal),
          // A terminal places its bar itself: the window's coordinates are unused.
          bar_(CreateProgressBar(ui_, 0, 0, 0, 0))
    {
    }
    ~TerminalReplaceReport() override { ui_.Unload(); }
    TerminalReplaceReport(const TerminalReplaceReport&) = delete;
    TerminalReplaceReport& operator=(const TerminalReplaceReport&) = delete;

    void StatusChanged(std::string_view text) override { ui_.SetStatusText(text); }
    void Progress(std::uint64_t done, std::uint64_t total) override
    {
        if (!UpdateProgress(ui_, bar_, static_cast<std::int64_t>(done), static_cast<std::int64_t>(total))) {
            throw Cancelled();
        }
    }
    void Fitted(const ListedFile& /*sound*/, const audio::ReplacementReport& report) override
    {
        if (!command_.quiet) {
            Say(report.Text());
        }
    }
    void Replaced(const ListedFile& sound, const std::string& path) override
    {
        if (!command_.quiet) {
            Say(sound.path + ": replaced, in " + path + "\n");
        }
    }
    void NotReplaced(const ReplacementAsked& asked, const Failure& failure) override
    {
        ui_.Unload();
        const bool names_the_sound = asked.sound.empty() || failure.file == asked.sound;
        PrintMessage(messages_,
                     failure.OneLine() + (names_the_sound ? "" : " (" + asked.sound + " was left as it was)"));
    }

private:
    void Say(const std::string& text)
    {
        ui_.Unload();
        std::fwrite(text.data(), 1, text.size(), messages_);
        std::fflush(messages_);
    }

    const ReplaceCommand& command_;
    std::FILE* messages_;
    TerminalUi ui_;
    BarHandle bar_;
};

}  // namespace

RunEnd RunReplaceCommand(const ReplaceCommand& command, GameFolder& game, const std::atomic<int>& stop_signal,
                         std::FILE* messages)
{
    TerminalReplaceReport report(command, stop_signal, messages);
    const RunEnd end = ReplaceRun(game, command.request, report);
    if (end == RunEnd::kCompleted && command.request.dry_run && !command.quiet) {
        const std::string line = "nothing was changed (a dry run)\n";
        std::fwrite(line.data(), 1, line.size(), messages);
    }
    return end;
}

}  // namespace quorvel
