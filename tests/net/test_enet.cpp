// The Ethernet manager with a master-script pipe whose bytes the test reads.
#include "base/le.h"
#include "base/trace.h"
#include "host/clock.h"
#include "host/netsock.h"
#include "net/net.h"
#include "net/protocols.h"
#include "panel_fixture.h"
#include "platform/io.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "system/loop.h"
#include "system/wiring.h"
#include "tools/lib/appbuild_net.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kStatusReg = 32768 + 16 * 99;   // %R100
constexpr uint32_t kVersionReg = 32768 + 16 * 100; // %R101
constexpr uint32_t kTargetReg = 32768 + 16 * 109;  // %R110, 32 bits
constexpr uint32_t kPingReg = 32768 + 16 * 111;    // %R112, 32 bits

class EnetTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        System_Wire();
        cfg.address = 0xC0A8010A;
        cfg.mask = 0xFFFFFF00;
        cfg.options = 0;
        cfg.status_reg = kStatusReg;
        cfg.version_reg = kVersionReg;
        cfg.ping = true;
        cfg.ping_timeout = 1000;
        cfg.ping_target_reg = kTargetReg;
        cfg.ping_status_reg = kPingReg;
        cfg.ftp = {{"op", "pw1", "", 0}, {"bad:name", "x", "", 1}};
        install();
        Dpr_Set_Dw_Data(kTargetReg, 0x7F000001);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        pipe_read = fds[0];
        MasterScriptPipefd = fds[1];
        MasterFilePresent = 1;
    }
    void TearDown() override {
        close(pipe_read);
        close(MasterScriptPipefd);
        MasterScriptPipefd = -1;
        PanelTest::TearDown();
    }
    void install() {
        std::vector<uint8_t> b = appnet::build(cfg);
        put_le32(io_config_bl + 4, uint32_t(b.size() + 12));
        put_le16(io_config_bl + 8, 0x1234);
        put_le16(io_config_bl + 10, uint16_t(b.size()));
        std::memcpy(io_config_bl + 12, b.data(), b.size());
        EtnConfp = io_config_bl + 12;
    }
    std::string piped() {
        std::string s;
        char buf[512];
        ssize_t n;
        while ((n = read(pipe_read, buf, sizeof buf)) > 0)
            s.append(buf, size_t(n));
        return s;
    }
    // Passes of the loop's network slot, `ms` of virtual time apart.
    void passes(int n, uint32_t ms = 10) {
        for (int i = 0; i < n; ++i) {
            EnetMain(0);
            host::clock_advance_ns(uint64_t(ms) * 1'000'000);
        }
    }
    uint16_t status() { return Dpr_Get_W_Data(kStatusReg); }
    appnet::Config cfg;
    int pipe_read = -1;
};

std::string z(const char *s) {
    return std::string(s, std::strlen(s) + 1);
}

TEST_F(EnetTest, FirstPassBringsTheNetworkUpInTheSpecifiedOrder) {
    host::trace_start();
    EnetMain(0);
    ASSERT_TRUE(Enet_Initialised());
    std::vector<std::string> calls = host::trace_calls(), inits;
    for (const std::string &c : calls)
        if (c.find("Init") != std::string::npos) inits.push_back(c);
    std::vector<std::string> want = {"Egd_Init",   "Vibus_Init", "Modbus_Init",   "Srtp_Init",
                                     "Http_Init",  "Eip_Init",   "EtnVComm_Init", "EtnEmailInit",
                                     "Ascii_Init", "EtnIo_Init"};
    EXPECT_EQ(inits, want);
    EXPECT_EQ(Enet_IpInstance[0].address, 0xC0A8010Au);
    EXPECT_EQ(EnetPacketPoolCtrl.total, 200u);
    EXPECT_EQ(le16(DprMap + dprmap::kRevisionAt), 493);
    // The first pass writes interface 0's DNS line even for DNS 0.
    EXPECT_EQ(piped(), z("dnsSet_4_0_0.0.0.0\n"));
    EXPECT_EQ(Dpr_Get_W_Data(kVersionReg), 493);
}

TEST_F(EnetTest, LinkDebounceStatusBitsAndPing) {
    passes(1);
    EXPECT_EQ(Enet_LinkUp[0], 0);
    passes(150, 10);
    EXPECT_EQ(Enet_LinkUp[0], 0) << "not before 2000 ms";
    passes(60, 10);
    EXPECT_EQ(Enet_LinkUp[0], 1);
    uint16_t s = status();
    EXPECT_TRUE(s & 0x100) << "link";
    EXPECT_TRUE(s & 0x1000) << "100 Mbit/s";
    EXPECT_TRUE(s & 0x2000) << "full duplex";
    EXPECT_EQ(s & 0x4000, 0);
    // The ping of 127.0.0.1 answers: 0 ms or more in the status register.
    EXPECT_GE(int32_t(Dpr_Get_Dw_Data(kPingReg)), 0);
    uint16_t seen = 0;
    for (int i = 0; i < 150; ++i) {
        passes(1);
        seen |= status();
    }
    EXPECT_EQ(seen & 0x600, 0x600) << "transmit and receive activity of the pings";
    EXPECT_FALSE(status() & 0x600) << "gone 20 ms after the last packet";

    // Link down: the bit goes, eth0 takes the fallback address once.
    host::net_sim_link("eth0", false);
    passes(5);
    EXPECT_FALSE(status() & 0x100);
    EXPECT_EQ(Enet_IpInstance[0].address, kEnetFallbackAddress);
    auto reqs = host::net_requests();
    EXPECT_EQ(std::count(reqs.begin(), reqs.end(), "addr eth0 192.168.254.128/255.255.255.0"), 1);
    EXPECT_EQ(int32_t(Dpr_Get_Dw_Data(kPingReg)), -1);
    // Back up: the configured address again, and its services restart.
    piped();
    host::net_sim_link("eth0", true);
    passes(3);
    EXPECT_EQ(Enet_IpInstance[0].address, 0xC0A8010Au);
    EXPECT_EQ(piped(), z("stop0\n") + z("start0\n"));
}

TEST_F(EnetTest, ConfigurationChangeRestartsEveryScriptServiceOnce) {
    passes(2);
    piped();
    cfg.ntp = {"time.example"};
    install();
    put_le32(io_config_bl + 4, le32(io_config_bl + 4) + 4); // the block changed
    EnetMain(0); // the exchange block sees it and asks for a change
    EnetMain(0); // the manager serves it
    EXPECT_EQ(piped(), z("stopall\n") + z("startall\n"));
    EXPECT_EQ(read_file("/opt/velmor/main_conf"), "ftp0\nntp0\nftp2\nntp2\nftp3\nntp3\n");
    // An account whose name would break the daemon's file is left out.
    EXPECT_EQ(read_file("/opt/velmor/ftp/newpwdfile1"), "op:pw1\n");
    EXPECT_EQ(read_file("/opt/velmor/ftp/newvsftpd.chroot_list1"), "op:1\n");
    EXPECT_EQ(read_file("/etc/ntp.conf"), "server time.example\n");
}

TEST_F(EnetTest, FtpRestartWaitsForTheMarkerFile) {
    passes(2);
    piped();
    sr_put(156, 0x08 | 0x02);
    passes(1);
    EXPECT_EQ(piped(), std::string("stop0\n") + "start0\n"); // 6 and 7 bytes, no NUL
    EXPECT_EQ(prot_run_bit, 0x04);
    EXPECT_EQ(sr_get(156), 0x08 | 0x02) << "Modbus waits behind the busy mask";
    passes(3);
    EXPECT_EQ(sr_get(156) & 0x08, 0x08);
    write_file("/opt/velmor/ftp/started1.txt", "");
    passes(2);
    EXPECT_EQ(sr_get(156), 0);
    EXPECT_EQ(prot_run_bit, 0);
}

TEST_F(EnetTest, WithoutAScriptNothingIsWrittenAndRestartsAreNotBlocked) {
    MasterFilePresent = 0;
    passes(2);
    sr_put(156, 0x08 | 0x01);
    passes(1);
    EXPECT_EQ(sr_get(156), 0);
    EXPECT_EQ(prot_run_bit, 0);
    EXPECT_EQ(piped(), "");
}

TEST_F(EnetTest, StatisticsStayOutOfTheRegisterImage) {
    uint8_t before[24];
    std::memcpy(before, plc_reg + 66, 24);
    passes(3);
    EXPECT_EQ(std::memcmp(before, plc_reg + 66, 24), 0);
    EXPECT_EQ(le32(DprMap + dprmap::kStats), EnetPacketPoolCtrl.available);
}

} // namespace
