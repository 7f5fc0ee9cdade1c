// The screen program's share of the system services: its set-up when the
// screen program starts, and the system update of every screen pass (alarm
// trigger bits, the file-request slots of the shared mailbox block, beeper
// override, backlight register and touch sensitivity).
#include "base/le.h"
#include "base/trace.h"
#include "data/cfm.h"
#include "data/data.h"
#include "regs/plc_reg.h"
#include "serial/serial.h"
#include "system/pgm.h"
#include "system/reglink.h"
#include "system/sys.h"
#include "system/touch.h"

#include <algorithm>
#include <cstring>

char drvInfo[kDrvInfoRows][50];
static_assert(sizeof drvInfo[0] == kDrvInfoRow);

namespace {

// A media request channel: its slot in dpram, the media manager's loader of
// the slot and the block the loader queues the request on.
struct Channel {
    uint32_t slot;
    int (*load)();
    CFCB **block;
};
// clang-format off
const Channel kChannels[kSysChannels] = {
    {mbox::kGeneric,         CFM_LoadDpramReq,          &pDpramCFCB},
    {mbox::kLogger,          CFM_LoadLoggerReq,         &pLoggerCFCB},
    {mbox::kReport,          CFM_LoadReportReq,         &pReportCFCB},
    {mbox::kRecipe,          CFM_LoadRecipeReq,         &pRecipeCFCB},
    {mbox::kAlarm,           CFM_LoadAlarmReq,          &pAlarmCFCB},
    {mbox::kEmail,           CFM_LoadEmailReq,          &pEmailCFCB},
    {mbox::kTrend,           CFM_LoadTrendReq,          &pTrendCFCB},
    {mbox::kTrendRead,       CFM_LoadTrendReadReq,      &pTrendReadCFCB},
    {mbox::kParviTrendRead,  CFM_ParviLoadTrendReadReq, &pParviTrendReadCFCB},
    {mbox::kDebugLog,        CFM_LoadDBGLoggerReq,      &pDBGLoggerCFCB},
};
// clang-format on
static_assert(mbox::kDebugLog + mbox::kSlotBytes <= uint32_t(kDpramBytes));

constexpr uint16_t kIdle = 0, kWaiting = 2;

// The alarm register request of the shared mailbox block: u32 reference at
// byte 4, u32 size in bits at byte 8, the registers' copy from byte 12.
constexpr uint32_t kAlarmSize = 8, kAlarmData = 12, kAlarmDataMax = 256;
constexpr uint32_t kMailboxServer = 0, kMailboxClient = 1; // the register mailbox's toggles

struct UpdateState {
    uint16_t channel[kSysChannels];
    uint8_t beep_applied;       // %SR184 low byte last applied in run mode
    uint16_t backlight_applied; // %SR57 last applied
    uint16_t tch_sen;           // touch-sensor register last applied
};
UpdateState u;

void serve(const Channel &c, uint16_t &state) {
    uint8_t *slot = dpram + c.slot;
    switch (state) {
    case kIdle:
        if (slot[mbox::kRequest] != slot[mbox::kAnswer] && c.load()) state = kWaiting;
        break;
    case kWaiting: {
        uint32_t result = 0;
        if (CFM_PollReq(*c.block, &result) == 4) {
            put_le32(slot + mbox::kResult, result);
            slot[mbox::kAnswer] = slot[mbox::kRequest];
            state = kIdle;
        }
        break;
    }
    default:
        state = kIdle;
        break;
    }
}

} // namespace

void SYS_InitGFX() {
    host::trace("SYS_InitGFX");
    TCH_ScreenSaver(sr_get(sr::kSaverEnable) ? sr_get(sr::kSaverMinutes) : 0);
    TCH_BeepEnable(sr_get(sr::kBeepEnable) != 0);
    BKLT_Ctrl(0, 100);
    u.backlight_applied = sr_get(sr::kBacklight);
    // The screen program's end switched the override off: a screen program
    // started again applies %SR184 anew.
    u.beep_applied = 0;
    PGM_SetPopupMode(sr_get(sr::kPopupMode));
    u.channel[0] = u.channel[1] = kIdle;
    PMGR_GetDrvInfo(&drvInfo[0][0], kDrvInfoRows);
}

void SYS_Update() {
    host::trace("SYS_Update");
    // The request names at most the 256 bytes of the register mailbox; the
    // alarms take their 96 bits.
    uint32_t bytes = std::min(le32(dpram + kAlarmSize) / 8, kAlarmDataMax);
    std::memcpy(alarmBuf, dpram + kAlarmData, std::min<uint32_t>(bytes, sizeof alarmBuf));
    // Collected: the mailbox's next copy is fresh, so a trigger that went off
    // is seen off (uncollected, the bits set since would stay set for good).
    dpram[kMailboxClient] = dpram[kMailboxServer];

    for (int i = 0; i < kSysChannels; ++i)
        serve(kChannels[i], u.channel[i]);

    if (sr_get(sr::kRunMode) == sr::kModeRun) {
        uint8_t v = uint8_t(sr_get(sr::kBeepOverride));
        if (v != u.beep_applied) {
            TCH_BeepOvrd(v != 0);
            u.beep_applied = v;
        }
    } else if (u.beep_applied) {
        TCH_BeepOvrd(0);
        u.beep_applied = 0;
    }

    uint16_t level = sr_get(sr::kBacklight);
    if (level & 0x8000) {
        level &= 0x7FFF;
        sr_put(sr::kBacklight, level);
        TCH_TickleSaver();
    }
    if (level != u.backlight_applied) {
        BKLT_Ctrl(0, level);
        u.backlight_applied = sr_get(sr::kBacklight);
    }

    if (pTchSenRcb) {
        uint8_t v[2];
        SYS_ReadReg(v, pTchSenRcb, 2);
        uint16_t sens = le16(v);
        if (sens != u.tch_sen) {
            u.tch_sen = sens;
            TCH_Ctrl(16, sens);
        }
    }
}

uint16_t SYS_ChannelState(int channel) {
    return channel >= 0 && channel < kSysChannels ? u.channel[channel] : 0;
}

void SysUpdate_Reset() {
    u = UpdateState{};
    std::memset(alarmBuf, 0, sizeof alarmBuf);
    std::memset(drvInfo, 0, sizeof drvInfo);
}
