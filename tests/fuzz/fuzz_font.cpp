// Application fonts: any font block must be taken into use or refused, and
// text in a taken font must measure and draw without reading outside the
// block or overflowing a width.
//
// Input: byte 0 picks 16-bit text (bit 0, the fonts then sit behind their
// 64-byte prefix), the font (bits 1-2) and the text alignment (bits 3-5);
// bytes 1-8 are the characters drawn; the rest is the font block, which ends
// where the input ends.
#include "base/le.h"
#include "fuzz_display.h"
#include "gdi/gdi.h"
#include "gdi/text.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 9) return 0;
    DC *dc = fuzz_display();
    Text_SetAppFonts(data + 9, size - 9);
    PGM_UnicodePresent = data[0] & 1;
    int w = 0, h = 0;
    if (GDI_SelectFont(dc, 8 + ((data[0] >> 1) & 3), &w, &h)) {
        char bytes[10] = {};
        uint16_t words[10] = {};
        for (int i = 0; i < 8; ++i) {
            bytes[i] = char(data[1 + i] | 4); // no line ends inside the text
            words[i] = uint16_t(le16(data + 1 + (i & ~1)) + i) | 4;
        }
        uint16_t m[7];
        GDI_GetTextMetrics(dc, m);
        GDI_ByteTextExtent(dc, bytes, &w, &h);
        GDI_WordTextExtent(dc, words, &w, &h);
        GDI_GetTextnWidth(dc, bytes, &w, 8);
        GDI_SetTextAlign(dc, (data[0] >> 3) % 7);
        GDI_ByteTextOut(dc, 40, 60, bytes);
        GDI_WordTextOut(dc, 40, 60, words);
        // Two counted lines.
        char lines[12] = {2, 'A', 'b', 1, char(data[1] | 4), char(data[2] | 4), 0};
        uint16_t wlines[8] = {2, 0x41, words[0], 1, words[1], 0};
        RECT r{10, 10, 150, 110};
        GDI_RectByteTextOut(dc, 4 | 32, &r, lines + 1);
        GDI_RectWordTextOut(dc, 1 | 16, &r, wlines + 1);
    }
    GDI_SelectFont(dc, 0, nullptr, nullptr);
    Text_SetAppFonts(nullptr, 0);
    PGM_UnicodePresent = false;
    return 0;
}
