// The command line's pieces that need no receiver: parsing, chunk selection, what is printed.
#include "capture.h"
#include "chunk_selector.h"
#include "console.h"
#include "exit_codes.h"
#include "options.h"
#include "report.h"

#include "sim/flash.h"
#include "sim/image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The sample receiver's table, as the connect job would read it.
ChunkTable SampleTable()
{
    const sim::Flash flash(sim::SampleFlash(1));
    const std::vector<uint8_t> reply = flash.TableReply(5, 0);
    ChunkTable table{};
    ParseChunkTable(reply.data(), static_cast<uint32_t>(reply.size()), &table);
    return table;
}

struct ParseCase {
    std::string name;
    std::vector<const char*> arguments;
    int exitCode;  // ExitOk with a command line, or the early exit
};

ParseOutcome Parse(const std::vector<const char*>& arguments, std::string* errors = nullptr)
{
    std::vector<const char*> argv{"flashmate"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::ostringstream out;
    std::ostringstream err;
    ParseOutcome outcome = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    if (errors != nullptr) {
        *errors = err.str();
    }
    return outcome;
}

TEST(CommandLine, FormsAndUsageErrors)
{
    const ParseCase cases[] = {
        {"Info", {"info"}, ExitOk},
        {"Help", {"--help"}, ExitOk},
        {"WholeImage", {"write", "image.abs"}, ExitOk},
        {"WithoutBootLoader", {"write", "--no-bootloader", "image.abs"}, ExitOk},
        {"Chunks", {"write", "--chunk", "1=a.bin", "--chunk", "LOGO=b.m2v"}, ExitOk},
        {"ReadWhole", {"read", "flash.bin"}, ExitOk},
        {"NoCommand", {}, ExitUsage},
        {"UnknownCommand", {"flash"}, ExitUsage},
        {"WriteNothing", {"write"}, ExitUsage},
        {"WriteBoth", {"write", "image.abs", "--chunk", "1=a.bin"}, ExitUsage},
        {"NoBootLoaderWithChunks", {"write", "--no-bootloader", "--chunk", "1=a.bin"}, ExitUsage},
        {"ChunkWithoutFile", {"read", "--chunk", "1="}, ExitUsage},
        {"ChunkWithoutSelector", {"read", "--chunk", "=a.bin"}, ExitUsage},
        {"BadPort", {"--port", "ttyS0", "info"}, ExitUsage},
        {"PortZero", {"--port", "COM0", "info"}, ExitUsage},
        {"BadParity", {"--parity", "sometimes", "info"}, ExitUsage},
        {"BaudZero", {"--baud", "0", "info"}, ExitUsage},
        {"MissingSettingsFile", {"--settings", "/nonexistent/Upgrade.ini", "info"}, ExitUsage},
        {"ImageNeedsFile", {"image"}, ExitUsage},
        {"SimulateProtocolOutOfRange", {"simulate", "--protocol", "300"}, ExitUsage},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ParseOutcome outcome = Parse(c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        const bool runs = c.exitCode == ExitOk && c.name != "Help";
        EXPECT_EQ(outcome.commandLine.has_value(), runs);
    }
}

TEST(CommandLine, LineOptionsBeforeOrAfterTheCommand)
{
    for (const std::vector<const char*>& arguments :
         {std::vector<const char*>{"--port", "com3", "--baud", "57600", "--parity", "Mark", "write", "image.abs"},
          std::vector<const char*>{"write", "--port", "COM3", "image.abs", "--baud", "57600", "--parity", "mark"}}) {
        const ParseOutcome outcome = Parse(arguments);
        ASSERT_TRUE(outcome.commandLine);
        const CommandLine& line = *outcome.commandLine;
        EXPECT_EQ(line.command, CommandKind::Write);
        EXPECT_EQ(line.file, "image.abs");
        ASSERT_TRUE(line.line.port);
        EXPECT_EQ(line.line.port->number, 3);
        EXPECT_TRUE(line.line.port->device.empty());
        EXPECT_EQ(line.line.baudRate, 57600);
        EXPECT_EQ(line.line.parityCode, 3);
    }
}

TEST(CommandLine, ChunkArgumentsKeepTheirOrderAndSplitAtTheFirstEquals)
{
    const ParseOutcome outcome =
        Parse({"--port", "/dev/ttyUSB0", "read", "--chunk", "0x01FE0100=main=v2.bin", "--chunk", "0=boot.bin"});
    ASSERT_TRUE(outcome.commandLine);
    const CommandLine& line = *outcome.commandLine;
    EXPECT_EQ(line.line.port->device, "/dev/ttyUSB0");
    EXPECT_FALSE(line.line.baudRate);
    ASSERT_EQ(line.chunks.size(), 2u);
    EXPECT_EQ(line.chunks[0].selector, "0x01FE0100");
    EXPECT_EQ(line.chunks[0].path, "main=v2.bin");
    EXPECT_EQ(line.chunks[1].selector, "0");
    EXPECT_EQ(line.chunks[1].path, "boot.bin");
}

TEST(CommandLine, ParityNamesGiveThePortsCodes)
{
    const std::pair<const char*, int32_t> names[] = {{"none", 0}, {"odd", 1}, {"even", 2}, {"mark", 3}, {"SPACE", 4}};
    for (const auto& [name, code] : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ParseParity(name), code);
    }
}

struct SelectCase {
    std::string selector;
    int32_t index;  // -1: no such chunk
    std::string problem;
};

TEST(ChunkSelector, IndexIdOrName)
{
    ChunkTable table = SampleTable();
    ASSERT_EQ(table.count, 5u);
    // Two chunks whose names differ only in case: neither is found without regard to case.
    std::strcpy(table.chunks[3].name, "logo");
    const SelectCase cases[] = {
        {"0", 0, ""},
        {"4", 4, ""},
        {"5", -1, "no chunk 5: the receiver has 5 chunks, 0 to 4"},
        {"0x01FE0100", 1, ""},
        {"0x01fe0100", 1, ""},
        {"0x12345678", -1, "the receiver has no chunk with id 0x12345678"},
        {"0xNOPE", -1, "'0xNOPE' is no chunk id: an id has up to 8 hex digits after 0x"},
        {"MAINCODE", 1, ""},
        {"maincode", 1, ""},
        {"LOGO", 2, ""},
        {"logo", 3, ""},
        {"Logo", -1, "'Logo' names several chunks; give the index or the id"},
        {"KERNEL", -1, "the receiver has no chunk named 'KERNEL'"},
    };
    for (const SelectCase& c : cases) {
        SCOPED_TRACE(c.selector);
        const ChunkChoice choice = SelectChunk(table, c.selector);
        EXPECT_EQ(choice.index, c.index);
        EXPECT_EQ(choice.problem, c.problem);
    }
}

TEST(Report, ProtocolVersionIsMajorDotMinor)
{
    EXPECT_EQ(ProtocolVersionText(48), "3.0");
    EXPECT_EQ(ProtocolVersionText(0x31), "3.1");
    EXPECT_EQ(ProtocolVersionText(32), "2.0");
}

TEST(Report, ChunkTableOfTheSampleReceiver)
{
    ChunkTable table = SampleTable();
    table.chunks[3].masked = 1;
    const std::string text = ChunkTableText(table);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "#  Id          Name       Version  Time        Size        Offset      Read range             Note");
    // The boot loader is read whole, every other chunk without its header; the last chunk's
    // size is its length + 16.
    EXPECT_NE(text.find("0  0xE3000010  BOOT       BL 1.05  2008-01-10  0x00010000  0x00000000  0x00000000-0x0000FFFF"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("1  0x01FE0100  MAINCODE   2.0.0c   2008-01-25  0x00180000  0x00010000  0x00010080-0x0018FFFF"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("0x00040000  0x001B0000  0x001B0080-0x001EFFFF  masked by ChunkMask"), std::string::npos)
        << text;
    EXPECT_NE(text.find("4  0x04FB0100  USERDB     1.0      2008-01-20  0x00000400  0x001F0000  0x001F0080-0x001F03FF"),
              std::string::npos)
        << text;
}

TEST(Report, FlashLayoutGivesEveryChunkAMark)
{
    // 64 KiB, 1.5 MiB, 128 KiB, 256 KiB and 1 KiB in 2 MiB, 32 KiB a mark: the 1 KiB user
    // database still shows, and the free end is dots.
    EXPECT_EQ(FlashLayoutText(SampleTable(), 64),
              "Flash 2 MiB: |00" + std::string(48, '1') + "2222" + "33333333" + "4.| one mark 32 KiB");
    // Without a flash size the picture ends with the last chunk. A 1 KiB boot loader keeps
    // the one mark it shares with the large chunk behind it.
    ChunkTable table{};
    table.count = 3;
    table.chunks[0].nextOffset = 0x400;
    table.chunks[1].nextOffset = 0x7FC00;
    table.chunks[2].length = 0x80000 - 16;
    EXPECT_EQ(FlashLayoutText(table, 8), "Flash 1 MiB: |01112222| one mark 128 KiB");
}

TEST(Report, SummariesEndWithTheEffectiveRate)
{
    EXPECT_EQ(WriteSummary(2097152, 651812, 62.5), "Wrote 2097152 bytes (651812 compressed) in 62.5 s (effective 268.4 kbit/s)");
    EXPECT_EQ(WriteSummary(1000, 1000, 2.0), "Wrote 1000 bytes in 2.0 s (effective 4.0 kbit/s)");
    EXPECT_EQ(ReadSummary(2097152, 10.0), "Read 2097152 bytes in 10.0 s (effective 1677.7 kbit/s)");
}

// The console's output for a sequence of calls.
template <typename Calls>
std::string ConsoleOutput(bool terminal, Calls calls)
{
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    {
        Console console(stream, terminal);
        calls(console);
        console.Finish();
    }
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(ConsoleOutput, PlainLinesForLogsAndPipes)
{
    const std::string text = ConsoleOutput(false, [](Console& console) {
        console.Status("Загрузка всех блоков");
        for (int percent : {0, 5, 12, 19, 20, 55, 100}) {
            console.Progress(percent);
        }
        // The library's retry notes: a line start, then marks that continue the line.
        console.Log("\r\n->Warning:download packet:7 Error! Retry.");
        console.Log(".");
        console.Log("OK");
        console.Progress(0);
        console.Status("Идет запись. НЕ ВЫКЛЮЧАТЬ!!!");
        console.Progress(30);
        console.Log("Отменено пользователем   \r\n");
    });
    EXPECT_EQ(text,
              "Загрузка всех блоков\n"
              " 10%\n 20%\n 50%\n100%\n"
              "->Warning:download packet:7 Error! Retry..OK\n"
              "Идет запись. НЕ ВЫКЛЮЧАТЬ!!!\n"
              " 30%\n"
              "Отменено пользователем   \n");
}

TEST(ConsoleOutput, ABarOnATerminalThatLinesPassAbove)
{
    const std::string text = ConsoleOutput(true, [](Console& console) {
        console.Status("A");
        console.Progress(50);
        console.Note("B");
        console.Progress(100);
        console.Status("C");
    });
    const std::string half = "[" + std::string(20, '#') + std::string(20, '.') + "]  50%";
    const std::string full = "[" + std::string(40, '#') + "] 100%";
    EXPECT_EQ(text, "A\n"
                    "\r\033[K" + half +
                    "\r\033[KB\n"
                    "\r\033[K" + half +
                    "\r\033[K" + full +
                    // The finished bar stays above the next step.
                    "\nC\n");
}

}  // namespace
