#include "job_runner.h"

#include "exit_codes.h"
#include "flashmate/errors.h"
#include "flashmate/jobs.h"
#include "flashmate/serial.h"
#include "flashmate/session.h"

#include <algorithm>
#include <cstdlib>

namespace {

// How often the loop looks whether a job thread ended without its last message; jobs always
// post one, so this only guards against waiting forever.
constexpr auto kMessageWait = std::chrono::milliseconds(200);
// A job has posted its end and only closes the port after it.
constexpr auto kJobEndWait = std::chrono::seconds(10);

// The error code whose text, as ReportError posts it, is exactly this log text.
int32_t ErrorCodeOfText(const std::string& text)
{
    for (const ErrorEntry& entry : UpgErrorTable) {
        char expected[256] = {};
        if (UpgGetErrorText(entry.code, expected) != 0 && text == expected) {
            return entry.code;
        }
    }
    return 0;
}

// Makes the queue the application's main window for the length of one job.
class MainWindowScope {
public:
    MainWindowScope(MainWindow& window, InterruptWatcher& interrupts) : interrupts_(interrupts)
    {
        SetMainWindow(&window);
        interrupts_.Route(&window);
    }
    ~MainWindowScope()
    {
        interrupts_.Route(nullptr);
        SetMainWindow(nullptr);
    }
    MainWindowScope(const MainWindowScope&) = delete;
    MainWindowScope& operator=(const MainWindowScope&) = delete;

private:
    InterruptWatcher& interrupts_;
};

}  // namespace

bool JobOutcome::Reported(int32_t code) const
{
    return std::find(errors.begin(), errors.end(), code) != errors.end();
}

JobOutcome JobRunner::Connect()
{
    return Run(Kind::Connect);
}

JobOutcome JobRunner::Process()
{
    return Run(Kind::Process);
}

void JobRunner::OnInterrupt(JobOutcome& outcome)
{
    const int32_t state = GetSession().jobState.load();
    if (outcome.burnStarted || state == JobBurning) {
        console_.Note("The receiver is burning its flash and must not be interrupted: Ctrl-C is refused. "
                      "Wait until it has finished, and do not switch it off.");
        return;
    }
    if (cancelNoticed_ && state == JobConnecting) {
        // Nothing has been written yet, and the version and chunk-table queries cannot be
        // cancelled: a second Ctrl-C need not wait for them.
        console_.Note("Stopped.");
        console_.Finish();
        std::_Exit(ExitCancelled);
    }
    CancelRequested.store(1);
    cancelNoticed_ = true;
    console_.Note(state == JobConnecting ? "Cancelling: the job stops at its next step (Ctrl-C again to quit at once)."
                                         : "Cancelling: the receiver is told to abort the transfer.");
}

JobOutcome JobRunner::Run(Kind kind)
{
    JobOutcome outcome;
    cancelNoticed_ = false;
    JobMessageQueue queue;
    MainWindowScope scope(queue, interrupts_);
    const bool started = kind == Kind::Connect ? StartConnectJob() : StartProcessJob();
    if (!started) {
        console_.Note("Another job is still running.");
        return outcome;
    }
    const uint32_t doneMessage = kind == Kind::Connect ? WM_CONNECT_DONE : WM_JOB_DONE;
    bool threadEnded = false;
    for (;;) {
        const std::optional<JobMessage> message = queue.Next(kMessageWait);
        if (!message) {
            // The thread may have ended with its last messages posted just after the wait
            // gave up: the queue is looked at once more before concluding anything.
            if (threadEnded) {
                console_.Note("The job ended without saying how.");
                break;
            }
            threadEnded = WaitForJobEnd(std::chrono::milliseconds(0));
            continue;
        }
        if (message->message == WM_JOB_STATUS) {
            console_.Status(message->text);
        } else if (message->message == WM_JOB_LOG) {
            if (const int32_t code = ErrorCodeOfText(message->text); code != 0) {
                outcome.errors.push_back(code);
            }
            console_.Log(message->text);
        } else if (message->message == WM_JOB_PROGRESS) {
            console_.Progress(static_cast<int>(message->wParam));
        } else if (message->message == WM_BURN_STARTED) {
            outcome.burnStarted = true;
            console_.Note(cancelNoticed_
                              ? "Too late to cancel: the transfer had ended and the receiver is burning its flash."
                              : "The receiver is burning its flash: do not switch it off; Ctrl-C is refused until "
                                "it has finished.");
        } else if (message->message == WM_CLI_INTERRUPT) {
            OnInterrupt(outcome);
        } else if (message->message == doneMessage) {
            // The connect job says 1 for success; the process job 1 for failure, and its lParam
            // whether the user cancelled.
            outcome.succeeded = kind == Kind::Connect ? message->wParam == 1 : message->wParam == 0;
            outcome.cancelled = !outcome.succeeded && (message->lParam != 0 || CancelRequested.load() != 0);
            break;
        }
    }
    WaitForJobEnd(kJobEndWait);
    console_.Finish();
    // The process job does not say why a port would not open; the connect job does.
    if (kind == Kind::Process && outcome.Reported(UpgErrOpenPort)) {
        console_.Note(UpgPortFailureText());
    }
    return outcome;
}

int ExitCodeOf(const JobOutcome& outcome)
{
    if (outcome.succeeded) {
        return ExitOk;
    }
    if (outcome.cancelled || outcome.Reported(UpgErrCancelled)) {
        return ExitCancelled;
    }
    if (outcome.Reported(UpgErrOpenPort)) {
        return ExitPort;
    }
    if (outcome.Reported(UpgErrNoReceiver)) {
        return ExitNoReceiver;
    }
    return ExitFailed;
}
