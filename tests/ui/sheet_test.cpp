#include "wizard_fixture.h"

#include "platform/window_message.h"
#include "wizard/upgrade_app.h"

#include <QLabel>
#include <QTimer>

#include <filesystem>

namespace {

using namespace uitest;

TEST(SheetTitle, ShowsTheToolAndTheProtocolVersion)
{
    const std::pair<uint32_t, std::string> cases[] = {
        {0, "Flashmate Version:2.0.0c. 2008-01-25"},
        {48, "Flashmate Version:2.0.0c. 2008-01-25 Protocol version: 3.0"},
        {32, "Flashmate Version:2.0.0c. 2008-01-25 Protocol version: 2.0"},
        {0x31, "Flashmate Version:2.0.0c. 2008-01-25 Protocol version: 3.1"},
        {16, "Flashmate Version:2.0.0c. 2008-01-25 Protocol version: 1.0"},
    };
    for (const auto& [version, title] : cases) {
        SCOPED_TRACE(version);
        EXPECT_EQ(VersionTitle(version), title);
    }
}

TEST(LibraryLabel, TakesTheLeftHalfOfAStripAtTheBottom)
{
    struct Case {
        QRect client;
        QRect label;
    };
    const Case cases[] = {
        {QRect(0, 0, 600, 400), QRect(2, 383, 299, 15)},
        // The half of what is left after the 2-pixel inset, rounded down.
        {QRect(0, 0, 601, 400), QRect(2, 383, 299, 15)},
        {QRect(0, 0, 603, 100), QRect(2, 83, 300, 15)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.client.width());
        EXPECT_EQ(LibraryLabelRect(c.client), c.label);
    }
}

class SheetTest : public WizardTest {};

TEST_F(SheetTest, StartsIdleWithTheToolTitleTheLibraryLabelAndAHiddenWaitBox)
{
    OpenWizard();
    EXPECT_EQ(Sheet().windowTitle(), Utf8("Flashmate Version:2.0.0c. 2008-01-25"));
    EXPECT_EQ(Sheet().GetActiveIndex(), 0);

    struct ButtonState {
        int id;
        const char* text;
        bool enabled;
    };
    const ButtonState idle[] = {{kBack, "< Назад", false}, {kNext, "Подключить", true}, {kCancel, "Выход", true}};
    for (const ButtonState& button : idle) {
        SCOPED_TRACE(button.text);
        EXPECT_EQ(ButtonText(button.id), Utf8(button.text));
        EXPECT_EQ(Enabled(button.id), button.enabled);
    }

    auto* label = dynamic_cast<QLabel*>(Sheet().GetDlgItem(0xFFFF));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("Upgrade Library Version: 3.0.0e"));
    EXPECT_TRUE(label->isVisible());
    EXPECT_EQ(label->x(), 2);
    EXPECT_EQ(label->geometry().bottom() + 1, Sheet().height() - 2);
    EXPECT_EQ(label->geometry(), LibraryLabelRect(Sheet().rect()));

    CWaitDialog& wait = Sheet().WaitBox();
    EXPECT_FALSE(wait.isVisible());
    EXPECT_EQ(wait.palette().color(QPalette::Window), QColor(155, 250, 50));
    EXPECT_NE(wait.findChild<QLabel*>()->text().indexOf(Utf8("Ждите завершения...")), -1);
    Sheet().ShowWaitBox(true);
    EXPECT_TRUE(wait.isVisible());
    Sheet().ShowWaitBox(false);
    EXPECT_FALSE(wait.isVisible());
}

TEST_F(SheetTest, EveryWayOfLeavingWhileIdleClosesAndSavesTheSettings)
{
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"Esc", [this] { Type(Qt::Key_Escape); }},
        {"close box", [this] { Sheet().close(); }},
        {"Exit", [this] { Click(kCancel); }},
    };
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        std::filesystem::remove(settingsPath_);
        OpenWizard();
        leave();
        ASSERT_TRUE(WaitFor([this] { return Closed(); }));
        EXPECT_EQ(Sheet().result(), QDialog::Rejected);
        EXPECT_EQ(SavedSetting("Port"), 1);
        EXPECT_EQ(SavedSetting("Baud"), 115200);
        EXPECT_EQ(SavedSetting("Parity"), 2);
        sheet_.reset();
    }
}

TEST_F(SheetTest, AJobMessageThatReachesAPageWithoutAUseForItIsDropped)
{
    OpenWizard();
    // Counts every delivery of the message, to the sheet and to a page.
    struct Counter : QObject {
        int deliveries = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == platform::MessageEvent::EventType() &&
                static_cast<platform::MessageEvent*>(event)->Payload().message == WM_JOB_PROGRESS) {
                ++deliveries;
            }
            return false;
        }
    } counter;
    qApp->installEventFilter(&counter);
    Sheet().Post(JobMessage{WM_JOB_PROGRESS, 37, 0, {}});
    Settle();
    qApp->removeEventFilter(&counter);
    // To the sheet, then once to the connect page, which has no use for it.
    EXPECT_EQ(counter.deliveries, 2);
    EXPECT_EQ(Sheet().GetActiveIndex(), 0);
}

TEST_F(SheetTest, EnterOnTheSelectPageWithoutAFileDoesNothingAndDoesNotReachTheList)
{
    OpenWizard();
    ReceiverChunks.count = 2;
    ReceiverChunks.chunks[0] = Chunk(BootLoaderChunkId, "BOOT", 0x10000);
    ReceiverChunks.chunks[1] = Chunk(0x01FE0100, "MAINCODE", 0x180000);
    ASSERT_TRUE(Sheet().SetActivePage(1));
    QTreeWidget* list = Sheet().SelectPage().List();
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(2));

    struct KeyCounter : QObject {
        int keys = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            keys += event->type() == QEvent::KeyPress ? 1 : 0;
            return false;
        }
    } counter;
    list->installEventFilter(&counter);
    bool activated = false;
    QObject::connect(list, &QTreeWidget::itemActivated, [&] { activated = true; });

    Type(Qt::Key_Return);
    Type(Qt::Key_Enter);
    Settle();
    EXPECT_EQ(counter.keys, 0);
    EXPECT_FALSE(activated);
    EXPECT_EQ(Sheet().GetActiveIndex(), 1);
    EXPECT_TRUE(Responder().Messages().empty());
    EXPECT_FALSE(Enabled(kNext));
    list->removeEventFilter(&counter);
}

TEST_F(SheetTest, TheApplicationLoadsTheSettingsBeforeTheSheetAndEndsWhenItCloses)
{
    dir_.WriteText("Upgrade.ini", "[Config]\nPort=5\nBaud=57600\nParity=1\nWarningLevel=2\n");
    QString portShown;
    const int result = RunUpgradeWizard([&](CUpgradeSheet& sheet) {
        portShown = dynamic_cast<QComboBox*>(sheet.ConnectPage().GetDlgItem(CPageConnect::PortListId))->currentText();
        // Leaves once the modal run has begun.
        QTimer::singleShot(0, &sheet, [&sheet] { sheet.PressButton(platform::ButtonCancel); });
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(portShown, QStringLiteral("COM5"));
    EXPECT_EQ(testsupport::TempDir::Read(settingsPath_), "[Config]\nPort=5\nBaud=57600\nParity=1\nWarningLevel=2\n");
    // The sheet is gone and no longer the main window: a late text goes nowhere.
    PostJobText("late", 1);
}

}  // namespace
