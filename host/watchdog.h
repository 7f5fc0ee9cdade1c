// Stand-in for the hardware watchdog "/dev/watchdog". Its state lives in a
// small file of the root folder ("dev/watchdog"), shared with the supervisor:
// the supervisor resets a panel that stopped kicking even when the whole
// process is stopped. Time left is reported in milliseconds.
#pragma once
#include <cstddef>
#include <cstdint>

namespace host {

struct WatchdogState {
    char magic[8];         // "WDTSTATE"
    uint32_t open;         // 1 while the device is open and armed
    uint32_t timeout_ms;   // 5000 after the board's set-up
    uint64_t last_kick_ns; // monotonic time of the last write
    int32_t pid;           // process that armed it
    uint32_t expired;      // set by whoever saw it expire
};

// Opens the device; -1 when the host has none ("watchdog = 0" in host.conf).
int wdt_open();
void wdt_set_timeout(int fd, int seconds);
// Any write kicks; a 'V' as the last byte allows the following close to disarm.
void wdt_write(int fd, const char *data, size_t n);
int wdt_time_left_ms(int fd);
void wdt_close(int fd);
// Watches the armed watchdog in this process (real clock only) and ends the
// process with the watchdog exit code when it expires.
void wdt_start_monitor();
// Reads the state file of a root folder (supervisor side); false when absent.
bool wdt_read_state(const char *root_dir, WatchdogState *out);
void wdt_reset();

} // namespace host
