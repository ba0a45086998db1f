// Filled by the download and dump functions when they succeed.
#pragma once

#include <cstdint>

void RecordDownload(uint32_t dataBytes, uint32_t lineBytes);
void RecordDump(uint32_t bytes);
