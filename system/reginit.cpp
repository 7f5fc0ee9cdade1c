// The register image's start-up values: the image cleared or its temporary
// areas only, the identity, the clock and the system bits.
#include "system/reginit.h"

#include "host/config.h"
#include "host/root.h"
#include "iec/kernel/iec.h"
#include "platform/rtc.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "system/appfile.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kMarkerText[8] = {'W', 'A', 'T', 'C', 'H', 'B', 'A', 'T'};

void zero(uint32_t offset, size_t len) {
    std::memset(plc_reg + offset, 0, len);
}

// Time-zone offset in minutes: values from 0x8000 on count back from UTC.
int tz_offset_minutes(uint16_t v) {
    return v < 0x8000 ? int(v) : int(v) - 0x10000;
}

void read_words(int first_sr, uint16_t *out, int n) {
    for (int i = 0; i < n; i++)
        out[i] = sr_get(first_sr + i);
}
void write_words(int first_sr, const uint16_t *in, int n) {
    for (int i = 0; i < n; i++)
        sr_put(first_sr + i, in[i]);
}

} // namespace

void PlcRegClear() {
    if (TrevantRuntime) {
        // The IEC application keeps its registers; its retained data goes.
        TrevantStop();
        if (std::remove(host::path("/mnt/cfg/tr.ret").c_str()) != 0) std::perror("Remove_error: ");
        return;
    }
    PlcTmpClear();
    zero(reg::kIG, reg::kS - reg::kIG);
    zero(reg::kAIG, reg::kSR - reg::kAIG);
    zero(reg::kI, reg::kQ - reg::kI);
    zero(reg::kM, reg::kAI - reg::kM);
    zero(reg::kAI, reg::kAQ - reg::kAI);
    zero(reg::kR, reg::kDirectEnd - reg::kR);
    zero(reg::kEM, reg::kESR - reg::kEM);
}

void PlcRegInit(int clear) {
    if (clear) {
        std::memcpy(plc_reg + reg::kMarker, kMarkerText, sizeof kMarkerText);
        PlcRegClear();
    } else {
        PlcTmpClear();
    }

    // Identity.
    sr_put(sr::kMacLow, uint16_t(tinyImage[13] | (tinyImage[12] << 8)));
    sr_put(sr::kMacMid, uint16_t(tinyImage[11] | (tinyImage[10] << 8)));
    sr_put(sr::kFirmwareMajor, 1552);
    sr_put(sr::kScreenWidth, uint16_t(host::screen_width()));
    sr_put(sr::kScreenHeight, uint16_t(host::screen_height()));
    sr_put(sr::kFpgaVersion, 0);

    sr_put(sr::kScanAverage, 0);
    sr_put(sr::kFirmwareMinor, 0);
    sr_put(sr::kReserved60, 2);
    sr_put(sr::kReserved43, 255);
    dstActive = uint8_t(sr_get(sr::kDaylightSaving));

    // Clock: local calendar in %SR44..50, UTC calendar in %SR212..217.
    uint16_t local[7];
    read_words(sr::kClock, local, sr::kClockWords);
    RtcGet(local);
    if (!RtcCheck(local)) {
        std::memcpy(local, rtc_default, sizeof local);
        RtcSet(local);
        sr_put(sr::kStatus, sr_get(sr::kStatus) | sr4::kClock);
    }
    write_words(sr::kClock, local, sr::kClockWords);
    uint16_t utc[7];
    read_words(sr::kUtc, utc, 7);
    SyncUtcWithRtc(local, utc, tz_offset_minutes(sr_get(sr::kTimeZone)),
                   uint8_t(sr_get(sr::kDaylightSaving)));
    write_words(sr::kUtc, utc, sr::kUtcWords);

    sr_put32(sr::kScanTick, 0);
    // Of the media sizes only the low words.
    for (int n : {sr::kNetBusOffs, sr::kLastKey, sr::kReserved58, sr::kReserved63, sr::kRestartReq1,
                  sr::kRestartReq0, sr::kReserved166, sr::kReserved168, sr::kTouchX, sr::kTouchY,
                  sr::kMediaControl, sr::kMediaStatus, sr::kMediaFree, sr::kMediaTotal,
                  sr::kAlarmStatus, sr::kAlarmStatus + 1})
        sr_put(n, 0);
    for (int n : {sr::kNetLoad, sr::kNetOverflows, sr::kNetDrops, sr::kNetTxLoad,
                  sr::kNetTxWarnings, sr::kNetRxWarnings})
        sr_put(n, 0);
    for (int n = sr::kEsrFree; n <= sr::kEsrLast; n++)
        sr_put(n, 0);
    zero(reg::kCtlData, 26);
    sr_put32(sr::kLogicFaultAt, 0xFFFFFFFFu);
    sr_put(sr::kReserved155, 1500);

    // System bits: only %S7 stays set among the first eight.
    plc_reg[reg::kS] = 0x40;
    sbit_put(sbit::kCleared14, 0);
    sbit_put(sbit::kCleared15, 0);
    for (int n = sbit::kClearedFirst; n <= sbit::kClearedLast; n++)
        sbit_put(n, 0);
}
