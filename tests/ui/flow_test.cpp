// Whole flows through the wizard against simulated receivers, driven as a person would.
#include "capture.h"
#include "wizard_fixture.h"

#include "sim/image.h"
#include "tools/screenshots.h"

#include <QImage>
#include <QLabel>

namespace {

using namespace uitest;

constexpr uint64_t kFlashSeed = 1;
constexpr uint64_t kImageSeed = 2;
constexpr const char* kBootLoaderVersion = "BL 1.05";
constexpr uint32_t kFlashSize = 0x200000;

class FlowTest : public WizardTest {
protected:
    static sim::ReceiverConfig Receiver()
    {
        sim::ReceiverConfig config;
        config.flash = sim::SampleFlash(kFlashSeed, kFlashSize, kBootLoaderVersion);
        return config;
    }

    std::string SampleImage()
    {
        image_ = sim::BuildImage(sim::SampleLayout(kImageSeed, kBootLoaderVersion));
        return dir_.Write("sample.abs", image_);
    }

    // Connect on COM1 for a write or a read, as far as the select page.
    void Connect(ProcessKind process)
    {
        ConnectList(CPageConnect::ProcessListId)->setCurrentIndex(static_cast<int>(process));
        Click(kNext);
        ASSERT_TRUE(WaitFor([this] { return Sheet().GetActiveIndex() == 1 && driver::NoJobRunning(); }))
            << Sheet().ConnectPage().Log()->Text();
    }

    bool MessagesSeen(size_t count)
    {
        return WaitFor([this, count] { return Responder().Messages().size() >= count && driver::NoJobRunning(); });
    }

    CPageProcess& Progress() { return Sheet().ProcessPage(); }
    const std::string& ProcessLog() { return Progress().Log()->Text(); }

    std::vector<uint8_t> image_;
};

struct WriteCase {
    const char* name;
    bool burnFails;
    const char* message;
};

class WriteFlowTest : public FlowTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(WriteFlowTest, AWholeImageIsWrittenBurntAndReported)
{
    sim::ReceiverConfig config = Receiver();
    config.burn.fail = GetParam().burnFails;
    sim::Receiver& receiver = StartReceiver(config);
    const std::vector<uint8_t> before = receiver.FlashContents();
    OpenWizard();

    Connect(ProcessWrite);
    EXPECT_EQ(Sheet().windowTitle(), Utf8("Flashmate Version:2.0.0c. 2008-01-25 Protocol version: 3.0"));
    DoubleClick(KeyAll, SampleImage());
    ASSERT_TRUE(Enabled(kNext));
    Click(kNext);
    EXPECT_EQ(Sheet().GetActiveIndex(), 2);

    ASSERT_TRUE(MessagesSeen(1)) << ProcessLog();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{GetParam().message});
    EXPECT_NE(ProcessLog().find("Загрузка всех блоков\r\nИдет запись. НЕ ВЫКЛЮЧАТЬ!!!"), std::string::npos) << ProcessLog();
    EXPECT_EQ(ButtonText(kBack), Utf8("Повторить"));
    EXPECT_EQ(ButtonText(kNext), Utf8("Завершить"));

    const std::vector<uint8_t> after = receiver.FlashContents();
    if (GetParam().burnFails) {
        EXPECT_EQ(after, before);
    } else {
        ASSERT_GE(after.size(), image_.size());
        EXPECT_TRUE(std::equal(image_.begin(), image_.end(), after.begin()));
        EXPECT_EQ(Progress().Progress()->value(), 100);
        EXPECT_EQ(Progress().Percent()->text(), QStringLiteral("100%"));
    }

    // Repeat: back to the connect page, where a new connect starts the choice afresh.
    Click(kBack);
    ASSERT_EQ(Sheet().GetActiveIndex(), 0);
    EXPECT_EQ(ButtonText(kNext), Utf8("Подключить"));
    EXPECT_EQ(Sheet().windowTitle(), Utf8("Flashmate Version:2.0.0c. 2008-01-25 Protocol version: 3.0"));
    Connect(ProcessWrite);
    EXPECT_TRUE(FileShown(KeyAll).isEmpty());
    EXPECT_FALSE(Enabled(kNext));
}

const WriteCase kWriteCases[] = {
    {"Burnt", false, "Запись  завершено успешно!"},
    {"BurnFails", true, "Запись Ошибка"},
};
INSTANTIATE_TEST_SUITE_P(Flows, WriteFlowTest, testing::ValuesIn(kWriteCases), testsupport::CaseName());

TEST_F(FlowTest, SingleChunksAreReadIntoFiles)
{
    sim::Receiver& receiver = StartReceiver(Receiver());
    OpenWizard();
    Connect(ProcessRead);
    EXPECT_EQ(RowOf(KeyAllNoBootLoader), -1);

    const std::pair<int32_t, std::string> reads[] = {{2, dir_.File("logo.m2v")}, {3, dir_.File("defaultdb.ddf")}};
    for (const auto& [key, path] : reads) {
        DoubleClick(key, path);
        ASSERT_EQ(FileShown(key).toStdString(), path);
    }
    Click(kNext);
    ASSERT_TRUE(MessagesSeen(1)) << ProcessLog();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Чтение  завершено успешно!"});

    const std::vector<uint8_t> flash = receiver.FlashContents();
    for (const auto& [key, path] : reads) {
        SCOPED_TRACE(path);
        uint32_t offset = 0;
        uint32_t length = 0;
        ASSERT_TRUE(ChunkFlashRange(&ReceiverChunks, static_cast<uint32_t>(key), &offset, &length));
        const std::string text = testsupport::TempDir::Read(path);
        const std::vector<uint8_t> file(text.begin(), text.end());
        ASSERT_EQ(file.size(), length);
        EXPECT_TRUE(std::equal(file.begin(), file.end(), flash.begin() + offset));
    }
    EXPECT_NE(ProcessLog().find("Чтение блока: LOGO "), std::string::npos) << ProcessLog();

    Click(kNext);
    ASSERT_TRUE(WaitFor([this] { return Closed(); }));
}

TEST_F(FlowTest, CancellingTheTransferReturnsToTheConnectPageWithoutAMessage)
{
    sim::ReceiverConfig config = Receiver();
    // Slow enough that the transfer is still running when Next is pressed.
    config.baudRate = 115200;
    sim::Receiver& receiver = StartReceiver(config);
    const std::vector<uint8_t> before = receiver.FlashContents();
    OpenWizard();
    Connect(ProcessWrite);
    DoubleClick(KeyAll, SampleImage());
    Click(kNext);
    ASSERT_TRUE(WaitFor([this] { return Progress().Progress()->value() > 0; })) << ProcessLog();

    Click(kNext);
    ASSERT_TRUE(WaitFor([this] { return Sheet().GetActiveIndex() == 0 && driver::NoJobRunning(); }));
    Settle();
    EXPECT_TRUE(Responder().Messages().empty());
    EXPECT_EQ(ButtonText(kNext), Utf8("Подключить"));
    EXPECT_NE(ProcessLog().find("Отменено пользователем"), std::string::npos) << ProcessLog();
    EXPECT_EQ(receiver.FlashContents(), before);
}

TEST_F(FlowTest, WhileTheReceiverBurnsTheWizardCannotBeLeft)
{
    sim::ReceiverConfig config = Receiver();
    // A burn of about four seconds.
    config.burn.kibPerReport = 256;
    config.burn.reportInterval = 500ms;
    StartReceiver(config);
    OpenWizard();
    Connect(ProcessWrite);
    DoubleClick(KeyAll, SampleImage());
    Click(kNext);
    ASSERT_TRUE(WaitFor([this] { return GetSession().jobState.load() == JobBurning; })) << ProcessLog();
    ASSERT_TRUE(WaitFor([this] { return !Enabled(kNext); }));

    Type(Qt::Key_Escape);
    Sheet().close();
    for (int id : {kBack, kNext, kCancel}) {
        EXPECT_FALSE(Enabled(id));
        Click(id);
    }
    Settle();
    EXPECT_EQ(GetSession().jobState.load(), JobBurning) << "the burn ended too soon to tell";
    EXPECT_TRUE(Sheet().isVisible());
    EXPECT_EQ(Sheet().GetActiveIndex(), 2);
    EXPECT_EQ(CancelRequested.load(), 0);

    ASSERT_TRUE(MessagesSeen(1)) << ProcessLog();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Запись  завершено успешно!"});
    // Once the job has ended, the wizard closes again.
    Type(Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([this] { return Closed(); }));
}

TEST_F(FlowTest, EnterDuringTheConnectCancelsItAndThePageKeepsTheLog)
{
    sim::ReceiverConfig config = Receiver();
    config.handshakeFaults.assign(10000, sim::HandshakeFault::Silence);
    StartReceiver(config);
    OpenWizard();
    Click(kNext);
    ASSERT_TRUE(WaitFor([this] { return Sheet().ConnectPage().StatusLine()->text() == Utf8("Синхронизация..."); }));
    EXPECT_EQ(ButtonText(kNext), Utf8("Отмена"));

    // Enter presses Next, which cancels while the connect runs.
    Type(Qt::Key_Return);
    EXPECT_EQ(CancelRequested.load(), 1);
    ASSERT_TRUE(WaitFor([this] {
        return Sheet().ConnectPage().Log()->Text().find("Отменено пользователем   \r\n") != std::string::npos &&
               driver::NoJobRunning();
    }));
    EXPECT_EQ(Sheet().ConnectPage().Log()->Text(),
              "Открытие порта...\r\nСинхронизация...\r\nОтменено пользователем   \r\n");
    EXPECT_EQ(ButtonText(kNext), Utf8("Подключить"));
    EXPECT_EQ(Sheet().GetActiveIndex(), 0);
    EXPECT_TRUE(Sheet().ConnectPage().Log()->isVisible());
    EXPECT_EQ(Sheet().windowTitle(), Utf8("Flashmate Version:2.0.0c. 2008-01-25"));
}

class ScreenshotTest : public testsupport::SessionTest {};

TEST_F(ScreenshotTest, EveryPageIsDrawnInItsMainStates)
{
    std::string error;
    const std::vector<std::string> files = RenderScreenshots(dir_.Path() + "pictures", &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(files.size(), 14u);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const QImage picture(QString::fromStdString(file));
        EXPECT_GT(picture.width(), 100);
        EXPECT_GT(picture.height(), 0);
    }
}

}  // namespace
