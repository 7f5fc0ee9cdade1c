// Screen programs for tests: built by the application builder from its JSON
// description (the "screens" contents of tools/lib/appbuild.h) and put into
// the screen program block as the loader leaves it (and its texts, when it has
// any, into the string table block).
#pragma once
#include <string>

// Loads the screen program described by `screens_json` (the value of the
// "screens" key); false with a message when the builder refuses it.
bool load_screen_program(const std::string &screens_json, std::string *error = nullptr);
// The same with the application's pictures (the "pictures" value of the
// description), which are loaded into the bitmap area and its map.
bool load_screen_program(const std::string &screens_json, const std::string &pictures_json,
                         std::string *error);
