#include "terminal/export_command.hpp"

#include "app/form1.hpp"
#include "terminal/sound_run_report.hpp"

namespace quorvel {
namespace {

std::string Counted(std::uint64_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// The export on a terminal: each archive's tally once it is exported.
class TerminalExportReport final : public TerminalSoundRunReport<ExportReport> {
public:
    TerminalExportReport(const ExportCommand& command, const std::atomic<int>& stop_signal, std::istream& input,
                         std::FILE* messages)
        : TerminalSoundRunReport(command, stop_signal, input, messages), quiet_(command.quiet), messages_(messages)
    {
    }

    void ArchiveExported(const ExportTally& tally) override
    {
        ui_.Unload();
        if (!quiet_) {
            const std::string line = ExportSummary(tally) + "\n";
            std::fwrite(line.data(), 1, line.size(), messages_);
        }
    }

private:
    bool quiet_;
    std::FILE* messages_;
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
