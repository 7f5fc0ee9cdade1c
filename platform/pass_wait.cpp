// The registry of descriptors the main loop's wait watches.
#include "platform/pass_wait.h"

#include <vector>

namespace {
std::vector<pollfd> g_watched;
bool g_pending;
uint32_t g_waits; // waits seen so far (PassWait_Seen)

pollfd *find(int fd) {
    for (pollfd &p : g_watched)
        if (p.fd == fd) return &p;
    return nullptr;
}
} // namespace

void PassWait_Watch(int fd, short events) {
    if (fd < 0) return;
    if (pollfd *p = find(fd)) {
        p->events = events;
        p->revents = events;
        return;
    }
    g_watched.push_back(pollfd{fd, events, events});
}

void PassWait_Unwatch(int fd) {
    std::erase_if(g_watched, [fd](const pollfd &p) { return p.fd == fd; });
}

void PassWait_WorkPending() {
    g_pending = true;
}

size_t PassWait_Fill(pollfd *out, size_t max) {
    size_t n = 0;
    for (const pollfd &p : g_watched) {
        if (n == max) break;
        out[n++] = pollfd{p.fd, p.events, 0};
    }
    return n;
}

void PassWait_Seen(const pollfd *fds, size_t n) {
    ++g_waits;
    for (size_t i = 0; i < g_watched.size(); ++i) {
        pollfd &p = g_watched[i];
        p.revents = i < n && fds[i].fd == p.fd ? fds[i].revents : p.events;
    }
}

short PassWait_Ready(int fd) {
    const pollfd *p = find(fd);
    return p ? p->revents : 0;
}

bool PassWait_Idle(int fd, uint32_t *last) {
    if (PassWait_Ready(fd) || *last == g_waits) return false;
    *last = g_waits;
    return true;
}

size_t PassWait_Count() {
    return g_watched.size();
}

bool PassWait_TakePending() {
    bool was = g_pending;
    g_pending = false;
    return was;
}

void PassWait_Reset() {
    g_watched.clear();
    g_pending = false;
    g_waits = 0;
}
