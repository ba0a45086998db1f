// Ctrl-C, SIGTERM and SIGHUP, taken by a thread of its own with sigwait: no code runs in a
// signal handler, so whatever an interrupt leads to may lock, allocate and print.
#pragma once

#include "flashmate/reporting.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Posted to the routed window when an interrupt arrives.
inline constexpr uint32_t WM_CLI_INTERRUPT = WM_APP + 200;

class InterruptWatcher {
public:
    // Blocks the signals in the calling thread, and so in every thread started after it: create
    // it before any other thread, or a thread started earlier could take a signal with its
    // default action and end the process in the middle of a burn.
    InterruptWatcher();
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // Interrupts are posted to window as WM_CLI_INTERRUPT while it is routed (nullptr: none);
    // a job's message loop handles them in order with the job's own messages.
    void Route(MainWindow* window);
    // Interrupts since start.
    int Count() const { return count_.load(); }
    // Waits up to timeout for the count to pass seen; true when it has.
    bool WaitBeyond(int seen, std::chrono::milliseconds timeout);

private:
    void Run();

    std::atomic<int> count_{0};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable arrived_;
    MainWindow* window_ = nullptr;
    std::thread thread_;
};
