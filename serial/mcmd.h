// The master command channel of the local command client: the panel's side
// of a command exchange with the controller side (set-up, commands with their
// bytes, data packets acknowledged with a control byte, release).
#pragma once
#include <cstdint>

// Sets the channel up to a target node; 0 or the set-up status.
int MCMD_Init(uint16_t target);
// Sends a command with its bytes; the answer byte (0xA0 accepted).
int MCMD_Send(uint8_t command, const uint8_t *bytes, uint32_t count);
// Receives one data packet and acknowledges it with `ack`; the receive status
// (0xFF a good packet) and its length.
int MCMD_Receive(uint8_t *buffer, uint32_t size, uint32_t *length, uint8_t ack);
void MCMD_Release();
void MCMD_SetError(int error);
// The channel's error number.
extern int mcmdErrNo;
void MCMD_Reset();
