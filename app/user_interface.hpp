#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "extract/extract_error.hpp"
#include "progress/progress_bar.hpp"

namespace quorvel {

// Everything the run sequence asks of the window system, or of whatever
// stands in for it (a terminal, a test). One thread calls it, in order.
class UserInterface : public ProgressBarSystem {
public:
    // A modal question with the buttons Yes (the default) and No, asked
    // before the main window is visible. Returns true for Yes.
    virtual bool AskYesNo(std::string_view question, std::string_view caption) = 0;
    virtual void ShowWindow(std::string_view title) = 0;
    virtual void SetStatusText(std::string_view text) = 0;
    virtual void Unload() = 0;

    // The general error report, after which the program exits.
    virtual void ReportError(const Failure& failure) = 0;
    // Told once, after the work, when an archive turned out to be truncated.
    virtual void ReportWarning(std::string_view text) = 0;

    // What one archive gave, told when it is done.
    struct ArchiveTally {
        std::string archive;  // "sfx"
        std::uint64_t files = 0;
        std::uint64_t bytes = 0;
        std::uint64_t kept = 0;  // files left as they were (their names were taken)
    };
    virtual void ArchiveFinished(const ArchiveTally& /*tally*/) {}
    // A file was written whole: `path` as the user opens it ("sfx/sfx_0001.wav").
    virtual void FileWritten(std::string_view /*path*/) {}

    // No file of an archive could be made where its folder goes (`failure`
    // says why): the user may choose another folder to hold the folders sfx
    // and speech from this archive on. Nothing means the run fails as it is.
    virtual std::optional<std::string> ChooseOutputFolder(const Failure& /*failure*/) { return std::nullopt; }
};

}  // namespace quorvel
