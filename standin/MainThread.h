#pragma once

// A model of the game's main thread as the script engine uses it. A native
// function that may not run on a script's own thread has its calls handed to
// the main thread, which serves them once a frame; the calling script waits
// until its call has been made. The model keeps no time of its own: whoever
// drives it calls Tick once a frame (a timer in linefold-host, a test or a
// benchmark as fast as calls come), and that caller is the main thread.
//
// What it assumes of the engine: a call waits for the next frame that
// begins after it was handed over; a frame serves every call handed over
// before it began, one after another; a call handed over while a frame is
// being served waits for the next one.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

namespace standin {

class MainThread {
public:
    struct Statistics {
        uint64_t frames = 0;       // ticks so far
        uint64_t callsServed = 0;  // calls made on the main thread
        // The longest time one frame spent making calls.
        std::chrono::nanoseconds longestFrameWork{0};
    };

    MainThread() = default;
    MainThread(const MainThread&) = delete;
    MainThread& operator=(const MainThread&) = delete;

    // On a script's thread: hands call over, and returns once a frame has
    // made it; what the call raised is raised again here. Once Stop was
    // called, raises std::runtime_error instead: no frame will make it.
    void Run(const std::function<void()>& call);

    // One frame, on the calling thread: makes every call handed over before
    // it began. Answers how many.
    size_t Tick();

    // Waits until at least count calls wait for a frame; false once Stop was
    // called. Lets a driver tick exactly when there is something to serve.
    bool AwaitCalls(size_t count = 1);
    // Ends every present and later AwaitCalls, and the frames: the calls
    // waiting for one, and every call handed over later, fail in Run.
    // Calls a frame has begun to make are made.
    void Stop();

    Statistics Totals() const;
    void ResetTotals();

private:
    struct Pending {
        const std::function<void()>* call = nullptr;
        bool done = false;
        std::exception_ptr error;
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<Pending*> waiting;
    bool stopped = false;
    Statistics totals;
};

}  // namespace standin
