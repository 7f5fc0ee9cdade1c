// The network configuration parser, the register-range check and the
// programming channel's mailboxes.
#include "base/le.h"
#include "net/net.h"
#include "panel_fixture.h"
#include "platform/io.h"
#include "plc/appblocks.h"
#include "plc/ladder.h"
#include "regs/plc_reg.h"
#include "system/sys.h"
#include "system/wiring.h"
#include "tools/lib/appbuild_net.h"

#include <cstring>
#include <string>

namespace {

using namespace dprcfg;

class DprTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        System_Wire();
        Dpr_Init();
    }
    // Places the block as the Ethernet module's entry of the I/O configuration.
    void install(const std::vector<uint8_t> &block) {
        std::memset(io_config_bl, 0, 64);
        put_le32(io_config_bl + 4, uint32_t(block.size() + 4 + 8));
        put_le16(io_config_bl + 8, 0x1234);
        put_le16(io_config_bl + 10, uint16_t(block.size()));
        std::memcpy(io_config_bl + 12, block.data(), block.size());
        put_le16(io_config_bl + 12 + ((block.size() + 3) & ~size_t(3)), 0xFFFF);
        EtnConfp = io_config_bl + 12;
    }
    std::string text_at(int iface, uint32_t off) {
        return reinterpret_cast<const char *>(Dpr_Configuration[iface] + off);
    }
};

TEST_F(DprTest, OptionBitsBecomeFlagBytes) {
    struct Case {
        uint32_t options;
        uint8_t a, b, c, dhcp;
    };
    // clang-format off
    const Case cases[] = {
        {0x00000000, 0xFF, 0x81, 0x00, 0},
        {0x000003FF, 0x00, 0x0B, 0x08, 1},
        {0x00000208, 0x7D, 0x01, 0x08, 1},
        {0x00001000, 0xFF, 0x01, 0x00, 0}, // Modbus server, port from its own record only
        {0xE0018400, 0xFF, 0xB4, 0x06, 0},
    };
    // clang-format on
    for (const Case &k : cases) {
        appnet::Config c;
        c.address = 0xC0A8010A;
        c.mask = 0xFFFFFF00;
        c.options = k.options;
        install(appnet::build(c));
        ASSERT_EQ(DprParseConfig(0), 0);
        const uint8_t *r = Dpr_Configuration[0];
        EXPECT_EQ(r[kFlagsA], k.a) << std::hex << k.options;
        EXPECT_EQ(r[kFlagsB], k.b) << std::hex << k.options;
        EXPECT_EQ(r[kFlagsC], k.c) << std::hex << k.options;
        EXPECT_EQ(r[kDhcp], k.dhcp) << std::hex << k.options;
        EXPECT_EQ(DprCfg32(0, kAddress), 0xC0A8010Au);
    }
}

TEST_F(DprTest, NoConfigurationCases) {
    appnet::Config c;
    std::vector<uint8_t> b = appnet::build(c);
    put_le32(b.data(), 8); // a length of 8 or less
    install(b);
    EXPECT_EQ(DprParseConfig(0), 1);
    put_le32(b.data(), 0xFFFFFFFF);
    install(b);
    EXPECT_EQ(DprParseConfig(0), 1);
    EtnConfp = nullptr;
    EXPECT_EQ(DprParseConfig(0), 1);
    // A length word far beyond the entry: nothing is read past it.
    b = appnet::build(c);
    put_le32(b.data(), 0x7FFFFFFF);
    install(b);
    EXPECT_EQ(DprParseConfig(0), 0);
}

TEST_F(DprTest, ModbusPortIs502UnlessItsRecordMayReplaceIt) {
    appnet::Config c;
    c.modbus = true;
    c.modbus_mode = 1;
    c.modbus_port = 1502;
    install(appnet::build(c)); // options 0: flag B 0x80 set, the record's pair is taken
    DprParseConfig(0);
    EXPECT_EQ(le16(Dpr_Configuration[0] + kModbusPort), 1502);
    EXPECT_EQ(le16(Dpr_Configuration[0] + kModbusMode), 1);
    c.options = 0x1000;
    install(appnet::build(c));
    DprParseConfig(0);
    EXPECT_EQ(le16(Dpr_Configuration[0] + kModbusPort), 502);
    c.modbus_flags = 0x40000;
    install(appnet::build(c));
    DprParseConfig(0);
    EXPECT_EQ(le16(Dpr_Configuration[0] + kModbusPort), 1502);
}

TEST_F(DprTest, ScrambledAccountsAreReadBackAndCutAtForty) {
    appnet::Config c;
    std::string forty(40, 'x'), long_one(45, 'y');
    c.ftp = {{"alice", forty, "", 0}, {long_one, "pw", "", 1}, {"third", "gone", "", 0}};
    c.http = true;
    c.http_account = {"web", "secret", "", 0};
    install(appnet::build(c));
    ASSERT_EQ(DprParseConfig(0), 0);
    EXPECT_EQ(text_at(0, kFtp), "alice");
    EXPECT_EQ(text_at(0, kFtp + kTextBytes), forty);
    EXPECT_EQ(text_at(0, kFtp + kAccountBytes), std::string(40, 'y'));
    EXPECT_EQ(Dpr_Configuration[0][kFtp + kAccountBytes + 3 * kTextBytes], 1);
    EXPECT_EQ(text_at(0, kHttpAccount), "web");
    EXPECT_EQ(text_at(0, kHttpAccount + kTextBytes), "secret");
}

TEST_F(DprTest, EgdRecordsAndPairsAreBounded) {
    appnet::Config c;
    c.service = false;
    for (int i = 0; i < 130; ++i) {
        appnet::Egd e;
        e.params[0] = uint32_t(i);
        for (int k = 0; k < (i == 0 ? 120 : 1); ++k)
            e.pairs.push_back({32768u + uint32_t(k) * 16, (i == 1 ? 0x80000000u : 0) | 1});
        c.egd.push_back(e);
    }
    std::vector<uint8_t> b = appnet::build(c);
    ASSERT_LT(b.size(), 65535u);
    install(b);
    ASSERT_EQ(DprParseConfig(0), 0);
    EXPECT_EQ(DprCfg32(0, kEgdCount), 128u);
    EXPECT_EQ(le32(Dpr_Configuration[0] + kEgd + 20), 99u);
    EXPECT_EQ(le32(Dpr_Configuration[0] + kEgd + 127 * kEgdRecordBytes + 4), 127u);
    EXPECT_EQ(EGD_Index_Count, 1);
}

TEST_F(DprTest, TimeServersGoToNtpConfOneLineEach) {
    appnet::Config c;
    c.ntp = {"pool.example", std::string(100, 'n'), "evil\nserver 6.6.6.6"};
    install(appnet::build(c));
    ASSERT_EQ(DprParseConfig(0), 0);
    EXPECT_EQ(NTP_Enabled, 1);
    EXPECT_EQ(read_file("/etc/ntp.conf"),
              "server pool.example\nserver " + std::string(95, 'n') + "\nserver evil\n");
}

TEST_F(DprTest, PersistentRecordKeepsTheLastAddressForAnApplicationWithout) {
    appnet::Config c;
    c.address = 0x0A000005;
    c.mask = 0xFF000000;
    install(appnet::build(c));
    Dpr_Config();
    uint8_t rec[24];
    SYS_ReadCmd(rec, 0, 24);
    EXPECT_EQ(le32(rec), 0x12345678u);
    EXPECT_EQ(le32(rec + 4), 0x0A000005u);
    EtnConfp = nullptr;
    Dpr_Config();
    EXPECT_EQ(DprCfg32(0, kAddress), 0x0A000005u);
    EXPECT_TRUE(Dpr_Configuration[0][kFlagsB] & kBServicesOff);
}

TEST_F(DprTest, ValidateRequestTable) {
    struct Case {
        uint32_t ref, bits;
        int want;
    };
    // clang-format off
    const Case cases[] = {
        {1023, 1, 1},
        {1024, 256, 0}, {1024, 257, 1},              // %IG
        {6143, 1, 0}, {6143, 2, 1},                  // %SR
        {10240, 12288, 0}, {10240, 12289, 1},        // %T and %M (direct)
        {22527, 1, 0},                               // from here: %AQ, not the extended areas
        {24000, 576, 0}, {24000, 577, 1},
        {32768, 131072, 0},
        {32768, reg::kRefDirectEnd - 32768, 0},      // %R to its end
        {32768, reg::kRefDirectEnd - 32768 + 1, 1},  // not past it
        {reg::kRefET, 0x4000, 0}, {reg::kRefET, 0x4001, 1},
        {reg::kRefEM + 0x3FF0, 16, 0}, {reg::kRefEM + 0x3FF0, 17, 1},
        {0x10030000, 16, 1},
    };
    // clang-format on
    for (const Case &k : cases)
        EXPECT_EQ(EtnValidateReq(k.ref, k.bits), k.want) << k.ref << " " << k.bits;
}

TEST_F(DprTest, ProgrammingChannelToggles) {
    using namespace dprmap;
    EXPECT_EQ(Etn_CheckRx(), 0);
    // A block of three bytes and a single byte: the single byte comes first.
    DprMap[kRxData] = 'a';
    DprMap[kRxData + 1] = 'b';
    DprMap[kRxData + 2] = 'c';
    put_le16(DprMap + kRxLen, 3);
    DprMap[kRx + 1] ^= 1;
    DprMap[kByteRx + 2] = 'z';
    DprMap[kByteRx + 1] ^= 1;
    ASSERT_EQ(Etn_CheckRx(), 1);
    std::string got;
    while (Etn_CheckRx())
        got += char(Etn_GetRx());
    EXPECT_EQ(got, "zabc");
    EXPECT_EQ(le16(DprMap + kRxLen), 0);

    // 112 flips the control toggle only; a transmit never reaches the
    // single-byte mailbox or the security settings.
    uint8_t before[kSize - kByteRx];
    std::memcpy(before, DprMap + kByteRx, sizeof before);
    Etn_PutTx(112);
    EXPECT_EQ(DprMap[kControl], 1);
    Etn_PutTx(112);
    EXPECT_EQ(DprMap[kControl], 0);
    EXPECT_EQ(le16(DprMap + kTxLen), 0);
    uint8_t big[600];
    std::memset(big, 0xEE, sizeof big);
    Etn_PutnTx(big, sizeof big);
    EXPECT_EQ(le16(DprMap + kTxLen), 476);
    EXPECT_NE(DprMap[kTx], DprMap[kTx + 1]);
    EXPECT_EQ(std::memcmp(before, DprMap + kByteRx, sizeof before), 0);
    EXPECT_EQ(le16(DprMap + kTxOffsetAt), kTx);

    // The network id follows %SR29.
    sr_put(29, 7);
    Etn_UpdateStatus();
    EXPECT_EQ(le16(DprMap + kNetId), 7);
}

TEST_F(DprTest, EnteringRunRereadsTheConfigurationOnce) {
    appnet::Config c;
    c.address = 0x0A000001;
    install(appnet::build(c));
    sr_put(sr::kRunMode, 2);
    Dpr_Io_Service();
    EXPECT_EQ(le16(DprMap + dprmap::kRunWord), 1);
    EXPECT_EQ(DprCfg32(0, kAddress), 0x0A000001u);
    DprCfgPut32(0, kAddress, 5);
    Dpr_Io_Service();
    EXPECT_EQ(DprCfg32(0, kAddress), 5u) << "not parsed again";
    sr_put(sr::kRunMode, 1);
    Dpr_Io_Service();
    EXPECT_EQ(le16(DprMap + dprmap::kRunWord), 0);
}

} // namespace
