#include "commands.h"
#include "exit_codes.h"
#include "report.h"
#include "simulator.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

// How often new commands are shown while waiting for Ctrl-C.
constexpr auto kCommandPoll = std::chrono::milliseconds(200);

// The chunk-table answer's flash-size code for a flash of this size; 0 (unknown) for sizes no
// receiver has.
uint8_t FlashSizeCode(size_t bytes)
{
    switch (bytes) {
    case 0x80000:
        return 1;
    case 0x100000:
        return 3;
    case 0x200000:
        return 5;
    default:
        return 0;
    }
}

std::string Describe(const SimulatorOptions& options)
{
    std::string text =
        "Simulated receiver: protocol " + ProtocolDescription(static_cast<uint32_t>(options.protocolVersion)) + ", ";
    text += options.flashFile.empty() ? "the sample 2 MiB flash" : "flash from " + options.flashFile;
    text += options.paceBaud == 0 ? ", unpaced" : ", paced at " + std::to_string(options.paceBaud) + " baud";
    if (options.faults.Any()) {
        text += ", with line faults";
    }
    return text + ".";
}

}  // namespace

sim::ReceiverConfig ReceiverConfigOf(const SimulatorOptions& options, std::vector<uint8_t> flash)
{
    sim::ReceiverConfig config;
    config.protocolVersion = options.protocolVersion;
    if (!flash.empty()) {
        config.flashSizeCode = FlashSizeCode(flash.size());
    }
    config.flash = std::move(flash);
    config.baudRate = options.paceBaud;
    config.bitsPerByte = options.bitsPerByte;
    config.faults = options.faults;
    config.burn.fail = options.burnFails;
    config.seed = options.seed;
    return config;
}

std::string PrintableCommand(const std::string& command)
{
    std::string text;
    for (size_t i = 0; i < command.size(); ++i) {
        const auto byte = static_cast<unsigned char>(command[i]);
        if (byte == '\r' && i + 1 == command.size()) {
            break;
        }
        if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        } else {
            text.push_back(static_cast<char>(byte));
        }
    }
    return text;
}

int RunSimulate(const CommandLine& line, CommandContext& context)
{
    const SimulatorOptions& options = line.simulator;
    std::vector<uint8_t> flash;
    if (!options.flashFile.empty()) {
        std::ifstream file(options.flashFile, std::ios::binary);
        flash.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (!file.eof() || flash.empty()) {
            context.console.Note("Cannot read the flash contents from " + options.flashFile + ".");
            return ExitFailed;
        }
    }
    const int interruptsBefore = context.interrupts.Count();
    sim::Receiver receiver(ReceiverConfigOf(options, std::move(flash)));
    std::string error;
    if (!receiver.Start(&error)) {
        context.console.Note("Cannot start the simulated receiver: " + error);
        return ExitFailed;
    }
    // The path alone on the first line, for scripts to take.
    context.out << receiver.DevicePath() << std::endl;
    context.console.Note(Describe(options));
    context.console.Note("Connect with: flashmate --port " + receiver.DevicePath() + " info     (Ctrl-C ends the simulation)");

    size_t shown = 0;
    auto showNewCommands = [&] {
        const std::vector<std::string> commands = receiver.Commands();
        for (; shown < commands.size(); ++shown) {
            context.console.Note("> " + PrintableCommand(commands[shown]));
        }
    };
    while (!context.interrupts.WaitBeyond(interruptsBefore, kCommandPoll)) {
        showNewCommands();
    }
    receiver.Stop();
    showNewCommands();
    context.console.Note("Stopped after " + std::to_string(shown) + " commands; " +
                         std::to_string(receiver.Link().BytesFromPc()) + " bytes came from the PC, " +
                         std::to_string(receiver.Link().BytesToPc()) + " went to it.");
    return ExitOk;
}
