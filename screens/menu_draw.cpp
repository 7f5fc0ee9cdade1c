// How the menu object draws itself: the system menu's lamps, the title bar,
// the list with its scroll bar and highlight, the values with their
// alignment, units and edit cursor, the colour test page, the four soft keys
// and the line icons. Drawing is incremental: a paint redraws only what the
// update pass, a key or a touch marked.
#include "base/le.h"
#include "gdi/gradient.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "screens/menu_obj.h"

#include <algorithm>
#include <cstring>

namespace menu {

namespace {

constexpr COLOR kSysKeyFace = 0xFFEC, kSysKeyFill = 0x003F;
constexpr int kScrollW = 15;

struct Ctx {
    const uint8_t *def;
    MenuInst *m;
    DC *dc;
    COLOR fill; // offset 18
};

void box(DC *dc, int l, int t, int r, int b, COLOR pen, COLOR fill) {
    GDI_SetPen(dc, pen == kColorNone ? kPenNone : kPenSolid, 1, pen);
    GDI_SetFillColor(dc, fill);
    GDI_Rectangle(dc, l, t, r, b);
}

bool wide_value(const MenuInst *m, const uint8_t *field) {
    return !m->system && field && (field[0] & 0x1F) == 7 && PGM_UnicodePresent;
}

int text_width(DC *dc, const void *t, bool wide) {
    int w = 0;
    if (!t) return 0;
    if (wide)
        GDI_WordTextExtent(dc, static_cast<const uint16_t *>(t), &w, nullptr);
    else
        GDI_ByteTextExtent(dc, static_cast<const char *>(t), &w, nullptr);
    return w;
}
void text_out(DC *dc, int x, int y, const void *t, bool wide) {
    if (!t) return;
    if (wide)
        GDI_WordTextOut(dc, x, y, static_cast<const uint16_t *>(t));
    else
        GDI_ByteTextOut(dc, x, y, static_cast<const char *>(t));
}

void select_line_font(const Ctx &c) {
    if (!GDI_SelectFont(c.dc, c.m->system ? c.def[kFont] : c.def[kLineFont], nullptr, nullptr))
        GDI_SelectFont(c.dc, 32, nullptr, nullptr);
}

// Icons: a double chevron and the page arrow, as high as a line.
void chevron(DC *dc, int tip, int mid, int half, int dir, COLOR colour) {
    GDI_SetPen(dc, kPenSolid, 1, colour);
    for (int k = 0; k < 2; ++k) {
        const int x = tip - dir * 4 * k;
        GDI_MoveTo(dc, x - dir * half / 2, mid - half);
        GDI_LineTo(dc, x, mid);
        GDI_LineTo(dc, x - dir * half / 2, mid + half + 1);
    }
}
void DrawMenuIconRight(DC *dc, int x, int y, int height, COLOR colour) {
    const int half = height > 8 ? 4 : 1;
    chevron(dc, x - 2, y + height / 2, half, 1, colour);
}
void DrawMenuIconLeft(DC *dc, int x, int y, int height, COLOR colour) {
    const int half = height > 8 ? 4 : 1;
    chevron(dc, x + 1, y + height / 2, half, -1, colour);
}
void DrawPageIconRight(DC *dc, int x, int y, int height, COLOR colour) {
    const int s = height > 8 ? 8 : 3, head = height > 8 ? 4 : 2;
    const int bottom = y + (height + s) / 2 - 1, top = bottom - s + 1;
    GDI_SetPen(dc, kPenSolid, 1, colour);
    GDI_MoveTo(dc, x - s, bottom);
    GDI_LineTo(dc, x - 1, top);
    GDI_MoveTo(dc, x - 1 - head, top);
    GDI_LineTo(dc, x - 1, top);
    GDI_LineTo(dc, x - 1, top + head + 1);
}

// Soft-key glyphs, drawn into (left, top, width - 1, height - 1).
void SymUp(DC *dc, const RECT &k, COLOR colour, bool down) {
    const int w = k.right - k.left - 1, h = k.bottom - k.top - 1;
    const int cx = k.left + w / 2, apex = down ? k.bottom - 1 - h / 4 : k.top + h / 4;
    const int base = down ? k.top + h / 4 : k.bottom - 1 - h / 4;
    const POINT p[3] = {{int16_t(cx), int16_t(apex)},
                        {int16_t(cx - h / 4), int16_t(base)},
                        {int16_t(cx + h / 4), int16_t(base)}};
    GDI_SetPen(dc, kPenSolid, 2, colour);
    GDI_Polygon(dc, p, 3);
}
void SymCR(DC *dc, const RECT &k, COLOR colour) {
    const int w = k.right - k.left - 1, h = k.bottom - k.top - 1;
    const int l = k.left + w / 3, r = k.left + 2 * w / 3, t = k.top + h / 3, b = k.top + 2 * h / 3;
    GDI_SetPen(dc, kPenSolid, 3, colour);
    GDI_MoveTo(dc, r, t);
    GDI_LineTo(dc, r, b);
    GDI_LineTo(dc, l, b);
    GDI_SetPen(dc, kPenSolid, 2, colour);
    GDI_MoveTo(dc, l + 5, b - 5);
    GDI_LineTo(dc, l, b);
    GDI_LineTo(dc, l + 6, b + 6);
}

void label(DC *dc, const RECT &k, int key, COLOR colour) {
    switch (key) {
    case 0:
        SymUp(dc, k, colour, false);
        break;
    case 1:
        SymUp(dc, k, colour, true);
        break;
    case 2: {
        GDI_SelectFont(dc, 32, nullptr, nullptr);
        int w = 0, h = 0;
        GDI_ByteTextExtent(dc, "Esc", &w, &h);
        GDI_SetTextColor(dc, colour);
        GDI_SetFillColor(dc, kColorNone);
        GDI_SetTextAlign(dc, 2);
        GDI_ByteTextOut(dc, k.left + (k.right - k.left) / 2 - 1, k.top + (k.bottom - k.top - h) / 2,
                        "Esc");
        break;
    }
    default:
        SymCR(dc, k, colour);
        break;
    }
}

void DrawKey(const Ctx &c, int key, bool pressed) {
    DC *dc = c.dc;
    const uint8_t *def = c.def;
    const RECT k = SoftKey(def, c.m, key);
    COLOR pen, fill;
    if (c.m->system) {
        pen = pressed ? kSysKeyFill : kSysKeyFace;
        fill = pressed ? kSysKeyFace : kSysKeyFill;
        GDI_SetPen(dc, kPenSolid, 2, pen);
        GDI_SetFillColor(dc, fill);
        GDI_RoundRect(dc, k.left, k.top, k.right, k.bottom, 8, 8);
        label(dc, k, key, pen);
        return;
    }
    const COLOR text = c.m->colour;
    if (!c.m->extended) {
        pen = pressed ? c.fill : text;
        fill = pressed ? text : c.fill;
    } else if (le16(def) & 0x8000) {
        const size_t at = le16(def + (StateColours(def, c.m) ? kStateKeyGradient : kKeyFill));
        if (ObjDef_Holds(def, at, 12)) {
            const uint8_t *g = def + at;
            GDI_SetGradient(dc, int16_t(le16(g)));
            GDI_SetEndColor(dc, le16(g + 8));
            GDI_SetFillColor(dc, le16(g + 10));
            pen = pressed ? le16(g + 10) : text;
            GDI_SetPen(dc, kPenSolid, 2, pen);
            GDI_GradRoundRect(dc, int16_t(le16(g + 4)), int16_t(le16(g + 6)), k.left, k.top,
                              k.right, k.bottom, 4, 4);
            GDI_SetGradient(dc, 0);
            label(dc, k, key, text);
            return;
        }
        pen = text;
        fill = c.fill;
    } else {
        const COLOR face = le16(def + kKeyFill);
        pen = pressed ? face : text;
        fill = pressed ? text : face;
    }
    GDI_SetPen(dc, kPenSolid, 2, pen);
    GDI_SetFillColor(dc, fill);
    GDI_RoundRect(dc, k.left, k.top, k.right, k.bottom, 4, 4);
    label(dc, k, key, pen);
}

void draw_lamp(const Ctx &c, const RECT &b, bool lit) {
    DC *dc = c.dc;
    const bool narrow = dc->bounds.right + 1 < 250;
    const COLOR on = narrow ? 0x0000 : 0x07E0, off = narrow ? 0xFFDF : 0x7BEF;
    const int d = b.bottom - b.top - 4;
    const int l = b.left + 2, t = b.top + 2;
    GDI_SetPen(dc, kPenSolid, 1, 0x0000);
    GDI_SetFillColor(dc, lit ? on : off);
    GDI_Ellipse(dc, l, t, l + d, t + d);
    if (GrayScale()) {
        GDI_SetPen(dc, kPenSolid, 1, off);
        GDI_SetFillColor(dc, kColorNone);
        GDI_Ellipse(dc, l + 1, t + 1, l + d - 1, t + d - 1);
    }
}

void lamp_box(const Ctx &c, const RECT &b, const char *name) {
    box(c.dc, b.left, b.top, b.right, b.bottom, 0x0000, c.fill);
    GDI_SelectFont(c.dc, 0, nullptr, nullptr);
    GDI_SetTextColor(c.dc, 0x0000);
    GDI_SetFillColor(c.dc, kColorNone);
    GDI_SetTextAlign(c.dc, 1);
    GDI_ByteTextOut(c.dc, b.right - 1 - 4, b.top + 2, name);
}

int row_y(const MenuInst *m, int r) {
    return m->row_y + r * m->line_h;
}

bool highlighted(const MenuInst *m, int r) {
    if (r != m->hi || m->editing) return false;
    const int i = LineAt(m, r);
    return i >= 0 && Selectable(Line(m, i)) && (m->system || m->hi_shown);
}

bool bar_page(const MenuInst *m) {
    const uint8_t *p = Page(m);
    return !m->system && p && (le16(p) & kBar);
}

void caption(const Ctx &c, int r, bool inverted) {
    MenuInst *m = c.m;
    DC *dc = c.dc;
    const int i = LineAt(m, r);
    if (i < 0) return;
    const LineView l = Line(m, i);
    const int y = row_y(m, r);
    COLOR fg = m->colour, bg = c.fill;
    if (inverted) std::swap(fg, bg);
    select_line_font(c);
    if (inverted && bar_page(m)) {
        box(dc, m->list.left + 2, y, m->value_right, y + m->line_h, m->colour, m->colour);
        bg = m->colour;
        fg = c.fill;
    }
    GDI_SetTextColor(dc, fg);
    GDI_SetFillColor(dc, bg);
    if (m->system) {
        GDI_SetTextAlign(dc, 0);
        text_out(dc, m->line_x + 3, y, l.caption, false);
        return;
    }
    const bool wide = PGM_UnicodePresent;
    int x = m->list.left + 2;
    int align = 0;
    if (l.flags & kRight) {
        x = m->value_right;
        align = 1;
    } else if (l.flags & kCentre) {
        x = (m->list.left + m->value_right) / 2;
        align = 2;
    }
    GDI_SetTextAlign(dc, align);
    text_out(dc, x, y, l.caption, wide);
    if (le32(c.def + 2) & kIcons) {
        const bool right = (l.flags & kRight) != 0;
        // Beside the caption, outside its inverted cell: in the text colour
        // unless on the highlight bar.
        const COLOR ic = inverted && bar_page(m) ? c.fill : m->colour;
        if (l.flags & kLink)
            DrawMenuIconRight(dc, right ? m->list.left + 6 : m->value_right, y, m->line_h, ic);
        else if (l.flags & kScreen)
            DrawPageIconRight(dc, right ? m->list.left + 8 : m->value_right, y, m->line_h, ic);
    }
}

void clear_row(const Ctx &c, int r) {
    const int y = row_y(c.m, r);
    box(c.dc, c.m->list.left + 2, y, c.m->value_right, y + c.m->line_h, kColorNone, c.fill);
}

void scroll_bar(const Ctx &c) {
    MenuInst *m = c.m;
    DC *dc = c.dc;
    const int n = Count(m);
    const int l = m->list.right - kScrollW, r = m->list.right, t = m->list.top, b = m->list.bottom;
    box(dc, l, t, r, b, m->colour, c.fill);
    GDI_SetPen(dc, kPenSolid, 1, m->colour);
    GDI_MoveTo(dc, l, t + kScrollW);
    GDI_LineTo(dc, r, t + kScrollW);
    GDI_MoveTo(dc, l, b - kScrollW - 1);
    GDI_LineTo(dc, r, b - kScrollW - 1);
    const RECT up{int16_t(l), int16_t(t), int16_t(l + kScrollW), int16_t(t + kScrollW)};
    const RECT dn{int16_t(l), int16_t(b - kScrollW), int16_t(l + kScrollW), int16_t(b)};
    SymUp(dc, up, m->colour, false);
    SymUp(dc, dn, m->colour, true);
    const int track_t = t + kScrollW + 2, track_b = b - kScrollW - 2;
    const int track = std::max(track_b - track_t, 0);
    const int thumb = n > 0 ? track * m->rows / n : track;
    const int span = n - m->rows;
    const int top = track_t + (span > 0 ? m->top * (track - thumb) / span : 0);
    box(dc, l + 2, top, r - 2, top + thumb, kColorNone, m->colour);
}

// The value of row r; false when drawing must end for this pass.
struct Inverse {
    int index, step, from, to;
    COLOR fg, bg;
};
void invert_callback(int, DIB *glyph, uintptr_t arg) {
    auto *v = reinterpret_cast<Inverse *>(arg);
    if (v->index >= v->from && v->index < v->to) {
        glyph->foreground = v->bg;
        glyph->background = v->fg;
    }
    v->index += v->step;
}

bool value(const Ctx &c, int r) {
    MenuInst *m = c.m;
    DC *dc = c.dc;
    const int i = LineAt(m, r);
    if (i < 0 || !m->line_dirty[i]) return true;
    const LineView l = Line(m, i);
    if (!l.field) return true;
    m->line_dirty[i] = 0;
    const bool wide = wide_value(m, l.field);
    // The text, with its units on application lines that have them.
    uint8_t tbuf[256];
    const void *text = m->text[i];
    size_t value_chars = 0;
    if (!m->system && (l.flags & kUnits)) {
        const size_t unit = wide ? 2 : 1, cap = 256 / unit - 1;
        auto chars = [&](const uint8_t *t, size_t limit) {
            size_t n = 0;
            while (n < limit && (unit == 2 ? le16(t + 2 * n) : t[n]) > 3)
                ++n;
            return n;
        };
        value_chars = chars(m->text[i], kTextBytes / unit - 1);
        const auto *units = static_cast<const uint8_t *>(StringText(le32(l.field + 16)));
        const size_t un = units ? chars(units, cap + 1) : 0;
        if (value_chars + un + 1 > cap + 1) return false;
        std::memcpy(tbuf, m->text[i], value_chars * unit);
        if (units) std::memcpy(tbuf + value_chars * unit, units, un * unit);
        std::memset(tbuf + (value_chars + un) * unit, 0, unit);
        text = tbuf;
    }
    select_line_font(c);
    const int w = text_width(dc, text, wide);
    const int y = row_y(m, r);
    static constexpr int kAlign[4] = {1, 2, 0, 0};
    const int align = kAlign[l.field[1] & 3];
    m->align = uint16_t(align);
    int left, x;
    if (align == 1) {
        int bw = w;
        const bool scan_rate = m->system && m->page == 5 && i == 2;
        if (!m->system || scan_rate) bw = std::max<int>(w, m->drawn_w[i]);
        left = m->value_right - bw;
        x = m->value_right - 1;
    } else {
        int cw = 0;
        GDI_ByteTextExtent(dc, "0", &cw, nullptr);
        left = m->line_x + 3 + l.field[12] * cw;
        x = left + 2;
        if (align == 2) x = left + 2 + (m->value_right - left - 2) / 2;
    }
    const bool editing = m->editing && r == m->hi;
    const bool hi = r == m->hi && m->hi_shown && !m->editing;
    COLOR fg = m->colour, bg = c.fill;
    if (m->system) {
        box(dc, left, y, m->value_right, y + m->line_h, kColorNone, c.fill);
        fg = le16(c.def + kTextColour);
    } else {
        if (hi && highlighted(m, r))
            box(dc, left, y, m->value_right, y + m->line_h, kColorNone,
                bar_page(m) ? m->colour : c.fill);
        if (hi && highlighted(m, r) && bar_page(m)) std::swap(fg, bg);
    }
    GDI_SetTextAlign(dc, align);
    Inverse inv{0, 1, 0, 0, fg, bg};
    bool callback = false;
    if (editing) {
        const FLD &f = m->k.fld;
        const int len = int(std::strlen(reinterpret_cast<const char *>(m->text[i])));
        if (f.state == fld::kBegun || f.state == fld::kTyping) {
            if (value_chars) {
                inv.from = 0;
                inv.to = int(value_chars);
                if (align == 1) inv.index = w > 0 ? int(std::strlen((const char *)text)) - 1 : 0;
                if (align == 1) inv.step = -1;
                callback = true;
            } else {
                std::swap(fg, bg);
            }
        } else if (f.state == fld::kCursor || f.state == fld::kPartEdit) {
            const bool lit = f.format == 6 || f.format == 16 || f.format == 17;
            inv.from = lit ? f.cursor - 1 : f.cursor;
            inv.to = inv.from + std::max<int>(m->k.span, 1);
            if (align == 1) {
                inv.index = int(std::strlen(reinterpret_cast<const char *>(text))) - 1;
                inv.step = -1;
            }
            (void)len;
            callback = true;
        } else if (f.state != fld::kDisplay) {
            m->drawn_w[i] = uint16_t(w);
            return true;
        }
    }
    GDI_SetTextColor(dc, fg);
    GDI_SetFillColor(dc, bg);
    if (callback) GDI_SetTextCallBk(dc, invert_callback, reinterpret_cast<uintptr_t>(&inv));
    text_out(dc, x, y, text, wide);
    GDI_SetTextCallBk(dc, nullptr, 0);
    m->drawn_w[i] = uint16_t(w);
    return true;
}

void colour_test(const Ctx &c) {
    DC *dc = c.dc;
    const RECT &l = c.m->list;
    if (GrayScale()) {
        static constexpr uint8_t kLevels[8] = {1, 3, 5, 7, 9, 11, 13, 15};
        const int x0 = l.left + 16, y0 = l.top + 95;
        box(dc, x0 - 1, y0 - 1, x0 + 8 * 20 + 1, y0 + 21, 0x0000, kColorNone);
        for (int k = 0; k < 8; ++k) {
            // Level v of 16: v in each of red and blue, 2v in green.
            const COLOR grey = COLOR(kLevels[k] * 0x0841);
            box(dc, x0 + 20 * k, y0, x0 + 20 * k + 20, y0 + 20, kColorNone, grey);
        }
        return;
    }
    static constexpr COLOR kTop[6] = {0xF820, 0x7820, 0x07E0, 0x03E0, 0x003F, 0x002F};
    static constexpr COLOR kBottom[3] = {0x0000, 0x7BEF, 0xC638};
    const int x0 = l.left + 35;
    for (int k = 0; k < 6; ++k)
        box(dc, x0 + 20 * k, l.top + 95, x0 + 20 * k + 20, l.top + 115, kColorNone, kTop[k]);
    for (int k = 0; k < 3; ++k)
        box(dc, x0 + 40 * k, l.top + 125, x0 + 40 * k + 40, l.top + 145, kColorNone, kBottom[k]);
}

void title(const Ctx &c) {
    MenuInst *m = c.m;
    DC *dc = c.dc;
    const uint8_t *def = c.def;
    const uint32_t flags = le32(def + 2);
    const bool state = StateColours(def, m);
    COLOR fill = c.fill, text = m->colour;
    if (m->extended) {
        fill = le16(def + (state ? kStateTitleFill : kTitleFill));
        text = le16(def + (state ? kStateTitleText : kTitleText));
    }
    const int inset = (flags & kFrame) ? 1 : 0;
    box(dc, m->content.left + inset, m->content.top + inset, m->content.right - 49,
        m->title.bottom + 2, kColorNone, fill);
    if (m->flash_phase) return;
    if (!GDI_SelectFont(dc, def[kFont], nullptr, nullptr)) GDI_SelectFont(dc, 32, nullptr, nullptr);
    GDI_SetTextColor(dc, text);
    GDI_SetFillColor(dc, kColorNone);
    const void *t = nullptr;
    uint8_t counted[kTextBytes + 2];
    if (m->depth == 0) {
        t = StringText(le32(def + kTitle));
    } else {
        // The caption of the line entered on the level below, read only
        // among the lines that page's record holds.
        MenuInst probe = {};
        probe.system = m->system;
        probe.page = m->st_page[m->depth - 1];
        const uint8_t *below = Page(&probe);
        probe.lines =
            below && le16(below) != 1 ? uint16_t(std::min<int>(le16(below + 2), kMaxLines)) : 0;
        const LineView l = Line(&probe, m->st_top[m->depth - 1] + int8_t(m->st_hi[m->depth - 1]));
        if (l.caption) {
            const size_t unit = PGM_UnicodePresent ? 2 : 1;
            const auto *s = static_cast<const uint8_t *>(l.caption);
            size_t n = 0;
            while (n < kTextBytes / unit - 1 && (unit == 2 ? le16(s + 2 * n) : s[n]))
                ++n;
            // A counted text of one line for the rectangle output.
            if (unit == 2)
                put_le16(counted, 1);
            else
                counted[0] = 1;
            std::memcpy(counted + unit, s, n * unit);
            std::memset(counted + unit + n * unit, 0, unit);
            t = counted + unit;
        }
        if (flags & kIcons) {
            const int x = (def[kTitleAlign] & 1) ? m->title.right - 6 : m->title.left;
            DrawMenuIconLeft(dc, x, m->title.top, m->title.bottom - m->title.top, m->colour);
        }
    }
    if (t) {
        static constexpr int kFlags[3] = {1, 2, 4};
        GDI_RectTextOut(dc, kFlags[std::min<int>(def[kTitleAlign] >> 1 & 3, 2)] | 32, &m->title, t);
    }
}

} // namespace

RECT SoftKey(const uint8_t *def, const MenuInst *m, int k) {
    if (m->system) {
        static constexpr int16_t kY[kSoftKeys] = {35, 92, 149, 206};
        const int16_t x = int16_t(m->list.left + 415), y = int16_t(m->list.top + kY[k]);
        return RECT{x, y, int16_t(x + 55), int16_t(y + 53)};
    }
    const int16_t x = int16_t(m->list.right + 2);
    const int16_t y = int16_t(le16(def + 16) + 47 * (k - 4));
    return RECT{x, y, int16_t(x + 45), int16_t(y + 45)};
}

void Paint(const uint8_t *def, ObjInst *inst, int full) {
    auto *m = reinterpret_cast<MenuInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !ObjDef_Holds(def, 0, kRecord)) return;
    const uint8_t *p = Page(m);
    if (m->system && p && le16(p) == 1) return;
    const Ctx c{def, m, dc, le16(def + kFill)};
    const uint32_t flags = le32(def + 2);
    RECT save{};
    bool clipped = false;
    if (full & 1) {
        if (m->system) {
            lamp_box(c, m->ok, "OK");
            lamp_box(c, m->run, "RUN");
            m->lamps |= 0x0200;
        } else {
            const RECT &d = m->content;
            box(dc, d.left, d.top, d.right, d.bottom, (flags & kFrame) ? m->colour : kColorNone,
                c.fill);
            m->title_dirty = m->list_dirty = 1;
            if (flags & kFrame) {
                GDI_SetPen(dc, kPenSolid, 1, m->colour);
                GDI_MoveTo(dc, d.right - 49, d.top);
                GDI_LineTo(dc, d.right - 49, d.bottom);
            }
        }
        for (int k = 0; k < kSoftKeys; ++k)
            DrawKey(c, k, false);
        m->key_drawn = 0;
        m->list_dirty = 1;
    }
    // The soft keys whose held state changed.
    const uint8_t held = uint8_t(m->key_held ? m->held_key + 1 : 0);
    if (held != m->key_drawn) {
        if (m->key_drawn) DrawKey(c, m->key_drawn - 1, false);
        if (held) DrawKey(c, held - 1, true);
        m->key_drawn = held;
    }
    if (!m->system && (flags & kTitleLine) && (m->title_dirty || m->list_dirty)) {
        title(c);
        m->title_dirty = 0;
    }
    if (m->system && (m->lamps & 0x0200)) {
        draw_lamp(c, m->ok, (m->lamps & 0x0400) != 0);
        draw_lamp(c, m->run, (m->lamps & 0x0800) != 0);
        m->lamps &= uint16_t(~0x0200);
    }
    m->value_right = int16_t(m->list.right - 2);
    const int shown = std::min<int>(m->rows, std::max(Count(m) - m->top, 0));
    if (Count(m) > m->rows) {
        m->value_right = int16_t(m->value_right - kScrollW);
        if (!m->system) {
            const RECT clip{m->list.left, m->list.top, int16_t(m->list.right - kScrollW),
                            m->list.bottom};
            GDI_SetClipRect(dc, &clip, &save);
            clipped = true;
        }
    }
    if (m->list_dirty) {
        box(dc, m->list.left, m->list.top, m->list.right, m->list.bottom,
            (flags & kFrame) ? m->colour : kColorNone, c.fill);
        if (Count(m) > m->rows) {
            if (clipped) GDI_SetClipRect(dc, &save, nullptr);
            scroll_bar(c);
            if (clipped) {
                const RECT clip{m->list.left, m->list.top, int16_t(m->list.right - kScrollW),
                                m->list.bottom};
                GDI_SetClipRect(dc, &clip, nullptr);
            }
        }
        for (int r = 0; r < shown; ++r) {
            caption(c, r, highlighted(m, r));
            const int i = LineAt(m, r);
            if (i >= 0) m->line_dirty[i] = 1;
        }
        m->hi_drawn = m->hi;
        m->list_dirty = 0;
        m->edit_dirty = 0;
    } else if (m->hi != m->hi_drawn || m->edit_dirty) {
        if (m->hi_drawn >= 0 && m->hi_drawn < shown) {
            if (bar_page(m) || m->editing) clear_row(c, m->hi_drawn);
            caption(c, m->hi_drawn, false);
            const int i = LineAt(m, m->hi_drawn);
            if (i >= 0 && (bar_page(m) || m->editing)) m->line_dirty[i] = 1;
        }
        if (m->hi >= 0 && m->hi < shown && !m->editing) {
            caption(c, m->hi, highlighted(m, m->hi));
            const int i = LineAt(m, m->hi);
            if (i >= 0 && bar_page(m)) m->line_dirty[i] = 1;
        }
        m->edit_dirty = 0;
        m->hi_drawn = m->hi;
    }
    for (int r = 0; r < shown; ++r)
        if (!value(c, r)) break;
    if (m->system && m->page == 4) colour_test(c);
    if (clipped) GDI_SetClipRect(dc, &save, nullptr);
}

} // namespace menu
