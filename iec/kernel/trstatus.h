// The VM status record at the start of segment 0 of the VM database: 248
// bytes, read and written by the cycle, the request server, the functions
// and the blocks through these offsets and the little-endian accessors.
#pragma once
#include <cstdint>

namespace trst {
// clang-format off
constexpr uint32_t kAppName      = 0;   // 16 bytes of text
constexpr uint32_t kPeriod       = 16;  // u32 microseconds, 0 = none
constexpr uint32_t kLastCycle    = 20;  // u32 microseconds
constexpr uint32_t kLongestCycle = 24;  // u32 microseconds
constexpr uint32_t kLastTick     = 28;  // u32 ms of the day; 0 = no cycle yet
constexpr uint32_t kOverruns     = 32;  // u32
constexpr uint32_t kIdentity     = 36;  // 4 x u32
constexpr uint32_t kOptionWord   = 52;  // u32
constexpr uint32_t kRunFlags     = 56;  // u16
constexpr uint32_t kWorking      = 58;  // 3 x u16
constexpr uint32_t kActiveTimers = 64;  // u16
constexpr uint32_t kBreakpoints  = 66;  // 16 slots of 8 bytes (the working area)
constexpr uint32_t kBuildOptions = 194; // u32
constexpr uint32_t kLockCount    = 198; // u32
constexpr uint32_t kCallStack    = 202; // u16
constexpr uint32_t kSeparators   = 204; // 2 x u8
constexpr uint32_t kSeconds      = 206; // u32 since the start
constexpr uint32_t kMsRemainder  = 210; // u32 below 1000
// Words of the program layer, the VM log and the text blocks.
constexpr uint32_t kCycleCount   = 214; // u32
constexpr uint32_t kFlags2       = 218; // u16: bit 1 resume, bit 4 cycle in progress
constexpr uint32_t kExecFill     = 220; // u16 fill of the execution buffer
constexpr uint32_t kLogCount     = 222; // u16 entries of the VM log
constexpr uint32_t kUnresolved   = 224; // u16 unresolved names
constexpr uint32_t kStopProgram  = 226; // u16 program of the current stop
constexpr uint32_t kStopPosition = 228; // u32 position of the current stop
constexpr uint32_t kTextBuffers  = 232; // u32 text-buffer word
constexpr uint32_t kXmlWord      = 236; // u32 XML word
constexpr uint32_t kStatusWord   = 240; // u32 further status word
constexpr uint32_t kSpare        = 244; // u32
constexpr uint32_t kSize         = 248;
// clang-format on
constexpr uint32_t kBreakpointSlots = 16, kBreakpointSize = 8;
// A breakpoint slot: u16 kind (0 free, 1 breakpoint, 2 one-shot, 3 trace
// point), u16 program (65535 any), u32 position.
constexpr uint32_t kBpKind = 0, kBpProgram = 2, kBpPosition = 4;
static_assert(kBreakpoints + kBreakpointSlots * kBreakpointSize == kBuildOptions,
              "the working area is the 16 breakpoint slots");
static_assert(kMsRemainder + 4 == kCycleCount && kSpare + 4 == kSize && kSize == 248,
              "status record");

// Run flags.
constexpr uint16_t kRunning = 0x0001, kStopped = 0x0002, kIoSuspended = 0x0008,
                   kLogNotEmpty = 0x0010, kStopAtCycle = 0x4000, kInitialFlags = 0x8400;
// Build options.
constexpr uint32_t kOptChangeApplied = 0x10, kOptRetainsLoaded = 0x40;
} // namespace trst
