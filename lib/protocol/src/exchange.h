// The command exchange of the packet protocol: send a command packet, judge the answer,
// up to five attempts.
#pragma once

#include <cstdint>

// Answer: a response packet of the current id and length 5. Status 0, 2 and 3 succeed; a value
// of 65536 or more in an error response ends at once; anything else is retried and logged.
int32_t ExecuteCommand(const char* text, uint32_t timeoutMs, uint8_t* status);
// As ExecuteCommand, continuing the current packet id from the first send and logging nothing.
int32_t ExecuteCommandQuiet(const char* text, uint32_t timeoutMs, uint8_t* status);
// Answer: a data packet, copied whole (payload and its length) to destination (2048 bytes).
int32_t ExecuteCommandForData(const char* text, uint32_t timeoutMs, uint8_t* status, uint32_t* length,
                              uint8_t* destination);
