// The library's three callbacks and its log messages.
#pragma once

#include <cstdint>

// One piece of log text: a level (0 for errors and retry marks, 2 for bulk-transfer warnings)
// and a printf-style format with its values.
using UpgMessageCallback = void (*)(uint32_t level, const char* format, ...);
// Progress: the attempt number in the handshake, a percentage 0..100 in long operations.
using UpgProgressCallback = void (*)(int32_t value);
// 1 asks the running operation to stop (it then returns 6); anything else goes on.
using UpgCancelCallback = int32_t (*)();

// Stores the callback for every later library message; nullptr switches messages off.
void UpgSetMessageCallback(UpgMessageCallback callback);
UpgMessageCallback UpgInstalledMessageCallback();

// Sends one message, format and values unchanged, through the installed callback; dropped
// while none is installed.
template <typename... Values>
void UpgEmitMessage(uint32_t level, const char* format, Values... values)
{
    if (const UpgMessageCallback callback = UpgInstalledMessageCallback()) {
        callback(level, format, values...);
    }
}
