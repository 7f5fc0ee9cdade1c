// The local command client: the panel speaks the programming protocol to its
// own command dispatcher, as the programming tool would, through the
// programming port's driver in intercept mode (packets go into the port's
// receive ring, answers come from its send ring; nothing goes on the wire).
// The media manager loads and saves applications with it. Every wait drives
// the dispatcher (Cmd_Check) itself and is bounded by the client's time-outs.
#pragma once
#include <cstdint>

// Results besides a received byte (0xFF a data packet).
constexpr int kMcmdTimeOut = 32768, kMcmdBadSum = 32769;
constexpr int kMcmdPortLogic = 2004, kMcmdPortBusy = 2005;

// Asks for the programming port through the handover area of the shared
// block and switches it into intercept mode; 0, or 2004 / 2005 when the port
// could not be had (the port is then left as it was).
int MCMD_Init(uint16_t code);
// Feeds a command packet to the dispatcher and waits for its answer: the
// byte, 0xFF for an answer packet (opcodes below 28 that answer one), or
// 32768 / 32769.
int MCMD_SendCmd(uint8_t opcode, uint32_t length, const uint8_t *data);
// Feeds a data packet and waits for its one-byte answer (30 s for the empty
// closing packet, else 5 s).
int MCMD_SendData(uint32_t length, const uint8_t *data);
// Receives one data packet: at most `size` bytes are kept in buffer and
// their count in *length; 0xFF, a one-byte answer, 32768 or 32769.
int MCMD_GetData(uint32_t *length, uint8_t *buffer, uint32_t size);
// Feeds one control byte (0xA0 next, 0x0F again, 0x09 stop).
void MCMD_SendCntl(uint8_t byte);
// Intercept mode off (the port is flushed).
void MCMD_Close();

// The media manager's channel over the client: a command's answer byte; one
// data packet received and acknowledged with `ack`; the release; the error
// number of the last failed exchange.
int MCMD_Send(uint8_t command, const uint8_t *bytes, uint32_t count);
int MCMD_Receive(uint8_t *buffer, uint32_t size, uint32_t *length, uint8_t ack);
void MCMD_Release();
void MCMD_SetError(int error);
extern int mcmdErrNo;

// What the client runs while it waits, set by the wiring (each may be null):
// the 10 ms tick and the watchdog.
struct McmdHooks {
    void (*timer_isr)();
    void (*tickle_watchdog)();
};
void MCMD_SetHooks(const McmdHooks &hooks);
void MCMD_Reset();
