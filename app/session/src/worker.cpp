#include "session_internal.h"

#include "flashmate/reporting.h"
#include "flashmate/session.h"

#include <memory>
#include <system_error>
#include <thread>

namespace {

// How long the closing wizard waits for a cancelled job: a transfer notices the cancel at its
// next packet, a handshake at its next attempt.
constexpr auto kShutdownJobTimeout = std::chrono::milliseconds(10000);
// A job that has returned to JobIdle only closes the port before its thread ends; a new job
// waits that long for it before it gives up.
constexpr auto kPreviousJobEndTimeout = std::chrono::milliseconds(10000);

// Shared with the job's thread, which may outlive everything else when it is left detached.
struct Completion {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
};

struct Worker {
    // Serialises starting, waiting for and stopping jobs.
    std::mutex control;
    std::thread thread;
    std::shared_ptr<Completion> completion;
};

// Never destroyed: a detached job may still be running while static objects are destroyed.
Worker& TheWorker()
{
    static Worker* worker = new Worker;
    return *worker;
}

bool WaitEnded(Completion& completion, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(completion.mutex);
    return completion.changed.wait_for(lock, timeout, [&] { return completion.ended; });
}

// With the control lock held: waits up to timeout for the last job's thread and forgets it.
bool Settle(Worker& worker, std::chrono::milliseconds timeout)
{
    if (!worker.completion) {
        return true;
    }
    if (!WaitEnded(*worker.completion, timeout)) {
        return false;
    }
    if (worker.thread.joinable()) {
        worker.thread.join();
    }
    worker.completion.reset();
    return true;
}

}  // namespace

bool DestroySession()
{
    Worker& worker = TheWorker();
    std::lock_guard lock(worker.control);
    if (!Settle(worker, std::chrono::milliseconds(0))) {
        return false;
    }
    DeleteSession();
    return true;
}

bool StartJob(JobEntry entry, int32_t initialState)
{
    Worker& worker = TheWorker();
    std::lock_guard lock(worker.control);
    UpgradeSession& session = GetSession();
    if (session.jobState.load() != JobIdle || !Settle(worker, kPreviousJobEndTimeout)) {
        return false;
    }
    int32_t idle = JobIdle;
    if (!session.jobState.compare_exchange_strong(idle, initialState)) {
        return false;
    }
    CancelRequested.store(0);
    auto completion = std::make_shared<Completion>();
    try {
        worker.thread = std::thread([entry = std::move(entry), completion, &session] {
            entry();
            session.jobState.store(JobIdle);
            {
                std::lock_guard ended(completion->mutex);
                completion->ended = true;
            }
            completion->changed.notify_all();
        });
    } catch (const std::system_error&) {
        session.jobState.store(JobIdle);
        return false;
    }
    worker.completion = std::move(completion);
    return true;
}

bool WaitForJobEnd(std::chrono::milliseconds timeout)
{
    Worker& worker = TheWorker();
    std::lock_guard lock(worker.control);
    return Settle(worker, timeout);
}

bool StopRunningJob(std::chrono::milliseconds timeout)
{
    Worker& worker = TheWorker();
    std::lock_guard lock(worker.control);
    if (!worker.completion) {
        return true;
    }
    const UpgradeSession* session = FindSession();
    if (session != nullptr && session->jobState.load() != JobIdle) {
        CancelRequested.store(1);
    }
    if (Settle(worker, timeout)) {
        return true;
    }
    if (worker.thread.joinable()) {
        worker.thread.detach();
    }
    return false;
}

bool ShutdownSession()
{
    return ShutdownSession(kShutdownJobTimeout);
}

bool ShutdownSession(std::chrono::milliseconds jobTimeout)
{
    const bool ended = StopRunningJob(jobTimeout);
    SaveSettings();
    if (ended) {
        DestroySession();
    }
    return ended;
}
