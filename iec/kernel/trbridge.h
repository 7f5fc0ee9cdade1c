// The register bridge: keeps the IEC variables bound to panel registers (the
// register-location table TrevantI0_VarLoc of the panel program) and the
// register image in step, in whichever direction changed, every scan.
//
// The six binding tables hold native pointers into the register image and
// into the current VM database. They are rebuilt whenever a database is
// linked or freed, so none of them ever points into a freed database; an
// entry whose IEC side could not be decoded keeps its place with a null
// pointer and is skipped by every update.
#pragma once
#include <cstdint>

struct TrBitBind {
    uint32_t ref;
    uint8_t *reg; // register byte
    uint8_t *iec; // IEC BOOL byte (null: not reachable)
    uint8_t on_mask, off_mask, last, bit;
};
struct TrSysBitBind {
    uint32_t ref;
    uint8_t *reg, *iec;
    uint8_t on_mask, off_mask, last, flags; // bits 0-3 bit number, bit 4 two-way
};
struct TrWordBind {
    uint32_t ref;
    uint8_t *reg, *iec; // 16-bit little-endian words
    uint16_t last;
};
struct TrSRWordBind {
    uint32_t ref;
    uint8_t *reg, *iec;
    uint16_t last, min, max;
    uint8_t flags; // bit 0 two-way with range check, bit 1 no range check
};

namespace trbridge {
constexpr uint32_t kVarLocWords = 6464;
constexpr uint32_t kBitCapacity = 2304, kSysBitCapacity = 512, kWordCapacity = 544,
                   kSRCapacity = 256;
constexpr uint8_t kTwoWay = 0x10;
} // namespace trbridge

extern TrBitBind VmDbBitInput_ptr[trbridge::kBitCapacity];
extern TrBitBind VmDbBitOutput_ptr[trbridge::kBitCapacity];
extern TrSysBitBind VmDbBitSys_ptr[trbridge::kSysBitCapacity];
extern TrWordBind VmDbWordInput_ptr[trbridge::kWordCapacity];
extern TrWordBind VmDbWordOutput_ptr[trbridge::kWordCapacity];
extern TrSRWordBind VmDbWordSR_ptr[trbridge::kSRCapacity];
extern uint32_t BoolInputEntries, BoolOutputEntries, BoolSysEntries, WordInputEntries,
    WordOutputEntries, WordSREntries;
// Bit 0: the next system-word update copies registers only; bit 1 the same
// for the system bits.
extern uint8_t FistScanRegFlag;
extern uint32_t trevant_total_variables_enumerated;

// The register reference of table entry i (0 past the table).
uint32_t TrevantVarLocRef(uint32_t i);
// The reference bound to an IEC datum: kind 0 words, 1 bits (input != 0: the
// input table, else the output table), 2 system words, 3 system bits; 0
// when none.
uint32_t TrevantCalculateRegToken(const uint8_t *iec, int kind, int input);

void TrBridge_Reset();
