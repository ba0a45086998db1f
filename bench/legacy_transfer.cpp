// The legacy raw download of 2 MiB to the simulated receiver on a paced line, against the line's
// physical minimum: every byte that crossed it (blocks, CRCs, answers, the command and its
// echo) at the wire time of one byte. What is left over is turnaround.
#include "flashmate/upgrade.h"
#include "legacy.h"
#include "sim/image.h"
#include "sim/receiver.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

constexpr int32_t kBaudRate = 115200;
constexpr int32_t kEvenParity = 2;
// Start bit, 8 data bits, parity, one stop bit.
constexpr uint32_t kBitsPerByte = 11;
constexpr int32_t kLegacyVersion = 33;

int32_t NeverCancel()
{
    return 0;
}

void BM_LegacyTransferRaw(benchmark::State& state)
{
    sim::ReceiverConfig config;
    config.protocolVersion = kLegacyVersion;
    config.baudRate = kBaudRate;
    config.bitsPerByte = kBitsPerByte;
    sim::Receiver receiver(config);
    std::string error;
    if (!receiver.Start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    UpgMapPort(1, receiver.DevicePath().c_str());
    int32_t found = 0;
    if (UpgOpenPort(1, kBaudRate, kEvenParity, 1) != 0 || UpgHandshake(&found, nullptr, NeverCancel) != 0) {
        state.SkipWithError("no receiver on the pty");
        return;
    }
    UpgSetProtocolVersion(kLegacyVersion);
    const auto transferSize = static_cast<size_t>(state.range(0));
    const std::vector<uint8_t> data = sim::FirmwareLikeBytes(transferSize, 7);
    const double byteSeconds = std::chrono::duration<double>(receiver.Link().ByteTime()).count();

    for (auto _ : state) {
        // A new image from address 0, so every repetition fits the flash.
        if (LegacySetAddress(0) != 0) {
            state.SkipWithError("address refused");
            break;
        }
        const uint64_t toPc = receiver.Link().BytesToPc();
        const uint64_t fromPc = receiver.Link().BytesFromPc();
        const auto start = std::chrono::steady_clock::now();
        const int32_t result = LegacyTransferRaw(data.data(), static_cast<int32_t>(data.size()), nullptr, NeverCancel);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (result != 0) {
            state.SkipWithError(("transfer failed with " + std::to_string(result)).c_str());
            break;
        }
        const uint64_t crossed = (receiver.Link().BytesToPc() - toPc) + (receiver.Link().BytesFromPc() - fromPc);
        const double minimum = static_cast<double>(crossed) * byteSeconds;
        state.SetIterationTime(seconds);
        state.counters["bytes_on_line"] = static_cast<double>(crossed);
        state.counters["line_minimum_s"] = minimum;
        state.counters["elapsed_s"] = seconds;
        state.counters["efficiency_pct"] = 100.0 * minimum / seconds;
        state.counters["turnaround_us_per_block"] =
            1e6 * (seconds - minimum) / static_cast<double>((transferSize + 1023) / 1024);
    }
    UpgClosePort();
    receiver.Stop();
}
// 2 MiB is the measurement; 128 KiB a quick look while changing the turnaround.
BENCHMARK(BM_LegacyTransferRaw)->Arg(2 << 20)->Arg(128 << 10)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
