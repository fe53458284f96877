#include "terminal/find_command.hpp"

#include <cstdio>

#include "app/form1.hpp"
#include "app/listing_records.hpp"
#include "terminal/messages.hpp"
#include "terminal/sound_run_report.hpp"

namespace quorvel {
namespace {

// The search on a terminal: the bar goes once the index is up to date.
class TerminalFindReport final : public TerminalSoundRunReport<FindReport> {
public:
    using TerminalSoundRunReport::TerminalSoundRunReport;
    void Indexed(std::size_t /*sounds*/, std::size_t /*fingerprinted*/) override { ui_.Unload(); }
    void IndexNotKept(const Failure& failure) override
    {
        ui_.ReportMessage(failure.OneLine() +
                          " (the index of the sounds was not kept: the next search indexes them again)");
    }
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
