#include "flashmate/serial.h"

#include "flashmate/deadline.h"
#include "flashmate/errors.h"

// termios2 lives in the kernel's headers, which clash with glibc's <termios.h>; this file
// therefore speaks to the tty driver with ioctl(2) alone.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace {

// A write gets count + 100 ms to leave the PC (about a millisecond a byte), or longer when the
// line itself needs more.
constexpr uint32_t kWriteSlackMs = 100;

int PollOnce(int fd, short events, std::chrono::microseconds wait)
{
    pollfd pfd{fd, events, 0};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds.count());
    ts.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds).count());
    const int ready = ppoll(&pfd, 1, &ts, nullptr);
    if (ready <= 0) {
        return ready;
    }
    return pfd.revents;
}

std::string DescribeOpenError(int error, const std::string& path, PortFailure* failure)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        *failure = PortFailure::NoDevice;
        return "no such device: " + path;
    case EACCES:
    case EPERM:
        *failure = PortFailure::Permission;
        return "permission denied on " + path +
               ": add your user to the 'dialout' group (sudo usermod -aG dialout $USER) and log in again";
    case EBUSY:
        *failure = PortFailure::Busy;
        return path + " is busy: another program (a terminal, ModemManager) holds it";
    default:
        *failure = PortFailure::Other;
        return "cannot open " + path + ": " + std::strerror(error);
    }
}

struct PortMap {
    std::mutex mutex;
    std::map<int32_t, std::string> devices;
};

PortMap& Map()
{
    static PortMap map;
    return map;
}

}  // namespace

SerialPort::~SerialPort()
{
    Close();
}

bool SerialPort::Fail(PortFailure failure, std::string text)
{
    failure_ = failure;
    failureText_ = std::move(text);
    return false;
}

bool SerialPort::Open(int32_t portNumber, int32_t baudRate, int32_t parityCode, int32_t stopBitSelector)
{
    const std::string path = UpgPortDevicePath(portNumber);
    if (path.empty()) {
        Close();
        return Fail(PortFailure::NoDevice, "port number " + std::to_string(portNumber) + " has no device");
    }
    return OpenDevice(path, baudRate, parityCode, stopBitSelector);
}

bool SerialPort::OpenDevice(const std::string& path, int32_t baudRate, int32_t parityCode,
                            int32_t stopBitSelector)
{
    Close();
    failure_ = PortFailure::None;
    failureText_.clear();

    // No controlling terminal; never block, neither on open (no carrier wait) nor on reads.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        PortFailure failure = PortFailure::Other;
        std::string text = DescribeOpenError(errno, path, &failure);
        return Fail(failure, std::move(text));
    }
    auto fail = [&](PortFailure failure, std::string text) {
        ::close(fd);
        return Fail(failure, std::move(text));
    };

    if (!::isatty(fd)) {
        return fail(PortFailure::NotSerial, path + " is not a serial device");
    }
    // Exclusive use, as the line is a conversation with one boot loader: flock for programs
    // that honour it, TIOCEXCL against later opens by anyone but root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail(PortFailure::Busy, path + " is busy: another program (a terminal, ModemManager) holds it");
    }
    ::ioctl(fd, TIOCEXCL);

    if (baudRate <= 0 || parityCode < 0 || parityCode > 4) {
        ::ioctl(fd, TIOCNXCL);
        return fail(PortFailure::Settings, "unsupported line settings for " + path);
    }

    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        ::ioctl(fd, TIOCNXCL);
        return fail(PortFailure::Settings, "cannot read the line settings of " + path);
    }
    // Raw bytes both ways: no break, CR/LF, flow-control or echo processing. Parity is sent
    // and expected but not checked (no INPCK): a byte with a parity error is delivered as it
    // came, as the reference driver did; the packet and block CRCs catch it.
    tio.c_iflag = IGNBRK;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CS8 | CREAD | CLOCAL;
    // Any rate, including 14400 and 56000, which have no Bnnn constant.
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baudRate);
    tio.c_ospeed = static_cast<speed_t>(baudRate);
    switch (parityCode) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (stopBitSelector != 1) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    // A pseudo-terminal accepts this and quietly drops what it cannot hold (parity); that is
    // not an error, so the result of the kernel's own call is what counts, not a read-back.
    if (::ioctl(fd, TCSETS2, &tio) != 0) {
        ::ioctl(fd, TIOCNXCL);
        return fail(PortFailure::Settings,
                    path + " refused the line settings: " + std::strerror(errno));
    }
    // DTR and RTS held off; a device without modem lines (a pty) says ENOTTY, which is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);

    fd_ = fd;
    open_ = true;
    baudRate_ = static_cast<uint32_t>(baudRate);
    bitsPerByte_ = 1 + 8 + (parityCode != 0 ? 1 : 0) + (stopBitSelector == 1 ? 1 : 2);
    rx_.clear();
    rxHead_ = 0;
    return true;
}

bool SerialPort::Close()
{
    if (!open_ || fd_ < 0) {
        return true;
    }
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    open_ = false;
    rx_.clear();
    rxHead_ = 0;
    return true;
}

int32_t SerialPort::Write(const void* bytes, int32_t count)
{
    if (!open_ || count <= 0) {
        return 0;
    }
    int pending = 0;
    ::ioctl(fd_, TIOCOUTQ, &pending);
    const uint32_t budget = std::max<uint32_t>(static_cast<uint32_t>(count) + kWriteSlackMs,
                                               WireTimeMs(static_cast<uint32_t>(count + pending)) + kWriteSlackMs);
    const Deadline deadline = Deadline::AfterMs(budget);
    const auto* p = static_cast<const uint8_t*>(bytes);
    int32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return 0;
        }
        if (deadline.Expired()) {
            return 0;
        }
        PollOnce(fd_, POLLOUT, deadline.Remaining());
    }
    return done;
}

void SerialPort::Fill()
{
    if (!open_) {
        return;
    }
    if (rxHead_ > 0 && rxHead_ == rx_.size()) {
        rx_.clear();
        rxHead_ = 0;
    }
    uint8_t chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n <= 0) {
            return;
        }
        rx_.insert(rx_.end(), chunk, chunk + n);
        if (static_cast<size_t>(n) < sizeof chunk) {
            return;
        }
    }
}

void SerialPort::Take(void* destination, int32_t count)
{
    std::memcpy(destination, rx_.data() + rxHead_, static_cast<size_t>(count));
    rxHead_ += static_cast<size_t>(count);
    if (rxHead_ == rx_.size()) {
        rx_.clear();
        rxHead_ = 0;
    }
}

int32_t SerialPort::InputQueued()
{
    if (!open_) {
        return 0;
    }
    Fill();
    return Buffered();
}

int32_t SerialPort::Read(void* destination, int32_t maximum)
{
    if (!open_ || maximum <= 0) {
        return 0;
    }
    if (Buffered() < maximum) {
        Fill();
    }
    const int32_t count = std::min(Buffered(), maximum);
    if (count > 0) {
        Take(destination, count);
    }
    return count;
}

bool SerialPort::ReadExact(void* destination, int32_t count, uint32_t timeoutMs)
{
    const Deadline deadline = Deadline::AfterMs(timeoutMs);
    while (!deadline.Expired()) {
        if (Buffered() >= count || InputQueued() >= count) {
            if (count > 0) {
                Take(destination, count);
            }
            return true;
        }
        if (!open_) {
            break;
        }
        // Fill() drained the driver's queue, so this sleeps until new bytes come in.
        PollOnce(fd_, POLLIN, deadline.Remaining());
    }
    return count == 0;
}

bool SerialPort::WaitForInput(uint32_t timeoutMs)
{
    const Deadline deadline = Deadline::AfterMs(timeoutMs);
    for (;;) {
        if (InputQueued() > 0) {
            return true;
        }
        if (!open_ || deadline.Expired()) {
            return false;
        }
        PollOnce(fd_, POLLIN, deadline.Remaining());
    }
}

bool SerialPort::PurgeReceive()
{
    rx_.clear();
    rxHead_ = 0;
    return fd_ >= 0 && ::ioctl(fd_, TCFLSH, TCIFLUSH) == 0;
}

bool SerialPort::PurgeTransmit()
{
    return fd_ >= 0 && ::ioctl(fd_, TCFLSH, TCOFLUSH) == 0;
}

bool SerialPort::Purge()
{
    return PurgeReceive() || PurgeTransmit();
}

uint32_t SerialPort::WireTimeMs(uint32_t bytes) const
{
    if (!open_ || baudRate_ == 0) {
        return 0;
    }
    const uint64_t bits = static_cast<uint64_t>(bytes) * bitsPerByte_;
    return static_cast<uint32_t>((bits * 1000 + baudRate_ - 1) / baudRate_);
}

SerialPort& UpgPort()
{
    static SerialPort port;
    return port;
}

void UpgMapPort(int32_t portNumber, const char* devicePath)
{
    PortMap& map = Map();
    std::lock_guard lock(map.mutex);
    if (devicePath == nullptr || *devicePath == '\0') {
        map.devices.erase(portNumber);
    } else {
        map.devices[portNumber] = devicePath;
    }
}

std::string UpgPortDevicePath(int32_t portNumber)
{
    PortMap& map = Map();
    std::lock_guard lock(map.mutex);
    if (auto it = map.devices.find(portNumber); it != map.devices.end()) {
        return it->second;
    }
    if (portNumber < 1) {
        return {};
    }
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

void UpgClearPortMap()
{
    PortMap& map = Map();
    std::lock_guard lock(map.mutex);
    map.devices.clear();
}

namespace {
std::mutex g_failureMutex;
PortFailure g_failure = PortFailure::None;
std::string g_failureText;
}  // namespace

PortFailure UpgPortFailure()
{
    std::lock_guard lock(g_failureMutex);
    return g_failure;
}

std::string UpgPortFailureText()
{
    std::lock_guard lock(g_failureMutex);
    return g_failureText;
}

int32_t UpgOpenPort(int32_t portNumber, int32_t baudRate, int32_t parityCode, int32_t stopBitSelector)
{
    SerialPort& port = UpgPort();
    const bool opened = port.Open(portNumber, baudRate, parityCode, stopBitSelector);
    {
        std::lock_guard lock(g_failureMutex);
        g_failure = port.LastFailure();
        g_failureText = port.LastFailureText();
    }
    return opened ? UpgOk : UpgErrOpenPort;
}

int32_t UpgClosePort()
{
    return UpgPort().Close() ? 0 : 1;
}

int32_t UpgReadAvailable(void* destination, int32_t maximum)
{
    return UpgPort().Read(destination, maximum);
}

int32_t UpgReadBytes(void* destination, int32_t count, uint32_t timeoutMs)
{
    return UpgPort().ReadExact(destination, count, timeoutMs) ? 0 : 1;
}

int32_t UpgWriteBytes(const void* bytes, int32_t count)
{
    return UpgPort().Write(bytes, count);
}

int32_t UpgWriteByte(int32_t value)
{
    const auto byte = static_cast<uint8_t>(value & 0xFF);
    return UpgPort().Write(&byte, 1);
}

int32_t UpgWriteEchoed(const void* bytes, int32_t count, uint32_t echoTimeoutMs)
{
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (int32_t i = 0; i < count; ++i) {
        if (UpgWriteBytes(p + i, 1) == 0) {
            return UpgErrSend;
        }
        uint8_t echo = 0;
        // The byte goes out and its echo comes back: two bytes on the line.
        if (UpgReadBytes(&echo, 1, UpgLineTimeout(echoTimeoutMs, 2)) != 0) {
            return UpgErrRead;
        }
        if (echo != p[i]) {
            return UpgErrEchoMismatch;
        }
    }
    return UpgOk;
}

int32_t UpgPurgePort()
{
    return UpgPort().Purge() ? 0 : 1;
}

int32_t UpgPurgeTransmit()
{
    return UpgPort().PurgeTransmit() ? 0 : 1;
}

int32_t UpgWaitForInput(uint32_t timeoutMs)
{
    return UpgPort().WaitForInput(timeoutMs) ? 0 : 1;
}

uint32_t UpgWireTimeMs(uint32_t bytes)
{
    return UpgPort().WireTimeMs(bytes);
}

uint32_t UpgLineTimeout(uint32_t chosenMs, uint32_t wireBytes)
{
    const uint32_t wire = UpgWireTimeMs(wireBytes);
    if (wire == 0) {
        return chosenMs;
    }
    return std::max(chosenMs, wire + wire / 4 + 20);
}
