// Run-time loaded libraries of the root folder (plug-ins the board loads by
// name from its working folder or library path).
#pragma once
#include <string>

namespace host {

// Opens the library at a board path under the root folder, every symbol
// resolved at once; null on failure, with the loader's message kept for
// dynlib_error().
void *dynlib_open(const std::string &board_path);
void *dynlib_symbol(void *lib, const char *name); // null when not exported
void dynlib_close(void *lib);
// The loader's message of the last failure ("" when none).
std::string dynlib_error();

} // namespace host
