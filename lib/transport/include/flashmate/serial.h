// The serial line to the receiver: one SerialPort object, and the Upg... port functions that
// work on the process-wide instance with the library's error conventions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Why the last open failed; the text says the same for a person.
enum class PortFailure {
    None,
    NoDevice,      // nothing at that path
    Permission,    // the user may not open it (not in the dialout group)
    Busy,          // another program holds it
    NotSerial,     // the path is not a terminal device
    Settings,      // the device refused the line settings
    Other,
};

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Port numbers count from 1 (COM1); UpgPortDevicePath turns them into a device path.
    bool Open(int32_t portNumber, int32_t baudRate, int32_t parityCode, int32_t stopBitSelector);
    bool OpenDevice(const std::string& path, int32_t baudRate, int32_t parityCode,
                    int32_t stopBitSelector);
    bool Close();
    bool IsOpen() const { return open_; }

    // Bytes written, or 0 on any failure (including not getting them out within count + 100 ms,
    // or the line's wire time when that is longer).
    int32_t Write(const void* bytes, int32_t count);
    // Received bytes waiting to be read.
    int32_t InputQueued();
    // At most maximum bytes of what has already arrived; never waits.
    int32_t Read(void* destination, int32_t maximum);
    // Exactly count bytes within the time-out, or nothing at all: on time-out the bytes that did
    // arrive stay queued for the next read.
    bool ReadExact(void* destination, int32_t count, uint32_t timeoutMs);
    // Waits until at least one byte is queued; false when the time-out passed first.
    bool WaitForInput(uint32_t timeoutMs);
    bool PurgeReceive();
    bool PurgeTransmit();
    bool Purge();

    // Milliseconds that this many bytes take on the line at the open port's settings (rounded
    // up); 0 while closed.
    uint32_t WireTimeMs(uint32_t bytes) const;

    PortFailure LastFailure() const { return failure_; }
    const std::string& LastFailureText() const { return failureText_; }

private:
    bool Fail(PortFailure failure, std::string text);
    void Fill();
    int32_t Buffered() const { return static_cast<int32_t>(rx_.size() - rxHead_); }
    void Take(void* destination, int32_t count);

    int fd_ = -1;
    bool open_ = false;
    uint32_t baudRate_ = 0;
    uint32_t bitsPerByte_ = 10;
    // Bytes already taken from the device but not yet read by a caller. ReadExact must leave
    // bytes "queued" on time-out, and waiting with poll(2) means draining the driver's queue.
    std::vector<uint8_t> rx_;
    size_t rxHead_ = 0;
    PortFailure failure_ = PortFailure::None;
    std::string failureText_;
};

// The process-wide port every library function uses.
SerialPort& UpgPort();

// Port numbers to devices: a mapped path, else COMn is /dev/ttyS{n-1}. A null or empty path
// removes the mapping.
void UpgMapPort(int32_t portNumber, const char* devicePath);
std::string UpgPortDevicePath(int32_t portNumber);
void UpgClearPortMap();

// Why the last UpgOpenPort failed (None after a successful open).
PortFailure UpgPortFailure();
std::string UpgPortFailureText();

// 0 when opened; 2 when not.
int32_t UpgOpenPort(int32_t portNumber, int32_t baudRate, int32_t parityCode, int32_t stopBitSelector);
// Always 0.
int32_t UpgClosePort();
// Bytes read, at most maximum, without waiting.
int32_t UpgReadAvailable(void* destination, int32_t maximum);
// 0 when exactly count bytes were read within the time-out; 1 otherwise.
int32_t UpgReadBytes(void* destination, int32_t count, uint32_t timeoutMs);
// Bytes written.
int32_t UpgWriteBytes(const void* bytes, int32_t count);
// Writes the low 8 bits of value as one byte; bytes written.
int32_t UpgWriteByte(int32_t value);
// Writes byte by byte, each echoed by the boot loader within the time-out: 0; 3 when a byte was
// not written; 23 when its echo did not arrive; 4 when the echo differed.
int32_t UpgWriteEchoed(const void* bytes, int32_t count, uint32_t echoTimeoutMs);
// 0 on success; 1 on failure.
int32_t UpgPurgePort();
int32_t UpgPurgeTransmit();
// Waits for at least one queued byte: 0 when one arrived in time; 1 otherwise.
int32_t UpgWaitForInput(uint32_t timeoutMs);
// Wire time of this many bytes at the open port's settings, in ms (0 while closed).
uint32_t UpgWireTimeMs(uint32_t bytes);
// The protocol's waits were chosen for fast lines. A wait for bytes that must first cross the
// line is stretched to their wire time (with a quarter more and 20 ms for gaps and clock
// tolerance) when that is longer than the chosen value, so every offered rate works.
uint32_t UpgLineTimeout(uint32_t chosenMs, uint32_t wireBytes);
