#include "host/watchdog.h"

#include "host/clock.h"
#include "host/config.h"
#include "host/console.h"
#include "host/power.h"
#include "host/root.h"
#include "host/thread.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace host {
namespace {
std::atomic<int> g_fd{-1};
// The watchdog thread reads the device while the main thread may close it:
// a closed device's mapping is retired, not unmapped at once, so a reader
// holding the pointer of the previous opening never touches freed memory.
std::atomic<WatchdogState *> g_state{nullptr};
WatchdogState *g_retired = nullptr;

void retire(WatchdogState *s) {
    if (!s) return;
    if (g_retired) munmap(g_retired, sizeof(WatchdogState));
    g_retired = s;
}
// Set by the kicking threads, read by the closing one.
std::atomic<bool> g_magic_close{false};
// The hardware watchdog counts real time: a device opened on the virtual clock
// of a test never expires by itself. Read by the monitor.
std::atomic<bool> g_opened_real{false};
std::atomic<bool> g_monitor{false};

// The kick time is written by the panel's threads and read by the monitor
// and the supervisor: atomic access in place keeps the shared file's layout.
uint32_t load32(uint32_t &field) {
    return std::atomic_ref<uint32_t>(field).load(std::memory_order_acquire);
}
void store32(uint32_t &field, uint32_t v) {
    std::atomic_ref<uint32_t>(field).store(v, std::memory_order_release);
}
uint64_t last_kick(WatchdogState *s) {
    return std::atomic_ref<uint64_t>(s->last_kick_ns).load(std::memory_order_acquire);
}
void kick(WatchdogState *s) {
    std::atomic_ref<uint64_t>(s->last_kick_ns).store(mono_ns(), std::memory_order_release);
}
// Milliseconds since the last kick. The kick is read before the clock, and a
// kick that still lands in between counts as no time at all, never as a
// difference that wraps.
uint64_t since_kick_ms(WatchdogState *s) {
    uint64_t kicked = last_kick(s);
    uint64_t now = mono_ns();
    return now > kicked ? (now - kicked) / 1'000'000ull : 0;
}

void *monitor(void *) {
    for (;;) {
        // The hardware counts real time; on the virtual clock of tests it is idle.
        timespec ts{0, 100'000'000};
        nanosleep(&ts, nullptr);
        // Tests reset the device (unmapping its state) while this runs: on
        // their virtual clock the state is not even looked at.
        if (!g_opened_real || clock_is_virtual()) continue;
        WatchdogState *s = g_state;
        if (!s || !load32(s->open)) continue;
        if (since_kick_ms(s) >= load32(s->timeout_ms)) {
            store32(s->expired, 1);
            msync(s, sizeof *s, MS_SYNC);
            console_line("watchdog: expired, resetting");
            watchdog_reset();
        }
    }
    return nullptr;
}
} // namespace

void reboot() {
    std::fflush(nullptr);
    _exit(kExitReboot);
}
void power_off() {
    std::fflush(nullptr);
    _exit(kExitPowerOff);
}
void watchdog_reset() {
    std::fflush(nullptr);
    _exit(kExitWatchdog);
}

int wdt_open() {
    if (config_int("watchdog", 1) == 0) return -1;
    if (g_fd >= 0) return -1; // one opener at a time, like the device
    make_dirs("/dev");
    int fd = ::open(path("/dev/watchdog").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (ftruncate(fd, sizeof(WatchdogState)) != 0) {
        ::close(fd);
        return -1;
    }
    void *m = mmap(nullptr, sizeof(WatchdogState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (m == MAP_FAILED) {
        ::close(fd);
        return -1;
    }
    auto *st = static_cast<WatchdogState *>(m);
    std::memcpy(st->magic, "WDTSTATE", 8);
    st->timeout_ms = 60000; // the kernel's default until the driver sets it
    st->last_kick_ns = mono_ns();
    st->pid = getpid();
    st->expired = 0;
    st->open = 1;
    g_state = st;
    g_fd = fd;
    g_magic_close = false;
    g_opened_real = !clock_is_virtual();
    return fd;
}

void wdt_set_timeout(int fd, int seconds) {
    WatchdogState *st = g_state;
    if (fd != g_fd || !st || seconds <= 0) return;
    store32(st->timeout_ms, uint32_t(seconds) * 1000);
    kick(st);
}

void wdt_write(int fd, const char *data, size_t n) {
    WatchdogState *st = g_state;
    if (fd != g_fd || !st || n == 0) return;
    kick(st);
    g_magic_close = data[n - 1] == 'V';
}

int wdt_time_left_ms(int fd) {
    WatchdogState *st = g_state;
    if (fd != g_fd || !st) return -1;
    uint64_t used = since_kick_ms(st);
    uint32_t timeout = load32(st->timeout_ms);
    return used >= timeout ? 0 : int(timeout - used);
}

void wdt_close(int fd) {
    WatchdogState *st = g_state;
    if (fd != g_fd || !st) return;
    // Without the magic character the device stays armed after the close.
    if (g_magic_close) store32(st->open, 0);
    g_state = nullptr;
    retire(st);
    ::close(g_fd);
    g_fd = -1;
}

void wdt_start_monitor() {
    if (g_monitor.exchange(true)) return;
    pthread_t t;
    thread_create(&t, monitor, nullptr, true);
}

bool wdt_read_state(const char *root_dir, WatchdogState *out) {
    std::string file = std::string(root_dir) + "/dev/watchdog";
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n = pread(fd, out, sizeof *out, 0);
    ::close(fd);
    return n == ssize_t(sizeof *out) && std::memcmp(out->magic, "WDTSTATE", 8) == 0;
}

void wdt_reset() {
    g_opened_real = false;
    retire(g_state.exchange(nullptr));
    if (g_fd >= 0) ::close(g_fd);
    g_state = nullptr;
    g_fd = -1;
    g_magic_close = false;
}

} // namespace host
