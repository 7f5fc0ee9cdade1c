// The text console.
#include "gdi/tty.h"
#include "base/trace.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "platform/video.h"

#include <cstring>

namespace {
constexpr int kCols = 80, kRows = 30;
constexpr COLOR kLight = 0xFFDF, kDark = 0x0000;

struct TtyState {
    DC *pTextDC = nullptr;
    int16_t tty_row = 0, tty_col = 0;
    int16_t tty_cols = kCols, tty_rows = kRows;
    uint8_t d_char[kCols * kRows] = {};
    uint8_t d_attr[kCols * kRows] = {};
    uint16_t tty_mode = 0;
    uint16_t tty_width = 8, tty_height = 15;
    uint16_t tty_fill_color = kLight, tty_text_color = kDark;
    uint16_t tty_caret = 0;
    uint16_t tty_flash_enabled = 0, tty_flash_state = 0, tty_h_extend = 0, tty_v_extend = 0;
};
TtyState t;

int cell(int row, int col) {
    return row * t.tty_cols + col;
}

void draw_cell(int row, int col, COLOR text, COLOR fill) {
    DC *dc = t.pTextDC;
    const COLOR ot = dc->text_colour, of = dc->fill_colour;
    dc->text_colour = text;
    dc->fill_colour = fill;
    const char s[2] = {char(t.d_char[cell(row, col)]), 0};
    const int16_t align = dc->text_align;
    dc->text_align = 0;
    GDI_ByteTextOut(dc, col * t.tty_width, row * t.tty_height, s);
    dc->text_align = align;
    dc->text_colour = ot;
    dc->fill_colour = of;
}

// Taking the caret off redraws the cell under it. `redrawn` says the next
// step draws that cell again, opaquely and over at least the same pixels, so
// the first redraw could not change a pixel and is left out.
void UpdateCaret(int on, bool redrawn = false) {
    if (!t.pTextDC) return;
    DC *dc = t.pTextDC;
    const int x = t.tty_col * t.tty_width, y = t.tty_row * t.tty_height;
    const int w = t.tty_width, h = t.tty_height;
    const COLOR tc = t.tty_text_color, fc = t.tty_fill_color;
    if (!on) {
        t.tty_flash_enabled = 0;
        if (!redrawn) draw_cell(t.tty_row, t.tty_col, tc, fc);
        if (t.tty_h_extend) GDI_ScanLine(dc, y + h, x + 1, x + w - 1, fc);
        if (t.tty_v_extend) ScanVLine(dc, x + w, y, y + h - 1, fc);
        return;
    }
    t.tty_flash_enabled = 1;
    switch (t.tty_caret & 15) {
    case 1:
        GDI_ScanLine(dc, y + h, x + 1, x + w - 1, tc);
        break;
    case 2:
        ScanVLine(dc, x, y, y + h - 1, tc);
        break;
    case 4:
        draw_cell(t.tty_row, t.tty_col, fc, tc);
        if (t.tty_h_extend) GDI_ScanLine(dc, y + h, x + 1, x + w - 1, tc);
        if (t.tty_v_extend) ScanVLine(dc, x + w, y, y + h - 1, tc);
        break;
    default:
        break;
    }
}

// Whether putting character c draws the cursor's cell over every pixel its
// present character covers: a printable character (codes up to 3 draw
// nothing) put at the cursor, a glyph at least as wide as the one there,
// both bits drawn plainly by this driver, and no per-glyph hook that would
// see the draw left out.
bool covers_cell(int c) {
    const DC *dc = t.pTextDC;
    if (c <= 3 || c == 8 || c == 9 || c == 13) return false;
    if (dc->text_callback || dc->WriteDIB != VDR_WriteDIB || dc->rop != ROP_Copy) return false;
    if (t.tty_fill_color == kColorNone) return false;
    const FontRec *f = dc->font ? dc->font : Font_BuiltIn(0);
    const int old = t.d_char[cell(t.tty_row, t.tty_col)];
    if (old <= 3) return true;
    int w_new = 0, w_old = 0;
    GDI_GetFontChar(f, c, &w_new);
    GDI_GetFontChar(f, old, &w_old);
    return w_new >= w_old;
}

void put_cell(int c) {
    const int i = cell(t.tty_row, t.tty_col);
    t.d_char[i] = uint8_t(c);
    t.d_attr[i] = uint8_t(t.tty_mode & 7);
    draw_cell(t.tty_row, t.tty_col, t.tty_text_color, t.tty_fill_color);
}

void new_line() {
    t.tty_col = 0;
    if (t.tty_row + 1 >= t.tty_rows) {
        t.tty_row = int16_t(t.tty_rows - 1);
        if (t.tty_mode & 32) TTY_Scroll(1);
    } else {
        ++t.tty_row;
    }
}

// One character without the caret handling.
void put_raw(int c) {
    if (c == 13) {
        new_line();
        return;
    }
    put_cell(c);
    if (!(t.tty_mode & 16)) return;
    if (t.tty_col + 1 < t.tty_cols) {
        ++t.tty_col;
    } else if (t.tty_mode & 32) {
        new_line();
    }
}
} // namespace

void TTY_Reset() {
    t = TtyState{};
}

void TTY_Allocate(DC *dc) {
    host::trace("TTY_Allocate");
    if (!dc) return;
    t.pTextDC = dc;
    int w = 0, h = 0;
    GDI_SelectFont(dc, 32, &w, &h);
    t.tty_width = uint16_t(w);
    t.tty_height = uint16_t(h);
    t.tty_cols = kCols;
    t.tty_rows = kRows;
    RECT all{0, 0, 32767, 32767};
    GDI_SetClipRect(dc, &all, nullptr);
    GDI_SetPen(dc, 0, 1, 0);
    dc->text_align = 0;
    TTY_SetMode(0x37, 0x31);
    t.tty_caret = 0;
    t.tty_h_extend = t.tty_v_extend = 0;
    TTY_ClrScreen();
}

void TTY_ClrScreen() {
    if (!t.pTextDC) return;
    DC *dc = t.pTextDC;
    for (int y = dc->bounds.top; y <= dc->bounds.bottom; ++y)
        GDI_ScanLine(dc, y, dc->bounds.left, dc->bounds.right, t.tty_fill_color);
    t.tty_row = t.tty_col = 0;
    std::memset(t.d_char, ' ', sizeof t.d_char);
    std::memset(t.d_attr, t.tty_mode & 0xFF, sizeof t.d_attr);
}

int TTY_SetMode(int mask, int value) {
    const int old = t.tty_mode;
    t.tty_mode = uint16_t((value & mask) | (old & ~mask));
    if (t.tty_mode & 1) {
        t.tty_fill_color = kLight, t.tty_text_color = kDark;
    } else if (t.tty_mode & 2) {
        t.tty_fill_color = kDark, t.tty_text_color = kLight;
    } else if (t.tty_mode & 4) {
        t.tty_fill_color = kLight, t.tty_text_color = kDark;
    }
    if (t.pTextDC) {
        GDI_SetFillColor(t.pTextDC, t.tty_fill_color);
        GDI_SetTextColor(t.pTextDC, t.tty_text_color);
    }
    return old;
}

int TTY_SetCaret(int shape) {
    int h = 0, v = 0;
    switch (shape) {
    case 0:
    case 2:
    case 16:
    case 18:
        break;
    case 1:
    case 17:
        h = 1;
        break;
    case 4:
    case 20:
        v = 1;
        break;
    default:
        return -1;
    }
    UpdateCaret(0);
    const int old = t.tty_caret;
    t.tty_caret = uint16_t(shape);
    t.tty_h_extend = uint16_t(h);
    t.tty_v_extend = uint16_t(v);
    UpdateCaret(1);
    return old;
}

int TTY_SetPos(int row, int col) {
    UpdateCaret(0);
    t.tty_row = int16_t(row < 0 ? 0 : row >= t.tty_rows ? t.tty_rows - 1 : row);
    t.tty_col = int16_t(col < 0 ? 0 : col >= t.tty_cols ? t.tty_cols - 1 : col);
    UpdateCaret(1);
    return 1;
}

int TTY_GetPos(int *row, int *col) {
    if (row) *row = t.tty_row;
    if (col) *col = t.tty_col;
    return 1;
}

void TTY_PutChar(int c) {
    if (!t.pTextDC) return;
    c &= 0xFF;
    UpdateCaret(0, covers_cell(c));
    if (c == 9) {
        // Without the advance bit the column would never move: one blank.
        int guard = 8;
        do {
            put_raw(' ');
        } while ((t.tty_mode & 16) && t.tty_col % 8 != 0 && --guard > 0);
    } else if (c == 8) {
        if (t.tty_col > 0) {
            if (t.tty_mode & 16) {
                --t.tty_col;
                put_raw(' ');
                --t.tty_col;
            } else {
                put_cell(' ');
            }
        }
    } else {
        put_raw(c);
    }
    UpdateCaret(1);
}

int TTY_Puts(const char *text) {
    for (const char *p = text; p && *p; ++p)
        TTY_PutChar(uint8_t(*p));
    return 1;
}

void TTY_Scroll(int up) {
    if (!t.pTextDC) return;
    DC *dc = t.pTextDC;
    const int w = t.tty_cols * t.tty_width, h = t.tty_height, rows = t.tty_rows;
    const COLOR fill = dc->fill_colour;
    GDI_SetFillColor(dc, t.tty_fill_color);
    if (up) {
        GDI_BitBlt(dc, 0, 0, w, (rows - 1) * h, dc, 0, h);
        GDI_Rectangle(dc, 0, (rows - 1) * h, w, rows * h);
        std::memmove(t.d_char, t.d_char + t.tty_cols, size_t(t.tty_cols * (rows - 1)));
        std::memmove(t.d_attr, t.d_attr + t.tty_cols, size_t(t.tty_cols * (rows - 1)));
        std::memset(t.d_char + t.tty_cols * (rows - 1), ' ', size_t(t.tty_cols));
        std::memset(t.d_attr + t.tty_cols * (rows - 1), ' ', size_t(t.tty_cols));
    } else {
        // Bottom up, so that the copy never reads a row it has just written.
        for (int r = rows - 2; r >= 0; --r)
            GDI_BitBlt(dc, 0, (r + 1) * h, w, h, dc, 0, r * h);
        GDI_Rectangle(dc, 0, 0, w, h);
        std::memmove(t.d_char + t.tty_cols, t.d_char, size_t(t.tty_cols * (rows - 1)));
        std::memmove(t.d_attr + t.tty_cols, t.d_attr, size_t(t.tty_cols * (rows - 1)));
        std::memset(t.d_char, ' ', size_t(t.tty_cols));
        std::memset(t.d_attr, ' ', size_t(t.tty_cols));
    }
    GDI_SetFillColor(dc, fill);
}

int TTY_CellChar(int row, int col) {
    if (row < 0 || row >= t.tty_rows || col < 0 || col >= t.tty_cols) return -1;
    return t.d_char[cell(row, col)];
}
int TTY_CellAttr(int row, int col) {
    if (row < 0 || row >= t.tty_rows || col < 0 || col >= t.tty_cols) return -1;
    return t.d_attr[cell(row, col)];
}
