// Binding files to the select page's rows: which row may take a file, which file dialog to
// offer, whether a chosen file fits the receiver's chunk, and what goes into the session's
// selection slots. Shared by the wizard and the command line; the dialogs are the caller's.
//
// A row's key: KeyAll (-1) "All Chunk", KeyAllNoBootLoader (-2) "All Chunk(No BootLoader)"
// (write process only), i >= 0 chunk i of ReceiverChunks. Its slot is key + 2.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The file dialog's default extension and its "description|pattern|" pairs, always ending
// with the all-files pair.
struct ChunkFileKind {
    std::string defaultExtension;
    std::string filter;
};

// By the whole chunk id (0 for the whole-image rows).
ChunkFileKind ChunkFileFilter(uint32_t chunkId);

enum class FileDialogKind {
    Open,  // write process: an existing file to read from
    Save,  // read process: a file to write, confirming before an existing one is overwritten
};

// What the front end does for ChooseChunkFile: the wizard shows its dialogs and message boxes,
// the command line returns the path it was given and prints the message.
class ChunkFileChooser {
public:
    virtual ~ChunkFileChooser() = default;
    // The chosen file's full path; nullopt when the user cancelled.
    virtual std::optional<std::string> AskPath(FileDialogKind dialog, const ChunkFileKind& kind) = 0;
    // A message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
};

// Which check decided a request, in the order they run.
enum class ChunkFileCheck {
    Accepted,
    NoSuchRow,           // no row has this key: out of the table, masked, or -2 in a read
    WholeImageChosen,    // another row holds a whole image, which excludes every other row
    DialogCancelled,     // no path: the dialog was cancelled or gave an empty one
    CannotOpen,          // "Невозможно открыть файл <path>: <reason>"
    EmptyFile,           // 0 bytes, or 2 GiB and more
    ChunkNotInImage,     // "невозможно найти соответствующий блок."
    ImageChunkTooLarge,  // "Select bin File chunk size large than Slave chunk size \n Chunk size: 0x%08X"
    BootLoaderMismatch,  // "Не подходит версия загрузчика."
    RawFileTooLarge,     // "Select Размер файла больше суммы блоков"
};

struct ChunkFileOutcome {
    ChunkFileCheck check = ChunkFileCheck::Accepted;
    // The text shown to the user; empty for the silent outcomes.
    std::string message;

    bool Accepted() const { return check == ChunkFileCheck::Accepted; }
};

// A chunk's capacity is its full size in flash, header included (ChunkSize). An image's chunk
// must fit it and come with the receiver's boot-loader version (first 8 bytes); raw data must
// fit with the 128-byte header the write job puts in front of it, except for the boot loader,
// whose header is part of its data.
//
// Asks chooser for a file for the row and checks it; an accepted file is recorded in the row's
// slot, a refused one leaves every slot as it was. Any message is shown through chooser and
// returned in the outcome.
ChunkFileOutcome ChooseChunkFile(int32_t key, ChunkFileChooser& chooser);

// The same checks for a path that is already known (the command line's chunk arguments); shows
// nothing.
ChunkFileOutcome BindChunkFile(int32_t key, const std::string& path);

// After a whole-image key was accepted: empties every other slot (path, offset, length; isImage
// keeps its value) and sets this slot's offset and length to 0.
void KeepOnlyWholeImage(int32_t key);

// Empties the row's slot if it holds a file (isImage keeps its value).
void CancelChunkChoice(int32_t key);

// True when any of slots 0 to ReceiverChunks.count + 1 holds a file.
bool HasAnySelection();
