#include "studio/run_slot.hpp"

#include "studio/answers.hpp"

namespace quorvel::studio {

// The run's reports, kept for GET /api/run, and its stop.
class RunSlot::Listener final : public RunListener {
public:
    explicit Listener(RunSlot& slot) : slot_(slot) {}

    void StatusChanged(std::string_view text) override
    {
        const std::lock_guard lock(slot_.mutex_);
        slot_.state_.status = std::string(text);
    }
    void Progress(std::uint64_t done, std::uint64_t total) override
    {
        {
            const std::lock_guard lock(slot_.mutex_);
            slot_.state_.done = done;
            slot_.state_.total = total;
        }
        if (slot_.stop_) {
            throw Cancelled();
        }
    }

private:
    RunSlot& slot_;
};

RunSlot::~RunSlot()
{
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

void RunSlot::Start(std::string name, Work work, Reply reply)
{
    const std::lock_guard lock(mutex_);
    if (state_.running) {
        reply(Refusal(409, "another run is under way: " + state_.name));
        return;
    }
    if (stop_) {
        reply(Refusal(503, "the studio is ending"));
        return;
    }
    if (worker_.joinable()) {
        worker_.join();  // the last run, ended: its thread has nothing left to do
    }
    state_ = State{};
    state_.name = std::move(name);
    state_.running = true;
    worker_ = std::thread([this, work = std::move(work), reply = std::move(reply)] {
        Listener listener(*this);
        Response response;
        std::string outcome = "done";
        std::string message;
        try {
            response = work(listener);
        } catch (const Cancelled&) {
            response = Refusal(503, "the run was stopped");
            outcome = "stopped";
            message = "stopped";
        } catch (const ExtractError& error) {
            response = FailureAnswer(error.failure());
            message = error.failure().OneLine();
        } catch (const std::exception& error) {
            response = Refusal(500, error.what());
            message = error.what();
        }
        if (outcome == "done" && response.status >= 400) {
            outcome = response.status == 422 ? "refused" : "failed";
            if (message.empty()) {
                message = nlohmann::json::parse(response.body, nullptr, false).value("error", "");
            }
        }
        {
            // Ended before it answers, so that whoever reads the answer may
            // start the next run at once; the studio waits for the answer
            // to be handed over before it ends.
            const std::lock_guard run_lock(mutex_);
            state_.outcome = outcome;
            state_.message = message;
            state_.running = false;
            ++answers_pending_;
        }
        reply(std::move(response));
        --answers_pending_;
    });
}

RunSlot::State RunSlot::Current() const
{
    const std::lock_guard lock(mutex_);
    return state_;
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
