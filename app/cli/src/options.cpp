#include "options.h"

#include "exit_codes.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <climits>
#include <map>

namespace {

constexpr const char* kDescription =
    "flashmate: writes firmware into a satellite receiver's flash over a serial line, and reads "
    "the flash back into files, by talking to the receiver's boot loader.";

constexpr const char* kFooter = R"(Command forms:
  flashmate [--port PORT] [--baud N] [--parity P] info
  flashmate ... write IMAGE                    the whole image
  flashmate ... write --no-bootloader IMAGE    the image without its boot loader
  flashmate ... write --chunk SEL=FILE ...     single chunks; every other chunk is kept
  flashmate ... read FILE                      the whole flash
  flashmate ... read --chunk SEL=FILE ...      single chunks
  flashmate image FILE                         offline: check an image and list its chunks
  flashmate simulate [options]                 a simulated receiver on a pseudo-terminal
  flashmate demo                               write, read back and compare, on a simulated receiver

PORT is COMn (COM1 is /dev/ttyS0 unless the section [Ports] of Upgrade.ini maps it, e.g.
COM1=/dev/ttyUSB0) or a device path such as /dev/ttyUSB0. Port, baud rate and parity not given
here come from Upgrade.ini beside the program, as in the wizard; the command line never writes
that file. Opening a port needs membership of the 'dialout' group.

SEL is a chunk index (0, 1, ...), a chunk id in hex (0x01FE0100) or a chunk name (MAINCODE), as
'flashmate info' lists them. Each chunk file gets the same checks as in the wizard; a refused
file ends the command before anything is written.

Ctrl-C cancels a transfer cleanly (the receiver is told to abort). While the receiver burns its
flash, Ctrl-C is refused: the burn must not be interrupted.

Exit status:
  0    success
  1    the job failed: the receiver, the line or a file reported an error
  2    usage: unknown command or option, a bad value, a chunk that does not exist
  3    the port cannot be opened (the reason is on standard error)
  4    no receiver answered on the port
  5    a file did not pass its checks; nothing was written to the receiver
  130  cancelled by Ctrl-C or SIGTERM)";

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

void AddSimulatorOptions(CLI::App& command, SimulatorOptions& simulator)
{
    command.add_option("--protocol", simulator.protocolVersion,
                       "protocol version the boot loader reports: 48 and above the packet protocol, "
                       "below 48 the legacy protocol (default 48)")
        ->check(CLI::Range(1, 255));
    command.add_option("--pace", simulator.paceBaud,
                       "pace the line at this baud rate, as a real cable would (default: unpaced)");
}

}  // namespace

std::optional<PortChoice> ParsePort(const std::string& text)
{
    if (text.find('/') != std::string::npos) {
        return PortChoice{0, text};
    }
    if (text.size() <= 3 || Lower(text.substr(0, 3)) != "com") {
        return std::nullopt;
    }
    long long number = 0;
    for (size_t i = 3; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return std::nullopt;
        }
        number = number * 10 + (text[i] - '0');
        if (number > INT32_MAX) {
            return std::nullopt;
        }
    }
    if (number < 1) {
        return std::nullopt;
    }
    return PortChoice{static_cast<int32_t>(number), {}};
}

std::optional<int32_t> ParseParity(const std::string& text)
{
    static const std::map<std::string, int32_t> kCodes = {
        {"none", 0}, {"odd", 1}, {"even", 2}, {"mark", 3}, {"space", 4}};
    const auto found = kCodes.find(Lower(text));
    return found == kCodes.end() ? std::nullopt : std::optional<int32_t>(found->second);
}

std::optional<ChunkArgument> ParseChunkArgument(const std::string& text)
{
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) {
        return std::nullopt;
    }
    return ChunkArgument{text.substr(0, equals), text.substr(equals + 1)};
}

ParseOutcome ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    CLI::App app{kDescription, "flashmate"};
    app.footer(kFooter);
    app.require_subcommand(1);
    // The line options may also follow the command: "flashmate write --port COM2 image.abs".
    app.fallthrough();

    CommandLine line;
    std::string port;
    std::string parity;
    std::vector<std::string> chunks;
    app.add_option("--port", port, "COMn or a device path (default: Upgrade.ini)")->type_name("PORT");
    app.add_option("--baud", line.line.baudRate, "baud rate (default: Upgrade.ini, else 115200)")
        ->type_name("N")
        ->check(CLI::Range(1, INT32_MAX).description(""));
    app.add_option("--parity", parity, "none, odd, even, mark or space (default: Upgrade.ini, else even)")
        ->type_name("P");
    app.add_option("--settings", line.line.settingsFile,
                   "read the settings from this file instead of Upgrade.ini beside the program")
        ->type_name("FILE")
        ->check(CLI::ExistingFile.description(""));

    CLI::App* info = app.add_subcommand("info", "connect; print the protocol version, the chunk table and the flash layout");
    CLI::App* write = app.add_subcommand("write", "write an image, or single chunks, into the receiver's flash");
    write->add_option("IMAGE", line.file, "the image file to write whole")->type_name("");
    write->add_flag("--no-bootloader", line.noBootLoader, "write the image without its boot loader");
    write->add_option("--chunk", chunks, "write FILE into the chunk SEL; every other chunk is kept")
        ->type_name("SEL=FILE");
    CLI::App* read = app.add_subcommand("read", "read the whole flash, or single chunks, into files");
    read->add_option("FILE", line.file, "the file that receives the whole flash")->type_name("");
    read->add_option("--chunk", chunks, "read the chunk SEL into FILE")->type_name("SEL=FILE");
    CLI::App* image = app.add_subcommand("image", "offline: check an image file and list its chunks");
    image->add_option("FILE", line.file, "the image file")->type_name("")->required();

    SimulatorOptions& simulator = line.simulator;
    CLI::App* simulate =
        app.add_subcommand("simulate", "run a simulated receiver on a pseudo-terminal and print its device path");
    AddSimulatorOptions(*simulate, simulator);
    simulate->add_option("--flash", simulator.flashFile, "the whole flash contents (default: a sample 2 MiB layout)")
        ->check(CLI::ExistingFile);
    simulate->add_option("--bits-per-byte", simulator.bitsPerByte,
                         "bits per byte on the paced line: start, data, parity, stop (default 11)")
        ->check(CLI::Range(9, 12));
    simulate->add_option("--corrupt", simulator.faults.corrupt, "probability of a flipped bit in an answer")
        ->check(CLI::Range(0.0, 1.0));
    simulate->add_option("--drop", simulator.faults.drop, "probability of losing a packet or an answer")
        ->check(CLI::Range(0.0, 1.0));
    simulate->add_option("--noise", simulator.faults.noise, "probability of noise before an answer")
        ->check(CLI::Range(0.0, 1.0));
    simulate->add_option("--delay", simulator.faults.delay, "probability of a late answer")->check(CLI::Range(0.0, 1.0));
    simulate->add_option("--delay-ms", simulator.faults.delayMs, "how late a late answer is (ms)");
    simulate->add_option("--seed", simulator.seed, "seed of the faults, so that a run can be repeated");
    simulate->add_flag("--burn-fails", simulator.burnFails, "end every burn with a failure report");

    CLI::App* demo = app.add_subcommand(
        "demo", "write a sample image into a simulated receiver, read the flash back and compare");
    AddSimulatorOptions(*demo, simulator);
    demo->add_flag("--keep", line.keepDemoFiles, "keep the demo's folder with the image and the read-back");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error, out, err);
        return ParseOutcome{std::nullopt, code == 0 ? ExitOk : ExitUsage};
    }

    auto usage = [&err](const std::string& message) {
        err << message << "\nRun with --help for more information.\n";
        return ParseOutcome{std::nullopt, ExitUsage};
    };
    if (!port.empty()) {
        line.line.port = ParsePort(port);
        if (!line.line.port) {
            return usage("--port: '" + port + "' is neither COMn nor a device path");
        }
    }
    if (!parity.empty()) {
        line.line.parityCode = ParseParity(parity);
        if (!line.line.parityCode) {
            return usage("--parity: '" + parity + "' is not one of none, odd, even, mark, space");
        }
    }
    for (const std::string& chunk : chunks) {
        const std::optional<ChunkArgument> argument = ParseChunkArgument(chunk);
        if (!argument) {
            return usage("--chunk: '" + chunk + "' is not SEL=FILE");
        }
        line.chunks.push_back(*argument);
    }

    const std::pair<CLI::App*, CommandKind> kinds[] = {
        {info, CommandKind::Info},         {write, CommandKind::Write},       {read, CommandKind::Read},
        {image, CommandKind::Image},       {simulate, CommandKind::Simulate}, {demo, CommandKind::Demo},
    };
    for (const auto& [command, kind] : kinds) {
        if (command->parsed()) {
            line.command = kind;
        }
    }
    if (line.command == CommandKind::Write || line.command == CommandKind::Read) {
        const char* what = line.command == CommandKind::Write ? "IMAGE" : "FILE";
        if (line.file.empty() == line.chunks.empty()) {
            return usage(std::string(line.command == CommandKind::Write ? "write" : "read") + ": give either " +
                         what + " or --chunk SEL=FILE, not both and not neither");
        }
    }
    if (line.noBootLoader && line.file.empty()) {
        return usage("write: --no-bootloader needs IMAGE");
    }
    return ParseOutcome{line, ExitOk};
}
