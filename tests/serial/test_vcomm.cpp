// The serial port table over real pseudo-terminals: each row's operations,
// the Modbus RTU gap on the virtual clock, intercept mode, the protocol
// change check, the USB gadget port and the port claims.
#include "base/trace.h"
#include "host/clock.h"
#include "host/tty.h"
#include "panel_fixture.h"
#include "platform/pass_wait.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/vcomm.h"
#include "system/loop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Row {
    int port;
    const char *device;
};
// The rows as the start-up installs them.
constexpr Row kRows[] = {{0, "/dev/ttySP0"}, {1, "/dev/ttySP3"}, {2, "/dev/ttySP2"}};

void set_kernel(const char *text) {
    std::memset(plc_reg + sr_offset(sr::kKernelRev), 0, 10);
    std::memcpy(plc_reg + sr_offset(sr::kKernelRev), text, std::strlen(text));
}

class SerialTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        Vcomm_Init();
        SCI2_Init(0);
        SCI0_Init(1);
        SCI3_Init(2);
        SCI4_Init(3);
    }
    void TearDown() override {
        for (int fd : peers)
            close(fd);
        PanelTest::TearDown();
    }
    // The other end of a board tty, as socat or a test would open it.
    int peer(const char *device) {
        int fd = open(host::tty_peer_link(device).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0) << device;
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        peers.push_back(fd);
        return fd;
    }
    static void send(int fd, const std::string &s) {
        ASSERT_EQ(write(fd, s.data(), s.size()), ssize_t(s.size()));
    }
    // Reads what arrives at a peer within a short real time.
    static std::string collect(int fd, size_t want, int ms = 3000) {
        std::string out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out.size() < want && std::chrono::steady_clock::now() < end) {
            char buf[512];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0)
                out.append(buf, size_t(n));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return out;
    }
    // Waits (real time: the pty hands bytes over asynchronously) until the
    // port counts n bytes.
    static bool arrived(const VcommDrv &d, int port, int n) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (d.CountRx(port) < n) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    static std::string take(const VcommDrv &d, int port) {
        std::string s;
        while (d.CheckRx(port) == 1)
            s += char(d.GetRx(port));
        return s;
    }
    static void advance_ticks(uint32_t ticks) { host::clock_advance_ns(uint64_t(ticks) * 100'000); }
    std::vector<int> peers;
};

TEST_F(SerialTest, EveryRowCarriesBytesBothWaysOverItsPty) {
    for (const Row &r : kRows) {
        SCOPED_TRACE(r.device);
        const VcommDrv &d = Vcomm_Drv[r.port];
        ASSERT_EQ(0, std::memcmp(d.mode, rism_mode, kModeBytes));
        int p = peer(r.device);
        EXPECT_EQ(d.CheckRx(r.port), 0);
        send(p, "hello");
        ASSERT_TRUE(arrived(d, r.port, 5));
        EXPECT_EQ(d.CountRx(r.port), 5);
        EXPECT_EQ(take(d, r.port), "hello");
        send(p, "dropped");
        ASSERT_TRUE(arrived(d, r.port, 7));
        d.FlushRx(r.port);
        EXPECT_EQ(d.CountRx(r.port), 0);
        EXPECT_EQ(d.CheckRx(r.port), 0);

        EXPECT_EQ(d.PutTx(r.port, 'A'), 'A');
        const uint8_t bcd[] = {'B', 'C', 'D'};
        EXPECT_EQ(d.PutnTx(r.port, bcd, 3), 3);
        EXPECT_EQ(d.PutsTx(r.port, "EF"), 2);
        EXPECT_EQ(collect(p, 6), "ABCDEF");
        EXPECT_EQ(d.EmptyTx(r.port), 1);
        EXPECT_EQ(d.CountTx(r.port), 0);
        EXPECT_EQ(d.IoCtl(r.port, 3, 0), 1);
        EXPECT_EQ(d.IoCtl(r.port, 9, 0), 0);
        // The lines without a meaning on these ports.
        EXPECT_EQ(d.CheckTx(r.port), 1);
        EXPECT_EQ(d.Test(r.port), 0);
        EXPECT_EQ(d.StatusRx(r.port, 1), 0);
        EXPECT_EQ(d.GetRts(r.port), 0);
        EXPECT_EQ(d.GetDtr(r.port), 0);
        EXPECT_EQ(d.GetDCD(r.port), 0);
    }
}

TEST_F(SerialTest, RowsAreWatchedByTheLoopWhileOpen) {
    pollfd fds[16];
    size_t n = PassWait_Fill(fds, 16);
    for (int port = 0; port <= 3; ++port) {
        VcommPortInfo info{};
        ASSERT_TRUE(Vcomm_PortInfo(port, &info));
        ASSERT_GE(info.fd, 0);
        EXPECT_TRUE(std::any_of(fds, fds + n, [&](const pollfd &f) {
            return f.fd == info.fd && f.events == POLLIN;
        })) << port;
    }
    // Bytes nobody takes stop waking the loop after a whole pass, and wake
    // it again once the receiver asks for more.
    VcommPortInfo info{};
    Vcomm_PortInfo(1, &info);
    int p = peer("/dev/ttySP3");
    send(p, "abc");
    ASSERT_TRUE(arrived(Vcomm_Drv[1], 1, 3));
    auto events = [&] {
        size_t k = PassWait_Fill(fds, 16);
        for (size_t i = 0; i < k; ++i)
            if (fds[i].fd == info.fd) return int(fds[i].events);
        return -1;
    };
    USBPortMon();
    EXPECT_EQ(events(), POLLIN);
    USBPortMon();
    EXPECT_EQ(events(), 0);
    take(Vcomm_Drv[1], 1);
    EXPECT_EQ(events(), POLLIN);
}

TEST_F(SerialTest, RtuFrameLeavesInOneWriteAndPutnTxCountsPastByteWidth) {
    const uint8_t rtu[kModeBytes] = {5, 0, 3, 0, 0, 0x33};
    for (const Row &r : kRows) {
        SCOPED_TRACE(r.device);
        const VcommDrv &d = Vcomm_Drv[r.port];
        int p = peer(r.device);
        ASSERT_EQ(d.Open(r.port, rtu), 1);
        for (uint8_t b : {1, 3, 0, 0})
            d.PutTx(r.port, b);
        EXPECT_EQ(collect(p, 1, 100), ""); // collected, not sent
        d.RtuTx(r.port);
        EXPECT_EQ(collect(p, 4), std::string("\x01\x03\x00\x00", 4));
    }
    // The option-board port collects PutnTx too: a frame of 257 bytes whole.
    const VcommDrv &ob = Vcomm_Drv[2];
    int p = peer("/dev/ttySP2");
    std::vector<uint8_t> frame(257);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint8_t(i * 7);
    EXPECT_EQ(ob.PutnTx(2, frame.data(), 257), 257);
    ob.RtuTx(2);
    std::string got = collect(p, 257);
    EXPECT_EQ(got, std::string(frame.begin(), frame.end()));
}

TEST_F(SerialTest, RtuGapOnTheTimerMeasuredFromTheLastByte) {
    // A kernel that would detect the gap itself, but the tty refuses the
    // requests (a pty): the countdown timer takes over.
    set_kernel("2.6.35.45");
    struct Case {
        uint8_t baud;
        uint32_t ticks; // the gap preset
    };
    const Case cases[] = {{0, 1500}, {4, 1500}, {5, 266}, {6, 266}, {9, 266}};
    const VcommDrv &d = Vcomm_Drv[1];
    int p = peer("/dev/ttySP3");
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.baud));
        const uint8_t mode[kModeBytes] = {c.baud, 0, 3, 0, 0, 0x33};
        ASSERT_EQ(d.Open(1, mode), 1);
        VcommPortInfo info{};
        Vcomm_PortInfo(1, &info);
        EXPECT_FALSE(info.kernel_gap);
        send(p, "ab");
        ASSERT_TRUE(arrived(d, 1, 2));
        EXPECT_EQ(d.CheckRx(1), 1);
        d.GetRx(1);
        advance_ticks(100); // the gap restarts with the second byte
        EXPECT_EQ(d.CheckRx(1), 1);
        d.GetRx(1);
        advance_ticks(c.ticks);
        EXPECT_EQ(d.CheckRx(1), 0);
        advance_ticks(1);
        EXPECT_EQ(d.CheckRx(1), 255);
        EXPECT_EQ(d.CheckRx(1), 0); // reported once
    }
}

TEST_F(SerialTest, KernelGapRequestCarriesTheScaledGap) {
    struct Case {
        const char *kernel;
        uint8_t handshake, line;
        long gap; // argument of the gap request
    };
    const Case cases[] = {
        {"2.6.35.45", 0, 0, 9360}, // 3645 / 35 * 90: nine characters
        {"2.6.35.45", 3, 3, 9360},
        {"2.6.35.45", 0, 3, 3645},
        {"2.6.35.25", 0, 0, 0}, // an older kernel: no gap detection
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kernel + std::to_string(c.line));
        host::tty_reset();
        Vcomm_Init();
        set_kernel(c.kernel);
        SCI0_Init(1);
        const uint8_t mode[kModeBytes] = {5, 0, 3, 0, c.handshake, uint8_t(c.line << 4 | 3)};
        ASSERT_EQ(Vcomm_Drv[1].Open(1, mode), 1);
        auto reqs = host::tty_failed_requests();
        auto gap = std::find_if(reqs.begin(), reqs.end(),
                                [](const host::TtyRequest &q) { return q.request == 0x5465; });
        ASSERT_NE(gap, reqs.end());
        EXPECT_EQ(gap->device, "/dev/ttySP3");
        EXPECT_EQ(gap->arg, c.gap);
    }
}

TEST_F(SerialTest, GapIgnoresTheWallClock) {
    const uint8_t rtu[kModeBytes] = {5, 0, 3, 0, 0, 0x33};
    const VcommDrv &d = Vcomm_Drv[0];
    ASSERT_EQ(d.Open(0, rtu), 1);
    int p = peer("/dev/ttySP0");
    send(p, "x");
    ASSERT_TRUE(arrived(d, 0, 1));
    d.GetRx(0);
    host::set_wall_ns(host::wall_ns() + 3600'000'000'000ll); // the clock set an hour on
    EXPECT_EQ(d.CheckRx(0), 0);
    host::set_wall_ns(host::wall_ns() - 7200'000'000'000ll); // and back
    EXPECT_EQ(d.CheckRx(0), 0);
    advance_ticks(267);
    EXPECT_EQ(d.CheckRx(0), 255);
}

TEST_F(SerialTest, InterceptModeUsesTheRingsOnly) {
    const VcommDrv &d = Vcomm_Drv[0];
    int p = peer("/dev/ttySP0");
    d.SetIntrcpt(1);
    send(p, "tty");
    for (int i = 0; i < 2048; ++i)
        d.StuffRx(uint8_t(i));
    EXPECT_EQ(d.CountRx(0), 2047); // the last byte found the ring full
    for (int i = 0; i < 2047; ++i) {
        ASSERT_EQ(d.CheckRx(0), 1);
        ASSERT_EQ(d.GetRx(0), uint8_t(i));
    }
    EXPECT_EQ(d.CheckRx(0), 0); // the tty's bytes are not read meanwhile

    std::vector<uint8_t> out(300);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = uint8_t(i);
    d.PutTx(0, 0xEE);
    EXPECT_EQ(d.PutnTx(0, out.data(), 300), 300);
    EXPECT_EQ(d.PutsTx(0, "z"), 1);
    EXPECT_EQ(d.CountTx(0), 302);
    EXPECT_EQ(d.EmptyTx(0), 0);
    uint8_t b = 0;
    ASSERT_EQ(d.DrainTx(&b), 1);
    EXPECT_EQ(b, 0xEE);
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(d.DrainTx(&b), 1);
        ASSERT_EQ(b, out[i]);
    }
    ASSERT_EQ(d.DrainTx(&b), 1);
    EXPECT_EQ(b, 'z');
    EXPECT_EQ(d.DrainTx(&b), 0);
    EXPECT_EQ(collect(p, 1, 100), ""); // nothing reached the line

    d.PutTx(0, 1);
    d.StuffRx(2);
    d.FlushTx(0);
    EXPECT_EQ(d.DrainTx(&b), 0);
    d.StuffRx(3);
    d.PutTx(0, 4);
    d.SetIntrcpt(0); // off: both directions flushed, the tty's input too
    EXPECT_EQ(d.DrainTx(&b), 0);
    d.SetIntrcpt(1);
    EXPECT_EQ(d.CheckRx(0), 0);
    d.SetIntrcpt(0);
    EXPECT_EQ(d.CountRx(0), 0);
}

TEST_F(SerialTest, ProtocolChangeCheck) {
    struct Case {
        unsigned from, to;
        bool allowed;
    };
    const Case cases[] = {
        {0, 0, true},  {0, 3, true},  {1, 0, false}, {1, 4, true},  {2, 3, false}, {2, 1, true},
        {3, 3, true},  {3, 2, false}, {4, 0, false}, {4, 4, true},  {1, 6, true},  {0, 6, true},
        {6, 6, true},  {6, 1, true},  {15, 1, true}, {6, 0, false}, {6, 3, false}, {3, 6, false},
        {2, 6, false}, {6, 5, false}, {5, 6, false}, {0, 15, true}, {9, 2, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Vcomm_ProtocolChangeAllowed(c.from, c.to), c.allowed) << c.from << "->" << c.to;

    // A refused change leaves the port as it was.
    const VcommDrv &d = Vcomm_Drv[0];
    ASSERT_EQ(d.Open(0, vibus_mode), 1);
    const uint8_t none[kModeBytes] = {6, 0, 3, 0, 0, 0x30};
    EXPECT_EQ(d.Open(0, none), 0);
    EXPECT_EQ(0, std::memcmp(d.mode, vibus_mode, kModeBytes));
    const uint8_t iec[kModeBytes] = {9, 0, 3, 0, 0, 0x06};
    EXPECT_EQ(d.Open(0, iec), 1);
    EXPECT_EQ(d.Open(0, vibus_mode), 1);
}

TEST_F(SerialTest, InvalidFieldsConfigureTheRestAndReturnZero) {
    const VcommDrv &d = Vcomm_Drv[1];
    VcommPortInfo info{};
    Vcomm_PortInfo(1, &info);
    auto settings = [&] {
        termios t{};
        tcgetattr(info.fd, &t);
        return t;
    };
    const uint8_t odd7[kModeBytes] = {10, 1, 2, 1, 0, 0x30};
    EXPECT_EQ(d.Open(1, odd7), 0);
    termios t = settings();
    // (A pty keeps eight bits without parity; the rest shows.)
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600)); // the baud of a first open
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(d.mode[0], 10); // the record is what was asked

    const uint8_t fast[kModeBytes] = {7, 0, 3, 0, 0, 0x30};
    EXPECT_EQ(d.Open(1, fast), 1);
    const uint8_t bad[kModeBytes] = {12, 7, 3, 0, 9, 0x33};
    EXPECT_EQ(d.Open(1, bad), 0);
    t = settings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B38400)); // kept
    // Its RTU gap follows the baud in effect.
    Vcomm_PortInfo(1, &info);
    ASSERT_NE(info.timer, 0);
    int p = peer("/dev/ttySP3");
    send(p, "q");
    ASSERT_TRUE(arrived(d, 1, 1));
    d.GetRx(1);
    advance_ticks(266);
    EXPECT_EQ(d.CheckRx(1), 0);
    advance_ticks(1);
    EXPECT_EQ(d.CheckRx(1), 255);
}

TEST_F(SerialTest, CountdownPool) {
    RCT_Init();
    static int fired[kRctTimers + 1];
    std::memset(fired, 0, sizeof fired);
    uint8_t h[kRctTimers];
    void (*cbs[kRctTimers])() = {[] { ++fired[1]; }, [] { ++fired[2]; }, [] { ++fired[3]; },
                                 [] { ++fired[4]; }, [] { ++fired[5]; }};
    for (int i = 0; i < kRctTimers; ++i) {
        h[i] = RCT_Allocate(cbs[i]);
        EXPECT_EQ(h[i], i + 1);
    }
    EXPECT_EQ(RCT_Allocate(nullptr), 0);

    RCT_Set(h[0], 10000, 3); // one-shot, 100 ticks
    RCT_Set(h[1], 2000, 3);  // one-shot, 20 ticks
    RCT_Set(h[2], 5000, 2);  // periodic, 50 ticks
    RCT_Start(h[0]);
    RCT_Start(h[1]);
    advance_ticks(30);
    RCT_Start(h[2]);
    EXPECT_EQ(RCT_Remaining(h[0]), 70u); // shortened by the 30 ticks gone
    EXPECT_EQ(RCT_Remaining(h[1]), 8u);  // not below 8
    advance_ticks(8);
    RctISR(0);
    EXPECT_EQ(fired[2], 0);
    advance_ticks(1);
    RctISR(0);
    EXPECT_EQ(fired[2], 1);
    EXPECT_EQ(RCT_State(h[1]), 1); // a one-shot stops
    // The first timer counts its 30 ticks once: it ends 100 ticks after its start.
    advance_ticks(61);
    RctISR(0);
    EXPECT_EQ(fired[1], 0);
    advance_ticks(1);
    RctISR(0);
    EXPECT_EQ(fired[1], 1);
    EXPECT_EQ(fired[3], 1); // the periodic one at 51 ticks after its start
    EXPECT_EQ(RCT_State(h[2]), 2);
    advance_ticks(51);
    RctISR(0);
    EXPECT_EQ(fired[3], 2);
    EXPECT_TRUE(RctRunning);
    RCT_Stop(h[2]);
    RctISR(0);
    EXPECT_FALSE(RctRunning);

    // Handles outside 1..5 and a baud index past the table change nothing.
    RCT_Set(h[3], 9, 1);
    uint32_t before = RCT_Remaining(h[3]);
    RCT_Set(h[3], 10, 1);
    RCT_Start(h[3]);
    EXPECT_EQ(RCT_Remaining(h[3]), 266u); // the preset of index 9, not a wild read
    EXPECT_EQ(before, 0u);
    RCT_Stop(0);
    RCT_Stop(6);
    RCT_Release(6);
    RCT_Start(7);
    RCT_Release(h[4]);
    EXPECT_EQ(RCT_Allocate(nullptr), h[4]);
}

// WaitRx runs passes through the wiring's hook.
int g_passes;
uint8_t *g_cancel_byte;
int g_cancel_after;

TEST_F(SerialTest, WaitRxReceivesCancelsAndStops) {
    const VcommDrv &d = Vcomm_Drv[0];
    uint8_t b = 0;
    sr_put(sr::kRunMode, 0);
    g_passes = 0;
    Vcomm_SetHooks({.wait_pass = [] { ++g_passes; }, .serial_server = nullptr});
    EXPECT_EQ(d.WaitRx(0, &b), 0); // not in Run: at once
    EXPECT_EQ(g_passes, 0);

    sr_put(sr::kRunMode, sr::kModeRun);
    Vcomm_SetHooks({.wait_pass =
                        [] {
                            if (++g_passes == g_cancel_after) *g_cancel_byte = 0xAA;
                        },
                    .serial_server = nullptr});
    g_cancel_byte = &b;
    g_cancel_after = 3;
    EXPECT_EQ(d.WaitRx(0, &b), 2);
    EXPECT_EQ(g_passes, 3);

    int p = peer("/dev/ttySP0");
    send(p, "K");
    ASSERT_TRUE(arrived(d, 0, 1));
    b = 0;
    EXPECT_EQ(d.WaitRx(0, &b), 1);
    EXPECT_EQ(b, 'K');

    // Outside Modbus RTU a wait armed by InitWait ends when its time is up.
    Vcomm_SetHooks({.wait_pass =
                        [] {
                            ++g_passes;
                            host::clock_advance_ms(1);
                        },
                    .serial_server = nullptr});
    g_passes = 0;
    d.InitWait(0, 5000, 0);
    b = 0;
    EXPECT_EQ(d.WaitRx(0, &b), 0);
    EXPECT_GE(g_passes, 5);
    EXPECT_LE(g_passes, 6);
}

TEST_F(SerialTest, NestedWaitPassSkipsTheControlScanAndTheCommandProtocol) {
    panel_reset_all(); // the wiring's hook: ExecuteSubLoop_Wait
    Vcomm_Init();
    SCI2_Init(0);
    sr_put(sr::kRunMode, sr::kModeRun);
    static uint8_t b;
    static int nested_loops;
    b = 0;
    nested_loops = 0;
    host::trace_set_hook([](const char *name) {
        static bool waiting = false;
        std::string n = name;
        if (n == "PlcScan" && !waiting) {
            waiting = true;
            EXPECT_EQ(Vcomm_Drv[0].WaitRx(0, &b), 2);
            waiting = false;
        } else if (n == "The_Loop" && waiting && ++nested_loops == 3) {
            b = 0xAA;
        }
    });
    host::trace_start();
    The_Loop();
    host::trace_stop();
    host::trace_set_hook(nullptr);
    auto calls = host::trace_calls();
    auto count = [&](const char *n) { return std::count(calls.begin(), calls.end(), n); };
    EXPECT_EQ(count("The_Loop"), 4);
    EXPECT_EQ(count("PlcScan"), 1);
    EXPECT_EQ(count("Cmd_Check"), 1);
    EXPECT_EQ(count("USBPortMon"), 4);
}

TEST_F(SerialTest, UsbPortFollowsTheSuspendFlag) {
    ASSERT_GE(FileDesForUSB, 0);
    EXPECT_EQ(0, std::memcmp(SCI4_Mode(), vibus_mode, kModeBytes));
    int p = peer("/dev/ttyGS0");
    send(p, "hi");
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (SCI4_CountRx(3) < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(SCI4_CheckRx(3), 1);
    EXPECT_EQ(SCI4_GetRx(3), 'h');
    EXPECT_EQ(SCI4_PutsTx(3, "ok"), 2);
    const uint8_t more[] = {'!', '?'};
    EXPECT_EQ(SCI4_PutnTx(3, more, 2), 2);
    EXPECT_EQ(collect(p, 4), "ok!?");

    USBPortMon(); // no flag file: nothing changes
    EXPECT_GE(FileDesForUSB, 0);
    ASSERT_TRUE(host::usb_set_suspend_flag('1'));
    USBPortMon();
    EXPECT_EQ(FileDesForUSB, -1);
    VcommPortInfo info{};
    ASSERT_TRUE(Vcomm_PortInfo(3, &info));
    EXPECT_EQ(info.fd, -1);
    pollfd fds[16];
    size_t n = PassWait_Fill(fds, 16);
    EXPECT_EQ(n, 3u); // the three rows only

    // A socket now gets the freed number: the closed port never touches it.
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
    ASSERT_EQ(write(sv[1], "zz", 2), 2);
    EXPECT_EQ(SCI4_CheckRx(3), 0);
    EXPECT_EQ(SCI4_CountRx(3), 0);
    EXPECT_EQ(SCI4_GetRx(3), 0);
    EXPECT_EQ(SCI4_PutTx(3, 'x'), 0);
    EXPECT_EQ(SCI4_PutnTx(3, more, 2), 0);
    EXPECT_EQ(SCI4_PutsTx(3, "x"), 0);
    SCI4_FlushRx(3);
    char buf[8];
    EXPECT_EQ(read(sv[0], buf, sizeof buf), 2);
    EXPECT_EQ(read(sv[1], buf, sizeof buf), -1); // nothing was written to it
    close(sv[0]);
    close(sv[1]);

    USBPortMon(); // still suspended: stays closed
    EXPECT_EQ(FileDesForUSB, -1);
    ASSERT_TRUE(host::usb_set_suspend_flag('0'));
    USBPortMon();
    ASSERT_GE(FileDesForUSB, 0);
    EXPECT_EQ(0, std::memcmp(SCI4_Mode(), vibus_mode, kModeBytes));
    int p2 = peer("/dev/ttyGS0");
    EXPECT_EQ(SCI4_PutTx(3, 'R'), 'R');
    EXPECT_EQ(collect(p2, 1), "R");
}

TEST_F(SerialTest, PortClaims) {
    EXPECT_EQ(Talk_Override(1), 1u);
    EXPECT_EQ(TalkOverride[1], 1);
    EXPECT_EQ(Talk_Override(1), 0u); // claimed twice
    EXPECT_EQ(TalkOverride[1], 1);
    EXPECT_EQ(Talk_Override(3), 0u);
    Talk_Release(3);
    Talk_Release(2); // not claimed: nothing
    EXPECT_EQ(TalkOverride[2], 0);
    Talk_Release(1);
    EXPECT_EQ(TalkOverride[1], 0);
    EXPECT_EQ(Talk_Override(1), 1u);
    EXPECT_EQ(Talk_Override(0), 1u);
    EXPECT_EQ(Talk_Override(2), 1u);
}

TEST_F(SerialTest, StartUpRowsFollowTheProgrammingPort) {
    ProgrammingPort = 1;
    sr_put(sr::kPortAction, 0);
    ASSERT_EQ(Vcomm_Drv[1].Open(1, vibus_mode), 1);
    EXPECT_EQ(sr_get(sr::kPortAction), 1);
    ASSERT_EQ(Vcomm_Drv[0].Open(0, rism_mode), 1);
    EXPECT_EQ(sr_get(sr::kPortAction), 1); // not the programming port
}

} // namespace
