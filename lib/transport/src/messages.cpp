#include "flashmate/messages.h"

#include <atomic>

namespace {
// Installed on the main thread at start-up and read by the worker thread.
std::atomic<UpgMessageCallback> g_callback{nullptr};
}  // namespace

void UpgSetMessageCallback(UpgMessageCallback callback)
{
    g_callback.store(callback);
}

UpgMessageCallback UpgInstalledMessageCallback()
{
    return g_callback.load();
}
