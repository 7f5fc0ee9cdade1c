// Host configuration of a panel: what the board would have been built with
// (screen size, kernel and OS revision texts, which devices are fitted). Read
// from "host.conf" in the root folder: one "key = value" per line, '#' comments.
#pragma once
#include <string>

namespace host {

std::string config(const std::string &key, const std::string &fallback = "");
long config_int(const std::string &key, long fallback);
// Tests set values directly; the file is not read again until config_reset().
void config_set(const std::string &key, const std::string &value);
void config_reset();

// Panel screen size in pixels ("screen = 800x480", the default, or 480x272).
int screen_width();
int screen_height();

} // namespace host
