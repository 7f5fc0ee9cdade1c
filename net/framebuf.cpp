// Frame gathering over the socket layer's receives.
#include "net/framebuf.h"

#include "platform/pass_wait.h"

#include <cstring>

namespace {
// 1 whole, 0 not yet, -1 invalid; the length in *len.
int whole(const NxFrameBuf *b, NxFrameLength length, uint32_t *len) {
    if (b->have == 0) return 0;
    uint32_t n = length(b->data, b->have);
    if (n == kNxFrameBad || n > kNxFrameMax) return -1;
    if (n == 0 || n > b->have) return 0;
    *len = n;
    return 1;
}
} // namespace

int Nx_FrameReceive(NxTcpSocket *s, NxFrameBuf *b, NxFrameLength length, uint32_t *len) {
    int w = whole(b, length, len);
    if (w != 0) return w; // a frame that came back to back with the last one
    NxPacket *p = nullptr;
    if (_nx_tcp_socket_receive(s, &p, 0) != kNxSuccess || !p) return 0;
    uint32_t n = p->length;
    bool fits = n <= kNxFrameMax - b->have;
    if (fits) {
        std::memcpy(b->data + b->have, Nx_PacketData(p), n);
        b->have += n;
    }
    _nx_packet_release(p);
    if (!fits) return -1;
    return whole(b, length, len);
}

void Nx_FrameConsume(NxFrameBuf *b, uint32_t len, NxFrameLength length) {
    if (len > b->have) len = b->have;
    std::memmove(b->data, b->data + len, b->have - len);
    b->have -= len;
    uint32_t next;
    if (whole(b, length, &next) == 1) PassWait_WorkPending();
}
