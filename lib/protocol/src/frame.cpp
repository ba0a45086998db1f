#include "flashmate/packet.h"
#include "flashmate/testing.h"
#include "flashmate/transfer_totals.h"
#include "flashmate/upgrade.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr const char* kLibraryVersion = "3.0.0e";
constexpr char kBanner[] = "@ZOR PROTOCOL 3.0+";
constexpr int32_t kBannerLength = sizeof kBanner - 1;
constexpr int32_t kHandshakeAttempts = 200;
constexpr int32_t kProgressEvery = 5;
// The boot loader needs a pause between attempts to drop out of whatever it was reading.
constexpr auto kAttemptPause = std::chrono::milliseconds(100);
constexpr uint32_t kEchoTimeoutMs = 50;
constexpr uint32_t kReplyTimeoutMs = 200;

// Written by the connect job, read by the jobs after it; never two at once.
std::atomic<int32_t> g_protocolVersion{0};
std::atomic<int32_t> g_legacyVersion{ProtocolLegacy};

}  // namespace

const char* UpgGetLibraryVersion()
{
    return kLibraryVersion;
}

void UpgSetProtocolVersion(int32_t version)
{
    g_protocolVersion.store(version);
    g_legacyVersion.store(version);
}

int32_t UpgGetProtocolVersion()
{
    return g_protocolVersion.load();
}

int32_t UpgGetLegacyProtocolVersion()
{
    return g_legacyVersion.load();
}

int32_t UpgHandshake(int32_t* version, UpgProgressCallback progress, UpgCancelCallback cancel)
{
    char command[32];
    std::snprintf(command, sizeof command, "comtest %d\r", kBannerLength);
    const auto commandLength = static_cast<int32_t>(std::strlen(command));

    UpgPurgePort();
    for (int32_t attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
        if (cancel != nullptr && cancel() == 1) {
            return UpgErrCancelled;
        }
        if (progress != nullptr && attempt % kProgressEvery == 0) {
            progress(attempt);
        }
        std::this_thread::sleep_for(kAttemptPause);
        UpgPurgePort();

        if (UpgWriteEchoed(command, commandLength, kEchoTimeoutMs) != UpgOk) {
            // Ends whatever half line the boot loader has read so far.
            UpgWriteByte('\r');
            continue;
        }
        if (UpgWriteBytes(kBanner, kBannerLength) != kBannerLength) {
            continue;
        }
        uint8_t reply[kBannerLength];
        // The banner crosses the line twice: out to the receiver and back.
        if (UpgReadBytes(reply, kBannerLength, UpgLineTimeout(kReplyTimeoutMs, 2 * kBannerLength)) != 0) {
            continue;
        }
        bool echoed = true;
        bool complemented = true;
        for (int32_t i = 0; i < kBannerLength; ++i) {
            const auto expected = static_cast<uint8_t>(kBanner[i]);
            echoed = echoed && reply[i] == expected;
            complemented = complemented && reply[i] == static_cast<uint8_t>(expected ^ 0xFF);
        }
        if (echoed) {
            *version = ProtocolLegacy;
            return UpgOk;
        }
        if (complemented) {
            *version = ProtocolPacket;
            return UpgOk;
        }
    }
    return UpgErrNoReceiver;
}

namespace flashmate::testing {

void ResetLibraryState()
{
    UpgClosePort();
    UpgClearPortMap();
    UpgSetMessageCallback(nullptr);
    g_protocolVersion.store(0);
    g_legacyVersion.store(ProtocolLegacy);
    CurrentPacketId = 0;
    CurrentPacketSeq = 0;
    UpgResetTransferTotals();
}

}  // namespace flashmate::testing
