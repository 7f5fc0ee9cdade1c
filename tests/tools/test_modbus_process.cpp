// The Modbus server of a running panel against real masters on loopback:
// mbpoll, a libmodbus client written here, pymodbus over UDP, and tshark
// decoding what went over the wire.
#include "process_util.h"
#include "supervised_panel.h"

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// A port free for both TCP and UDP on loopback.
uint16_t free_port() {
    for (int tries = 0; tries < 50; ++tries) {
        int t = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        bind(t, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        getsockname(t, reinterpret_cast<sockaddr *>(&sa), &len);
        int u = socket(AF_INET, SOCK_DGRAM, 0);
        bool ok = bind(u, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
        uint16_t port = ntohs(sa.sin_port);
        close(t);
        close(u);
        if (ok) return port;
    }
    return 0;
}

class ModbusProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        port = free_port();
        ASSERT_NE(port, 0);
        // The panel's port 502 is this free port.
        setenv("PANEL_PORTS", ("502:" + std::to_string(port)).c_str(), 1);
    }
    void TearDown() override {
        if (mb) {
            modbus_close(mb);
            modbus_free(mb);
        }
        SupervisedPanelTest::TearDown();
        unsetenv("PANEL_PORTS");
    }
    // A panel running the application of `ethernet` (the configuration's
    // lines), in Run.
    void start_with(const std::string &ethernet) {
        start();
        stop();
        std::string json = "{\"io_config\": [{\"u16\": [255, 0]}, {\"u16\": [255, 0]}, "
                           "{\"ethernet\": \"address 192.168.1.10\\nmask 255.255.255.0\\n" +
                           ethernet + "\"}]}";
        write_file("/prog/app.json", json);
        int rc = 0;
        std::string out =
            run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + root_dir + "/prog/app.json", &rc);
        ASSERT_EQ(rc, 0) << out;
        start();
        ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);
    }
    // mbpoll's output; values to write follow the host.
    std::string mbpoll(const std::string &args, const std::string &values = "") {
        return run("mbpoll -m tcp -p " + std::to_string(port) + " -a 1 -0 -1 -o 2 " + args +
                   " 127.0.0.1 " + values);
    }
    // A libmodbus client connected to the panel.
    void connect_client() {
        ASSERT_TRUE(wait_for(
            [&] {
                if (mb) modbus_free(mb);
                mb = modbus_new_tcp("127.0.0.1", port);
                return modbus_connect(mb) == 0;
            },
            5000));
        modbus_set_response_timeout(mb, 2, 0);
    }
    // A raw request (unit, PDU); the whole answer, or the error number.
    std::vector<uint8_t> raw(const std::vector<uint8_t> &pdu, int *err) {
        std::vector<uint8_t> req = {1};
        req.insert(req.end(), pdu.begin(), pdu.end());
        *err = 0;
        std::vector<uint8_t> rsp(MODBUS_TCP_MAX_ADU_LENGTH);
        if (modbus_send_raw_request(mb, req.data(), int(req.size())) < 0) {
            *err = errno;
            return {};
        }
        int n = modbus_receive_confirmation(mb, rsp.data());
        if (n < 0) {
            *err = errno;
            return {};
        }
        rsp.resize(size_t(n));
        // An exception answer: its code as the error number libmodbus uses.
        if (rsp.size() == 9 && (rsp[7] & 0x80)) *err = int(MODBUS_ENOBASE + rsp[8]);
        return rsp;
    }

    uint16_t port = 0;
    modbus_t *mb = nullptr;
};

TEST_F(ModbusProcessTest, MbpollReadsAndWritesEveryArea) {
    start_with("modbus %M100 0 502\\n");
    ctl("reg set %R1 1234");
    ctl("reg set %AQ5 55");
    ctl("reg set %AI2 66");
    ctl("reg set %AIG1 77");
    ctl("reg set %IG3 1");
    ctl("reg set %I4 1");
    ctl("reg set %R2389 11");
    ctl("reg set %R2488 22");
    ctl("reg set %QG256 1");
    ASSERT_TRUE(
        wait_for([&] { return mbpoll("-t 4 -r 3000").find("1234") != std::string::npos; }, 5000));
    struct Case {
        const char *args;
        const char *shows; // in mbpoll's output
    };
    // clang-format off
    const Case reads[] = {
        {"-t 4 -r 3000 -c 10", "[3000]: \t1234"},  // %R1 through the second window
        {"-t 4 -r 10000", "[10000]: \t1234"},      // and the third
        {"-t 4 -r 512", "[512]: \t1234"},          // and the first, behind %AQ
        {"-t 4 -r 4", "[4]: \t55"},                // %AQ5
        {"-t 4 -r 2900 -c 100", "[2900]: \t11"},   // %R2389 ...
        {"-t 4 -r 2900 -c 100", "[2999]: \t22"},   // ... to %R2488
        {"-t 4 -r 2900 -c 101", "Illegal data address"},
        {"-t 3 -r 1", "[1]: \t66"},                // %AI2
        {"-t 3 -r 3000", "[3000]: \t77"},          // %AIG1
        {"-t 3 -r 4004", "[4004]: \t2"},           // %SR5, the run mode
        {"-t 1 -r 3002", "[3002]: \t1"},           // %IG3
        {"-t 1 -r 3", "[3]: \t1"},                 // %I4
        {"-t 1 -r 3999", "[3999]: \t1"},           // %QG256
        {"-t 1 -r 6000", "Illegal data address"},
    };
    // clang-format on
    for (const Case &c : reads)
        EXPECT_NE(mbpoll(c.args).find(c.shows), std::string::npos) << c.args << "\n"
                                                                   << mbpoll(c.args);

    // Writes, seen by panelctl.
    mbpoll("-t 4 -r 10001", "4321");
    EXPECT_EQ(reg("%R2"), 4321);
    mbpoll("-t 4 -r 6001", "99");
    EXPECT_EQ(reg("%AQG2"), 99);
    mbpoll("-t 0 -r 0", "1");
    EXPECT_EQ(reg("%Q1"), 1);
    EXPECT_NE(mbpoll("-t 0 -r 0").find("[0]: \t1"), std::string::npos);
    mbpoll("-t 0 -r 9001", "1");
    EXPECT_EQ(reg("%QG2"), 1);
    EXPECT_NE(mbpoll("-t 0 -r 9256", "1").find("Illegal data address"), std::string::npos);

    // The write-inhibit bit refuses every write, mapped or not.
    ctl("reg set %M100 1");
    EXPECT_NE(mbpoll("-t 0 -r 9256", "1").find("Illegal function"), std::string::npos);
    EXPECT_NE(mbpoll("-t 4 -r 10001", "1").find("Illegal function"), std::string::npos);
    EXPECT_EQ(reg("%R2"), 4321);
}

TEST_F(ModbusProcessTest, LibmodbusRoundTripsEdgesAndCraftedFrames) {
    start_with("modbus 0 0 502\\n");
    // tshark decodes what goes over the wire here.
    std::string cap = root_dir + "/modbus.pcap";
    pid_t tshark = fork();
    if (tshark == 0) {
        freopen((root_dir + "/tshark.log").c_str(), "w", stderr);
        execlp("tshark", "tshark", "-q", "-i", "lo", "-f",
               ("tcp port " + std::to_string(port)).c_str(), "-w", cap.c_str(), (char *)nullptr);
        _exit(127);
    }
    // tshark takes several seconds to start on a loaded machine.
    ASSERT_TRUE(wait_for(
        [&] { return slurp(root_dir + "/tshark.log").find("Capturing") != std::string::npos; },
        60000));
    connect_client();

    ctl("reg set %R10 321");
    uint16_t v[10] = {};
    ASSERT_EQ(modbus_read_registers(mb, 3000, 10, v), 10) << modbus_strerror(errno);
    EXPECT_EQ(v[9], 321);
    const uint16_t w[3] = {7, 8, 9};
    ASSERT_EQ(modbus_write_registers(mb, 10100, 3, w), 3);
    EXPECT_EQ(ctl("reg get %R101 3"), "%R101 = 7 8 9\n");
    uint8_t bits[10] = {1, 0, 1, 1, 0, 0, 0, 1, 1, 0};
    ASSERT_EQ(modbus_write_bits(mb, 1, 10, bits), 10);
    EXPECT_EQ(reg("%Q2"), 1);
    EXPECT_EQ(reg("%Q3"), 0);
    EXPECT_EQ(reg("%Q10"), 1);
    uint8_t back[10] = {};
    ASSERT_EQ(modbus_read_bits(mb, 1, 10, back), 10);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 10), std::vector<uint8_t>(bits, bits + 10));

    // Every window edge: the last address served, the first refused.
    struct Edge {
        int fc;
        int addr, count;
        bool ok;
    };
    // clang-format off
    const Edge edges[] = {
        {3, 511, 1, true}, {3, 511, 2, false}, {3, 2999, 1, true}, {3, 2998, 3, false},
        {3, 5999, 1, true}, {3, 5999, 2, true}, {3, 6031, 1, true}, {3, 6032, 1, false},
        {3, 20239, 1, true}, {3, 20240, 1, false},
        {4, 511, 1, true}, {4, 512, 1, false}, {4, 3031, 1, true}, {4, 3032, 1, false},
        {4, 4191, 1, true}, {4, 4192, 1, false},
        {1, 2047, 1, true}, {1, 9255, 1, true}, {1, 9255, 2, false}, {1, 9256, 1, false},
        {2, 2047, 1, true}, {2, 3255, 1, true}, {2, 3256, 1, false}, {2, 4255, 1, true},
        {2, 4256, 1, false}, {2, 5255, 1, true}, {2, 5256, 1, false}, {2, 6000, 1, false},
    };
    // clang-format on
    for (const Edge &e : edges) {
        uint16_t regs[4];
        uint8_t b[4];
        int r = e.fc == 3   ? modbus_read_registers(mb, e.addr, e.count, regs)
                : e.fc == 4 ? modbus_read_input_registers(mb, e.addr, e.count, regs)
                : e.fc == 1 ? modbus_read_bits(mb, e.addr, e.count, b)
                            : modbus_read_input_bits(mb, e.addr, e.count, b);
        if (e.ok)
            EXPECT_EQ(r, e.count) << e.fc << " " << e.addr << ": " << modbus_strerror(errno);
        else
            EXPECT_TRUE(r == -1 && errno == EMBXILADD) << e.fc << " " << e.addr << " " << r;
    }

    // Crafted requests.
    struct Raw {
        const char *what;
        std::vector<uint8_t> pdu;
        int err;
    };
    const Raw crafted[] = {
        {"quantity 0", {3, 0x0B, 0xB8, 0, 0}, EMBXILVAL},
        {"quantity 126", {3, 0x0B, 0xB8, 0, 126}, EMBXILVAL},
        {"quantity 2001", {1, 0, 0, 0x07, 0xD1}, EMBXILVAL},
        {"function 0x42", {0x42, 0, 0, 0, 1}, EMBXILFUN},
        {"byte count short", {16, 0x27, 0x10, 0, 2, 2, 0, 1}, EMBXILVAL},
    };
    for (const Raw &c : crafted) {
        int err = 0;
        raw(c.pdu, &err);
        EXPECT_EQ(err, c.err) << c.what;
    }
    int err = 0;
    std::vector<uint8_t> echo = raw({5, 0, 4, 0x01, 0x00}, &err);
    EXPECT_EQ(err, 0);
    ASSERT_EQ(echo.size(), 12u);
    EXPECT_EQ(echo[10], 0x01);
    EXPECT_EQ(echo[11], 0x00);
    EXPECT_EQ(reg("%Q5"), 1) << "coil value 0x0100 writes 1";

    // A request cut in two segments 200 ms apart, then two in one segment.
    int fd = modbus_get_socket(mb);
    std::vector<uint8_t> one = {0, 0x21, 0, 0, 0, 6, 1, 3, 0x0B, 0xC1, 0, 1}; // 3009: %R10
    ASSERT_EQ(send(fd, one.data(), 5, 0), 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(send(fd, one.data() + 5, 7, 0), 7);
    uint8_t rsp[MODBUS_TCP_MAX_ADU_LENGTH];
    ASSERT_EQ(modbus_receive_confirmation(mb, rsp), 11);
    EXPECT_EQ(rsp[1], 0x21);
    EXPECT_EQ(rsp[9] << 8 | rsp[10], 321);
    std::vector<uint8_t> two = one;
    two.insert(two.end(), one.begin(), one.end());
    two[1] = 0x22;
    two[13] = 0x23;
    ASSERT_EQ(send(fd, two.data(), two.size(), 0), ssize_t(two.size()));
    ASSERT_EQ(modbus_receive_confirmation(mb, rsp), 11);
    EXPECT_EQ(rsp[1], 0x22);
    ASSERT_EQ(modbus_receive_confirmation(mb, rsp), 11);
    EXPECT_EQ(rsp[1], 0x23) << "the second request of the segment is answered too";

    kill(tshark, SIGINT);
    int st;
    waitpid(tshark, &st, 0);
    int rc = 0;
    std::string decoded = run("tshark -r " + cap + " -d tcp.port==" + std::to_string(port) +
                                  ",mbtcp -Y mbtcp -T fields -e mbtcp.trans_id 2>/dev/null | cat",
                              &rc);
    EXPECT_EQ(rc, 0) << decoded;
    EXPECT_GE(std::count(decoded.begin(), decoded.end(), '\n'), 60) << "Modbus frames decoded:\n"
                                                                    << decoded;
    std::string malformed = run("tshark -r " + cap + " -d tcp.port==" + std::to_string(port) +
                                ",mbtcp -Y _ws.malformed 2>/dev/null | cat");
    EXPECT_EQ(malformed, "") << malformed;
}

TEST_F(ModbusProcessTest, PymodbusOverUdp) {
    start_with("modbus 0 1 502\\n");
    ctl("reg set %R1 1111");
    ctl("reg set %R3 3333");
    std::string script = "from pymodbus.client import ModbusUdpClient\n"
                         "c = ModbusUdpClient('127.0.0.1', port=" +
                         std::to_string(port) +
                         ", timeout=2, retries=5)\n"
                         "c.connect()\n"
                         "r = c.read_holding_registers(3000, 3, slave=1)\n"
                         "print('read', r.registers)\n"
                         "w = c.write_register(10001, 4242, slave=1)\n"
                         "print('wrote', w.isError())\n"
                         "e = c.read_holding_registers(20240, 1, slave=1)\n"
                         "print('refused', e.exception_code)\n"
                         "c.close()\n";
    write_file("/prog/udp.py", script);
    std::string out;
    ASSERT_TRUE(wait_for(
        [&] {
            out = run("/usr/bin/python3 " + root_dir + "/prog/udp.py");
            return out.find("read [1111, 0, 3333]") != std::string::npos;
        },
        10000))
        << out;
    EXPECT_NE(out.find("wrote False"), std::string::npos) << out;
    EXPECT_NE(out.find("refused 2"), std::string::npos) << out;
    EXPECT_EQ(reg("%R2"), 4242);
}

// The example application, as its README paragraph uses it.
TEST_F(ModbusProcessTest, ExampleServesHoldingRegistersOnlyInRun) {
    start();
    stop();
    int rc = 0;
    std::string out =
        run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + src("examples/modbus.json"), &rc);
    ASSERT_EQ(rc, 0) << out;
    start();
    ctl("reg set %SR5 2");
    ctl("reg set %R1 1234");
    ASSERT_TRUE(wait_for(
        [&] { return mbpoll("-t 4 -r 3000 -c 10").find("[3000]: \t1234") != std::string::npos; },
        5000))
        << mbpoll("-t 4 -r 3000 -c 10");
    EXPECT_NE(mbpoll("-t 4 -r 3000 -c 10").find("[3009]: \t0"), std::string::npos);
    mbpoll("-t 4 -r 3000", "5678");
    EXPECT_EQ(reg("%R1"), 5678);
    ctl("reg set %SR5 0");
    EXPECT_TRUE(wait_for(
        [&] { return mbpoll("-t 4 -r 3000").find("Connection refused") != std::string::npos; },
        3000))
        << mbpoll("-t 4 -r 3000");
}

} // namespace
