// The three jobs that run on the worker thread: connect (find the receiver, its protocol and
// its chunk table), write and read. They talk to the receiver only through the library's
// Upg... functions and report through the main window (reporting.h).
#pragma once

#include <cstdint>
#include <string>

// Starts the connect job; false when a job already runs.
bool StartConnectJob();
// Starts the write or read job, by the session's processKind; false when a job already runs.
bool StartProcessJob();

// The job entries, as they run on the worker thread.
void ConnectJob();
void ProcessJob();

// Opens the port with the serial settings and runs the handshake. The protocol version found
// becomes the session's only while it has none. 0, or the first error.
int32_t OpenAndHandshake();

// The byte count the burn's progress is measured against, as the last write set it.
extern uint32_t BurnTotal;

// The read job's buffer: no receiver flash is larger.
inline constexpr uint32_t DumpBufferSize = 0x800000;
