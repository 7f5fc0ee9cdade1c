// I2C access to memories and register devices, over both ways of driving the
// bus: the kernel's I2C service and the controller's registers.
#include "host/clock.h"
#include "host/config.h"
#include "host/i2c.h"
#include "platform/i2c.h"
#include "regs/plc_reg.h"
#include "support/panel_fixture.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

enum class Driver { Kernel, Registers };

class I2cTest : public PanelTest, public ::testing::WithParamInterface<Driver> {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        // The kernel's revision text in %SR201-%SR205 picks the driver.
        const char *rev = GetParam() == Driver::Kernel ? "2.6.35.45" : "2.6.35.31";
        std::memcpy(plc_reg + sr_offset(201), rev, 10);
    }
    // Plugs a device in (before the bus is first used) and starts recording.
    void plug(uint8_t address, const std::string &line) {
        char key[16];
        std::snprintf(key, sizeof key, "i2c.0x%02X", address);
        host::config_set(key, line);
    }
    host::I2cBus &bus() {
        host::I2cBus &b = host::i2c_bus();
        b.record(true);
        return b;
    }
    const std::vector<host::I2cTransfer> &xfers() { return bus().transfers(); }
    size_t count(uint8_t address, bool acked) {
        size_t n = 0;
        for (auto &t : xfers())
            n += t.address == address && t.acked == acked;
        return n;
    }
    void eeprom_contents(const std::string &file, size_t size) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i)
            data[i] = char(i);
        write_file(file, data);
    }
};

std::string name(const ::testing::TestParamInfo<Driver> &info) {
    return info.param == Driver::Kernel ? "Kernel" : "Registers";
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Drivers, I2cTest, ::testing::Values(Driver::Kernel, Driver::Registers),
                         name);

TEST_P(I2cTest, TheKernelBuildPicksTheDriver) {
    bus();
    EXPECT_EQ(I2C_init(400000), 1);
    EXPECT_EQ(KernelBuild, GetParam() == Driver::Kernel ? 45 : 31);
    EXPECT_EQ(I2C_query(0x64), 0) << "the clock chip is always fitted";
    ASSERT_EQ(xfers().size(), 1u);
    EXPECT_EQ(xfers()[0].hz, 100000u) << "a probe goes at 100 kHz";
}

TEST_P(I2cTest, MemoryModesAddressTheirDevices) {
    struct Row {
        int mode;
        uint32_t addr;
        uint8_t device;
        Bytes sub;
        uint32_t kernel_hz; // 0: the speed stays as it was
    };
    const Row rows[] = {
        {0, 0x0312, 0xA6, {0x12}, 100000},    {1, 0x051234, 0xAA, {0x12, 0x34}, 400000},
        {2, 0x4C07, 0x98, {0x07}, 100000},    {3, 0x1C0102, 0x1C, {0x01, 0x02}, 400000},
        {0x304, 0x2005, 0x40, {0x05}, 25000}, {5, 0x03, 0x64, {0x03}, 100000},
        {6, 0x03, 0x64, {0x03}, 100000},      {9, 0x9C, 0x9C, {}, 0},
    };
    for (const Row &r : rows)
        if (r.device != 0x64) plug(r.device, "regs");
    uint32_t hz = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE("mode " + std::to_string(r.mode));
        bus().clear_transfers();
        uint8_t buf[2];
        ASSERT_EQ(I2C_read_mem(buf, r.addr, 2, r.mode), 0);
        size_t at = 0;
        if (!r.sub.empty()) {
            ASSERT_GE(xfers().size(), 1u);
            EXPECT_EQ(xfers()[0].address, r.device);
            EXPECT_EQ(xfers()[0].bytes, r.sub);
            at = 1;
        }
        ASSERT_EQ(xfers().size(), at + 1);
        EXPECT_EQ(xfers()[at].address, r.device | 1);
        EXPECT_EQ(xfers()[at].bytes.size(), 2u);
        uint32_t now = xfers()[at].hz;
        if (r.kernel_hz == 0 || (GetParam() == Driver::Registers && r.kernel_hz < 100000))
            EXPECT_EQ(now, hz) << "the speed stays"; // the registers know two speeds only
        else if (GetParam() == Driver::Kernel)
            EXPECT_EQ(now, r.kernel_hz);
        else
            EXPECT_EQ(now > 100000, r.kernel_hz > 100000) << now;
        hz = now;
    }
}

TEST_P(I2cTest, ReadsGoInPiecesOfFourBytes) {
    eeprom_contents("/dev/eeprom_a0", 256);
    plug(0xA0, "eeprom 256");
    uint8_t buf[6] = {};
    bus();
    EXPECT_EQ(I2C_read_mem(buf, 0x10, 0, 0), 0);
    EXPECT_TRUE(xfers().empty());
    ASSERT_EQ(I2C_read_mem(buf, 0x10, 6, 0), 0);
    EXPECT_EQ(Bytes(buf, buf + 6), (Bytes{0x10, 0x11, 0x12, 0x13, 0x14, 0x15}));
    ASSERT_EQ(xfers().size(), 4u);
    EXPECT_EQ(xfers()[0].bytes, Bytes{0x10});
    EXPECT_EQ(xfers()[1].bytes.size(), 4u);
    EXPECT_EQ(xfers()[2].bytes, Bytes{0x14}) << "the second piece at sub-address + 4";
    EXPECT_EQ(xfers()[3].bytes.size(), 2u);
}

TEST_P(I2cTest, BlockWritesGoInPiecesOf100Bytes) {
    plug(0x1C, "eeprom 8192 8192 0"); // a memory window: no pages, no write cycle
    Bytes data(250);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7);
    bus();
    EXPECT_EQ(I2C_write_mem(data.data(), 0x1C0100, 0, 3), 0);
    EXPECT_EQ(I2C_write_mem(data.data(), 0x1C0100, 1024, 3), 0);
    EXPECT_TRUE(xfers().empty()) << "lengths outside 1-1023 write nothing";

    ASSERT_EQ(I2C_write_mem(data.data(), 0x1C0100, 250, 3), 0);
    ASSERT_EQ(xfers().size(), 3u);
    const Bytes heads[3] = {{0x01, 0x00}, {0x01, 0x64}, {0x01, 0xC8}};
    const size_t sizes[3] = {102, 102, 52};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(xfers()[i].address, 0x1C);
        EXPECT_EQ(Bytes(xfers()[i].bytes.begin(), xfers()[i].bytes.begin() + 2), heads[i]);
        EXPECT_EQ(xfers()[i].bytes.size(), sizes[i]);
    }
    uint8_t back[250];
    ASSERT_EQ(I2C_read_mem(back, 0x1C0100, 250, 3), 0);
    EXPECT_EQ(Bytes(back, back + 250), data);

    EXPECT_EQ(I2C_write_mem(data.data(), 0x1E0000, 10, 3), 1) << "no device at 0x1E";
}

TEST_P(I2cTest, ByteWritesWaitOutTheMemorysWriteCycle) {
    plug(0xA0, "eeprom 256 16 5");
    const uint8_t data[3] = {0xDE, 0xAD, 0x42};
    bus();
    uint64_t t0 = host::mono_ns();
    ASSERT_EQ(I2C_write_mem(data, 0x20, 3, 0), 0);
    uint64_t took = host::mono_ns() - t0;
    EXPECT_GE(took, 15'000'000u) << "three 5 ms write cycles";
    EXPECT_LT(took, 25'000'000u);
    EXPECT_GT(count(0xA0, false), 0u) << "the busy memory refused writes, which were repeated";
    EXPECT_EQ(read_file("/dev/eeprom_a0").substr(0x20, 3), std::string("\xDE\xAD\x42"));

    // One byte per write, each with its sub-address.
    for (auto &t : xfers()) {
        if (t.address == 0xA0 && t.acked) {
            EXPECT_EQ(t.bytes.size(), 2u);
        }
    }
}

TEST_P(I2cTest, RefusedWritesAreRepeatedUpTo1000Times) {
    plug(0xA0, "eeprom 256 16 0");
    const uint8_t b = 0x5A;
    bus().refuse(0xA0, 999);
    EXPECT_EQ(I2C_write_mem(&b, 0x01, 1, 0), 0);
    EXPECT_EQ(count(0xA0, false), 999u);

    bus().clear_transfers();
    bus().refuse(0xA0, 1000);
    EXPECT_EQ(I2C_write_mem(&b, 0x02, 1, 0), 2);
    EXPECT_EQ(count(0xA0, false), 1000u);
    EXPECT_EQ(count(0xA0, true), 0u);
}

TEST_P(I2cTest, AWriteCycleThatNeverEndsFails) {
    plug(0xA0, "eeprom 256 16 100000");
    const uint8_t b = 1;
    bus();
    EXPECT_EQ(I2C_write_mem(&b, 0, 1, 0), 2);
    EXPECT_EQ(count(0xA1, false), 1002u) << "polls for the end of the write cycle";
}

TEST_P(I2cTest, AMissingDevice) {
    uint8_t buf[4] = {};
    bus();
    EXPECT_EQ(I2C_read_mem(buf, 0x0400, 2, 0), 1);
    EXPECT_EQ(I2C_write_mem(buf, 0x0400, 1, 0), 2);
    EXPECT_EQ(I2C_read_io(0x70, buf, 0, 1), 1);
    EXPECT_EQ(I2C_write_io(0x70, buf, 0, 1), 1);
    EXPECT_EQ(I2C_query(0x70), 1);
    int16_t t = 0;
    EXPECT_EQ(I2C_read_LM92(0x96, &t), 1);
}

TEST_P(I2cTest, RegisterModes) {
    struct Row {
        int mode, n;
        Bytes written, read;
    };
    const Row rows[] = {
        {0, 4, {0x11}, {0xA1}},
        {1, 4, {0x11, 0x22}, {0xA1, 0xA2}},
        {2, 4, {0x11}, {0xA2, 0xA1, 0xA3}},
        {3, 4, {0x22, 0x11}, {0xA1, 0xA2, 0xA3, 0xA4}},
        {0x205, 4, {0x11, 0x22, 0x33}, {0xA1, 0xA2}},
        {0x405, 4, {0x11, 0x22, 0x33, 0x44, 0x55}, {0xA1, 0xA2, 0xA3, 0xA4}},
        {6, 4, {0x33, 0x22, 0x11}, {0xA1, 0xA2, 0xA3, 0xA4}},
        {7, 3, {0x11}, {0xA1, 0xA2, 0xA3}},
        {8, 4, {0x11, 0x22, 0x33}, {0xA1, 0xA2}},
        {9, 4, {0x11, 0x22, 0x33, 0x44}, {0xA1, 0xA2, 0xA3, 0xA4}},
    };
    plug(0x4C, "regs");
    auto *dev = bus().model<host::I2cRegDevice>(0x4C);
    ASSERT_NE(dev, nullptr);
    const uint8_t out[5] = {0x11, 0x22, 0x33, 0x44, 0x55};
    for (const Row &r : rows) {
        SCOPED_TRACE("mode " + std::to_string(r.mode));
        bus().clear_transfers();
        EXPECT_EQ(I2C_write_io(0x4C, out, r.mode, r.n), 0);
        ASSERT_EQ(xfers().size(), 1u);
        EXPECT_EQ(xfers()[0].bytes, r.written);

        const uint8_t regs[4] = {0xA1, 0xA2, 0xA3, 0xA4};
        std::memcpy(dev->regs, regs, 4);
        dev->pointer = 0;
        uint8_t in[8] = {};
        EXPECT_EQ(I2C_read_io(0x4C, in, r.mode, r.n), 0);
        EXPECT_EQ(Bytes(in, in + r.read.size()), r.read);
        EXPECT_EQ(xfers().back().bytes.size(), r.read.size());
    }
}

TEST_P(I2cTest, JunctionTemperatureSensors) {
    plug(0x96, "lm92 31.5");
    plug(0x9E, "tmp 25");
    int16_t t = 0;
    bus();
    ASSERT_EQ(I2C_read_LM92(0x96, &t), 0);
    EXPECT_EQ(t, 504); // 31.5 °C in 1/16 °C
    ASSERT_EQ(I2C_read_LM92(0x9E, &t), 0);
    EXPECT_EQ(t, 400);
    ASSERT_EQ(I2C_read_LM92(0x9E, &t), 0);
    EXPECT_EQ(bus().model<host::I2cTempSensor>(0x9E)->config(), 0x60);
    size_t configs = 0;
    for (auto &x : xfers())
        configs += x.address == 0x9E && x.bytes == Bytes{0x01, 0x60};
    EXPECT_EQ(configs, 1u) << "configured at the first use only";

    bus().model<host::I2cTempSensor>(0x96)->set_celsius(-10.25);
    ASSERT_EQ(I2C_read_LM92(0x96, &t), 0);
    EXPECT_EQ(t, -164);
}

TEST_P(I2cTest, TransfersTakeBusTimeOnTheVirtualClock) {
    ASSERT_EQ(I2C_init(100000), 1);
    uint64_t t0 = host::mono_ns();
    EXPECT_EQ(I2C_query(0x64), 0);
    // Start, address and acknowledge, stop: 11 bit times at 100 kHz.
    EXPECT_EQ(host::mono_ns() - t0, 110'000u);
}

TEST_P(I2cTest, AFailedStartIsTriedAgain) {
    if (GetParam() == Driver::Kernel) {
        host::config_set("i2c_kernel", "0");
        EXPECT_EQ(I2C_init(100000), 1);
        EXPECT_EQ(I2C_query(0x64), 1) << "without the kernel's service nothing answers";
        return;
    }
    host::config_set("devmem", "0");
    EXPECT_EQ(I2C_init(100000), 0);
    EXPECT_EQ(I2C_query(0x64), 1);
    host::config_set("devmem", "1");
    EXPECT_EQ(I2C_init(100000), 1);
    EXPECT_EQ(I2C_query(0x64), 0);
}
