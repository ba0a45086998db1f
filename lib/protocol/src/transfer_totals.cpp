#include "transfer_totals.h"

#include "flashmate/transfer_totals.h"

#include <mutex>

namespace {

// Written by the job's worker thread, read by the front end after the job.
std::mutex g_mutex;
UpgTransferTotals g_totals;

}  // namespace

void RecordDownload(uint32_t dataBytes, uint32_t lineBytes)
{
    std::lock_guard lock(g_mutex);
    ++g_totals.downloads;
    g_totals.downloadBytes += dataBytes;
    g_totals.downloadLineBytes += lineBytes;
}

void RecordDump(uint32_t bytes)
{
    std::lock_guard lock(g_mutex);
    ++g_totals.dumps;
    g_totals.dumpBytes += bytes;
}

UpgTransferTotals UpgGetTransferTotals()
{
    std::lock_guard lock(g_mutex);
    return g_totals;
}

void UpgResetTransferTotals()
{
    std::lock_guard lock(g_mutex);
    g_totals = UpgTransferTotals{};
}
