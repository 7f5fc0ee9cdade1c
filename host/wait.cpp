// The host's wait between main-loop passes.
#include "host/wait.h"

#include <cerrno>
#include <ctime>

namespace host {

int wait_ready(pollfd *fds, size_t n, uint64_t timeout_ns) {
    timespec ts{time_t(timeout_ns / 1000000000u), long(timeout_ns % 1000000000u)};
    int r = ppoll(fds, nfds_t(n), &ts, nullptr);
    if (r < 0) return errno == EINTR ? 0 : -1;
    return r;
}

} // namespace host
