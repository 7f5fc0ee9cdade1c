#include "screen_program.h"

#include "plc/appblocks.h"
#include "system/appfile.h"
#include "tools/lib/appbuild.h"

#include <cstring>

bool load_screen_program(const std::string &screens_json, std::string *error) {
    return load_screen_program(screens_json, "", error);
}

bool load_screen_program(const std::string &screens_json, const std::string &pictures_json,
                         std::string *error) {
    std::string local;
    if (!error) error = &local;
    appbuild::Built built;
    appbuild::Placed at;
    const std::string pictures =
        pictures_json.empty() ? "" : "\"pictures\": " + pictures_json + ", ";
    if (!appbuild::build_text("{" + pictures + "\"kesta_pgm\": {\"screens\": " + screens_json +
                                  "}}",
                              "", &built, error) ||
        !appbuild::find_part(built.manifest, "kesta_pgm", &at))
        return false;
    std::memcpy(kesta_pgm_bl, built.config.data() + at.offset, at.size);
    // The texts of the screens, when they have any.
    if (appbuild::find_part(built.manifest, "string_table", &at) && at.length > 8)
        std::memcpy(string_table_bl, built.config.data() + at.offset, at.size);
    if (!pictures_json.empty() && appbuild::find_part(built.manifest, "bitmaps", &at)) {
        std::memcpy(rom_map_tbl, built.config.data() + at.offset, app::kRomMapSize);
        std::memcpy(bmp_table, built.config.data() + at.offset + app::kRomMapSize,
                    at.size - app::kRomMapSize);
    }
    return true;
}
