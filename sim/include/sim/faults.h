// Seeded faults on what the simulated receiver sends and receives.
#pragma once

#include "sim/pty_link.h"

#include <atomic>
#include <cstdint>
#include <random>
#include <vector>

namespace sim {

struct LineFaults;

class FaultInjector {
public:
    FaultInjector(const LineFaults& faults, std::mt19937_64& random) : faults_(faults), random_(random) {}

    // True with the given probability (never for 0).
    bool Roll(double probability);
    // Whether to lose what the PC just sent, or the answer about to go out.
    bool Drop();
    bool LateDuplicateAck();

    // Sends an answer with the configured faults: possibly dropped, delayed, preceded by noise,
    // or with one bit flipped. False only when the link failed.
    bool Send(PtyLink& link, std::vector<uint8_t> bytes);

    // How many faults were injected, for tests to check that a run was exercised.
    uint64_t Injected() const { return injected_.load(); }

private:
    const LineFaults& faults_;
    std::mt19937_64& random_;
    // Read by tests while the device thread runs.
    std::atomic<uint64_t> injected_{0};
};

}  // namespace sim
