// The built-in bitmap font records (gdi/font_data.cpp, written by
// tools/gen_fonts.py): each a complete font record, header then glyphs.
#pragma once
#include <cstdint>

extern const uint8_t fix5x7Font[];
extern const uint8_t arial16Font[];
extern const uint8_t arial24Font[];
extern const uint8_t arial34Font[];
extern const uint8_t arial47Font[];
extern const uint8_t arial66Font[];
extern const uint8_t sysfontFont[];
