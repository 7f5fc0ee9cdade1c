// Inside the serial Modbus engine: what its core and its framings share.
#pragma once
#include "serial/modbus.h"

// Receive states of the ASCII framing (RTU frames need none).
constexpr uint16_t kAsciiWaitColon = 5, kAsciiHigh = 6, kAsciiLow = 7, kAsciiWaitLf = 8;

// Frames and sends `len` bytes (address, function, data) on the port of the
// control block, at once; a master's request also starts its wait for the
// reply under the TCP framing.
void Modbus_Send(ModbusPcb &p, const uint8_t *frame, int len, bool request);
// Takes the bytes waiting on the port (the modem socket first when it is
// connected) into the receive machine; a master stops at its reply.
void Modbus_Receive(ModbusPcb &p, int port, bool master);
// A frame taken by the receive machine, as a slave or a master sees it; the
// Tr_ forms serve an IEC block's records.
void MOD_ReqProcess(ModbusPcb &p, const uint8_t *frame, int len);
bool MOD_RspProcess(ModbusPcb &p, const uint8_t *frame, int len);
void Tr_MOD_ReqProcess(ModbusPcb &p, const uint8_t *frame, int len);
bool Tr_MOD_RspProcess(ModbusPcb &p, const uint8_t *frame, int len);
