// The command line's exit status: scripts and production lines act on these, so each outcome
// has a code of its own and the codes never change meaning.
#pragma once

enum ExitCode : int {
    ExitOk = 0,
    ExitFailed = 1,        // the job failed: the receiver, the line or a file reported an error
    ExitUsage = 2,         // unknown command or option, a bad value, a chunk that does not exist
    ExitPort = 3,          // the port cannot be opened
    ExitNoReceiver = 4,    // no receiver answered the handshake
    ExitRefused = 5,       // a file did not pass its checks; nothing was written to the receiver
    ExitCancelled = 130,   // Ctrl-C or SIGTERM, as a shell reports a death by SIGINT
};
