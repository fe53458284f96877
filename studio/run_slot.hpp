#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "pack/pack.hpp"
#include "studio/http_types.hpp"

namespace quorvel::studio {

// The one run (extract, swap, undo, pack) the studio does at a time, on a
// thread of its own: its progress, kept for GET /api/run, its stop, and
// its outcome, told by what ended it.
class RunSlot {
public:
    struct State {
        std::string name;
        bool running = false;
        std::string status;
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        std::string outcome;  // "done", "stopped", "failed", "refused"
        std::string message;
    };
    // A run's work: its answer, or a throw: Cancelled (stopped),
    // ExtractError (its failure's kind chooses the answer's status), any
    // other exception (500).
    using Work = std::function<Response(RunListener&)>;

    RunSlot() = default;
    ~RunSlot();
    RunSlot(const RunSlot&) = delete;
    RunSlot& operator=(const RunSlot&) = delete;

    // Starts `work` unless a run is under way (409) or the studio is ending
    // (503); `reply` gets the answer either way.
    void Start(std::string name, Work work, Reply reply);
    State Current() const;
    bool Running() const;
    // The run under way (if any) stops at its next report; no run starts after.
    void StopAll();
    // A run was under way when StopAll was asked.
    bool StoppedARun() const { return stopped_a_run_; }
    // No run under way, and no answer of one still being handed over.
    bool Idle() const;

private:
    class Listener;

    mutable std::mutex mutex_;
    State state_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> stopped_a_run_{false};
    std::atomic<int> answers_pending_{0};
};

}  // namespace quorvel::studio
