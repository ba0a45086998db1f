// The session: what the wizard pages and the worker jobs share. One process-wide
// UpgradeSession, the three serial settings beside it, and the settings file "Upgrade.ini".
#pragma once

#include "flashmate/chunks.h"

#include <atomic>
#include <cstdint>
#include <string>

// What the user chose in the "Процесс:" list.
enum ProcessKind : uint32_t {
    ProcessWrite = 0,
    ProcessRead = 1,
};

// jobState values.
enum JobState : int32_t {
    JobIdle = 0,
    JobConnecting = 1,
    JobTransferring = 2,
    JobBurning = 3,  // the receiver writes its flash: nothing may stop it
};

// A file bound to the whole image or to one chunk.
struct ChunkSelection {
    std::string filePath;     // empty: the slot is not selected
    uint32_t fileOffset = 0;  // the chunk's header inside an image file; 0 for raw data
    uint32_t length = 0;      // bytes to take from the file
    uint8_t isImage = 0;      // 1: the file is a chunk image and fileOffset/length locate the chunk
};

// Select-page row keys for the whole image; a chunk row's key is its index in ReceiverChunks.
inline constexpr int32_t KeyAllNoBootLoader = -2;
inline constexpr int32_t KeyAll = -1;
// Slot = key + 2.
inline constexpr uint32_t SelectAllNoBootLoader = 0;
inline constexpr uint32_t SelectAll = 1;
// One slot for each whole-image choice and one for every chunk a receiver table can hold, so
// that every chunk the receiver reports can be chosen.
inline constexpr uint32_t SelectionSlotCount = MaxChunks + 2;
inline constexpr uint32_t ChunkMaskCapacity = 16;
inline constexpr uint32_t BootLoaderVersionSize = 16;

class UpgradeSession {
public:
    virtual ~UpgradeSession() = default;

    uint32_t processKind = ProcessWrite;
    int32_t stbToolMode = 0;  // the "STB Tool:" radio button; stored, acted on by nothing
    uint32_t chunkMaskCount = 0;
    uint32_t chunkMask[ChunkMaskCapacity] = {};
    uint32_t protocolVersion = 0;  // 0: no version found yet
    ChunkSelection selections[SelectionSlotCount];
    // Read by the user-interface thread while the worker changes it.
    std::atomic<int32_t> jobState{JobIdle};
    uint32_t warningLevel = 0;     // library messages of a lower level are dropped
    uint32_t transferFormat2 = 1;  // assumed protocol 32 (non-zero) or 16 (zero) when none is reported
    char bootLoaderVersion[BootLoaderVersionSize] = {};
};

// The serial settings: COM port number (COM1 is 1), line speed, parity code (0 none, 1 odd,
// 2 even, 3 mark, 4 space). Set by the pages before a job starts, read by the job.
extern int32_t PortNumber;
extern int32_t BaudRate;
extern int32_t ParityCode;

// The process-wide session, created on first use.
UpgradeSession& GetSession();
// Destroys the session, so that the next GetSession creates a new one. Refused (false, nothing
// changed) while a worker job's thread has not ended: it still uses the session.
bool DestroySession();

// Loads the settings into session and the serial settings, then installs LogMessage as the
// library's message callback. True.
bool InitSession(UpgradeSession& session);

// Reads the settings file (section "Config"): Port, Baud, Parity into the serial settings and
// WarningLevel, TransferFormat2 and ChunkMask into session; a missing key keeps the value held
// before. Maps every "COMn=device" of the section "Ports" with UpgMapPort. Never writes. True.
bool LoadSettings(UpgradeSession& session);
// Writes Port, Baud and Parity, in this order, to the settings file, keeping everything else in
// it; creates the file and its section when missing. False when the file could not be written.
bool SaveSettings();

// ChunkMask: hexadecimal ids, each ended by a comma (leading blanks skipped, an optional 0x,
// conversion up to the first non-hex character, no digits giving 0, values beyond 32 bits
// giving 0xFFFFFFFF). Text after the last comma is not converted; ids beyond the first 16 are
// ignored. A null text is empty. True.
bool ParseChunkMask(UpgradeSession& session, const char* text);

// Empties slots 0 to ReceiverChunks.count + 1 (path, offset, length, isImage). True.
bool ResetSelections(UpgradeSession& session);

// The slot of a select-page row key, or nullptr when the key has none (below -2, or a chunk
// index beyond the slots).
ChunkSelection* SelectionSlot(UpgradeSession& session, int32_t key);

// The running executable's folder with its trailing '/', whatever the path's length; empty when
// it cannot be found. LinkTargetDirectory("/proc/self/exe").
std::string GetModuleDirectory();
// The folder of a symbolic link's target, up to and including its last '/'; empty when the
// link cannot be read or its target names no folder.
std::string LinkTargetDirectory(const char* link);

// The settings file: the one given to SetSettingsFilePath, else
// ChooseSettingsPath(GetModuleDirectory(), the user's home folder).
std::string SettingsFilePath();
// Points the settings at another file (tests, or a front end's option); empty goes back to the
// automatic choice.
void SetSettingsFilePath(const std::string& path);
// "Upgrade.ini" in moduleDirectory when it exists there or that folder can be written;
// otherwise homeDirectory/.config/flashmate/Upgrade.ini. Empty when the executable's folder
// cannot be used and no home folder is known.
std::string ChooseSettingsPath(const std::string& moduleDirectory, const std::string& homeDirectory);
