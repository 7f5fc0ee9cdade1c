// Names of the system registers and of their bits, for every layer that reads
// or writes them in place.
//
// Each register has one name here; code says sr_get(sr::kRunMode), never
// sr_get(sr::kRunMode). A register of more than 16 bits is named by its first (low) word
// and takes the words after it. Write widths and limits are not repeated here:
// they belong to the system-register table (sr_info, plc/sysreg.cpp).
#pragma once
#include <cstdint>

namespace sr {
// clang-format off

// ---- screen selection
constexpr int kUserScreen     = 1;   // user screen to show
constexpr int kForcedScreen   = 2;   // forced (alarm) screen, over the user screen (0: none)
constexpr int kSystemScreen   = 3;   // system screen (values kSysScreen*; 0: user screens)
constexpr int kPageOpenSlices = 206; // time-slice interrupts during the last page open
constexpr int kScreenPassTime = 207; // last screen update pass, in ticks of 100 us

// ---- controller state
constexpr int kStatus         = 4;   // fault bits (sr4::)
constexpr int kRunMode        = 5;   // run mode (values kMode*)
constexpr int kScanAverage    = 6;   // scan time, running average, in ticks of 100 us
constexpr int kScanMin        = 7;   // shortest scan
constexpr int kScanMax        = 8;   // longest scan
constexpr int kRestarts       = 52;  // restart count
constexpr int kLogicFaultAt   = 53;  // 32 bits: where the ladder logic failed (all ones: none)
constexpr int kStatusShown    = 55;  // kStatus, without the network bits when kNetConfig is 0
constexpr int kScanTick       = 149; // 32 bits: free-running tick at the start of the scan
constexpr int kStartStatus    = 199; // persistent status word as found at start
constexpr int kOnlineChange   = 193; // online-change status, shared with the programming protocol

// ---- touch
constexpr int kTouchPressure  = 9;   // last scaled touch pressure; written without any check
constexpr int kTouchThreshold = 10;  // touch pressure threshold (0: 200)
constexpr int kTouchX         = 171; // current touch point (0, 0: not touched)
constexpr int kTouchY         = 172;

// ---- mirrors of the application blocks: length (32 bits) and CRC-16
constexpr int kLadderLength    = 11,  kLadderCrc    = 23;
constexpr int kForceLength     = 15,  kForceCrc     = 25;  // the force table
constexpr int kIoConfigLength  = 17,  kIoConfigCrc  = 26;
constexpr int kNetConfigLength = 19,  kNetConfigCrc = 27;  // 0: no network configuration
constexpr int kSecurityLength  = 21,  kSecurityCrc  = 28;  // the security record
constexpr int kScreenPgmLength = 113, kScreenPgmCrc = 125;
constexpr int kStringsLength   = 115, kStringsCrc   = 126;
constexpr int kBitmapsLength   = 117, kBitmapsCrc   = 127;
constexpr int kTextsLength     = 119, kTextsCrc     = 128;
constexpr int kFontsLength     = 121, kFontsCrc     = 129;
constexpr int kProMgrLength    = 123, kProMgrCrc    = 130;
constexpr int kSmsLength       = 143, kSmsCrc       = 147;
constexpr int kDatalogLength   = 145, kDatalogCrc   = 148; // stored inverted

// ---- network
constexpr int kNetId          = 29;  // own first node id
constexpr int kNetBaud        = 30;  // bit-rate code
constexpr int kNetConfig      = 31;  // first byte of the network configuration (0: no network)
constexpr int kNetIdCount     = 61;  // number of own node ids
// Bus statistics, from the CAN statistics words.
constexpr int kNetTxLoad      = 190; // transmit load, capped at 1000
constexpr int kNetLoad        = 187; // transmit and receive load, capped at 1000
constexpr int kNetTxWarnings  = 191;
constexpr int kNetRxWarnings  = 192;
constexpr int kNetDrops       = 189;
constexpr int kNetOverflows   = 188;
constexpr int kNetBusOffs     = 51;

// ---- operator settings
constexpr int kContrast       = 32;
constexpr int kKeyToggle      = 33;  // function keys toggle their %K bit (0: set it)
constexpr int kPortAction     = 34;  // 0 warm reset, 1 reopen the programming port (not kept)
constexpr int kLastKey        = 56;  // last key pressed
constexpr int kBacklight      = 57;  // backlight level
constexpr int kExtOptions     = 152; // bit 2: extended option
constexpr int kMenuOption2    = 163;
constexpr int kMenuOptions    = 164; // bits 0-1 menu options, 2-3 and 6-7 backup, 5 auto-load
constexpr int kSlicePeriod    = 167; // time slice in ms
constexpr int kKeysDisabled   = 173; // keys ignored while non-zero
constexpr int kPopupMode      = 180; // status pop-up: 0 none, 1 on faults, 2 on every change
constexpr int kBeepEnable     = 183;
constexpr int kBeepOverride   = 184; // low byte, applied in run mode
constexpr int kSaverEnable    = 185; // screen saver on (with kSaverMinutes non-zero)
constexpr int kSaverMinutes   = 186;

// ---- identity and versions
constexpr int kMacLow         = 35;  // MAC address bytes 4 (high) and 5 (low)
constexpr int kMacMid         = 36;  // MAC address bytes 2 (high) and 3 (low)
constexpr int kProduct        = 37;  // product code for the sign-on and model texts
constexpr int kFirmwareMajor  = 38;  // running firmware version
constexpr int kFirmwareMinor  = 59;
constexpr int kFpgaVersion    = 40;
constexpr int kScreenWidth    = 41;  // pixels
constexpr int kScreenHeight   = 42;
constexpr int kSlotInfo       = 64;  // module identities and configuration of the slots (98 bytes)
constexpr int kModelText      = 131; // model text
constexpr int kInitRdVer      = 200; // version of the initial RAM disk
constexpr int kKernelRev      = 201; // first 10 bytes of the kernel revision text, to %SR205
constexpr int kFwUpdate       = 154; // firmware update bits
constexpr int kRestartReq1    = 153; // restart requests of interface 1
constexpr int kRestartReq0    = 156; // restart requests of interface 0

// ---- clock
constexpr int kClock          = 44;  // seconds, minutes, hours, day, month, year, weekday
constexpr int kClockWords     = 7;   // %SR44..%SR50
constexpr int kClockDate      = 47;  // day, month, year
constexpr int kFpgaMode       = 208;
constexpr int kTimeZone       = 210; // offset from UTC in minutes (from 0x8000 on: negative)
constexpr int kDaylightSaving = 211; // low byte: daylight saving on
constexpr int kUtc            = 212; // UTC seconds, minutes, hours, day, month, year
constexpr int kUtcWords       = 6;   // %SR212..%SR217

// ---- power-down record: the 10 bytes of /proc/powerdown, to %SR198
constexpr int kPowerdown      = 194;
constexpr int kBoardVariant   = 196;
constexpr int kSupplyVoltage  = 198; // battery test: at least 3001

// ---- factory calibration of the analog module
constexpr int kCalibKey       = 84;  // kCalibEnter asks for it, kCalibActive while it owns the I/O
constexpr int kCalibCurrent   = 85;  // bit n: input n+1's current constants are not the default
constexpr int kCalibVoltage   = 86;  // bit n: input n+1's voltage constants are not the default

// ---- media and alarms
constexpr int kMediaControl   = 174; // bit 0: safe-removal request; 3: safe to remove
constexpr int kMediaStatus    = 175; // media status (0 ready)
constexpr int kMediaFree      = 176; // 32 bits: free space
constexpr int kMediaTotal     = 178; // 32 bits: total size
constexpr int kAlarmStatus    = 181; // 32 bits: alarm groups with unacknowledged alarms

// ---- registers the panel sets or clears at start-up but does not use itself
constexpr int kReserved43     = 43;  // 255 at start-up
constexpr int kReserved58     = 58;
constexpr int kReserved60     = 60;  // 2 at start-up
constexpr int kReserved62     = 62;
constexpr int kReserved63     = 63;
constexpr int kReserved137    = 137; // at least 500
constexpr int kReserved155    = 155; // 1500 at start-up
constexpr int kReserved166    = 166;
constexpr int kReserved168    = 168;
constexpr int kReserved169    = 169; // 32767 by default
constexpr int kReserved170    = 170; // 32768 by default

// ---- the areas: %SR1..%SR192 in the %SR area, %SR193..%SR448 in the %ESR area
constexpr int kLast           = 192; // last register of the %SR area (and of sr_info)
constexpr int kEsrFirst       = 193;
constexpr int kEsrLast        = 448;
constexpr int kEsrFree        = 223; // %SR223..kEsrLast: no fixed use, cleared at start-up

// ---- values of kRunMode. Logic runs in kModeRun and kModeRunFaulted; inputs,
// outputs and the per-scan services in every mode but kModeIdle.
constexpr int kModeIdle       = 0;
constexpr int kModeDoIo       = 1;
constexpr int kModeRun        = 2;
constexpr int kModeRunFaulted = 3;   // taken even while fault bits force kModeIdle
constexpr int kMode4          = 4;   // leaving it for a running mode restarts only the statistics

// ---- values of kSystemScreen
constexpr int kSysScreenNone     = 0;  // user screens
constexpr int kSysScreenMenu     = 1;  // the system menu
constexpr int kSysScreenAutoLoad = 13; // auto-load-run
constexpr int kSysScreenClone    = 20;
constexpr int kSysScreenTouchCal = 21; // touch calibration
constexpr int kSysScreenBoot     = 22; // boot installer

// ---- values of kCalibKey
constexpr uint16_t kCalibEnter  = 0x71D4;
constexpr uint16_t kCalibActive = 0x39A6; // factory calibration owns the I/O

// clang-format on

// No register has two names: every name above, and the high word of each
// 32-bit register, is a different register. (Keep this list complete.)
// clang-format off
constexpr int kNamed[] = {
    kUserScreen, kForcedScreen, kSystemScreen, kPageOpenSlices, kScreenPassTime, kStatus, kRunMode, kScanAverage, kScanMin,
    kScanMax, kRestarts, kLogicFaultAt, kLogicFaultAt + 1, kStatusShown, kScanTick, kScanTick + 1,
    kStartStatus, kOnlineChange, kTouchPressure, kTouchThreshold, kTouchX, kTouchY,
    kLadderLength, kLadderLength + 1, kLadderCrc, kForceLength, kForceLength + 1, kForceCrc,
    kIoConfigLength, kIoConfigLength + 1, kIoConfigCrc, kNetConfigLength, kNetConfigLength + 1,
    kNetConfigCrc, kSecurityLength, kSecurityLength + 1, kSecurityCrc, kScreenPgmLength,
    kScreenPgmLength + 1, kScreenPgmCrc, kStringsLength, kStringsLength + 1, kStringsCrc,
    kBitmapsLength, kBitmapsLength + 1, kBitmapsCrc, kTextsLength, kTextsLength + 1, kTextsCrc,
    kFontsLength, kFontsLength + 1, kFontsCrc, kProMgrLength, kProMgrLength + 1, kProMgrCrc,
    kSmsLength, kSmsLength + 1, kSmsCrc, kDatalogLength, kDatalogLength + 1, kDatalogCrc, kNetId,
    kNetBaud, kNetConfig, kNetIdCount, kNetTxLoad, kNetLoad, kNetTxWarnings, kNetRxWarnings,
    kNetDrops, kNetOverflows, kNetBusOffs, kContrast, kKeyToggle, kPortAction, kLastKey,
    kBacklight, kExtOptions, kMenuOption2, kMenuOptions, kSlicePeriod, kKeysDisabled, kPopupMode,
    kBeepEnable, kBeepOverride, kSaverEnable, kSaverMinutes, kMacLow, kMacMid, kProduct,
    kFirmwareMajor, kFirmwareMinor, kFpgaVersion, kScreenWidth, kScreenHeight, kSlotInfo,
    kModelText, kInitRdVer, kKernelRev, kFwUpdate, kRestartReq1, kRestartReq0, kClock,
    kFpgaMode, kTimeZone, kDaylightSaving, kUtc, kPowerdown, kCalibKey, kCalibCurrent,
    kCalibVoltage, kMediaControl, kMediaStatus, kMediaFree, kMediaFree + 1, kMediaTotal,
    kMediaTotal + 1, kAlarmStatus, kAlarmStatus + 1, kReserved43, kReserved58, kReserved60,
    kReserved62, kReserved63, kReserved137, kReserved155, kReserved166, kReserved168,
    kReserved169, kReserved170};
// clang-format on

constexpr bool all_distinct(const int *v, int n) {
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (v[i] == v[j]) return false;
    return true;
}
static_assert(all_distinct(kNamed, int(sizeof kNamed / sizeof kNamed[0])),
              "two names for one system register");
// Registers that lie inside another's span, named for their own use.
static_assert(kClockDate == kClock + 3 && kClockWords == 7);
static_assert(kBoardVariant == kPowerdown + 2 && kSupplyVoltage == kPowerdown + 4);
static_assert(kEsrFirst == kLast + 1 && kOnlineChange == kEsrFirst);
} // namespace sr

// System bits %Sn.
namespace sbit {
// clang-format off
constexpr int kFirstScan   = 1;  // set when the I/O starts, cleared by the logic
constexpr int kNetOk       = 2;  // no network fault in %SR4
constexpr int kClock5ms    = 3;  // toggles every 5 ms
constexpr int kClock50ms   = 4;  // toggles every 50 ms
constexpr int kClock500ms  = 5;  // toggles every 500 ms
constexpr int kIoOk        = 6;  // no I/O configuration fault in %SR4
constexpr int kRegInit     = 7;  // set at register initialisation
constexpr int kIecS9       = 9;  // passed to the IEC runtime when set
constexpr int kStatsFrozen = 10; // scan statistics frozen (set when leaving run mode 4)
constexpr int kForcesOn    = 11; // forces in effect: kForceEnable and a non-empty force table
constexpr int kForceEnable = 12; // forcing enabled
// Cleared at register initialisation: %S14, %S15 and %S17..%S208.
constexpr int kCleared14 = 14, kCleared15 = 15, kClearedFirst = 17, kClearedLast = 208;
// clang-format on
} // namespace sbit

// Status word %SR4 bits.
namespace sr4 {
constexpr uint16_t kBootFlash = 0x1, kEngineFlash = 0x2, kUserProgram = 0x4, kStaticRam = 0x8;
constexpr uint16_t kDupNetId = 0x10, kNetIdRange = 0x20, kIoConfig = 0x40, kNetOffline = 0x80;
constexpr uint16_t kLogicFault = 0x100, kClock = 0x200, kBattery = 0x1000, kGraphics = 0x4000;
constexpr uint16_t kForceIdle = 0x90F;
constexpr uint16_t kNetFaults = kDupNetId | kNetIdRange | kNetOffline; // hidden when %SR31 is 0
} // namespace sr4
