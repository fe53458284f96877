#include "terminal/pack_command.hpp"

#include <algorithm>
#include <iostream>
#include <vector>

#include "app/form1.hpp"
#include "app/pack_run.hpp"
#include "progress/progress_bar.hpp"
#include "terminal/messages.hpp"
#include "terminal/terminal_ui.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kIgnoredNamed = 10;

std::string JoinNames(const std::vector<std::string>& names, std::size_t shown)
{
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i) {
        text += (i == 0 ? "" : ", ") + names[i];
    }
    if (names.size() > shown) {
        text += ", ...";
    }
    return text;
}

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
        PrintMessage(messages_, "nothing to pack: neither sfx.pak nor speech.pak has its folder of extracted files (" +
                                    sound_effects.output_folder + " or " + speech.output_folder + ")");
    }
    void Started() override { ui_.ShowWindow(kWindowTitle); }
    void Packed(const ArchiveLocation& archive, const PackResult& result) override;
    void NotPacked(const ArchiveLocation& archive, const Failure& failure) override
    {
        ui_.Unload();
        if (failure.kind == FailureKind::kRefused) {
            PrintMessage(messages_, LeftAsItWas(archive) + failure.file + ": " + failure.description);
            return;
        }
        PrintError(messages_, failure);
        PrintMessage(messages_, LeftAsItWas(archive) + "it could not be packed");
    }
    void Stopped(const ArchiveLocation& archive) override
    {
        ui_.Unload();
        PrintMessage(messages_, LeftAsItWas(archive) + "stopped");
    }

private:
    std::string LeftAsItWas(const ArchiveLocation& archive) const
    {
        return archive.archive_path + (command_.dry_run ? ": " : " was left as it was: ");
    }
    void ReportChanges(const ArchiveLocation& archive, const PackResult& result);

    const PackCommand& command_;
    std::FILE* messages_;
    StandardOutput& report_;
    TerminalUi ui_;
    BarHandle bar_;
};

void TerminalPackReport::Packed(const ArchiveLocation& archive, const PackResult& result)
{
    if (!result.ignored.empty()) {
        const bool one = result.ignored.size() == 1;
        ui_.ReportWarning(std::to_string(result.ignored.size()) + (one ? " file" : " files") +
                          " that extraction does not make " +
                          (command_.dry_run ? "would be"
                           : one            ? "was"
                                            : "were") +
                          " left out: " + JoinNames(result.ignored, kIgnoredNamed));
    }
    if (result.repaired) {
        ui_.ReportWarning(archive.archive_path + " was truncated (the block at offset " +
                          std::to_string(result.repaired->block_offset) + " lacked " +
                          std::to_string(result.repaired->missing_bytes) +
                          " bytes): " + (command_.dry_run ? "packing would repair it" : "it is repaired") +
                          ", that block as long as its files and a zero final field added");
    }
    if (command_.dry_run) {
        ReportChanges(archive, result);
        return;
    }
    if (command_.quiet) {
        return;
    }
    ui_.Unload();
    const std::string line = archive.archive_path + ": packed, " + std::to_string(result.new_size) + " bytes (was " +
                             std::to_string(result.old_size) + "); " +
                             (result.backup_made ? "the old archive is kept as " + result.backup_path
                                                 : result.backup_path + " from before was kept as it is") +
                             "\n";
    std::fwrite(line.data(), 1, line.size(), messages_);
}

void TerminalPackReport::ReportChanges(const ArchiveLocation& archive, const PackResult& result)
{
    for (const BlockChange& change : result.changes) {
        const std::string files = change.final_field     ? "(the final field)"
                                  : change.files.empty() ? "(no files)"
                                                         : JoinNames(change.files, SIZE_MAX);
        report_.Write(archive.archive_path + ": block at offset " + std::to_string(change.offset) + ": " +
                      std::to_string(change.old_size) + " -> " + std::to_string(change.new_size) + " bytes: " + files +
                      "\n");
    }
    const auto blocks_changed = std::count_if(result.changes.begin(), result.changes.end(),
                                              [](const BlockChange& change) { return !change.final_field; });
    report_.Write(archive.archive_path + ": " + std::to_string(blocks_changed) + " of " +
                  std::to_string(result.blocks) + " blocks would change, " + std::to_string(result.old_size) + " -> " +
                  std::to_string(result.new_size) + " bytes; nothing was written\n");
    report_.Flush();
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
