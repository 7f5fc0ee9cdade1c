// The control program's communication instructions: open and close a
// logical serial port with its own settings, send and receive raw bytes, run
// the serial Modbus engine and drive the modem. The ladder forms read their
// own operands (below); the IEC forms (Tr...) take argument blocks.
//
// Ladder operands, in order (a "token" is a register operand as the program
// writes them: one word with 16-bit tokens, the escapes 1776/1777 for the
// upper areas, else two words; "value" is a token whose decoded value below
// 1024 is a number and from 1024 on a register whose value is used):
//   TOPEN    port word, then the three words of the 6-byte mode record (low
//            byte first); or 0x4000 and a two-word register reference whose
//            eight registers hold port, baud, parity, data bits, stop bits,
//            handshake, protocol and line mode (0x6000: the block starts half
//            the first register's value further on, in registers)
//   TCLOSE   port word
//   TSEND, TRECV  port word, length value, buffer token, count token, flag
//            word (non-zero: the buffer register pair holds a byte offset
//            into the register image)
//   TCOMM 3  receive as TRECV without the flag word, the offset form always
//   TMODBUS  port word, slave value, time-out value (100 ms), trigger bit
//            token (below 1024: a constant trigger word), request token,
//            status token, then optionally 1023, option word, pairs word,
//            translation table token and, for option 3 or more, the
//            write-inhibit bit token
//   TMODBUS2 as TMODBUS, but the request token names a register pair that
//            holds the request's reference
//   TMODEM   port word, function word, status token; function 0 a length
//            word and the text padded to whole words; function 1 the same,
//            or a length word of 1024 or more that is a register reference
#pragma once
#include "serial/vcomm.h"

#include <cstdint>

struct TalkRecord {
    uint32_t open_id; // identity of the owning open instruction, 0 none
    uint8_t opened;   // open for the logic with the protocol it asked for
    uint8_t open_last;
    uint32_t close_id;
    uint8_t close_last;
    uint32_t send_pos, recv_pos;
    uint8_t modem_enable[3];
    uint8_t modem_init;
    uint8_t running[2]; // Modbus master (0) and slave (1)
    uint8_t started;    // the Modbus engine runs on the port
};
extern TalkRecord Talk[kVcommPorts];
extern uint8_t TalkModemProtect;

// The IEC blocks' forms: `block` is the argument block, `enable` the block's
// input; the result is the block's output. Addresses inside the blocks are
// offsets into the running application's database; what they name must lie
// whole inside it, else the block's output is 0 and nothing is written there.
//   TrTalkOpen:    u16 port word, then the 6-byte mode record
//   TrTalkClose:   u16 port
//   TrTalkSend, TrTalkReceive: six u16: port, length (at most 255), the
//                  buffer's address and the INT count's address, each high
//                  half first; the count is 0xFFFF while idle
//   Tr_TalkModbus: six u32: port, slave address (0: a master), time-out in
//                  100 ms, the address of the master's trigger word (a
//                  request goes out when it rises to 1; unused by a slave),
//                  of the request record (IecModbusRequest, or the slave's
//                  IecModbusMap, serial/modbus.h) and of the status word
uint8_t TrTalkOpen(const uint8_t *block, uint8_t enable);
uint8_t TrTalkClose(const uint8_t *block, uint8_t enable);
uint8_t TrTalkSend(const uint8_t *block, uint8_t enable);
uint8_t TrTalkReceive(const uint8_t *block, uint8_t enable);
uint8_t Tr_TalkModbus(const uint8_t *block, uint8_t enable);

void TalkInstr_Reset();

// The highest byte offset a buffer may reach: the controller data and the
// battery marker after the registers are never a transfer's buffer.
constexpr uint32_t kTalkBufferEnd = 0x1AA00;
