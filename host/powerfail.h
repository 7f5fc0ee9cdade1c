// The power-fail notice of the board: the kernel's power-fail driver sends
// signal 44 to the process registered in "/proc/powerdown". On the host the
// signal comes from `kill -44 <pid>` (or a test). The handler only marks; the
// main loop acts on the mark at the end of its pass.
#pragma once
#include <cstddef>
#include <cstdint>

namespace host {

// Installs `handler` for the power-fail signal (restarting interrupted calls).
void powerfail_install(void (*handler)(int));
// Restores the default action (test fixtures).
void powerfail_reset();

// Reads the power-fail driver's status bytes from "/proc/powerdown" (at most
// `size`, the panel reads 10) into `out`; the count read, or -1 without the
// file. Writing a process id registers it ("echo PID > /proc/powerdown"),
// which leaves that registration in the stand-in file: while it holds one,
// the driver answers with the board's figures: bytes 4-5 the board variant
// (host.conf `board_variant`, default 0), bytes 8-9 the supply voltage in mV
// from the battery monitor (`battery_8mv`, 8 mV steps, default 462: 3.7 V).
// Any other contents are taken as the status bytes themselves (tests write
// them directly).
int powerdown_read(uint8_t *out, size_t size);

} // namespace host
