// One short function per command, and the table that picks it.
#pragma once

#include "console.h"
#include "interrupts.h"
#include "options.h"

#include <ostream>

struct CommandContext {
    Console& console;        // standard error: the jobs' log and progress, the tool's remarks
    InterruptWatcher& interrupts;
    std::ostream& out;       // standard output: tables and summaries, for scripts to read
};

// Each returns the exit status (exit_codes.h).
int RunInfo(const CommandLine& line, CommandContext& context);
int RunWrite(const CommandLine& line, CommandContext& context);
int RunRead(const CommandLine& line, CommandContext& context);
int RunImage(const CommandLine& line, CommandContext& context);
int RunSimulate(const CommandLine& line, CommandContext& context);
int RunDemo(const CommandLine& line, CommandContext& context);

int RunCommand(const CommandLine& line, CommandContext& context);
