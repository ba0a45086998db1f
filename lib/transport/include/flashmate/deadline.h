// A point in time on the monotonic clock by which something must have happened.
#pragma once

#include <chrono>
#include <cstdint>

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    explicit Deadline(std::chrono::microseconds budget) : end_(Clock::now() + budget) {}
    static Deadline AfterMs(uint32_t milliseconds)
    {
        return Deadline(std::chrono::milliseconds(milliseconds));
    }

    bool Expired() const { return Clock::now() >= end_; }

    // Time left, never negative.
    std::chrono::microseconds Remaining() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end_ - Clock::now());
        return left.count() > 0 ? left : std::chrono::microseconds(0);
    }

    Clock::time_point When() const { return end_; }

private:
    Clock::time_point end_;
};
