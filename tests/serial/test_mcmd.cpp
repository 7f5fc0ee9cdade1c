// The local command client against the panel's own dispatcher: a download
// and an upload through intercept mode, the handover refusals, time-outs on
// the virtual clock and a corrupted answer.
#include "base/crc16.h"
#include "panel_fixture.h"
#include "platform/tick.h"
#include "platform/unit.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"
#include "serial/mcmd.h"
#include "serial/serial.h"
#include "serial/talk_instr.h"
#include "serial/vcomm.h"

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kOwnId = 1;

class McmdTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        crc_header[3] = 5;
        sr_put(sr::kNetId, kOwnId);
        Vcomm_Init();
        SCI2_Init(0);
        Cmd_Init();
        Dpram_Init();
    }
    void TearDown() override {
        MCMD_Close();
        PanelTest::TearDown();
    }
};

TEST_F(McmdTest, DownloadAndUploadThroughInterceptMode) {
    ASSERT_EQ(MCMD_Init(kOwnId), 0);
    Bytes prog;
    for (int i = 0; i < 300; ++i)
        prog.push_back(uint8_t(i * 5 + 3));
    Bytes args = {kOwnId, 0};
    ASSERT_EQ(MCMD_SendCmd(4, uint32_t(args.size()), args.data()), kAck);
    for (size_t at = 0; at < prog.size(); at += 64) {
        uint32_t n = uint32_t(std::min<size_t>(64, prog.size() - at));
        ASSERT_EQ(MCMD_SendData(n, prog.data() + at), kAck) << at;
    }
    ASSERT_EQ(MCMD_SendData(0, nullptr), kAck);
    EXPECT_EQ(sr_get(sr::kLadderCrc), crc16(prog.data(), uint32_t(prog.size())));
    EXPECT_EQ(sr_get32(sr::kLadderLength), prog.size());

    // A save reads it back packet by packet.
    ASSERT_EQ(MCMD_SendCmd(5, uint32_t(args.size()), args.data()), kAck);
    Bytes back;
    for (int guard = 0; guard < 100; ++guard) {
        uint8_t buf[256];
        uint32_t n = 0;
        ASSERT_EQ(MCMD_GetData(&n, buf, sizeof buf), 0xFF);
        MCMD_SendCntl(kAck);
        if (n == 0) break;
        back.insert(back.end(), buf, buf + n);
    }
    EXPECT_EQ(back, prog);
    // An answer packet of a register read.
    Bytes version = {kOwnId};
    EXPECT_EQ(MCMD_SendCmd(8, 1, version.data()), 0xFF);
    MCMD_Close();
    EXPECT_EQ(CmdRun, 0xFF);
}

TEST_F(McmdTest, PortThatCannotBeHad) {
    Talk[0].opened = 1;
    EXPECT_EQ(MCMD_Init(kOwnId), kMcmdPortBusy);
    Talk[0].opened = 0;
    // The port was left alone: a byte put on it still goes to the line.
    Vcomm_Drv[0].PutTx(0, 0x55);
    uint8_t b;
    EXPECT_EQ(Vcomm_Drv[0].DrainTx(&b), 0);
}

TEST_F(McmdTest, TimeOutsAndACorruptedAnswer) {
    ASSERT_EQ(MCMD_Init(kOwnId), 0);
    // The dispatcher leaves the port alone: nothing ever answers.
    Cmd_Override = 1;
    Bytes args = {kOwnId, 0};
    const struct {
        const char *what;
        uint8_t opcode; // 0xFF: a data packet
        uint32_t length;
        uint32_t seconds;
    } cases[] = {
        {"command", 2, 2, 5}, {"answer packet", 8, 1, 5},    {"download", 4, 2, 15},
        {"data", 0xFF, 2, 5}, {"closing data", 0xFF, 0, 30},
    };
    for (const auto &c : cases) {
        uint32_t start = FPGA_GetFrt();
        int r = c.opcode == 0xFF ? MCMD_SendData(c.length, args.data())
                                 : MCMD_SendCmd(c.opcode, c.length, args.data());
        EXPECT_EQ(r, kMcmdTimeOut) << c.what;
        uint32_t took = FPGA_GetFrt() - start;
        EXPECT_GE(took, c.seconds * 10000) << c.what;
        EXPECT_LT(took, c.seconds * 10000 + 100) << c.what;
    }
    // An answer packet whose checksum is wrong.
    uint8_t sum = uint8_t(5 + 0xFF + 1 + 0x42);
    for (uint8_t b : {uint8_t(0xFF), uint8_t(1), uint8_t(0x42), uint8_t(-sum + 1)})
        Vcomm_Drv[0].PutTx(0, b);
    EXPECT_EQ(MCMD_SendCmd(8, 1, args.data()), kMcmdBadSum);
    for (uint8_t b : {uint8_t(0xFF), uint8_t(1), uint8_t(0x42), uint8_t(-sum)})
        Vcomm_Drv[0].PutTx(0, b);
    uint8_t buf[4];
    uint32_t n = 0;
    EXPECT_EQ(MCMD_GetData(&n, buf, 0), 0xFF); // nothing kept past the buffer's size
    EXPECT_EQ(n, 0u);
}

} // namespace
