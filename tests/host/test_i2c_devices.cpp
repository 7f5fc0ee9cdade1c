// The emulated I2C bus and its device models, the kernel clock and hwclock.
#include "host/clock.h"
#include "host/config.h"
#include "host/i2c.h"
#include "host/rtc_dev.h"
#include "host/shell.h"
#include "support/panel_fixture.h"

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class I2cDeviceTest : public PanelTest {
protected:
    host::I2cBus &bus() { return host::i2c_bus(); }
    bool write(uint8_t address, const Bytes &bytes) {
        bool ok = bus().start(address);
        for (uint8_t b : bytes)
            ok = ok && bus().write(b);
        bus().stop();
        return ok;
    }
    Bytes read(uint8_t address, uint8_t pointer, size_t n) {
        Bytes out;
        if (!write(address, {pointer})) return out;
        if (!bus().start(uint8_t(address | 1))) return out;
        for (size_t i = 0; i < n; ++i)
            out.push_back(bus().read());
        bus().stop();
        return out;
    }
};

} // namespace

TEST_F(I2cDeviceTest, EepromPagesBlocksWriteCycleAndFile) {
    host::config_set("i2c.0xA0", "eeprom 2048 16 5"); // one address per 256 bytes: 0xA0-0xAE
    // Four bytes from 0x20E: the page (0x200-0x20F) wraps.
    ASSERT_TRUE(write(0xA4, {0x0E, 1, 2, 3, 4}));
    EXPECT_FALSE(bus().start(0xA0)) << "busy with its write cycle";
    bus().stop();
    host::clock_advance_ms(5);
    EXPECT_EQ(read(0xA4, 0x0E, 2), (Bytes{1, 2}));
    EXPECT_EQ(read(0xA4, 0x00, 2), (Bytes{3, 4}));
    EXPECT_EQ(read(0xAE, 0xFF, 1), (Bytes{0xFF})) << "erased";
    EXPECT_FALSE(bus().start(0xB0)) << "nothing past the last block";
    bus().stop();

    std::string file = read_file("/dev/eeprom_a0");
    ASSERT_GE(file.size(), 0x210u);
    EXPECT_EQ(file.substr(0x200, 2), std::string("\x03\x04"));
    EXPECT_EQ(file.substr(0x20E, 2), std::string("\x01\x02"));

    // Another start of the panel finds the contents again.
    host::i2c_reset();
    host::clock_advance_ms(5);
    EXPECT_EQ(read(0xA4, 0x0E, 2), (Bytes{1, 2}));
}

TEST_F(I2cDeviceTest, TwoByteAddressesAndARepeatedStartRead) {
    host::config_set("i2c.0xa2", "eeprom 8192 32 0");
    ASSERT_TRUE(write(0xA2, {0x12, 0x34, 0xAB, 0xCD}));
    ASSERT_TRUE(bus().start(0xA2));
    bus().write(0x12);
    bus().write(0x34);
    ASSERT_TRUE(bus().start(0xA3)); // repeated start, no stop between
    EXPECT_EQ(bus().read(), 0xAB);
    EXPECT_EQ(bus().read(), 0xCD);
    bus().stop();
}

TEST_F(I2cDeviceTest, TemperatureReadings) {
    struct Case {
        const char *line;
        uint8_t config; // written to pointer 1 first (0xFF: none)
        uint16_t raw;
    };
    const Case cases[] = {
        {"tmp 25.3", 0xFF, 0x1900},  // 9 bits at power-up: 25.0
        {"tmp 25.3", 0x60, 0x1950},  // 12 bits: 405/16
        {"lm92 25.3", 0xFF, 0x0CA8}, // 13 bits
        {"lm92 -10.25", 0xFF, 0xFAE0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        host::i2c_reset();
        host::config_set("i2c.0x96", c.line);
        if (c.config != 0xFF) {
            ASSERT_TRUE(write(0x96, {0x01, c.config}));
        }
        Bytes b = read(0x96, 0x00, 2);
        ASSERT_EQ(b.size(), 2u);
        EXPECT_EQ(uint16_t(b[0] << 8 | b[1]), c.raw);
    }
}

TEST_F(I2cDeviceTest, TheClockChipIsFittedUnlessConfiguredAway) {
    EXPECT_NE(bus().model<host::I2cClockChip>(0x64), nullptr);
    host::i2c_reset();
    host::config_set("i2c.0x64", "none");
    EXPECT_EQ(bus().device(0x64), nullptr);
    EXPECT_FALSE(bus().start(0x64));
}

TEST_F(I2cDeviceTest, KernelClockAndHwclock) {
    int fd = host::rtc0_open();
    ASSERT_GE(fd, 0);
    struct rtc_time t {};
    t.tm_year = 124;
    t.tm_mon = 6;
    t.tm_mday = 16;
    t.tm_hour = 14;
    t.tm_min = 30;
    ASSERT_EQ(host::rtc0_set_time(fd, &t), 0);
    int64_t host_before = host::host_time_ns();
    EXPECT_EQ(host::shell("hwclock -s"), 0);
    EXPECT_EQ(host::wall_ns() / 1'000'000'000, 1721140200); // 2024-07-16 14:30:00
    EXPECT_EQ(host::host_time_ns(), host_before) << "the host's clock never moves";

    host::clock_advance_ms(90'000);
    struct rtc_time now {};
    ASSERT_EQ(host::rtc0_read_time(fd, &now), 0);
    EXPECT_EQ(now.tm_min, 31);
    EXPECT_EQ(now.tm_sec, 30);

    host::set_wall_ns(int64_t(1'000'000'000) * 86400);
    EXPECT_EQ(host::shell("hwclock -w"), 0);
    ASSERT_EQ(host::rtc0_read_time(fd, &now), 0);
    EXPECT_EQ(now.tm_year, 70);
    EXPECT_EQ(now.tm_mday, 2);

    struct rtc_time bad = t;
    bad.tm_mon = 1;
    bad.tm_mday = 30;
    EXPECT_EQ(host::rtc0_set_time(fd, &bad), -1);
    bad = t;
    bad.tm_year = 69;
    EXPECT_EQ(host::rtc0_set_time(fd, &bad), -1);
}
