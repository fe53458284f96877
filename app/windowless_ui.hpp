#pragma once

#include <optional>

#include "app/user_interface.hpp"
#include "pack/pack.hpp"

namespace quorvel {

// The run sequence's window, for a run that has none (the studio's, a
// swap's): the question answered beforehand, the status and the bar's
// counts passed on to a RunListener, whose Progress stops the run by
// throwing Cancelled. The failure the window would have shown is kept.
class WindowlessUi final : public UserInterface {
public:
    WindowlessUi(bool with_speech, RunListener& listener) : with_speech_(with_speech), listener_(listener) {}

    bool AskYesNo(std::string_view /*question*/, std::string_view /*caption*/) override { return with_speech_; }
    void ShowWindow(std::string_view /*title*/) override {}
    void SetStatusText(std::string_view text) override { listener_.StatusChanged(text); }
    void Unload() override {}
    void ReportError(const Failure& failure) override { failure_ = failure; }
    void ReportWarning(std::string_view /*text*/) override {}
    BarHandle CreateProgressBar(int /*x*/, int /*y*/, int /*width*/, int /*height*/) override { return 1; }
    void SetBarPosition(BarHandle /*bar*/, int /*position*/) override {}
    void SetBarCounts(BarHandle /*bar*/, std::int64_t done, std::int64_t total) override
    {
        listener_.Progress(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total));
    }
    void SetBarText(BarHandle /*bar*/, std::string_view /*text*/) override {}
    bool ProcessPendingMessages() override { return true; }

    const std::optional<Failure>& failure() const { return failure_; }

private:
    bool with_speech_;
    RunListener& listener_;
    std::optional<Failure> failure_;
};

}  // namespace quorvel
