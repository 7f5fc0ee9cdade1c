// The panel as a Modbus RTU and ASCII slave against real masters: mbpoll
// over the windows of the address map, a libmodbus master for the raw
// quantities, byte counts and functions, the test's own bytes for what a
// master never sends (bad CRC, noise, foreign ids, listen-only), pymodbus
// for the ASCII framing.
#include "modbus_fixture.h"
#include "plc/ladder.h"
#include "regs/sr.h"

#include <modbus.h>

#include <cerrno>
#include <map>
#include <regex>

namespace {

// The values mbpoll printed, by reference.
std::map<int, long> mbpoll_values(const std::string &out) {
    std::map<int, long> v;
    std::regex line(R"(\[(\d+)\]:\s+(-?\d+))");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator();
         ++it)
        v[std::stoi((*it)[1])] = std::stol((*it)[2]);
    return v;
}

uint8_t *bits_at(uint32_t area) {
    return plc_reg + area;
}
int bit(uint32_t area, int n) {
    return (bits_at(area)[(n - 1) / 8] >> ((n - 1) % 8)) & 1;
}
void set_bit(uint32_t area, int n, int on) {
    uint8_t &b = bits_at(area)[(n - 1) / 8];
    b = on ? uint8_t(b | (1 << ((n - 1) % 8))) : uint8_t(b & ~(1 << ((n - 1) % 8)));
}

class ModbusSlaveTest : public ModbusTest {
protected:
    // Values to write follow the device.
    std::string mbpoll(const std::string &args, int *rc = nullptr, const std::string &values = "") {
        return run_peer("mbpoll -m rtu -b 19200 -P none -a 1 -o 2 -1 " + args + " " + peer_path +
                            " " + values,
                        rc);
    }
};

TEST_F(ModbusSlaveTest, MbpollReadsEveryWindowOfTheMap) {
    start_slave();
    for (int i = 1; i <= 10; ++i)
        set_r(i, uint16_t(76 + i));
    put_le16(plc_reg + reg::kAQ, 501);
    put_le16(plc_reg + reg::kAQG, 502);
    put_le16(plc_reg + reg::kAI, 503);
    put_le16(plc_reg + reg::kAIG, 504);
    put_le16(plc_reg + reg::kSR, 505);
    set_bit(reg::kQ, 2, 1);
    set_bit(RegTokLen_16b ? reg::kM : reg::kEM, 1, 1);
    set_bit(RegTokLen_16b ? reg::kT : reg::kET, 3, 1);
    set_bit(reg::kQG, 1, 1);
    set_bit(reg::kI, 1, 1);
    set_bit(reg::kIG, 2, 1);
    set_bit(reg::kS, 1, 1);
    set_bit(reg::kK, 4, 1);
    struct Case {
        const char *args;
        std::map<int, long> want;
    };
    const Case cases[] = {
        {"-t 4 -r 513 -c 10", {{513, 77}, {514, 78}, {515, 79}, {516, 80}, {517, 81}, {522, 86}}},
        {"-t 4 -r 3001 -c 2", {{3001, 77}, {3002, 78}}},
        {"-t 4 -r 10001 -c 1", {{10001, 77}}},
        {"-t 4 -r 1 -c 1", {{1, 501}}},
        {"-t 4 -r 6001 -c 1", {{6001, 502}}},
        {"-t 3 -r 1 -c 1", {{1, 503}}},
        {"-t 3 -r 3001 -c 1", {{3001, 504}}},
        {"-t 3 -r 4001 -c 1", {{4001, 505}}},
        {"-t 0 -r 1 -c 3", {{1, 0}, {2, 1}, {3, 0}}},
        {"-t 0 -r 3001 -c 1", {{3001, 1}}},
        {"-t 0 -r 6003 -c 1", {{6003, 1}}},
        {"-t 0 -r 9001 -c 1", {{9001, 1}}},
        {"-t 1 -r 1 -c 1", {{1, 1}}},
        {"-t 1 -r 3002 -c 1", {{3002, 1}}},
        {"-t 1 -r 4001 -c 1", {{4001, 1}}},
        {"-t 1 -r 5004 -c 1", {{5004, 1}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        int rc = -1;
        std::string out = mbpoll(c.args, &rc);
        EXPECT_EQ(rc, 0) << out;
        std::map<int, long> got = mbpoll_values(out);
        for (auto [ref, value] : c.want)
            EXPECT_EQ(got[ref], value) << ref << "\n" << out;
    }
}

TEST_F(ModbusSlaveTest, MbpollWritesLandInTheRegisters) {
    start_slave();
    int rc = -1;
    std::string out = mbpoll("-t 4 -r 513", &rc, "1234 5678"); // function 16
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(r(1), 1234);
    EXPECT_EQ(r(2), 5678);
    out = mbpoll("-t 4 -r 3003", &rc, "99"); // function 6
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(r(3), 99);
    out = mbpoll("-t 0 -r 5", &rc, "1"); // function 5
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(bit(reg::kQ, 5), 1);
    out = mbpoll("-t 0 -r 9", &rc, "1 0 1"); // function 15
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(bit(reg::kQ, 9), 1);
    EXPECT_EQ(bit(reg::kQ, 10), 0);
    EXPECT_EQ(bit(reg::kQ, 11), 1);
    // Through the holding window of %AQ, and the counter of answers.
    out = mbpoll("-t 4 -r 2", &rc, "7");
    EXPECT_EQ(le16(plc_reg + reg::kAQ + 2), 7);
    EXPECT_EQ(pcb[kPort].link.counters[kSlaveResponses], 5);
}

// A libmodbus master in a thread of its own, running a list of requests
// while the engine is pumped.
class LibmodbusMaster {
public:
    explicit LibmodbusMaster(const std::string &device) {
        ctx = modbus_new_rtu(device.c_str(), 19200, 'N', 8, 1);
        modbus_set_slave(ctx, 1);
        modbus_set_response_timeout(ctx, 1, 0);
        ok = ctx && modbus_connect(ctx) == 0;
    }
    ~LibmodbusMaster() {
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }
    // A raw request (slave id first); the exception code of the answer, 0 for
    // a normal answer, -1 for none.
    int raw(std::vector<uint8_t> req, std::vector<uint8_t> *answer = nullptr) {
        if (modbus_send_raw_request(ctx, req.data(), int(req.size())) < 0) return -1;
        uint8_t rsp[MODBUS_RTU_MAX_ADU_LENGTH];
        int n = modbus_receive_confirmation(ctx, rsp);
        if (n < 0) return -1;
        if (n >= 3 && (rsp[1] & 0x80)) return rsp[2];
        if (answer) answer->assign(rsp, rsp + n);
        return 0;
    }
    modbus_t *ctx = nullptr;
    bool ok = false;
};

TEST_F(ModbusSlaveTest, QuantitiesByteCountsAndFunctionsAnswerAsMastersExpect) {
    start_slave();
    set_r(1, 11);
    set_r(2, 22);
    struct Case {
        const char *what;
        std::vector<uint8_t> request; // slave id first, no CRC
        int exception;                // 0 a normal answer
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"holding %AQ edge",          {1, 3, 0x01, 0xFF, 0, 2}, 3},
        {"holding %AQ last two",      {1, 3, 0x01, 0xFE, 0, 2}, 0},
        {"holding %R1 window edge",   {1, 3, 0x0B, 0xB7, 0, 2}, 3},
        {"holding %AQG edge",         {1, 3, 0x17, 0x8E, 0, 3}, 3},
        {"read count 0",              {1, 3, 0x02, 0x00, 0, 0}, 3},
        {"read count 125",            {1, 3, 0x02, 0x00, 0, 125}, 0},
        {"read count 126",            {1, 3, 0x02, 0x00, 0, 126}, 3},
        {"coils count 2001",          {1, 1, 0, 0, 0x07, 0xD1}, 3},
        {"coils count 0",             {1, 1, 0, 0, 0, 0}, 3},
        {"coils %Q edge",             {1, 1, 0x07, 0xFF, 0, 2}, 3},
        {"inputs %K edge",            {1, 2, 0x14, 0x87, 0, 2}, 3},
        {"input regs %SR edge",       {1, 4, 0x10, 0x5F, 0, 2}, 3},
        {"input regs %AI last",       {1, 4, 0x01, 0xFF, 0, 1}, 0},
        {"write count 0",             {1, 16, 0x02, 0x00, 0, 0, 0}, 3},
        {"write byte count short",    {1, 16, 0x02, 0x00, 0, 2, 2, 0x12, 0x34}, 3},
        {"write byte count long",     {1, 16, 0x02, 0x00, 0, 1, 4, 0x12, 0x34, 0x56, 0x78}, 3},
        {"coils byte count short",    {1, 15, 0, 0, 0, 9, 1, 0xFF}, 3},
        {"diagnostics unknown sub",   {1, 8, 0, 3, 0, 0}, 2},
        {"unserved function",         {1, 43, 14, 1, 0}, 1},
        {"unserved function 20",      {1, 20, 0}, 1},
    };
    // clang-format on
    std::vector<int> got(cases.size(), -2);
    std::atomic<bool> done{false};
    std::thread master([&] {
        LibmodbusMaster m(peer_path);
        for (size_t i = 0; m.ok && i < cases.size(); ++i)
            got[i] = m.raw(cases[i].request);
        done = true;
    });
    pump_until([&] { return done.load(); }, 30000);
    master.join();
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(got[i], cases[i].exception) << cases[i].what;
    // The refused writes left the registers alone.
    EXPECT_EQ(r(1), 11);
    EXPECT_EQ(r(2), 22);
    EXPECT_EQ(pcb[kPort].link.counters[kExceptions], 17);
}

TEST_F(ModbusSlaveTest, MaskWriteEchoesItsWholeRequestAndReadWriteAnswersItsRead) {
    start_slave();
    set_r(1, 0x0012);
    set_r(5, 0x0505);
    int mask_rc = -2, rw_rc = -2;
    uint16_t read_back[2] = {};
    std::atomic<bool> done{false};
    std::thread master([&] {
        LibmodbusMaster m(peer_path);
        if (m.ok) {
            // libmodbus checks that the answer is the whole request.
            mask_rc = modbus_mask_write_register(m.ctx, 512, 0x00F2, 0x0025);
            const uint16_t w[2] = {0x1111, 0x2222};
            rw_rc = modbus_write_and_read_registers(m.ctx, 513, 2, w, 515, 2, read_back);
        }
        done = true;
    });
    pump_until([&] { return done.load(); }, 10000);
    master.join();
    EXPECT_EQ(mask_rc, 1);
    EXPECT_EQ(r(1), 0x0017); // (0x12 AND 0xF2) OR (0x25 AND NOT 0xF2)
    EXPECT_EQ(rw_rc, 2);
    EXPECT_EQ(r(2), 0x1111);
    EXPECT_EQ(r(3), 0x2222);
    EXPECT_EQ(read_back[0], 0);
    EXPECT_EQ(read_back[1], 0x0505);
}

TEST_F(ModbusSlaveTest, WriteInhibitRefusesEveryRegisterWrite) {
    open_port();
    ModbusSetup s = slave_setup(1);
    s.inhibit = reg::kRefM; // %M1
    ModbusInit(kPort, s);
    plc_reg[reg::kM] = 1;
    set_r(1, 5);
    struct Case {
        std::vector<uint8_t> request;
        int exception;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{1, 6, 0x02, 0x00, 0, 9}, 1},
        {{1, 16, 0x02, 0x00, 0, 1, 2, 0, 9}, 1},
        {{1, 5, 0, 0, 0xFF, 0}, 1},
        {{1, 15, 0, 0, 0, 1, 1, 1}, 1},
        {{1, 22, 0x02, 0x00, 0, 0, 0, 9}, 1},
        {{1, 23, 0x02, 0x00, 0, 1, 0x02, 0x00, 0, 1, 2, 0, 9}, 1},
        {{1, 3, 0x02, 0x00, 0, 1}, 0},
    };
    // clang-format on
    for (const Case &c : cases) {
        std::vector<uint8_t> a = exchange(c.request);
        ASSERT_GE(a.size(), 3u);
        if (c.exception)
            EXPECT_EQ(a[1], c.request[1] | 0x80) << int(c.request[1]);
        else
            EXPECT_EQ(a[1], c.request[1]);
    }
    EXPECT_EQ(r(1), 5);
    EXPECT_EQ(bit(reg::kQ, 1), 0);
}

TEST_F(ModbusSlaveTest, SilentForOthersBadCrcAndBroadcastsButTakesFramesBeforeNoise) {
    start_slave(1);
    // Another slave's request, and ours with a broken CRC: no answer.
    send_raw(with_crc({2, 3, 0x02, 0x00, 0, 1}));
    EXPECT_TRUE(collect().empty());
    std::vector<uint8_t> bad = with_crc({1, 3, 0x02, 0x00, 0, 1});
    bad.back() ^= 0xFF;
    send_raw(bad);
    EXPECT_TRUE(collect().empty());
    EXPECT_EQ(pcb[kPort].link.counters[kBusErrors], 1);
    // A broadcast write is done and not answered; a broadcast mask write is
    // not done.
    send_raw(with_crc({0, 6, 0x02, 0x00, 0x12, 0x34}));
    EXPECT_TRUE(collect().empty());
    EXPECT_EQ(r(1), 0x1234);
    send_raw(with_crc({0, 22, 0x02, 0x00, 0, 0, 0, 0}));
    EXPECT_TRUE(collect().empty());
    EXPECT_EQ(r(1), 0x1234);
    // A frame followed by noise within the same burst: taken at its length.
    std::vector<uint8_t> noisy = with_crc({1, 3, 0x02, 0x00, 0, 1});
    noisy.insert(noisy.end(), {0x55, 0xAA, 0x13});
    send_raw(noisy);
    std::vector<uint8_t> a = collect(7);
    ASSERT_EQ(a.size(), 7u);
    EXPECT_EQ(a[0], 1);
    EXPECT_EQ(a[1], 3);
    EXPECT_EQ(a[2], 2);
    EXPECT_EQ(a[3], 0x12);
    EXPECT_EQ(a[4], 0x34);
}

TEST_F(ModbusSlaveTest, TwoByteAddressesAnswerWithBothBytes) {
    start_slave(0x0102);
    set_r(1, 0x0A0B);
    struct Case {
        uint8_t hi, lo;
        bool answered;
    };
    for (Case c : {Case{1, 2, true}, Case{1, 9, true}, Case{9, 2, true}, Case{9, 9, false}}) {
        std::vector<uint8_t> a = exchange({c.hi, c.lo, 3, 0x02, 0x00, 0, 1});
        if (c.answered)
            EXPECT_EQ(a, (std::vector<uint8_t>{c.hi, c.lo, 3, 2, 0x0A, 0x0B})) << int(c.hi);
        else
            EXPECT_TRUE(a.empty());
    }
}

TEST_F(ModbusSlaveTest, DiagnosticsAndListenOnly) {
    start_slave(1);
    struct Step {
        const char *what;
        std::vector<uint8_t> request;
        std::vector<uint8_t> answer; // empty: none
    };
    // clang-format off
    const std::vector<Step> steps = {
        {"echo",                  {1, 8, 0, 0, 0x12, 0x34}, {1, 8, 0, 0, 0x12, 0x34}},
        {"diagnostic register",   {1, 8, 0, 2, 0, 0},       {1, 8, 0, 2, 0, 0}},
        {"short diagnostics",     {1, 8, 0, 0, 0x12},       {1, 0x88, 3}},
        {"listen only",           {1, 8, 0, 4, 0, 0},       {}},
        {"ignored while listening", {1, 3, 0x02, 0x00, 0, 1}, {}},
        {"restart leaves it",     {1, 8, 0, 1, 0, 0},       {}},
        {"read again",            {1, 3, 0x02, 0x00, 0, 1}, {1, 3, 2, 0, 0}},
        {"bus messages",          {1, 8, 0, 11, 0, 0},      {1, 8, 0, 11, 0, 2}},
        {"responses sent",        {1, 8, 0, 14, 0, 0},      {1, 8, 0, 14, 0, 2}},
        {"exceptions",            {1, 8, 0, 13, 0, 0},      {1, 8, 0, 13, 0, 0}},
        {"bus errors",            {1, 8, 0, 12, 0, 0},      {1, 8, 0, 12, 0, 0}},
        {"clear counters",        {1, 8, 0, 10, 0, 0},      {1, 8, 0, 10, 0, 0}},
        {"ignored count",         {1, 8, 0, 15, 0, 0},      {1, 8, 0, 15, 0, 0}},
        {"restart answers",       {1, 8, 0, 1, 0, 0},       {1, 8, 0, 1, 0, 0}},
        {"unknown sub",           {1, 8, 0, 5, 0, 0},       {1, 0x88, 2}},
    };
    // clang-format on
    for (const Step &s : steps)
        EXPECT_EQ(exchange(s.request), s.answer) << s.what;
}

TEST_F(ModbusSlaveTest, AddressTranslationForwardsToThePartner) {
    open_port();
    ModbusSetup s = slave_setup(1);
    s.pairs = 2;
    s.table = R(kTableReg);
    set_r(kTableReg, 0x0507);
    set_r(kTableReg + 1, 0x0809);
    ModbusInit(kPort, s);
    struct Case {
        uint8_t to, forwarded;
        uint16_t toggled;
    };
    for (Case c : {Case{5, 7, 0x02}, Case{9, 8, 0x04}}) {
        uint16_t before = r(kStatusReg);
        send_raw(with_crc({c.to, 3, 0, 0, 0, 1}));
        std::vector<uint8_t> got = collect(8);
        EXPECT_EQ(got, with_crc({c.forwarded, 3, 0, 0, 0, 1})) << int(c.to);
        EXPECT_EQ((r(kStatusReg) ^ before) & 0x06, c.toggled);
    }
    // An address no pair names goes nowhere.
    send_raw(with_crc({6, 3, 0, 0, 0, 1}));
    EXPECT_TRUE(collect().empty());
}

TEST_F(ModbusSlaveTest, UnsolicitedFrameAndStatusBits) {
    start_slave(1);
    const uint8_t text[] = {'h', 'e', 'y'};
    std::memcpy(R(kRequestReg), text, 3);
    set_r(kTriggerReg, 3);
    std::vector<uint8_t> got = collect(5);
    EXPECT_EQ(got, with_crc({'h', 'e', 'y'}));
    step();
    EXPECT_EQ(r(kStatusReg) & 0x100, 0x100);
    set_r(kTriggerReg, 0);
    step();
    EXPECT_EQ(r(kStatusReg) & 0x700, 0);
    set_r(kTriggerReg, 300); // longer than the buffer
    step();
    EXPECT_EQ(r(kStatusReg) & 0x200, 0x200);
    set_r(kTriggerReg, 0);
    // An accepted request toggles 0x08; a bad frame shows 0x80 for one pass.
    uint16_t before = r(kStatusReg);
    exchange({1, 3, 0, 0, 0, 1});
    EXPECT_EQ((r(kStatusReg) ^ before) & 0x08, 0x08);
    std::vector<uint8_t> bad = with_crc({1, 3, 0, 0, 0, 1});
    bad[2] ^= 1;
    send_raw(bad);
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
        step();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        seen = r(kStatusReg) & 0x80;
    }
    EXPECT_TRUE(seen);
    step();
    EXPECT_EQ(r(kStatusReg) & 0x80, 0);
}

TEST_F(ModbusSlaveTest, SlaveTimeoutBitWithoutRequests) {
    open_port();
    ModbusSetup s = slave_setup(1);
    s.timeout = 2; // 200 ms
    ModbusInit(kPort, s);
    step();
    EXPECT_EQ(r(kStatusReg) & 1, 0);
    host::clock_advance_ms(250);
    step();
    EXPECT_EQ(r(kStatusReg) & 1, 1);
    send_raw(with_crc({1, 3, 0, 0, 0, 1}));
    EXPECT_EQ(collect(7).size(), 7u);
    EXPECT_EQ(r(kStatusReg) & 1, 0);
}

// The ASCII framing against pymodbus's ASCII framer.
TEST_F(ModbusSlaveTest, AsciiSlaveServesPymodbus) {
    start_slave(1, true);
    set_r(1, 4321);
    const std::string script =
        "import sys\n"
        "from pymodbus.client import ModbusSerialClient\n"
        "from pymodbus.transaction import ModbusAsciiFramer\n"
        "c = ModbusSerialClient(port=sys.argv[1], framer=ModbusAsciiFramer, baudrate=19200,"
        " bytesize=8, parity='N', stopbits=1, timeout=2)\n"
        "c.connect()\n"
        "r = c.read_holding_registers(512, 2, slave=1)\n"
        "print('read', r.registers[0], r.registers[1])\n"
        "w = c.write_register(513, 777, slave=1)\n"
        "print('write', w.isError())\n"
        "e = c.read_holding_registers(511, 2, slave=1)\n"
        "print('exception', e.exception_code)\n";
    std::string file = root_dir + "/ascii_master.py";
    FILE *f = fopen(file.c_str(), "w");
    ASSERT_TRUE(f);
    fputs(script.c_str(), f);
    fclose(f);
    int rc = -1;
    std::string out = run_peer("/usr/bin/python3 " + file + " " + peer_path, &rc);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("read 4321 0"), std::string::npos) << out;
    EXPECT_NE(out.find("write False"), std::string::npos) << out;
    EXPECT_NE(out.find("exception 3"), std::string::npos) << out;
    EXPECT_EQ(r(2), 777);
}

TEST_F(ModbusSlaveTest, AsciiFramesInLowerCaseHexAreRejected) {
    start_slave(1, true);
    set_r(1, 0xABCD);
    auto ascii = [](const std::vector<uint8_t> &f, bool lower) {
        const char *hex = lower ? "0123456789abcdef" : "0123456789ABCDEF";
        std::string s = ":";
        uint8_t sum = 0;
        for (uint8_t b : f) {
            s += hex[b >> 4];
            s += hex[b & 15];
            sum = uint8_t(sum + b);
        }
        sum = uint8_t(-sum);
        s += hex[sum >> 4];
        s += hex[sum & 15];
        return s + "\r\n";
    };
    auto bytes = [](const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    // 0xFA: the request's LRC has letters in it.
    std::vector<uint8_t> req = {1, 3, 0x02, 0x00, 0, 1};
    send_raw(bytes(ascii(req, true)));
    EXPECT_TRUE(collect().empty());
    EXPECT_EQ(pcb[kPort].link.counters[kBusErrors], 1);
    send_raw(bytes(ascii(req, false)));
    std::vector<uint8_t> got = collect(15);
    EXPECT_EQ(std::string(got.begin(), got.end()), ascii({1, 3, 2, 0xAB, 0xCD}, false));
}

} // namespace
