// The Modbus TCP and UDP server inside the Ethernet manager's pass, against
// plain loopback clients, with a counting ladder program as the control scan
// and the virtual clock.
#include "base/le.h"
#include "host/clock.h"
#include "host/netsock.h"
#include "iec/kernel/iec.h"
#include "ladder_fixture.h"
#include "net/modbus_tcp.h"
#include "net/net.h"
#include "net/protocols.h"
#include "platform/io.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "system/wiring.h"
#include "tools/lib/appbuild_net.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A request: MBAP header (transaction id, protocol 0, length, unit 1) and the PDU.
Bytes req(uint16_t tid, const Bytes &pdu) {
    Bytes b = {uint8_t(tid >> 8),
               uint8_t(tid),
               0,
               0,
               uint8_t((pdu.size() + 1) >> 8),
               uint8_t(pdu.size() + 1),
               1};
    b.insert(b.end(), pdu.begin(), pdu.end());
    return b;
}
Bytes pdu(uint8_t fc, uint16_t a, uint16_t q) {
    return {fc, uint8_t(a >> 8), uint8_t(a), uint8_t(q >> 8), uint8_t(q)};
}
Bytes exc(uint16_t tid, uint8_t fc, uint8_t code) {
    return {uint8_t(tid >> 8), uint8_t(tid), 0, 0, 0, 3, 1, uint8_t(fc | 0x80), code};
}

int open_fds() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (dirent *e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

class ModbusTest : public LadderTest {
protected:
    void SetUp() override {
        LadderTest::SetUp();
        System_Wire();
        cfg.address = 0x7F000001;
        cfg.mask = 0xFF000000;
        cfg.modbus = true; // inhibit reference, UDP flag, port (0: any free port)
    }
    void TearDown() override {
        for (int fd : clients)
            close(fd);
        unsetenv("PANEL_PORTS");
        LadderTest::TearDown();
    }
    // Installs the configuration and brings the server up in Run.
    void start() {
        std::vector<uint8_t> b = appnet::build(cfg);
        put_le32(io_config_bl + 4, uint32_t(b.size() + 12));
        put_le16(io_config_bl + 8, 0x1234);
        put_le16(io_config_bl + 10, uint16_t(b.size()));
        std::memcpy(io_config_bl + 12, b.data(), b.size());
        EtnConfp = io_config_bl + 12;
        load("PUSHW %R2\nPUSHK 1\nADDW\nPOPW %R2\nEND\n"); // %R2 counts the scans
        sr_put(sr::kRunMode, sr::kModeRun);
        passes(20); // every record armed
        find_port();
    }
    void find_port() {
        port = 0;
        for (const ModbusRecord &r : ModbusConnEth[0].rec)
            if (r.socket.fd > 0 && !r.socket.own_fd) port = host::net_local_port(r.socket.fd);
    }
    // Passes of the loop as far as they matter here: the control scan, then
    // the network slot, 10 ms of virtual time apart.
    void passes(int n, uint32_t ms = 10) {
        for (int i = 0; i < n; ++i) {
            scan();
            EnetMain(0);
            host::clock_advance_ms(ms);
        }
    }
    int connect_client() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(port);
        if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
            close(fd);
            return -1;
        }
        clients.push_back(fd);
        uint32_t before = Modbus_Conn_Cnt(0);
        for (int i = 0; i < 20 && Modbus_Conn_Cnt(0) == before; ++i)
            passes(1);
        return fd;
    }
    static void send_bytes(int fd, const Bytes &b) {
        ASSERT_EQ(send(fd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
    }
    // What arrived without waiting more than a moment.
    static Bytes take(int fd) {
        Bytes out;
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, 20) > 0) {
            uint8_t buf[4096];
            ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    static bool closed_by_peer(int fd) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) return false;
        uint8_t c;
        return recv(fd, &c, 1, MSG_DONTWAIT) == 0;
    }
    // Sends a request and runs passes until its answer is whole.
    Bytes ask(int fd, const Bytes &request, int max_passes = 4) {
        send_bytes(fd, request);
        Bytes got;
        for (int i = 0; i < max_passes; ++i) {
            passes(1);
            Bytes more = take(fd);
            got.insert(got.end(), more.begin(), more.end());
            if (got.size() >= 6 && got.size() >= 6u + (got[4] << 8 | got[5])) break;
        }
        return got;
    }

    appnet::Config cfg;
    uint16_t port = 0;
    std::vector<int> clients;
};

TEST(ModbusMap, WindowsOfTheLadderMap) {
    struct Case {
        uint8_t fc;
        uint32_t address, quantity;
        const char *reg; // "" where the map refuses
    };
    // clang-format off
    const Case cases[] = {
        {1, 0, 1, "%Q1"},       {5, 2047, 1, "%Q2048"},   {15, 3000, 1, "%M1"},
        {1, 6000, 1, "%T1"},    {1, 9000, 1, "%QG1"},     {5, 9255, 1, "%QG256"},
        {5, 9256, 1, ""},       {1, 10000, 1, ""},
        {2, 0, 1, "%I1"},       {2, 2047, 1, "%I2048"},   {2, 3000, 1, "%IG1"},
        {2, 3999, 1, "%QG256"}, {2, 4000, 1, "%S1"},      {2, 5000, 1, "%K1"},
        {2, 5256, 1, ""},       {2, 6000, 1, ""},
        {3, 0, 1, "%AQ1"},      {6, 511, 1, "%AQ512"},    {3, 512, 1, "%R1"},
        {3, 2900, 100, "%R2389"}, {3, 2900, 101, ""},     {16, 3000, 1, "%R1"},
        {3, 5999, 1, "%R3000"}, {3, 6000, 1, "%AQG1"},    {3, 6032, 1, ""},
        {6, 10000, 1, "%R1"},   {3, 20239, 1, "%R10240"}, {3, 20240, 1, ""},
        {4, 0, 1, "%AI1"},      {4, 512, 1, ""},          {4, 3000, 1, "%AIG1"},
        {4, 4000, 1, "%SR1"},   {4, 4191, 1, "%SR192"},   {4, 4192, 1, ""},
        {7, 0, 1, ""},          {17, 0, 1, ""},
    };
    // clang-format on
    for (uint32_t tokens : {0u, 16u}) {
        T_token = tokens ? 12288 : reg::kRefET;
        M_token = tokens ? 14336 : reg::kRefEM;
        for (const Case &c : cases) {
            std::string name = c.reg;
            if (tokens == 0 && name == "%M1") name = "%EM1";
            if (tokens == 0 && name == "%T1") name = "%ET1";
            uint32_t want = 0, bits = 0;
            if (!name.empty()) {
                ASSERT_TRUE(RegName_Parse(name, &want, &bits, nullptr)) << name;
            }
            EXPECT_EQ(ModbusMapToken(c.fc, c.address, c.quantity), want)
                << int(c.fc) << " " << c.address << " " << c.reg << " tokens " << tokens;
        }
    }
    // With 16-bit tokens %T ends where %M begins.
    EXPECT_EQ(ModbusMapToken(1, 6000 + 2048, 1), 0u);
}

TEST_F(ModbusTest, ReadIsAnsweredOnTheNextPassWithOneMoreScan) {
    start();
    ASSERT_NE(port, 0);
    int fd = connect_client();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Modbus_Conn_Cnt(0), 1u);
    send_bytes(fd, req(7, pdu(3, 3001, 1))); // %R2, the scan counter
    passes(1);
    uint16_t at_request = word("%R2");
    EXPECT_TRUE(take(fd).empty()) << "no answer on the pass that took the request";
    passes(1);
    Bytes a = take(fd);
    ASSERT_EQ(a.size(), 11u);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 9), (Bytes{0, 7, 0, 0, 0, 5, 1, 3, 2}));
    EXPECT_EQ(a[9] << 8 | a[10], at_request + 1) << "the answer saw the next control scan";
}

TEST_F(ModbusTest, RegisterWindowsBigEndianAndWritesAtOnce) {
    start();
    int fd = connect_client();
    set_word("%R1", 0x1234);
    set_word("%R2489", 0xBEEF);
    set_word("%AQ512", 0x0102);
    set_word("%SR192", 0x0A0B);
    // The three holding windows that reach %R1 read the same bytes.
    for (uint16_t a : {512, 3000, 10000})
        EXPECT_EQ(ask(fd, req(a, pdu(3, a, 1))),
                  (Bytes{uint8_t(a >> 8), uint8_t(a), 0, 0, 0, 5, 1, 3, 2, 0x12, 0x34}));
    EXPECT_EQ(ask(fd, req(1, pdu(3, 511, 1))), (Bytes{0, 1, 0, 0, 0, 5, 1, 3, 2, 1, 2}));
    EXPECT_EQ(ask(fd, req(1, pdu(3, 511, 2))), exc(1, 3, 2)) << "%AQ and %R are two areas";
    EXPECT_EQ(ask(fd, req(2, pdu(4, 4191, 1))), (Bytes{0, 2, 0, 0, 0, 5, 1, 4, 2, 0x0A, 0x0B}));
    EXPECT_EQ(ask(fd, req(3, pdu(3, 12488, 1))), (Bytes{0, 3, 0, 0, 0, 5, 1, 3, 2, 0xBE, 0xEF}));

    // A write is in the image when its echo arrives, on the pass that took it.
    send_bytes(fd, req(4, pdu(6, 10000, 0xA55A)));
    passes(1);
    EXPECT_EQ(take(fd), req(4, pdu(6, 10000, 0xA55A)));
    EXPECT_EQ(word("%R1"), 0xA55A);
    Bytes w = req(5, {16, 0x0B, 0xB8, 0, 2, 4, 0x11, 0x22, 0x33, 0x44}); // 3000: %R1, %R2
    EXPECT_EQ(ask(fd, w), req(5, pdu(16, 3000, 2)));
    EXPECT_EQ(word("%R1"), 0x1122);
}

TEST_F(ModbusTest, BitsArePackedFirstBitInBitZero) {
    start();
    int fd = connect_client();
    for (uint16_t q : {10, 2000}) {
        SCOPED_TRACE(q);
        uint16_t wq = q > 1968 ? 1968 : q;
        Bytes data((wq + 7) / 8);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = uint8_t(0xA5 ^ i);
        if (wq % 8) data.back() &= uint8_t((1u << (wq % 8)) - 1);
        Bytes p = {15, 0, 1, uint8_t(wq >> 8), uint8_t(wq), uint8_t(data.size())};
        p.insert(p.end(), data.begin(), data.end());
        // Coils from address 1 (%Q2 on) with the 32-bit tokens reach past %Q.
        EXPECT_EQ(ask(fd, req(1, p)), req(1, pdu(15, 1, wq)));
        for (uint16_t i = 0; i < wq; ++i)
            ASSERT_EQ(bit("%Q" + std::to_string(i + 2)), (data[i / 8] >> (i % 8)) & 1) << i;
        Bytes a = ask(fd, req(2, pdu(1, 1, wq)));
        ASSERT_EQ(a.size(), 9u + data.size());
        EXPECT_EQ(Bytes(a.begin() + 9, a.end()), data) << "the same bits back, high bits 0";

        for (uint16_t i = 0; i < 16; ++i)
            set_bit("%I" + std::to_string(i + 2), i % 3 == 0);
        a = ask(fd, req(3, pdu(2, 1, q)));
        ASSERT_EQ(a.size(), 9u + (q + 7) / 8);
        EXPECT_EQ(a[9], 0x49); // inputs 2, 5, 8 of %I2..%I9
        EXPECT_EQ(a[10], q == 10 ? 0x02 : 0x92);
    }
    // A single coil: 0xFF00 writes 1, 0x0100 writes 1 and is echoed as 01 00.
    EXPECT_EQ(ask(fd, req(4, pdu(5, 9000, 0x0100))), req(4, pdu(5, 9000, 0x0100)));
    EXPECT_EQ(bit("%QG1"), 1);
    EXPECT_EQ(ask(fd, req(5, pdu(5, 9000, 0x0000))), req(5, pdu(5, 9000, 0)));
    EXPECT_EQ(bit("%QG1"), 0);
}

TEST_F(ModbusTest, ExceptionsInTheirOrder) {
    cfg.modbus_flags = LadderTest::ref("%M100"); // the write-inhibit bit
    start();
    int fd = connect_client();
    struct Case {
        const char *what;
        Bytes request, answer; // empty answer: none
    };
    const Case cases[] = {
        {"unknown function", req(1, {0x42, 0, 0, 0, 1}), exc(1, 0x42, 1)},
        {"function 8", req(2, {8, 0, 0, 0, 0}), exc(2, 8, 1)},
        {"function 0", req(3, {0, 0, 0}), exc(3, 0, 1)},
        {"read 0 registers", req(4, pdu(3, 0, 0)), exc(4, 3, 3)},
        {"read 126 registers", req(5, pdu(3, 0, 126)), exc(5, 3, 3)},
        {"read 2001 coils", req(6, pdu(1, 0, 2001)), exc(6, 1, 3)},
        {"write 124 registers", req(7, {16, 0, 0, 0, 124, 248}), exc(7, 16, 3)},
        {"byte count against quantity", req(8, {16, 0, 0, 0, 2, 2, 0, 1}), exc(8, 16, 3)},
        {"data shorter than its count", req(9, {15, 0, 0, 0, 16, 2, 0xFF}), exc(9, 15, 3)},
        {"no quantity", req(10, {3, 0, 0}), exc(10, 3, 3)},
        {"exception status", req(11, {7}), Bytes{0, 11, 0, 0, 0, 3, 1, 7, 0}},
        {"across the 3000 edge", req(12, pdu(3, 2900, 101)), exc(12, 3, 2)},
        {"coil 9256", req(13, pdu(5, 9256, 0xFF00)), exc(13, 5, 2)},
        {"past the discrete inputs", req(14, pdu(2, 6000, 1)), exc(14, 2, 2)},
        {"quantity checked before the map", req(15, pdu(4, 9999, 0)), exc(15, 4, 3)},
        {"no function code", Bytes{0, 16, 0, 0, 0, 1, 1}, {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ask(fd, c.request), c.answer) << c.what;
    set_bit("%M100", 1);
    EXPECT_EQ(ask(fd, req(20, pdu(5, 9256, 0xFF00))), exc(20, 5, 1)) << "inhibit before the map";
    EXPECT_EQ(ask(fd, req(21, pdu(6, 10000, 1))), exc(21, 6, 1));
    EXPECT_EQ(ask(fd, req(22, pdu(3, 10000, 1))).size(), 11u) << "reads go on";
    EXPECT_FALSE(closed_by_peer(fd));
}

TEST_F(ModbusTest, FramesSplitAndBackToBack) {
    start();
    int fd = connect_client();
    set_word("%R1", 42);
    Bytes r = req(1, pdu(3, 3000, 1));
    // Cut in two, the halves two passes apart: joined and answered once.
    send_bytes(fd, Bytes(r.begin(), r.begin() + 5));
    passes(2);
    EXPECT_EQ(ask(fd, Bytes(r.begin() + 5, r.end())), (Bytes{0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 42}));
    // Three in one segment: answered in order, one a pass.
    Bytes three = req(2, pdu(3, 3000, 1));
    for (uint16_t t : {3, 4}) {
        Bytes more = req(t, pdu(6, 10000, t));
        three.insert(three.end(), more.begin(), more.end());
    }
    send_bytes(fd, three);
    Bytes got;
    for (int i = 0; i < 6; ++i) {
        passes(1);
        Bytes more = take(fd);
        got.insert(got.end(), more.begin(), more.end());
    }
    Bytes want = {0, 2, 0, 0, 0, 5, 1, 3, 2, 0, 42};
    for (uint16_t t : {3, 4}) {
        Bytes e = req(t, pdu(6, 10000, t));
        want.insert(want.end(), e.begin(), e.end());
    }
    EXPECT_EQ(got, want);
    // A length field no frame can have closes the connection.
    send_bytes(fd, Bytes{0, 5, 0, 0, 0x01, 0x00, 1, 3});
    passes(2);
    EXPECT_TRUE(closed_by_peer(fd));
    EXPECT_EQ(Modbus_Conn_Cnt(0), 0u);
}

TEST_F(ModbusTest, IdleConnectionsCloseAfterSixtySeconds) {
    start();
    int quiet = connect_client();
    int busy = connect_client();
    int partial = connect_client();
    ASSERT_EQ(Modbus_Conn_Cnt(0), 3u);
    send_bytes(partial, Bytes{0, 1, 0, 0}); // never completed
    for (int s = 0; s < 118; ++s) {
        if (s % 59 == 58) {
            EXPECT_EQ(ask(busy, req(uint16_t(s), pdu(3, 3000, 1))).size(), 11u);
        }
        passes(1, 1000);
        if (s == 55) {
            EXPECT_FALSE(closed_by_peer(quiet));
            EXPECT_FALSE(closed_by_peer(partial));
        }
    }
    EXPECT_TRUE(closed_by_peer(quiet));
    EXPECT_TRUE(closed_by_peer(partial)) << "a partial request is no activity";
    EXPECT_FALSE(closed_by_peer(busy)) << "a request every 59 s keeps it open";
    EXPECT_EQ(Modbus_Conn_Cnt(0), 1u);
}

TEST_F(ModbusTest, LeavingRunDropsEveryConnectionAndThePendingRead) {
    start();
    int a = connect_client();
    int b = connect_client();
    send_bytes(a, req(1, pdu(3, 3000, 1)));
    passes(1); // taken, its answer due on the next pass
    EXPECT_TRUE(take(a).empty());
    sr_put(sr::kRunMode, sr::kModeIdle);
    passes(2);
    EXPECT_TRUE(closed_by_peer(a)) << "closed without the answer";
    EXPECT_TRUE(closed_by_peer(b));
    EXPECT_EQ(connect_client(), -1) << "nothing listens outside Run";
    sr_put(sr::kRunMode, sr::kModeRun);
    passes(3);
    find_port();
    int c = connect_client();
    ASSERT_GE(c, 0);
    EXPECT_EQ(ask(c, req(2, pdu(3, 3000, 1))).size(), 11u);
}

TEST_F(ModbusTest, ThousandConnectionsLeaveNoDescriptorBehind) {
    start();
    int before = open_fds();
    for (int i = 0; i < 1000; ++i) {
        int fd = connect_client();
        ASSERT_GE(fd, 0) << i;
        if (i % 100 == 0) {
            EXPECT_EQ(ask(fd, req(1, pdu(3, 3000, 1))).size(), 11u);
        }
        close(fd);
        clients.pop_back();
        passes(1);
    }
    passes(3);
    EXPECT_EQ(open_fds(), before);
    EXPECT_EQ(Modbus_Conn_Cnt(0), 0u);
}

TEST_F(ModbusTest, UdpAnswersTheSenderOfTheRequest) {
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    getsockname(probe, reinterpret_cast<sockaddr *>(&sa), &len);
    uint16_t udp_port = ntohs(sa.sin_port);
    close(probe);
    setenv("PANEL_PORTS", ("1502:" + std::to_string(udp_port)).c_str(), 1);
    host::net_reset();
    cfg.modbus_mode = 1;
    cfg.modbus_port = 1502;
    start();
    EXPECT_EQ(Modbus_Conn_Cnt(0), 1u);
    set_word("%R1", 77);
    int c[2];
    for (int &fd : c) {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        clients.push_back(fd);
        connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    }
    send_bytes(c[0], req(1, pdu(3, 3000, 1)));
    passes(1);
    send_bytes(c[1], req(2, pdu(6, 10001, 5)));
    passes(3);
    EXPECT_EQ(take(c[0]), (Bytes{0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 77}));
    EXPECT_EQ(take(c[1]), req(2, pdu(6, 10001, 5)));
    EXPECT_GE(word("%R2"), 5) << "written, then counted on by the scans";

    // With every port moved by an offset the reply still reaches the
    // client's own (unmoved) port.
    Modbus_DeInit(0);
    setenv("PANEL_PORTS", ("+" + std::to_string(udp_port - 1502)).c_str(), 1);
    host::net_reset();
    start();
    send_bytes(c[0], req(3, pdu(3, 3000, 1)));
    passes(3);
    EXPECT_EQ(take(c[0]), (Bytes{0, 3, 0, 0, 0, 5, 1, 3, 2, 0, 77}));
}

TEST_F(ModbusTest, IecTablesAreBoundedAndOnlyWordSegmentsServeRegisters) {
    start();
    TrevantRuntime = trevant_variables_enumerateded = 1;
    uint8_t *c = Dpr_Configuration[0];
    const uint32_t iec = dprcfg::kIecModbus;
    put_le32(c + iec + 12, 1u << 26);    // holding: kind 1
    put_le32(c + iec + 16, 0u);          // input: kind 0, no complex flag
    put_le32(c + iec + 20, 0x10008000u); // coils
    put_le32(c + iec + 24, 0x10008000u); // discrete inputs
    for (int i = 0; i < 4; ++i)
        put_le32(c + iec + 28 + 4 * i, 10); // ten entries each
    ModbusRecord r{};
    uint8_t tx[kModbusTxBytes];
    auto serve = [&](const Bytes &q) {
        Bytes f = q;
        r.pending = 0;
        uint32_t n = Modbus_Serve(0, &r, f.data(), uint32_t(f.size()), tx);
        return n ? Bytes(tx, tx + n) : Bytes{};
    };
    EXPECT_TRUE(serve(req(1, pdu(3, 4, 6))).empty());
    EXPECT_EQ(r.pending, 1);
    EXPECT_EQ(r.ref, 0xC4000000u + 4) << "the base marked as an IEC location";
    EXPECT_EQ(le32(c + iec + 12), 0xC4000000u) << "and stored back";
    EXPECT_EQ(serve(req(2, pdu(3, 4, 7))), exc(2, 3, 2)) << "past the table's size";
    EXPECT_EQ(serve(req(3, pdu(3, 10, 1))), exc(3, 3, 2));
    EXPECT_EQ(serve(req(4, pdu(4, 0, 1))), exc(4, 4, 2)) << "a kind-0 table serves no registers";
    put_le32(c + iec + 16, 1u << 29);
    EXPECT_TRUE(serve(req(5, pdu(4, 0, 1))).empty()) << "a complex-type table does";
    EXPECT_EQ(serve(req(6, pdu(5, 10, 0xFF00))), exc(6, 5, 2));
    EXPECT_EQ(serve(req(7, pdu(1, 2, 1))), Bytes{});
    EXPECT_EQ(r.ref, 0x10008002u) << "bit tables as configured";
}

} // namespace
