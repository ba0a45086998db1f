// End to end on the packet protocol: the library's operations against the simulated receiver.
#pragma once

#include "proto3.h"
#include "receiver_fixture.h"

#include "sim/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class Proto3Session : public ReceiverTest {
protected:
    using Bytes = std::vector<uint8_t>;

    // The buffer the read job dumps into.
    static constexpr uint32_t kDumpCapacity = 0x800000;

    void Connect(sim::ReceiverConfig config)
    {
        ASSERT_NO_FATAL_FAILURE(StartReceiver(std::move(config)));
        int32_t version = 0;
        ASSERT_EQ(UpgHandshake(&version, nullptr, NeverCancel), 0);
        ASSERT_EQ(version, 48);
    }

    // The whole flash anew from address 0, then burned.
    static int32_t WriteFlash(const Bytes& image)
    {
        int32_t result = Proto3SetAddress(0);
        Bytes buffer = image;
        const auto size = static_cast<int32_t>(image.size());
        if (result == 0) {
            result = Proto3Transfer(buffer.data(), size, CaptureProgress, NeverCancel);
        }
        return result != 0 ? result : Proto3Burn(size, CaptureProgress);
    }

    // The whole flash, as "dump 0 0" delivers it.
    static int32_t ReadFlash(Bytes* flash)
    {
        Bytes buffer(kDumpCapacity);
        int32_t total = 0;
        const int32_t result = Proto3Dump(buffer.data(), kDumpCapacity, &total, CaptureProgress, NeverCancel, 0, 0);
        if (result == 0) {
            flash->assign(buffer.begin(), buffer.begin() + total);
        }
        return result;
    }

    // Writes the image, burns it and dumps the flash back on a faulty line. Whatever each step
    // returns, it must never report success with data that differ. Gives both results.
    std::pair<int32_t, int32_t> WriteAndReadBackJudged(const Bytes& image)
    {
        const int32_t written = WriteFlash(image);
        if (written == 0) {
            EXPECT_TRUE(receiver_->FlashContents() == image) << "reported success with wrong data";
        }
        Bytes flash;
        const int32_t read = ReadFlash(&flash);
        if (read == 0) {
            EXPECT_TRUE(flash == receiver_->FlashContents()) << "reported success with wrong data";
        }
        return {written, read};
    }

    // The transfer command the receiver got last.
    std::string LastTransferCommand() const
    {
        const std::vector<std::string> commands = receiver_->Commands();
        const auto it = std::find_if(commands.rbegin(), commands.rend(),
                                     [](const std::string& c) { return c.rfind("transfer", 0) == 0; });
        return it == commands.rend() ? "" : *it;
    }
};

}  // namespace testsupport
