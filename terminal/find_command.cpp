#include "terminal/find_command.hpp"

#include <cstdio>

#include "app/form1.hpp"
#include "app/listing_records.hpp"
#include "progress/progress_bar.hpp"
#include "terminal/messages.hpp"
#include "terminal/terminal_ui.hpp"

namespace quorvel {
namespace {

// The search on a terminal, through the terminal's user interface (which
// also turns Ctrl-C into a stop at the next report).
class TerminalFindReport final : public FindReport {
public:
    TerminalFindReport(const FindCommand& command, const std::atomic<int>& stop_signal, std::istream& input,
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
    ~TerminalFindReport() override { ui_.Unload(); }
    TerminalFindReport(const TerminalFindReport&) = delete;
    TerminalFindReport& operator=(const TerminalFindReport&) = delete;

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
    void Indexed(std::size_t /*sounds*/, std::size_t /*fingerprinted*/) override { ui_.Unload(); }
    void ReportError(const Failure& failure) override { ui_.ReportError(failure); }
    void ReportWarning(std::string_view text) override { ui_.ReportWarning(text); }

private:
    TerminalUi ui_;
    BarHandle bar_;
};

}  // namespace

std::string FoundLine(const FoundSound& sound, bool json)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", sound.seconds);
    if (json) {
        return "{\"path\": " + JsonString(sound.path) + ", \"offset\": " + seconds +
               ", \"score\": " + std::to_string(sound.score) + "}\n";
    }
    return sound.path + "\t" + seconds + "\t" + std::to_string(sound.score) + "\n";
}

int RunFindCommand(const FindCommand& command, FileSystem& files, const std::atomic<int>& stop_signal,
                   std::istream& input, std::FILE* messages, StandardOutput& output)
{
    std::vector<FoundSound> found;
    RunEnd end = RunEnd::kCompleted;
    {
        TerminalFindReport report(command, stop_signal, input, messages);
        end = FindRun(files, command.request, report, found);
    }
    switch (end) {
        case RunEnd::kFailed:
            return 1;
        case RunEnd::kCancelled:
            return 128 + stop_signal.load();
        case RunEnd::kCompleted:
        case RunEnd::kTruncated:
            break;
    }
    try {
        for (const FoundSound& sound : found) {
            output.Write(FoundLine(sound, command.json));
        }
        output.Flush();
    } catch (const ExtractError& error) {
        PrintError(messages, error.failure());
        return 1;
    } catch (const Cancelled&) {
        return 128 + stop_signal.load();
    }
    if (found.empty()) {
        return 1;
    }
    return end == RunEnd::kTruncated ? 3 : 0;
}

}  // namespace quorvel
