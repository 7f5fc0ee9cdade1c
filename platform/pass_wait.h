// The descriptors the main loop's one wait between passes wakes on.
//
// A service registers each descriptor it watches (a socket, a serial line, a
// device) and keeps reading it without waiting in its own slot of the pass.
// Between passes the loop sleeps in one place until a watched descriptor is
// ready, until a service flags work it left for the next pass, or until the
// pacing ends; so an idle panel rests and a busy one answers at pass speed.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>

// Adds fd, or changes the events it is watched for.
void PassWait_Watch(int fd, short events);
void PassWait_Unwatch(int fd);
// The next wait returns at once (a request to answer on the next pass).
void PassWait_WorkPending();

// For the loop: copies up to max watched descriptors (revents cleared) and
// returns how many; TakePending returns and clears the pending flag.
size_t PassWait_Fill(pollfd *out, size_t max);
// After the wait: what it saw on the first n descriptors Fill gave (in that
// order). A descriptor it did not look at counts as ready.
void PassWait_Seen(const pollfd *fds, size_t n);
// For the services: what the last wait saw on fd (its revents). Until a wait
// has looked at it, a descriptor counts as ready for what it is watched for,
// so a service that reads only ready descriptors misses nothing.
short PassWait_Ready(int fd);
// For a service that also runs outside the loop's passes (the crash screen's
// own loop, a control command that feeds a device and ticks it): true when
// the last wait saw nothing on fd and this is the first look since that
// wait, so the read may be left out; later looks read. `*last` is the
// service's own note of the wait it last left a read out for.
bool PassWait_Idle(int fd, uint32_t *last);
size_t PassWait_Count();
bool PassWait_TakePending();
void PassWait_Reset();
