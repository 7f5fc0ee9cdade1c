// Real-time clock. A calendar is seven u16: seconds, minutes, hours, day,
// month, year, day of week (1 = Sunday); the clock registers %SR44-%SR50 hold
// the local one. The UTC calendar (%SR212-%SR217, its first six words) follows
// it with the time-zone offset %SR210 (minutes, values from 0x8000 on count
// back) and daylight saving %SR211.
//
// Local time lives in the battery-backed clock chip on the I2C bus and is
// mirrored into the kernel's clock "/dev/rtc0" (and, at the first opening,
// from there into the panel's wall clock).
#pragma once
#include <cstdint>

// Current local calendar with its day of week (the chip is read at most once
// a second); `cal` stays as it is when the clock cannot be read or reads an
// invalid time.
void RtcGet(uint16_t *cal);
// 1 for a calendar the clock takes: seconds and minutes 0-59, hours 0-23,
// month 1-12, day within the month (29 days in February of every year
// divisible by 4, as the chip counts, so 29 February 2100 passes), year
// 1-2100. The day of week is not looked at.
int RtcCheck(const uint16_t *cal);
// Sets the clock from a 7-word calendar (the day of week is taken from the
// date). 1, or 0 when the calendar is invalid or the clock cannot be set.
int RtcSet(const uint16_t *cal);
// Sets only the time (seconds, minutes, hours) or only the date (day, month,
// year) and keeps the rest of the current time. 1 or 0 as RtcSet.
int RtcTimeSet(const uint16_t *hms);
int RtcDateSet(const uint16_t *dmy);

// Calendar arithmetic.
int CheckLeap(int year);                     // Gregorian rule
int DayOfWeek(int year, int month, int day); // 0 = Sunday .. 6
uint8_t DecimalToBCD(uint8_t value);
uint8_t BCDToDecimal(uint8_t value);
// RtcCheck's test with the month lengths of `leap` (0 common, 1 leap year) and
// the years 1-2036.
int UtcCheck(const uint16_t *cal, int leap);

// A UTC time value.
struct UtcTime {
    uint32_t seconds; // since 1970-01-01 00:00:00
    uint32_t ms;
};
// Seconds since 1970 of a UTC calendar (milliseconds 0).
void UtcGet(const uint16_t *cal, UtcTime *time);
// The UTC calendar (six words) of a time; validated with UtcCheck. Sets
// UtcUpdated. 1, or 0 (calendar untouched) when invalid.
int UtcSet(const UtcTime *time, uint16_t *cal);
// Advances the UTC calendar registers once a second; copies them to `cal`
// when it is not null.
void UtcUpdate(uint16_t *cal);
// UTC calendar = local time minus `offset` minutes (and 60 more with `dst`).
void SyncUtcWithRtc(const uint16_t *local, uint16_t *utc, int offset, int dst);
// Local calendar from UTC with the time-zone offset (minutes) and daylight
// saving; sets the clock. 1, or 0 (local untouched) when the clock refused it.
int SyncRtcWithUtc(uint16_t *local, const uint16_t *utc, int offset, int dst);
// Applies a change of the daylight-saving switch (%SR211 low byte) to the
// clock: one hour forward when it goes on, back when it goes off.
void DstUpdate(uint16_t *cal);

extern const uint16_t rtc_default[7];
extern uint8_t dstActive;            // daylight saving in effect
extern uint8_t RtcUpdated;           // a user set the clock
extern uint8_t UtcUpdated;           // a UTC change waits to be applied
extern uint8_t DstUpdated;           // the clock moves for daylight saving
extern uint8_t NTP_UserModifiedTime; // the user changed the time

// Closes the clock and forgets its state (test fixtures).
void Rtc_Reset();
