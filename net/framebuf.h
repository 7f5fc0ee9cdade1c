// A connection's receive buffer for the framed protocols over TCP (Modbus,
// SRTP, Vibus over Ethernet, EtherNet/IP, SMTP): bytes gather until the
// protocol's length says a frame is whole; one frame is served a pass, and a
// frame left behind asks the loop for another pass at once.
#pragma once
#include "net/nx_api.h"

#include <cstdint>

constexpr uint32_t kNxFrameMax = 2048;
constexpr uint32_t kNxFrameBad = 0xFFFFFFFFu;

struct NxFrameBuf {
    uint32_t have;
    uint8_t data[kNxFrameMax];
};

// The whole frame's length from the first `have` bytes: 0 while not known
// yet, kNxFrameBad when the bytes cannot start a valid frame.
using NxFrameLength = uint32_t (*)(const uint8_t *data, uint32_t have);

// 1: a whole frame of *len bytes is at b->data; 0: not yet (a partial frame
// counts toward the owner's idle time-out); -1: the frame cannot be valid or
// would not fit (the owner closes the connection).
int Nx_FrameReceive(NxTcpSocket *s, NxFrameBuf *b, NxFrameLength length, uint32_t *len);
// Drops the frame that was served; what follows it moves to the front.
void Nx_FrameConsume(NxFrameBuf *b, uint32_t len, NxFrameLength length);
