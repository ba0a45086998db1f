// flashmate: the command-line front end. Runs the same session jobs as the wizard.
#include "commands.h"
#include "console.h"
#include "interrupts.h"
#include "options.h"

#include <csignal>
#include <cstdio>
#include <iostream>

int main(int argc, char** argv)
{
    // First of all: every thread started from here on keeps the interrupt signals blocked.
    InterruptWatcher interrupts;
    // A log piped into a reader that went away must not end the program in the middle of a
    // burn: writes fail instead.
    std::signal(SIGPIPE, SIG_IGN);

    const ParseOutcome parsed = ParseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.commandLine) {
        return parsed.exitCode;
    }
    Console console(stderr, Console::StandardErrorIsTerminal());
    CommandContext context{console, interrupts, std::cout};
    return RunCommand(*parsed.commandLine, context);
}
