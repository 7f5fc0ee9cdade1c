// Debug log: the modem and GSM code's diagnostic texts, buffered in RAM while
// the controller runs and appended one mailbox step per control scan to the
// daily file "\DEBUG\dlog_YYMMDD.log" on the SD card, through the data
// logger's file mailbox.
#include "base/trace.h"
#include "data/cfm.h"
#include "data/data.h"
#include "data/log_mbox.h"
#include "data/logger.h"
#include "platform/media.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"

#include <cstdio>
#include <cstring>

DbgLogConfig DbgLog;

namespace {

const char kDir[] = "\\DEBUG";

struct DebugState {
    char buf[kDbgLogBufBytes];
    uint32_t len;    // Dbglog_len
    uint32_t posted; // bytes of the write in flight
    int ws;          // DLogFileWriteState
    int16_t status;  // DLogStatus
    FxFile file;
    uint16_t rtc[7]; // the clock when the file was named
    char name[32];
    uint32_t written; // count of the last write
};
DebugState d;

uint16_t enable_value() {
    uint8_t v[2] = {};
    if (!DbgLog.enable_ref || !PlcReg_Get(v, DbgLog.enable_ref, 16)) return 0;
    return uint16_t(v[0] | v[1] << 8);
}

void build_name() {
    std::snprintf(d.name, sizeof d.name, "%s\\dlog_%02u%02u%02u.log", kDir, d.rtc[5] % 100u,
                  d.rtc[4] % 100u, d.rtc[3] % 100u);
}

void error(int16_t code) {
    if (code >= 1 && code <= 7) {
        d.status = code;
        if (code < 6) d.ws = 0;
        return;
    }
    d.ws = 16;
}

// A post refused as busy stays and is tried again on the next scan.
template <class Post> void post(int waiting, Post p) {
    int16_t r = LogMbox_Post(LogMboxUser::Debug, p);
    if (r == -2)
        d.ws = waiting;
    else if (r != -3)
        error(r);
}

void step() {
    int16_t r = 0;
    auto result = [&] { return r = LogMbox_Result(LogMboxUser::Debug); };
    switch (d.ws) {
    case 0:
        d.status = CFDL_GetStatus();
        if (d.status == 0) d.ws = 16;
        break;
    case 1: {
        int16_t st = CFDL_GetStatus();
        if (st == 0) {
            d.status = 0;
            d.ws = 2;
            step();
        } else if (st >= 1 && st < 6) {
            d.status = st;
            d.ws = 0;
            step();
        } else if (st == 6 || st == 7) {
            d.status = st;
        } else {
            d.ws = 16;
            step();
        }
        break;
    }
    case 2:
        post(3, [] { return CFDL_MakeDir(0, kDir); });
        break;
    case 3:
        if (result() == -2) break;
        if (r == 0 || r == 81)
            d.ws = 4;
        else
            error(r);
        break;
    case 4:
        for (int i = 0; i < 7; ++i)
            d.rtc[i] = sr_get(sr::kClock + i);
        build_name();
        post(5, [] { return CFDL_Open(&d.file, d.name, 1); });
        break;
    case 5:
        if (result() == -2) break;
        if (r == 0)
            d.ws = 12;
        else if (r == 66)
            d.ws = 6;
        else
            error(r);
        break;
    case 6:
        build_name();
        post(7, [] { return CFDL_Open(&d.file, d.name, 8); });
        break;
    case 7:
        if (result() == -2) break;
        if (r == 0)
            d.ws = 12;
        else
            error(r);
        break;
    case 12:
        d.posted = d.len;
        d.written = 0;
        post(13, [] { return CFDL_Write(&d.file, d.buf, d.posted, &d.written); });
        break;
    case 13:
        if (result() == -2) break;
        if (r == 0) {
            // Exactly what was written leaves the buffer; texts appended while
            // the write was under way stay.
            uint32_t n = d.written < d.posted ? d.written : d.posted;
            if (n > d.len) n = d.len;
            std::memmove(d.buf, d.buf + n, d.len - n);
            d.len -= n;
            d.ws = 14;
        } else {
            error(r);
        }
        break;
    case 14:
        post(15, [] { return CFDL_Close(&d.file); });
        break;
    case 15:
        if (result() == -2) break;
        if (r == 0)
            d.ws = 1;
        else
            error(r);
        break;
    case 16:
        if (d.file.open)
            post(17, [] { return CFDL_Close(&d.file); });
        else
            d.ws = 1;
        break;
    case 17:
        if (result() == -2) break;
        d.ws = 1;
        break;
    default:
        d.ws = 16;
        break;
    }
}

} // namespace

int DBG_WriteLog(uint16_t mask, const char *text) {
    if (!DbgLog.on || sr_get(sr::kRunMode) != sr::kModeRun) return 3;
    if ((mask & enable_value()) == 0) return 2;
    size_t n = text ? std::strlen(text) : 0;
    if (n == 0 || n + d.len > kDbgLogBufBytes - 1) return 1;
    std::memcpy(d.buf + d.len, text, n);
    d.len += uint32_t(n);
    return 0;
}

void DLOG_Update() {
    host::trace("DLOG_Update");
    if (!DbgLog.on) {
        // Switched off with a request in flight: the mailbox is not held
        // meanwhile, and the cycle starts again when switched back on.
        if (LogMbox_Holder() == LogMboxUser::Debug) {
            LogMbox_Release(LogMboxUser::Debug);
            d.ws = 16;
        }
        return;
    }
    if (enable_value() == 0) {
        d.len = 0;
        if (d.ws != 16) {
            // Whatever was in flight is no longer waited for.
            LogMbox_Release(LogMboxUser::Debug);
            d.ws = 14;
        }
        return;
    }
    // A cycle under way runs to its close even when its text is all
    // written: a file left open on the card until the next text would lose
    // what was written if the card were pulled meanwhile.
    if (d.len || (d.ws != 0 && d.ws != 1)) step();
    uint32_t total = 0, free = 0;
    CFDL_GetFreeSpace(0, &total, &free);
    uint64_t per_cent = (uint64_t(total) + 50) / 100;
    if (total && per_cent && free <= total && (total - free) / per_cent != 0) d.status = -1;
    uint8_t v[2] = {uint8_t(d.status), uint8_t(uint16_t(d.status) >> 8)};
    PlcReg_Set(DbgLog.enable_ref + 16, v, 16);
}

uint32_t DLOG_Buffered() {
    return d.len;
}
int DLOG_WriteState() {
    return d.ws;
}

void DLOG_Reset() {
    d = DebugState{};
    DbgLog = DbgLogConfig{};
}
