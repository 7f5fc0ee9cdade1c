#include "host/powerfail.h"

#include "host/config.h"
#include "host/root.h"
#include "host/thread.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

int powerdown_read(uint8_t *out, size_t size) {
    int fd = ::open(path("/proc/powerdown").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    uint8_t b[32];
    ssize_t n;
    do
        n = ::read(fd, b, sizeof b);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0) return -1;
    // A registration line: the decimal process id and a newline.
    bool registration = n >= 2 && b[n - 1] == '\n';
    for (ssize_t i = 0; registration && i < n - 1; ++i)
        registration = b[i] >= '0' && b[i] <= '9';
    if (!registration) {
        size_t count = std::min(size_t(n), size);
        std::memcpy(out, b, count);
        return int(count);
    }
    uint8_t status[10] = {};
    long variant = config_int("board_variant", 0);
    long mv = config_int("battery_8mv", 462) * 8;
    if (mv < 0) mv = 0;
    if (mv > 0xFFFF) mv = 0xFFFF;
    status[4] = uint8_t(variant), status[5] = uint8_t(variant >> 8);
    status[8] = uint8_t(mv), status[9] = uint8_t(mv >> 8);
    size_t count = std::min(sizeof status, size);
    std::memcpy(out, status, count);
    return int(count);
}

} // namespace host
