#include "app/form1.hpp"

#include "progress/progress_bar.hpp"

namespace quorvel {
namespace {

constexpr std::string_view kQuestion = "Also extract speech files?";
constexpr std::string_view kQuestionCaption = "Project1";
constexpr std::string_view kTitle = "Quorvel Extractor";

}  // namespace

RunEnd Form1::FormLoad()
{
    try {
        Run();
    } catch (const ExtractError& error) {
        ui_.ReportError(error.failure());
        return RunEnd::kFailed;
    } catch (const Cancelled&) {
        ui_.Unload();
        return RunEnd::kCancelled;
    }
    if (truncations_.empty()) {
        return RunEnd::kCompleted;
    }
    for (const Truncation& truncation : truncations_) {
        ui_.ReportWarning(truncation.Describe());
    }
    return RunEnd::kTruncated;
}

void Form1::Run()
{
    const bool with_speech = ui_.AskYesNo(kQuestion, kQuestionCaption);
    std::vector<std::string> archives = {"sfx"};
    if (with_speech) {
        archives.emplace_back("speech");
    }
    progress_bar_ = CreateProgressBar(ui_, 8, 24, 297, 17);
    ui_.ShowWindow(kTitle);
    // Every size is summed first, so one bar runs over all archives and a
    // missing archive stops the run before anything is written.
    for (const std::string& name : archives) {
        AddArchiveSize(name);
    }
    for (const std::string& name : archives) {
        if (auto truncation = ExtractArchive(name, files_, *this)) {
            truncations_.push_back(std::move(*truncation));
        }
    }
    ui_.Unload();
}

void Form1::AddArchiveSize(const std::string& name)
{
    files_.OpenArchive(ArchivePath(name));
    bytes_total_ += static_cast<std::int64_t>(files_.OpenArchive(ArchivePath(name))->Size());
}

void Form1::StatusChanged(std::string_view text)
{
    ui_.SetStatusText(text);
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
