#include "host/rtc_dev.h"

#include "host/clock.h"
#include "host/config.h"

#include <cstdio>
#include <ctime>

namespace host {
namespace {

constexpr int64_t kSecond = 1'000'000'000;

struct State {
    bool started = false;
    int64_t offset_ns = 0; // kernel clock = host time + offset
    int next_fd = 3;
};
State g;

bool present() {
    return config_int("rtc0", 1) != 0;
}

int64_t kernel_ns() {
    if (!g.started) {
        g.started = true;
        g.offset_ns = wall_ns() - host_time_ns();
    }
    return host_time_ns() + g.offset_ns;
}

constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool valid(const struct rtc_time &t) {
    if (t.tm_year < 70 || t.tm_mon < 0 || t.tm_mon > 11 || t.tm_hour < 0 || t.tm_hour > 23 ||
        t.tm_min < 0 || t.tm_min > 59 || t.tm_sec < 0 || t.tm_sec > 59 || t.tm_mday < 1)
        return false;
    int y = t.tm_year + 1900;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return t.tm_mday <= kDays[t.tm_mon] + (t.tm_mon == 1 && leap);
}

int64_t seconds_of(const struct rtc_time &t) {
    struct tm tm {};
    tm.tm_sec = t.tm_sec;
    tm.tm_min = t.tm_min;
    tm.tm_hour = t.tm_hour;
    tm.tm_mday = t.tm_mday;
    tm.tm_mon = t.tm_mon;
    tm.tm_year = t.tm_year;
    return int64_t(timegm(&tm));
}

struct rtc_time time_of(int64_t ns) {
    time_t secs = time_t(ns >= 0 ? ns / kSecond : (ns - kSecond + 1) / kSecond);
    struct tm tm {};
    gmtime_r(&secs, &tm);
    struct rtc_time t {};
    t.tm_sec = tm.tm_sec;
    t.tm_min = tm.tm_min;
    t.tm_hour = tm.tm_hour;
    t.tm_mday = tm.tm_mday;
    t.tm_mon = tm.tm_mon;
    t.tm_year = tm.tm_year;
    t.tm_wday = tm.tm_wday;
    t.tm_yday = tm.tm_yday;
    return t;
}

} // namespace

int rtc0_open() {
    return present() ? g.next_fd++ : -1;
}

void rtc0_close(int) {}

int rtc0_read_time(int fd, struct rtc_time *tm) {
    if (fd < 0 || !tm || !present()) return -1;
    *tm = time_of(kernel_ns());
    return 0;
}

int rtc0_set_time(int fd, const struct rtc_time *tm) {
    if (fd < 0 || !tm || !present() || !valid(*tm)) return -1;
    kernel_ns();
    g.offset_ns = seconds_of(*tm) * kSecond - host_time_ns();
    return 0;
}

int hwclock_command(const std::vector<std::string> &words) {
    if (!present()) {
        std::fputs("hwclock: can't open '/dev/rtc0': No such file or directory\n", stderr);
        return 1;
    }
    bool to_system = false, to_rtc = false;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string &w = words[i];
        if (w == "-s" || w == "--hctosys")
            to_system = true;
        else if (w == "-w" || w == "--systohc")
            to_rtc = true;
    }
    if (to_system) {
        // The kernel clock keeps whole seconds.
        int64_t ns = kernel_ns();
        set_wall_ns(ns - (ns % kSecond + kSecond) % kSecond);
    } else if (to_rtc) {
        kernel_ns();
        g.offset_ns = wall_ns() - host_time_ns();
    } else {
        struct rtc_time t = time_of(kernel_ns());
        std::printf("%04d-%02d-%02d %02d:%02d:%02d\n", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                    t.tm_hour, t.tm_min, t.tm_sec);
    }
    return 0;
}

void rtc0_reset() {
    g = State{};
}

} // namespace host
