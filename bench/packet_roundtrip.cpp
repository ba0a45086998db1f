// Packet round trips between the PC side and a device end over a pty: a 1024-byte data packet
// out, a 5-byte response back, as in every step of a download.
#include "flashmate/packet.h"
#include "flashmate/serial.h"
#include "flashmate/upgrade.h"
#include "sim/pty_link.h"
#include "sim/wire.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

void BM_PacketRoundTrip(benchmark::State& state)
{
    sim::PtyLink device;
    if (!device.Open(nullptr)) {
        state.SkipWithError("no pty");
        return;
    }
    UpgMapPort(1, device.SlavePath().c_str());
    if (UpgOpenPort(1, 115200, 2, 1) != 0) {
        state.SkipWithError("cannot open the pty");
        return;
    }
    std::thread answer([&] {
        sim::Packet packet;
        while (sim::ReadPacket(device, packet, std::chrono::seconds(2)) == sim::ReadStatus::Ok) {
            device.Write(sim::EncodeResponse(packet.id, packet.seq, sim::wire::Ok, packet.Number()));
        }
    });

    std::vector<uint8_t> data(1024, 0x5A);
    UpgPacket reply;
    uint32_t number = 1;
    int64_t failures = 0;
    for (auto _ : state) {
        if (SendDataPacket(number, data.data(), 1024) != 0 || ReceivePacket(&reply, 1000) != 0) {
            ++failures;
        }
        ++number;
    }
    state.counters["round_trips_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                             benchmark::Counter::kIsRate);
    state.counters["failures"] = static_cast<double>(failures);
    device.Interrupt();
    answer.join();
    UpgClosePort();
}
BENCHMARK(BM_PacketRoundTrip)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
