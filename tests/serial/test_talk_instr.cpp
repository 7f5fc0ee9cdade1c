// The communication instructions in ladder programs: who may open and close
// a port, counted receive and send over scans, the settings and buffers they
// refuse, the Modbus instruction driving the engine, and leaving Run.
#include "host/clock.h"
#include "host/tty.h"
#include "ladder_fixture.h"
#include "plc/sysreg.h"
#include "serial/modbus.h"
#include "serial/serial.h"
#include "serial/talk_instr.h"
#include "system/run_ctrl.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

class TalkTest : public LadderTest {
protected:
    void SetUp() override {
        LadderTest::SetUp();
        Vcomm_Init();
        SCI2_Init(0);
        SCI0_Init(1);
        SCI3_Init(2);
    }
    void TearDown() override {
        if (peer_fd >= 0) close(peer_fd);
        LadderTest::TearDown();
    }
    int peer(const char *device = "/dev/ttySP3") {
        if (peer_fd >= 0) return peer_fd;
        peer_fd = open(host::tty_peer_link(device).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(peer_fd, &t);
        cfmakeraw(&t);
        tcsetattr(peer_fd, TCSANOW, &t);
        return peer_fd;
    }
    // Waits (real time) until the port holds n bytes.
    static bool arrived(int port, int n) {
        for (int i = 0; i < 3000; ++i) {
            if (Vcomm_Drv[port].CountRx(port) >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    static uint8_t protocol(int port) { return Vcomm_Drv[port].mode[5] & 0xF; }
    int peer_fd = -1;
};

// Port 1 at 19200 8N1 with protocol 2 (raw bytes) or 3 (Modbus RTU).
const char *kRaw = "1, 0x0006, 0x0003, 0x0200";
const char *kRtu = "1, 0x0006, 0x0003, 0x0300";

TEST_F(TalkTest, OpenAndCloseRules) {
    load(std::string(".tokens 16\n") + "LD %M1\nTOPEN " + kRtu + "\nOUT %M101\n" +
         "LD %M2\nTOPEN 1, 0x0005, 0x0003, 0x0300\nOUT %M102\n" +
         "LD %M3\nTOPEN 3, 0x0006, 0x0003, 0x0300\nOUT %M103\n" + "LD %M4\nTCLOSE 1\nOUT %M104\n" +
         "LD %M5\nTOPEN 0, 0x0006, 0x0003, 0x0300\nOUT %M105\n" + "END\n");
    set_bit("%M1", 1);
    set_bit("%M3", 1);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%M101"), 1);
    EXPECT_EQ(protocol(1), 3);
    EXPECT_EQ(TalkOpened(1), 1);
    EXPECT_EQ(bit("%M103"), 0); // port 3 is no logic port
    // A second open on the owned port is refused until the owner lets go.
    set_bit("%M2", 1);
    scan();
    EXPECT_EQ(bit("%M102"), 0);
    EXPECT_EQ(Vcomm_Drv[1].mode[0], 6);
    set_bit("%M1", 0);
    scan(); // the owner's enable falls
    EXPECT_EQ(bit("%M101"), 0);
    scan(); // the second sees its enable rise now
    EXPECT_EQ(bit("%M102"), 1);
    EXPECT_EQ(Vcomm_Drv[1].mode[0], 5);
    // Close puts the programming protocol back.
    set_bit("%M2", 0);
    set_bit("%M4", 1);
    scan();
    EXPECT_EQ(bit("%M104"), 1);
    EXPECT_EQ(protocol(1), 1);
    EXPECT_EQ(TalkOpened(1), 0);
    // The tool's comm lock on the programming port keeps the logic off it.
    ProgrammingPort = 0;
    Vcomm_Lock = 2;
    Vcomm_Host = 0;
    set_bit("%M5", 1);
    scan();
    EXPECT_EQ(bit("%M105"), 0);
    Vcomm_Lock = 0;
    scan();
    EXPECT_EQ(bit("%M105"), 1);
    // A claim by another owner makes the instructions idle.
    ASSERT_EQ(Talk_Override(0), 1u);
    scan();
    EXPECT_EQ(bit("%M105"), 0);
    Talk_Release(0);
    // The first scan forgets the last enables: an enable that stayed on opens
    // again.
    set_bit("%M4", 0);
    set_bit("%M5", 0);
    set_bit("%M1", 1);
    scan();
    ASSERT_EQ(protocol(1), 3);
    Vcomm_Drv[1].Open(1, vibus_mode);
    sbit_put(sbit::kFirstScan, 1);
    scan();
    EXPECT_EQ(protocol(1), 3);
    EXPECT_EQ(bit("%M101"), 1);
}

TEST_F(TalkTest, SettingsOutsideWhatThePortTakesAreRefused) {
    // From registers: port, baud, parity, data bits, stop bits, handshake,
    // protocol, line mode at %R50 (K32 33552 is the reference of %R50).
    load(".tokens 16\nLD %M1\nTOPEN 0x4000, K32 33552\nOUT %M101\nEND\n");
    struct Case {
        uint16_t v[8];
        bool opens;
    };
    const Case cases[] = {
        {{1, 6, 0, 3, 0, 0, 2, 0}, true},   {{1, 10, 0, 3, 0, 0, 2, 0}, false},
        {{1, 12, 0, 3, 0, 0, 2, 0}, false}, {{1, 6, 3, 3, 0, 0, 2, 0}, false},
        {{1, 6, 0, 1, 0, 0, 2, 0}, false},  {{1, 6, 0, 3, 2, 0, 2, 0}, false},
        {{1, 6, 0, 3, 0, 6, 2, 0}, false},  {{1, 6, 0, 3, 0, 0, 5, 0}, false},
        {{3, 6, 0, 3, 0, 0, 2, 0}, false},
    };
    for (const Case &c : cases) {
        for (int i = 0; i < 8; ++i)
            set_word("%R" + std::to_string(50 + i), c.v[i]);
        Vcomm_Drv[1].Open(1, vibus_mode);
        uint8_t before[kModeBytes];
        std::memcpy(before, Vcomm_Drv[1].mode, kModeBytes);
        set_bit("%M1", 0);
        scan();
        set_bit("%M1", 1);
        scan();
        EXPECT_EQ(bit("%M101"), c.opens) << c.v[1] << " " << c.v[2] << " " << c.v[3];
        if (!c.opens) {
            EXPECT_EQ(0, std::memcmp(before, Vcomm_Drv[1].mode, kModeBytes));
        }
    }
    // Constant operands alike: baud index 10.
    load(".tokens 16\nLD %M1\nTOPEN 1, 0x000A, 0x0003, 0x0200\nOUT %M101\nEND\n");
    Vcomm_Drv[1].Open(1, vibus_mode);
    set_bit("%M1", 1);
    scan();
    EXPECT_EQ(bit("%M101"), 0);
    EXPECT_EQ(protocol(1), 1);
    // The IEC block's argument block alike: port word, then the mode record.
    const uint8_t bad[8] = {1, 0, 12, 0, 3, 0, 0, 2};
    const uint8_t good[8] = {1, 0, 6, 0, 3, 0, 0, 2};
    EXPECT_EQ(TrTalkOpen(bad, 1), 0);
    EXPECT_EQ(protocol(1), 1);
    EXPECT_EQ(TrTalkOpen(good, 1), 1);
    EXPECT_EQ(protocol(1), 2);
    const uint8_t port1[2] = {1, 0};
    EXPECT_EQ(TrTalkClose(port1, 1), 1);
    EXPECT_EQ(protocol(1), 1);
}

TEST_F(TalkTest, ReceiveAndSendCountOverScans) {
    load(std::string(".tokens 16\nLD %M1\nTOPEN ") + kRaw + "\nOUT %M101\n" +
         "LD %M2\nTRECV 1, 10, %R1, %R20, 0\nOUT %M102\n" +
         "LD %M3\nTSEND 1, %R30, %R40, %R21, 0\nOUT %M103\nEND\n");
    set_bit("%M1", 1);
    scan();
    EXPECT_EQ(word("%R20"), 0xFFFF); // the first scan idles the counts
    set_bit("%M2", 1);
    int p = peer();
    struct Burst {
        const char *bytes;
        int out;
        uint16_t count;
    };
    for (Burst b : {Burst{"abc", 0, 3}, Burst{"defg", 0, 7}, Burst{"hij", 1, 10}}) {
        ASSERT_EQ(write(p, b.bytes, strlen(b.bytes)), ssize_t(strlen(b.bytes)));
        ASSERT_TRUE(arrived(1, int(strlen(b.bytes))));
        scan();
        EXPECT_EQ(bit("%M102"), b.out) << b.bytes;
        EXPECT_EQ(word("%R20"), b.count) << b.bytes;
    }
    EXPECT_EQ(0, std::memcmp(plc_reg + reg::kR, "abcdefghij", 10));
    // Disabled: the count goes back to idle.
    set_bit("%M2", 0);
    scan();
    EXPECT_EQ(word("%R20"), 0xFFFF);
    // Send: the length from a register.
    set_word("%R30", 4);
    std::memcpy(plc_reg + reg::kR + 2 * 39, "wxyz", 4);
    set_bit("%M3", 1);
    scan();
    EXPECT_EQ(bit("%M103"), 1);
    EXPECT_EQ(word("%R21"), 4);
    char got[8] = {};
    for (int i = 0; i < 1000 && strlen(got) < 4; ++i) {
        ssize_t n = read(p, got + strlen(got), 4 - strlen(got));
        if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_STREQ(got, "wxyz");
}

TEST_F(TalkTest, BuffersMustLieInsideTheRegisters) {
    // 32-bit tokens reach the last registers; value operands take two words.
    load(std::string(".tokens 32\nLD %M1\nTOPEN ") + kRaw + "\nOUT %M101\n" +
         "LD %M2\nTRECV 1, K32 200, %R50239, %R20, 0\nOUT %M102\n" +
         "LD %M3\nTRECV 1, K32 20, %R10, %R21, 1\nOUT %M103\nEND\n");
    set_bit("%M1", 1);
    scan();
    struct Case {
        const char *enable;
        const char *count;
        uint32_t offset; // byte offset held in %R10/%R11 for the offset form
        bool accepted;
    };
    const Case cases[] = {
        {"%M2", "%R20", 0, false},                  // %R50239 + 200 bytes passes %R50240
        {"%M3", "%R21", reg::kCtlData - 20, true},  // ends at the controller data
        {"%M3", "%R21", reg::kCtlData - 19, false}, // would reach into it
        {"%M3", "%R21", reg::kMarker, false},       // the battery marker
        {"%M3", "%R21", 0xFFFFFFF0u, false},        // wraps in 32 bits
    };
    for (const Case &c : cases) {
        set_word("%R10", uint16_t(c.offset));
        set_word("%R11", uint16_t(c.offset >> 16));
        set_bit(c.enable, 1);
        scan();
        EXPECT_EQ(word(c.count), c.accepted ? 0 : 0xFFFF) << c.offset;
        set_bit(c.enable, 0);
        scan();
    }
}

TEST_F(TalkTest, ModbusInstructionRunsTheSlaveAndRefusesBadOperands) {
    // Slave 1 on port 1; trigger %R901.0, request (unsolicited buffer) %R910,
    // status %R900.
    load(std::string(".tokens 32\nLD %M1\nTOPEN ") + kRtu + "\nOUT %M101\n" +
         "LD %M2\nTMODBUS 1, K32 1, K32 0, %R901.0, %R910, %R900\nOUT %M102\n" +
         "LD %M3\nTMODBUS 1, K32 0, K32 10, %R901.0, %R50236, %R900\nOUT %M103\n" +
         "LD %M4\nTMODBUS 1, K32 1, K32 0, %R901.0, %R910, %R900, 1023, 3, 70, %R50200, %M1\n"
         "OUT %M104\nEND\n");
    set_bit("%M1", 1);
    set_bit("%M2", 1);
    scan();
    EXPECT_EQ(bit("%M102"), 1);
    EXPECT_EQ(Talk[1].running[1], 1);
    EXPECT_EQ(Talk[1].started, 1);
    // A request that reaches the slave through the instruction.
    set_word("%R1", 0x4242);
    int p = peer();
    const uint8_t req[] = {1, 3, 0x02, 0x00, 0, 1, 0x85, 0xB2};
    ASSERT_EQ(write(p, req, sizeof req), ssize_t(sizeof req));
    ASSERT_TRUE(arrived(1, 8));
    uint8_t got[16];
    ssize_t n = 0;
    for (int i = 0; i < 200 && n <= 0; ++i) {
        scan();
        host::clock_advance_ms(1);
        n = read(p, got, sizeof got);
        if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(n, 7);
    EXPECT_EQ(got[3], 0x42);
    EXPECT_EQ(got[4], 0x42);
    // A master's 12-byte request block past the last register, and a
    // translation table of 70 pairs past it: output 0, the engine untouched.
    set_bit("%M2", 0);
    scan();
    EXPECT_EQ(Talk[1].started, 0);
    set_bit("%M3", 1);
    scan();
    EXPECT_EQ(bit("%M103"), 0);
    set_bit("%M3", 0);
    set_bit("%M4", 1);
    scan();
    EXPECT_EQ(bit("%M104"), 0);
    EXPECT_EQ(Talk[1].started, 0);
    // On a port without a Modbus protocol the instruction is idle.
    set_bit("%M4", 0);
    Vcomm_Drv[1].Open(1, vibus_mode);
    set_bit("%M2", 1);
    scan();
    EXPECT_EQ(bit("%M102"), 0);
    EXPECT_EQ(Talk[1].running[1], 0);
}

TEST_F(TalkTest, LeavingRunPutsLogicPortsBackOnTheProgrammingProtocol) {
    load(std::string(".tokens 16\nLD %M1\nTOPEN ") + kRtu + "\nOUT %M101\nEND\n");
    set_bit("%M1", 1);
    SetPlcMode(sr::kModeRun);
    scan();
    ASSERT_EQ(protocol(1), 3);
    ASSERT_EQ(TalkOpened(1), 1);
    SetPlcMode(0);
    EXPECT_EQ(protocol(1), 1);
    EXPECT_EQ(0, std::memcmp(Vcomm_Drv[1].mode, vibus_mode, kModeBytes));
    EXPECT_EQ(TalkOpened(1), 0);
}

} // namespace
