// Dumps from a simulated legacy receiver whose line injects faults, run after run from fixed
// seeds. The only acceptable ends are the exact flash or a reported error; a success with wrong
// or missing data is the fault this looks for.
#pragma once

#include "legacy.h"
#include "legacy_flash.h"
#include "receiver_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace testsupport {

struct FaultCase {
    const char* name;
    int32_t version;
    sim::LineFaults faults;
    int runs;
};

class LegacyDumpOnAFaultyLine : public ReceiverTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    void DumpEveryRun()
    {
        const FaultCase& c = GetParam();
        int exact = 0;
        int failed = 0;
        uint64_t injected = 0;
        for (int run = 1; run <= c.runs; ++run) {
            SCOPED_TRACE(run);
            const SmallFlash flash(static_cast<uint64_t>(run), 0x4000);
            StartReceiver({.protocolVersion = c.version, .flash = flash.bytes, .faults = c.faults,
                           .seed = static_cast<uint64_t>(run)});
            int32_t found = 0;
            ASSERT_EQ(UpgHandshake(&found, nullptr, NeverCancel), 0);
            UpgSetProtocolVersion(c.version);
            // As large as the read job's: a header with a flipped bit then still fits it.
            std::vector<uint8_t> buffer(0x800000, 0);
            int32_t total = 0;
            const int32_t result = LegacyDump(buffer.data(), static_cast<uint32_t>(buffer.size()), &total, nullptr,
                                              NeverCancel, 0, 0);
            receiver_->Stop();
            injected += receiver_->FaultsInjected();
            UpgClosePort();
            if (result != 0) {
                ++failed;
                continue;
            }
            ++exact;
            ASSERT_EQ(total, static_cast<int32_t>(flash.bytes.size()));
            ASSERT_EQ(Difference(buffer, flash.bytes), "");
        }
        EXPECT_GT(injected, 0u);
        // A case that only ever failed would prove nothing about the data.
        EXPECT_GT(exact, 0);
        RecordProperty("exact", exact);
        RecordProperty("failed", failed);
    }
};

}  // namespace testsupport
