// The register image plc_reg and register references.
//
// plc_reg is one little-endian byte block; its layout is a stored format (the
// register file and FRAM keep it whole). A register reference is a 32-bit bit
// address: 1024 + bit offset for the base areas, own bases for %ET, %EM and
// %ESR, bit 31 for external slots, bits 31-30 for IEC variables.
#pragma once
#include "regs/sr.h"

#include <cstddef>
#include <cstdint>

// Byte offsets of the areas.
namespace reg {
constexpr uint32_t kImageSize = 109176;
constexpr uint32_t kIG = 0x00000, kQG = 0x00020, kS = 0x00040, kK = 0x00060;
constexpr uint32_t kAIG = 0x00080, kAQG = 0x000C0, kSR = 0x00100, kF = 0x00280;
constexpr uint32_t kI = 0x00380, kQ = 0x00480, kT = 0x00580, kM = 0x00680;
constexpr uint32_t kAI = 0x00780, kAQ = 0x00B80, kR = 0x00F80;
constexpr uint32_t kET = 0x19800, kEM = 0x1A000, kESR = 0x1A800;
constexpr uint32_t kCtlData = 0x1AA00;   // 112 bytes of controller data
constexpr uint32_t kMarker = 0x1AA70;    // "WATCHBAT"
constexpr uint32_t kDirectEnd = 0x19800; // end of the directly addressed bytes

// First references.
constexpr uint32_t kRefIG = 1024, kRefQG = 1280, kRefS = 1536, kRefK = 1792;
constexpr uint32_t kRefAIG = 2048, kRefAQG = 2560, kRefSR = 3072, kRefF = 6144;
constexpr uint32_t kRefI = 8192, kRefQ = 10240, kRefT = 12288, kRefM = 14336;
constexpr uint32_t kRefAI = 16384, kRefAQ = 24576, kRefR = 32768;
constexpr uint32_t kRefDirectEnd = 1024 + kDirectEnd * 8; // 0xCC400, exclusive
constexpr uint32_t kRefET = 0x10008000, kRefETEnd = 0x1000C000;
constexpr uint32_t kRefEM = 0x1001C000, kRefEMEnd = 0x10020000;
constexpr uint32_t kRefESR = 0x10030000, kRefESREnd = 0x10031000;

constexpr int kExternalSlots = 512;
constexpr int kExternalSlotBytes = 32;
} // namespace reg

extern uint8_t plc_reg[reg::kImageSize];
extern uint8_t old_reg[reg::kImageSize];

// External register slots of the loadable protocol drivers.
extern uint8_t ExternalRegs[reg::kExternalSlots][reg::kExternalSlotBytes];
extern uint8_t *ExternalRegsOffsets[reg::kExternalSlots];
extern uint8_t Ext_Obj_Comm_Status[reg::kExternalSlots][4];

uint8_t *PlcReg_Ptr(uint32_t ref, uint32_t bits);
int PlcReg_Get(void *dst, uint32_t ref, uint32_t bits);
void PlcReg_Set(uint32_t ref, const void *src, uint32_t bits);
uint8_t *OldReg_Ptr(uint32_t ref, uint32_t bits);
// The plain store behind PlcReg_Set, without the system-register checks and
// actions (used by the system-register table once a write has passed). Returns
// 1 when the reference was valid and the bytes were written, else 0.
int PlcReg_Store(uint32_t ref, const void *src, uint32_t bits);
int PlcBatCheck();

// What the register gate needs of the layers above it, set by the top layer.
// References with the IEC mark reach the IEC runtime's variables while they
// are enumerated; writes to the system registers pass the system register
// table. An unset hook does nothing (the predicates: false).
struct PlcRegHooks {
    bool (*iec_running)();    // the IEC runtime runs the control program
    bool (*iec_enumerated)(); // the IEC runtime has enumerated its variables
    uint8_t *(*iec_address)(uint32_t ref, uint32_t bits); // a variable's bytes, or null
    void (*iec_byte_to_bit)(const uint8_t *src, uint8_t *dst, uint32_t bits);
    void (*iec_bit_to_byte)(const uint8_t *src, uint8_t *dst, uint32_t n);
    bool (*online_programming)(); // a program is being downloaded: IEC variables are left alone
    int (*sys_write)(uint32_t ref, const void *src, uint32_t bits);
};
void PlcReg_SetHooks(const PlcRegHooks &hooks);
// The IEC runtime's variables are enumerated (the I/O then keeps one byte per
// status bit, as IEC booleans), and its bit unpacking.
bool PlcReg_IecEnumerated();
void PlcReg_IecBitToByte(const uint8_t *src, uint8_t *dst, uint32_t n);
// The image's start-up values (the start-up's, in system/reginit.cpp).
void PlcTmpClear();
void PlcOldInit();
// Clears the image, the external slots and their status (test fixtures).
void PlcReg_Reset();

// Fixed system registers and bits, read and written in place, by their names
// in regs/sr.h. %SRn: n = 1..192 in the %SR area, 193..448 in the %ESR area.
constexpr size_t sr_offset(int n) {
    return n <= sr::kLast ? reg::kSR + 2u * unsigned(n - 1)
                          : reg::kESR + 2u * unsigned(n - sr::kEsrFirst);
}
uint16_t sr_get(int n);
void sr_put(int n, uint16_t v);
uint32_t sr_get32(int n); // %SRn low word, %SRn+1 high word
void sr_put32(int n, uint32_t v);
// System bits %Sn (n from 1).
int sbit_get(int n);
void sbit_put(int n, int on);

// Reference of %SRn.
constexpr uint32_t sr_ref(int n) {
    return n <= sr::kLast ? reg::kRefSR + 16u * unsigned(n - 1)
                          : reg::kRefESR + 16u * unsigned(n - sr::kEsrFirst);
}
