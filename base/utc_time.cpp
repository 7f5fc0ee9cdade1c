// Date and time to seconds since 1970 (see utc_time.h).
#include "base/utc_time.h"

#include <cstdint>

namespace {
// Days before each month in a common year.
constexpr uint16_t kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
} // namespace

uint32_t Conversion_to_UTC_Time_func(const UtcDate &d) {
    if (d.year < 1970 || d.month < 1 || d.month > 12) return 0;
    int64_t s = int64_t(31536000) * (d.year - 1970);
    s += int64_t(86400) * ((d.year - 1969) / 4);
    s += int64_t(86400) * kDaysBefore[d.month - 1];
    s += int64_t(86400) * (int64_t(d.day) - 1);
    s += int64_t(3600) * d.hour + int64_t(60) * d.minute + d.second;
    if (d.year % 4 == 0 && d.month >= 3) s += 86400;
    if (s < 0) return 0;
    return s > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(s);
}
