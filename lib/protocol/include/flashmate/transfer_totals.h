// What the downloads and dumps moved since the last reset, for the front ends' summaries: the
// data the receiver stores, and how many bytes of it went on the line after compression.
#pragma once

#include <cstdint>

struct UpgTransferTotals {
    uint64_t downloads = 0;          // UpgTransfer calls that succeeded
    uint64_t downloadBytes = 0;      // their data, as the caller handed it over
    uint64_t downloadLineBytes = 0;  // the same data as it went on the line: compressed, or plain
    uint64_t dumps = 0;              // UpgDump calls that succeeded
    uint64_t dumpBytes = 0;          // the bytes they delivered
};

UpgTransferTotals UpgGetTransferTotals();
void UpgResetTransferTotals();
