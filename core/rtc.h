// Real-time clock. A calendar is seven u16: seconds, minutes, hours, day,
// month, year, day of week (1 = Sunday).
#pragma once
#include <cstdint>

void RtcGet(uint16_t *cal);
int RtcCheck(const uint16_t *cal);
void RtcSet(const uint16_t *cal);
void RtcTimeSet(const uint16_t *hms);
void RtcDateSet(const uint16_t *dmy);
void SyncUtcWithRtc(const uint16_t *local, uint16_t *utc, int offset, int dst);
extern const uint16_t rtc_default[7];
extern uint8_t dstActive; // daylight saving in effect
