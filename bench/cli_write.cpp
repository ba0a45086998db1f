// `flashmate write` of a 2 MiB image, end to end, against the simulated receiver paced like a
// real cable: 115200 baud, 11 bits a byte (parity on), both directions.
//
// Efficiency = (the line's physical minimum for the bytes that crossed it, both ways, plus the
// protocol's fixed pauses) / the program's whole run time, from its start to its exit. The
// fixed pauses are the boot loader's: 100 ms before every handshake attempt, 100 ms after the
// connect job's handshake, 1000 ms after a whole image, and on the legacy protocol 100 ms
// before every command. Everything else (starting the program, compressing, turnarounds, the
// simulator's burn) counts as overhead.
//
// bench_cli_write [--protocol N]     (48 by default; 32 for the legacy protocol, about 4 min)
#include "sim/image.h"
#include "sim/receiver.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kLineBaud = 115200;
constexpr uint32_t kBitsPerByte = 11;
constexpr uint64_t kReceiverSeed = 1;
constexpr uint64_t kImageSeed = 2;
constexpr uint32_t kImageSize = 0x200000;

// The boot loader's fixed pauses.
constexpr double kHandshakeAttemptPause = 0.100;
constexpr double kAfterConnectHandshake = 0.100;
constexpr double kAfterWholeImage = 1.000;
constexpr double kLegacyCommandOpening = 0.100;
constexpr int32_t kPacketProtocol = 48;
// Bytes still crossing the paced line when the program exits are counted after this long.
constexpr auto kSettle = std::chrono::milliseconds(300);

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Runs flashmate with its output into log; the exit status, or -1.
int RunFlashmate(const std::vector<std::string>& arguments, const std::string& log)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char** argv)
{
    int32_t protocol = kPacketProtocol;
    if (argc == 3 && std::strcmp(argv[1], "--protocol") == 0) {
        protocol = std::atoi(argv[2]);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--protocol N]\n", argv[0]);
        return 2;
    }

    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "flashmate-bench-cli-write";
    std::filesystem::create_directories(folder);
    const std::string image = (folder / "image.abs").string();
    const std::string settings = (folder / "Upgrade.ini").string();
    const std::string log = (folder / "flashmate.log").string();
    {
        const std::vector<uint8_t> bytes = sim::SampleFlash(kImageSeed, kImageSize);
        std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        std::ofstream(settings) << "[Config]\n";
    }

    sim::ReceiverConfig config;
    config.protocolVersion = protocol;
    config.flash = sim::SampleFlash(kReceiverSeed);
    config.baudRate = kLineBaud;
    config.bitsPerByte = kBitsPerByte;
    sim::Receiver receiver(std::move(config));
    std::string error;
    if (!receiver.Start(&error)) {
        std::fprintf(stderr, "no simulated receiver: %s\n", error.c_str());
        return 1;
    }

    const Clock::time_point start = Clock::now();
    const int status = RunFlashmate({FLASHMATE_PATH, "--settings", settings, "--port", receiver.DevicePath(), "--baud",
                                     std::to_string(kLineBaud), "--parity", "even", "write", image},
                                    log);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::this_thread::sleep_for(kSettle);
    const uint64_t toPc = receiver.Link().BytesToPc();
    const uint64_t fromPc = receiver.Link().BytesFromPc();
    const std::vector<std::string> commands = receiver.Commands();
    receiver.Stop();
    if (status != 0) {
        std::fprintf(stderr, "flashmate write failed with %d; its output is in %s\n", status, log.c_str());
        return 1;
    }

    int handshakes = 0;
    int legacyOpenings = 0;
    for (const std::string& command : commands) {
        if (StartsWith(command, "comtest")) {
            ++handshakes;
        } else if (protocol < kPacketProtocol && !StartsWith(command, "reboot")) {
            ++legacyOpenings;
        }
    }
    const double byteTime = static_cast<double>(kBitsPerByte) / kLineBaud;
    const double line = static_cast<double>(toPc + fromPc) * byteTime;
    const double pauses = handshakes * kHandshakeAttemptPause + kAfterConnectHandshake + kAfterWholeImage +
                          legacyOpenings * kLegacyCommandOpening;

    std::ifstream output(log);
    std::string summary;
    for (std::string text; std::getline(output, text);) {
        if (StartsWith(text, "Wrote ")) {
            summary = text;
        }
    }
    std::printf("flashmate write, %u-byte image, protocol %d, paced at %u baud, %u bits a byte\n", kImageSize, protocol,
                kLineBaud, kBitsPerByte);
    std::printf("  program's summary:  %s\n", summary.c_str());
    std::printf("  bytes on the line:  %llu to the receiver, %llu back\n", static_cast<unsigned long long>(fromPc),
                static_cast<unsigned long long>(toPc));
    std::printf("  line minimum:       %.3f s\n", line);
    std::printf("  fixed pauses:       %.3f s (%d handshake attempts, %d legacy command openings)\n", pauses, handshakes,
                legacyOpenings);
    std::printf("  whole run:          %.3f s\n", seconds);
    std::printf("  overhead:           %.3f s\n", seconds - line - pauses);
    std::printf("  efficiency:         %.2f %%\n", 100.0 * (line + pauses) / seconds);
    return 0;
}
