#include "wizard_fixture.h"

#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

namespace {

using namespace uitest;

class ConnectPageTest : public WizardTest {
protected:
    CPageConnect& Page() { return Sheet().ConnectPage(); }
    QLabel* StatusLine() { return Page().StatusLine(); }
    const std::string& Log() { return Page().Log()->Text(); }
};

TEST_F(ConnectPageTest, OpensWithTheSavedPortSpeedAndParity)
{
    struct Case {
        const char* name;
        const char* settings;  // nullptr: no settings file
        const char* port;      // "" when none is selected
        const char* baud;
        const char* parity;
    };
    const Case cases[] = {
        {"NoFile", nullptr, "COM1", "115200", "Even"},
        {"Saved", "[Config]\nPort=5\nBaud=57600\nParity=1\n", "COM5", "57600", "Odd"},
        {"ParityTwoIsEven", "[Config]\nParity=2\n", "COM1", "115200", "Even"},
        {"MarkAndSpace", "[Config]\nParity=3\n", "COM1", "115200", "Mark"},
        {"UnknownBaud", "[Config]\nBaud=12345\n", "COM1", "", "Even"},
        {"PortZero", "[Config]\nPort=0\n", "", "115200", "Even"},
        {"PortAbove32", "[Config]\nPort=33\n", "", "115200", "Even"},
        {"LastPort", "[Config]\nPort=32\n", "COM32", "115200", "Even"},
        {"UnknownParity", "[Config]\nParity=9\n", "COM1", "115200", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionTest::SetUp();
        if (c.settings != nullptr) {
            dir_.WriteText("Upgrade.ini", c.settings);
        }
        OpenWizard();
        EXPECT_EQ(ConnectList(CPageConnect::PortListId)->currentText(), Utf8(c.port));
        EXPECT_EQ(ConnectList(CPageConnect::BaudListId)->currentText(), Utf8(c.baud));
        EXPECT_EQ(ConnectList(CPageConnect::ParityListId)->currentText(), Utf8(c.parity));
        EXPECT_EQ(ConnectList(CPageConnect::ProcessListId)->currentText(), Utf8("Запись "));
        sheet_.reset();
        std::filesystem::remove(settingsPath_);
    }
}

TEST_F(ConnectPageTest, HasEveryControlInPlace)
{
    OpenWizard();
    const platform::DialogUnits& units = Page().Units();

    struct ListCase {
        int id;
        QRect at;  // dialog units; the height is the list's own
        QStringList items;
    };
    QStringList ports;
    for (int n = 1; n <= 32; ++n) {
        ports << QStringLiteral("COM%1").arg(n);
    }
    const ListCase lists[] = {
        {CPageConnect::PortListId, QRect(166, 22, 49, 60), ports},
        {CPageConnect::BaudListId, QRect(268, 22, 49, 59),
         {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600", "115200"}},
        {CPageConnect::ParityListId, QRect(166, 41, 49, 52), {"None", "Even", "Odd", "Mark", "Space"}},
        {CPageConnect::ProcessListId, QRect(189, 102, 136, 49), {Utf8("Запись "), Utf8("Чтение   ")}},
    };
    for (const ListCase& c : lists) {
        SCOPED_TRACE(c.id);
        QComboBox* list = ConnectList(c.id);
        ASSERT_NE(list, nullptr);
        EXPECT_FALSE(list->isEditable());
        EXPECT_TRUE(list->isVisible());
        const QRect pixels = units.Map(c.at.x(), c.at.y(), c.at.width(), c.at.height());
        EXPECT_EQ(list->pos(), pixels.topLeft());
        EXPECT_EQ(list->width(), pixels.width());
        QStringList items;
        for (int i = 0; i < list->count(); ++i) {
            items << list->itemText(i);
        }
        EXPECT_EQ(items, c.items);
    }

    struct RadioCase {
        int id;
        const char* text;
    };
    for (const RadioCase& radio : {RadioCase{1000, "Авто"}, RadioCase{1001, "EROM"}, RadioCase{1002, "Загрузчик"}}) {
        SCOPED_TRACE(radio.text);
        auto* button = PageControl<QRadioButton>(Page(), radio.id);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), Utf8(radio.text));
        EXPECT_FALSE(button->isVisible());
        EXPECT_EQ(button->isChecked(), radio.id == 1000);
    }

    std::map<QString, bool> labels;
    for (const QLabel* label : Page().findChildren<QLabel*>()) {
        labels[label->text()] = label->isVisible();
    }
    const std::pair<const char*, bool> expectedLabels[] = {
        {"Порт", true}, {"Скорость", true}, {"Паритет", true}, {"Процесс:", true}, {"STB Tool:", false}};
    for (const auto& [text, visible] : expectedLabels) {
        SCOPED_TRACE(text);
        ASSERT_EQ(labels.count(Utf8(text)), 1u);
        EXPECT_EQ(labels[Utf8(text)], visible);
    }
    ASSERT_NE(Page().findChild<QGroupBox*>(), nullptr);
    EXPECT_EQ(Page().findChild<QGroupBox*>()->title(), Utf8("Параметры порта"));

    // Hidden until a connect starts.
    EXPECT_FALSE(StatusLine()->isVisible());
    EXPECT_FALSE(Page().Log()->isVisible());
    EXPECT_EQ(Page().Log()->geometry(), units.Map(128, 138, 196, 55));
    EXPECT_EQ(StatusLine()->geometry(), units.Map(128, 123, 196, 8));
}

TEST_F(ConnectPageTest, TheProcessListAlwaysStartsAtWrite)
{
    GetSession().processKind = ProcessRead;
    OpenWizard();
    EXPECT_EQ(ConnectList(CPageConnect::ProcessListId)->currentIndex(), 0);
}

TEST_F(ConnectPageTest, StatusTextsAreLinesOfTheLogAndLogTextsGoInUnchanged)
{
    OpenWizard();
    Sheet().Post(JobMessage{WM_JOB_STATUS, 0, 0, "A"});
    Sheet().Post(JobMessage{WM_JOB_STATUS, 0, 0, "B"});
    Sheet().Post(JobMessage{WM_JOB_LOG, 0, 0, "C"});
    ASSERT_TRUE(WaitFor([this] { return Log().size() == 7; }));
    EXPECT_EQ(Log(), "A\r\nB\r\nC");
    EXPECT_EQ(StatusLine()->text(), QStringLiteral("B"));
}

TEST_F(ConnectPageTest, NextStoresTheChoicesAndAFailedConnectStaysWithItsLog)
{
    OpenWizard();
    UpgMapPort(3, (dir_.Path() + "no-such-port").c_str());
    ConnectList(CPageConnect::PortListId)->setCurrentIndex(2);
    ConnectList(CPageConnect::BaudListId)->setCurrentText(QStringLiteral("57600"));
    ConnectList(CPageConnect::ParityListId)->setCurrentText(QStringLiteral("Odd"));
    ConnectList(CPageConnect::ProcessListId)->setCurrentIndex(1);

    Click(kNext);
    EXPECT_EQ(PortNumber, 3);
    EXPECT_EQ(BaudRate, 57600);
    EXPECT_EQ(ParityCode, 1);
    EXPECT_EQ(GetSession().processKind, static_cast<uint32_t>(ProcessRead));
    EXPECT_EQ(GetSession().stbToolMode, 0);

    // The sheet handles the job's end itself, while the texts before it go on to the page.
    ASSERT_TRUE(WaitFor([this] { return Log().find("\r\n", Log().find("порт!")) != std::string::npos; }));
    EXPECT_EQ(ButtonText(kNext), Utf8("Подключить"));
    EXPECT_EQ(Sheet().GetActiveIndex(), 0);
    EXPECT_TRUE(StatusLine()->isVisible());
    EXPECT_TRUE(Page().Log()->isVisible());
    EXPECT_EQ(StatusLine()->text(), Utf8("Открытие порта..."));
    EXPECT_EQ(Log().rfind("Открытие порта...\r\nНевозможно открыть порт!    \r\n", 0), 0u) << Log();
    EXPECT_EQ(Sheet().windowTitle(), Utf8("Flashmate Version:2.0.0c. 2008-01-25"));
    EXPECT_TRUE(Enabled(kNext));
    EXPECT_TRUE(Responder().Messages().empty());

    // The choices are what the wizard saves when it closes.
    Click(kCancel);
    ASSERT_TRUE(WaitFor([this] { return Closed(); }));
    EXPECT_EQ(SavedSetting("Port"), 3);
    EXPECT_EQ(SavedSetting("Baud"), 57600);
    EXPECT_EQ(SavedSetting("Parity"), 1);
}

TEST_F(ConnectPageTest, AListWithoutASelectionKeepsItsSetting)
{
    dir_.WriteText("Upgrade.ini", "[Config]\nPort=0\nBaud=12345\nParity=7\n");
    OpenWizard();
    Click(kNext);
    EXPECT_EQ(PortNumber, 0);
    EXPECT_EQ(BaudRate, 12345);
    EXPECT_EQ(ParityCode, 7);
    ASSERT_TRUE(WaitFor([this] { return ButtonText(kNext) == Utf8("Подключить") && driver::NoJobRunning(); }));
}

TEST_F(ConnectPageTest, AConnectRefusedWhileTheLastJobEndsLeavesThePageReadyToConnect)
{
    OpenWizard();
    // A cancelled write has posted its end and is closing the port.
    GetSession().jobState = JobTransferring;
    Click(kNext);
    EXPECT_EQ(ButtonText(kNext), Utf8("Подключить"));
    EXPECT_EQ(GetSession().jobState.load(), JobTransferring);
    EXPECT_EQ(CancelRequested.load(), 0);
    GetSession().jobState = JobIdle;
}

}  // namespace
