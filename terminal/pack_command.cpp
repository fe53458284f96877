#include "terminal/pack_command.hpp"

#include <algorithm>
#include <iostream>
#include <vector>

#include "app/form1.hpp"
#include "app/pack_run.hpp"
#include "app/pack_words.hpp"
#include "progress/progress_bar.hpp"
#include "terminal/messages.hpp"
#include "terminal/terminal_ui.hpp"

namespace quorvel {
namespace {

// The pack on a terminal: status lines and the bar through the terminal's
// user interface (which also turns Ctrl-C into a stop at the next report),
// what became of each archive on stderr, a dry run's report on stdout.
class TerminalPackReport final : public PackRunReport {
public:
    TerminalPackReport(const PackCommand& command, const std::atomic<int>& stop_signal, std::FILE* messages,
                       StandardOutput& report)
        : command_(command),
          messages_(messages),
          report_(report),
          ui_(std::cin, messages,
              TerminalUi::Options{.answer = true, .draw_bar = command.draw_bar, .quiet = command.quiet}, stop_signal),
          // A terminal places its bar itself: the window's coordinates are unused.
          bar_(CreateProgressBar(ui_, 0, 0, 0, 0))
    {
    }
    ~TerminalPackReport() override { ui_.Unload(); }
    TerminalPackReport(const TerminalPackReport&) = delete;
    TerminalPackReport& operator=(const TerminalPackReport&) = delete;

    void StatusChanged(std::string_view text) override { ui_.SetStatusText(text); }
    void Progress(std::uint64_t done, std::uint64_t total) override
    {
        if (!UpdateProgress(ui_, bar_, static_cast<std::int64_t>(done), static_cast<std::int64_t>(total))) {
            throw Cancelled();
        }
    }

    void NothingToPack(const ArchiveLocation& sound_effects, const ArchiveLocation& speech) override
    {
        PrintMessage(messages_, NothingToPackLine(sound_effects, speech));
    }
    void Started() override { ui_.ShowWindow(kWindowTitle); }
    void Packed(const ArchiveLocation& archive, const PackResult& result) override;
    void NotPacked(const ArchiveLocation& archive, const Failure& failure) override
    {
        ui_.Unload();
        if (failure.kind != FailureKind::kRefused) {
            PrintError(messages_, failure);
        }
        PrintMessage(messages_, NotPackedLine(archive, failure, Mode()));
    }
    void Stopped(const ArchiveLocation& archive) override
    {
        ui_.Unload();
        PrintMessage(messages_, archive.archive_path + (command_.dry_run ? ": " : " was left as it was: ") + "stopped");
    }

private:
    PackMode Mode() const { return command_.dry_run ? PackMode::kDryRun : PackMode::kReplace; }

    const PackCommand& command_;
    std::FILE* messages_;
    StandardOutput& report_;
    TerminalUi ui_;
    BarHandle bar_;
};

void TerminalPackReport::Packed(const ArchiveLocation& archive, const PackResult& result)
{
    for (const std::string& warning : PackWarnings(archive, result, Mode())) {
        ui_.ReportWarning(warning);
    }
    if (command_.dry_run) {
        for (const std::string& line : DryRunLines(archive, result)) {
            report_.Write(line + "\n");
        }
        report_.Flush();
        return;
    }
    if (command_.quiet) {
        return;
    }
    ui_.Unload();
    const std::string line = PackedLine(archive, result) + "\n";
    std::fwrite(line.data(), 1, line.size(), messages_);
}

}  // namespace

int RunPackCommand(const PackCommand& command, FileSystem& files, PackFileSystem& pack_files,
                   const std::atomic<int>& stop_signal, std::FILE* messages, StandardOutput& report)
{
    TerminalPackReport terminal(command, stop_signal, messages, report);
    const PackMode mode = command.dry_run ? PackMode::kDryRun : PackMode::kReplace;
    try {
        switch (PackRun(files, pack_files, command.places, mode, terminal)) {
            case RunEnd::kCompleted:
            case RunEnd::kTruncated:
                return 0;
            case RunEnd::kFailed:
                return 1;
            case RunEnd::kCancelled:
                break;
        }
    } catch (const ExtractError& error) {  // the report could not be written
        PrintError(messages, error.failure());
        return 1;
    } catch (const Cancelled&) {  // nobody reads the report any more
    }
    return 128 + stop_signal.load();
}

}  // namespace quorvel
