// The panel's control socket: how people and tests look into a running panel
// (tools/panelctl). A Unix stream socket "run/panelctl.sock" in the root
// folder; one request line per connection ("reg get %R1"), answered with one
// text that starts "ok" or "error: ". Served from the main loop, between
// passes, never blocking it for long.
#pragma once
#include <poll.h>

#include <functional>
#include <string>
#include <vector>

namespace host {

using CtlHandler = std::function<std::string(const std::vector<std::string> &args)>;

// Registers a command by its first word.
void ctl_register(const std::string &command, CtlHandler handler);
// Creates the socket; false (and a message on stderr) when it cannot.
bool ctl_open();
// Serves the connections waiting now.
void ctl_poll();
// For the wait between passes: the listening socket and each connection,
// watched for what it waits on (up to max). ctl_poll is due when one of them
// is ready, and on every pass while a connection is open (its time limits).
size_t ctl_wait_fds(pollfd *out, size_t max);
bool ctl_active();
void ctl_close();
// Handles one request line (what ctl_poll does with each connection).
std::string ctl_handle(const std::string &line);
std::string ctl_socket_path();
void ctl_reset();

} // namespace host
