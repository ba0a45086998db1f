// What the library reported during a test: messages, progress values, and a cancel switch.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct Message {
    uint32_t level;
    std::string text;
};

// The callbacks below store into these; Reset() empties them.
struct Capture {
    static std::vector<Message> messages;
    static std::vector<int32_t> progress;
    // CancelAfter() returns 1 once it has been called this many times (negative: never).
    static int cancelAfterCalls;
    static int cancelCalls;
    static void Reset();
    // All message texts joined, as a log would show them.
    static std::string Log();
};

void CaptureMessage(uint32_t level, const char* format, ...);
void CaptureProgress(int32_t value);
int32_t CancelAfter();
int32_t NeverCancel();

// Names parameterised cases after their `name` member.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& param) const
    {
        return param.param.name;
    }
};

// Puts the library back to its start-up state and installs CaptureMessage.
void ResetLibraryForTest();

}  // namespace testsupport
