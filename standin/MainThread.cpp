#include "standin/MainThread.h"

#include <algorithm>
#include <stdexcept>

namespace standin {

namespace {
std::runtime_error Stopped() { return std::runtime_error("the main thread has stopped: the call was not made"); }
}  // namespace

void MainThread::Run(const std::function<void()>& call)
{
    Pending pending;
    pending.call = &call;
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (stopped)
            throw Stopped();
        waiting.push_back(&pending);
        changed.notify_all();
        changed.wait(lock, [&pending] { return pending.done; });
    }
    if (pending.error)
        std::rethrow_exception(pending.error);
}

size_t MainThread::Tick()
{
    std::vector<Pending*> frame;
    {
        std::lock_guard<std::mutex> guard(mutex);
        frame.swap(waiting);
        ++totals.frames;
    }
    auto start = std::chrono::steady_clock::now();
    for (Pending* pending : frame) {
        try {
            (*pending->call)();
        } catch (...) {
            pending->error = std::current_exception();
        }
    }
    auto spent = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    {
        std::lock_guard<std::mutex> guard(mutex);
        for (Pending* pending : frame)
            pending->done = true;
        totals.callsServed += frame.size();
        if (!frame.empty())
            totals.longestFrameWork = std::max(totals.longestFrameWork, spent);
    }
    changed.notify_all();
    return frame.size();
}

bool MainThread::AwaitCalls(size_t count)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this, count] { return stopped || waiting.size() >= count; });
    return !stopped;
}

void MainThread::Stop()
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        stopped = true;
        // No frame will serve the calls still waiting.
        for (Pending* pending : waiting) {
            pending->error = std::make_exception_ptr(Stopped());
            pending->done = true;
        }
        waiting.clear();
    }
    changed.notify_all();
}

MainThread::Statistics MainThread::Totals() const
{
    std::lock_guard<std::mutex> guard(mutex);
    return totals;
}

void MainThread::ResetTotals()
{
    std::lock_guard<std::mutex> guard(mutex);
    totals = Statistics{};
}

}  // namespace standin
