// The host's wait between main-loop passes: sleep until a descriptor is ready
// or the time-out ends.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>

namespace host {

// Waits at most timeout_ns (0: only looks) for one of fds to be ready; fills
// their revents. Returns the number ready, 0 on time-out, -1 on an error other
// than an interrupting signal.
int wait_ready(pollfd *fds, size_t n, uint64_t timeout_ns);

} // namespace host
