// The real-time clock: calendar arithmetic, the clock chip behind it, the
// kernel clock and the wall clock, the UTC calendar with time zone and
// daylight saving.
#include "host/clock.h"
#include "host/config.h"
#include "host/i2c.h"
#include "host/rtc_dev.h"
#include "host/shell.h"
#include "platform/i2c.h"
#include "platform/rtc.h"
#include "platform/tick.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "support/panel_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Cal = std::vector<uint16_t>;

// A file of the source tree: $PANEL_SRC, else where this file was compiled from.
std::string source_file(const std::string &rel) {
    if (const char *src = std::getenv("PANEL_SRC")) return std::string(src) + "/" + rel;
    std::string here = __FILE__;
    return here.substr(0, here.rfind("/tests/platform/")) + "/" + rel;
}

Cal now() {
    uint16_t c[7] = {};
    RtcGet(c);
    return Cal(c, c + 7);
}

Cal utc_regs() {
    Cal u;
    for (int n = 212; n <= 217; ++n)
        u.push_back(sr_get(n));
    return u;
}

void put_utc(const Cal &u) {
    for (int i = 0; i < 6; ++i)
        sr_put(212 + i, u[i]);
}

int64_t epoch_seconds(const Cal &c) {
    UtcTime t{};
    UtcGet(c.data(), &t);
    return t.seconds;
}

class RtcTest : public PanelTest {
protected:
    host::I2cClockChip *chip() { return host::i2c_bus().model<host::I2cClockChip>(0x64); }
    std::vector<uint8_t> chip_regs() {
        uint8_t r[16];
        chip()->registers(r);
        return std::vector<uint8_t>(r, r + 7);
    }
    // Loads the chip's registers 0-6 as they would stand after a power-up.
    void load_chip(const std::vector<uint8_t> &regs) {
        for (int i = 0; i < 7; ++i)
            chip()->set_register(i, regs[size_t(i)]);
    }
    void set(const Cal &c) { ASSERT_EQ(RtcSet(c.data()), 1); }
    // A restart of the panel: the process state goes, the root folder stays.
    void restart() {
        I2c_Reset();
        host::i2c_reset();
        Rtc_Reset();
        host::rtc0_reset();
        Tick_Reset();
    }
};

} // namespace

// Every day from 1996 to 2099 against a table made with Python's datetime
// (calendar/make_table.py): seconds since 1970 both ways, the day of the week,
// and the month lengths as the checks see them.
TEST(RtcCalendar, EveryDayFrom1996To2099MatchesTheTable) {
    std::ifstream in(source_file("tests/platform/calendar/months.txt"));
    ASSERT_TRUE(in) << "calendar table missing";
    int year, month, length, first, weekday, months = 0;
    while (in >> year >> month >> length >> first >> weekday) {
        ++months;
        SCOPED_TRACE(std::to_string(year) + "-" + std::to_string(month));
        EXPECT_EQ(length == 29, CheckLeap(year) && month == 2);
        for (int day = 1; day <= length + 1; ++day) {
            uint16_t cal[7] = {59, 30, 23, uint16_t(day), uint16_t(month), uint16_t(year), 0};
            if (day > length) {
                EXPECT_EQ(UtcCheck(cal, CheckLeap(year)), 0) << day;
                // The clock's own check knows no century rule.
                EXPECT_EQ(RtcCheck(cal), year % 4 == 0 && month == 2 && day == 29 ? 1 : 0);
                continue;
            }
            EXPECT_EQ(RtcCheck(cal), 1);
            EXPECT_EQ(DayOfWeek(year, month, day), (weekday + day - 1) % 7) << day;
            int64_t seconds = int64_t(first + day - 1) * 86400 + 23 * 3600 + 30 * 60 + 59;
            UtcTime t{};
            UtcGet(cal, &t);
            ASSERT_EQ(int64_t(t.seconds), seconds) << day;
            uint16_t back[6] = {};
            EXPECT_EQ(UtcSet(&t, back), year <= 2036 ? 1 : 0) << day;
            if (year <= 2036) {
                EXPECT_EQ(Cal(back, back + 6), Cal(cal, cal + 6));
            }
        }
    }
    EXPECT_EQ(months, 104 * 12);
}

TEST(RtcCalendar, ChecksAndBcd) {
    struct Case {
        Cal cal;
        int rtc, utc;
    };
    const Case cases[] = {
        {{0, 0, 12, 29, 2, 2023, 0}, 0, 0}, // not a leap year
        {{0, 0, 12, 29, 2, 2024, 0}, 1, 1},
        {{0, 0, 12, 29, 2, 2100, 0}, 1, 0}, // the clock's own rule takes every fourth year
        {{0, 0, 12, 1, 1, 2036, 0}, 1, 1},
        {{0, 0, 12, 1, 1, 2037, 0}, 1, 0},
        {{0, 0, 12, 1, 1, 2099, 0}, 1, 0},
        {{0, 0, 12, 1, 1, 2100, 0}, 1, 0},
        {{0, 0, 12, 1, 1, 2101, 0}, 0, 0},
        {{0, 0, 12, 1, 1, 0, 0}, 0, 0},
        {{60, 0, 12, 1, 1, 2020, 0}, 0, 0},
        {{0, 60, 12, 1, 1, 2020, 0}, 0, 0},
        {{0, 0, 24, 1, 1, 2020, 0}, 0, 0},
        {{0, 0, 0, 0, 1, 2020, 0}, 0, 0},
        {{0, 0, 0, 31, 4, 2020, 0}, 0, 0},
        {{0, 0, 0, 1, 13, 2020, 0}, 0, 0},
        {{0, 0, 0, 1, 0, 2020, 0}, 0, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(RtcCheck(c.cal.data()), c.rtc) << c.cal[3] << "." << c.cal[4] << "." << c.cal[5];
        EXPECT_EQ(UtcCheck(c.cal.data(), CheckLeap(c.cal[5])), c.utc) << c.cal[5];
    }
    EXPECT_EQ(CheckLeap(2000), 1);
    EXPECT_EQ(CheckLeap(1900), 0);
    EXPECT_EQ(DecimalToBCD(59), 0x59);
    EXPECT_EQ(BCDToDecimal(0x47), 47);
}

TEST_F(RtcTest, SettingTheClockReachesTheChipInBcdAndTheKernelClock) {
    sr_put(4, sr4::kClock | sr4::kBattery);
    set({5, 4, 23, 29, 2, 2024, 1}); // the weekday comes from the date: Thursday
    EXPECT_EQ(chip_regs(), (std::vector<uint8_t>{0x05, 0x04, 0x23, 0x05, 0x29, 0x02, 0x24}));
    EXPECT_EQ(now(), (Cal{5, 4, 23, 29, 2, 2024, 5}));
    EXPECT_EQ(sr_get(4), sr4::kBattery) << "a set clock is no longer the default";
    EXPECT_EQ(RtcUpdated, 1);
    EXPECT_EQ(NTP_UserModifiedTime, 1);

    int fd = host::rtc0_open();
    struct rtc_time k {};
    ASSERT_EQ(host::rtc0_read_time(fd, &k), 0);
    EXPECT_EQ(k.tm_year, 124);
    EXPECT_EQ(k.tm_mon, 1);
    EXPECT_EQ(k.tm_mday, 29);
    EXPECT_EQ(k.tm_hour, 23);

    // A refused calendar leaves the chip alone.
    const Cal bad = {0, 0, 0, 29, 2, 2023, 1};
    EXPECT_EQ(RtcSet(bad.data()), 0);
    EXPECT_EQ(chip_regs()[4], 0x29);
    EXPECT_EQ(chip_regs()[5], 0x02);
}

TEST_F(RtcTest, AClockSetThroughTheRegistersReachesTheChip) {
    auto write = [](int n, std::vector<uint16_t> words) {
        uint8_t in[12] = {};
        for (size_t i = 0; i < words.size(); ++i) {
            in[2 * i] = uint8_t(words[i]);
            in[2 * i + 1] = uint8_t(words[i] >> 8);
        }
        return SysReg_Write(sr_ref(n), in, uint32_t(16 * words.size()));
    };
    ASSERT_EQ(write(44, {0, 15, 7, 24, 12, 2031}), 1);
    EXPECT_EQ(chip_regs(), (std::vector<uint8_t>{0x00, 0x15, 0x07, 0x04, 0x24, 0x12, 0x31}));
    ASSERT_EQ(write(47, {29, 2, 2032}), 1);
    EXPECT_EQ(chip_regs(), (std::vector<uint8_t>{0x00, 0x15, 0x07, 0x01, 0x29, 0x02, 0x32}));
    EXPECT_EQ(write(44, {0, 60, 7}), 0) << "minute 60";
    EXPECT_EQ(chip_regs()[1], 0x15);
}

TEST_F(RtcTest, TimeAndDateAloneKeepTheRest) {
    set({0, 0, 8, 15, 6, 2024, 0});
    const uint16_t hms[3] = {30, 59, 23};
    EXPECT_EQ(RtcTimeSet(hms), 1);
    EXPECT_EQ(now(), (Cal{30, 59, 23, 15, 6, 2024, 7}));
    const uint16_t dmy[3] = {1, 1, 2025};
    EXPECT_EQ(RtcDateSet(dmy), 1);
    EXPECT_EQ(now(), (Cal{30, 59, 23, 1, 1, 2025, 4})) << "the weekday follows the new date";
    const uint16_t bad[3] = {31, 4, 2025};
    EXPECT_EQ(RtcDateSet(bad), 0);
}

TEST_F(RtcTest, ChipCountsThroughMonthAndYearEndsOnTheVirtualClock) {
    struct Case {
        Cal from;
        unsigned seconds;
        Cal to;
    };
    const Case cases[] = {
        {{59, 59, 23, 31, 12, 2023, 0}, 1, {0, 0, 0, 1, 1, 2024, 2}},
        {{59, 59, 23, 28, 2, 2024, 0}, 1, {0, 0, 0, 29, 2, 2024, 5}},
        {{59, 59, 23, 28, 2, 2023, 0}, 1, {0, 0, 0, 1, 3, 2023, 4}},
        {{59, 59, 23, 30, 4, 2024, 0}, 1, {0, 0, 0, 1, 5, 2024, 4}},
        {{0, 0, 12, 1, 1, 2024, 0}, 86400 * 366 + 61, {1, 1, 12, 1, 1, 2025, 4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.from[3]) + "." + std::to_string(c.from[4]) + " +" +
                     std::to_string(c.seconds));
        set(c.from);
        host::clock_advance_ns(uint64_t(c.seconds) * 1'000'000'000ull);
        EXPECT_EQ(now(), c.to);
    }
}

TEST_F(RtcTest, ChipIsReadAtMostOnceASecond) {
    set({10, 0, 9, 2, 3, 2024, 0});
    host::clock_advance_ms(500);
    chip()->set_register(1, 0x30); // someone else moved the chip
    EXPECT_EQ(now()[1], 0) << "still the calendar of this second";
    host::clock_advance_ms(500);
    EXPECT_EQ(now()[1], 30);
    EXPECT_EQ(now()[0], 11);
}

TEST_F(RtcTest, CenturyOfTheTwoDigitYear) {
    struct Case {
        uint8_t yy;
        uint16_t year;
    };
    for (Case c : {Case{0x94, 2094}, Case{0x95, 1995}, Case{0x00, 2000}, Case{0x99, 1999}}) {
        restart();
        load_chip({0x00, 0x00, 0x12, 0x01, 0x01, 0x06, c.yy});
        EXPECT_EQ(now()[5], c.year) << int(c.yy);
    }
    // 1999 rolls over into 2000, not 1900.
    restart();
    load_chip({0x59, 0x59, 0x23, 0x06, 0x31, 0x12, 0x99});
    EXPECT_EQ(now()[5], 1999);
    host::clock_advance_ms(1000);
    EXPECT_EQ(now(), (Cal{0, 0, 0, 1, 1, 2000, 7}));
    // Setting a year sets the century too.
    set({0, 0, 0, 1, 1, 1996, 0});
    EXPECT_EQ(chip_regs()[6], 0x96);
    host::clock_advance_ms(1000);
    EXPECT_EQ(now()[5], 1996);
}

TEST_F(RtcTest, ANewChipIsInvalidAndTheOutputStays) {
    Cal c = {1, 2, 3, 4, 5, 2006, 7};
    uint16_t out[7];
    std::copy(c.begin(), c.end(), out);
    RtcGet(out);
    EXPECT_EQ(Cal(out, out + 7), c);
    host::clock_advance_ms(1000);
    RtcGet(out);
    EXPECT_EQ(Cal(out, out + 7), c);
}

TEST_F(RtcTest, WithoutTheKernelClockNothingIsReadOrSet) {
    host::config_set("rtc0", "0");
    EXPECT_EQ(RtcSet(Cal{0, 0, 0, 1, 1, 2024, 0}.data()), 0);
    uint16_t out[7] = {9, 9, 9, 9, 9, 9, 9};
    RtcGet(out);
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(host::shell("hwclock -s"), 1);
}

TEST_F(RtcTest, OpeningBringsTheKernelClockAndTheWallClockToTheChip) {
    load_chip({0x07, 0x30, 0x14, 0x03, 0x16, 0x07, 0x24}); // 14:30:07 16.7.2024
    host::shell_log_clear();
    EXPECT_EQ(now(), (Cal{7, 30, 14, 16, 7, 2024, 3}));
    EXPECT_EQ(host::shell_log(), (std::vector<std::string>{"hwclock -s"}));
    int64_t expect = epoch_seconds({7, 30, 14, 16, 7, 2024});
    EXPECT_EQ(host::wall_ns() / 1'000'000'000, expect);

    // A second start finds the kernel clock in step and leaves the wall clock.
    Rtc_Reset();
    host::shell_log_clear();
    host::set_wall_ns(0);
    now();
    EXPECT_TRUE(host::shell_log().empty());
    EXPECT_EQ(host::wall_ns() / 1'000'000'000, 0);
}

TEST_F(RtcTest, TheClockSurvivesARestartThroughTheChipsFile) {
    set({0, 0, 6, 10, 10, 2024, 0});
    restart();
    host::clock_advance_ms(5000);
    EXPECT_EQ(now(), (Cal{5, 0, 6, 10, 10, 2024, 5}));
}

TEST_F(RtcTest, UtcFromLocalTimeWithOffsetAndDaylightSaving) {
    struct Case {
        Cal local;
        int offset, dst;
        Cal utc;
    };
    const Case cases[] = {
        {{0, 30, 0, 1, 1, 2024}, 60, 0, {0, 30, 23, 31, 12, 2023}},
        {{0, 45, 23, 31, 12, 2023}, -30, 0, {0, 15, 0, 1, 1, 2024}},
        {{0, 10, 0, 1, 3, 2024}, 60, 0, {0, 10, 23, 29, 2, 2024}},
        {{0, 10, 0, 1, 3, 2023}, 60, 0, {0, 10, 23, 28, 2, 2023}},
        {{0, 30, 1, 1, 1, 2024}, 60, 1, {0, 30, 23, 31, 12, 2023}},
        {{15, 0, 11, 30, 6, 2024}, 840, 0, {15, 0, 21, 29, 6, 2024}},
        {{15, 0, 13, 30, 6, 2024}, -720, 0, {15, 0, 1, 1, 7, 2024}},
        {{0, 0, 12, 15, 8, 2024}, 0, 0, {0, 0, 12, 15, 8, 2024}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + (c.dst ? " dst" : ""));
        uint16_t local[7] = {}, utc[7] = {};
        std::copy(c.local.begin(), c.local.end(), local);
        SyncUtcWithRtc(local, utc, c.offset, c.dst);
        EXPECT_EQ(Cal(utc, utc + 6), c.utc);

        // And back: the clock is set from UTC, with its weekday, by the UTC logic.
        RtcUpdated = 0;
        uint16_t back[7] = {};
        ASSERT_EQ(SyncRtcWithUtc(back, utc, c.offset, c.dst), 1);
        EXPECT_EQ(Cal(back, back + 6), c.local);
        EXPECT_EQ(back[6], DayOfWeek(c.local[5], c.local[4], c.local[3]) + 1);
        EXPECT_EQ(now(), Cal(back, back + 7));
        EXPECT_EQ(RtcUpdated, 0);
    }
}

TEST_F(RtcTest, UtcRegistersAdvanceOnceASecondWithCarries) {
    struct Case {
        Cal from, to;
    };
    const Case cases[] = {
        {{59, 59, 23, 31, 12, 2023}, {0, 0, 0, 1, 1, 2024}},
        {{59, 59, 23, 28, 2, 2024}, {0, 0, 0, 29, 2, 2024}},
        {{59, 59, 23, 28, 2, 2100}, {0, 0, 0, 1, 3, 2100}},
        {{59, 59, 23, 30, 9, 2024}, {0, 0, 0, 1, 10, 2024}},
        {{59, 59, 11, 5, 5, 2024}, {0, 0, 12, 5, 5, 2024}},
    };
    for (const Case &c : cases) {
        // A clock set now starts the second of both calendars.
        const Cal local = {0, 0, 0, 1, 1, 2024, 2};
        set(local);
        uint16_t utc[7];
        SyncUtcWithRtc(local.data(), utc, 0, 0);
        put_utc(c.from);
        host::clock_advance_ms(999);
        UtcUpdate(nullptr);
        EXPECT_EQ(utc_regs(), c.from) << "not yet a second";
        host::clock_advance_ms(1);
        uint16_t out[7] = {};
        UtcUpdate(out);
        EXPECT_EQ(utc_regs(), c.to);
        EXPECT_EQ(Cal(out, out + 6), c.to);
        UtcUpdate(nullptr);
        EXPECT_EQ(utc_regs(), c.to) << "once per second";
    }
}

TEST_F(RtcTest, DaylightSavingMovesTheClockOnceEachWay) {
    set({0, 30, 23, 31, 12, 2024, 0});
    RtcUpdated = 0;
    sr_put(211, 0x0001);
    EXPECT_EQ(now(), (Cal{0, 30, 0, 1, 1, 2025, 4}));
    EXPECT_EQ(dstActive, 1);
    EXPECT_EQ(now(), (Cal{0, 30, 0, 1, 1, 2025, 4})) << "left on, it does not move again";
    host::clock_advance_ms(1000);
    EXPECT_EQ(now(), (Cal{1, 30, 0, 1, 1, 2025, 4}));
    EXPECT_EQ(RtcUpdated, 0) << "not a user's change";
    EXPECT_EQ(DstUpdated, 0);

    sr_put(211, 0);
    EXPECT_EQ(now(), (Cal{1, 30, 23, 31, 12, 2024, 3}));
    EXPECT_EQ(dstActive, 0);
}

TEST_F(RtcTest, UtcSetRefusesYearsPast2036) {
    UtcTime t{uint32_t(epoch_seconds({0, 0, 0, 1, 1, 2037})), 0};
    uint16_t cal[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(UtcSet(&t, cal), 0);
    EXPECT_EQ(cal[0], 1);
    EXPECT_EQ(UtcUpdated, 0);
    t.seconds -= 1;
    EXPECT_EQ(UtcSet(&t, cal), 1);
    EXPECT_EQ(Cal(cal, cal + 6), (Cal{59, 59, 23, 31, 12, 2036}));
    EXPECT_EQ(UtcUpdated, 1);
}
