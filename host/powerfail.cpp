#include "host/powerfail.h"

#include "host/thread.h"

#include <signal.h>

namespace host {

void powerfail_install(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(kPowerFailSignal, &sa, nullptr);
}

void powerfail_reset() {
    signal(kPowerFailSignal, SIG_DFL);
}

} // namespace host
