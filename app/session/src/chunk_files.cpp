#include "flashmate/chunk_files.h"

#include "flashmate/chunks.h"
#include "flashmate/image_file.h"
#include "flashmate/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

struct FilterRow {
    uint32_t id;
    const char* extension;
    const char* filter;
};

constexpr FilterRow kFilters[] = {
    {0, "abs", "Файлы прошивок (*.abs)|*.abs|"},
    {BootLoaderChunkId, "abs", "Файлы прошивок (*.abs)|*.abs|"},
    {0x02FD0100, "m2v", "Logo file(*.m2v)|*.m2v|"},
    {0x02FD0200, "m2v", "Logo file(*.m2v)|*.m2v|"},
    {0x02FD0300, "m2v", "Logo file(*.m2v)|*.m2v|"},
    {0x03FC0100, "ddf", "default db(*.ddf)|*.ddf|"},
    {UserDbChunkId, "udf", "user db(*.udf)|*.udf|"},
};
constexpr FilterRow kOtherFilter{0, "bin", "Бинарные файлы (*.bin)|*.bin|"};
constexpr const char* kAllFilesFilter = "Все файлы (*.*)|*.*|";

constexpr const char* kChunkNotInImageText = "невозможно найти соответствующий блок.";
constexpr const char* kImageChunkTooLargeFormat =
    "Select bin File chunk size large than Slave chunk size \n Chunk size: 0x%08X";
constexpr const char* kBootLoaderMismatchText = "Не подходит версия загрузчика.";
constexpr const char* kRawFileTooLargeText = "Select Размер файла больше суммы блоков";
constexpr const char* kCannotOpenFormat = "Невозможно открыть файл %s: %s";

// Boot-loader versions count as equal when their first 8 bytes agree.
constexpr size_t kComparedVersionBytes = 8;
// Lengths are signed 32-bit further on.
constexpr int64_t kLargestChunkFile = std::numeric_limits<int32_t>::max();

bool HoldsFile(const ChunkSelection& slot)
{
    return !slot.filePath.empty();
}

void Empty(ChunkSelection& slot)
{
    slot.filePath.clear();
    slot.fileOffset = 0;
    slot.length = 0;
}

ChunkFileOutcome Refused(ChunkFileCheck check, std::string message = {})
{
    return ChunkFileOutcome{check, std::move(message)};
}

// Whether the row exists and may take a file now.
ChunkFileOutcome CheckRow(UpgradeSession& session, int32_t key)
{
    if (SelectionSlot(session, key) == nullptr || (key == KeyAllNoBootLoader && session.processKind == ProcessRead)) {
        return Refused(ChunkFileCheck::NoSuchRow);
    }
    if (key >= 0 && (static_cast<uint32_t>(key) >= ReceiverChunks.count || ReceiverChunks.chunks[key].masked != 0)) {
        return Refused(ChunkFileCheck::NoSuchRow);
    }
    for (uint32_t whole : {SelectAllNoBootLoader, SelectAll}) {
        if (HoldsFile(session.selections[whole]) && static_cast<int32_t>(whole) != key + 2) {
            return Refused(ChunkFileCheck::WholeImageChosen);
        }
    }
    return {};
}

uint32_t RowChunkId(int32_t key)
{
    return key >= 0 ? ReceiverChunks.chunks[key].id : 0;
}

// The file's length, or a refusal.
ChunkFileOutcome MeasureFile(const std::string& path, int64_t* length)
{
    // O_NONBLOCK so that a FIFO cannot hang the user-interface thread.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        const int size = std::snprintf(nullptr, 0, kCannotOpenFormat, path.c_str(), std::strerror(error));
        std::string text(static_cast<size_t>(size), '\0');
        std::snprintf(text.data(), text.size() + 1, kCannotOpenFormat, path.c_str(), std::strerror(error));
        return Refused(ChunkFileCheck::CannotOpen, std::move(text));
    }
    struct stat info {};
    const bool measured = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    *length = measured ? static_cast<int64_t>(info.st_size) : 0;
    if (*length <= 0 || *length > kLargestChunkFile) {
        return Refused(ChunkFileCheck::EmptyFile);
    }
    return {};
}

// The checks after the row's own, for a known path; records an accepted file.
ChunkFileOutcome CheckAndRecord(UpgradeSession& session, int32_t key, const std::string& path)
{
    ChunkSelection& slot = *SelectionSlot(session, key);
    if (session.processKind == ProcessRead) {
        slot.filePath = path;
        return {};
    }
    int64_t fileLength = 0;
    if (ChunkFileOutcome measured = MeasureFile(path, &fileLength); !measured.Accepted()) {
        return measured;
    }
    if (key < 0) {
        slot.filePath = path;
        return {};
    }
    const ChunkInfo& chunk = ReceiverChunks.chunks[key];
    const uint32_t capacity = ChunkSize(chunk);

    if (ValidateImageFile(path.c_str())) {
        char version[BootLoaderVersionSize];
        std::memset(version, 0xFF, sizeof version);
        uint32_t offset = 0;
        uint32_t length = 0;
        if (!FindChunkInImage(path.c_str(), chunk.id, &offset, &length, version)) {
            return Refused(ChunkFileCheck::ChunkNotInImage, kChunkNotInImageText);
        }
        if (length > capacity) {
            char text[128];
            std::snprintf(text, sizeof text, kImageChunkTooLargeFormat, capacity);
            return Refused(ChunkFileCheck::ImageChunkTooLarge, text);
        }
        if (std::memcmp(version, session.bootLoaderVersion, kComparedVersionBytes) != 0) {
            return Refused(ChunkFileCheck::BootLoaderMismatch, kBootLoaderMismatchText);
        }
        slot.fileOffset = offset;
        slot.length = length;
        slot.isImage = 1;
        slot.filePath = path;
        return {};
    }

    const bool bootLoader = ChunkTypeOf(chunk.id) == ChunkTypeBootLoader;
    const int64_t needed = fileLength + (bootLoader ? 0 : int64_t{ChunkHeaderSize});
    if (needed > int64_t{capacity}) {
        return Refused(ChunkFileCheck::RawFileTooLarge, kRawFileTooLargeText);
    }
    slot.fileOffset = 0;
    slot.length = static_cast<uint32_t>(fileLength);
    slot.isImage = 0;
    slot.filePath = path;
    return {};
}

}  // namespace

ChunkFileKind ChunkFileFilter(uint32_t chunkId)
{
    FilterRow row = kOtherFilter;
    for (const FilterRow& candidate : kFilters) {
        if (candidate.id == chunkId) {
            row = candidate;
            break;
        }
    }
    return ChunkFileKind{row.extension, std::string(row.filter) + kAllFilesFilter};
}

ChunkFileOutcome ChooseChunkFile(int32_t key, ChunkFileChooser& chooser)
{
    UpgradeSession& session = GetSession();
    if (ChunkFileOutcome row = CheckRow(session, key); !row.Accepted()) {
        return row;
    }
    const FileDialogKind dialog = session.processKind == ProcessRead ? FileDialogKind::Save : FileDialogKind::Open;
    const std::optional<std::string> path = chooser.AskPath(dialog, ChunkFileFilter(RowChunkId(key)));
    if (!path || path->empty()) {
        return Refused(ChunkFileCheck::DialogCancelled);
    }
    ChunkFileOutcome outcome = CheckAndRecord(session, key, *path);
    if (!outcome.message.empty()) {
        chooser.ShowMessage(outcome.message);
    }
    return outcome;
}

ChunkFileOutcome BindChunkFile(int32_t key, const std::string& path)
{
    UpgradeSession& session = GetSession();
    if (ChunkFileOutcome row = CheckRow(session, key); !row.Accepted()) {
        return row;
    }
    // An empty path would record a slot that reads as "no file" while reporting success.
    if (path.empty()) {
        return Refused(ChunkFileCheck::DialogCancelled);
    }
    return CheckAndRecord(session, key, path);
}

void KeepOnlyWholeImage(int32_t key)
{
    if (key != KeyAll && key != KeyAllNoBootLoader) {
        return;
    }
    UpgradeSession& session = GetSession();
    const uint32_t kept = static_cast<uint32_t>(key + 2);
    for (uint32_t slot = 0; slot < SelectionSlotCount; ++slot) {
        if (slot == kept) {
            session.selections[slot].fileOffset = 0;
            session.selections[slot].length = 0;
        } else if (HoldsFile(session.selections[slot])) {
            Empty(session.selections[slot]);
        }
    }
}

void CancelChunkChoice(int32_t key)
{
    ChunkSelection* slot = SelectionSlot(GetSession(), key);
    if (slot != nullptr && HoldsFile(*slot)) {
        Empty(*slot);
    }
}

bool HasAnySelection()
{
    const UpgradeSession& session = GetSession();
    const uint64_t last = uint64_t{ReceiverChunks.count} + 1;
    for (uint64_t slot = 0; slot <= last && slot < SelectionSlotCount; ++slot) {
        if (HoldsFile(session.selections[slot])) {
            return true;
        }
    }
    return false;
}
