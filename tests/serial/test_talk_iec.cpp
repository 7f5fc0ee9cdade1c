// The IEC blocks' communication services: the serial Modbus engine on
// arrays of a running IEC application (a slave map served to mbpoll and raw
// requests, a master against a libmodbus slave), raw sends and receives into
// the application's variables, and the records that name places outside the
// application's database, which are refused without a write.
#include "iec/kernel/iec.h"
#include "iec/kernel/vm_db.h"
#include "modbus_fixture.h"
#include "serial/serial.h"
#include "serial/talk_instr.h"

#include <modbus.h>

#include <map>
#include <regex>

namespace {

// Indexes count per data width: 16-bit hold 1-10, inreg 11-14, status 15,
// trig 16, req 17-24, map 25-41, count 42; 8-bit coils 1-16, dins 17-24,
// buf 25-40; 32-bit dd 1-4.
const char *kApp = ".var INT hold[10]\n.var INT inreg[4]\n.var INT status\n.var INT trig\n"
                   ".var INT req[8]\n.var INT map[17]\n.var INT count\n"
                   ".var BOOL coils[16]\n.var BOOL dins[8]\n.var DINT dd[4]\n.var USINT buf[16]\n";
constexpr uint16_t kInt = 11, kBool = 1, kDint = 2, kUsint = 14;
constexpr uint32_t kHold = 1, kInreg = 11, kStatus = 15, kTrig = 16, kReq = 17, kMap = 25,
                   kCount = 42, kCoils = 1, kDins = 17, kDd = 1, kBuf = 25;

class TalkIecTest : public ModbusTest {
protected:
    void SetUp() override {
        ModbusTest::SetUp();
        ASSERT_EQ(vm.build(iec_app(kApp)), 0);
        pDB = vm.db();
        pDBSize = uint32_t(vm.mem.size());
        TrevantRuntime = 1;
        trevant_variables_enumerateded = 1;
        open_port();
    }
    // The database offset of a variable.
    uint32_t at(uint16_t type, uint32_t index) { return uint32_t(vm.var(type, index) - vm.db()); }
    // The offset just past a segment: 6 holds the 8-bit, 7 the 16-bit data.
    uint32_t segment_end(uint32_t k) {
        uint32_t n = 0;
        uint8_t *seg = TrDB_Segment(vm.db(), pDBSize, k, &n);
        EXPECT_NE(seg, nullptr);
        return uint32_t(seg - vm.db()) + n;
    }
    uint16_t i16(uint32_t index) { return le16(vm.var(kInt, index)); }
    void set_i16(uint32_t index, uint16_t v) { put_le16(vm.var(kInt, index), v); }

    // The engine call record: port, slave, time-out, trigger, request, status.
    void call(uint32_t slave, uint32_t trigger, uint32_t request, uint32_t status,
              uint32_t port = kPort) {
        const uint32_t w[6] = {port, slave, 5, trigger, request, status};
        for (int i = 0; i < 6; ++i)
            put_le32(record + 4 * i, w[i]);
    }
    // The map: discrete inputs, coils, input and holding registers; counts.
    void map(uint32_t dins, uint32_t nd, uint32_t coils, uint32_t nc, uint32_t inreg, uint32_t ni,
             uint32_t hold, uint32_t nh, uint16_t size = 1) {
        uint8_t *m = vm.var(kInt, kMap);
        const uint32_t w[8] = {dins, coils, inreg, hold, nd, nc, ni, nh};
        for (int i = 0; i < 8; ++i)
            put_le32(m + 4 * i, w[i]);
        put_le16(m + 32, size);
    }
    void start_iec_slave() {
        map(at(kBool, kDins), 8, at(kBool, kCoils), 16, at(kInt, kInreg), 4, at(kInt, kHold), 10);
        call(1, 0, at(kInt, kMap), at(kInt, kStatus));
        ASSERT_EQ(Tr_TalkModbus(record, 1), 1);
    }
    // The master's request: slave, function, address, count, data, index, size.
    void request(uint16_t slave, uint16_t fn, uint16_t a, uint16_t n, uint32_t data,
                 uint16_t index = 0, uint16_t size = 1) {
        const uint16_t w[8] = {slave, fn, a, n, uint16_t(data), uint16_t(data >> 16), index, size};
        for (int i = 0; i < 8; ++i)
            set_i16(kReq + i, w[i]);
    }
    // One scan of the block: the engine steps inside the call.
    uint8_t scan_block(uint8_t enable = 1) {
        uint8_t out = Tr_TalkModbus(record, enable);
        host::clock_advance_ms(1);
        return out;
    }
    // Raises the trigger, scans until the status word is set, drops it.
    uint16_t transact() {
        set_i16(kTrig, 1);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
        while (i16(kStatus) == 0 && std::chrono::steady_clock::now() < end) {
            scan_block();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        uint16_t st = i16(kStatus);
        set_i16(kTrig, 0);
        scan_block();
        return st;
    }

    VmDb vm;
    uint8_t record[24] = {};
};

TEST_F(TalkIecTest, SlaveMapServesMbpoll) {
    start_iec_slave();
    for (int i = 0; i < 10; ++i)
        set_i16(kHold + i, uint16_t(100 + i));
    set_i16(kInreg + 3, 77);
    *vm.var(kBool, kCoils + 2) = 1;
    *vm.var(kBool, kDins + 1) = 1;
    auto values = [](const std::string &out) {
        std::map<int, long> v;
        std::regex line(R"(\[(\d+)\]:\s+(-?\d+))");
        for (auto it = std::sregex_iterator(out.begin(), out.end(), line);
             it != std::sregex_iterator(); ++it)
            v[std::stoi((*it)[1])] = std::stol((*it)[2]);
        return v;
    };
    auto mbpoll = [&](const std::string &args, int *rc) {
        return run_peer("mbpoll -m rtu -b 19200 -P none -a 1 -o 2 -1 " + args, rc);
    };
    int rc = -1;
    std::map<int, long> got = values(mbpoll("-t 4 -r 1 -c 10 " + peer_path, &rc));
    ASSERT_EQ(rc, 0);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(got[1 + i], 100 + i);
    got = values(mbpoll("-t 3 -r 4 -c 1 " + peer_path, &rc));
    EXPECT_EQ(got[4], 77);
    got = values(mbpoll("-t 0 -r 1 -c 16 " + peer_path, &rc)); // 16 coils, 8 inputs: no matter
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(got[3], 1);
    EXPECT_EQ(got[4], 0);
    got = values(mbpoll("-t 1 -r 2 -c 1 " + peer_path, &rc));
    EXPECT_EQ(got[2], 1);
    // Writes land in the arrays.
    mbpoll("-t 4 -r 9 " + peer_path + " 4321 8765", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(i16(kHold + 8), 4321);
    EXPECT_EQ(i16(kHold + 9), 8765);
    mbpoll("-t 0 -r 16 " + peer_path + " 1", &rc);
    EXPECT_EQ(*vm.var(kBool, kCoils + 15), 1);
    // Past the table: exception 2, the array behind untouched.
    mbpoll("-t 4 -r 10 " + peer_path + " 1 2", &rc);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(i16(kInreg), 0);
}

TEST_F(TalkIecTest, SlaveAnswersOfTheMap) {
    start_iec_slave();
    set_i16(kHold, 0x1234);
    struct Case {
        const char *what;
        std::vector<uint8_t> request, answer;
    };
    // clang-format off
    const Case cases[] = {
        {"read within the table",    {1, 3, 0, 0, 0, 1},         {1, 3, 2, 0x12, 0x34}},
        {"read past the table",      {1, 3, 0, 8, 0, 3},         {1, 0x83, 2}},
        {"read of 0 registers",      {1, 3, 0, 0, 0, 0},         {1, 0x83, 3}},
        {"input bits past 8",        {1, 2, 0, 4, 0, 5},         {1, 0x82, 2}},
        {"coil write past 16",       {1, 5, 0, 16, 0xFF, 0},     {1, 0x85, 2}},
        {"write count and bytes",    {1, 16, 0, 0, 0, 2, 2, 0, 1, 0, 2}, {1, 0x90, 3}},
        {"mask write not served",    {1, 22, 0, 0, 0, 0, 0, 0},  {1, 0x96, 1}},
        {"read/write not served",    {1, 23, 0, 0, 0, 1, 0, 0, 0, 1, 2, 0, 9}, {1, 0x97, 1}},
        {"diagnostics echo",         {1, 8, 0, 0, 0xAB, 0xCD},   {1, 8, 0, 0, 0xAB, 0xCD}},
        {"unknown function",         {1, 9},                     {1, 0x89, 1}},
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(exchange(c.request), c.answer) << c.what;
    EXPECT_EQ(i16(kHold), 0x1234);
    // A broadcast write is done and not answered.
    EXPECT_TRUE(exchange({0, 6, 0, 1, 0x0B, 0xB8}).empty());
    EXPECT_EQ(i16(kHold + 1), 3000);
}

TEST_F(TalkIecTest, SlaveMapOf32BitElementsIsRegistersLowHalfFirst) {
    put_le32(vm.var(kDint, kDd), 0x11112222);
    put_le32(vm.var(kDint, kDd + 1), 0x33334444);
    map(0, 0, 0, 0, 0, 0, at(kDint, kDd), 8, 2);
    call(1, 0, at(kInt, kMap), at(kInt, kStatus));
    ASSERT_EQ(Tr_TalkModbus(record, 1), 1);
    EXPECT_EQ(exchange({1, 3, 0, 0, 0, 4}),
              (std::vector<uint8_t>{1, 3, 8, 0x22, 0x22, 0x11, 0x11, 0x44, 0x44, 0x33, 0x33}));
    // Function 6 writes the one register it carries, not the frame's check
    // bytes into the other half.
    EXPECT_EQ(exchange({1, 6, 0, 1, 0xAB, 0xCD}), (std::vector<uint8_t>{1, 6, 0, 1, 0xAB, 0xCD}));
    EXPECT_EQ(le32(vm.var(kDint, kDd)), 0xABCD2222u);
    EXPECT_EQ(exchange({1, 6, 0, 8, 0, 1}), (std::vector<uint8_t>{1, 0x86, 2}));
}

TEST_F(TalkIecTest, MasterAgainstALibmodbusSlave) {
    modbus_mapping_t *mb = modbus_mapping_new(20, 20, 20, 20);
    modbus_t *ctx = modbus_new_rtu(peer_path.c_str(), 19200, 'N', 8, 1);
    modbus_set_slave(ctx, 1);
    modbus_set_indication_timeout(ctx, 0, 50000);
    ASSERT_EQ(modbus_connect(ctx), 0);
    for (int i = 0; i < 20; ++i) {
        mb->tab_registers[i] = uint16_t(1000 + i);
        mb->tab_bits[i] = uint8_t(i % 2);
    }
    std::mutex lock;
    std::atomic<bool> stop{false};
    std::thread slave([&] {
        uint8_t q[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop) {
            int n = modbus_receive(ctx, q);
            std::lock_guard<std::mutex> hold(lock);
            if (n > 0) modbus_reply(ctx, q, n, mb);
        }
    });
    call(0, at(kInt, kTrig), at(kInt, kReq), at(kInt, kStatus));
    ASSERT_EQ(scan_block(), 1);
    // Registers into the INT array from element 2 on.
    request(1, 3, 4, 3, at(kInt, kHold), 2);
    EXPECT_EQ(transact(), 1);
    EXPECT_EQ(i16(kHold + 1), 0);
    EXPECT_EQ(i16(kHold + 2), 1004);
    EXPECT_EQ(i16(kHold + 4), 1006);
    // Two registers per DINT, the element index counting DINTs.
    request(1, 3, 0, 2, at(kDint, kDd), 1, 2);
    EXPECT_EQ(transact(), 1);
    EXPECT_EQ(le32(vm.var(kDint, kDd + 1)), (1001u << 16) | 1000u);
    // Bits one byte each.
    request(1, 1, 0, 5, at(kBool, kCoils));
    EXPECT_EQ(transact(), 1);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(*vm.var(kBool, kCoils + i), i % 2) << i;
    // Writes from the arrays.
    *vm.var(kBool, kDins) = 1;
    *vm.var(kBool, kDins + 2) = 7; // non-zero is on
    request(1, 15, 10, 3, at(kBool, kDins));
    EXPECT_EQ(transact(), 1);
    set_i16(kHold, 4242);
    request(1, 16, 15, 1, at(kInt, kHold));
    EXPECT_EQ(transact(), 1);
    {
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_EQ(mb->tab_bits[10], 1);
        EXPECT_EQ(mb->tab_bits[11], 0);
        EXPECT_EQ(mb->tab_bits[12], 1);
        EXPECT_EQ(mb->tab_registers[15], 4242);
    }
    // An exception into the status word; nobody at slave 9.
    request(1, 3, 30, 1, at(kInt, kHold));
    EXPECT_EQ(transact(), 0x2002);
    request(9, 3, 0, 1, at(kInt, kHold));
    EXPECT_EQ(transact(), 0x102);
    stop = true;
    slave.join();
    modbus_close(ctx);
    modbus_free(ctx);
    modbus_mapping_free(mb);
}

TEST_F(TalkIecTest, MasterSendsOnARisingTriggerOnly) {
    call(0, at(kInt, kTrig), at(kInt, kReq), at(kInt, kStatus));
    ASSERT_EQ(scan_block(), 1);
    request(1, 6, 0, 1, at(kInt, kHold));
    // 3 has the request bit but is no rise to 1: nothing goes out, no
    // reply is waited for.
    set_i16(kTrig, 3);
    for (int i = 0; i < 700; ++i)
        scan_block();
    EXPECT_EQ(i16(kStatus), 0);
    EXPECT_TRUE(collect(1, 20).empty());
    set_i16(kTrig, 0);
    scan_block();
    set_i16(kTrig, 1);
    scan_block();
    EXPECT_EQ(collect(8).size(), 8u);
}

TEST_F(TalkIecTest, MasterRefusesDataOutsideTheDatabase) {
    call(0, at(kInt, kTrig), at(kInt, kReq), at(kInt, kStatus));
    ASSERT_EQ(scan_block(), 1);
    uint32_t end = pDBSize;
    struct Case {
        const char *what;
        uint16_t fn, n;
        uint32_t data;
        uint16_t index, size, status;
    };
    // clang-format off
    const Case cases[] = {
        {"no data address",            3, 1, 0, 0, 1, 0x22},
        {"in the header",              3, 1, 16, 0, 1, 0x22},
        {"past the end",               3, 1, end, 0, 1, 0x22},
        {"index past the segment",     3, 2, at(kInt, kHold), 0x7FFF, 1, 0x22},
        {"count past the segment",     16, 2, segment_end(7) - 2, 0, 1, 0x22},
        {"126 registers",              3, 126, at(kInt, kHold), 0, 1, 0x0A},
        {"function 22",                22, 1, at(kInt, kHold), 0, 1, 0x12},
    };
    // clang-format on
    for (const Case &c : cases) {
        request(1, c.fn, 0, c.n, c.data, c.index, c.size);
        EXPECT_EQ(transact(), c.status) << c.what;
        EXPECT_TRUE(collect(1, 20).empty()) << c.what;
    }
}

TEST_F(TalkIecTest, BlockRecordsOutsideTheDatabaseAreRefused) {
    uint32_t st = at(kInt, kStatus), rq = at(kInt, kReq), tr = at(kInt, kTrig);
    uint32_t last = segment_end(7) - 2; // the last INT: no record starts there
    struct Case {
        const char *what;
        uint32_t port, slave, trigger, request, status;
    };
    // clang-format off
    const Case cases[] = {
        {"port 3",                   3, 0, tr, rq, st},
        {"status in the header",     kPort, 0, tr, rq, 8},
        {"status at offset 0",       kPort, 0, tr, rq, 0},
        {"trigger past the end",     kPort, 0, pDBSize, rq, st},
        {"request straddles the end", kPort, 0, tr, last, st},
        {"map straddles the end",    kPort, 1, 0, last - 20, st},
        {"slave above 16 bits",      kPort, 0x10001, tr, rq, st},
    };
    // clang-format on
    for (const Case &c : cases) {
        call(c.slave, c.trigger, c.request, c.status, c.port);
        EXPECT_EQ(Tr_TalkModbus(record, 1), 0) << c.what;
        EXPECT_EQ(Talk[kPort].started, 0) << c.what;
    }
    // Good records, but no runtime, a claimed port, or a port not on Modbus.
    call(0, tr, rq, st);
    TrevantRuntime = 0;
    EXPECT_EQ(Tr_TalkModbus(record, 1), 0);
    TrevantRuntime = 1;
    TalkOverride[kPort] = 1;
    EXPECT_EQ(Tr_TalkModbus(record, 1), 0);
    TalkOverride[kPort] = 0;
    ASSERT_EQ(Vcomm_Drv[kPort].Open(kPort, vibus_mode), 1);
    EXPECT_EQ(Tr_TalkModbus(record, 1), 0);
    EXPECT_EQ(Talk[kPort].started, 0);
    open_port();
    EXPECT_EQ(Tr_TalkModbus(record, 1), 1);
    // A second role on the started port waits; the first stops on its
    // falling enable.
    uint8_t other[24];
    std::memcpy(other, record, sizeof other);
    put_le32(other + 4, 5);
    put_le32(other + 16, at(kInt, kMap));
    EXPECT_EQ(Tr_TalkModbus(other, 1), 0);
    EXPECT_EQ(Tr_TalkModbus(record, 0), 0);
    EXPECT_EQ(Talk[kPort].started, 0);
    EXPECT_EQ(Tr_TalkModbus(other, 1), 1);
    EXPECT_EQ(Talk[kPort].running[1], 1);
    EXPECT_EQ(Talk[0].started + Talk[2].started, 0);
}

TEST_F(TalkIecTest, SendAndReceiveIntoTheApplicationsVariables) {
    auto transfer = [&](uint8_t *rec, uint32_t buffer, uint16_t len, uint32_t count) {
        const uint16_t w[6] = {
            kPort,          len, uint16_t(buffer >> 16), uint16_t(buffer), uint16_t(count >> 16),
            uint16_t(count)};
        for (int i = 0; i < 6; ++i)
            put_le16(rec + 2 * i, w[i]);
    };
    uint8_t rx[12], tx[12];
    transfer(rx, at(kUsint, kBuf), 10, at(kInt, kCount));
    set_i16(kCount, 0xFFFF);
    int p = peer();
    struct Burst {
        const char *bytes;
        uint8_t out;
        uint16_t count;
    };
    for (Burst b : {Burst{"abc", 0, 3}, Burst{"defg", 0, 7}, Burst{"hij", 1, 10}}) {
        ASSERT_EQ(write(p, b.bytes, strlen(b.bytes)), ssize_t(strlen(b.bytes)));
        for (int i = 0; i < 3000 && Vcomm_Drv[kPort].CountRx(kPort) < int(strlen(b.bytes)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(TrTalkReceive(rx, 1), b.out) << b.bytes;
        EXPECT_EQ(i16(kCount), b.count) << b.bytes;
    }
    EXPECT_EQ(0, std::memcmp(vm.var(kUsint, kBuf), "abcdefghij", 10));
    EXPECT_EQ(TrTalkReceive(rx, 0), 0);
    EXPECT_EQ(i16(kCount), 0xFFFF);

    std::memcpy(vm.var(kUsint, kBuf), "wxyz", 4);
    transfer(tx, at(kUsint, kBuf), 4, at(kInt, kCount));
    EXPECT_EQ(TrTalkSend(tx, 1), 1);
    EXPECT_EQ(i16(kCount), 4);
    std::vector<uint8_t> got = collect(4);
    EXPECT_EQ(std::string(got.begin(), got.end()), "wxyz");

    // A buffer reaching past its segment, or a count outside the database:
    // output 0, nothing received into it.
    set_i16(kCount, 0xFFFF);
    transfer(rx, segment_end(6) - 1, 2, at(kInt, kCount));
    ASSERT_EQ(write(p, "zz", 2), 2);
    EXPECT_EQ(TrTalkReceive(rx, 1), 0);
    EXPECT_EQ(i16(kCount), 0xFFFF);
    transfer(rx, at(kUsint, kBuf), 2, pDBSize - 1);
    EXPECT_EQ(TrTalkReceive(rx, 1), 0);
    EXPECT_EQ(vm.var(kUsint, kBuf)[0], 'w');
}

} // namespace
