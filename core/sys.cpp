// System services needed from the first instruction of the start-up: the
// platform check, the product identity, the hardware watchdog and the battery.
#include "core/sys.h"

#include "core/appfile.h"
#include "core/crash.h"
#include "core/le.h"
#include "core/plc_reg.h"
#include "host/root.h"
#include "host/shell.h"
#include "host/thread.h"
#include "host/trace.h"
#include "host/watchdog.h"
#include "net/net.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int wdog = -1;
int32_t WatchDogDisable;
uint8_t SYS_fGrayScale;
char KernelRev[16];
uint32_t InitRdVer;
const char *product;

namespace {
// Occupies a descriptor so the watchdog does not land on it (see StartWatchdog).
int g_fd6_holder = -1;

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
        for (size_t i = 10; i < sizeof KernelRev; ++i) KernelRev[i] = 0;
    }
}

uint32_t read_rd_version() {
    uint32_t v = 0;
    if (FILE *f = std::fopen(host::path("/usr/version").c_str(), "r")) {
        for (int c; (c = std::fgetc(f)) != EOF && c >= '0' && c <= '9';) v = v * 10 + uint32_t(c - '0');
        std::fclose(f);
    }
    return v;
}
} // namespace

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
    for (const char *cmd : kCommands) host::shell(cmd);
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
    sr_put(200, uint16_t(InitRdVer));
    std::memcpy(plc_reg + sr_offset(201), KernelRev, 10);
}

int SYS_Init(const char *text) {
    host::trace("SYS_Init");
    product = text;
    sr_put(37, 63);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        host::install_fatal_handler(sig, ExceptionISR);
    SYS_fGrayScale = 0;
    return fwload_set_def ? 1 : 0;
}

void StartWatchdog() {
    host::trace("StartWatchdog");
    if (WatchDogDisable) return;
    if (wdog < 0) {
        wdog = host::wdt_open();
        if (wdog == 6) {
            // Descriptor 6 is taken by the board's own start-up: keep it occupied.
            host::wdt_close(wdog);
            g_fd6_holder = ::open(host::path("/usr/version").c_str(), O_RDONLY | O_CLOEXEC);
            wdog = host::wdt_open();
        }
    }
    if (wdog >= 0) {
        host::wdt_set_timeout(wdog, 5);
        host::wdt_start_monitor();
    }
}

void StopWatchdog() {
    if (wdog < 0) return;
    host::wdt_write(wdog, "V", 1);
    host::wdt_close(wdog);
    wdog = -1;
}

void TickleWatchdogReal() {
    host::trace("TickleWatchdogReal");
    if (wdog >= 0) host::wdt_write(wdog, "w", 1);
    Persist_Or(0x8000);
}

void set_watchdog_time(int seconds) {
    if (wdog >= 0) host::wdt_set_timeout(wdog, seconds);
}

int SYS_BattTest() {
    uint16_t variant = sr_get(196);
    return sr_get(198) >= 3001 && variant != 3 && variant != 7 && variant != 10;
}

void SYS_Contrast(int) {}

int SYS_RunMode() { return sr_get(5); }

int SYS_GetRunLed() {
    if (sr_get(5) == 0) return 0;
    return sr_get(5) == 2 && le16(ladder_bl + 8) != 0x0009 ? 1 : 2;
}

int SYS_GetOkLed() {
    if (sr_get(34) == 0 || sbit_get(11)) return 2;
    return sr_get(55) == 0 ? 1 : 0;
}

void Sys_Reset() {
    if (wdog >= 0) host::wdt_close(wdog);
    wdog = -1;
    if (g_fd6_holder >= 0) ::close(g_fd6_holder);
    g_fd6_holder = -1;
    WatchDogDisable = 0;
    SYS_fGrayScale = 0;
    std::memset(KernelRev, 0, sizeof KernelRev);
    InitRdVer = 0;
    product = nullptr;
}
