// Every session test starts from a fresh session, default serial settings, an empty receiver
// table, no main window and a settings file of its own.
#pragma once

#include "temp_dir.h"

#include "flashmate/chunks.h"
#include "flashmate/messages.h"
#include "flashmate/reporting.h"
#include "flashmate/serial.h"
#include "flashmate/session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

namespace testsupport {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(WaitForJobEnd(std::chrono::seconds(10)));
        ASSERT_TRUE(DestroySession());
        SetMainWindow(nullptr);
        UpgSetMessageCallback(nullptr);
        UpgClearPortMap();
        PortNumber = 1;
        BaudRate = 115200;
        ParityCode = 2;
        CancelRequested = 0;
        std::memset(&ReceiverChunks, 0, sizeof ReceiverChunks);
        settingsPath_ = dir_.File("Upgrade.ini");
        SetSettingsFilePath(settingsPath_);
    }

    void TearDown() override
    {
        SetMainWindow(nullptr);
        UpgSetMessageCallback(nullptr);
        SetSettingsFilePath("");
    }

    TempDir dir_;
    std::string settingsPath_;
};

}  // namespace testsupport
