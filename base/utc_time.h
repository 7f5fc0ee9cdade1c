// Calendar date and time to seconds since 1 January 1970, as the trend
// graphs, their playback window and the trend pop-up count time.
#pragma once
#include <cstdint>

struct UtcDate {
    uint16_t year;
    uint8_t month, day, hour, minute, second;
};

// Seconds since 1970 of `d`. Every year divisible by 4 counts as a leap
// year, 2100 included, as the panel's clock accepts 29 February 2100. A year
// before 1970 or a month outside 1-12 gives 0; a date past the 32-bit range
// gives 0xFFFFFFFF.
uint32_t Conversion_to_UTC_Time_func(const UtcDate &d);
