// A test with a simulated receiver on a pty and the library's port open on it as COM1.
#pragma once

#include "capture.h"
#include "flashmate/upgrade.h"
#include "sim/receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace testsupport {

class ReceiverTest : public ::testing::Test {
protected:
    void SetUp() override { ResetLibraryForTest(); }
    void TearDown() override
    {
        UpgClosePort();
        if (receiver_) {
            receiver_->Stop();
        }
    }

    void StartReceiver(sim::ReceiverConfig config, int32_t baudRate = 115200, int32_t parityCode = 2)
    {
        receiver_ = std::make_unique<sim::Receiver>(std::move(config));
        std::string error;
        ASSERT_TRUE(receiver_->Start(&error)) << error;
        UpgMapPort(1, receiver_->DevicePath().c_str());
        ASSERT_EQ(UpgOpenPort(1, baudRate, parityCode, 1), 0);
    }

    // Waits up to a second for something the receiver's thread is about to do.
    static bool Eventually(const std::function<bool()>& condition)
    {
        for (int i = 0; i < 200; ++i) {
            if (condition()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return condition();
    }

    std::unique_ptr<sim::Receiver> receiver_;
};

}  // namespace testsupport
