// Register datagrams (their table, ageing and commands) and the register
// mailbox of the shared block with the programming-port handover.
#include "base/le.h"
#include "host/clock.h"
#include "panel_fixture.h"
#include "platform/unit.h"
#include "regs/plc_reg.h"
#include "regs/regname.h"
#include "regs/sr.h"
#include "serial/command.h"
#include "serial/datagram.h"
#include "serial/serial.h"
#include "serial/talk_instr.h"
#include "serial/vcomm.h"
#include "tools/lib/cmdframe.h"

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Words = std::vector<uint16_t>;
constexpr uint8_t kSeed = 5, kOwnId = 1;

uint32_t ref(const char *name) {
    uint32_t r = 0, bits = 0;
    std::string err;
    EXPECT_TRUE(RegName_Parse(name, &r, &bits, &err)) << name << ": " << err;
    return r;
}
uint16_t word_of(const char *name) {
    return uint16_t(ref(name) / 16);
}
uint16_t get16(const char *name) {
    uint8_t b[2] = {};
    PlcReg_Get(b, ref(name), 16);
    return uint16_t(b[0] | b[1] << 8);
}
void set16(const char *name, uint16_t v) {
    uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    PlcReg_Set(ref(name), b, 16);
}

using DatagramTest = PanelTest;

TEST_F(DatagramTest, CreateRefusalsAndZeroWords) {
    const struct {
        const char *what;
        Words words;
        uint8_t result;
        uint8_t count;
        uint32_t first, last;
    } cases[] = {
        {"31 words", Words(31, 1), 255, 0, 0, 0},
        {"30 words", Words(30, 7), 0, 30, 7, 7},
        {"a zero word last", {5, 0}, 255, 0, 0, 0},
        {"a zero word alone", {0}, 255, 0, 0, 0},
        {"high half for what follows", {5, 0, 1, 6, 7}, 0, 3, 5, 0x10007},
        {"only the first zero pairs", {0, 1, 0, 2}, 0, 2, 0x10000, 0x10002},
        {"a reference past 32 bits", {0, 0x1000, 1}, 255, 0, 0, 0},
        {"no words", {}, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        Datagram_Delete(255, 0);
        uint8_t r = Datagram_Create(3, 0x1234, c.words.data(), uint32_t(c.words.size()));
        EXPECT_EQ(r, c.result) << c.what;
        if (r == 255) continue;
        const DgDef &d = DgDefTable[r];
        EXPECT_EQ(d.count, c.count) << c.what;
        if (!c.count) continue;
        EXPECT_EQ(d.address[0], c.first) << c.what;
        EXPECT_EQ(d.address[c.count - 1], c.last) << c.what;
    }
    // The table holds 64.
    Datagram_Delete(255, 0);
    Words one = {1};
    for (int i = 0; i < kDgEntries; ++i)
        ASSERT_EQ(Datagram_Create(0, uint16_t(i), one.data(), 1), i);
    EXPECT_EQ(Datagram_Create(0, 0, one.data(), 1), 255);
    // Number 255 frees all, whatever the key.
    EXPECT_EQ(Datagram_Delete(255, 0xBEEF), 0);
    for (const DgDef &d : DgDefTable)
        EXPECT_EQ(d.in_use, 0);
}

TEST_F(DatagramTest, ReadWriteKeysAndAgeing) {
    Words words = {word_of("%R1"), word_of("%R5")};
    uint8_t n = Datagram_Create(5, 0xAA55, words.data(), 2);
    ASSERT_EQ(n, 0);
    uint16_t values[2] = {111, 222};
    uint16_t out[kDgWords] = {};
    const struct {
        const char *what;
        uint8_t number;
        uint16_t key;
        uint32_t n;
    } refused[] = {
        {"key", 0, 0xAA54, 2},
        {"count", 0, 0xAA55, 1},
        {"free entry", 1, 0xAA55, 2},
        {"past the table", 64, 0xAA55, 2},
    };
    for (const auto &c : refused) {
        EXPECT_EQ(Datagram_Write(c.number, c.key, values, c.n), 255) << c.what;
        if (c.n == 2) {
            EXPECT_EQ(Datagram_Read(c.number, c.key, out), 255) << c.what;
        }
        if (c.n == 2) {
            EXPECT_EQ(Datagram_Delete(c.number, c.key), 255) << c.what;
        }
    }
    EXPECT_EQ(Datagram_Delete(200, 0xAA55), 255);
    ASSERT_EQ(Datagram_Write(0, 0xAA55, values, 2), 0);
    EXPECT_EQ(get16("%R1"), 111);
    EXPECT_EQ(get16("%R5"), 222);
    set16("%R5", 333);
    ASSERT_EQ(Datagram_Read(0, 0xAA55, out), 2);
    EXPECT_EQ(out[1], 333);

    // Time-out 5 goes on the fifth step of 100 ms; time-out 0 never; a use
    // starts the age again.
    Words one = {word_of("%R2")};
    ASSERT_EQ(Datagram_Create(0, 1, one.data(), 1), 1);
    Datagram_Check(); // notes the time
    auto step = [] {
        host::clock_advance_ms(101);
        Datagram_Check();
    };
    step();
    step();
    ASSERT_EQ(Datagram_Read(0, 0xAA55, out), 2); // age 0 again
    for (int i = 1; i <= 4; ++i) {
        step();
        ASSERT_EQ(DgDefTable[0].in_use, 1) << "step " << i;
    }
    host::clock_advance_ms(50);
    Datagram_Check(); // less than 100 ms: no step
    EXPECT_EQ(DgDefTable[0].in_use, 1);
    step();
    EXPECT_EQ(DgDefTable[0].in_use, 0);
    for (int i = 0; i < 300; ++i)
        step();
    EXPECT_EQ(DgDefTable[1].in_use, 1);
}

// The commands through the programming port.
class DatagramCommandTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        crc_header[3] = kSeed;
        sr_put(sr::kNetId, kOwnId);
        Vcomm_Init();
        SCI2_Init(0);
        Vcomm_Drv[0].SetIntrcpt(1);
        Cmd_Init();
    }
    Bytes exchange(uint8_t op, Bytes args) {
        for (uint8_t c : cmdframe::command(kSeed, kOwnId, op, std::move(args)))
            Vcomm_Drv[0].StuffRx(c);
        for (int i = 0; i < 3; ++i)
            Cmd_Check();
        Bytes out;
        uint8_t b;
        while (Vcomm_Drv[0].DrainTx(&b))
            out.push_back(b);
        return out;
    }
    static Bytes data(const Bytes &d) { return cmdframe::frame(kSeed, 0xFF, d); }
};

TEST_F(DatagramCommandTest, CreateWriteReadDelete) {
    uint16_t r3 = word_of("%R3"), r4 = word_of("%R4");
    // Time-out 0, key 0x0102, two words.
    Bytes create = {0, 0x02, 0x01, uint8_t(r3), uint8_t(r3 >> 8), uint8_t(r4), uint8_t(r4 >> 8)};
    EXPECT_EQ(exchange(32, create), data({0}));
    EXPECT_EQ(exchange(33, {0, 0x02, 0x01, 0x34, 0x12, 0x78, 0x56}), Bytes{kAck});
    EXPECT_EQ(get16("%R3"), 0x1234);
    EXPECT_EQ(get16("%R4"), 0x5678);
    EXPECT_EQ(exchange(34, {0, 0x02, 0x01}), data({0x34, 0x12, 0x78, 0x56}));
    EXPECT_EQ(exchange(33, {0, 0x02, 0x01, 0x34, 0x12}), Bytes{kRefused}); // one value short
    EXPECT_EQ(exchange(34, {0, 0x03, 0x01}), Bytes{kRefused});             // key
    EXPECT_EQ(exchange(31, {0, 0x02, 0x01}), Bytes{kAck});
    EXPECT_EQ(exchange(31, {0, 0x02, 0x01}), Bytes{kRefused});
    Bytes many = {0, 0, 0};
    for (int i = 0; i < 31; ++i)
        many.insert(many.end(), {uint8_t(r3), uint8_t(r3 >> 8)});
    EXPECT_EQ(exchange(32, many), data({255}));
}

// ---- the register mailbox and the handover

class MailboxTest : public PanelTest {
protected:
    void post(const char *name, uint32_t bits) {
        put_le32(dpram + 4, ref(name));
        put_le32(dpram + 8, bits);
    }
};

TEST_F(MailboxTest, FreshCopyAccumulationAndSizes) {
    Dpram_Init();
    EXPECT_NE(dpram[0], dpram[1]);
    dpram[0] = dpram[1] = 0; // the client has collected
    post("%R10", 32);
    set16("%R10", 0x0F01);
    set16("%R11", 0x8000);
    Dpram_Service();
    EXPECT_EQ(le16(dpram + 12), 0x0F01);
    EXPECT_EQ(le16(dpram + 14), 0x8000);
    EXPECT_EQ(dpram[0], 1);
    // While the toggles differ, bits that were on stay on.
    set16("%R10", 0x00F0);
    set16("%R11", 0);
    Dpram_Service();
    EXPECT_EQ(le16(dpram + 12), 0x0FF1);
    EXPECT_EQ(le16(dpram + 14), 0x8000);
    // Collected: a fresh copy again.
    dpram[1] = dpram[0];
    Dpram_Service();
    EXPECT_EQ(le16(dpram + 12), 0x00F0);
    EXPECT_EQ(le16(dpram + 14), 0);
    EXPECT_NE(dpram[0], dpram[1]);

    // 2048 bits are served, 2049 bits (and sizes whose byte count would wrap) not.
    for (uint32_t bits : {2049u, 0xFFFFFFF9u, 2048u}) {
        dpram[1] = dpram[0];
        std::memset(dpram + 12, 0xEE, 256);
        set16("%R10", 0x1111);
        post("%R10", bits);
        Dpram_Service();
        EXPECT_EQ(le16(dpram + 12), bits == 2048 ? 0x1111 : 0xEEEE) << bits;
    }
    // One bit sets bit 0 of the first byte.
    dpram[1] = dpram[0];
    dpram[12] = 0;
    set16("%M1", 1);
    post("%M1", 1);
    uint8_t on = 1;
    PlcReg_Set(ref("%M1"), &on, 1);
    Dpram_Service();
    EXPECT_EQ(dpram[12], 1);
}

TEST_F(MailboxTest, ProgrammingPortHandover) {
    Dpram_Init();
    auto request = [] {
        dpram[8460] = uint8_t(dpram[8461] ^ 1);
        dpram[8463] = 0xEE;
        Dpram_Service();
        EXPECT_EQ(dpram[8460], dpram[8461]);
        return dpram[8463];
    };
    const struct {
        const char *what;
        uint32_t port;
        bool logic_open, claimed;
        uint8_t result;
    } cases[] = {
        {"free serial port", 0, false, false, 0},
        {"opened by the logic", 0, true, false, 2},
        {"claimed by another owner", 0, false, true, 2},
        {"the USB port", 3, false, false, 0},
    };
    for (const auto &c : cases) {
        ProgrammingPort = c.port;
        if (c.port < kVcommPorts) Talk[c.port].opened = c.logic_open;
        if (c.claimed) {
            ASSERT_EQ(Talk_Override(c.port), 1u);
        }
        EXPECT_EQ(request(), c.result) << c.what;
        if (c.claimed) Talk_Release(c.port);
        if (c.port < kVcommPorts) Talk[c.port].opened = 0;
        // The service gives the port back: the logic can have it again.
        if (c.port < kVcommPorts) {
            EXPECT_EQ(TalkOverride[c.port], 0) << c.what;
        }
    }
    ProgrammingPort = 0;
}

} // namespace
