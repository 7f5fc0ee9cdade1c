// The runtime's operating-system layer: files, transfer names, sockets on
// loopback, the serial port over a pty, the CRC and the clock.
#include "host/clock.h"
#include "host/root.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/tros.h"
#include "panel_fixture.h"
#include "platform/osif.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

class Os : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        host::make_dirs("/mnt/cfg");
    }
};

TEST_F(Os, TransferNames) {
    struct Case {
        const char *given;
        const char *stored; // null: refused
    };
    const Case cases[] = {
        {"..\\x\\tr.reg", "tr.reg"},
        {"tr.reg", "tr.reg"},
        {"a\\b.txt", "a/b.txt"},
        {"/mnt/cfg/x.bin", "/mnt/cfg/x.bin"},
        {"./x.txt", "x.txt"},
        {"../../etc/passwd", "passwd"},
        {"..", nullptr},
        {"..tr.reg", nullptr},
        {"x/..", nullptr},
        {"", nullptr},
    };
    for (const Case &c : cases) {
        char out[256];
        bool ok = TrFT_MapName(c.given, out, sizeof out);
        EXPECT_EQ(ok, c.stored != nullptr) << c.given;
        if (ok && c.stored) {
            EXPECT_STREQ(out, c.stored) << c.given;
        }
    }
    // The parameter signal only for the name "tr.reg" itself.
    for (const char *name : {"..\\x\\tr.reg", "tr.reg"}) {
        bNewRegParams = 0;
        uint32_t h = TrFT_OpenWrite(0, name);
        ASSERT_NE(h, 0u);
        EXPECT_EQ(TrFT_Write(h, 3, "abc"), 1);
        TrFT_Close(h);
        EXPECT_EQ(bNewRegParams, std::strcmp(name, "tr.reg") == 0) << name;
        EXPECT_EQ(read_file("/tr.reg"), "abc");
    }
    EXPECT_EQ(TrFT_OpenWrite(0, ".."), 0u);
    EXPECT_EQ(TrFT_Delete("..tr.reg"), 0);
    EXPECT_EQ(TrFT_Delete("..\\x\\tr.reg"), 1);
    EXPECT_EQ(read_file("/tr.reg"), "");
}

TEST_F(Os, FilesStayInsideTheRoot) {
    EXPECT_EQ(TrFile_Open("/mnt/../../escape", 1), 0u);
    EXPECT_EQ(TrFile_Open("..", 0), 0u);
    EXPECT_EQ(TrFile_Delete("/mnt/cfg/../../x"), 0);
    uint32_t h = TrFile_Open("/mnt/cfg/a.txt", 1);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(TrFile_WriteLine(h, "one"), 1);
    EXPECT_EQ(TrFile_Fwrite(h, 2, 2, "abcd"), 2u);
    TrFile_Close(h);
    EXPECT_EQ(read_file("/mnt/cfg/a.txt"), "one\nabcd");
    EXPECT_EQ(TrFile_GetSize("/mnt/cfg/a.txt"), 8u);
    EXPECT_EQ(TrFile_Copy("/mnt/cfg/a.txt", "/mnt/cfg/b.txt"), 1);
    EXPECT_EQ(read_file("/mnt/cfg/b.txt"), "one\nabcd");
    EXPECT_EQ(TrFile_Exist("/mnt/cfg/missing"), 0);
    EXPECT_EQ(TrFile_GetSize("/mnt/cfg/missing"), 0u);
    EXPECT_EQ(TrFile_Read(0, nullptr, 1), 0);
    EXPECT_EQ(TrFile_Eof(0), 1);
    EXPECT_EQ(OsFile_OpenCount(), 0u);
}

TEST_F(Os, ReadLine) {
    write_file("/l.txt", std::string("ab\r\ncd\0e\n\nlast", 15) + "\n" + std::string(300, 'x'));
    uint32_t h = TrFile_Open("l.txt", 0);
    ASSERT_NE(h, 0u);
    char buf[400];
    struct Want {
        uint32_t size;
        const char *text;
    };
    const Want wants[] = {{400, "ab\r"}, {400, "cde"}, {400, ""}, {3, "la"}, {400, "st"}};
    for (const Want &w : wants) {
        EXPECT_EQ(TrFile_ReadLine(h, buf, w.size), std::strlen(w.text));
        EXPECT_STREQ(buf, w.text);
    }
    EXPECT_EQ(TrFile_ReadLine(h, buf, sizeof buf), 255u) << "a line is at most 255 characters";
    EXPECT_EQ(TrFile_ReadLine(h, buf, sizeof buf), 45u);
    EXPECT_EQ(TrFile_ReadLine(h, buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(TrFile_Eof(h), 1);
    TrFile_Close(h);
}

TEST_F(Os, Crc16) {
    EXPECT_EQ(TrTools_Crc16(reinterpret_cast<const uint8_t *>("abc"), 3), 0x5749);
    EXPECT_EQ(TrTools_Crc16(nullptr, 0), 0xFFFF);
}

TEST_F(Os, TcpOnLoopback) {
    int32_t listening = -1;
    ASSERT_EQ(TrSocket_CreateListeningSocket(0, 8, &listening), 0);
    ASSERT_GT(listening, 0);
    uint16_t port = 0;
    {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        ASSERT_EQ(getsockname(listening, reinterpret_cast<sockaddr *>(&sa), &len), 0);
        port = ntohs(sa.sin_port);
    }
    EXPECT_EQ(TrSocket_Accept(listening), -1) << "nobody waiting";
    int32_t client = -1;
    int pending = 0;
    ASSERT_EQ(TrSocket_CreateConnectedSocket("127.0.0.1", port, &client, &pending), 0);
    int32_t server = -1;
    for (int i = 0; i < 200 && server < 0; ++i) {
        server = TrSocket_Accept(listening);
        if (server < 0) usleep(1000);
    }
    ASSERT_GT(server, 0);
    int failed = 1;
    for (int i = 0; i < 200 && TrSocket_CheckPendingConnect(client, &failed) != 0; ++i)
        usleep(1000);
    EXPECT_EQ(failed, 0);
    struct Case {
        const char *data;
        uint8_t tr_rcv, vibus;
        int32_t answer;
    };
    const Case cases[] = {{"Tr12", 1, 0, 4}, {"xyz", 0, 0, 3}, {"HR..", 1, 1, 0}};
    for (const Case &c : cases) {
        tr_rcv = 0;
        IsCommMode_Vibus = 0;
        int32_t n = int32_t(std::strlen(c.data));
        EXPECT_EQ(TrSocket_Send(client, uint32_t(n), c.data, &failed), n);
        char buf[16] = {};
        int closed = 0;
        int32_t got = 0;
        for (int i = 0;
             i < 200 && (got = TrSocket_Receive(server, sizeof buf, buf, &closed)) == 0 &&
             !tr_rcv && !IsCommMode_Vibus;
             ++i)
            usleep(1000);
        EXPECT_EQ(got, c.answer) << c.data;
        EXPECT_EQ(tr_rcv, c.tr_rcv) << c.data;
        EXPECT_EQ(IsCommMode_Vibus, c.vibus) << c.data;
        EXPECT_EQ(closed, 0);
    }
    TrSocket_CloseSocket(client);
    int closed = 0;
    char buf[4];
    for (int i = 0; i < 200 && !closed; ++i) {
        TrSocket_Receive(server, sizeof buf, buf, &closed);
        if (!closed) usleep(1000);
    }
    EXPECT_EQ(closed, 1);
    TrSocket_CloseSocket(server);
    TrSocket_CloseSocket(listening);
    // Neither "none" nor a zero-filled record closes anything: descriptor 0
    // stays open.
    TrSocket_CloseSocket(-1);
    TrSocket_CloseSocket(0);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
}

TEST_F(Os, UdpAddressesAndDatagrams) {
    struct Case {
        const char *text;
        int ok;
        uint16_t port;
    };
    const Case cases[] = {{"127.0.0.1:1200", 1, 1200}, {"127.0.0.1", 1, 502}, {"127.0.0.1:", 0, 0},
                          {"127.0.0.1:70000", 0, 0},   {"host:1", 0, 0},      {"", 0, 0}};
    for (const Case &c : cases) {
        TrUdpAddr a{};
        EXPECT_EQ(TrSocket_UdpAddrMake(&a, c.text, 502), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(a.port, c.port) << c.text;
            EXPECT_EQ(a.addr, 0x7F000001u);
        }
    }
    TrUdpAddr a{};
    EXPECT_EQ(TrSocket_UdpAddrMake(&a, std::string(64, '1').c_str(), 1), 0) << "64 characters";
    // A port that is free on loopback, for the bound receiver.
    uint16_t port = 0;
    {
        int probe = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr *>(&sa), len), 0);
        ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr *>(&sa), &len), 0);
        port = ntohs(sa.sin_port);
        close(probe);
    }
    int32_t rx = -1, tx = -1;
    ASSERT_EQ(TrSocket_UdpCreate(port, &rx), 0);
    ASSERT_EQ(TrSocket_UdpCreate(0, &tx), 0) << "unbound";
    TrUdpAddr to{0x7F000001u, port};
    EXPECT_EQ(TrSocket_UdpSendTo(tx, &to, "ping", 4), 0);
    EXPECT_EQ(TrSocket_UdpSendTo(-1, &to, "ping", 4), 1);
    char buf[8] = {};
    TrUdpAddr from{};
    int32_t n = 0;
    for (int i = 0; i < 200 && (n = TrSocket_UdpRecvFrom(rx, buf, sizeof buf, &from)) <= 0; ++i)
        usleep(1000);
    EXPECT_EQ(n, 4);
    EXPECT_STREQ(buf, "ping");
    EXPECT_EQ(from.addr, 0x7F000001u);
    EXPECT_EQ(TrSocket_UdpRecvFrom(-1, buf, sizeof buf, &from), 1);
    TrSocket_CloseSocket(rx);
    TrSocket_CloseSocket(tx);
}

int g_pty = -1;
int g_given_back;
bool g_port_open;

TEST_F(Os, SerialPortOverAPty) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave, 0);
    termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    g_pty = slave;
    g_given_back = 0;
    TrSerial_PortFd = [] { return g_pty; };
    TrSerial_GiveBack = [] { ++g_given_back; };
    g_port_open = true;
    TrSerial_PortOpen = [](int fd) { return g_port_open && fd == g_pty; };
    int32_t h;
    TrSerial_Initialize(&h);
    EXPECT_EQ(TrSerial_IsValid(h), 0);
    EXPECT_EQ(TrSerial_Open(&h), 1);
    EXPECT_EQ(h, slave);
    auto feed = [&](const char *s) {
        ASSERT_EQ(write(master, s, std::strlen(s)), ssize_t(std::strlen(s)));
        usleep(20000);
    };
    uint8_t buf[16];
    feed("Tr1");
    EXPECT_EQ(TrSerial_Receive(&h, 4, buf), 0u) << "a packet header needs 4 bytes";
    feed("2");
    EXPECT_EQ(TrSerial_Receive(&h, 4, buf), 4u);
    EXPECT_EQ(tr_rcv, 1);
    feed("xy");
    EXPECT_EQ(TrSerial_Receive(&h, 4, buf), 2u) << "within a packet";
    EXPECT_EQ(tr_rcv, 0);
    EXPECT_EQ(TrSerial_Send(h, reinterpret_cast<const uint8_t *>("ok"), 2), 2u);
    usleep(20000);
    char back[4] = {};
    EXPECT_EQ(read(master, back, sizeof back), 2);
    EXPECT_STREQ(back, "ok");
    IsCommMode_Vibus = 0;
    feed("HR");
    EXPECT_EQ(TrSerial_Receive(&h, 16, buf), 0u);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(IsCommMode_Vibus, 1);
    EXPECT_EQ(g_given_back, 1);
    // A port the panel closed meanwhile is neither written nor read.
    EXPECT_EQ(TrSerial_Open(&h), 1);
    g_port_open = false;
    feed("Tr12");
    EXPECT_EQ(TrSerial_Send(h, reinterpret_cast<const uint8_t *>("ok"), 2), 0u);
    EXPECT_EQ(TrSerial_Receive(&h, 16, buf), 0u);
    EXPECT_EQ(h, -1);
    close(slave);
    close(master);
}

TEST_F(Os, ClockTexts) {
    // Wednesday 5 June 2024, 13:04:05.250 on the panel's clock.
    tm t{};
    t.tm_year = 124;
    t.tm_mon = 5;
    t.tm_mday = 5;
    t.tm_hour = 13;
    t.tm_min = 4;
    t.tm_sec = 5;
    host::set_wall_ns(int64_t(timegm(&t)) * 1000000000 + 250000000);
    char text[32];
    EXPECT_EQ(TrRtClk_GetString(2, text), 9u);
    EXPECT_STREQ(text, "Wednesday");
    EXPECT_EQ(TrRtClk_GetString(1, text), 8u);
    EXPECT_STREQ(text, "13:04:05");
    EXPECT_EQ(TrRtClk_GetString(0, text), 10u);
    EXPECT_STREQ(text, "2024/06/05");
    EXPECT_EQ(TrRtClk_GetCurDateStamp(), (2024u << 16) | (6u << 8) | 5u);
    EXPECT_EQ(TrRtClk_GetCurTimeStamp(), 47045250u);
    uint32_t date = 0, time = 0;
    uint8_t flag = 9;
    TrRtClk_GetCurDateTimeStamp(1, &date, &time, &flag);
    EXPECT_EQ(date, (2024u << 16) | (6u << 8) | 5u);
    EXPECT_EQ(time, 47045250u);
    EXPECT_EQ(flag, 0);
    // UTC from the controller's UTC calendar, two hours behind.
    const uint16_t utc[6] = {5, 4, 11, 5, 6, 2024};
    for (int i = 0; i < 6; ++i)
        sr_put(212 + i, utc[i]);
    TrRtClk_GetCurDateTimeStamp(0, &date, &time, &flag);
    EXPECT_EQ(date, (2024u << 16) | (6u << 8) | 5u);
    EXPECT_EQ(time, 39845250u);
}

TEST_F(Os, TheVmTickIgnoresTheWallClock) {
    host::clock_use_virtual();
    uint64_t ms = FPGA_GetFrt64() / 10 % 86400000;
    host::clock_advance_ms(86399999 - ms); // the last millisecond of a day
    EXPECT_EQ(Tr_VmTick(), 86399999u);
    host::set_wall_ns(0);
    EXPECT_EQ(Tr_VmTick(), 86399999u);
    host::clock_advance_ms(1);
    EXPECT_EQ(Tr_VmTick(), 1u) << "a tick of 0 would read as no cycle yet";
    host::clock_advance_ms(5);
    EXPECT_EQ(Tr_VmTick(), 5u);
}

} // namespace
