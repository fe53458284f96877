#include "terminal/pack_command.hpp"

#include <algorithm>
#include <iostream>
#include <vector>

#include "pack/pack.hpp"
#include "progress/progress_bar.hpp"
#include "terminal/terminal_ui.hpp"

namespace quorvel {
namespace {

constexpr const char* kArchiveNames[] = {"sfx", "speech"};
constexpr std::size_t kIgnoredNamed = 10;

// Status lines and the bar through the terminal's user interface, which
// also turns Ctrl-C into a stop at the next report.
class TerminalPackListener final : public PackListener {
public:
    // A terminal places its bar itself: the window's coordinates are unused.
    explicit TerminalPackListener(TerminalUi& ui) : ui_(ui), bar_(CreateProgressBar(ui, 0, 0, 0, 0)) {}

    void StatusChanged(std::string_view text) override { ui_.SetStatusText(text); }
    void Progress(std::uint64_t done, std::uint64_t total) override
    {
        if (!UpdateProgress(ui_, bar_, static_cast<std::int64_t>(done), static_cast<std::int64_t>(total))) {
            throw Cancelled();
        }
    }

private:
    TerminalUi& ui_;
    BarHandle bar_;
};

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

class PackRun {
public:
    PackRun(const PackCommand& command, FileSystem& files, PackFileSystem& pack_files,
            const std::atomic<int>& stop_signal, std::FILE* messages, std::FILE* report)
        : command_(command),
          files_(files),
          pack_files_(pack_files),
          stop_signal_(stop_signal),
          messages_(messages),
          report_(report),
          ui_(std::cin, messages,
              TerminalUi::Options{.answer = true, .draw_bar = command.draw_bar, .quiet = command.quiet}, stop_signal),
          listener_(ui_)
    {
    }

    int Run()
    {
        std::vector<ArchiveLocation> archives;
        for (const char* name : kArchiveNames) {
            auto location = ArchiveLocation::OfRun(files_, name, command_.game_folder, command_.output_folder);
            if (pack_files_.LookAt(location.archive_path) != PackFileSystem::Found::kNothing &&
                pack_files_.IsFolder(location.output_folder)) {
                archives.push_back(std::move(location));
            }
        }
        if (archives.empty()) {
            Say("nothing to pack: neither sfx.pak nor speech.pak has its folder of extracted files (" +
                ArchiveLocation::OfRun(files_, "sfx", command_.game_folder, command_.output_folder).output_folder +
                " or " +
                ArchiveLocation::OfRun(files_, "speech", command_.game_folder, command_.output_folder).output_folder +
                ")");
            return 1;
        }
        ui_.ShowWindow("Quorvel Extractor");
        int status = 0;
        for (const ArchiveLocation& archive : archives) {
            try {
                Report(archive, PackArchive(archive, files_, pack_files_, listener_,
                                            command_.dry_run ? PackMode::kDryRun : PackMode::kReplace));
            } catch (const PackRefused& refusal) {
                ui_.Unload();
                Say(LeftAsItWas(archive) + refusal.file() + ": " + refusal.reason());
                status = 1;
            } catch (const ExtractError& error) {
                ui_.ReportError(error.failure());
                Say(LeftAsItWas(archive) + "it could not be packed");
                status = 1;
            } catch (const Cancelled&) {
                ui_.Unload();
                Say(LeftAsItWas(archive) + "stopped");
                return 128 + stop_signal_.load();
            }
        }
        ui_.Unload();
        return status;
    }

private:
    std::string LeftAsItWas(const ArchiveLocation& archive) const
    {
        return archive.archive_path + (command_.dry_run ? ": " : " was left as it was: ");
    }

    void Say(const std::string& line) { std::fprintf(messages_, "quorvel-extractor: %s\n", line.c_str()); }

    void Report(const ArchiveLocation& archive, const PackResult& result)
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
        std::fprintf(messages_, "%s: packed, %llu bytes (was %llu); %s\n", archive.archive_path.c_str(),
                     static_cast<unsigned long long>(result.new_size), static_cast<unsigned long long>(result.old_size),
                     (result.backup_made ? "the old archive is kept as " + result.backup_path
                                         : result.backup_path + " from before was kept as it is")
                         .c_str());
    }

    void ReportChanges(const ArchiveLocation& archive, const PackResult& result)
    {
        for (const BlockChange& change : result.changes) {
            const std::string files = change.final_field     ? "(the final field)"
                                      : change.files.empty() ? "(no files)"
                                                             : JoinNames(change.files, SIZE_MAX);
            std::fprintf(report_, "%s: block at offset %llu: %llu -> %llu bytes: %s\n", archive.archive_path.c_str(),
                         static_cast<unsigned long long>(change.offset),
                         static_cast<unsigned long long>(change.old_size),
                         static_cast<unsigned long long>(change.new_size), files.c_str());
        }
        const auto blocks_changed = std::count_if(result.changes.begin(), result.changes.end(),
                                                  [](const BlockChange& change) { return !change.final_field; });
        std::fprintf(report_, "%s: %lld of %llu blocks would change, %llu -> %llu bytes; nothing was written\n",
                     archive.archive_path.c_str(), static_cast<long long>(blocks_changed),
                     static_cast<unsigned long long>(result.blocks), static_cast<unsigned long long>(result.old_size),
                     static_cast<unsigned long long>(result.new_size));
    }

    const PackCommand& command_;
    FileSystem& files_;
    PackFileSystem& pack_files_;
    const std::atomic<int>& stop_signal_;
    std::FILE* messages_;
    std::FILE* report_;
    TerminalUi ui_;
    TerminalPackListener listener_;
};

}  // namespace

int RunPackCommand(const PackCommand& command, FileSystem& files, PackFileSystem& pack_files,
                   const std::atomic<int>& stop_signal, std::FILE* messages, std::FILE* report)
{
    return PackRun(command, files, pack_files, stop_signal, messages, report).Run();
}

}  // namespace quorvel
