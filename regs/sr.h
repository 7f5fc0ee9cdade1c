// Names of the system registers and of their bits, for every layer that reads
// or writes them in place.
#pragma once
#include <cstdint>

// Status word %SR4 bits.
namespace sr4 {
constexpr uint16_t kBootFlash = 0x1, kEngineFlash = 0x2, kUserProgram = 0x4, kStaticRam = 0x8;
constexpr uint16_t kDupNetId = 0x10, kNetIdRange = 0x20, kIoConfig = 0x40, kNetOffline = 0x80;
constexpr uint16_t kLogicFault = 0x100, kClock = 0x200, kBattery = 0x1000, kGraphics = 0x4000;
constexpr uint16_t kForceIdle = 0x90F;
} // namespace sr4
