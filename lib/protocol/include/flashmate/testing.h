// For tests only: puts the library's process-wide state back as it is at start-up.
#pragma once

namespace flashmate::testing {

// Closes the port, forgets port mappings, the message callback and the protocol versions, and
// sets the packet counters and the transfer totals to 0.
void ResetLibraryState();

}  // namespace flashmate::testing
