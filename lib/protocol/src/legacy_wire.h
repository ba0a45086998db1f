// What the legacy commands and the legacy dumps share: the letters on the line, the command
// opening, and waits that stretch with the line's speed.
#pragma once

#include "flashmate/messages.h"

#include <cstdint>

namespace legacy {

inline constexpr uint8_t LetterOk = 'O';
inline constexpr uint8_t LetterError = 'E';
inline constexpr uint8_t LetterBurnReport = 'B';
inline constexpr uint8_t LetterBurnFinished = 'F';
inline constexpr uint8_t LetterHeader = 'H';
inline constexpr uint8_t LetterGo = 'G';

// Room for any formatted command text.
inline constexpr int32_t CommandBufferSize = 256;

// Pause, discard stale input, send the text with every byte's echo checked: 0, or 5 for any
// echo failure.
int32_t OpenCommand(const char* text);

// Exactly count bytes within chosenMs, stretched to their wire time on slow lines.
bool Receive(void* destination, int32_t count, uint32_t chosenMs);

// A null cancel callback never cancels; a null progress callback is not called.
bool Cancelled(UpgCancelCallback cancel);
void Report(UpgProgressCallback progress, int32_t percent);

// Percentage of done out of all, in 64 bits so large counts cannot overflow.
int32_t Percent(int64_t done, int64_t all);

}  // namespace legacy
