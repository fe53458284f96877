#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

// Handle of a progress bar; 0 means "no bar" (the window system refused it).
using BarHandle = std::intptr_t;

// What a window system offers for a progress bar. The main window's user
// interface provides it.
class ProgressBarSystem {
public:
    virtual ~ProgressBarSystem() = default;
    // The bar is placed in the main window's client area, in pixels.
    virtual BarHandle CreateProgressBar(int x, int y, int width, int height) = 0;
    virtual void SetBarPosition(BarHandle bar, int position) = 0;
    // The byte counts behind the next text, for a bar with room to show a
    // rate or the time left; a window's bar has none.
    virtual void SetBarCounts(BarHandle /*bar*/, std::int64_t /*done*/, std::int64_t /*total*/) {}
    virtual void SetBarText(BarHandle bar, std::string_view text) = 0;
    // Lets the window system handle what is pending (painting, moving, the
    // close box). Returns false once the user has asked the run to stop.
    virtual bool ProcessPendingMessages() = 0;
};

BarHandle CreateProgressBar(ProgressBarSystem& system, int x, int y, int width, int height);

// Shows `done` of `total` bytes on the bar. Does nothing at all when there is
// no bar or the total is 0. Returns what ProcessPendingMessages said.
bool UpdateProgress(ProgressBarSystem& system, BarHandle bar, std::int64_t done, std::int64_t total);

}  // namespace quorvel
