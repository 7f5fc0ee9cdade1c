// Serial port ownership: an owner other than the logic's communication
// instructions (protocol drivers, the option board, the mailbox's port
// handover, serial-printer reports) claims a logical port and gives it back.
#include "serial/vcomm.h"

#include <cstring>

uint8_t TalkOverride[kVcommPorts];

uint32_t Talk_Override(uint32_t port) {
    if (port >= kVcommPorts || TalkOverride[port]) return 0;
    TalkOverride[port] = 1;
    return 1;
}

void Talk_Release(uint32_t port) {
    if (port < kVcommPorts) TalkOverride[port] = 0;
}

void Talk_Reset() {
    std::memset(TalkOverride, 0, sizeof TalkOverride);
}
