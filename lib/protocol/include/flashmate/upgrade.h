// The upgrade library's face towards the application: its version, callbacks, protocol
// version, the handshake and the receiver operations chosen by protocol version.
#pragma once

#include "flashmate/crc32.h"
#include "flashmate/errors.h"
#include "flashmate/messages.h"
#include "flashmate/serial.h"

#include <cstdint>

// Protocol generations: below 48 the legacy byte protocol, 48 and above the packet protocol.
inline constexpr int32_t ProtocolLegacy = 32;
inline constexpr int32_t ProtocolPacket = 48;

// "3.0.0e".
const char* UpgGetLibraryVersion();

// Stores the version for every later operation and hands the same value to the legacy
// protocol, which picks its dump form by it. Any value is accepted.
void UpgSetProtocolVersion(int32_t version);
// The library's protocol version (0 until set) and the legacy protocol's copy (32 until set).
int32_t UpgGetProtocolVersion();
int32_t UpgGetLegacyProtocolVersion();

// Finds a boot loader on the open port: 0 with 32 (banner echoed) or 48 (banner complemented)
// stored through version; 6 when cancel returned 1; 7 after 200 attempts. progress may be null
// (it sees attempts 0, 5, 10, ...); a null cancel never cancels.
int32_t UpgHandshake(int32_t* version, UpgProgressCallback progress, UpgCancelCallback cancel);
