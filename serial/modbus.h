// The serial Modbus engine: Modbus RTU and ASCII, master or slave, on the
// logical serial ports 0 to 2. One core maps requests to the register image;
// the framings (RTU, ASCII, the Modbus TCP header) are a table of receive and
// send routines. The engine has no task of its own: the communication
// instructions start it (ModbusInit), step it every enabled scan
// (ModbusExecute) and stop it (ModbusStop). It reaches the port only through
// the port's row of Vcomm_Drv.
#pragma once
#include "serial/vcomm.h"

#include <cstdint>

constexpr int kModbusPorts = kVcommPorts;
constexpr int kModbusFrame = 268;       // address, function, data, room for the TCP header
constexpr int kModbusMaxRtu = 260;      // a frame this long is an error
constexpr int kModbusMaxTcp = 265;      // ... while the TCP header is on
constexpr int kModbusRequestSize = 12;  // the master's request block: six words
constexpr int kModbusUnsolicited = 255; // the slave's unsolicited frame buffer

// The IEC blocks' records, in the running application's database; every
// address they hold is a database offset.
//   IecModbusRequest (master, 16 bytes): u16 slave, u16 function, u16 first
//     address, u16 count (registers: a 32-bit element counts two), u32 data
//     address, u16 element index, u16 element size code (2: 32-bit elements,
//     else 16-bit; bits are one byte each)
//   IecModbusMap (slave, 34 bytes): u32 addresses of the discrete inputs,
//     coils, input registers and holding registers, then u32 counts in the
//     same order (bits; registers, two per 32-bit element), then u16 the
//     registers' element size code
// The registers of a 32-bit array are its 16-bit halves, low half first.
constexpr int kIecModbusRequestSize = 16;
constexpr int kIecModbusMapSize = 34;

// What the instruction hands to ModbusInit. The pointers point into plc_reg
// (or, for a constant trigger, at a word of the instruction's own). An IEC
// block's setup names its words by database offsets instead (`iec` set):
// the engine finds them again in the database on every step, so a database
// that moved or shrank is never written through a stale pointer.
struct ModbusSetup {
    uint16_t slave;   // 0 master; 1..246 one-byte address; 247.. two address bytes
    uint16_t timeout; // 100 ms units, 0 none
    uint8_t *trigger; // master: the word holding the request bit; slave: unsolicited length
    uint8_t *request; // master: the 12-byte request; slave: the unsolicited frame
    uint8_t *status;  // the status word (little-endian u16)
    uint8_t trigger_bit;
    uint16_t option;  // carried, not read
    uint16_t pairs;   // address-translation pairs
    uint8_t *table;   // pairs u16 words: high byte one address, low byte its partner
    uint32_t inhibit; // bit reference of the write-inhibit bit, 0 none
    uint8_t iec;      // an IEC block's: the records and offsets below
    uint32_t iec_trigger, iec_request, iec_status; // database offsets (0 none)
};

// Mode bits of the link.
constexpr uint8_t kModbusAscii = 0x01, kModbusMaster = 0x02, kModbusListenOnly = 0x04;
// Diagnostic counters.
enum ModbusCounter { kBusMessages, kSlaveResponses, kBusErrors, kExceptions, kIgnored, kCounters };

struct ModbusLinkState {
    uint8_t id;   // identity byte (never set)
    uint8_t mode; // kModbusAscii, kModbusMaster, kModbusListenOnly
    uint16_t result;
    uint8_t *data; // local data of the master's request
    uint8_t data_bit;
    uint32_t iec_data; // ... of an IEC master: its database offset
    uint16_t counters[kCounters];
    uint16_t port;
    uint16_t rx_state;
    uint8_t nibble;
    uint8_t lrc;
    uint16_t crc;
    uint16_t len;      // frame length without check bytes
    uint16_t index;    // bytes received
    int16_t expect[2]; // last byte index of the expected lengths; negative: count byte pending
    uint8_t valid[2];
    uint8_t frame[kModbusFrame];
    uint16_t own;
    uint8_t request[16];
};

// Master engine states.
enum ModbusState : uint8_t { kSlave, kIdle, kSending, kAwaiting, kDone };

struct ModbusPcb {
    ModbusSetup setup;
    ModbusLinkState link;
    uint32_t elapsed;   // time-out count, 100 ms units
    uint16_t last_tick; // low half of FPGA_GetFrt at the last count
    uint16_t mask;      // the master's trigger mask
    uint8_t latch;      // the slave's unsolicited frame was asked for
    uint8_t state;
    uint16_t line_error; // 0 or 0x200
    uint16_t tx_state;   // 0 idle, 1 handing over, 255 draining
    uint8_t forward;     // a translated frame waits to go out
    uint8_t got;         // the master took a reply in this pass
    uint16_t fwd_len;
    uint8_t fwd[kModbusFrame]; // the translated frame
    uint8_t const_trigger[2];  // the trigger word of a constant trigger operand
};
extern ModbusPcb pcb[kModbusPorts];

// The Modbus TCP framing of a port (through the option board or the modem).
struct ModbusTcpState {
    uint8_t flags; // 0x01 on, 0x02 a reply is awaited, 0x04 sending, bits 3-4 the port
    uint16_t transaction;
    uint16_t protocol;
};
extern ModbusTcpState ModbusTCP_St[kModbusPorts];

// The last trigger value each port's IEC master saw (its requests go out on
// a rising trigger only).
extern uint8_t Master_trigg_bit[kModbusPorts];

extern uint8_t sys_active; // a port has been initialised
extern uint8_t sys_stat;   // exception-status byte (never set)
extern uint16_t sys_diag;  // diagnostic register (never set)

// What the engine needs of the IEC runtime, set by the wiring (unset: the
// runtime is not active).
struct ModbusHooks {
    bool (*iec_active)(); // running with its variables enumerated
    uint8_t *modbusinit;  // trruntime_modbusinit
    uint8_t *protocol;    // trprotocol
    // `bytes` bytes at a database offset of the running application, all
    // inside one of its segments; null otherwise.
    uint8_t *(*iec_place)(uint32_t offset, uint32_t bytes);
};
void Modbus_SetHooks(const ModbusHooks &hooks);
// Whether the IEC runtime runs with its variables enumerated.
bool Modbus_IecActive();
// Whether the runtime asked for the engine on its programming port again
// (trruntime_modbusinit 1).
bool Modbus_IecInitAsked();
// The place of an IEC block's data: null for offset 0, while the runtime is
// not active, or outside the database.
uint8_t *Modbus_IecPlace(uint32_t offset, uint32_t bytes);

void ModbusInit(int port, const ModbusSetup &setup);
int ModbusExecute(int port); // 1, or 0 for a bad engine state
void ModbusStop(int port);
void ModbusTickle(int port);
void MOD_TCPInit(int on, int port);

// Master status bits (each error also sets 0x02).
constexpr uint16_t kMbDone = 0x01, kMbError = 0x02, kMbBadSlave = 0x04, kMbBadCount = 0x08,
                   kMbBadFunction = 0x10, kMbBadArea = 0x20, kMbTimeout = 0x100,
                   kMbLineError = 0x200, kMbBadFrame = 0x400, kMbBadLength = 0x800,
                   kMbException = 0x1000;

// The master's local side: area code, 0-based offset and count, direction
// (0 the destination of a read, 1 the source of a write). Returns 0 with the
// bytes (and the bit position in the first byte for bit areas), 8 for a
// count too large, 32 for a bad area, direction or range.
int map_plc_ref(uint8_t **out, uint8_t *bit, uint16_t area, uint16_t offset, uint16_t count,
                bool bits, int direction);
// The slave's windows (0-based Modbus address, count): 0, or 3 outside.
int map_output_bits(uint16_t address, uint16_t count, uint8_t **out, uint8_t *bit);
int map_input_bits(uint16_t address, uint16_t count, uint8_t **out, uint8_t *bit);
int map_input_words(uint16_t address, uint16_t count, uint8_t **out);
int map_output_words(uint16_t address, uint16_t count, uint8_t **out);
// n bits from bit `bit` of `mem` packed into frame bytes (LSB first, the
// unused bits of the last byte cleared), and back (other bits kept).
void BitMsgLoad(uint8_t *msg, const uint8_t *mem, uint8_t bit, uint16_t n);
void BitMemLoad(uint8_t *mem, uint8_t bit, const uint8_t *msg, uint16_t n);
// The same for IEC boolean arrays of one byte per bit (non-zero is 1).
void Tr_BitMsgLoad(uint8_t *msg, const uint8_t *mem, uint16_t n);
void Tr_BitMemLoad(uint8_t *mem, const uint8_t *msg, uint16_t n);

// The receive machine and the request processing on bytes handed in (the
// fuzz target and the benchmark): feeds `n` bytes to the port's engine as if
// they had arrived, then the end-of-frame mark when `end` is set.
void Modbus_Feed(int port, const uint8_t *bytes, int n, bool end);

void ModbusSerial_Reset();
