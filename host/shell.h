// The one runner of outside commands. Board commands (echo into /proc or /sys,
// uname, mount, umount, mkfs, ip, hwclock, reboot, killall, sync) are emulated
// inside the root folder; cp, rm and mkdir run as real programs with an
// argument vector (no shell, so a file name cannot inject a command). Every
// command line is recorded so tests can check the board's exact commands.
#pragma once
#include <poll.h>
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace host {

// Runs a board command line; returns its exit status (0 success).
int shell(const std::string &cmdline);
// Runs a board command line as shell() does, its output (of the emulated
// commands that print) caught in *out instead of going to standard output.
int shell_output(const std::string &cmdline, std::string *out);
// Runs a board program given as its argument vector: no splitting, no
// redirection, so no word of it (a file name) can change the command. Only
// the programs started this way are run (the media player, and the
// registered emulations); recorded in the log as the words joined by blanks.
int shell_argv(const std::vector<std::string> &words);
// Later subsystems add emulations of their own board commands (matched by the
// first word of the line).
using ShellHandler = std::function<int(const std::vector<std::string> &words)>;
void shell_register(const std::string &command, ShellHandler handler);

std::vector<std::string> shell_log(); // a copy: other threads may run commands
void shell_log_clear();
void shell_reset();

// Runs a real program (argument vector, no shell) and waits for it.
int run_argv(const std::vector<std::string> &argv);
// Forks and executes argv with the given descriptor as standard input (-1 keeps it).
pid_t spawn_exec(const std::vector<std::string> &argv, int stdin_fd, int close_fd = -1);
// Runs a real program like run_argv, for a worker thread: its pid stands in
// *pid while it runs (0 once it has ended), so another thread may end that one
// child with end_watched. The child is reaped here, never by reap_children.
int run_argv_watched(const std::vector<std::string> &argv, std::atomic<pid_t> *pid);
// Sends SIGTERM to the child that run_argv_watched runs under *pid, if any;
// the pid cannot have been reused, since the child is reaped only after *pid
// is cleared under the same lock.
bool end_watched(std::atomic<pid_t> *pid);
// Reaps the children we started that have ended (never blocks).
void reap_children();
// For the wait between passes: a descriptor per child that turns readable
// when it ends (up to max); *unwatched is set when some child has none, so
// that reap_children must look every pass.
size_t child_wait_fds(pollfd *out, size_t max, bool *unwatched);
// Ends a child we started, by its pid.
bool end_child(pid_t pid);

} // namespace host
