#include "host/clock.h"

#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <ctime>

namespace host {
namespace {
std::atomic<bool> g_virtual{false};
std::atomic<uint64_t> g_virtual_ns{0};
std::atomic<int64_t> g_wall_offset_ns{0};

volatile sig_atomic_t g_alarm_fired = 0;
bool g_alarm_armed = false;
uint64_t g_alarm_deadline_ns = 0;
bool g_alarm_installed = false;

void on_sigalrm(int) {
    g_alarm_fired = 1;
}

uint64_t real_mono_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000ull + uint64_t(ts.tv_nsec);
}

void set_real_timer(unsigned ms) {
    itimerval it{};
    it.it_value.tv_sec = ms / 1000;
    it.it_value.tv_usec = (ms % 1000) * 1000;
    setitimer(ITIMER_REAL, &it, nullptr);
}
} // namespace

uint64_t mono_ns() {
    return g_virtual ? g_virtual_ns.load() : real_mono_ns();
}

void clock_use_virtual(uint64_t start_ns) {
    g_virtual_ns = start_ns;
    g_virtual = true;
}
void clock_use_real() {
    g_virtual = false;
}
bool clock_is_virtual() {
    return g_virtual;
}
void clock_advance_ns(uint64_t ns) {
    g_virtual_ns += ns;
}

void wait_step() {
    if (g_virtual) {
        g_virtual_ns += 100'000;
    } else {
        timespec ts{0, 50'000};
        nanosleep(&ts, nullptr);
    }
}

void sleep_ms(unsigned ms) {
    if (g_virtual) {
        clock_advance_ms(ms);
        return;
    }
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1'000'000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void sleep_us(unsigned us) {
    if (g_virtual) {
        clock_advance_ns(uint64_t(us) * 1000);
        return;
    }
    timespec ts{time_t(us / 1'000'000), long(us % 1'000'000) * 1000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void park_forever() {
    for (;;) {
        timespec ts{1, 0};
        nanosleep(&ts, nullptr);
    }
}

int64_t host_time_ns() {
    if (g_virtual) return int64_t(g_virtual_ns.load());
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000ll + ts.tv_nsec;
}

int64_t wall_ns() {
    return host_time_ns() + g_wall_offset_ns;
}

void set_wall_ns(int64_t ns) {
    g_wall_offset_ns = 0;
    g_wall_offset_ns = ns - wall_ns();
}

void alarm_install() {
    if (g_alarm_installed) return;
    struct sigaction sa {};
    sa.sa_handler = on_sigalrm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // as on the board: interrupted calls see EINTR and are retried
    sigaction(SIGALRM, &sa, nullptr);
    g_alarm_installed = true;
}

void alarm_arm_ms(unsigned ms) {
    if (ms == 0) {
        alarm_disarm();
        return;
    }
    g_alarm_armed = true;
    g_alarm_fired = 0;
    if (g_virtual) {
        g_alarm_deadline_ns = g_virtual_ns + uint64_t(ms) * 1'000'000ull;
    } else {
        set_real_timer(ms);
    }
}

void alarm_disarm() {
    if (g_alarm_armed && !g_virtual) set_real_timer(0);
    g_alarm_armed = false;
    g_alarm_fired = 0;
}

bool alarm_armed() {
    return g_alarm_armed;
}

bool alarm_take() {
    if (!g_alarm_armed) {
        // A signal that arrived after a disarm still counts once, as on the board.
        if (g_alarm_fired) {
            g_alarm_fired = 0;
            return true;
        }
        return false;
    }
    bool fired = g_virtual ? g_virtual_ns >= g_alarm_deadline_ns : g_alarm_fired != 0;
    if (fired) {
        g_alarm_armed = false; // one-shot
        g_alarm_fired = 0;
    }
    return fired;
}

void clock_reset() {
    g_virtual = false;
    g_virtual_ns = 0;
    g_wall_offset_ns = 0;
    alarm_disarm();
}

} // namespace host
