#include "app/form1.hpp"

#include "progress/progress_bar.hpp"

namespace quorvel {
namespace {

constexpr std::string_view kQuestion = "Also extract speech files?";
// The question box always carries this fixed caption, not the window's title.
constexpr std::string_view kQuestionCaption = "Project1";

}  // namespace

RunEnd Form1::FormLoad()
{
    RunEnd end = RunEnd::kCompleted;
    try {
        Run();
    } catch (const ExtractError& error) {
        ui_.ReportError(error.failure());
        end = RunEnd::kFailed;
    } catch (const Cancelled&) {
        ui_.Unload();
        end = RunEnd::kCancelled;
    }
    // However the run ended, an archive found short is told, after the
    // error if there was one: nothing else would say that it lacked bytes.
    for (const Truncation& truncation : truncations_) {
        ui_.ReportWarning(truncation.Describe());
    }
    if (end == RunEnd::kCompleted && !truncations_.empty()) {
        return RunEnd::kTruncated;
    }
    return end;
}

void Form1::Run()
{
    const bool with_speech = ui_.AskYesNo(kQuestion, kQuestionCaption);
    std::vector<std::string> archives;
    for (const ArchiveLocation& archive : ArchivesOfRun(files_, places_, with_speech)) {
        archives.push_back(archive.name);
    }
    progress_bar_ = CreateProgressBar(ui_, 8, 24, 297, 17);
    ui_.ShowWindow(kWindowTitle);
    // Every size is summed first, so one bar runs over all archives and a
    // missing archive stops the run before anything is written.
    for (const std::string& name : archives) {
        AddArchiveSize(name);
    }
    for (const std::string& name : archives) {
        ExtractWherePossible(name);
        ui_.ArchiveFinished(tally_);
    }
    ui_.Unload();
}

// Extracts one archive; when not even its first file can be made where its
// folder goes, the user may name another place, and the archive starts again
// there, as do the ones after it.
void Form1::ExtractWherePossible(const std::string& name)
{
    const std::int64_t bytes_done_before = bytes_done_;
    for (;;) {
        tally_ = {.archive = name, .files = 0, .bytes = 0};
        try {
            const ArchiveLocation location = Locate(name);
            output_folder_ = location.output_folder;
            ExtractArchive(location, files_, *this, options_);
            return;
        } catch (const CannotCreateOutput& error) {
            if (!error.first_of_archive()) {
                throw;
            }
            const auto chosen = ui_.ChooseOutputFolder(error.failure());
            if (!chosen) {
                throw;
            }
            places_.output_folder = *chosen;
            bytes_done_ = bytes_done_before;
        }
    }
}

void Form1::AddArchiveSize(const std::string& name)
{
    const std::string path = Locate(name).archive_path;
    // The existence check first, as the extraction makes it: a missing or
    // unreadable archive fails here, before anything is written.
    files_.OpenArchive(path);
    bytes_total_ += static_cast<std::int64_t>(files_.OpenArchive(path)->Size());
}

ArchiveLocation Form1::Locate(const std::string& name) const
{
    return quorvel::Locate(files_, places_, name);
}

void Form1::StatusChanged(std::string_view text)
{
    ui_.SetStatusText(text);
}

void Form1::TruncationFound(const Truncation& truncation)
{
    truncations_.push_back(truncation);
}

void Form1::EntryFinished(const Entry& entry)
{
    ++tally_.files;
    tally_.bytes += entry.size;
    ui_.FileWritten(files_.Join(output_folder_, entry.file_name));
}

void Form1::EntryKept(const Entry& /*entry*/)
{
    ++tally_.kept;
}

void Form1::Advance(std::uint64_t bytes)
{
    bytes_done_ += static_cast<std::int64_t>(bytes);
}

void Form1::Checkpoint()
{
    const bool keep_going = UpdateProgress(ui_, progress_bar_, bytes_done_, bytes_total_);
    if (!keep_going || !ui_.ProcessPendingMessages()) {
        throw Cancelled();
    }
}

}  // namespace quorvel
