// The Modbus TCP and UDP server: function codes 1-7, 15 and 16 against the
// register image (or the IEC variables' Modbus tables), while the controller
// is in Run. Writes are applied and echoed at once; a read is checked on the
// pass that receives it and answered at the start of the next pass, so its
// data reflect one more control scan.
//
// Each TCP connection gathers its requests in a frame buffer framed by the
// MBAP length: split requests are joined and back-to-back requests answered
// in order, one per connection per pass.
#pragma once
#include "net/framebuf.h"
#include "net/nx_api.h"

#include <cstdint>

constexpr int kModbusRecords = 16;
constexpr uint32_t kModbusRxBytes = 1540, kModbusTxBytes = 266;
constexpr uint32_t kModbusIdleMs = 60'000;

struct ModbusRecord {
    NxTcpSocket socket;
    uint32_t last_activity; // _tx_time_get of the last request or the accept
    uint32_t ref;           // the pending read's register reference
    uint32_t bits;          // and its length in bits
    uint16_t tid;           // transaction identifier, host order
    uint8_t pending;        // a read waits for its answer
    uint8_t mask;           // Dpr_Add_Req's mask of the pending read
    uint8_t fc;
    uint8_t unit;
    NxFrameBuf rx;
};

struct ModbusConnEthBlock {
    ModbusRecord rec[kModbusRecords];
    NxIpInstance *ip;
    NxUdpSocket udp;
    uint8_t udp_created;
    uint32_t udp_addr; // sender of the last UDP request, where answers go
    uint16_t udp_port;
    uint8_t started; // TCP: listening; UDP: socket bound
    uint16_t port;   // the port listening began on
};

extern ModbusConnEthBlock ModbusConnEth[4];
extern uint8_t ModbusRxBuff[kModbusRxBytes];
extern uint8_t ModbusTxMsg[kModbusTxBytes];
extern NxPacketPool *ModbusPacketPoolPtr;

// Modbus_Init, Modbus_Scan, Modbus_DeInit, Modbus_Conn_Cnt and Modbus_Stop
// are declared with the other protocols in net/protocols.h.

// The ladder-mode address map: a register reference, 0 outside every window.
uint32_t ModbusMapToken(uint8_t fc, uint32_t address, uint32_t quantity);
// The IEC-mode address map of an interface: the location of the table entry,
// 0 when the table's segment kind cannot serve registers.
uint32_t Tr_ModbusMap(uint8_t fc, int iface, uint32_t address, uint32_t quantity);

// The whole frame's length from its first bytes (the MBAP header): 0 while
// fewer than 6 bytes are there, kNxFrameBad for a length field above 254.
uint32_t Modbus_FrameLength(const uint8_t *data, uint32_t have);
// Checks and serves one request of `n` received bytes for a record of an
// interface: writes go into the image, a read becomes the record's pending
// read. Returns the length of the answer built in `tx` (0: no answer now).
uint32_t Modbus_Serve(int iface, ModbusRecord *r, const uint8_t *frame, uint32_t n, uint8_t *tx);
// Builds the answer of the record's pending read from the register image;
// returns its length.
uint32_t Modbus_ReadAnswer(const ModbusRecord *r, uint8_t *tx);

void Modbus_Reset();
