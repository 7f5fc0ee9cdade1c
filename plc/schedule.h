// Calendar contacts: power passes while the clock (%SR44-%SR50) lies inside a
// time-of-day window, on selected days of the week or of the month, in
// selected months, or within a range of years. The ladder entries are in
// plc/ladder_fam.h; these are the entries of the IEC schedule blocks, which
// pass plain values and get 1 or 0.
#pragma once
#include <cstdint>

// Window from start to end (minutes of the day, end exclusive; an end before
// the start runs across midnight). 0 for hours above 23 or minutes above 59.
int TrSchedule_TimeOfDay(uint16_t start_hour, uint16_t start_minute, uint16_t end_hour,
                         uint16_t end_minute);
// Bit (day of week - 1) of the mask, bit 0 Sunday; 0 for a mask above 127.
int TrSchedule_DayOfWeek(uint16_t mask);
// Bit (day of month - 1); 0 for a negative mask (so day 32 is never selected).
int TrSchedule_DayOfMonth(int32_t mask);
// Bit (month - 1), bit 0 January; 0 for a mask of 4096 or above.
int TrSchedule_MonthOfYear(uint16_t mask);
// years[0] <= year <= years[1]; 0 when the start is before 2000 or the end after 2100.
int TrSchedule_Year(const uint16_t *years);
