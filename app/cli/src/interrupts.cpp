#include "interrupts.h"

#include <pthread.h>
#include <signal.h>

namespace {

// Asks the watcher thread to end; blocked like the others, so it reaches no one else.
constexpr int kWakeSignal = SIGUSR1;

sigset_t WatchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // A closed terminal must not end a burn either.
    sigaddset(&set, SIGHUP);
    sigaddset(&set, kWakeSignal);
    return set;
}

}  // namespace

InterruptWatcher::InterruptWatcher()
{
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { Run(); });
}

InterruptWatcher::~InterruptWatcher()
{
    stopping_.store(true);
    pthread_kill(thread_.native_handle(), kWakeSignal);
    thread_.join();
}

void InterruptWatcher::Route(MainWindow* window)
{
    std::lock_guard lock(mutex_);
    window_ = window;
}

bool InterruptWatcher::WaitBeyond(int seen, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return count_.load() > seen; });
}

void InterruptWatcher::Run()
{
    const sigset_t set = WatchedSignals();
    while (!stopping_.load()) {
        int number = 0;
        if (sigwait(&set, &number) != 0 || number == kWakeSignal) {
            continue;
        }
        std::lock_guard lock(mutex_);
        count_.fetch_add(1);
        if (window_ != nullptr) {
            window_->Post(JobMessage{WM_CLI_INTERRUPT, static_cast<uintptr_t>(number), 0, {}});
        }
        arrived_.notify_all();
    }
}
