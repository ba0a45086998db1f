// Download compression in process (liblzma) against the SDK's encoder run the old way: a
// separate program on temporary files, "lzma_alone e in out -lc0 -lp2".
//
// Counters: out_bytes is the size of the result (for data that does not shrink, the in-process
// encoder stops once it knows and the data travels plain: out_bytes is then the data's size).
#include "compression.h"

#include "sim/image.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

struct Input {
    const char* name;
    Bytes data;
};


Bytes Text(size_t count)
{
    const std::string line = "version 2.0.0c build 2008-01-25 ";
    Bytes bytes;
    while (bytes.size() < count) {
        bytes.insert(bytes.end(), line.begin(), line.end());
    }
    bytes.resize(count);
    return bytes;
}

const std::vector<Input>& Inputs()
{
    static const std::vector<Input> inputs = {
        {"firmware_like_2MiB", sim::FirmwareLikeBytes(0x200000, 1)},
        {"sample_flash_2MiB", sim::SampleFlash(1)},
        {"random_2MiB", sim::RandomBytes(0x200000, 1)},
        {"erased_2MiB", Bytes(0x200000, 0xFF)},
        {"tiny_100", Text(100)},
    };
    return inputs;
}

void InProcess(benchmark::State& state, const Bytes& data)
{
    Bytes buffer;
    uint32_t out = 0;
    for (auto _ : state) {
        state.PauseTiming();
        buffer = data;
        state.ResumeTiming();
        CompressForTransfer(buffer.data(), static_cast<uint32_t>(buffer.size()), buffer.data(), &out);
    }
    state.counters["out_bytes"] = out;
}

void Sdk(benchmark::State& state, const Bytes& data)
{
    const std::string dir = "/tmp/flashmate_bench_" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    const std::string in = dir + "/temp.in";
    const std::string out = dir + "/temp.7z";
    const std::string command = "lzma_alone e '" + in + "' '" + out + "' -lc0 -lp2 >/dev/null 2>&1";
    size_t size = 0;
    for (auto _ : state) {
        std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                   static_cast<std::streamsize>(data.size()));
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("lzma_alone failed (Debian package lzma-alone)");
            break;
        }
        std::ifstream file(out, std::ios::binary);
        const Bytes result{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        size = result.size();
        benchmark::DoNotOptimize(result.data());
    }
    state.counters["out_bytes"] = static_cast<double>(size);
    std::remove(in.c_str());
    std::remove(out.c_str());
    ::rmdir(dir.c_str());
}

const bool kRegistered = [] {
    for (const Input& input : Inputs()) {
        benchmark::RegisterBenchmark((std::string("BM_CompressInProcess/") + input.name).c_str(),
                                     [&input](benchmark::State& state) { InProcess(state, input.data); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(3.0);
        benchmark::RegisterBenchmark((std::string("BM_CompressSdkProcess/") + input.name).c_str(),
                                     [&input](benchmark::State& state) { Sdk(state, input.data); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(3.0);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
