#include "sim/faults.h"

#include "sim/receiver.h"

#include <thread>

namespace sim {

namespace {
constexpr size_t kMaxNoise = 24;
}

bool FaultInjector::Roll(double probability)
{
    if (probability <= 0) {
        return false;
    }
    const bool hit = std::uniform_real_distribution<double>(0, 1)(random_) < probability;
    injected_ += hit ? 1 : 0;
    return hit;
}

bool FaultInjector::Drop()
{
    return Roll(faults_.drop);
}

bool FaultInjector::LateDuplicateAck()
{
    return Roll(faults_.lateDuplicateAck);
}

bool FaultInjector::Send(PtyLink& link, std::vector<uint8_t> bytes)
{
    if (Drop()) {
        return true;
    }
    if (Roll(faults_.delay)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(faults_.delayMs));
    }
    if (Roll(faults_.noise)) {
        std::vector<uint8_t> noise(1 + random_() % kMaxNoise);
        for (uint8_t& b : noise) {
            b = static_cast<uint8_t>(random_());
        }
        if (!link.Write(noise)) {
            return false;
        }
    }
    if (!bytes.empty() && Roll(faults_.corrupt)) {
        bytes[random_() % bytes.size()] ^= static_cast<uint8_t>(1u << (random_() % 8));
    }
    return link.Write(bytes);
}

}  // namespace sim
