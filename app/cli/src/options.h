// The command line as the user typed it, checked for form; what it means for the receiver is
// decided by the commands.
#pragma once

#include "sim/receiver.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

enum class CommandKind { Info, Write, Read, Image, Simulate, Demo };

// COMn, or a device path.
struct PortChoice {
    int32_t number = 0;  // n of COMn; 0 for a device path
    std::string device;  // empty for COMn
};

// Line settings given on the command line; those not given come from Upgrade.ini.
struct LineOptions {
    std::optional<PortChoice> port;
    std::optional<int32_t> baudRate;
    std::optional<int32_t> parityCode;
    std::string settingsFile;  // empty: Upgrade.ini beside the program
};

// --chunk SEL=FILE
struct ChunkArgument {
    std::string selector;
    std::string path;
};

// The simulated receiver of `simulate` and `demo`.
struct SimulatorOptions {
    int32_t protocolVersion = 48;
    std::string flashFile;   // empty: the sample layout
    uint32_t paceBaud = 0;   // 0: as fast as the pseudo-terminal goes
    uint32_t bitsPerByte = 11;
    sim::LineFaults faults;
    bool burnFails = false;
    uint64_t seed = 1;
};

struct CommandLine {
    CommandKind command = CommandKind::Info;
    LineOptions line;
    std::string file;  // write IMAGE, read FILE, image FILE
    bool noBootLoader = false;
    std::vector<ChunkArgument> chunks;
    SimulatorOptions simulator;
    bool keepDemoFiles = false;
};

struct ParseOutcome {
    // Empty when the program ends at once with exitCode: help was asked for, or the command
    // line is wrong (its message already written).
    std::optional<CommandLine> commandLine;
    int exitCode = 0;
};

ParseOutcome ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// "COMn" (any case, n from 1) or a path with a '/'.
std::optional<PortChoice> ParsePort(const std::string& text);
// "none", "odd", "even", "mark", "space" (any case) to the port's parity code 0, 1, 2, 3, 4.
std::optional<int32_t> ParseParity(const std::string& text);
// "SEL=FILE" with neither part empty; the first '=' splits, so a file name may hold one.
std::optional<ChunkArgument> ParseChunkArgument(const std::string& text);
