#include "screen_program.h"

#include "system/appfile.h"
#include "tools/lib/appbuild.h"

#include <cstring>

bool load_screen_program(const std::string &screens_json, std::string *error) {
    std::string local;
    if (!error) error = &local;
    appbuild::Built built;
    appbuild::Placed at;
    if (!appbuild::build_text("{\"kesta_pgm\": {\"screens\": " + screens_json + "}}", "", &built,
                              error) ||
        !appbuild::find_part(built.manifest, "kesta_pgm", &at))
        return false;
    std::memcpy(kesta_pgm_bl, built.config.data() + at.offset, at.size);
    // The texts of the screens, when they have any.
    if (appbuild::find_part(built.manifest, "string_table", &at) && at.length > 8)
        std::memcpy(string_table_bl, built.config.data() + at.offset, at.size);
    return true;
}
