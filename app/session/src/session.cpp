#include "flashmate/session.h"

#include "flashmate/messages.h"
#include "flashmate/reporting.h"
#include "session_internal.h"

#include <mutex>

int32_t PortNumber = 1;
int32_t BaudRate = 115200;
int32_t ParityCode = 2;

namespace {

// Jobs on the worker thread reach the session through GetSession as well, so creation and
// destruction must not race with them.
std::mutex g_sessionMutex;
std::atomic<UpgradeSession*> g_session{nullptr};

}  // namespace

UpgradeSession& GetSession()
{
    if (UpgradeSession* session = g_session.load()) {
        return *session;
    }
    std::lock_guard lock(g_sessionMutex);
    if (g_session.load() == nullptr) {
        g_session.store(new UpgradeSession);
    }
    return *g_session.load();
}

UpgradeSession* FindSession()
{
    return g_session.load();
}

void DeleteSession()
{
    std::lock_guard lock(g_sessionMutex);
    delete g_session.exchange(nullptr);
}

bool InitSession(UpgradeSession& session)
{
    LoadSettings(session);
    UpgSetMessageCallback(LogMessage);
    return true;
}

bool ResetSelections(UpgradeSession& session)
{
    uint32_t last = ReceiverChunks.count + 1;
    if (last >= SelectionSlotCount) {
        last = SelectionSlotCount - 1;
    }
    for (uint32_t slot = 0; slot <= last; ++slot) {
        session.selections[slot] = ChunkSelection{};
    }
    return true;
}

ChunkSelection* SelectionSlot(UpgradeSession& session, int32_t key)
{
    if (key < KeyAllNoBootLoader || key >= static_cast<int32_t>(SelectionSlotCount) - 2) {
        return nullptr;
    }
    return &session.selections[key + 2];
}
