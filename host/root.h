// Root folder of a host panel: every absolute path of the board lives under it.
#pragma once
#include <string>

namespace host {

// The root folder of the panel, its supervisor and panelctl when none is
// given (relative: under the current folder).
constexpr const char *kDefaultRoot = "var/panel";

// The run-time root folder: $PANEL_ROOT, else kDefaultRoot.
const std::string &root();
// Test fixtures point the panel at a folder of their own.
void set_root(const std::string &dir);

// Maps a board path ("/mnt/cfg/config.pgm") to the file under the root folder.
// Names on the media drives ("/mnt/USB0", "/mnt/USB1") match case-insensitively,
// as they do on the FAT media of the board. Relative paths are taken as board
// paths from "/".
std::string path(const std::string &board_path);

// Creates the folder (and its parents) of a board path under the root.
bool make_dirs(const std::string &board_dir);

} // namespace host
