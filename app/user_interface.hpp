#pragma once

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
};

}  // namespace quorvel
