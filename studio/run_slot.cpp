#include "studio/run_slot.hpp"

#include "studio/answers.hpp"

namespace quorvel::studio {

// A run's reports, kept for GET /api/run (or for the background run's
// state), and its stop.
class RunSlot::Listener final : public RunListener {
public:
    Listener(RunSlot& slot, State& state, bool gives_way) : slot_(slot), state_(state), gives_way_(gives_way) {}

    void StatusChanged(std::string_view text) override
    {
        const std::lock_guard lock(slot_.mutex_);
        state_.status = std::string(text);
    }
    void Progress(std::uint64_t done, std::uint64_t total) override
    {
        {
            const std::lock_guard lock(slot_.mutex_);
            state_.done = done;
            state_.total = total;
        }
        if (slot_.stop_ || (gives_way_ && slot_.give_way_)) {
            throw Cancelled();
        }
    }

private:
    RunSlot& slot_;
    State& state_;
    bool gives_way_;
};

RunSlot::~RunSlot()
{
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

void RunSlot::JoinWorker(std::unique_lock<std::mutex>& lock)
{
    if (!worker_.joinable()) {
        return;
    }
    std::thread ended = std::move(worker_);
    lock.unlock();
    ended.join();
    lock.lock();
}

void RunSlot::Start(std::string name, Work work, Reply reply)
{
    std::unique_lock lock(mutex_);
    if (state_.running) {
        reply(Refusal(409, "another run is under way: " + state_.name));
        return;
    }
    if (stop_) {
        reply(Refusal(503, "the studio is ending"));
        return;
    }
    // The last run has ended, but for handing over its answer; a
    // background run stops at its next report.
    give_way_ = true;
    JoinWorker(lock);
    give_way_ = false;
    if (state_.running || stop_) {
        reply(Refusal(409, "another run is under way: " + state_.name));
        return;
    }
    state_ = State{};
    state_.name = std::move(name);
    state_.running = true;
    worker_ = std::thread(&RunSlot::Serve, this, std::optional<Asked>(Asked{std::move(work), std::move(reply)}));
}

void RunSlot::StartInBackground(std::string name, Work work)
{
    std::unique_lock lock(mutex_);
    background_ = State{};
    background_.name = std::move(name);
    background_work_ = std::move(work);
    if (state_.running || stop_) {
        return;  // the run under way starts it when it ends
    }
    JoinWorker(lock);
    worker_ = std::thread(&RunSlot::Serve, this, std::optional<Asked>());
}

void RunSlot::Serve(std::optional<Asked> asked)
{
    if (asked) {
        RunAsked(std::move(*asked));
    }
    RunBackground();
}

namespace {

// How a run's work ended: its answer, and for GET /api/run its outcome
// ("done", "stopped", "failed", "refused") and message.
struct Ended {
    Response response;
    std::string outcome = "done";
    std::string message;
};

Ended RunToTheEnd(const RunSlot::Work& work, RunListener& listener)
{
    Ended ended;
    try {
        ended.response = work(listener);
    } catch (const Cancelled&) {
        return {Refusal(503, "the run was stopped"), "stopped", "stopped"};
    } catch (const ExtractError& error) {
        ended.response = FailureAnswer(error.failure());
        ended.message = error.failure().OneLine();
    } catch (const std::exception& error) {
        ended.response = Refusal(500, error.what());
        ended.message = error.what();
    }
    if (ended.response.status >= 400) {
        ended.outcome = ended.response.status == 422 ? "refused" : "failed";
        if (ended.message.empty()) {
            ended.message = nlohmann::json::parse(ended.response.body, nullptr, false).value("error", "");
        }
    }
    return ended;
}

}  // namespace

void RunSlot::RunAsked(Asked asked)
{
    Listener listener(*this, state_, false);
    Ended ended = RunToTheEnd(asked.work, listener);
    {
        // Ended before it answers, so that whoever reads the answer may
        // start the next run at once; the studio waits for the answer
        // to be handed over before it ends.
        const std::lock_guard run_lock(mutex_);
        state_.outcome = ended.outcome;
        state_.message = ended.message;
        state_.running = false;
        ++answers_pending_;
    }
    asked.reply(std::move(ended.response));
    --answers_pending_;
}

void RunSlot::RunBackground()
{
    Work work;
    {
        const std::lock_guard lock(mutex_);
        if (!background_work_ || stop_ || give_way_) {
            return;
        }
        work = background_work_;
        background_.running = true;
    }
    Listener listener(*this, background_, true);
    const Ended ended = RunToTheEnd(work, listener);
    const std::lock_guard lock(mutex_);
    background_.running = false;
    if (ended.outcome == "stopped") {
        background_.outcome.clear();  // it goes on when the run that stopped it has ended
        return;
    }
    background_.outcome = ended.outcome == "done" ? "done" : "failed";
    background_.message = ended.message;
    background_work_ = nullptr;
}

RunSlot::State RunSlot::Current() const
{
    const std::lock_guard lock(mutex_);
    return state_;
}

RunSlot::State RunSlot::Background() const
{
    const std::lock_guard lock(mutex_);
    return background_;
}

bool RunSlot::Running() const
{
    const std::lock_guard lock(mutex_);
    return state_.running;
}

void RunSlot::StopAll()
{
    const std::lock_guard lock(mutex_);
    if (state_.running) {
        stopped_a_run_ = true;
    }
    stop_ = true;
}

bool RunSlot::Idle() const
{
    const std::lock_guard lock(mutex_);
    return !state_.running && answers_pending_ == 0;
}

}  // namespace quorvel::studio
