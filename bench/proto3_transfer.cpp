// A 2 MiB download on the packet protocol against the simulated receiver, stop-and-wait.
//
// BM_TransferUnpaced: as fast as the pty goes; incompressible data, so it travels plain.
// BM_TransferPaced: the receiver paced at 115200 baud, 11 bits a byte (parity on), the PC's
// port opened the same way. Efficiency is the line's physical minimum for the bytes that
// crossed it, both ways, divided by the time taken.
//
// The packet phase starts at the first cancel call, which comes right before data packet 1:
// after the compression attempt and the "transfer" command. The whole call includes both.
#include "proto3.h"

#include "flashmate/serial.h"
#include "flashmate/upgrade.h"
#include "sim/image.h"
#include "sim/receiver.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr size_t kSize = 0x200000;
constexpr uint32_t kLineBaud = 115200;
constexpr uint32_t kBitsPerByte = 11;
constexpr int32_t kParityEven = 2;

// The callbacks are plain functions; this is what they note.
struct PhaseMark {
    sim::PtyLink* link = nullptr;
    bool started = false;
    Clock::time_point at;
    uint64_t bytes = 0;
} g_mark;

uint64_t LineBytes(const sim::PtyLink& link)
{
    return link.BytesToPc() + link.BytesFromPc();
}

int32_t MarkPacketPhase()
{
    if (!g_mark.started) {
        g_mark.started = true;
        g_mark.at = Clock::now();
        g_mark.bytes = LineBytes(*g_mark.link);
    }
    return 0;
}

void IgnoreProgress(int32_t) {}


class Session {
public:
    bool Open(uint32_t baud)
    {
        sim::ReceiverConfig config;
        config.baudRate = baud;
        config.bitsPerByte = kBitsPerByte;
        receiver_ = std::make_unique<sim::Receiver>(std::move(config));
        if (!receiver_->Start()) {
            return false;
        }
        UpgMapPort(1, receiver_->DevicePath().c_str());
        int32_t version = 0;
        return UpgOpenPort(1, kLineBaud, kParityEven, 1) == 0 && UpgHandshake(&version, nullptr, nullptr) == 0 &&
               version == ProtocolPacket;
    }
    ~Session()
    {
        UpgClosePort();
        if (receiver_) {
            receiver_->Stop();
        }
    }
    sim::PtyLink& Link() { return receiver_->Link(); }

private:
    std::unique_ptr<sim::Receiver> receiver_;
};

struct Run {
    int32_t result = 0;
    double wholeSeconds = 0;
    double phaseSeconds = 0;
    uint64_t wholeBytes = 0;
    uint64_t phaseBytes = 0;
};

Run TransferOnce(Session& session, const Bytes& data)
{
    Run run;
    run.result = Proto3SetAddress(0);
    if (run.result != 0) {
        return run;
    }
    Bytes buffer = data;
    g_mark = PhaseMark{&session.Link()};
    const uint64_t bytesBefore = LineBytes(session.Link());
    const Clock::time_point start = Clock::now();
    run.result = Proto3Transfer(buffer.data(), static_cast<int32_t>(buffer.size()), IgnoreProgress, MarkPacketPhase);
    const Clock::time_point end = Clock::now();
    const uint64_t bytesAfter = LineBytes(session.Link());
    run.wholeSeconds = std::chrono::duration<double>(end - start).count();
    run.phaseSeconds = std::chrono::duration<double>(end - g_mark.at).count();
    run.wholeBytes = bytesAfter - bytesBefore;
    run.phaseBytes = bytesAfter - g_mark.bytes;
    return run;
}

void BM_TransferUnpaced(benchmark::State& state)
{
    Session session;
    if (!session.Open(0)) {
        state.SkipWithError("no simulated receiver");
        return;
    }
    const Bytes data = sim::RandomBytes(kSize, 1);
    double phase = 0;
    double whole = 0;
    for (auto _ : state) {
        const Run run = TransferOnce(session, data);
        if (run.result != 0) {
            state.SkipWithError("transfer failed");
            return;
        }
        state.SetIterationTime(run.phaseSeconds);
        phase += run.phaseSeconds;
        whole += run.wholeSeconds;
    }
    const auto megabytes = static_cast<double>(kSize) * static_cast<double>(state.iterations()) / 1e6;
    state.counters["packet_phase_MB_per_s"] = megabytes / phase;
    state.counters["whole_call_MB_per_s"] = megabytes / whole;
    state.counters["compression_attempt_s"] = (whole - phase) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_TransferUnpaced)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_TransferPaced(benchmark::State& state)
{
    Session session;
    if (!session.Open(kLineBaud)) {
        state.SkipWithError("no simulated receiver");
        return;
    }
    const bool compressible = state.range(0) != 0;
    const Bytes data = compressible ? sim::SampleFlash(5) : sim::RandomBytes(kSize, 2);
    const double byteSeconds = std::chrono::duration<double>(session.Link().ByteTime()).count();
    for (auto _ : state) {
        const Run run = TransferOnce(session, data);
        if (run.result != 0) {
            state.SkipWithError("transfer failed");
            return;
        }
        state.SetIterationTime(run.phaseSeconds);
        state.counters["line_bytes"] = static_cast<double>(run.phaseBytes);
        state.counters["efficiency_packet_phase_pct"] =
            100.0 * static_cast<double>(run.phaseBytes) * byteSeconds / run.phaseSeconds;
        state.counters["efficiency_whole_call_pct"] =
            100.0 * static_cast<double>(run.wholeBytes) * byteSeconds / run.wholeSeconds;
        state.counters["per_packet_overhead_ms"] =
            1000.0 * (run.phaseSeconds - static_cast<double>(run.phaseBytes) * byteSeconds) /
            std::ceil(static_cast<double>(run.phaseBytes) / 1079.0);
    }
}
// 0: random data, which travels plain (about 3.5 minutes); 1: a firmware-like flash, compressed.
BENCHMARK(BM_TransferPaced)->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
