#include "sim/pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace sim {

namespace {

// Bytes handed to the pty at once while pacing: about a millisecond of line time, so the PC
// sees a steady trickle instead of whole packets appearing before their time.
constexpr auto kPacingSlice = std::chrono::milliseconds(1);

int PollFor(int fd, short events, int wakeFd, PtyLink::Clock::duration wait)
{
    pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(wait).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(std::max<int64_t>(micros, 0) / 1000000);
    ts.tv_nsec = static_cast<long>(std::max<int64_t>(micros, 0) % 1000000 * 1000);
    const int ready = ppoll(fds, 2, &ts, nullptr);
    if (ready <= 0) {
        return 0;
    }
    if (fds[1].revents != 0) {
        return -1;
    }
    return fds[0].revents;
}

}  // namespace

PtyLink::~PtyLink()
{
    Close();
}

bool PtyLink::Open(std::string* error)
{
    auto fail = [&](const char* what) {
        if (error != nullptr) {
            *error = std::string(what) + ": " + std::strerror(errno);
        }
        Close();
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        return fail("posix_openpt");
    }
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        return fail("grantpt/unlockpt");
    }
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        return fail("ptsname");
    }
    slavePath_ = name;
    // Raw on the slave's line discipline (set through the master): no echo, no CR/LF mapping,
    // even before the PC side has configured the port.
    termios tio{};
    if (::tcgetattr(master_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveHold_ < 0) {
        return fail("open slave");
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return fail("pipe");
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    return true;
}

void PtyLink::Close()
{
    for (int* fd : {&master_, &slaveHold_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    pending_.clear();
}

void PtyLink::SetPacing(uint32_t baudRate, uint32_t bitsPerByte)
{
    if (baudRate == 0) {
        byteTime_ = Clock::duration::zero();
        return;
    }
    byteTime_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bitsPerByte) / baudRate));
}

void PtyLink::Interrupt()
{
    interrupted_.store(true);
    if (wakeWrite_ >= 0) {
        const char one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &one, 1);
    }
}

void PtyLink::Resume()
{
    char drain[64];
    while (wakeRead_ >= 0 && ::read(wakeRead_, drain, sizeof drain) > 0) {
    }
    interrupted_.store(false);
}

bool PtyLink::Write(const uint8_t* data, size_t count)
{
    size_t done = 0;
    while (done < count) {
        if (interrupted_.load() || master_ < 0) {
            return false;
        }
        size_t slice = count - done;
        if (byteTime_ > Clock::duration::zero()) {
            const auto perSlice = static_cast<size_t>(std::max<int64_t>(1, kPacingSlice / byteTime_));
            slice = std::min(slice, perSlice);
            // The slice becomes visible when its last byte has crossed the line.
            const Clock::time_point start = std::max(Clock::now(), txFree_);
            txFree_ = start + byteTime_ * static_cast<int64_t>(slice);
            std::this_thread::sleep_until(txFree_);
        }
        size_t written = 0;
        while (written < slice) {
            const ssize_t n = ::write(master_, data + done + written, slice - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            if (PollFor(master_, POLLOUT, wakeRead_, std::chrono::milliseconds(100)) < 0) {
                return false;
            }
        }
        done += slice;
        bytesToPc_ += slice;
    }
    return true;
}

PtyLink::Clock::time_point PtyLink::DueTime(const Arrival& arrival, size_t index) const
{
    return arrival.firstDue + byteTime_ * static_cast<int64_t>(index);
}

bool PtyLink::PullFromMaster(Clock::time_point until)
{
    for (;;) {
        uint8_t buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            Arrival arrival;
            arrival.bytes.assign(buffer, buffer + n);
            // The bytes started crossing when they were written (about now), or after those
            // still on the line.
            const Clock::time_point start = std::max(Clock::now(), rxFree_);
            arrival.firstDue = start + byteTime_;
            rxFree_ = start + byteTime_ * n;
            bytesFromPc_ += static_cast<uint64_t>(n);
            pending_.push_back(std::move(arrival));
            return true;
        }
        // EIO: no PC side open at the moment (we hold the slave, so this is brief).
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (now >= until) {
            return false;
        }
        const int ready = PollFor(master_, POLLIN, wakeRead_, until - now);
        if (ready < 0) {
            return false;
        }
        if (ready & (POLLHUP | POLLERR)) {
            // The PC side closed; wait a little for it to reopen rather than spinning.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

size_t PtyLink::Read(uint8_t* destination, size_t maximum, Clock::duration timeout)
{
    const Clock::time_point until = Clock::now() + timeout;
    while (!interrupted_.load() && master_ >= 0) {
        if (pending_.empty() && !PullFromMaster(until)) {
            return 0;
        }
        if (pending_.empty()) {
            continue;
        }
        Arrival& head = pending_.front();
        const Clock::time_point due = DueTime(head, head.consumed);
        if (due > Clock::now()) {
            if (due > until) {
                return 0;
            }
            std::this_thread::sleep_until(due);
        }
        // Hand over every byte of this arrival that is due by now.
        size_t count = 0;
        const Clock::time_point now = Clock::now();
        while (count < maximum && head.consumed < head.bytes.size() && DueTime(head, head.consumed) <= now) {
            destination[count++] = head.bytes[head.consumed++];
        }
        if (head.consumed == head.bytes.size()) {
            pending_.pop_front();
        }
        if (count > 0) {
            return count;
        }
    }
    return 0;
}

bool PtyLink::ReadExact(uint8_t* destination, size_t count, Clock::duration timeout)
{
    const Clock::time_point until = Clock::now() + timeout;
    size_t done = 0;
    while (done < count) {
        const Clock::time_point now = Clock::now();
        if (now >= until) {
            return false;
        }
        const size_t n = Read(destination + done, count - done, until - now);
        if (n == 0) {
            return false;
        }
        done += n;
    }
    return true;
}

void PtyLink::DiscardInput()
{
    pending_.clear();
    uint8_t buffer[4096];
    while (master_ >= 0 && ::read(master_, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace sim
