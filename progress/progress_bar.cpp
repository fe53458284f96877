#include "progress/progress_bar.hpp"

#include <algorithm>
#include <limits>

#include "progress/progress_arithmetic.hpp"

namespace quorvel {

BarHandle CreateProgressBar(ProgressBarSystem& system, int x, int y, int width, int height)
{
    return system.CreateProgressBar(x, y, width, height);
}

bool UpdateProgress(ProgressBarSystem& system, BarHandle bar, std::int64_t done, std::int64_t total)
{
    if (bar == 0 || total == 0) {
        return true;
    }
    const ProgressReading reading = ReadProgress(done, total);
    // The counts cannot make the position leave the int range; the clamp keeps
    // an archive that grew during the run from becoming a failure.
    constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();
    const auto position = static_cast<int>(std::clamp<std::int64_t>(reading.position, -kIntMax, kIntMax));
    system.SetBarPosition(bar, position);
    system.SetBarCounts(bar, done, total);
    system.SetBarText(bar, reading.text);
    return system.ProcessPendingMessages();
}

}  // namespace quorvel
