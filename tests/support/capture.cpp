#include "capture.h"

#include "flashmate/testing.h"
#include "flashmate/upgrade.h"

#include <cstdarg>
#include <cstdio>

namespace testsupport {

std::vector<Message> Capture::messages;
std::vector<int32_t> Capture::progress;
int Capture::cancelAfterCalls = -1;
int Capture::cancelCalls = 0;

void Capture::Reset()
{
    messages.clear();
    progress.clear();
    cancelAfterCalls = -1;
    cancelCalls = 0;
}

std::string Capture::Log()
{
    std::string log;
    for (const Message& message : messages) {
        log += message.text;
    }
    return log;
}

void CaptureMessage(uint32_t level, const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Capture::messages.push_back({level, text});
}

void CaptureProgress(int32_t value)
{
    Capture::progress.push_back(value);
}

int32_t CancelAfter()
{
    ++Capture::cancelCalls;
    return Capture::cancelAfterCalls >= 0 && Capture::cancelCalls > Capture::cancelAfterCalls ? 1 : 0;
}

int32_t NeverCancel()
{
    return 0;
}

void ResetLibraryForTest()
{
    flashmate::testing::ResetLibraryState();
    Capture::Reset();
    UpgSetMessageCallback(CaptureMessage);
}

}  // namespace testsupport
