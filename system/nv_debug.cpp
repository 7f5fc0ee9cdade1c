#include "system/nv_debug.h"

#include "base/le.h"
#include "host/board.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"
#include "system/loop.h"

namespace {
// The first bytes of the battery-backed image are the panel's own store (the
// network's address records, written in a pass); the churn leaves them alone.
constexpr uint32_t kOwnStore = 128;

struct Churn {
    bool on = false;
    uint16_t value = 0;
    void (*next_poll)() = nullptr;
};
Churn g;

void fill(uint16_t v) {
    for (uint32_t i = 0; i < 1024; ++i)
        put_le16(plc_reg + reg::kR + 2 * i, v);
    for (uint32_t i = 0; i < 128; ++i)
        put_le16(plc_reg + reg::kEM + 2 * i, v);
    for (uint32_t i = kOwnStore / 2; i < sizeof bbram / 2; ++i)
        put_le16(bbram + 2 * i, v);
}

void churn_poll() {
    fill(++g.value);
    if (g.next_poll) g.next_poll();
}

std::string uniform(const uint8_t *p, uint32_t words) {
    uint16_t v = le16(p);
    for (uint32_t i = 1; i < words; ++i)
        if (le16(p + 2 * i) != v) return "mixed";
    return std::to_string(v);
}
} // namespace

std::string NvDebug_Command(const std::vector<std::string> &a) {
    if (a.size() == 2 && a[1] == "churn") {
        if (!g.on) {
            g.on = true;
            // Continue from what the registers hold, so values grow across restarts.
            g.value = le16(plc_reg + reg::kR);
            g.next_poll = MainLoopHostPoll;
            MainLoopHostPoll = churn_poll;
        }
        return "ok churning from " + std::to_string(g.value);
    }
    if (a.size() == 2 && a[1] == "nvcheck")
        return "ok R=" + uniform(plc_reg + reg::kR, 1024) +
               " EM=" + uniform(plc_reg + reg::kEM, 128) +
               " BB=" + uniform(bbram + kOwnStore, (sizeof bbram - kOwnStore) / 2);
    if (a.size() == 3 && a[1] == "fram-drop") {
        host::FramDevice *fram = host::fram_device();
        if (!fram) return "error: no FRAM";
        fram->drop_after_words(std::atol(a[2].c_str()));
        return "ok FRAM drops writes after " + a[2] + " words";
    }
    return "";
}

void NvDebug_Reset() {
    g = Churn{};
}
