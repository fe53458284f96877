#include "terminal/export_command.hpp"

#include "app/form1.hpp"
#include "progress/progress_bar.hpp"
#include "terminal/terminal_ui.hpp"

namespace quorvel {
namespace {

std::string Counted(std::uint64_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// The export on a terminal, through the terminal's user interface (which
// also turns Ctrl-C into a stop at the next report).
class TerminalExportReport final : public ExportReport {
public:
    TerminalExportReport(const ExportCommand& command, const std::atomic<int>& stop_signal, std::istream& input,
                         std::FILE* messages)
        : quiet_(command.quiet),
          messages_(messages),
          ui_(input, messages,
              TerminalUi::Options{.answer = command.answer,
                                  .draw_bar = command.draw_bar,
                                  .erase_with_escape = command.erase_with_escape,
                                  .quiet = command.quiet},
              stop_signal),
          // A terminal places its bar itself: the window's coordinates are unused.
          bar_(CreateProgressBar(ui_, 0, 0, 0, 0))
    {
    }
    ~TerminalExportReport() override { ui_.Unload(); }
    TerminalExportReport(const TerminalExportReport&) = delete;
    TerminalExportReport& operator=(const TerminalExportReport&) = delete;

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
    void ArchiveExported(const ExportTally& tally) override
    {
        ui_.Unload();
        if (!quiet_) {
            const std::string line = ExportSummary(tally) + "\n";
            std::fwrite(line.data(), 1, line.size(), messages_);
        }
    }
    void ReportError(const Failure& failure) override { ui_.ReportError(failure); }
    void ReportWarning(std::string_view text) override { ui_.ReportWarning(text); }

private:
    bool quiet_;
    std::FILE* messages_;
    TerminalUi ui_;
    BarHandle bar_;
};

}  // namespace

std::string ExportSummary(const ExportTally& tally)
{
    std::string line =
        tally.archive + ": " + Counted(tally.exported, "sound", "sounds") + " exported to " + tally.folder;
    if (tally.failed != 0) {
        line += ", " + std::to_string(tally.failed) + " failed";
    }
    if (tally.left != 0) {
        line += ", " + Counted(tally.left, "file that is not a sound", "files that are not sounds") + " left out";
    }
    return line;
}

RunEnd RunExportCommand(const ExportCommand& command, FileSystem& files, const std::atomic<int>& stop_signal,
                        std::istream& input, std::FILE* messages)
{
    TerminalExportReport report(command, stop_signal, input, messages);
    return ExportRun(files, command.request, report);
}

}  // namespace quorvel
