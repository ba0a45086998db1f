#include "flashmate/bytes.h"
#include "flashmate/jobs.h"
#include "flashmate/reporting.h"
#include "flashmate/session.h"
#include "flashmate/upgrade.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

uint32_t BurnTotal = 0;

namespace {

// Pauses the boot loader needs: after a whole image before the burn, after each chunk before
// the next command, and before each chunk's download.
constexpr auto kAfterWholeImage = std::chrono::milliseconds(1000);
constexpr auto kAfterChunk = std::chrono::milliseconds(500);
constexpr auto kBeforeChunkTransfer = std::chrono::milliseconds(100);

// Header bytes of a chunk in front of its data, and those of them that count in its length.
constexpr uint32_t kHeaderBytesCounted = ChunkHeaderSize - ChunkCrcStart;

// A job step's outcome, and whether the log has already shown it.
struct Outcome {
    int32_t code = 0;
    bool reported = false;
};

std::string Format(const char* format, const char* text)
{
    char line[256];
    std::snprintf(line, sizeof line, format, text);
    return line;
}

void Status(const std::string& text)
{
    PostJobText(text.c_str(), 1);
}

// The whole of a file's bytes from offset on, count of them, or the error to report.
int32_t ReadFileBytes(const std::string& path, uint64_t offset, std::vector<uint8_t>& into, size_t at, size_t count)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return UpgErrFileOpen;
    }
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(into.data() + at), static_cast<std::streamsize>(count));
    return static_cast<size_t>(file.gcount()) == count ? 0 : UpgErrFileRead;
}

int32_t Transfer(std::vector<uint8_t>& buffer)
{
    return UpgTransfer(buffer.data(), static_cast<int32_t>(buffer.size()), JobProgress, JobCancelled);
}

// ---- write ----

int32_t WriteWholeImage(const std::string& path, bool whole)
{
    Status("Загрузка всех блоков");
    std::error_code error;
    const uintmax_t fileLength = std::filesystem::file_size(path, error);
    if (error) {
        return UpgErrFileOpen;
    }
    const uint32_t skip = whole ? 0 : ReceiverChunks.chunks[0].nextOffset;
    // One transfer carries at most what a signed 32-bit count holds, and never nothing.
    if (fileLength <= skip || fileLength - skip > static_cast<uintmax_t>(INT32_MAX)) {
        return UpgErrFileRead;
    }
    const uintmax_t count = fileLength - skip;
    BurnTotal = static_cast<uint32_t>(count);
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(count, 0);
    } catch (const std::bad_alloc&) {
        return UpgErrNoMemory;
    }
    const int32_t result = ReadFileBytes(path, skip, buffer, 0, buffer.size());
    return result != 0 ? result : Transfer(buffer);
}

int32_t WriteChunk(uint32_t index)
{
    const ChunkInfo& chunk = ReceiverChunks.chunks[index];
    const ChunkSelection& slot = *SelectionSlot(GetSession(), static_cast<int32_t>(index));
    const uint32_t size = ChunkSize(chunk);
    BurnTotal += size;

    std::vector<uint8_t> buffer;
    try {
        buffer.assign(size, 0xFF);
    } catch (const std::bad_alloc&) {
        return UpgErrNoMemory;
    }
    // Raw data of any chunk but the boot loader gets the receiver's header in front of it.
    const bool raw = slot.isImage == 0;
    const bool bootLoader = ChunkTypeOf(chunk.id) == ChunkTypeBootLoader;
    const bool withHeader = raw && !bootLoader;
    const bool computeCrc = withHeader && chunk.crc != ChunkNoCrc;
    const size_t dataAt = withHeader ? ChunkHeaderSize : 0;
    // The select page only lets data through that fits; a file that changed since is refused
    // rather than written past the chunk.
    if (dataAt + slot.length > buffer.size()) {
        return UpgErrFileRead;
    }
    if (withHeader) {
        BuildChunkHeader(&chunk, buffer.data());
    }
    const int32_t read = ReadFileBytes(slot.filePath, slot.fileOffset, buffer, dataAt, slot.length);
    if (read != 0) {
        return read;
    }
    if (!raw) {
        PutBe32(buffer.data() + ChunkNextOffsetOffset, chunk.nextOffset);
    } else if (bootLoader) {
        StampBootLoaderInfo(&chunk, buffer.data());
    } else if (computeCrc) {
        const uint32_t length = slot.length + kHeaderBytesCounted;
        PutBe32(buffer.data() + ChunkLengthOffset, length);
        PutBe32(buffer.data() + ChunkCrcOffset,
                Crc32Compute(Crc32Start, buffer.data() + ChunkCrcStart, static_cast<int32_t>(length)));
    }
    std::this_thread::sleep_for(kBeforeChunkTransfer);
    return Transfer(buffer);
}

int32_t WriteSelectedChunks()
{
    UpgradeSession& session = GetSession();
    BurnTotal = 0;
    for (uint32_t i = 0; i < ReceiverChunks.count; ++i) {
        const ChunkSelection* slot = SelectionSlot(session, static_cast<int32_t>(i));
        ReceiverChunks.chunks[i].selected = slot != nullptr && !slot->filePath.empty() ? 1 : 0;
    }
    for (uint32_t i = 0; i < ReceiverChunks.count; ++i) {
        const ChunkInfo& chunk = ReceiverChunks.chunks[i];
        int32_t result = 0;
        if (chunk.selected == 0) {
            const uint32_t size = chunk.id == UserDbChunkId ? 0 : chunk.nextOffset;
            Status(Format("Пропуск блока: %s", chunk.name));
            result = UpgMoveChunk(chunk.id, size);
        } else {
            Status(Format("Загрузка блока:%s", chunk.name));
            result = WriteChunk(i);
            std::this_thread::sleep_for(kAfterChunk);
        }
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

// An image without its boot loader must hold more than the boot loader's chunk; otherwise
// nothing would be sent and an empty image burnt.
Outcome CheckImageWithoutBootLoader(const std::string& path)
{
    std::error_code error;
    const uintmax_t length = std::filesystem::file_size(path, error);
    if (error) {
        return {UpgErrFileOpen, false};
    }
    const uint32_t bootLoaderSize = ReceiverChunks.count > 0 ? ReceiverChunks.chunks[0].nextOffset : 0;
    if (ReceiverChunks.count == 0 || bootLoaderSize == 0 || length <= bootLoaderSize) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "Файл не длиннее загрузчика (%u байт): записывать нечего.\r\n", bootLoaderSize);
        PostJobText(text, 0);
        return {UpgErrFileRead, false};
    }
    if (length - bootLoaderSize > static_cast<uintmax_t>(INT32_MAX)) {
        return {UpgErrNoMemory, false};
    }
    return {};
}

Outcome WriteBranch()
{
    UpgradeSession& session = GetSession();
    const std::string& withoutBootLoader = session.selections[SelectAllNoBootLoader].filePath;
    const std::string& whole = session.selections[SelectAll].filePath;
    BurnTotal = 0;

    uint32_t address = 0;
    if (!withoutBootLoader.empty()) {
        const Outcome checked = CheckImageWithoutBootLoader(withoutBootLoader);
        if (checked.code != 0) {
            return checked;
        }
        address = ReceiverChunks.chunks[0].nextOffset;
    }
    Status("Отправка адреса...");
    int32_t result = UpgSetAddress(address);
    if (result != 0) {
        return {result, false};
    }
    if (!withoutBootLoader.empty() || !whole.empty()) {
        result = withoutBootLoader.empty() ? WriteWholeImage(whole, true) : WriteWholeImage(withoutBootLoader, false);
        std::this_thread::sleep_for(kAfterWholeImage);
    } else {
        result = WriteSelectedChunks();
    }
    if (result != 0) {
        return {result, false};
    }

    JobProgress(0);
    Status("Идет запись. НЕ ВЫКЛЮЧАТЬ!!!");
    PostToMainWindow(WM_BURN_STARTED, 0, 0);
    session.jobState = JobBurning;
    result = UpgBurn(static_cast<int32_t>(BurnTotal), JobProgress);
    UpgReboot();
    return {result, false};
}

// ---- read ----

// Writes a dump next to its target and renames it into place only when it is whole, so a
// failed write never leaves a half file nor spoils the one that was there.
int32_t SaveDump(const std::string& path, const uint8_t* data, size_t count)
{
    const std::string partial = path + ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        if (!file) {
            return UpgErrFileOpen;
        }
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
        file.close();
        if (!file) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return UpgErrFileWrite;
        }
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    if (error) {
        std::filesystem::remove(partial, error);
        return UpgErrFileWrite;
    }
    return 0;
}

int32_t DumpToFile(const std::string& path, uint32_t offset, uint32_t length)
{
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(DumpBufferSize);
    } catch (const std::bad_alloc&) {
        return UpgErrNoMemory;
    }
    int32_t received = 0;
    const int32_t result = UpgDump(buffer.data(), DumpBufferSize, &received, JobProgress, JobCancelled, offset, length);
    if (result != 0 || received <= 0) {
        return result;
    }
    return SaveDump(path, buffer.data(), static_cast<size_t>(received));
}

int32_t ReadChunk(uint32_t index, const std::string& path)
{
    Status(Format("Чтение блока: %s ", ReceiverChunks.chunks[index].name));
    uint32_t offset = 0;
    uint32_t length = 0;
    // A chunk with no data behind its header has nothing to read; asking for length 0 would
    // bring the whole flash instead.
    if (!ChunkFlashRange(&ReceiverChunks, index, &offset, &length)) {
        return UpgErrDumpLength;
    }
    return DumpToFile(path, offset, length);
}

Outcome ReadBranch()
{
    UpgradeSession& session = GetSession();
    const std::string& whole = session.selections[SelectAll].filePath;
    if (!whole.empty()) {
        Status("Чтение всех блоков");
        return {DumpToFile(whole, 0, 0), false};
    }
    // Every chosen chunk is read even when one fails; each failure shows in the log as it
    // happens, and the job ends as failed. A cancel ends the loop.
    Outcome outcome{0, true};
    for (uint32_t i = 0; i < ReceiverChunks.count; ++i) {
        const ChunkSelection* slot = SelectionSlot(session, static_cast<int32_t>(i));
        if (slot == nullptr || slot->filePath.empty()) {
            continue;
        }
        const int32_t result = ReadChunk(i, slot->filePath);
        if (result != 0) {
            ReportError(result);
            outcome.code = result;
            if (result == UpgErrCancelled) {
                break;
            }
        }
    }
    return outcome;
}

}  // namespace

void ProcessJob()
{
    Crc32InitTable();
    UpgradeSession& session = GetSession();
    session.jobState = JobTransferring;

    Outcome outcome{OpenAndHandshake(), false};
    if (outcome.code == 0) {
        outcome = session.processKind != ProcessWrite ? ReadBranch() : WriteBranch();
    }
    if (outcome.code != 0 && !outcome.reported) {
        ReportError(outcome.code);
    }
    PostToMainWindow(WM_JOB_DONE, outcome.code != 0 ? 1 : 0, CancelRequested.load() != 0 ? 1 : 0);
    session.jobState = JobIdle;
    UpgClosePort();
}

bool StartProcessJob()
{
    return StartJob(ProcessJob, JobTransferring);
}
