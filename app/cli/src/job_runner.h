// Runs the session's jobs for the command line: the connect job and the process job start on
// the worker thread as in the wizard, and their messages come back to this thread through a
// JobMessageQueue standing in for the main window, together with Ctrl-C.
#pragma once

#include "console.h"
#include "interrupts.h"

#include <cstdint>
#include <string>
#include <vector>

struct JobOutcome {
    bool succeeded = false;
    bool cancelled = false;     // the job ended because the user asked it to
    bool burnStarted = false;
    // The library's error codes the job reported, in order (ReportError's texts).
    std::vector<int32_t> errors;

    bool Reported(int32_t code) const;
};

class JobRunner {
public:
    JobRunner(Console& console, InterruptWatcher& interrupts) : console_(console), interrupts_(interrupts) {}

    // The connect job: the receiver's protocol version and chunk table.
    JobOutcome Connect();
    // The write or read job, by the session's processKind and selections.
    JobOutcome Process();

private:
    enum class Kind { Connect, Process };
    JobOutcome Run(Kind kind);
    void OnInterrupt(JobOutcome& outcome);

    Console& console_;
    InterruptWatcher& interrupts_;
    bool cancelNoticed_ = false;
};

// The exit status for a job that did not succeed.
int ExitCodeOf(const JobOutcome& outcome);
