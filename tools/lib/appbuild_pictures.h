// The application builder's "pictures": named PNG files coded into the
// bitmap area, and where each one landed, for the objects that name them.
#pragma once
#include "tools/lib/appbuild_int.h"

#include <map>
#include <string>

namespace appbuild::detail {

struct PictureInfo {
    uint32_t offset = 0; // from the area's data, behind the picture's prefix
    int width = 0, height = 0, depth = 16;
    uint32_t row_bytes = 0;
    bool transparent = false;
    uint16_t colour = 0xFFFF; // the transparent colour
};

// The bitmap area of {"name": {"png": file, "coding": 0-2, "depth": 16, 8, 4
// or 1, "transparent": colour}}: an 8-byte head (the area's size, the data
// length), then each picture behind its prefix (u8 coding, one byte, u32
// coded length). Fills `names`.
Bytes pictures_area(const nlohmann::json &pictures, const std::string &base_dir,
                    std::map<std::string, PictureInfo> *names);

// The pictures of the build under way (null while none are given).
extern const std::map<std::string, PictureInfo> *g_pictures;

} // namespace appbuild::detail
