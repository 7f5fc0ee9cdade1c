// FPGA access, the I/O-module interface and the factory calibration service
// of the on-board inputs.
#pragma once
#include <cstdint>

void factory_calib();

// One conversion of the base unit's on-chip ADC with analog input `input`
// (0-3) selected on its GPIO lines: the 12-bit result (what the result
// register holds when the conversion does not end in time).
uint16_t IoBaseAdc(int input);

// ---------------------------------------------------------------------------
// I/O-module interface, as the run control uses it.

constexpr int kIoSlots = 3; // slot 0 on-board I/O, 1 plug-in module, 2 Ethernet module

// The command message handed to the I/O driver (kept in memory only).
struct IoMsg {
    uint8_t command, slot, status, count;
    uint16_t first, length; // commands 9-12: first byte or channel, count
    uint8_t *data;          // commands 9-12: the register area
    uint16_t sizes[4];      // query answer: the module's four I/O sizes
    const char *name;       // query answer: the module's model name (6 characters)
};
void io_driver(IoMsg *msg);
// Forgets the driver's per-slot state (test fixtures).
void IoDriver_Reset();

// One local I/O slot as the I/O configuration step keeps it: the slot's
// configuration data, and the board's 28-byte record from its byte 4 on.
struct IoCfgRec {
    const uint8_t *config; // null when none
    uint32_t config_length;
    uint8_t rec[24];
};
// Bytes of IoCfgRec::rec.
namespace iocfg {
constexpr int kStatus = 0; // status character
constexpr int kText = 1;   // 11 characters: "I/O: " and the 6-character module name
constexpr int kName = 6;
constexpr int kInBits = 12;  // u16 digital input bits
constexpr int kOutBits = 14; // u16 digital output bits
constexpr int kAnIn = 16;    // u16 analog input channels
constexpr int kAnOut = 18;   // u16 analog output channels
constexpr int kPresent = 20; // u8 1 when the module answered the query
constexpr int kQuery = 21;   // u8 the query status (non-zero: the module reports a fault)
} // namespace iocfg

// The known modules, searched front to back; the row is the driver's module type.
struct IoIdent {
    uint16_t id;
    char name[18];
    uint8_t sizes[4]; // in the order of commands 9, 10, 11, 12
    uint8_t kind;     // module kind code, 0xF0-0xF6 or 0
    uint8_t features; // bit 0 FPGA pulse outputs, bit 1 FPGA counter inputs
};
constexpr int kIoIdentRows = 29;
extern const IoIdent io_ident[kIoIdentRows];
// Model names shown under the alternative OEM identity (same rows).
extern const char io_ident_oem_names[kIoIdentRows][18];
// Row of an identity in io_ident, -1 when unknown.
int IoIdentRow(uint16_t id);

// Per slot: the identify message (null when no known module), kind (255 none).
struct SlotInfo {
    const uint16_t *env;
    uint8_t kind;
    uint16_t id;
};
extern SlotInfo slotinfo[kIoSlots];
extern uint8_t hsc_module_present;
extern const uint8_t *EtnConfp; // the Ethernet module's configuration block

// Probes both slots; fills ids[0..2] with the module identities (0xFF none). fills ids[0..2] with
// the module identities (0xFF none).
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
int IoCal(uint8_t *req);
int read_io_eeprom(int dev, int sub, int len, uint8_t *buf, int mode);
int write_io_eeprom(int dev, int sub, int len, const uint8_t *buf, int mode);
char *strmcpy(char *dst, const char *src, int n);
// Driver check of a message's slot against the slot's module type (0xFFFF none).
bool msg_slot_ok(IoMsg *msg, uint16_t module_type);

// Control lines of a communication module in slot 1 (port is not used).
int IoPutDTR(int port, int on);
int IoGetDCD();
int IoCommShdn(int port, int on);
int IoCommOnOf(int port, int on);
int IoCommPwr(int port, int on);
int IoCommReset(int port, int on);

void IoIf_Reset();

// ---------------------------------------------------------------------------
// FPGA: identification, register access and programming from its image file.

constexpr uint32_t kFpgaJtagId = 0x809409C2;
extern uint32_t FPGA_JTAG_Id;
extern uint8_t FPGAMode;
extern int fpga_ver_file; // version number of the last image file's header

int Fpga_Init();
int Fpga_Close();
int FPGA_Check();
uint32_t FPGA_Get_JTAG_ID();
uint32_t spi_data_RD_nWR(uint32_t value, uint16_t address, int count, int read);
uint8_t FPGA_present();
uint8_t FPGA_GetVer();
uint8_t FPGA_GetMod();
// Programs the FPGA from its image file: 1 done, 0 on any failure.
int FPGA_program();
// Runs the programming algorithm against the loaded data image: 2 when it
// reached its end, 0 on failure.
int SSPIEm(uint32_t identifier);

// The programming engine, for tests and tools: the algorithm image and the
// data image (after the header, compression flag first) it runs over.
void FpgaEngine_Load(const uint8_t *algo, uint32_t algo_len, const uint8_t *data,
                     uint32_t data_len);
// Parses an image file's header: its size, or 0 when the header is bad.
uint32_t FPGA_param(const uint8_t *file, uint32_t size);

void Fpga_Reset();
// The device address of a slot's module memory.
int IoSlotDevice(int slot);
// True when a module name (6 characters) is the remote I/O base adapter's.
bool IoRemoteBase(const char *name);

// The IEC application in the control program owns the I/O (set when it is
// loaded).
extern uint8_t J1939_init_start;
