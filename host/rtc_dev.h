// "/dev/rtc0": the kernel's real-time clock, and the "hwclock" command that
// moves time between it and the panel's wall clock. The kernel clock runs from
// the host's time, independently of the wall clock; each process starts it
// (as the board's kernel does at boot) at the wall clock's time.
#pragma once
#include <linux/rtc.h>

#include <string>
#include <vector>

namespace host {

// A descriptor (>= 0), or -1 when the board has no kernel clock ("rtc0 = 0"
// in host.conf).
int rtc0_open();
void rtc0_close(int fd);
// RTC_RD_TIME and RTC_SET_TIME: 0, or -1 on a bad descriptor or (setting) a
// time the kernel refuses (month 0-11, year counted from 1900, from 1970 on).
int rtc0_read_time(int fd, struct rtc_time *tm);
int rtc0_set_time(int fd, const struct rtc_time *tm);

// "hwclock -s" (kernel clock to wall clock), "hwclock -w" (wall clock to
// kernel clock), "hwclock [-r]" (shows the kernel clock). Exit status.
int hwclock_command(const std::vector<std::string> &words);

void rtc0_reset();

} // namespace host
