#include "wizard_fixture.h"

#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>

namespace {

using namespace uitest;

class ProcessPageTest : public WizardTest {
protected:
    // The progress page as the select page hands over to it; the messages come as the job
    // would post them.
    void ShowPage(ProcessKind process, JobState state = JobTransferring)
    {
        OpenWizard();
        GetSession().processKind = process;
        GetSession().jobState = state;
        ASSERT_TRUE(Sheet().SetActivePage(2));
    }
    void TearDown() override
    {
        GetSession().jobState = JobIdle;
        WizardTest::TearDown();
    }

    void Post(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0, std::string text = {})
    {
        Sheet().Post(JobMessage{message, wParam, lParam, std::move(text)});
    }
    void PostAndSettle(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0, std::string text = {})
    {
        Post(message, wParam, lParam, std::move(text));
        Settle();
    }

    CPageProcess& Page() { return Sheet().ProcessPage(); }
    const std::string& Log() { return Page().Log()->Text(); }
};

TEST_F(ProcessPageTest, StatusTextsStartNewLinesOfTheLogAndLogTextsAreAppendedAsTheyCome)
{
    ShowPage(ProcessWrite);
    EXPECT_TRUE(Page().StatusLine()->text().isEmpty());
    EXPECT_TRUE(Log().empty());
    Post(WM_JOB_STATUS, 0, 0, "A");
    Post(WM_JOB_LOG, 0, 0, "B");
    Post(WM_JOB_STATUS, 0, 0, "C");
    ASSERT_TRUE(WaitFor([this] { return Page().StatusLine()->text() == QStringLiteral("C"); }));
    EXPECT_EQ(Log(), "AB\r\nC");

    // A long log shows its end after each log text.
    for (int i = 0; i < 40; ++i) {
        Post(WM_JOB_LOG, 0, 0, "\r\n->Warning: line " + std::to_string(i));
    }
    ASSERT_TRUE(WaitFor([this] { return Log().find("line 39") != std::string::npos; }));
    QScrollBar* bar = Page().Log()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(ProcessPageTest, ProgressSetsTheBarAndItsLabelAndStartsAtZeroOnEachActivation)
{
    ShowPage(ProcessRead);
    const std::pair<uintptr_t, int> values[] = {{37, 37}, {100, 100}, {0, 0}};
    for (const auto& [sent, shown] : values) {
        SCOPED_TRACE(sent);
        PostAndSettle(WM_JOB_PROGRESS, sent);
        EXPECT_EQ(Page().Progress()->value(), shown);
        EXPECT_EQ(Page().Percent()->text(), QStringLiteral("%1%").arg(sent));
    }
    PostAndSettle(WM_JOB_PROGRESS, 37);
    ASSERT_TRUE(Sheet().SetActivePage(2));
    EXPECT_EQ(Page().Progress()->value(), 0);
    EXPECT_EQ(Page().Percent()->text(), QStringLiteral("0%"));
}

TEST_F(ProcessPageTest, TheEndOfAJobTellsItsOutcomeAndOffersRepeatAndFinish)
{
    struct Case {
        ProcessKind process;
        uintptr_t failed;
        const char* message;
    };
    const Case cases[] = {
        {ProcessWrite, 0, "Запись  завершено успешно!"},
        {ProcessWrite, 1, "Запись Ошибка"},
        {ProcessRead, 0, "Чтение  завершено успешно!"},
        {ProcessRead, 1, "Чтение Ошибка"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        responder_ = std::make_unique<driver::ModalResponder>();
        ShowPage(c.process);
        EXPECT_EQ(ButtonText(kNext), Utf8("Отмена"));
        EXPECT_FALSE(Enabled(kBack));
        GetSession().jobState = JobIdle;
        PostAndSettle(WM_JOB_DONE, c.failed, 0);
        ASSERT_EQ(MessageTexts(), std::vector<std::string>{c.message});
        EXPECT_EQ(Responder().Messages()[0].caption, "Flashmate");
        struct ButtonState {
            int id;
            const char* text;
        };
        for (const ButtonState& button :
             {ButtonState{kBack, "Повторить"}, ButtonState{kNext, "Завершить"}, ButtonState{kCancel, "Выход"}}) {
            EXPECT_EQ(ButtonText(button.id), Utf8(button.text));
            EXPECT_TRUE(Enabled(button.id));
        }
        sheet_.reset();
    }
}

TEST_F(ProcessPageTest, RepeatGoesStraightBackToTheConnectPageAndFinishCloses)
{
    ShowPage(ProcessWrite, JobIdle);
    PostAndSettle(WM_JOB_DONE, 0, 0);
    Click(kBack);
    EXPECT_EQ(Sheet().GetActiveIndex(), 0);
    EXPECT_EQ(ButtonText(kNext), Utf8("Подключить"));

    ASSERT_TRUE(Sheet().SetActivePage(2));
    PostAndSettle(WM_JOB_DONE, 0, 0);
    Click(kNext);
    ASSERT_TRUE(WaitFor([this] { return Closed(); }));
    EXPECT_EQ(SavedSetting("Port"), 1);
}

TEST_F(ProcessPageTest, NextDuringTheTransferAsksTheJobToStopAndACancelledJobReturnsQuietly)
{
    ShowPage(ProcessWrite);
    Click(kNext);
    EXPECT_EQ(CancelRequested.load(), 1);
    EXPECT_EQ(Sheet().GetActiveIndex(), 2);
    EXPECT_TRUE(Sheet().isVisible());

    GetSession().jobState = JobIdle;
    PostAndSettle(WM_JOB_DONE, 1, 1);
    EXPECT_EQ(Sheet().GetActiveIndex(), 0);
    EXPECT_EQ(ButtonText(kNext), Utf8("Подключить"));
    EXPECT_TRUE(Responder().Messages().empty());
}

TEST_F(ProcessPageTest, WhileTheReceiverBurnsNothingClosesTheWizardOrPressesAButton)
{
    ShowPage(ProcessWrite);
    // The page locks itself as soon as the burn is announced, before the job is seen burning.
    PostAndSettle(WM_BURN_STARTED);
    for (int id : {kBack, kNext, kCancel}) {
        EXPECT_FALSE(Enabled(id));
    }
    const std::pair<const char*, std::function<void()>> attempts[] = {
        {"Esc", [this] { Type(Qt::Key_Escape); }},
        {"close box", [this] { Sheet().close(); }},
        {"Next", [this] { Click(kNext); }},
        {"Exit", [this] { Click(kCancel); }},
        {"Back", [this] { Click(kBack); }},
        {"Enter", [this] { Type(Qt::Key_Return); }},
    };
    for (const auto& [name, attempt] : attempts) {
        SCOPED_TRACE(name);
        attempt();
        GetSession().jobState = JobBurning;
        attempt();
        GetSession().jobState = JobTransferring;
        Settle();
        EXPECT_TRUE(Sheet().isVisible());
        EXPECT_EQ(Sheet().GetActiveIndex(), 2);
        EXPECT_EQ(CancelRequested.load(), 0);
    }
    EXPECT_EQ(ButtonText(kNext), Utf8("Отмена"));
    EXPECT_TRUE(Responder().Messages().empty());

    GetSession().jobState = JobIdle;
    PostAndSettle(WM_JOB_DONE, 0, 0);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Запись  завершено успешно!"});
    Type(Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([this] { return Closed(); }));
}

}  // namespace
