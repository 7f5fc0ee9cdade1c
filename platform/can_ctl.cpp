// Control-socket command "can": how people and tests see the CAN port of a
// running panel.
//   can              open flag, ring counts, status, statistics, and the
//                    received frames still in the ring (left there)
//   can send FRAME   queues a frame (text form of host/canbus.h)
#include "base/le.h"
#include "host/canbus.h"
#include "host/ctl.h"
#include "platform/can.h"

#include <cstdio>
#include <string>

namespace {
std::string show() {
    const CanInfo &c = CanChannel0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "0x%02X", unsigned(_Can_Status(0)));
    std::string out =
        "ok\nopen: " + std::to_string(c.open) + "\nrx_count: " + std::to_string(c.rx_count) +
        "\ntx_count: " + std::to_string(c.tx_count) + "\nstatus: " + buf + "\nstatistics:";
    for (uint16_t s : c.stats)
        out += " " + std::to_string(s);
    uint8_t frame[host::kCanFrameBytes];
    for (int i = 0; i < c.rx_count; ++i) {
        Can_SlotFrame(&c.rx[(c.rx_out + i) % kCanRing], frame);
        out += "\nrx: " + host::can_frame_text(frame);
    }
    return out;
}

std::string send(const std::string &text) {
    uint8_t frame[host::kCanFrameBytes];
    std::string err;
    if (!host::can_frame_parse(text, frame, &err)) return "error: " + err;
    uint32_t id = le32(frame);
    if (id & host::kCanErr) return "error: error frames come from the controller, not the panel";
    if (!CanChannel0.open) return "error: the CAN port is not open";
    bool ext = (id & host::kCanEff) != 0;
    if (ext != (CanChannel0.config[9] == 5))
        return std::string("error: the port runs ") +
               (ext ? "11-bit identifiers (3 hex digits)" : "29-bit identifiers (8 hex digits)");
    CanSlot *slot = _Can_NextTx(0);
    if (!slot) return "error: the transmit ring is full";
    slot->length = frame[4];
    slot->remote = (id & host::kCanRtr) ? 1 : 0;
    slot->id = id & (ext ? host::kCanEffMask : host::kCanSffMask);
    for (int i = 0; i < 8; ++i)
        slot->data[i] = frame[8 + i];
    _Can_PutTx(0, slot);
    return "ok queued " + host::can_frame_text(frame);
}

std::string cmd_can(const std::vector<std::string> &a) {
    if (a.size() == 1) return show();
    if (a.size() == 3 && a[1] == "send") return send(a[2]);
    return "error: usage: can | can send ID#DATA";
}
} // namespace

void Can_CtlRegister() {
    host::ctl_register("can", cmd_can);
}
