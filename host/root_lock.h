// The lock of a root folder: one panel (with its supervisor) per root folder.
// Two panels on one folder would share one FRAM image, one clock chip and one
// control socket. The lock is an flock on "run/panel.lock" of the folder, so
// the kernel drops it with the last descriptor: it never goes stale after a
// crash or a kill -9.
#pragma once
#include <string>

namespace host {

// The descriptor a supervisor hands its panel: the panel holds the lock
// through it instead of taking it again.
constexpr const char *kRootLockFdEnv = "PANEL_ROOT_LOCK_FD";

// Takes the lock of root folder `dir` for this process (the descriptor is
// kept open until the process ends, and not passed to programs it starts).
// A descriptor named by PANEL_ROOT_LOCK_FD that holds this folder's lock
// already is taken over. False with a message naming the holder when another
// process holds it.
bool root_lock(const std::string &dir, std::string *error);
// The descriptor of the lock taken, -1 when none.
int root_lock_fd();
// Lets the descriptor pass to a program started next (the supervisor's
// child), which takes it over through PANEL_ROOT_LOCK_FD.
void root_lock_pass_on();

} // namespace host
