// The simulated receiver as `simulate` and `demo` set it up.
#pragma once

#include "options.h"

#include "sim/receiver.h"

#include <cstdint>
#include <string>
#include <vector>

// The receiver for the options around the given flash contents (empty: the sample layout).
sim::ReceiverConfig ReceiverConfigOf(const SimulatorOptions& options, std::vector<uint8_t> flash);

// A receiver's command as a line of text: without its carriage return, anything unprintable
// as \xNN.
std::string PrintableCommand(const std::string& command);
