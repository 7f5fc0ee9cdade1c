// System services: the platform check, the product identity, the hardware
// watchdog, the battery, status LEDs, function keys, option outputs, the
// backlight, warm reset and clear-all, and the battery-backed memory of the
// screen objects.
#include "system/sys.h"

#include "base/le.h"
#include "base/trace.h"
#include "host/power.h"
#include "host/root.h"
#include "host/shell.h"
#include "host/thread.h"
#include "host/watchdog.h"
#include "net/net.h"
#include "platform/board.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"
#include "screens/screens.h"
#include "serial/serial.h"
#include "system/appfile.h"
#include "system/crash.h"
#include "system/loop.h"
#include "system/touch.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

std::atomic<int> wdog{-1};
int32_t WatchDogDisable;
uint8_t SYS_fGrayScale;
char KernelRev[16];
uint32_t InitRdVer;
const char *product;
const uint8_t *pSystemMenu[kSystemMenus];
int nSystemMenus;

namespace {
constexpr uint32_t kBbramBytes = sizeof bbram;
constexpr uint32_t kFirstBBR = 128; // the first bytes of bbram are never handed out

// Option outputs: GPIO lines driven through the pin controller's data-out set
// and clear registers. Menu option 1 is not on bank 2 pin 27 here: that line
// is the FRAM's chip select on this board.
struct Line {
    int bank, pin;
};
constexpr Line kMenuOption0{3, 14}, kMenuOption1{2, 28}, kExtendedOption{0, 17};

struct SysState {
    int fd6_holder = -1;  // occupies a descriptor so the watchdog does not land on it
    uint8_t held_key = 0; // function key pressed last (0 none)
};
SysState g;

void drive(Line line, bool high) {
    Board_DriveLine(line.bank, line.pin, high);
}

// Both FRAM banks get the registers and the battery-backed memory, bank 1
// first: a power loss in between leaves one bank whole.
void write_both_fram_banks() {
    for (int bank : {1, 2}) {
        FRAM_XChange_Data(0, bank);
        FRAM_BBRAM_XChange_Data(bbram, int(kBbramBytes), 0, bank);
    }
}

[[noreturn]] void restart_system() {
    host::shell("reboot");
    host::reboot();
}

void read_tiny_image() {
    if (FILE *f = std::fopen(host::path("/mnt/cfg/TINYIMGE.BIN").c_str(), "rb")) {
        size_t n = std::fread(tinyImage, 1, sizeof tinyImage, f);
        (void)n;
        std::fclose(f);
    }
    tinyImage[4] = 24;
    tinyImage[5] = 0;
    Etn_SetMacId(tinyImage + 8, 0);
}

void read_kernel_rev() {
    std::memset(KernelRev, 0, sizeof KernelRev);
    FILE *f = std::fopen(host::path("/dev/shm/rev.txt").c_str(), "r");
    if (!f) return;
    size_t n = 0;
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if ((c >= '0' && c <= '9') || c == '.') {
            if (c == '4' && n == 0) continue;
            if (n < sizeof KernelRev - 1) KernelRev[n++] = char(c);
        } else if (c == ' ' && n > 0) {
            break;
        }
    }
    std::fclose(f);
    if (n >= 2) {
        char a = KernelRev[n - 2], b = KernelRev[n - 1];
        KernelRev[7] = a;
        KernelRev[8] = b;
        KernelRev[9] = 0;
        for (size_t i = 10; i < sizeof KernelRev; ++i)
            KernelRev[i] = 0;
    }
}

uint32_t read_rd_version() {
    uint32_t v = 0;
    if (FILE *f = std::fopen(host::path("/usr/version").c_str(), "r")) {
        for (int c; (c = std::fgetc(f)) != EOF && c >= '0' && c <= '9';)
            v = v * 10 + uint32_t(c - '0');
        std::fclose(f);
    }
    return v;
}
} // namespace

uint32_t oAllocatedBBR = kFirstBBR;

void SYS_HardwareCheck() {
    host::trace("SYS_HardwareCheck");
    read_tiny_image();
    static const char *const kCommands[] = {
        "killall -9 inetd",
        "echo 10 >  /proc/sys/vm/dirty_writeback_centisecs",
        "echo 20 >  /proc/sys/vm/dirty_expire_centisecs",
        "echo 0 > /proc/sys/net/ipv4/conf/eth0/arp_filter",
        "echo 0 > /proc/sys/net/ipv4/conf/eth1/arp_filter",
        "echo 1 > /proc/sys/net/ipv4/conf/all/arp_ignore",
        "echo 1 > /proc/sys/net/ipv4/conf/all/proxy_arp",
        "echo 5 > /proc/sys/net/ipv4/tcp_retries2",
        "uname -a > /dev/shm/rev.txt",
    };
    for (const char *cmd : kCommands)
        host::shell(cmd);
    // Console cursor off; the file exists only where a frame-buffer console runs.
    int fd = ::open(host::path("/sys/class/graphics/fbcon/cursor_blink").c_str(), O_WRONLY);
    if (fd >= 0) {
        char zero = 0;
        ssize_t w = ::write(fd, &zero, 1);
        (void)w;
        ::close(fd);
    }
    read_kernel_rev();
    InitRdVer = read_rd_version();
    sr_put(sr::kInitRdVer, uint16_t(InitRdVer));
    std::memcpy(plc_reg + sr_offset(sr::kKernelRev), KernelRev, 10);
}

int SYS_Init(const char *text) {
    host::trace("SYS_Init");
    product = text;
    sr_put(sr::kProduct, 63);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        host::install_fatal_handler(sig, ExceptionISR);
    std::copy(std::begin(pBasicMenu), std::end(pBasicMenu), pSystemMenu);
    nSystemMenus = kSystemMenus;
    SYS_fGrayScale = 0;
    return fwload_set_def ? 1 : 0;
}

void StartWatchdog() {
    host::trace("StartWatchdog");
    if (WatchDogDisable) return;
    int fd = wdog;
    if (fd < 0) {
        fd = host::wdt_open();
        if (fd == 6) {
            // Descriptor 6 is taken by the board's own start-up: keep it occupied.
            host::wdt_close(fd);
            g.fd6_holder = ::open(host::path("/usr/version").c_str(), O_RDONLY | O_CLOEXEC);
            fd = host::wdt_open();
        }
        wdog = fd; // published once, never the descriptor closed above
    }
    if (fd >= 0) {
        host::wdt_set_timeout(fd, 5);
        host::wdt_start_monitor();
    }
}

void StopWatchdog() {
    int fd = wdog.exchange(-1);
    if (fd < 0) return;
    host::wdt_write(fd, "V", 1);
    host::wdt_close(fd);
}

void TickleWatchdogReal() {
    host::trace("TickleWatchdogReal");
    if (int fd = wdog; fd >= 0) host::wdt_write(fd, "w", 1);
    Persist_Or(0x8000);
}

void LogicTickleWatchdog() {}

void set_watchdog_time(int seconds) {
    if (int fd = wdog; fd >= 0) host::wdt_set_timeout(fd, seconds);
}

int SYS_BattTest() {
    uint16_t variant = sr_get(sr::kBoardVariant);
    return sr_get(sr::kSupplyVoltage) >= 3001 && variant != 3 && variant != 7 && variant != 10;
}

void SYS_Contrast(int) {}
int SYS_GetModel() {
    return 0;
}
void SYS_SetStatusLeds() {}

int SYS_RunMode() {
    return sr_get(sr::kRunMode);
}

int SYS_GetRunLed() {
    if (sr_get(sr::kRunMode) == sr::kModeIdle) return 0;
    return sr_get(sr::kRunMode) == sr::kModeRun && le16(ladder_bl + 8) != 0x0009 ? 1 : 2;
}

int SYS_GetOkLed() {
    if (sr_get(sr::kPortAction) == 0 || sbit_get(sbit::kForcesOn)) return 2;
    return sr_get(sr::kStatusShown) == 0 ? 1 : 0;
}

void Sys_Reset() {
    if (int fd = wdog.exchange(-1); fd >= 0) host::wdt_close(fd);
    if (g.fd6_holder >= 0) ::close(g.fd6_holder);
    g = SysState{};
    oAllocatedBBR = kFirstBBR;
    std::fill(std::begin(pSystemMenu), std::end(pSystemMenu), nullptr);
    nSystemMenus = 0;
    SysUpdate_Reset();
    WatchDogDisable = 0;
    SYS_fGrayScale = 0;
    std::memset(KernelRev, 0, sizeof KernelRev);
    InitRdVer = 0;
    product = nullptr;
}

// ------------------------------------------------------------ options, keys

void SYS_MenuOption(int which, int on) {
    host::trace("SYS_MenuOption");
    if (which == 0) drive(kMenuOption0, on & 1);
    if (which == 1) drive(kMenuOption1, on != 0);
}

void SYS_MenuOption2(int code) {
    host::trace("SYS_MenuOption2");
    switch (code) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 7:
    case 10:
    case 11:
    case 13:
        OCB_DfltPortChange(code);
        break;
    default:
        break;
    }
}

void SYS_ExtendedOption(int on) {
    host::trace("SYS_ExtendedOption");
    drive(kExtendedOption, on != 0);
    uint16_t v = sr_get(sr::kExtOptions);
    sr_put(sr::kExtOptions, on ? uint16_t(v | 4) : uint16_t(v & ~4));
}

void BKLT_Ctrl(int keep, int level) {
    host::trace("BKLT_Ctrl");
    if (!keep) {
        level = std::min(level, 100);
        sr_put(sr::kBacklight, uint16_t(level));
    }
    // The backlight device's sysfs entry.
    host::make_dirs("/sys/class/backlight/mxs-bl");
    if (FILE *f = std::fopen(host::path("/sys/class/backlight/mxs-bl/brightness").c_str(), "w")) {
        std::fprintf(f, "%d", level & 0xFF);
        std::fclose(f);
    }
}

int SYS_KeyEnabled() {
    return sr_get(sr::kKeysDisabled) == 0;
}

int SYS_KeyPut(uint8_t key) {
    sr_put(sr::kLastKey, key);
    bool toggle = sr_get(sr::kKeyToggle) != 0;
    uint8_t *k = plc_reg + reg::kK;
    auto release_held = [&] {
        if (g.held_key && !toggle) put_le16(k, uint16_t(le16(k) & ~(1u << (g.held_key - 1))));
        g.held_key = 0;
    };
    if (key >= 1 && key <= 10) {
        // One function key is held at a time: a new one releases the one
        // before, which would otherwise stay set after both are let go.
        if (g.held_key != key) release_held();
        uint16_t bit = uint16_t(1u << (key - 1));
        put_le16(k, toggle ? uint16_t(le16(k) ^ bit) : uint16_t(le16(k) | bit));
        g.held_key = key;
    } else {
        release_held();
    }
    return 1;
}

// ------------------------------------------------------------ warm reset

void SYS_WarmReset() {
    host::trace("SYS_WarmReset");
    Persist_Set(app::kStAlive);
    AutoSaveRegisters();
    write_both_fram_banks();
    host::shell("sync");
    restart_system();
}

void SYS_VDG() {
    host::trace("SYS_VDG");
    DeleteProgram();
    DelAutoRegFile();
    ClrRegFile();
    host::shell("sync");
    write_both_fram_banks();
    restart_system();
}

// ------------------------------------------------------------ bbram

void SYS_InitBBR() {
    host::trace("SYS_InitBBR");
    oAllocatedBBR = kFirstBBR;
}

uint32_t SYS_AllocBBR() {
    return oAllocatedBBR;
}

void SYS_ExpandBBR(uint32_t size) {
    oAllocatedBBR += size + (size & 1);
}

void SYS_WriteCmd(const void *source, uint32_t offset, uint32_t length) {
    if (!source || offset >= kBbramBytes) return;
    std::memmove(bbram + offset, source, std::min(length, kBbramBytes - offset));
}

// A read reaching past the image copies what lies inside it.
uint32_t SYS_ReadCmd(void *destination, uint32_t offset, uint32_t length) {
    if (!destination || offset >= kBbramBytes) return 0;
    length = std::min(length, kBbramBytes - offset);
    std::memmove(destination, bbram + offset, length);
    return length;
}

void SYS_ClearCmd() {
    host::trace("SYS_ClearCmd");
    std::memset(bbram, 0, kBbramBytes);
}

// ------------------------------------------------------------ small services

int SYS_GetMACID(uint8_t *destination) {
    if (destination) std::memcpy(destination, tinyImage, sizeof tinyImage);
    return 1;
}

int SYS_FlashWrite(const void *source, void *destination, uint32_t words) {
    if (source && destination) std::memmove(destination, source, 2 * size_t(words));
    return 1;
}

int SYS_BlockErase(void *buffer, uint32_t size) {
    if (buffer) std::memset(buffer, 0xFF, std::min<uint32_t>(size, 1024));
    return 1;
}

int SYS_SaveParmTbl(const TouchCal *record) {
    if (!record) return 0;
    const uint32_t words[6] = {uint32_t(record->xmax),   uint32_t(record->ymax),
                               uint32_t(record->xoff),   uint32_t(record->yoff),
                               uint32_t(record->xscale), uint32_t(record->yscale)};
    return StrTchClb(words);
}

// The record stays as it is when the file is missing.
TouchCal *SYS_GetParmTbl() {
    uint32_t w[6];
    if (ReadTchClb(w))
        PrmTbl = {int32_t(w[0]), int32_t(w[1]), int32_t(w[2]),
                  int32_t(w[3]), int32_t(w[4]), int32_t(w[5])};
    return &PrmTbl;
}

// The system key: the system menu, the touch calibration, a warm reset, or
// clear-all and a warm reset.
constexpr int kSystemKeyBeep = 3;

void SYS_SystemKey(uint16_t action) {
    if (Sys_AutoLoad) return;
    switch (action) {
    case 0:
        TCH_Beep(kSystemKeyBeep);
        sr_put(sr::kSystemScreen, sr::kSysScreenMenu);
        break;
    case 1:
        if (!SYS_KeyEnabled()) break;
        TCH_Beep(kSystemKeyBeep);
        sr_put(sr::kSystemScreen, sr::kSysScreenTouchCal);
        break;
    case 2:
        if (!SYS_KeyEnabled()) break;
        TCH_BeepEnable(1);
        TCH_Beep(kSystemKeyBeep);
        SYS_WarmReset();
        break;
    case 4:
        if (!SYS_KeyEnabled()) break;
        TCH_BeepEnable(1);
        TCH_Beep(kSystemKeyBeep);
        SYS_VDG();
        SYS_WarmReset();
        break;
    default:
        break; // other parameters only go to the function-key registers
    }
}
