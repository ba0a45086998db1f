// Error codes of the upgrade library and their message texts.
#pragma once

#include <cstdint>

// One row of a message table. Texts are UTF-8; each is at most 255 characters.
struct ErrorEntry {
    int32_t code;
    const char* text;
};

// The library's codes. 0 is success; 65536 and above are the receiver's own.
enum UpgError : int32_t {
    UpgOk = 0,
    UpgErrGeneric = 1,
    UpgErrOpenPort = 2,
    UpgErrSend = 3,
    UpgErrEchoMismatch = 4,
    UpgErrCommandSend = 5,
    UpgErrCancelled = 6,
    UpgErrNoReceiver = 7,
    UpgErrTimeout = 8,
    UpgErrReceiverError = 10,
    UpgErrUnrecognised = 11,
    UpgErrRetryOverrun = 12,
    UpgErrBurnFailed = 13,
    UpgErrDumpLength = 14,
    UpgErrRead = 23,
    UpgErrPacketHeaderSend = 24,
    UpgErrPacketPayloadSend = 25,
    UpgErrPacketCrcSend = 26,
    UpgErrNoPacket = 27,
    UpgErrPacketHeaderReceive = 28,
    UpgErrPacketHeaderCrc = 29,
    UpgErrPacketDataReceive = 30,
    UpgErrPacketDataCrc = 31,
    UpgErrUnexpectedPacket = 32,
    UpgErrNotAllDataReceived = 35,
    UpgErrFileOpen = 36,
    UpgErrFileRead = 37,
    UpgErrFileWrite = 38,
    UpgErrNoMemory = 39,
    UpgErrDataPacketSend = 40,
    UpgErrEncoderStart = 41,
    UpgErrCommandExecuted = 42,
    UpgErrReceiverBase = 0x10000,
    UpgErrNotAllDataRead = 0x10006,
};

inline constexpr int32_t UpgErrorTableRows = 49;
extern const ErrorEntry UpgErrorTable[UpgErrorTableRows];

// Copies the text of the first row with this code and "\r\n" into destination and returns 1;
// returns 0 and leaves destination alone when no row matches or rowCount is 0 or less.
// destination must hold the text, CR LF and the NUL: callers pass 256 bytes.
int32_t FindErrorText(int32_t code, char* destination, const ErrorEntry* table, int32_t rowCount);

// FindErrorText over UpgErrorTable.
int32_t UpgGetErrorText(int32_t code, char* destination);
