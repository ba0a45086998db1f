#include "platform/application.h"
#include "platform/controls.h"
#include "platform/dialog_units.h"
#include "platform/dialogs.h"
#include "platform/window_message.h"
#include "platform/wizard.h"
#include "temp_dir.h"
#include "tools/wizard_driver.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::Message;

constexpr auto kArrival = 10s;

TEST(DialogUnits, ConvertEdgesByTheFontsBaseUnits)
{
    struct Case {
        int baseWidth, baseHeight;
        QRect units;
        QRect pixels;
    };
    const Case cases[] = {
        // 6 x 13: a quarter character is 1.5 pixels, an eighth of a line 1.625.
        {6, 13, QRect(0, 0, 340, 193), QRect(0, 0, 510, 314)},
        {6, 13, QRect(128, 138, 196, 55), QRect(192, 224, 294, 90)},
        // Edges are rounded on their own: 1 unit from 1 to 2 is pixels 2 to 3.
        {6, 13, QRect(1, 1, 1, 1), QRect(2, 2, 1, 1)},
        {7, 16, QRect(166, 22, 49, 60), QRect(291, 44, 85, 120)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.baseWidth << "x" << c.baseHeight << " " << c.units.x() << "," << c.units.y());
        const platform::DialogUnits units(c.baseWidth, c.baseHeight);
        EXPECT_EQ(units.Map(c.units.x(), c.units.y(), c.units.width(), c.units.height()), c.pixels);
    }
}

TEST(DialogUnits, FollowTheFont)
{
    const platform::DialogUnits small(platform::DialogFont("MS Sans Serif", 8));
    const platform::DialogUnits large(platform::DialogFont("MS Sans Serif", 16));
    EXPECT_GT(small.BaseWidth(), 0);
    EXPECT_GT(small.BaseHeight(), 0);
    EXPECT_GT(large.X(340), small.X(340));
    EXPECT_GT(large.Y(193), small.Y(193));
}

TEST(FileDialogFilters, BecomeQtNameFilters)
{
    struct Case {
        const char* filter;
        QStringList expected;
    };
    const Case cases[] = {
        {"Файлы прошивок (*.abs)|*.abs|Все файлы (*.*)|*.*|",
         {QString::fromUtf8("Файлы прошивок (*.abs)"), QString::fromUtf8("Все файлы (*)")}},
        {"Logo file(*.m2v)|*.m2v|", {QStringLiteral("Logo file(*.m2v)")}},
        {"Pictures|*.png;*.jpg|", {QStringLiteral("Pictures (*.png *.jpg)")}},
        // A description without its pattern's pair is no filter.
        {"default db(*.ddf)|*.ddf|dangling|", {QStringLiteral("default db(*.ddf)")}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(platform::NameFilters(c.filter), c.expected);
    }
}

TEST(LogEdit, KeepsItsTextAndShowsLineBreaks)
{
    struct Case {
        std::string text;
        QString shown;
    };
    const Case cases[] = {
        {"A\r\nB", QStringLiteral("A\nB")},
        {"\r\n->Error: x\r\n", QStringLiteral("\n->Error: x\n")},
        {"dots...OK\n", QStringLiteral("dots...OK\n")},
        {"lone\rreturn", QStringLiteral("lonereturn")},
        {"Отмена\r\n", QString::fromUtf8("Отмена\n")},
    };
    platform::LogEdit log(platform::LogEdit::VerticalBar::None, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        log.SetText(c.text);
        EXPECT_EQ(log.Text(), c.text);
        EXPECT_EQ(log.toPlainText(), c.shown);
    }
}

TEST(VirtualKeys, ComeFromQtKeys)
{
    const std::pair<int, uintptr_t> cases[] = {
        {Qt::Key_Return, platform::VK_RETURN}, {Qt::Key_Enter, platform::VK_RETURN}, {Qt::Key_Escape, platform::VK_ESCAPE},
        {Qt::Key_A, 'A'},                       {Qt::Key_7, '7'},                     {Qt::Key_F4, 0},
    };
    for (const auto& [key, virtualKey] : cases) {
        SCOPED_TRACE(key);
        EXPECT_EQ(platform::VirtualKey(key), virtualKey);
    }
}

// A window that records what reaches its pre-filter and its window procedure, and consumes the
// messages it is told to.
class RecordingWindow : public QWidget, public platform::MessageWindow {
public:
    explicit RecordingWindow(std::string name, std::vector<std::string>* record, QWidget* parent = nullptr)
        : QWidget(parent), name_(std::move(name)), record_(record)
    {
    }

    bool PreTranslateMessage(Message& message) override
    {
        record_->push_back(name_ + " filter " + std::to_string(message.message) + " " + message.text);
        return message.message == consume;
    }
    void WindowProc(Message& message) override
    {
        record_->push_back(name_ + " proc " + std::to_string(message.message) + " " + message.text);
        received.push_back(message);
    }
    bool event(QEvent* event) override { return platform::DispatchMessageEvent(event) || QWidget::event(event); }

    uint32_t consume = 0;
    std::vector<Message> received;

private:
    std::string name_;
    std::vector<std::string>* record_;
};

TEST(PostedMessages, KeepTheirOrderAcrossWindowsAndCarryTheirParameters)
{
    std::vector<std::string> record;
    RecordingWindow outer("outer", &record);
    RecordingWindow inner("inner", &record, &outer);
    constexpr int kMessages = 2000;
    std::thread worker([&] {
        for (int i = 0; i < kMessages; ++i) {
            platform::PostMessage(i % 2 == 0 ? static_cast<QWidget*>(&outer) : &inner, 0x8000u + static_cast<uint32_t>(i % 7),
                                  static_cast<uintptr_t>(i), -i, "text " + std::to_string(i));
        }
    });
    worker.join();
    ASSERT_TRUE(driver::WaitUntil([&] { return outer.received.size() + inner.received.size() == kMessages; }, kArrival));

    std::vector<const Message*> all;
    size_t o = 0;
    size_t n = 0;
    for (int i = 0; i < kMessages; ++i) {
        const Message& message = i % 2 == 0 ? outer.received[o++] : inner.received[n++];
        ASSERT_EQ(message.wParam, static_cast<uintptr_t>(i));
        EXPECT_EQ(message.lParam, -i);
        EXPECT_EQ(message.message, 0x8000u + static_cast<uint32_t>(i % 7));
        EXPECT_EQ(message.text, "text " + std::to_string(i));
    }
    // Both windows together saw them in the order they were posted.
    std::vector<int> order;
    for (const std::string& line : record) {
        if (line.find(" proc ") != std::string::npos) {
            order.push_back(std::stoi(line.substr(line.rfind(' ') + 1)));
        }
    }
    ASSERT_EQ(order.size(), static_cast<size_t>(kMessages));
    for (int i = 0; i < kMessages; ++i) {
        ASSERT_EQ(order[static_cast<size_t>(i)], i);
    }
}

TEST(PostedMessages, PassThePreFiltersFromTheInnerWindowOutwards)
{
    std::vector<std::string> record;
    RecordingWindow outer("outer", &record);
    RecordingWindow inner("inner", &record, &outer);
    RecordingWindow separate("separate", &record, &outer);
    separate.setWindowFlags(Qt::Window);

    platform::PostMessage(&inner, 1, 0, 0, "a");
    outer.consume = 2;
    platform::PostMessage(&inner, 2, 0, 0, "b");
    // A window of its own ends the road: the outer window's pre-filter is not asked.
    platform::PostMessage(&separate, 3, 0, 0, "c");
    ASSERT_TRUE(driver::WaitUntil([&] { return record.size() == 7; }, kArrival));
    const std::vector<std::string> expected = {
        "inner filter 1 a", "outer filter 1 a", "inner proc 1 a", "inner filter 2 b",
        "outer filter 2 b", "separate filter 3 c", "separate proc 3 c",
    };
    EXPECT_EQ(record, expected);
}

TEST(PostedMessages, SentOnesSkipThePreFilters)
{
    std::vector<std::string> record;
    RecordingWindow window("window", &record);
    platform::SendMessage(&window, platform::WM_CLOSE);
    EXPECT_EQ(record, std::vector<std::string>{"window proc 16 "});
}

TEST(KeyPresses, ReachThePreFiltersOfTheirWindowBeforeTheControl)
{
    std::vector<std::string> record;
    RecordingWindow window("window", &record);
    auto* edit = new QLineEdit(&window);
    window.show();
    window.consume = platform::WM_KEYDOWN;

    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(edit, Qt::Key_A);
    EXPECT_EQ(record, (std::vector<std::string>{"window filter 256 ", "window filter 256 "}));
    EXPECT_TRUE(edit->text().isEmpty()) << "a consumed key must not reach the control";

    // Keys of another top-level window are not the message window's.
    record.clear();
    QLineEdit other;
    other.show();
    QTest::keyClick(&other, Qt::Key_A);
    EXPECT_TRUE(record.empty());
    EXPECT_EQ(other.text(), QStringLiteral("a"));
}

TEST(MessageBoxes, HaveTheApplicationsNameAndAnOkButton)
{
    driver::ModalResponder responder;
    platform::MessageBox(nullptr, "Сначала выберите файл!");
    ASSERT_EQ(responder.Messages().size(), 1u);
    EXPECT_EQ(responder.Messages()[0].caption, "Flashmate");
    EXPECT_EQ(responder.Messages()[0].text, "Сначала выберите файл!");
    EXPECT_EQ(responder.Messages()[0].buttons, QStringList{QStringLiteral("OK")});
}

TEST(FileDialogs, ReturnTheChosenPathOrNothing)
{
    testsupport::TempDir dir;
    const std::string existing = dir.WriteText("image.abs", "x");
    driver::ModalResponder responder;

    platform::FileDialogRequest open{platform::FileDialogMode::Open, "abs", "Файлы прошивок (*.abs)|*.abs|", dir.Path()};
    responder.QueuePath(existing);
    EXPECT_EQ(platform::ShowFileDialog(nullptr, open), std::optional<std::string>(existing));
    responder.QueueCancel();
    EXPECT_EQ(platform::ShowFileDialog(nullptr, open), std::nullopt);

    // A typed name without an extension gets the default one.
    platform::FileDialogRequest save{platform::FileDialogMode::Save, "m2v", "Logo file(*.m2v)|*.m2v|", dir.Path()};
    responder.QueuePath(dir.File("logo"));
    EXPECT_EQ(platform::ShowFileDialog(nullptr, save), std::optional<std::string>(dir.File("logo.m2v")));

    ASSERT_EQ(responder.FileDialogs().size(), 3u);
    EXPECT_FALSE(responder.FileDialogs()[0].save);
    EXPECT_EQ(responder.FileDialogs()[0].nameFilters, QStringList{QString::fromUtf8("Файлы прошивок (*.abs)")});
    EXPECT_EQ(responder.FileDialogs()[0].folder + "/", dir.Path());
    EXPECT_TRUE(responder.FileDialogs()[2].save);
    EXPECT_EQ(responder.FileDialogs()[2].defaultSuffix, "m2v");
}

TEST(FileDialogs, SpeakRussian)
{
    auto* app = static_cast<platform::Application*>(QApplication::instance());
    ASSERT_TRUE(app->RussianDialogTexts());
    driver::ModalResponder responder;
    QString cancelText;
    responder.OnDialog([&](QWidget* dialog) {
        for (const QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == QString::fromUtf8("Отмена")) {
                cancelText = button->text();
            }
        }
    });
    responder.QueueCancel();
    platform::ShowFileDialog(nullptr, {platform::FileDialogMode::Open, "bin", "Бинарные файлы (*.bin)|*.bin|", {}});
    EXPECT_EQ(cancelText, QString::fromUtf8("Отмена"));
}

TEST(PopupMenus, PostTheChosenCommandToTheirWindow)
{
    std::vector<std::string> record;
    RecordingWindow window("window", &record);
    window.show();
    // A popup menu is not modal: choose its second command from a timer once it is open.
    QTimer::singleShot(50, [] {
        auto* menu = dynamic_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        menu->setActiveAction(menu->actions().value(1));
        QTest::keyClick(menu, Qt::Key_Return);
    });
    platform::TrackPopupMenu({{32771, "Open File"}, {32772, "Cancel Select"}}, window.mapToGlobal(QPoint(5, 5)), &window);
    ASSERT_TRUE(driver::WaitUntil([&] { return !window.received.empty(); }, kArrival));
    EXPECT_EQ(window.received[0].message, platform::WM_COMMAND);
    EXPECT_EQ(window.received[0].wParam, 32772u);
}

}  // namespace
