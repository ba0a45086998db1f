#include "flashmate/reporting.h"

#include "flashmate/errors.h"
#include "flashmate/session.h"
#include "session_internal.h"

#include <cstdarg>
#include <cstdio>

std::atomic<int32_t> CancelRequested{0};

namespace {

// Error texts are at most 255 bytes with CR LF and NUL behind them.
constexpr size_t kErrorTextBuffer = 256;

// Held while a message is handed to the window, so that the window cannot be taken away (and
// destroyed) in the middle of a post.
std::mutex g_windowMutex;
MainWindow* g_window = nullptr;

void Deliver(JobMessage message)
{
    std::lock_guard lock(g_windowMutex);
    if (g_window != nullptr) {
        g_window->Post(std::move(message));
    }
}

}  // namespace

void JobMessageQueue::Post(JobMessage message)
{
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(message));
    }
    arrived_.notify_one();
}

std::optional<JobMessage> JobMessageQueue::Next(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !messages_.empty(); })) {
        return std::nullopt;
    }
    JobMessage message = std::move(messages_.front());
    messages_.pop_front();
    return message;
}

void SetMainWindow(MainWindow* window)
{
    std::lock_guard lock(g_windowMutex);
    g_window = window;
}

void PostToMainWindow(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    Deliver(JobMessage{message, wParam, lParam, {}});
}

void PostJobText(const char* text, int32_t status)
{
    Deliver(JobMessage{status != 0 ? WM_JOB_STATUS : WM_JOB_LOG, 0, 0, text != nullptr ? text : ""});
}

void LogMessage(uint32_t level, const char* format, ...)
{
    const UpgradeSession* session = FindSession();
    if (session != nullptr && level < session->warningLevel) {
        return;
    }
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        va_end(args);
        return;
    }
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    PostJobText(text.c_str(), 0);
}

void ReportError(int32_t code)
{
    char text[kErrorTextBuffer] = {};
    if (UpgGetErrorText(code, text) != 0) {
        PostJobText(text, 0);
    }
}

void ReportProgress(int32_t percent)
{
    PostToMainWindow(WM_JOB_PROGRESS, static_cast<uintptr_t>(percent), 0);
}

void JobProgress(int32_t percent)
{
    ReportProgress(percent);
}

int32_t JobCancelled()
{
    return CancelRequested.load();
}
