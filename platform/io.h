// FPGA access and the factory calibration service of the on-board inputs.
#pragma once
#include <cstdint>

void Fpga_Init();
uint8_t FPGA_GetVer();
void factory_calib();

// ---------------------------------------------------------------------------
// I/O-module interface, as the run control uses it.

constexpr int kIoSlots = 3; // slot 0 on-board I/O, 1 plug-in module, 2 Ethernet module

// The command message handed to the I/O driver (kept in memory only).
struct IoMsg {
    uint8_t command, slot, status, count;
    uint16_t first, length; // commands 9-12: first byte or channel, count
    uint8_t *data;          // commands 9-12: the register area
    uint16_t sizes[4];      // query answer: the module's four I/O sizes
};
void io_driver(IoMsg *msg);

// One local I/O slot as the I/O configuration step keeps it: the slot's
// configuration data, and the board's 28-byte record from its byte 4 on.
struct IoCfgRec {
    const uint8_t *config; // null when none
    uint32_t config_length;
    uint8_t rec[24];
};
// Bytes of IoCfgRec::rec.
namespace iocfg {
constexpr int kStatus = 0;   // status character
constexpr int kText = 1;     // 11 characters: "I/O: " and the 6-character module name
constexpr int kName = 6;
constexpr int kInBits = 12;  // u16 digital input bits
constexpr int kOutBits = 14; // u16 digital output bits
constexpr int kAnIn = 16;    // u16 analog input channels
constexpr int kAnOut = 18;   // u16 analog output channels
constexpr int kPresent = 20; // u8 1 when the module answered the query
constexpr int kQuery = 21;   // u8 the query status (non-zero: the module reports a fault)
} // namespace iocfg

// Probes both slots; fills ids[0..2] with the module identities (0xFF none).
int get_io_info(uint16_t *ids);
// Sets up the driver for the identities; returns the bits of the slots that
// hold an unrecognised module.
int IoInit(const uint16_t *ids, int n);
// Configures a slot with its configuration data and fills the record's name,
// sizes, query status and present flag.
int IoCfg(IoCfgRec *cfg, int slot);
int IoStop();
int IoGetIs(uint8_t *buf, int slot, int first_bit, int n_bits);
int IoPutQs(uint8_t *buf, int slot, int first_bit, int n_bits);
int IoGetAIs(uint8_t *buf, int slot, int first, int n);
int IoPutAQs(uint8_t *buf, int slot, int first, int n);
int IoService(int slot);
int write_io_eeprom(int dev, int sub, int len, const uint8_t *buf, int mode);
// The device address of a slot's module memory.
int IoSlotDevice(int slot);
// True when a module name (6 characters) is the remote I/O base adapter's.
bool IoRemoteBase(const char *name);
