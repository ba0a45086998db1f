#include "flashmate/jobs.h"
#include "flashmate/reporting.h"
#include "flashmate/session.h"
#include "flashmate/upgrade.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

// The boot loader needs a moment after the handshake before it takes the first command.
constexpr auto kAfterHandshake = std::chrono::milliseconds(100);
constexpr int32_t kOneStopBit = 1;

void MarkMaskedChunks(const UpgradeSession& session)
{
    for (uint32_t i = 0; i < ReceiverChunks.count; ++i) {
        ChunkInfo& chunk = ReceiverChunks.chunks[i];
        for (uint32_t m = 0; m < session.chunkMaskCount && m < ChunkMaskCapacity; ++m) {
            if (chunk.id == session.chunkMask[m]) {
                chunk.masked = 1;
            }
        }
    }
}

void CopyBootLoaderVersion(UpgradeSession& session)
{
    std::memset(session.bootLoaderVersion, 0, sizeof session.bootLoaderVersion);
    const char* version = ReceiverChunks.chunks[0].version;
    const size_t length = strnlen(version, ChunkTextSize - 1);
    std::memcpy(session.bootLoaderVersion, version, length);
}

}  // namespace

int32_t OpenAndHandshake()
{
    UpgradeSession& session = GetSession();
    PostJobText("Открытие порта...", 1);
    int32_t result = UpgOpenPort(PortNumber, BaudRate, ParityCode, kOneStopBit);
    if (result != 0) {
        return result;
    }
    PostJobText("Синхронизация...", 1);
    int32_t version = 0;
    result = UpgHandshake(&version, nullptr, JobCancelled);
    if (session.protocolVersion == 0) {
        session.protocolVersion = static_cast<uint32_t>(version);
        UpgSetProtocolVersion(version);
    }
    return result;
}

void ConnectJob()
{
    UpgradeSession& session = GetSession();
    session.jobState = JobConnecting;
    session.protocolVersion = 0;
    Crc32InitTable();

    int32_t result = OpenAndHandshake();
    if (result == UpgErrOpenPort) {
        ReportError(result);
        // Why the port would not open, in words a technician can act on.
        PostJobText((UpgPortFailureText() + "\r\n").c_str(), 0);
    } else if (result != 0) {
        ReportError(result);
    } else {
        std::this_thread::sleep_for(kAfterHandshake);
        PostJobText("Получение версии протокола и блоков...", 1);
        int32_t version = static_cast<int32_t>(session.protocolVersion);
        result = UpgGetVersionAndChunks(&version, &ReceiverChunks);
        session.protocolVersion = static_cast<uint32_t>(version);
        if (result != 0) {
            ReportError(result);
        } else {
            MarkMaskedChunks(session);
            CopyBootLoaderVersion(session);
            if (session.protocolVersion == 0) {
                session.protocolVersion = session.transferFormat2 != 0 ? 32 : 16;
            }
            UpgSetProtocolVersion(static_cast<int32_t>(session.protocolVersion));
        }
    }

    PostToMainWindow(WM_CONNECT_DONE, result == 0 ? 1 : 0, 0);
    session.jobState = JobIdle;
    UpgClosePort();
}

bool StartConnectJob()
{
    return StartJob(ConnectJob, JobConnecting);
}
