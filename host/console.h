// Mirror of the panel's text messages: standard output and var/log/console.log
// in the root folder, so an operator of a host panel can read what the board
// shows on its screen at start-up and on faults.
#pragma once
#include <string>

namespace host {

void console_line(const std::string &text);

} // namespace host
