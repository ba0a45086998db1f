// The three jobs end to end: driven through the session as the wizard drives them, against the
// simulated receiver of either generation, judged by what the main window received and by what
// the receiver holds afterwards.
#include "capture.h"
#include "session_fixture.h"

#include "flashmate/bytes.h"
#include "flashmate/chunk_files.h"
#include "flashmate/crc32.h"
#include "flashmate/jobs.h"
#include "flashmate/upgrade.h"
#include "sim/image.h"
#include "sim/receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using testsupport::TempDir;

constexpr uint32_t kBootLoader = 0xE3000010u;
constexpr uint32_t kMainCode = 0x01FE0100u;
constexpr uint32_t kUserDb = 0x04FB0100u;

// A small receiver: boot loader, main code with a CRC, user database as the last chunk.
std::vector<sim::ChunkSpec> SmallLayout(bool mainHasCrc = true)
{
    return {
        {kBootLoader, "BOOT", "BL 1.05", "2008-01-10", sim::FirmwareLikeBytes(0x3000, 11), 0x10000, false},
        {kMainCode, "MAINCODE", "2.0.0c", "2008-01-25", sim::FirmwareLikeBytes(0x9000, 12), 0x10000, mainHasCrc},
        {kUserDb, "USERDB", "1.0", "2008-01-20", sim::FirmwareLikeBytes(0x3F0 - 112, 13), 0, false},
    };
}

Bytes Flash(const std::vector<sim::ChunkSpec>& layout, size_t size = 0x40000)
{
    Bytes flash = sim::BuildImage(layout);
    flash.resize(size, 0xFF);
    return flash;
}

Bytes Slice(const Bytes& bytes, size_t offset, size_t count)
{
    return Bytes(bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(offset + count));
}

class JobsTest : public testsupport::SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        UpgSetMessageCallback(LogMessage);
        SetMainWindow(&window_);
    }

    void TearDown() override
    {
        WaitForJobEnd(10s);
        if (receiver_) {
            receiver_->Stop();
        }
        SessionTest::TearDown();
    }

    void StartReceiver(sim::ReceiverConfig config)
    {
        receiver_ = std::make_unique<sim::Receiver>(std::move(config));
        std::string error;
        ASSERT_TRUE(receiver_->Start(&error)) << error;
        UpgMapPort(1, receiver_->DevicePath().c_str());
        PortNumber = 1;
    }

    // Runs one job to its end message and the end of its thread; returns all it posted.
    std::vector<JobMessage> Run(bool (*start)(), uint32_t endMessage)
    {
        std::vector<JobMessage> posted;
        EXPECT_TRUE(start());
        while (auto message = window_.Next(60s)) {
            posted.push_back(*message);
            if (message->message == endMessage) {
                break;
            }
        }
        EXPECT_TRUE(WaitForJobEnd(10s));
        return posted;
    }

    std::vector<JobMessage> Connect() { return Run(StartConnectJob, WM_CONNECT_DONE); }
    std::vector<JobMessage> Process() { return Run(StartProcessJob, WM_JOB_DONE); }

    // Runs the process job and cancels it as soon as its first progress above 0 arrives.
    std::vector<JobMessage> ProcessCancelledMidway()
    {
        EXPECT_TRUE(StartProcessJob());
        std::vector<JobMessage> posted;
        while (auto message = window_.Next(60s)) {
            posted.push_back(*message);
            if (message->message == WM_JOB_PROGRESS && message->wParam > 0) {
                CancelRequested = 1;
            }
            if (message->message == WM_JOB_DONE) {
                break;
            }
        }
        EXPECT_TRUE(WaitForJobEnd(10s));
        return posted;
    }

    static const JobMessage* Find(const std::vector<JobMessage>& posted, uint32_t message)
    {
        const auto it = std::find_if(posted.begin(), posted.end(), [&](const JobMessage& m) { return m.message == message; });
        return it == posted.end() ? nullptr : &*it;
    }

    static std::vector<std::string> Texts(const std::vector<JobMessage>& posted, uint32_t message)
    {
        std::vector<std::string> texts;
        for (const JobMessage& m : posted) {
            if (m.message == message) {
                texts.push_back(m.text);
            }
        }
        return texts;
    }

    static std::string Log(const std::vector<JobMessage>& posted)
    {
        std::string log;
        for (const std::string& text : Texts(posted, WM_JOB_LOG)) {
            log += text;
        }
        return log;
    }

    // Connects and binds the files; the process job is then ready to start.
    void ConnectFor(uint32_t process)
    {
        const std::vector<JobMessage> posted = Connect();
        const JobMessage* done = Find(posted, WM_CONNECT_DONE);
        ASSERT_NE(done, nullptr);
        ASSERT_EQ(done->wParam, 1u) << Log(posted);
        GetSession().processKind = process;
        ResetSelections(GetSession());
    }

    void Bind(int32_t key, const std::string& path)
    {
        const ChunkFileOutcome outcome = BindChunkFile(key, path);
        ASSERT_TRUE(outcome.Accepted()) << outcome.message;
        if (key < 0) {
            KeepOnlyWholeImage(key);
        }
    }

    // The commands the receiver took after the handshake, without their carriage returns.
    std::vector<std::string> CommandsAfterHandshake() const
    {
        std::vector<std::string> commands;
        for (std::string command : receiver_->Commands()) {
            if (!command.empty() && command.back() == '\r') {
                command.pop_back();
            }
            if (command.rfind("comtest", 0) == 0) {
                commands.clear();
                continue;
            }
            commands.push_back(command);
        }
        return commands;
    }

    static bool Has(const std::vector<std::string>& commands, const std::string& prefix)
    {
        return std::any_of(commands.begin(), commands.end(),
                           [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }

    JobMessageQueue window_;
    std::unique_ptr<sim::Receiver> receiver_;
    TempDir files_;
};

// ---- connect ----

struct ConnectCase {
    const char* name;
    int32_t receiverVersion;
    uint32_t transferFormat2;
    uint32_t expectedVersion;
};

class ConnectJobTest : public JobsTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectJobTest, FindsTheProtocolTheTableAndTheBootLoader)
{
    const ConnectCase& c = GetParam();
    StartReceiver({.protocolVersion = c.receiverVersion, .flash = sim::SampleFlash(1, 0x200000, "BL 7.7")});
    GetSession().transferFormat2 = c.transferFormat2;
    ParseChunkMask(GetSession(), "E3000010,04FB0100,");

    const std::vector<JobMessage> posted = Connect();
    ASSERT_NE(Find(posted, WM_CONNECT_DONE), nullptr);
    EXPECT_EQ(Find(posted, WM_CONNECT_DONE)->wParam, 1u) << Log(posted);
    EXPECT_EQ(Texts(posted, WM_JOB_STATUS),
              (std::vector<std::string>{"Открытие порта...", "Синхронизация...", "Получение версии протокола и блоков..."}));
    EXPECT_EQ(GetSession().protocolVersion, c.expectedVersion);
    EXPECT_EQ(UpgGetProtocolVersion(), static_cast<int32_t>(c.expectedVersion));
    EXPECT_STREQ(GetSession().bootLoaderVersion, "BL 7.7");
    ASSERT_EQ(ReceiverChunks.count, 5u);
    const uint32_t masked[] = {1, 0, 0, 0, 1};
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(ReceiverChunks.chunks[i].masked, masked[i]) << i;
    }
    EXPECT_STREQ(ReceiverChunks.chunks[1].name, "MAINCODE");
    EXPECT_EQ(GetSession().jobState.load(), JobIdle);
    EXPECT_FALSE(UpgPort().IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Receivers, ConnectJobTest,
    ::testing::Values(ConnectCase{"packet_protocol", 48, 1, 48},
                      ConnectCase{"packet_protocol_reporting_0x31", 0x31, 1, 0x31},
                      ConnectCase{"legacy_without_version_assumes_32", 32, 1, 32},
                      ConnectCase{"legacy_without_version_assumes_16", 32, 0, 16},
                      ConnectCase{"legacy_with_version_marker", 33, 1, 33}),
    testsupport::CaseName());

TEST_F(JobsTest, APortThatCannotBeOpenedSaysWhy)
{
    UpgMapPort(4, "/dev/flashmate-no-such-port");
    PortNumber = 4;
    const std::vector<JobMessage> posted = Connect();
    EXPECT_EQ(Find(posted, WM_CONNECT_DONE)->wParam, 0u);
    const std::string log = Log(posted);
    EXPECT_EQ(log.rfind("Невозможно открыть порт!    \r\n", 0), 0u) << log;
    EXPECT_NE(log.find("no such device: /dev/flashmate-no-such-port"), std::string::npos) << log;
    EXPECT_EQ(GetSession().protocolVersion, 0u);
}

TEST_F(JobsTest, CancelDuringTheHandshake)
{
    StartReceiver({.protocolVersion = 48, .handshakeFaults = std::vector<sim::HandshakeFault>(100, sim::HandshakeFault::Silence)});
    ASSERT_TRUE(StartConnectJob());
    std::vector<JobMessage> posted;
    while (auto message = window_.Next(30s)) {
        posted.push_back(*message);
        if (message->text == "Синхронизация...") {
            CancelRequested = 1;
        }
        if (message->message == WM_CONNECT_DONE) {
            break;
        }
    }
    ASSERT_TRUE(WaitForJobEnd(10s));
    EXPECT_EQ(Find(posted, WM_CONNECT_DONE)->wParam, 0u);
    EXPECT_EQ(Log(posted), "Отменено пользователем   \r\n");
    EXPECT_EQ(GetSession().protocolVersion, 0u);
    EXPECT_FALSE(UpgPort().IsOpen());
}

// ---- write ----

class WriteJobTest : public JobsTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(WriteJobTest, WholeImage)
{
    StartReceiver({.protocolVersion = GetParam(), .flash = Flash(SmallLayout())});
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessWrite));
    std::vector<sim::ChunkSpec> newer = SmallLayout();
    newer[1].data = sim::FirmwareLikeBytes(0xA000, 99);
    const Bytes image = sim::BuildImage(newer);
    Bind(KeyAll, files_.Write("new.abs", image));

    const std::vector<JobMessage> posted = Process();
    ASSERT_EQ(Find(posted, WM_JOB_DONE)->wParam, 0u) << Log(posted);
    EXPECT_EQ(Find(posted, WM_JOB_DONE)->lParam, 0);
    EXPECT_NE(Find(posted, WM_BURN_STARTED), nullptr);
    EXPECT_EQ(Slice(receiver_->FlashContents(), 0, image.size()), image);
    EXPECT_EQ(BurnTotal, image.size());
    const std::vector<std::string> commands = CommandsAfterHandshake();
    EXPECT_EQ(commands.front(), "address 0");
    EXPECT_EQ(commands.back(), "reboot");
}

TEST_P(WriteJobTest, OneChunkTransferredTheOthersMoved)
{
    const Bytes before = Flash(SmallLayout());
    StartReceiver({.protocolVersion = GetParam(), .flash = before});
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessWrite));
    const Bytes raw = sim::FirmwareLikeBytes(0x2000, 7);
    Bind(1, files_.Write("main.bin", raw));

    const std::vector<JobMessage> posted = Process();
    ASSERT_EQ(Find(posted, WM_JOB_DONE)->wParam, 0u) << Log(posted);
    const std::vector<std::string> commands = CommandsAfterHandshake();
    ASSERT_GE(commands.size(), 6u);
    EXPECT_EQ(commands[0], "address 0");
    EXPECT_EQ(commands[1], "move 3808428048 65536");
    EXPECT_TRUE(commands[2].rfind("transfer", 0) == 0) << commands[2];
    EXPECT_EQ(commands[3], "move 83558656 0");
    EXPECT_EQ(commands[4], "burn");
    EXPECT_EQ(commands[5], "reboot");
    EXPECT_EQ(BurnTotal, 0x10000u);
    EXPECT_EQ(Texts(posted, WM_JOB_STATUS)[3], "Пропуск блока: BOOT");
    EXPECT_EQ(Texts(posted, WM_JOB_STATUS)[4], "Загрузка блока:MAINCODE");

    // The raw data got the receiver's header, its length (data + 112) and the CRC over both.
    const Bytes flash = receiver_->FlashContents();
    Bytes expected = Slice(before, 0x10000, 128);
    PutBe32(&expected[4], 0x2070);
    expected.insert(expected.end(), raw.begin(), raw.end());
    expected.resize(0x10000, 0xFF);
    std::fill(expected.begin() + 64, expected.begin() + 128, 0xFF);
    PutBe32(&expected[12], Crc32Compute(Crc32Start, expected.data() + 16, 0x2070));
    EXPECT_EQ(Slice(flash, 0x10000, 0x10000), expected);
    EXPECT_EQ(Slice(flash, 0, 0x10000), Slice(before, 0, 0x10000)) << "the boot loader was kept";
    EXPECT_EQ(Slice(flash, 0x20000, 0x400), Slice(before, 0x20000, 0x400)) << "the user database was kept";
}

TEST_P(WriteJobTest, RawDataForAChunkWithoutCrcKeepsTheReceiversHeader)
{
    const Bytes before = Flash(SmallLayout(false));
    StartReceiver({.protocolVersion = GetParam(), .flash = before});
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessWrite));
    const Bytes raw = sim::FirmwareLikeBytes(0x2000, 8);
    Bind(1, files_.Write("main.bin", raw));

    const std::vector<JobMessage> posted = Process();
    ASSERT_EQ(Find(posted, WM_JOB_DONE)->wParam, 0u) << Log(posted);
    Bytes expected = Slice(before, 0x10000, 128);
    std::fill(expected.begin() + 64, expected.end(), 0xFF);
    expected.insert(expected.end(), raw.begin(), raw.end());
    expected.resize(0x10000, 0xFF);
    EXPECT_EQ(GetBe32(&expected[12]), ChunkNoCrc);
    EXPECT_EQ(Slice(receiver_->FlashContents(), 0x10000, 0x10000), expected);
}

TEST_P(WriteJobTest, TheLastChunkIsSentWithItsLengthAndHeader)
{
    const Bytes before = Flash(SmallLayout());
    StartReceiver({.protocolVersion = GetParam(), .flash = before});
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessWrite));
    const Bytes raw(0x100, 0x42);
    Bind(2, files_.Write("user.udf", raw));

    const std::vector<JobMessage> posted = Process();
    ASSERT_EQ(Find(posted, WM_JOB_DONE)->wParam, 0u) << Log(posted);
    EXPECT_EQ(BurnTotal, 0x400u);
    Bytes expected = Slice(before, 0x20000, 128);
    std::fill(expected.begin() + 64, expected.end(), 0xFF);
    expected.insert(expected.end(), raw.begin(), raw.end());
    expected.resize(0x400, 0xFF);
    EXPECT_EQ(Slice(receiver_->FlashContents(), 0x20000, 0x400), expected);
}

TEST_P(WriteJobTest, ImageWithoutTheBootLoader)
{
    const Bytes before = Flash(SmallLayout());
    StartReceiver({.protocolVersion = GetParam(), .flash = before});
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessWrite));
    std::vector<sim::ChunkSpec> newer = SmallLayout();
    newer[0].data = Bytes(0x100, 0x11);  // a boot loader that must not be sent
    newer[1].data = sim::FirmwareLikeBytes(0xB000, 5);
    const Bytes image = sim::BuildImage(newer);
    Bind(KeyAllNoBootLoader, files_.Write("noboot.abs", image));

    const std::vector<JobMessage> posted = Process();
    ASSERT_EQ(Find(posted, WM_JOB_DONE)->wParam, 0u) << Log(posted);
    EXPECT_EQ(CommandsAfterHandshake().front(), "address 65536");
    EXPECT_EQ(BurnTotal, image.size() - 0x10000);
    const Bytes flash = receiver_->FlashContents();
    EXPECT_EQ(Slice(flash, 0, 0x10000), Slice(before, 0, 0x10000));
    EXPECT_EQ(Slice(flash, 0x10000, image.size() - 0x10000), Slice(image, 0x10000, image.size() - 0x10000));
}

TEST_P(WriteJobTest, AnImageNoLongerThanTheBootLoaderIsRefusedBeforeAnythingIsSent)
{
    StartReceiver({.protocolVersion = GetParam(), .flash = Flash(SmallLayout())});
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessWrite));
    Bind(KeyAllNoBootLoader, files_.Write("short.abs", Bytes(0x10000, 0x5A)));

    const std::vector<JobMessage> posted = Process();
    EXPECT_EQ(Find(posted, WM_JOB_DONE)->wParam, 1u);
    EXPECT_NE(Log(posted).find("записывать нечего"), std::string::npos) << Log(posted);
    EXPECT_TRUE(CommandsAfterHandshake().empty());
}

TEST_P(WriteJobTest, CancelDuringATransferStopsBeforeTheBurn)
{
    const Bytes before = Flash(SmallLayout());
    // Paced, so that the transfer lasts long enough to be cancelled in the middle.
    StartReceiver({.protocolVersion = GetParam(), .flash = before, .baudRate = 115200});
    BaudRate = 115200;
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessWrite));
    Bind(1, files_.Write("main.bin", sim::FirmwareLikeBytes(0xF000, 3)));
    Bind(2, files_.Write("user.udf", Bytes(0x100, 0x42)));

    const std::vector<JobMessage> posted = ProcessCancelledMidway();
    const JobMessage* done = Find(posted, WM_JOB_DONE);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->wParam, 1u);
    EXPECT_EQ(done->lParam, 1);
    EXPECT_EQ(Log(posted), "Отменено пользователем   \r\n");
    EXPECT_EQ(Find(posted, WM_BURN_STARTED), nullptr);
    const std::vector<std::string> commands = CommandsAfterHandshake();
    EXPECT_FALSE(Has(commands, "burn"));
    EXPECT_FALSE(Has(commands, "reboot"));
    EXPECT_FALSE(Has(commands, "move 83558656"));
    EXPECT_EQ(receiver_->FlashContents(), before);
}

INSTANTIATE_TEST_SUITE_P(Generations, WriteJobTest, ::testing::Values(48, 32),
                         [](const ::testing::TestParamInfo<int32_t>& p) {
                             return p.param >= 48 ? std::string("packet") : std::string("legacy");
                         });

// ---- read ----

class ReadJobTest : public JobsTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(ReadJobTest, TheWholeFlash)
{
    const Bytes flash = Flash(SmallLayout());
    StartReceiver({.protocolVersion = GetParam(), .flash = flash});
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessRead));
    const std::string path = files_.File("flash.abs");
    Bind(KeyAll, path);

    const std::vector<JobMessage> posted = Process();
    ASSERT_EQ(Find(posted, WM_JOB_DONE)->wParam, 0u) << Log(posted);
    EXPECT_EQ(Texts(posted, WM_JOB_STATUS).back(), "Чтение всех блоков");
    const std::string saved = TempDir::Read(path);
    EXPECT_EQ(Bytes(saved.begin(), saved.end()), flash);
    EXPECT_FALSE(Has(CommandsAfterHandshake(), "burn"));
}

TEST_P(ReadJobTest, ChunksEachIntoItsFileEvenWhenOneFails)
{
    const Bytes flash = Flash(SmallLayout());
    StartReceiver({.protocolVersion = GetParam(), .flash = flash});
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessRead));
    Bind(0, files_.File("no-such-folder/boot.abs"));
    const std::string mainPath = files_.File("main.bin");
    Bind(1, mainPath);

    const std::vector<JobMessage> posted = Process();
    EXPECT_EQ(Find(posted, WM_JOB_DONE)->wParam, 1u) << "a chunk that could not be saved fails the job";
    EXPECT_EQ(Log(posted), "Файл не открыт\r\n");
    const std::vector<std::string> statuses = Texts(posted, WM_JOB_STATUS);
    EXPECT_EQ(statuses[statuses.size() - 2], "Чтение блока: BOOT ");
    EXPECT_EQ(statuses.back(), "Чтение блока: MAINCODE ");
    const std::string saved = TempDir::Read(mainPath);
    EXPECT_EQ(Bytes(saved.begin(), saved.end()), Slice(flash, 0x10080, 0x10000 - 128));
}

TEST_P(ReadJobTest, ACancelledDumpLeavesTheOldFileAsItWas)
{
    StartReceiver({.protocolVersion = GetParam(), .flash = Flash(SmallLayout()), .baudRate = 115200});
    BaudRate = 115200;
    ASSERT_NO_FATAL_FAILURE(ConnectFor(ProcessRead));
    const std::string path = files_.WriteText("flash.abs", "an earlier dump");
    Bind(KeyAll, path);

    const std::vector<JobMessage> posted = ProcessCancelledMidway();
    EXPECT_EQ(Find(posted, WM_JOB_DONE)->lParam, 1);
    EXPECT_EQ(TempDir::Read(path), "an earlier dump");
    EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
}

INSTANTIATE_TEST_SUITE_P(Generations, ReadJobTest, ::testing::Values(48, 33),
                         [](const ::testing::TestParamInfo<int32_t>& p) {
                             return p.param >= 48 ? std::string("packet") : std::string("legacy");
                         });

}  // namespace
