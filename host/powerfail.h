// The power-fail notice of the board: the kernel's power-fail driver sends
// signal 44 to the process registered in "/proc/powerdown". On the host the
// signal comes from `kill -44 <pid>` (or a test). The handler only marks; the
// main loop acts on the mark at the end of its pass.
#pragma once

namespace host {

// Installs `handler` for the power-fail signal (restarting interrupted calls).
void powerfail_install(void (*handler)(int));
// Restores the default action (test fixtures).
void powerfail_reset();

} // namespace host
