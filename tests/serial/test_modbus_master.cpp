// The panel as a Modbus RTU master: every function against a libmodbus
// slave on the port's peer end, exception codes and the time-out in the
// status word, requests refused before they are sent, a reply followed by
// noise, and the ASCII framing against a pymodbus slave.
#include "modbus_fixture.h"

#include <modbus.h>

#include <mutex>

namespace {

class ModbusMasterTest : public ModbusTest {
protected:
    void SetUp() override {
        ModbusTest::SetUp();
        open_port();
        ModbusInit(kPort, master_setup());
    }
    void request(uint16_t slave, uint16_t fn, uint16_t address, uint16_t n, uint16_t area,
                 uint16_t offset) {
        const uint16_t w[6] = {slave, fn, address, n, area, offset};
        for (int i = 0; i < 6; ++i)
            set_r(kRequestReg + i, w[i]);
    }
    // Raises the trigger, waits for the status word, drops the trigger.
    uint16_t transact(int ms = 8000) {
        set_r(kTriggerReg, 1);
        pump_until([&] { return r(kStatusReg) != 0; }, ms);
        uint16_t status = r(kStatusReg);
        set_r(kTriggerReg, 0);
        step();
        EXPECT_EQ(r(kStatusReg), 0);
        return status;
    }
};

// A libmodbus RTU slave (id 1) serving a mapping in a thread of its own.
class LibmodbusSlave {
public:
    explicit LibmodbusSlave(const std::string &device) {
        map = modbus_mapping_new(100, 100, 100, 100);
        ctx = modbus_new_rtu(device.c_str(), 19200, 'N', 8, 1);
        modbus_set_slave(ctx, 1);
        modbus_set_indication_timeout(ctx, 0, 50000);
        if (modbus_connect(ctx) != 0) return;
        thread = std::thread([this] {
            uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!stop) {
                int n = modbus_receive(ctx, req);
                std::lock_guard<std::mutex> hold(lock);
                if (n > 0) modbus_reply(ctx, req, n, map);
            }
        });
    }
    ~LibmodbusSlave() {
        stop = true;
        if (thread.joinable()) thread.join();
        modbus_close(ctx);
        modbus_free(ctx);
        modbus_mapping_free(map);
    }
    // The mapping, held while the test reads or changes it.
    std::unique_lock<std::mutex> hold() { return std::unique_lock<std::mutex>(lock); }
    modbus_mapping_t *map;
    modbus_t *ctx;
    std::mutex lock;
    std::atomic<bool> stop{false};
    std::thread thread;
};

TEST_F(ModbusMasterTest, EveryFunctionAgainstALibmodbusSlave) {
    LibmodbusSlave slave(peer_path);
    auto held = slave.hold();
    for (int i = 0; i < 100; ++i) {
        slave.map->tab_registers[i] = uint16_t(1000 + i);
        slave.map->tab_input_registers[i] = uint16_t(2000 + i);
        slave.map->tab_bits[i] = uint8_t(i % 3 == 0);
        slave.map->tab_input_bits[i] = uint8_t(i % 2);
    }
    // The slave answers only while the test does not hold its mapping.
    auto transact_free = [&] {
        held.unlock();
        uint16_t st = transact();
        held.lock();
        return st;
    };
    // Reads into %R, %Q and %I.
    request(1, 3, 10, 10, 8, 0);
    EXPECT_EQ(transact_free(), 1);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(r(1 + i), 1010 + i);
    request(1, 4, 0, 2, 8, 20);
    EXPECT_EQ(transact_free(), 1);
    EXPECT_EQ(r(21), 2000);
    EXPECT_EQ(r(22), 2001);
    request(1, 1, 0, 10, 72, 3); // into %Q4..%Q13
    EXPECT_EQ(transact_free(), 1);
    for (int i = 0; i < 10; ++i) {
        int q = 4 + i - 1;
        EXPECT_EQ((plc_reg[reg::kQ + q / 8] >> (q % 8)) & 1, i % 3 == 0) << i;
    }
    request(1, 2, 1, 9, 70, 0); // into %I1..%I9
    EXPECT_EQ(transact_free(), 1);
    EXPECT_EQ(le16(plc_reg + reg::kI) & 0x1FF, 0x155);
    // Writes from %Q1 and %R41..%R43.
    plc_reg[reg::kQ] = 1;
    request(1, 5, 5, 1, 72, 0);
    EXPECT_EQ(transact_free(), 1);
    EXPECT_EQ(slave.map->tab_bits[5], 1);
    set_r(41, 4242);
    set_r(42, 4343);
    set_r(43, 4444);
    request(1, 6, 7, 1, 8, 40);
    EXPECT_EQ(transact_free(), 1);
    EXPECT_EQ(slave.map->tab_registers[7], 4242);
    request(1, 16, 20, 3, 8, 40);
    EXPECT_EQ(transact_free(), 1);
    EXPECT_EQ(slave.map->tab_registers[20], 4242);
    EXPECT_EQ(slave.map->tab_registers[22], 4444);
    plc_reg[reg::kQ] = 0x05;
    request(1, 15, 30, 3, 72, 0);
    EXPECT_EQ(transact_free(), 1);
    EXPECT_EQ(slave.map->tab_bits[30], 1);
    EXPECT_EQ(slave.map->tab_bits[31], 0);
    EXPECT_EQ(slave.map->tab_bits[32], 1);
    // An exception into the status word: an address past the slave's map.
    request(1, 3, 200, 1, 8, 0);
    EXPECT_EQ(transact_free(), 0x2002);
    // Nobody answers slave 9: the time-out (0.5 s here).
    request(9, 3, 0, 1, 8, 0);
    EXPECT_EQ(transact_free(), 0x102);
}

TEST_F(ModbusMasterTest, RequestsRefusedBeforeSending) {
    struct Case {
        const char *what;
        uint16_t slave, fn, address, n, area, offset;
        uint16_t status;
    };
    // clang-format off
    const Case cases[] = {
        {"126 registers",             1, 3, 0, 126, 8, 0, 0x0A},
        {"2001 bits",                 1, 1, 0, 2001, 72, 0, 0x0A},
        {"a read into %SR",           1, 3, 0, 1, 2, 0, 0x22},
        {"a read into %S",            1, 1, 0, 1, 24, 0, 0x22},
        {"past %AQG",                 1, 3, 0, 2, 6, 31, 0x22},
        {"a bit function on words",   1, 1, 0, 8, 8, 0, 0x22},
        {"unknown area",              1, 3, 0, 1, 9, 0, 0x22},
        {"slave 248",                 248, 3, 0, 1, 8, 0, 0x06},
        {"function 9",                1, 9, 0, 1, 8, 0, 0x12},
        {"function 7 wants 8 bits",   1, 7, 0, 7, 72, 0, 0x0A},
        {"function 8 wants 1 word",   1, 8, 0, 2, 8, 0, 0x0A},
    };
    // clang-format on
    for (const Case &c : cases) {
        request(c.slave, c.fn, c.address, c.n, c.area, c.offset);
        EXPECT_EQ(transact(), c.status) << c.what;
        EXPECT_TRUE(collect(1, 20).empty()) << c.what;
    }
    // A write from %SR is allowed.
    request(1, 6, 0, 1, 2, 0);
    set_r(kTriggerReg, 1);
    std::vector<uint8_t> sent = collect(8);
    EXPECT_EQ(sent.size(), 8u);
}

TEST_F(ModbusMasterTest, ReplyFollowedByNoiseAndBadReplies) {
    struct Case {
        const char *what;
        std::vector<uint8_t> reply; // CRC added; the noise follows
        bool noise;
        uint16_t status;
    };
    // clang-format off
    const Case cases[] = {
        {"good reply and noise",   {1, 3, 4, 0x12, 0x34, 0x56, 0x78}, true, 1},
        {"byte count mismatch",    {1, 3, 2, 0x12, 0x34}, false, 0x802},
        {"another slave first",    {2, 3, 4, 0, 0, 0, 0}, false, 0x102},
        {"exception 4",            {1, 0x83, 4}, false, 0x8002},
        {"exception 6",            {1, 0x83, 6}, false, 0x402},
    };
    // clang-format on
    for (const Case &c : cases) {
        set_r(1, 0);
        request(1, 3, 0, 2, 8, 0);
        set_r(kTriggerReg, 1);
        std::vector<uint8_t> req = collect(8);
        ASSERT_EQ(req, with_crc({1, 3, 0, 0, 0, 2})) << c.what;
        std::vector<uint8_t> reply = with_crc(c.reply);
        if (c.noise) reply.insert(reply.end(), {0x00, 0xFF, 0x42});
        send_raw(reply);
        pump_until([&] { return r(kStatusReg) != 0; });
        EXPECT_EQ(r(kStatusReg), c.status) << c.what;
        if (c.status == 1) {
            EXPECT_EQ(r(1), 0x1234);
            EXPECT_EQ(r(2), 0x5678);
        }
        set_r(kTriggerReg, 0);
        step();
    }
}

TEST_F(ModbusMasterTest, AsciiMasterAgainstAPymodbusSlave) {
    ASSERT_EQ(Vcomm_Drv[kPort].Open(kPort, vibus_mode), 1); // RTU to ASCII goes through it
    open_port(true);
    ModbusInit(kPort, master_setup(20));
    const std::string script =
        "import sys\n"
        "from pymodbus.server import StartSerialServer\n"
        "from pymodbus.transaction import ModbusAsciiFramer\n"
        "from pymodbus.datastore import ModbusSequentialDataBlock, ModbusSlaveContext,"
        " ModbusServerContext\n"
        "block = ModbusSequentialDataBlock(0, list(range(500, 600)))\n"
        "store = ModbusSlaveContext(hr=block, zero_mode=True)\n"
        "ctx = ModbusServerContext(slaves={3: store}, single=False)\n"
        "StartSerialServer(context=ctx, framer=ModbusAsciiFramer, port=sys.argv[1],"
        " baudrate=19200, bytesize=8, parity='N', stopbits=1)\n";
    std::string file = root_dir + "/ascii_slave.py";
    FILE *f = fopen(file.c_str(), "w");
    ASSERT_TRUE(f);
    fputs(script.c_str(), f);
    fclose(f);
    pid_t pid = fork();
    if (pid == 0) {
        freopen("/dev/null", "w", stderr);
        execl("/usr/bin/python3", "python3", file.c_str(), peer_path.c_str(), nullptr);
        _exit(127);
    }
    // The server needs a moment to open the line; retry until it answers.
    uint16_t status = 0;
    for (int attempt = 0; attempt < 20 && status != 1; ++attempt) {
        request(3, 3, 10, 2, 8, 0);
        status = transact(3000);
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(r(1), 510);
    EXPECT_EQ(r(2), 511);
    set_r(5, 4711);
    request(3, 6, 20, 1, 8, 4);
    EXPECT_EQ(transact(), 1);
    request(3, 3, 20, 1, 8, 9);
    EXPECT_EQ(transact(), 1);
    EXPECT_EQ(r(10), 4711);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

} // namespace
