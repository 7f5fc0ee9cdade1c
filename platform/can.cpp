#include "platform/can.h"

#include "base/le.h"
#include "base/trace.h"
#include "host/canbus.h"
#include "host/shell.h"
#include "platform/pass_wait.h"
#include "platform/slice.h"
#include "platform/tick.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

CanInfo CanChannel0;

namespace {
// clang-format off
struct Rate {
    const char *text;       // written to the controller's "bitrate" file
    uint32_t bits_per_ms;   // bus capacity for the load
};
constexpr Rate kRates[] = {
    {"125000", 125}, {"250000", 250}, {"500000", 500}, {"1000000", 1000}, {"50000", 50},
};
// clang-format on
constexpr const char *kIface = "can0";
constexpr const char *kDevice = "FlexCAN.0";
constexpr uint8_t kExtendedMode = 5, kSmallSendBufferMode = 3;

uint16_t g_data[8];   // what _Can_Data hands out
bool g_started;       // the channel was started once (events and filter set)
uint32_t g_idle_wait; // the wait whose empty verdict a read was last left out for

CanInfo &ch() {
    return CanChannel0;
}
bool extended() {
    return ch().config[9] == kExtendedMode;
}

// A bit-rate index outside the table would read past it: such an index runs
// the port at the first rate of the table.
const Rate &rate() {
    uint8_t i = ch().config[6];
    return kRates[i < std::size(kRates) ? i : 0];
}

void bump(uint16_t &counter) {
    if (counter < 0xFFFF) ++counter;
}

void call(int event) {
    if (CanEvent fn = ch().events[event]) fn();
}

void write_platform_file(const char *file, const char *text) {
    std::string name = host::can_platform_file(kDevice, file);
    FILE *f = std::fopen(name.c_str(), "w");
    if (!f) {
        std::perror("fopen");
        return;
    }
    if (std::fputs(text, f) < 0) std::perror("fputs");
    if (std::fclose(f) != 0) std::perror("fclose");
}

void link_command(const char *updown) {
    // The slice timer's signal must not interrupt the command.
    Enable_Interrupt(0);
    host::shell(std::string("ip link set ") + kIface + " " + updown);
}

// An error frame: its classes become status bits for the error event, and
// each bit is counted.
void error_frame(uint32_t id, const uint8_t *frame) {
    CanInfo &c = ch();
    uint8_t bits = 0;
    if (id & host::kCanErrCtrl) {
        uint8_t detail = frame[9];
        if (detail & host::kCanCtrlRxOverflow) bits |= kCanStRxOverflow;
        if (detail & (host::kCanCtrlRxWarning | host::kCanCtrlRxPassive)) bits |= kCanStRxWarn;
        if (detail & (host::kCanCtrlTxWarning | host::kCanCtrlTxPassive)) bits |= kCanStTxWarn;
    }
    if (id & host::kCanErrBusOff) bits |= kCanStBusOff;
    c.status |= bits;
    if (bits & kCanStTxWarn) bump(c.stats[kCanStatTxWarn]);
    if (bits & kCanStRxWarn) bump(c.stats[kCanStatRxWarn]);
    if (bits & kCanStRxOverflow) bump(c.stats[kCanStatOverflow]);
    if (bits & kCanStBusOff) bump(c.stats[kCanStatBusOff]);
    call(kCanEventError);
    c.status = 0;
}

// A data frame: through the filter into the receive ring. True when stored.
bool data_frame(uint32_t id, const uint8_t *frame) {
    CanInfo &c = ch();
    // A length code above 8 still carries 8 bytes: a slot never claims more
    // than it holds.
    uint8_t length = std::min<uint8_t>(frame[4] & 0x0F, 8);
    uint32_t ident = id & (extended() ? host::kCanEffMask : host::kCanSffMask);
    CanUsageStats(0, 0, length);
    if (!c.filter(ident)) return false;
    if (c.rx_count >= kCanRing) {
        bump(c.stats[kCanStatDrops]);
        c.ring_full = 1;
        call(kCanEventError);
        return false;
    }
    CanSlot &s = c.rx[c.rx_in];
    s.length = length;
    s.remote = (id & host::kCanRtr) ? 1 : 0;
    s.reserved[0] = s.reserved[1] = 0;
    s.id = ident;
    std::memset(s.data, 0, sizeof s.data);
    std::memcpy(s.data, frame + 8, length);
    c.rx_in = uint16_t((c.rx_in + 1) % kCanRing);
    ++c.rx_count;
    c.ring_full = 0;
    return true;
}
} // namespace

int CanIdFilterDefault(uint32_t) {
    return 1;
}

void Can_SlotFrame(const CanSlot *slot, uint8_t *frame) {
    std::memset(frame, 0, host::kCanFrameBytes);
    // The identifier is cut to the mode's width, so that its high bits never
    // turn into the socket's flag bits.
    uint32_t id;
    if (extended()) {
        id = (slot->id & host::kCanEffMask) | host::kCanEff;
        if (slot->remote) id |= host::kCanRtr;
    } else {
        id = slot->id & host::kCanSffMask;
        if (slot->remote) id |= host::kCanRtr;
    }
    // The socket refuses a length above 8: such a slot would stay at the
    // head of the ring for ever.
    uint8_t length = std::min<uint8_t>(slot->length, 8);
    put_le32(frame, id);
    frame[4] = length;
    std::memcpy(frame + 8, slot->data, length);
}

void _Can_Init(int channel, const uint8_t *config) {
    if (channel != 0) {
        std::fprintf(stderr, "CAN channel %d is not served\n", channel);
        return;
    }
    CanInfo &c = ch();
    if (c.open && c.socket > 0) {
        PassWait_Unwatch(c.socket);
        host::can_close(c.socket);
    }
    c.socket = 0;
    c.open = 0;
    std::memcpy(c.config, config, sizeof c.config);
    if (!g_started) {
        g_started = true;
        std::fill(std::begin(c.events), std::end(c.events), nullptr);
        c.filter = CanIdFilterDefault;
    }

    c.status = 0;
    c.ring_full = 0;
    c.rx_in = c.rx_out = c.rx_count = 0;
    c.tx_in = c.tx_out = c.tx_count = 0;
    std::fill(std::begin(c.stats), std::end(c.stats), 0);
    c.load_time = FPGA_GetFrt();

    link_command("down");
    write_platform_file("bitrate", rate().text);
    write_platform_file("abort", "1");
    link_command("up");

    int fd = host::can_socket(kIface);
    if (fd < 0) {
        std::perror("socket");
    } else {
        c.socket = fd;
        if (host::can_set_nonblock(fd) != 0) std::perror("fcntl");
        host::can_set_err_filter(fd, host::kCanErrCtrl | host::kCanErrBusOff);
        if (host::can_bind(fd) != 0) std::perror("bind");
        PassWait_Watch(fd, POLLIN);
    }
    c.open = 1;
    if (c.config[9] == kSmallSendBufferMode && fd >= 0 && host::can_set_sndbuf(fd, 0) != 0)
        std::perror("setsockopt");
}

void Can_Isr() {
    host::trace("Can_Isr");
    CanInfo &c = ch();
    if (!c.open || c.socket <= 0) return;
    uint8_t frame[host::kCanFrameBytes];
    bool stored = false;
    // No read when the wait between passes saw nothing arrive.
    const bool arrived = !PassWait_Idle(c.socket, &g_idle_wait);
    while (arrived && host::can_read(c.socket, frame, sizeof frame) == ssize_t(sizeof frame)) {
        uint32_t id = le32(frame);
        if (id & host::kCanErr)
            error_frame(id, frame);
        else
            stored |= data_frame(id, frame);
    }
    if (stored) call(kCanEventRx);

    while (c.tx_count > 0) {
        const CanSlot &s = c.tx[c.tx_out];
        Can_SlotFrame(&s, frame);
        if (host::can_write(c.socket, frame, sizeof frame) != ssize_t(sizeof frame)) break;
        CanUsageStats(0, 1, frame[4]);
        // The ring moves on before the event, so a handler may queue or flush.
        c.tx_out = uint16_t((c.tx_out + 1) % kCanRing);
        --c.tx_count;
        call(kCanEventTx);
    }
}

void CanUsageStats(int channel, int direction, int length) {
    if (channel != 0) return;
    CanInfo &c = ch();
    uint32_t now = FPGA_GetFrt();
    if (!c.load_started) {
        // The measurement starts now (not at tick 0, which would spread the
        // first second's bits over the whole time since start-up).
        c.load_started = 1;
        c.tx_bits = c.rx_bits = 0;
        c.load_time = now;
        return;
    }
    uint32_t bits = (extended() ? 72 : 52) + 8 * uint32_t(std::clamp(length, 0, 8));
    (direction ? c.tx_bits : c.rx_bits) += bits;
    // Full-width tick difference: a 16-bit one wraps after 6.55 s.
    uint32_t elapsed_ms = (now - c.load_time) / 10;
    if (elapsed_ms < 1000) return;
    uint64_t capacity = uint64_t(rate().bits_per_ms) * elapsed_ms;
    auto load = [&](uint32_t b) {
        return uint16_t(std::min<uint64_t>(1000ull * b / capacity, 0xFFFF));
    };
    c.stats[kCanStatTxLoad] = load(c.tx_bits);
    c.stats[kCanStatRxLoad] = load(c.rx_bits);
    c.tx_bits = c.rx_bits = 0;
    c.load_time = now;
}

int _Can_CheckRx(int channel) {
    return channel == 0 && ch().rx_count > 0;
}
int _Can_CountRx(int channel) {
    return channel == 0 ? ch().rx_count : 0;
}

CanSlot *_Can_GetRx(int channel) {
    if (channel != 0 || ch().rx_count == 0) return nullptr;
    return &ch().rx[ch().rx_out];
}

void _Can_NextRx(int channel) {
    CanInfo &c = ch();
    if (channel != 0 || c.rx_count == 0) return;
    c.rx_out = uint16_t((c.rx_out + 1) % kCanRing);
    --c.rx_count;
}

void _Can_FlushRx(int channel) {
    if (channel != 0) return;
    ch().rx_in = ch().rx_out = ch().rx_count = 0;
}

int _Can_CheckTx(int channel) {
    return channel == 0 && ch().tx_count < kCanRing;
}
int _Can_CountTx(int channel) {
    return channel == 0 ? ch().tx_count : 0;
}

CanSlot *_Can_NextTx(int channel) {
    if (channel != 0 || ch().tx_count >= kCanRing) return nullptr;
    return &ch().tx[ch().tx_in];
}

void _Can_PutTx(int channel, CanSlot *slot) {
    CanInfo &c = ch();
    // Only the slot handed out by _Can_NextTx is committed: a put into a full
    // ring would count a frame over the oldest queued one.
    if (channel != 0 || c.tx_count >= kCanRing || slot != &c.tx[c.tx_in]) return;
    c.tx_in = uint16_t((c.tx_in + 1) % kCanRing);
    ++c.tx_count;
}

void _Can_FlushTx(int channel) {
    if (channel != 0) return;
    ch().tx_in = ch().tx_out = ch().tx_count = 0;
}

int _Can_Status(int channel) {
    if (channel != 0) return 0;
    return ch().status | (ch().ring_full ? kCanStRingFull : 0);
}

const uint16_t *_Can_Data(int channel, int clear) {
    host::trace("_Can_Data");
    if (channel != 0) return nullptr;
    CanInfo &c = ch();
    // An idle bus reads no load one second after the last computation.
    if ((c.stats[kCanStatTxLoad] || c.stats[kCanStatRxLoad]) &&
        FPGA_GetFrt() - c.load_time >= 10000)
        c.stats[kCanStatTxLoad] = c.stats[kCanStatRxLoad] = 0;
    std::memcpy(g_data, c.stats, sizeof g_data);
    if (clear) std::fill(std::begin(c.stats) + 2, std::end(c.stats), 0);
    return g_data;
}

void _Can_SetEvent(int channel, int event, CanEvent fn) {
    host::trace("_Can_SetEvent");
    if (channel != 0 || event < 0 || event > 2) return;
    ch().events[event] = fn;
}

CanEvent _Can_GetEvent(int channel, int event) {
    if (channel != 0 || event < 0 || event > 2) return nullptr;
    return ch().events[event];
}

void _Can_SetSWFilter(int channel, CanFilter fn) {
    if (channel != 0) return;
    ch().filter = fn ? fn : CanIdFilterDefault;
}

void _Can_AbortTx(int) {}
void _Can_BusOn(int) {}
void _Can_BusOff(int) {}
int _Can_SentTx(int) {
    return 0;
}
int _Can_Lockup() {
    host::trace("_Can_Lockup");
    return 0;
}

void Can_Reset() {
    if (CanChannel0.open && CanChannel0.socket > 0) {
        PassWait_Unwatch(CanChannel0.socket);
        host::can_close(CanChannel0.socket);
    }
    CanChannel0 = CanInfo{};
    CanChannel0.filter = CanIdFilterDefault;
    std::memset(g_data, 0, sizeof g_data);
    g_started = false;
    g_idle_wait = 0;
}
