#include "proto3_session.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using testsupport::Capture;
using Bytes = std::vector<uint8_t>;

// A whole 2 MiB flash written and read back over a noisy line. Every lost packet costs the
// PC a time-out of 1.5 or 2 s, which is what makes this slow.
struct FaultCase {
    const char* name;
    uint64_t seed;
    bool compressible;
};

class WholeFlashUnderFaults : public testsupport::Proto3Session, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(WholeFlashUnderFaults, ExactDataOrAnError)
{
    const FaultCase& c = GetParam();
    sim::ReceiverConfig config{.seed = c.seed};
    config.faults = {.corrupt = 0.02, .drop = 0.0015, .delay = 0.02, .delayMs = 30, .noise = 0.02,
                     .lateDuplicateAck = 0.01};
    ASSERT_NO_FATAL_FAILURE(Connect(std::move(config)));
    const Bytes image = c.compressible ? sim::SampleFlash(c.seed + 50) : sim::RandomBytes(0x200000, c.seed);
    const auto [written, read] = WriteAndReadBackJudged(image);
    EXPECT_GT(receiver_->FaultsInjected(), 20u);
    EXPECT_EQ(written, 0) << Capture::Log();
    EXPECT_EQ(read, 0) << Capture::Log();
}

INSTANTIATE_TEST_SUITE_P(Seeds, WholeFlashUnderFaults,
                         ::testing::Values(FaultCase{"seed_11_plain", 11, false},
                                           FaultCase{"seed_12_compressed", 12, true},
                                           FaultCase{"seed_13_plain", 13, false}),
                         testsupport::CaseName());

}  // namespace
