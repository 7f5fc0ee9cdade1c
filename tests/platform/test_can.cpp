// The CAN driver on the loopback bus: the test is a second member of the bus.
#include "panel_fixture.h"

#include "base/le.h"
#include "host/canbus.h"
#include "host/clock.h"
#include "host/config.h"
#include "host/shell.h"
#include "platform/can.h"

#include <poll.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

namespace {
int g_rx_events, g_tx_events, g_error_events;
std::vector<int> g_status_in_error_event;
void on_rx() {
    ++g_rx_events;
}
void on_tx() {
    ++g_tx_events;
}
void on_error() {
    ++g_error_events;
    g_status_in_error_event.push_back(_Can_Status(0));
}
int only_odd(uint32_t id) {
    return id & 1;
}

// Another node on the bus.
struct Peer {
    int fd;
    Peer() {
        fd = host::can_socket("can0");
        EXPECT_GT(fd, 0);
        EXPECT_EQ(host::can_set_nonblock(fd), 0);
        EXPECT_EQ(host::can_bind(fd), 0);
    }
    ~Peer() { host::can_close(fd); }
    void send(const std::string &text) {
        uint8_t f[16];
        std::string err;
        ASSERT_TRUE(host::can_frame_parse(text, f, &err)) << err;
        ASSERT_EQ(host::can_write(fd, f, 16), 16);
    }
    std::vector<std::string> received() {
        std::vector<std::string> out;
        uint8_t f[16];
        while (host::can_read(fd, f, 16) == 16)
            out.push_back(host::can_frame_text(f));
        return out;
    }
};

// Waits (real time) until the driver's socket has something to read.
void wait_readable() {
    pollfd p{CanChannel0.socket, POLLIN, 0};
    poll(&p, 1, 1000);
}

void queue(uint32_t id, std::vector<uint8_t> data, uint8_t remote = 0) {
    CanSlot *s = _Can_NextTx(0);
    ASSERT_NE(s, nullptr);
    s->id = id;
    s->remote = remote;
    s->length = uint8_t(data.size());
    for (size_t i = 0; i < data.size(); ++i)
        s->data[i] = data[i];
    _Can_PutTx(0, s);
}
} // namespace

class CanTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        host::config_set("can0", root_dir + "/bus");
        g_rx_events = g_tx_events = g_error_events = 0;
        g_status_in_error_event.clear();
    }
    void start(uint8_t rate = 0, uint8_t mode = 1) {
        uint8_t cfg[12] = {};
        cfg[6] = rate;
        cfg[9] = mode;
        _Can_Init(0, cfg);
        ASSERT_EQ(CanChannel0.open, 1);
        ASSERT_GT(CanChannel0.socket, 0);
    }
    void events() {
        _Can_SetEvent(0, kCanEventRx, on_rx);
        _Can_SetEvent(0, kCanEventTx, on_tx);
        _Can_SetEvent(0, kCanEventError, on_error);
    }
};

TEST_F(CanTest, StartSetsTheBitRateThroughThePlatformFilesAndKeepsEventsAndFilter) {
    struct Row {
        uint8_t index;
        const char *written;
    };
    // An index beyond the table runs the port at its first rate.
    for (Row r : {Row{0, "125000"}, Row{1, "250000"}, Row{2, "500000"}, Row{3, "1000000"},
                  Row{4, "50000"}, Row{9, "125000"}}) {
        host::shell_log_clear();
        start(r.index);
        EXPECT_EQ(read_file("/sys/devices/platform/FlexCAN.0/bitrate"), r.written) << int(r.index);
        EXPECT_EQ(read_file("/sys/devices/platform/FlexCAN.0/abort"), "1");
        EXPECT_EQ(host::shell_log(),
                  (std::vector<std::string>{"ip link set can0 down", "ip link set can0 up"}));
        if (r.index == 0) {
            events();
            _Can_SetSWFilter(0, only_odd);
        }
    }
    // A restart keeps events and filter, and leaves one member on the bus.
    EXPECT_EQ(_Can_GetEvent(0, kCanEventError), on_error);
    EXPECT_EQ(_Can_GetEvent(0, 3), nullptr);
    EXPECT_EQ(CanChannel0.filter, only_odd);
    _Can_SetSWFilter(0, nullptr);
    EXPECT_EQ(CanChannel0.filter, CanIdFilterDefault);
    int members = 0;
    for (auto &e : std::filesystem::directory_iterator(root_dir + "/bus"))
        members += std::isdigit(e.path().filename().string()[0]) ? 1 : 0;
    EXPECT_EQ(members, 1);
}

TEST_F(CanTest, FramesTravelBothWaysThroughTheRings) {
    Peer peer;
    start();
    events();
    peer.send("123#1122334455667788");
    peer.send("7FF#R");
    peer.send("000#");
    wait_readable();
    Can_Isr();
    EXPECT_EQ(g_rx_events, 1);
    ASSERT_EQ(_Can_CountRx(0), 3);
    CanSlot *s = _Can_GetRx(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->id, 0x123u);
    EXPECT_EQ(s->length, 8);
    EXPECT_EQ(s->remote, 0);
    EXPECT_EQ(le64(s->data), 0x8877665544332211ull);
    _Can_NextRx(0);
    EXPECT_EQ(_Can_GetRx(0)->id, 0x7FFu);
    EXPECT_EQ(_Can_GetRx(0)->remote, 1);
    _Can_NextRx(0);
    EXPECT_EQ(_Can_GetRx(0)->length, 0);
    _Can_NextRx(0);
    EXPECT_EQ(_Can_GetRx(0), nullptr);
    EXPECT_EQ(_Can_CheckRx(0), 0);
    _Can_NextRx(0); // nothing to drop: the ring stays empty
    EXPECT_EQ(_Can_CountRx(0), 0);

    queue(0x456, {0xAA, 0xBB});
    queue(0x123, {}, 1);
    EXPECT_EQ(_Can_CountTx(0), 2);
    Can_Isr();
    EXPECT_EQ(_Can_CountTx(0), 0);
    EXPECT_EQ(g_tx_events, 2);
    EXPECT_EQ(peer.received(), (std::vector<std::string>{"456#AABB", "123#R"}));
    EXPECT_EQ(g_rx_events, 1); // no poll stored anything since
}

TEST_F(CanTest, IdentifierWidthFollowsTheFrameMode) {
    struct Row {
        uint8_t mode;
        const char *sent;
        uint32_t id;      // in the receive slot
        const char *echo; // the slot sent back as it is
    };
    // clang-format off
    const Row rows[] = {
        {5, "1ABCDEF0#01", 0x1ABCDEF0, "1ABCDEF0#01"},
        {5, "123#02",      0x123,      "00000123#02"},
        {1, "1ABCDEF0#03", 0x6F0,      "6F0#03"},
        {3, "123#04",      0x123,      "123#04"},
        {5, "1ABCDEF0#R",  0x1ABCDEF0, "1ABCDEF0#R"},
    };
    // clang-format on
    Peer peer;
    for (const Row &r : rows) {
        start(0, r.mode);
        peer.send(r.sent);
        wait_readable();
        Can_Isr();
        CanSlot *s = _Can_GetRx(0);
        ASSERT_NE(s, nullptr) << r.sent;
        EXPECT_EQ(s->id, r.id) << r.sent;
        CanSlot *t = _Can_NextTx(0);
        *t = *s;
        _Can_PutTx(0, t);
        Can_Isr();
        EXPECT_EQ(peer.received(), std::vector<std::string>{r.echo}) << r.sent;
    }
    // A slot the socket would refuse (identifier beyond the mode, length code
    // above 8) is cut to what the frame can carry instead of jamming the ring.
    start(0, 1);
    CanSlot *t = _Can_NextTx(0);
    *t = CanSlot{15, 0, {}, 0xFFFFFFFF, {1, 2, 3, 4, 5, 6, 7, 8}};
    _Can_PutTx(0, t);
    Can_Isr();
    EXPECT_EQ(_Can_CountTx(0), 0);
    EXPECT_EQ(peer.received(), std::vector<std::string>{"7FF#0102030405060708"});
}

TEST_F(CanTest, FullReceiveRingDropsTheNewFrameWithTheRingFullFlag) {
    Peer peer;
    start();
    events();
    char text[16];
    for (int i = 0; i <= kCanRing; ++i) {
        std::snprintf(text, sizeof text, "%03X#%02X", i, i & 0xFF);
        peer.send(text);
    }
    wait_readable();
    Can_Isr();
    EXPECT_EQ(_Can_CountRx(0), kCanRing);
    EXPECT_EQ(_Can_Status(0), kCanStRingFull);
    EXPECT_EQ(_Can_Data(0, 0)[kCanStatDrops], 1);
    EXPECT_EQ(g_error_events, 1);
    EXPECT_EQ(g_rx_events, 1);
    // The oldest frames are kept; the 201st is the one lost.
    EXPECT_EQ(_Can_GetRx(0)->id, 0u);
    EXPECT_EQ(CanChannel0.rx[kCanRing - 1].id, uint32_t(kCanRing - 1));

    // The next frame that finds room clears the flag; the drop stays counted.
    _Can_NextRx(0);
    peer.send("321#");
    wait_readable();
    Can_Isr();
    EXPECT_EQ(_Can_CountRx(0), kCanRing);
    EXPECT_EQ(_Can_Status(0), 0);
    EXPECT_EQ(_Can_Data(0, 1)[kCanStatDrops], 1);
    EXPECT_EQ(_Can_Data(0, 0)[kCanStatDrops], 0); // cleared after the copy
    _Can_FlushRx(0);
    EXPECT_EQ(_Can_CheckRx(0), 0);
}

TEST_F(CanTest, FullTransmitRingRefusesASlotUntilOneIsSent) {
    start();
    for (int i = 0; i < kCanRing; ++i)
        queue(uint32_t(i), {uint8_t(i)});
    EXPECT_EQ(_Can_NextTx(0), nullptr);
    EXPECT_EQ(_Can_CheckTx(0), 0);
    _Can_PutTx(0, &CanChannel0.tx[0]); // a put without a free slot changes nothing
    EXPECT_EQ(_Can_CountTx(0), kCanRing);
    Can_Isr(); // alone on the bus: every frame leaves
    EXPECT_NE(_Can_NextTx(0), nullptr);
    EXPECT_EQ(_Can_CountTx(0), 0);
    queue(1, {});
    _Can_FlushTx(0);
    EXPECT_EQ(_Can_CountTx(0), 0);
}

TEST_F(CanTest, ErrorFramesSetTheStatusBitsForTheErrorEventThenClearThem) {
    struct Row {
        const char *frame;
        int status; // seen by the error event
        int counter;
    };
    // clang-format off
    const Row rows[] = {
        {"ERR#ctrl=01",  kCanStRxOverflow, kCanStatOverflow},
        {"ERR#ctrl=04",  kCanStRxWarn,     kCanStatRxWarn},
        {"ERR#ctrl=10",  kCanStRxWarn,     kCanStatRxWarn},
        {"ERR#ctrl=08",  kCanStTxWarn,     kCanStatTxWarn},
        {"ERR#ctrl=20",  kCanStTxWarn,     kCanStatTxWarn},
        {"ERR#busoff",   kCanStBusOff,     kCanStatBusOff},
    };
    // clang-format on
    Peer peer;
    start();
    events();
    for (const Row &r : rows) {
        g_status_in_error_event.clear();
        uint16_t before = _Can_Data(0, 0)[r.counter];
        peer.send(r.frame);
        wait_readable();
        Can_Isr();
        EXPECT_EQ(g_status_in_error_event, std::vector<int>{r.status}) << r.frame;
        EXPECT_EQ(_Can_Status(0), 0) << r.frame;
        EXPECT_EQ(_Can_Data(0, 0)[r.counter], before + 1) << r.frame;
    }
    EXPECT_EQ(g_rx_events, 0);
    // Error classes the port did not ask for never arrive.
    peer.send("ERR#class=00000001");
    peer.send("001#");
    wait_readable();
    Can_Isr();
    EXPECT_EQ(g_error_events, int(std::size(rows)));
    // Counters stop at 65535; a clearing read zeroes the six counters, not the loads.
    CanChannel0.stats[kCanStatBusOff] = 0xFFFF;
    CanChannel0.stats[kCanStatRxLoad] = 7;
    peer.send("ERR#busoff");
    wait_readable();
    Can_Isr();
    const uint16_t *d = _Can_Data(0, 1);
    EXPECT_EQ(d[kCanStatBusOff], 0xFFFF);
    EXPECT_EQ(d[kCanStatRxWarn], 2);
    d = _Can_Data(0, 0);
    for (int i = 2; i < 8; ++i)
        EXPECT_EQ(d[i], 0) << i;
    EXPECT_EQ(d[kCanStatRxLoad], 7);
}

TEST_F(CanTest, BusLoadFromACountedFrameRate) {
    struct Row {
        uint8_t rate, mode;
        int bytes, direction;
        uint16_t load; // tenths of a percent
    };
    // 100 frames a second: (52 or 72 bits + 8 per byte) * 100 / (kbit/s).
    // clang-format off
    const Row rows[] = {
        {0, 1, 8, 0,  92},  // 11600 bit/s of 125 kbit/s
        {0, 1, 8, 1,  92},
        {0, 5, 8, 0, 108},  // 13600 bit/s
        {0, 1, 0, 1,  41},  // 5200 bit/s
        {1, 1, 8, 0,  46},
        {4, 1, 2, 0, 136},  // 6800 bit/s of 50 kbit/s
    };
    // clang-format on
    Peer peer;
    for (const Row &r : rows) {
        Can_Reset();
        start(r.rate, r.mode);
        std::string text = (r.mode == 5 ? "00000101#" : "101#") + std::string(2 * r.bytes, '5');
        for (int i = 0; i <= 200; ++i) {
            if (r.direction == 0) {
                peer.send(text);
                wait_readable();
            } else {
                queue(0x101, std::vector<uint8_t>(r.bytes, 0x55));
            }
            Can_Isr();
            _Can_FlushRx(0);
            if (i < 200) host::clock_advance_ms(10);
        }
        const uint16_t *d = _Can_Data(0, 0);
        EXPECT_EQ(d[r.direction ? kCanStatTxLoad : kCanStatRxLoad], r.load) << int(r.rate);
        EXPECT_EQ(d[r.direction ? kCanStatRxLoad : kCanStatTxLoad], 0) << int(r.rate);
        // An idle bus reads no load one second after the last computation.
        host::clock_advance_ms(999);
        EXPECT_EQ(_Can_Data(0, 0)[r.direction ? kCanStatTxLoad : kCanStatRxLoad], r.load);
        host::clock_advance_ms(1);
        EXPECT_EQ(_Can_Data(0, 0)[r.direction ? kCanStatTxLoad : kCanStatRxLoad], 0);
        peer.received();
    }
}

TEST_F(CanTest, LoadWindowLongerThanSixPointFiveFiveSecondsIsStillMeasured) {
    // A 16-bit tick difference would read 6.6 s as 46 ms and never compute.
    start();
    queue(0x101, {}); // starts the measurement
    Can_Isr();
    for (int i = 0; i < 100; ++i)
        queue(0x101, std::vector<uint8_t>(8, 0));
    host::clock_advance_ms(100);
    Can_Isr();
    host::clock_advance_ms(6500);
    queue(0x101, std::vector<uint8_t>(8, 0));
    Can_Isr();
    // 101 frames of 116 bits over 6.6 s at 125 kbit/s.
    EXPECT_EQ(_Can_Data(0, 0)[kCanStatTxLoad], 1000u * 101 * 116 / (125 * 6600));
}

TEST_F(CanTest, OnlyChannelZeroIsKept) {
    start();
    uint8_t cfg[12] = {};
    _Can_Init(1, cfg);
    EXPECT_EQ(CanChannel0.open, 1);
    EXPECT_EQ(_Can_NextTx(1), nullptr);
    EXPECT_EQ(_Can_GetRx(1), nullptr);
    EXPECT_EQ(_Can_Data(1, 0), nullptr);
    EXPECT_EQ(_Can_Lockup(), 0);
    EXPECT_EQ(_Can_SentTx(0), 0);
}
