// The programming serial port handed to the IEC runtime's serial link and
// back, with socat writing into the port's pty as the programming tool: the
// tool's debug switch, "Tr" frames that keep the link, the panel's own
// protocol ("HR") or 65 s of silence that give the port back.
#include "host/clock.h"
#include "host/tty.h"
#include "iec/comm/trcs.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trglue.h"
#include "panel_fixture.h"
#include "platform/tick.h"
#include "platform/unit.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"
#include "serial/vcomm.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

using Bytes = std::string;
constexpr uint8_t kSeed = 5, kOwnId = 1;

// A command packet of the panel's protocol for this node.
Bytes command(uint8_t op) {
    Bytes p = {char(op), 1, char(kOwnId)};
    uint8_t sum = kSeed;
    for (char c : p)
        sum = uint8_t(sum + uint8_t(c));
    p.push_back(char(uint8_t(-sum)));
    return p;
}

class IecLink : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        crc_header[3] = kSeed;
        sr_put(sr::kNetId, kOwnId);
        Vcomm_Init();
        SCI2_Init(0);
        Cmd_Init();
        ASSERT_EQ(Vcomm_Drv[0].mode[5] & 0xF, 1);
        VcommPortInfo info;
        ASSERT_TRUE(Vcomm_PortInfo(0, &info));
        port_fd = info.fd;
        link = host::tty_peer_link("/dev/ttySP0");
        reader = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        termios t{};
        tcgetattr(reader, &t);
        cfmakeraw(&t);
        tcsetattr(reader, TCSANOW, &t);
    }
    void TearDown() override {
        close(reader);
        PanelTest::TearDown();
    }
    // The tool's bytes, written into the port's pty by socat; they are
    // waiting at the port when this returns.
    void tool_sends(const Bytes &b) {
        std::string file = root_dir + "/tool.bin";
        std::ofstream(file, std::ios::binary) << b;
        int before = Vcomm_Drv[0].CountRx(0);
        std::string cmd = "socat -u OPEN:" + file + " " + link;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (Vcomm_Drv[0].CountRx(0) < before + int(b.size()) &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // What the panel wrote to the tool within a short real time.
    Bytes tool_reads(size_t want) {
        Bytes out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(want ? 3000 : 50);
        while ((!want || out.size() < want) && std::chrono::steady_clock::now() < end) {
            char buf[256];
            ssize_t n = read(reader, buf, sizeof buf);
            if (n > 0)
                out.append(buf, size_t(n));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return out;
    }
    // The main loop's programming-protocol and IEC communication slots.
    void passes(int n = 3) {
        for (int i = 0; i < n; ++i) {
            Cmd_Check();
            Trevant_Comm_service();
        }
    }
    void switch_to_the_runtime() {
        TrevantRuntime = 1;
        tool_sends(command(38));
        passes();
        ASSERT_EQ(tool_reads(1), "\xA0");
        ASSERT_EQ(Vcomm_Drv[0].mode[5] & 0xF, 6);
        ASSERT_EQ(is_trprotocol, 1);
        ASSERT_EQ(IsCommMode_Vibus, 0);
        ASSERT_EQ(csData.slots[0].serial, port_fd) << "the runtime adopts the port";
    }
    bool given_back() {
        return (Vcomm_Drv[0].mode[5] & 0xF) == 1 && is_trprotocol == 0 && IsCommMode_Vibus == 1 &&
               csData.slots[0].serial == -1;
    }
    // The panel answers its own protocol on the port again.
    void panel_answers() {
        tool_sends(command(1));
        passes();
        EXPECT_EQ(tool_reads(4).size(), 4u) << "the mode packet";
    }
    std::string link;
    int reader = -1, port_fd = -1;
};

TEST_F(IecLink, WithoutARuntimeTheSwitchIsRefusedAndThePortStays) {
    tool_sends(command(38));
    passes();
    EXPECT_EQ(tool_reads(1), "\x09");
    EXPECT_EQ(Vcomm_Drv[0].mode[5] & 0xF, 1);
    EXPECT_EQ(is_trprotocol, 0);
    panel_answers();
}

TEST_F(IecLink, TheRuntimeReadsThePortUntilItsIdleTimeGivesItBack) {
    switch_to_the_runtime();
    // The panel's protocol no longer reads the port: a command waits for the
    // runtime, whose link takes it.
    tool_sends(command(1));
    passes();
    EXPECT_EQ(tool_reads(0), "");
    EXPECT_EQ(Vcomm_Drv[0].CountRx(0), 0);
    // A "Tr" frame just before the idle time starts it again.
    host::clock_advance_ns(uint64_t(kTrLinkIdleTicks - 1) * 100000);
    tool_sends(Bytes("Tr\0\1x\0\0", 7));
    passes(1);
    host::clock_advance_ns(2 * 100000);
    passes(1);
    EXPECT_EQ(IsCommMode_Vibus, 0) << "the frame kept the link";
    EXPECT_EQ(is_trprotocol, 1);
    host::clock_advance_ns(uint64_t(kTrLinkIdleTicks - 2) * 100000);
    passes(1);
    EXPECT_EQ(IsCommMode_Vibus, 0) << "65 s after the frame";
    host::clock_advance_ns(1 * 100000);
    passes(1);
    EXPECT_TRUE(given_back()) << "more than 65 s after the frame";
    EXPECT_EQ(trruntime_modbusinit, 0);
    panel_answers();
}

TEST_F(IecLink, ThePanelsOwnProtocolTakesThePortBackAtOnce) {
    switch_to_the_runtime();
    tool_sends("HR");
    passes(1);
    EXPECT_TRUE(given_back());
    EXPECT_EQ(trruntime_modbusinit, 1) << "the runtime's Modbus on the port starts again";
    panel_answers();
    // A second switch adopts the port again.
    switch_to_the_runtime();
}

} // namespace
