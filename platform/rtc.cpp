// Real-time clock: the clock chip on the I2C bus, the kernel's clock, and the
// UTC calendar kept beside the local one.
#include "platform/rtc.h"

#include "base/trace.h"
#include "host/rtc_dev.h"
#include "host/shell.h"
#include "platform/i2c.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <cstring>

const uint16_t rtc_default[7] = {0, 0, 0, 1, 1, 2000, 7};
uint8_t dstActive;
uint8_t RtcUpdated;
uint8_t UtcUpdated;
uint8_t DstUpdated;
uint8_t NTP_UserModifiedTime;

namespace {

constexpr uint32_t kTicksPerSecond = 10000;
constexpr int kChipMode = 5; // memory mode of the clock chip (read; writes use 6)

// Days per month: common years, then leap years.
constexpr uint8_t days[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                 {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
// Month offsets of the day-of-week rule.
constexpr uint8_t kMonthOffset[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};

struct RtcState {
    int RTCfile = -1;      // "/dev/rtc0", -1 while closed
    uint16_t RTCTime[7]{}; // last calendar read or set
    bool have_time = false;
    uint32_t LastTickRTC = 0, LastTickUTC = 0; // tick of the last whole second
    uint16_t ov_year = 0;                      // century of the chip's year, 0 until known
};
RtcState g;

// Length of a month; a month outside 1-12 counts 31 days, so carries over
// calendars with garbage in them stay inside the table.
int month_length(int month, int year) {
    if (month < 1 || month > 12) return 31;
    return days[CheckLeap(year) ? 1 : 0][month - 1];
}

bool valid(const uint16_t *cal, const uint8_t *lengths, int max_year) {
    return cal[0] <= 59 && cal[1] <= 59 && cal[2] <= 23 && cal[4] >= 1 && cal[4] <= 12 &&
           cal[3] >= 1 && cal[3] <= lengths[cal[4] - 1] && cal[5] >= 1 && cal[5] <= max_year;
}

// RtcCheck without its trace (the clock's own checks).
bool local_valid(const uint16_t *cal) {
    return valid(cal, days[cal[5] % 4 == 0 ? 1 : 0], 2100);
}

long floor_div(long a, long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// `out` (six words) = `in` moved by `minutes`, carrying through hours, days,
// months and years.
void shift_minutes(const uint16_t *in, uint16_t *out, long minutes) {
    long minute = long(in[1]) + minutes, hour = in[2], day = in[3], month = in[4], year = in[5];
    hour += floor_div(minute, 60);
    minute -= 60 * floor_div(minute, 60);
    day += floor_div(hour, 24);
    hour -= 24 * floor_div(hour, 24);
    while (day < 1) {
        if (--month < 1) {
            month = 12;
            --year;
        }
        day += month_length(int(month), int(year));
    }
    while (day > month_length(int(month), int(year))) {
        day -= month_length(int(month), int(year));
        if (++month > 12) {
            month = 1;
            ++year;
        }
    }
    out[0] = in[0];
    out[1] = uint16_t(minute);
    out[2] = uint16_t(hour);
    out[3] = uint16_t(day);
    out[4] = uint16_t(month);
    out[5] = uint16_t(year);
}

uint16_t weekday(const uint16_t *cal) {
    return uint16_t(DayOfWeek(cal[5], cal[4], cal[3]) + 1);
}

// The chip's registers 0-6, one at a time, as a calendar. The chip keeps a
// two-digit year; the century is ours.
bool chip_read(uint16_t *cal) {
    uint8_t r[7];
    for (int i = 0; i < 7; ++i)
        if (I2C_read_mem(&r[i], uint32_t(i), 1, kChipMode) != 0) return false;
    cal[0] = BCDToDecimal(r[0] & 0x7F);
    cal[1] = BCDToDecimal(r[1] & 0x7F);
    cal[2] = BCDToDecimal(r[2] & 0x3F);
    cal[6] = BCDToDecimal(r[3] & 0x07);
    cal[3] = BCDToDecimal(r[4] & 0x3F);
    cal[4] = BCDToDecimal(r[5] & 0x1F);
    uint16_t yy = BCDToDecimal(r[6]);
    if (g.ov_year == 0)
        g.ov_year = yy < 95 ? 20 : 19;
    else if (yy == 0 && g.have_time && g.RTCTime[5] % 100 == 99)
        ++g.ov_year;
    cal[5] = uint16_t(g.ov_year * 100 + yy);
    return true;
}

struct rtc_time kernel_time(const uint16_t *cal) {
    struct rtc_time t {};
    t.tm_sec = cal[0];
    t.tm_min = cal[1];
    t.tm_hour = cal[2];
    t.tm_mday = cal[3];
    t.tm_mon = cal[4] - 1;
    t.tm_year = cal[5] - 1900;
    t.tm_wday = cal[6] - 1;
    return t;
}

// Opens the kernel's clock and brings it (and the wall clock) to the chip's time.
bool rtc_open() {
    g.RTCfile = host::rtc0_open();
    if (g.RTCfile < 0) return false;
    struct rtc_time kernel {};
    bool kernel_ok = host::rtc0_read_time(g.RTCfile, &kernel) == 0;
    uint16_t chip[7];
    if (chip_read(chip) && local_valid(chip)) {
        std::memcpy(g.RTCTime, chip, sizeof chip);
        g.have_time = true;
        if (!kernel_ok || kernel.tm_sec != chip[0]) {
            struct rtc_time t = kernel_time(chip);
            host::rtc0_set_time(g.RTCfile, &t);
            host::rtc0_close(g.RTCfile);
            host::shell("hwclock -s");
            g.RTCfile = host::rtc0_open();
            if (g.RTCfile < 0) return false;
        }
    }
    g.LastTickRTC = FPGA_GetFrt();
    return true;
}

// The local calendar, re-read from the chip once a second.
bool rtc_read(uint16_t *cal) {
    if (g.RTCfile < 0 && !rtc_open()) return false;
    uint32_t passed = FPGA_GetFrt() - g.LastTickRTC;
    if (passed >= kTicksPerSecond) {
        g.LastTickRTC += passed / kTicksPerSecond * kTicksPerSecond;
        uint16_t chip[7];
        if (!chip_read(chip) || !local_valid(chip)) return false;
        std::memcpy(g.RTCTime, chip, sizeof chip);
        g.have_time = true;
    }
    if (!g.have_time) return false; // the chip read invalid: wait for its next second
    DstUpdate(g.RTCTime);
    std::memcpy(cal, g.RTCTime, sizeof g.RTCTime);
    return true;
}

// Sets the kernel's clock and the chip. `sync`: the change comes from the UTC
// logic, not from a user.
int set_clock(const uint16_t *in, bool sync) {
    if (!local_valid(in)) return 0;
    if (g.RTCfile < 0 && !rtc_open()) return 0;
    uint16_t cal[7];
    std::memcpy(cal, in, 6 * sizeof(uint16_t));
    cal[6] = weekday(cal);
    // The kernel refuses some dates the chip would take (before 1970): ask it
    // first, so that a refused calendar leaves the chip's time alone.
    struct rtc_time t = kernel_time(cal);
    if (host::rtc0_set_time(g.RTCfile, &t) != 0) return 0;
    const uint8_t regs[7] = {DecimalToBCD(uint8_t(cal[0])),      DecimalToBCD(uint8_t(cal[1])),
                             DecimalToBCD(uint8_t(cal[2])),      DecimalToBCD(uint8_t(cal[6])),
                             DecimalToBCD(uint8_t(cal[3])),      DecimalToBCD(uint8_t(cal[4])),
                             DecimalToBCD(uint8_t(cal[5] % 100))};
    if (I2C_write_mem(regs, 0, 7, kChipMode + 1) != 0) return 0;
    g.ov_year = uint16_t(cal[5] / 100);
    std::memcpy(g.RTCTime, cal, sizeof cal);
    g.have_time = true;
    g.LastTickRTC = FPGA_GetFrt(); // the chip started a new second
    sr_put(sr::kStatus, uint16_t(sr_get(sr::kStatus) & ~sr4::kClock));
    if (!sync && !DstUpdated) RtcUpdated = 1;
    NTP_UserModifiedTime = 1;
    return 1;
}

} // namespace

// ------------------------------------------------------------ arithmetic

int CheckLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DayOfWeek(int year, int month, int day) {
    if (month < 1 || month > 12) return 0;
    if (month < 3) --year; // years counted from March
    return ((year + year / 4 - year / 100 + year / 400 + kMonthOffset[month - 1] + day) % 7 + 7) %
           7;
}

uint8_t DecimalToBCD(uint8_t value) {
    return uint8_t(((value / 10) << 4) | (value % 10));
}
uint8_t BCDToDecimal(uint8_t value) {
    return uint8_t((value >> 4) * 10 + (value & 0xF));
}

int RtcCheck(const uint16_t *cal) {
    host::trace("RtcCheck");
    return local_valid(cal) ? 1 : 0;
}

int UtcCheck(const uint16_t *cal, int leap) {
    return valid(cal, days[leap ? 1 : 0], 2036) ? 1 : 0;
}

void UtcGet(const uint16_t *cal, UtcTime *time) {
    // Days since 1970 by the civil-calendar count (years from March).
    long y = long(cal[5]) - (cal[4] <= 2), m = cal[4];
    long era = floor_div(y, 400), yoe = y - era * 400;
    long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + cal[3] - 1;
    long day_number = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    time->seconds = uint32_t(day_number * 86400 + cal[2] * 3600L + cal[1] * 60L + cal[0]);
    time->ms = 0;
}

int UtcSet(const UtcTime *time, uint16_t *cal) {
    uint32_t s = time->seconds;
    uint16_t c[6];
    c[0] = uint16_t(s % 60);
    c[1] = uint16_t(s / 60 % 60);
    c[2] = uint16_t(s / 3600 % 24);
    long day = long(s / 86400);
    int year = 1970;
    while (day >= 365 + CheckLeap(year))
        day -= 365 + CheckLeap(year++);
    int month = 1;
    while (day >= month_length(month, year))
        day -= month_length(month++, year);
    c[3] = uint16_t(day + 1);
    c[4] = uint16_t(month);
    c[5] = uint16_t(year);
    if (!UtcCheck(c, CheckLeap(year))) return 0;
    std::memcpy(cal, c, sizeof c);
    UtcUpdated = 1;
    return 1;
}

// ------------------------------------------------------------ the clock

void RtcGet(uint16_t *cal) {
    host::trace("RtcGet");
    uint16_t now[7];
    if (rtc_read(now)) std::memcpy(cal, now, sizeof now);
}

int RtcSet(const uint16_t *cal) {
    host::trace("RtcSet");
    return set_clock(cal, false);
}

int RtcTimeSet(const uint16_t *hms) {
    host::trace("RtcTimeSet");
    uint16_t cal[7];
    if (!rtc_read(cal)) return 0;
    std::memcpy(cal, hms, 3 * sizeof(uint16_t));
    return set_clock(cal, false);
}

int RtcDateSet(const uint16_t *dmy) {
    host::trace("RtcDateSet");
    uint16_t cal[7];
    if (!rtc_read(cal)) return 0;
    std::memcpy(cal + 3, dmy, 3 * sizeof(uint16_t));
    return set_clock(cal, false);
}

void UtcUpdate(uint16_t *cal) {
    host::trace("UtcUpdate");
    if (FPGA_GetFrt() - g.LastTickUTC >= kTicksPerSecond) {
        g.LastTickUTC += kTicksPerSecond;
        uint16_t u[6];
        for (int i = 0; i < 6; ++i)
            u[i] = sr_get(sr::kUtc + i);
        if (++u[0] >= 60) {
            u[0] = 0;
            if (++u[1] >= 60) {
                u[1] = 0;
                if (++u[2] >= 24) {
                    u[2] = 0;
                    if (++u[3] > month_length(u[4], u[5])) {
                        u[3] = 1;
                        if (++u[4] > 12) {
                            u[4] = 1;
                            ++u[5];
                        }
                    }
                }
            }
        }
        for (int i = 0; i < 6; ++i)
            sr_put(sr::kUtc + i, u[i]);
    }
    if (cal)
        for (int i = 0; i < 6; ++i)
            cal[i] = sr_get(sr::kUtc + i);
}

void SyncUtcWithRtc(const uint16_t *local, uint16_t *utc, int offset, int dst) {
    host::trace("SyncUtcWithRtc");
    shift_minutes(local, utc, -(long(offset) + (dst ? 60 : 0)));
    g.LastTickUTC = g.LastTickRTC;
}

int SyncRtcWithUtc(uint16_t *local, const uint16_t *utc, int offset, int dst) {
    host::trace("SyncRtcWithUtc");
    uint16_t cal[7];
    shift_minutes(utc, cal, long(offset) + (dst ? 60 : 0));
    cal[6] = weekday(cal);
    if (!set_clock(cal, true)) return 0;
    std::memcpy(local, g.RTCTime, sizeof g.RTCTime);
    g.LastTickRTC = g.LastTickUTC;
    return 1;
}

void DstUpdate(uint16_t *cal) {
    bool wanted = (sr_get(sr::kDaylightSaving) & 0xFF) != 0;
    if (wanted == (dstActive != 0)) return;
    // Local time moves by the hour; UTC does not move.
    DstUpdated = 1;
    uint16_t moved[7];
    shift_minutes(cal, moved, wanted ? 60 : -60);
    if (set_clock(moved, true)) std::memcpy(cal, g.RTCTime, sizeof g.RTCTime);
    dstActive = wanted ? 1 : 0;
    DstUpdated = 0;
}

void Rtc_Reset() {
    if (g.RTCfile >= 0) host::rtc0_close(g.RTCfile);
    g = RtcState{};
    dstActive = RtcUpdated = UtcUpdated = DstUpdated = NTP_UserModifiedTime = 0;
}
