#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "pack/pack.hpp"
#include "studio/http_types.hpp"

namespace quorvel::studio {

// The one run (extract, swap, undo, pack) the studio does at a time, on a
// thread of its own: its progress, kept for GET /api/run, its stop, and
// its outcome, told by what ended it.
//
// Beside the runs the user asks for, one background run (indexing the
// sounds for the search by ear) that gives way: a run asked for stops it
// at its next report and starts at once, and when that run has ended the
// background run is started again, to go on from where it stopped (its
// work keeps what it has done). It ends for good when it completes or fails.
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
    // (503); `reply` gets the answer either way. A background run under
    // way gives way to it first.
    void Start(std::string name, Work work, Reply reply);
    // Sets `work` going in the background, now or when the run under way
    // has ended; its answer goes nowhere, its progress to Background().
    void StartInBackground(std::string name, Work work);
    // The run the user asked for (running: one is under way).
    State Current() const;
    // The background run: running while it works; with no outcome while it
    // waits for a run to end, "done" or "failed" once it has ended for good.
    State Background() const;
    bool Running() const;
    // The run under way (if any) stops at its next report; no run starts after.
    void StopAll();
    // A run was under way when StopAll was asked.
    bool StoppedARun() const { return stopped_a_run_; }
    // No run under way, and no answer of one still being handed over.
    bool Idle() const;

private:
    class Listener;
    struct Asked {
        Work work;
        Reply reply;
    };

    // The worker's thread: the run asked for, if any, then the background
    // run, until it ends or gives way.
    void Serve(std::optional<Asked> asked);
    void RunAsked(Asked asked);
    void RunBackground();
    // Waits for the worker's thread to end: not under mutex_, which it takes.
    void JoinWorker(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    State state_;
    State background_;
    Work background_work_;  // until the background run has ended for good
    std::thread worker_;
    std::atomic<bool> give_way_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> stopped_a_run_{false};
    std::atomic<int> answers_pending_{0};
};

}  // namespace quorvel::studio
