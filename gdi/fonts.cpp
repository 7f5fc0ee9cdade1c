// The built-in fonts: complete font records generated from DejaVu by
// tools/gen_fonts.py into gdi/font_data.cpp, used in place. Ids 5, 6 and 7
// share the largest font.
#include "gdi/font_data.h"
#include "gdi/text.h"

namespace {
const uint8_t *const kBuiltIn[8] = {fix5x7Font,  arial16Font, arial24Font, arial34Font,
                                    arial47Font, arial66Font, arial66Font, arial66Font};
} // namespace

const FontRec *Font_BuiltIn(int id) {
    if (id == 32) return reinterpret_cast<const FontRec *>(sysfontFont);
    if (id < 0 || id > 7) return nullptr;
    return reinterpret_cast<const FontRec *>(kBuiltIn[id]);
}
