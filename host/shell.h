// The one runner of outside commands. Board commands (echo into /proc or /sys,
// uname, mount, umount, mkfs, ip, hwclock, reboot, killall, sync) are emulated
// inside the root folder; cp, rm and mkdir run as real programs with an
// argument vector (no shell, so a file name cannot inject a command). Every
// command line is recorded so tests can check the board's exact commands.
#pragma once
#include <poll.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace host {

// Runs a board command line; returns its exit status (0 success).
int shell(const std::string &cmdline);
// Later subsystems add emulations of their own board commands (matched by the
// first word of the line).
using ShellHandler = std::function<int(const std::vector<std::string> &words)>;
void shell_register(const std::string &command, ShellHandler handler);

std::vector<std::string> shell_log(); // a copy: other threads may run commands
void shell_log_clear();
void shell_reset();

// Runs a real program (argument vector, no shell) and waits for it.
int run_argv(const std::vector<std::string> &argv);
// Forks a child that runs fn and then ends; the pid is remembered for reaping.
pid_t spawn(const std::function<void()> &fn);
// Forks and executes argv with the given descriptor as standard input (-1 keeps it).
pid_t spawn_exec(const std::vector<std::string> &argv, int stdin_fd, int close_fd = -1);
// Reaps the children we started that have ended (never blocks).
void reap_children();
// For the wait between passes: a descriptor per child that turns readable
// when it ends (up to max); *unwatched is set when some child has none, so
// that reap_children must look every pass.
size_t child_wait_fds(pollfd *out, size_t max, bool *unwatched);
// Ends a child we started, by its pid.
bool end_child(pid_t pid);

} // namespace host
