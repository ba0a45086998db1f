#include "capture.h"
#include "session_fixture.h"

#include "flashmate/errors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::SessionTest;
using testsupport::TempDir;

// Long enough for any message of a working job to arrive; only a broken one waits this long.
constexpr auto kArrival = 5s;
// A job that has been released ends at once; this is only the bound for a broken one.
constexpr auto kJobEnd = 10s;
// How often a test job looks at its flags.
constexpr auto kJobPollPause = 1ms;
// The shutdown's wait for a job that will not end: short, since it is sure to run out.
constexpr auto kHopelessWait = 20ms;
// Lets the consumer start waiting before the message is posted.
constexpr auto kPostDelay = 20ms;

class ReportingTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        SetMainWindow(&queue_);
    }

    JobMessage Next()
    {
        std::optional<JobMessage> message = queue_.Next(kArrival);
        EXPECT_TRUE(message.has_value());
        return message.value_or(JobMessage{});
    }

    // Nothing is waiting: every message a step posts has been posted by the time it returns.
    bool NothingQueued() { return !queue_.Next(0ms).has_value(); }

    JobMessageQueue queue_;
};

TEST(ReportingMessages, HaveTheirWindowMessageValues)
{
    EXPECT_EQ(WM_JOB_STATUS, 0x8064u);
    EXPECT_EQ(WM_JOB_LOG, 0x8065u);
    EXPECT_EQ(WM_JOB_PROGRESS, 0x8066u);
    EXPECT_EQ(WM_CONNECT_DONE, 0x8067u);
    EXPECT_EQ(WM_JOB_DONE, 0x8068u);
    EXPECT_EQ(WM_BURN_STARTED, 0x8069u);
}

TEST_F(ReportingTest, MessagesFromTheWorkerArriveInOrder)
{
    constexpr int kProgressSteps = 500;
    std::atomic<bool> go{false};
    ASSERT_TRUE(StartJob(
        [&] {
            while (!go) {
                std::this_thread::yield();
            }
            PostJobText("Открытие порта...", 1);
            UpgEmitMessage(0, "%s", "\r\n->Error: retry");
            for (int i = 0; i < kProgressSteps; ++i) {
                JobProgress(i % 101);
            }
            PostToMainWindow(WM_BURN_STARTED, 0, 0);
            PostToMainWindow(WM_JOB_DONE, 1, 1);
        },
        JobTransferring));
    UpgSetMessageCallback(LogMessage);
    go = true;

    JobMessage status = Next();
    EXPECT_EQ(status.message, WM_JOB_STATUS);
    EXPECT_EQ(status.text, "Открытие порта...");
    JobMessage log = Next();
    EXPECT_EQ(log.message, WM_JOB_LOG);
    EXPECT_EQ(log.text, "\r\n->Error: retry");
    for (int i = 0; i < kProgressSteps; ++i) {
        JobMessage progress = Next();
        ASSERT_EQ(progress.message, WM_JOB_PROGRESS);
        ASSERT_EQ(progress.wParam, static_cast<uintptr_t>(i % 101));
    }
    EXPECT_EQ(Next().message, WM_BURN_STARTED);
    JobMessage done = Next();
    EXPECT_EQ(done.message, WM_JOB_DONE);
    EXPECT_EQ(done.wParam, 1u);
    EXPECT_EQ(done.lParam, 1);
    EXPECT_TRUE(WaitForJobEnd(kJobEnd));
    EXPECT_TRUE(NothingQueued());
}

TEST_F(ReportingTest, WarningLevelDropsLowerLevels)
{
    struct Case {
        uint32_t warningLevel;
        std::vector<std::string> shown;
    } cases[] = {
        {0, {"retry", "warning"}},
        {1, {"warning"}},
        {2, {"warning"}},
        {3, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.warningLevel);
        GetSession().warningLevel = c.warningLevel;
        LogMessage(0, "%s", "retry");
        LogMessage(2, "%s", "warning");
        for (const std::string& text : c.shown) {
            EXPECT_EQ(Next().text, text);
        }
        EXPECT_TRUE(NothingQueued());
    }
}

TEST_F(ReportingTest, ReportErrorPostsTheCodesTextAsALogLine)
{
    struct Case {
        int32_t code;
        std::string text;  // empty: nothing is posted
    } cases[] = {
        {UpgErrCancelled, "Отменено пользователем   \r\n"},
        {UpgErrReceiverBase, " Ошибка проверки командной строки!     \r\n"},
        {9999, ""},
        {-1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ReportError(c.code);
        if (!c.text.empty()) {
            JobMessage message = Next();
            EXPECT_EQ(message.message, WM_JOB_LOG);
            EXPECT_EQ(message.text, c.text);
        }
        EXPECT_TRUE(NothingQueued());
    }
}

TEST_F(ReportingTest, LongTextsTravelWhole)
{
    std::string cyrillic;
    for (int i = 0; i < 150; ++i) {
        cyrillic += "Ж";
    }
    ASSERT_EQ(cyrillic.size(), 300u);
    const std::string longer(2000, 'x');

    PostJobText(cyrillic.c_str(), 1);
    LogMessage(0, "%s", cyrillic.c_str());
    LogMessage(0, "%s|%d", longer.c_str(), 7);

    JobMessage status = Next();
    EXPECT_EQ(status.message, WM_JOB_STATUS);
    EXPECT_EQ(status.text, cyrillic);
    EXPECT_EQ(Next().text, cyrillic);
    EXPECT_EQ(Next().text, longer + "|7");
}

TEST_F(ReportingTest, NothingIsPostedWithoutAMainWindow)
{
    SetMainWindow(nullptr);
    PostJobText("lost", 1);
    LogMessage(0, "%s", "lost");
    ReportError(UpgErrCancelled);
    ReportProgress(50);
    PostToMainWindow(WM_CONNECT_DONE, 1, 0);
    SetMainWindow(&queue_);
    EXPECT_TRUE(NothingQueued());
    ReportProgress(60);
    EXPECT_EQ(Next().wParam, 60u);
}

TEST_F(ReportingTest, OneJobAtATime)
{
    std::atomic<bool> release{false};
    std::atomic<int> runs{0};
    auto job = [&] {
        ++runs;
        while (!release) {
            std::this_thread::sleep_for(kJobPollPause);
        }
    };
    CancelRequested = 1;
    ASSERT_TRUE(StartJob(job, JobConnecting));
    EXPECT_EQ(GetSession().jobState.load(), JobConnecting);
    EXPECT_EQ(CancelRequested.load(), 0);
    EXPECT_FALSE(StartJob(job, JobTransferring));
    EXPECT_EQ(GetSession().jobState.load(), JobConnecting);

    release = true;
    ASSERT_TRUE(WaitForJobEnd(kJobEnd));
    EXPECT_EQ(runs.load(), 1);
    // The job never set JobIdle itself; its end did.
    EXPECT_EQ(GetSession().jobState.load(), JobIdle);

    ASSERT_TRUE(StartJob(job, JobTransferring));
    ASSERT_TRUE(WaitForJobEnd(kJobEnd));
    EXPECT_EQ(runs.load(), 2);
}

TEST_F(ReportingTest, ShutdownCancelsAJobThatEndsOnCancel)
{
    UpgradeSession& session = GetSession();
    session.stbToolMode = 2;
    PortNumber = 5;
    ASSERT_TRUE(StartJob(
        [] {
            while (JobCancelled() != 1) {
                std::this_thread::sleep_for(kJobPollPause);
            }
            ReportError(UpgErrCancelled);
        },
        JobTransferring));

    EXPECT_TRUE(ShutdownSession());
    EXPECT_EQ(TempDir::Read(settingsPath_), "[Config]\nPort=5\nBaud=115200\nParity=2\n");
    EXPECT_EQ(Next().text, "Отменено пользователем   \r\n");
    // A new session, with nothing of the old one.
    EXPECT_EQ(GetSession().stbToolMode, 0);
    EXPECT_EQ(GetSession().jobState.load(), JobIdle);
}

TEST_F(ReportingTest, ShutdownLeavesAJobThatDoesNotEndItsSession)
{
    UpgradeSession& session = GetSession();
    session.stbToolMode = 2;
    PortNumber = 6;
    std::atomic<bool> release{false};
    ASSERT_TRUE(StartJob(
        [&] {
            while (!release) {
                std::this_thread::sleep_for(kJobPollPause);
            }
            // Still able to use the session it started with.
            GetSession().stbToolMode = 3;
        },
        JobTransferring));

    EXPECT_FALSE(ShutdownSession(kHopelessWait));
    EXPECT_EQ(CancelRequested.load(), 1);
    EXPECT_EQ(TempDir::Read(settingsPath_), "[Config]\nPort=6\nBaud=115200\nParity=2\n");
    EXPECT_EQ(&GetSession(), &session);
    EXPECT_FALSE(DestroySession());
    EXPECT_FALSE(StartJob([] {}, JobConnecting));

    release = true;
    ASSERT_TRUE(WaitForJobEnd(kJobEnd));
    EXPECT_EQ(session.stbToolMode, 3);
    EXPECT_EQ(session.jobState.load(), JobIdle);
    EXPECT_TRUE(DestroySession());
}

TEST_F(ReportingTest, ShutdownWithoutAJobSavesAndDestroys)
{
    GetSession().stbToolMode = 1;
    EXPECT_TRUE(ShutdownSession());
    EXPECT_EQ(TempDir::Read(settingsPath_), "[Config]\nPort=1\nBaud=115200\nParity=2\n");
    EXPECT_EQ(GetSession().stbToolMode, 0);
}

TEST(JobMessageQueue, WaitsForTheNextMessage)
{
    JobMessageQueue queue;
    EXPECT_FALSE(queue.Next(0ms).has_value());
    std::thread poster([&] {
        std::this_thread::sleep_for(kPostDelay);
        queue.Post(JobMessage{WM_JOB_PROGRESS, 42, 0, {}});
    });
    std::optional<JobMessage> message = queue.Next(kArrival);
    poster.join();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->wParam, 42u);
}

}  // namespace
