// Reporting from the worker thread to the application's main window, the library's three
// callbacks, the cancel flag, and the one worker thread.
//
// The main window is whatever the front end puts there: the wizard posts the messages as Qt
// events, the command line and the tests read them from a JobMessageQueue. Every message is
// posted, never sent: the worker never waits for the window.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

inline constexpr uint32_t WM_APP = 0x8000;
// Text messages: the text travels in JobMessage::text; wParam and lParam are 0. Status texts
// are the jobs' step texts; log texts are appended to the log unchanged.
inline constexpr uint32_t WM_JOB_STATUS = WM_APP + 100;
inline constexpr uint32_t WM_JOB_LOG = WM_APP + 101;
// wParam: percentage 0 to 100.
inline constexpr uint32_t WM_JOB_PROGRESS = WM_APP + 102;
// wParam: 1 when the connect job succeeded, 0 when it failed.
inline constexpr uint32_t WM_CONNECT_DONE = WM_APP + 103;
// wParam: 1 when the process job failed, 0 when it succeeded; lParam: 1 when cancelled.
inline constexpr uint32_t WM_JOB_DONE = WM_APP + 104;
// The write job is about to burn.
inline constexpr uint32_t WM_BURN_STARTED = WM_APP + 105;

// A message owns its text, so a text of any length travels whole and nothing is left to
// release by hand, whether the message is handled or thrown away.
struct JobMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    std::string text;
};

class MainWindow {
public:
    virtual ~MainWindow() = default;
    // Called on the worker thread. Must not block and must keep the order of the calls.
    virtual void Post(JobMessage message) = 0;
};

// A main window for the command line and the tests: posted messages wait in order for a
// consumer.
class JobMessageQueue final : public MainWindow {
public:
    void Post(JobMessage message) override;
    // The oldest message; waits up to timeout for one to arrive.
    std::optional<JobMessage> Next(std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<JobMessage> messages_;
};

// Makes window the application's main window (nullptr: none). Waits for a post in progress to
// end, so the previous window may be destroyed as soon as this returns.
void SetMainWindow(MainWindow* window);

// 1 while the user asks the running job to stop.
extern std::atomic<int32_t> CancelRequested;

// Posts a message to the main window; dropped when there is none.
void PostToMainWindow(uint32_t message, uintptr_t wParam, intptr_t lParam);
// Posts text as WM_JOB_STATUS (status non-zero) or WM_JOB_LOG; dropped without a main window.
void PostJobText(const char* text, int32_t status);
// The library's message callback: drops levels below the session's warningLevel, formats the
// rest in printf style and posts it as a log text.
void LogMessage(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Posts the code's text and CR LF as a log text; a code without a text posts nothing.
void ReportError(int32_t code);
// Posts WM_JOB_PROGRESS; dropped without a main window.
void ReportProgress(int32_t percent);
// The library's progress callback.
void JobProgress(int32_t percent);
// The library's cancel callback: CancelRequested.
int32_t JobCancelled();

// A job's entry point; it runs on the worker thread.
using JobEntry = std::function<void()>;

// Starts entry on the worker thread unless a job runs (jobState not JobIdle): sets jobState to
// initialState and CancelRequested to 0 before the thread starts, so that neither a second
// start nor an early cancel can slip in between. Waits for the previous job's thread to end
// first: it has returned to JobIdle and only has its last steps to take. jobState returns to
// JobIdle when entry returns, if entry did not do so itself. False when a job runs.
bool StartJob(JobEntry entry, int32_t initialState);

// Waits up to timeout for the last job's thread to end. True when no job thread runs.
bool WaitForJobEnd(std::chrono::milliseconds timeout);

// Asks a running job to stop (CancelRequested) and waits up to timeout for its thread to end.
// When it does not end in time its thread is detached and left running: a thread cannot be
// stopped safely from outside. True when no job thread runs any more.
bool StopRunningJob(std::chrono::milliseconds timeout);

// The wizard is closing: stops a running job (waiting up to 10 s), saves the settings and
// destroys the session. A job that did not end keeps running detached, and the session is left
// to it rather than destroyed under it: the caller should then end the process at once without
// destroying static objects (std::quick_exit). True when the job ended.
bool ShutdownSession();
bool ShutdownSession(std::chrono::milliseconds jobTimeout);
