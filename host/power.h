// How the process ends where the board would reset or lose power. The
// supervisor (tools/supervisor) restarts the panel after each of these, keeping
// the "hardware" files of the root folder.
#pragma once

namespace host {

constexpr int kExitReboot = 10;
constexpr int kExitPowerOff = 11;
constexpr int kExitWatchdog = 12;

[[noreturn]] void reboot();
[[noreturn]] void power_off();
[[noreturn]] void watchdog_reset();

} // namespace host
