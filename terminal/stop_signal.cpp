#include <atomic>

#include "terminal/console.hpp"

namespace quorvel {
namespace {

// Set from signal handlers: a lock-free atomic is all they may touch.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

const std::atomic<int>& StopSignal()
{
    return g_stop_signal;
}

void RequestStop(int signal_number)
{
    g_stop_signal.store(signal_number, std::memory_order_relaxed);
}

}  // namespace quorvel
