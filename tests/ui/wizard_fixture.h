// A wizard sheet on the offscreen platform, as the application shows it, over a fresh session
// with a settings file of its own; simulated receivers on the COM ports a test asks for; and a
// responder that notes and answers every modal dialog.
#pragma once

#include "session_fixture.h"

#include "flashmate/ini_file.h"
#include "flashmate/jobs.h"
#include "flashmate/reporting.h"
#include "flashmate/session.h"
#include "flashmate/upgrade.h"
#include "platform/wizard.h"
#include "sim/receiver.h"
#include "tools/wizard_driver.h"
#include "wizard/upgrade_sheet.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace uitest {

using namespace std::chrono_literals;

// What a working step needs is far less; only a broken one waits this long.
inline constexpr auto kStep = 60s;

inline constexpr int kBack = platform::ButtonBack;
inline constexpr int kNext = platform::ButtonNext;
inline constexpr int kCancel = platform::ButtonCancel;

inline QString Utf8(const char* text)
{
    return QString::fromUtf8(text);
}

class WizardTest : public testsupport::SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        responder_ = std::make_unique<driver::ModalResponder>();
    }

    void TearDown() override
    {
        StopRunningJob(10s);
        SetMainWindow(nullptr);
        sheet_.reset();
        responder_.reset();
        for (auto& [port, receiver] : receivers_) {
            UpgMapPort(port, nullptr);
            receiver->Stop();
        }
        receivers_.clear();
        SessionTest::TearDown();
    }

    // The application's start: the settings, then the sheet as the main window, shown.
    void OpenWizard()
    {
        InitSession(GetSession());
        sheet_ = std::make_unique<CUpgradeSheet>();
        sheet_->Create();
        SetMainWindow(sheet_.get());
        sheet_->show();
    }

    sim::Receiver& StartReceiver(sim::ReceiverConfig config = {}, int port = 1)
    {
        auto receiver = std::make_unique<sim::Receiver>(std::move(config));
        std::string error;
        EXPECT_TRUE(receiver->Start(&error)) << error;
        UpgMapPort(port, receiver->DevicePath().c_str());
        sim::Receiver& started = *receiver;
        receivers_[port] = std::move(receiver);
        return started;
    }

    CUpgradeSheet& Sheet() { return *sheet_; }
    QPushButton* Button(int id) { return static_cast<QPushButton*>(sheet_->GetDlgItem(id)); }
    QString ButtonText(int id) { return Button(id)->text(); }
    bool Enabled(int id) { return Button(id)->isEnabled(); }
    void Click(int id) { QTest::mouseClick(Button(id), Qt::LeftButton); }

    template <typename Control>
    Control* PageControl(platform::WizardPage& page, int id)
    {
        return dynamic_cast<Control*>(page.GetDlgItem(id));
    }
    QComboBox* ConnectList(int id) { return PageControl<QComboBox>(Sheet().ConnectPage(), id); }

    // A key typed into whatever has the focus in the wizard, or the sheet itself.
    void Type(Qt::Key key)
    {
        QWidget* target = QApplication::focusWidget();
        if (target == nullptr || target->window() != sheet_.get()) {
            target = sheet_.get();
        }
        QTest::keyClick(target, key);
    }

    static bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kStep)
    {
        return driver::WaitUntil(condition, timeout);
    }
    // Lets every message that is already on its way arrive.
    static void Settle() { driver::Pause(100ms); }

    bool Closed() { return !sheet_->isVisible(); }

    // A key of the settings file's "Config" section; -999 when it is missing.
    int SavedSetting(const char* key) const
    {
        const std::optional<IniFile> file = IniFile::Load(settingsPath_);
        return file ? file->GetInt("Config", key, -999) : -999;
    }

    // The select page's rows, by key.
    QTreeWidget* List() { return Sheet().SelectPage().List(); }

    int RowOf(int32_t key)
    {
        for (int row = 0; row < List()->topLevelItemCount(); ++row) {
            if (CPageSelect::RowKey(List()->topLevelItem(row)) == key) {
                return row;
            }
        }
        return -1;
    }
    QTreeWidgetItem* Row(int32_t key) { return List()->topLevelItem(RowOf(key)); }
    QString FileShown(int32_t key) { return Row(key)->text(1); }
    int ImageShown(int32_t key) { return CPageSelect::RowImage(Row(key)); }
    QPoint Centre(int32_t key) { return List()->visualItemRect(Row(key)).center(); }

    // As a person does it: a double-click on the row, the file dialog answered with path (or
    // cancelled).
    void DoubleClick(int32_t key, std::optional<std::string> path)
    {
        if (path) {
            Responder().QueuePath(*path);
        } else {
            Responder().QueueCancel();
        }
        DoubleClickOnly(key);
    }
    // For a row that is to open no dialog; one that opens anyway is cancelled.
    void DoubleClickOnly(int32_t key)
    {
        List()->scrollToItem(Row(key));
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, Centre(key));
        QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, Centre(key));
    }

    driver::ModalResponder& Responder() { return *responder_; }
    std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> texts;
        for (const driver::MessageSeen& seen : responder_->Messages()) {
            texts.push_back(seen.text);
        }
        return texts;
    }

    std::unique_ptr<CUpgradeSheet> sheet_;
    std::unique_ptr<driver::ModalResponder> responder_;
    std::map<int, std::unique_ptr<sim::Receiver>> receivers_;
};

// A receiver table as a connect leaves it, for pages shown without one.
inline ChunkInfo Chunk(uint32_t id, const char* name, uint32_t nextOffset, uint32_t length = 0x100)
{
    ChunkInfo chunk{};
    chunk.id = id;
    chunk.length = length;
    chunk.nextOffset = nextOffset;
    chunk.crc = ChunkNoCrc;
    std::strncpy(chunk.name, name, sizeof chunk.name - 1);
    return chunk;
}

}  // namespace uitest
