// MENU: the menu object. It shows the lines of a menu page (the system
// menu's built-in pages, or the application's own) with their live values,
// moves a highlight with its soft keys, keys or touches, follows links
// between pages on a stack of 8 levels, edits values in place or on an entry
// keypad it opens over itself, and hands over to built-in screens by taking
// their class for a while. Its drawing is in menu_draw.cpp.
#include "base/le.h"
#include "gdi/text.h"
#include "platform/keys.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "screens/menu_obj.h"

#include <algorithm>
#include <cstring>

using namespace menu;

namespace {

constexpr int kKeypad = 13, kTextKeypad = 28;

struct State {
    MenuHooks hooks{};
    MenuInst *pThisData = nullptr; // the system menu's instance
    uint8_t New_Menu = 0;
    uint16_t timeBuf[4] = {};
    uint32_t visible_attr_old = 0;
    uint8_t last_flash = 0, hold_flash = 0;
    int sys_first = 0; // the first page MENU_SetPage chose (0: the record's)
    int requested = 0; // the page MENU_SetPage was last asked for, valid or not
};
State g;

MenuInst *of(ObjInst *inst) {
    return reinterpret_cast<MenuInst *>(inst);
}

void beep(int n) {
    if (g.hooks.beep) g.hooks.beep(n);
}
RCB *link_reg(uint32_t link, uint32_t size) {
    return g.hooks.link_reg ? g.hooks.link_reg(link, size) : nullptr;
}
void chg_link(RCB *r, uint32_t link, uint32_t size) {
    if (g.hooks.chg_link && r) g.hooks.chg_link(r, link, size);
}
void read_reg(const RCB *r, void *dst, uint32_t n) {
    std::memset(dst, 0, n);
    if (g.hooks.read_reg && r) g.hooks.read_reg(dst, r, n);
}
void write_reg(const RCB *r, const void *src, uint32_t n) {
    if (g.hooks.write_reg && r) g.hooks.write_reg(r, src, n);
}
uint32_t read32(const RCB *r) {
    uint8_t b[4];
    read_reg(r, b, 4);
    return le32(b);
}
uint16_t read16(const RCB *r) {
    uint8_t b[2];
    read_reg(r, b, 2);
    return le16(b);
}
int screen_w(const MenuInst *m) {
    return m->k.hdr.dc ? m->k.hdr.dc->bounds.right + 1 : 0;
}
int screen_h(const MenuInst *m) {
    return m->k.hdr.dc ? m->k.hdr.dc->bounds.bottom + 1 : 0;
}

// The screen program's data: offset + size inside it, or null.
const uint8_t *program_at(uint64_t offset, uint64_t size) {
    const uint8_t *data = kesta_pgm_bl + 8;
    const uint64_t length =
        std::min<uint64_t>(le32(kesta_pgm_bl + 4), app::kConfigParts[3].capacity - 8);
    if (offset > length || size > length - offset) return nullptr;
    return data + offset;
}
uint64_t program_offset(const uint8_t *p) {
    return uint64_t(p - (kesta_pgm_bl + 8));
}
// A text of the screen program at `offset` that ends inside it.
const void *program_text(uint32_t offset) {
    if (offset == 0) return nullptr;
    const size_t unit = PGM_UnicodePresent ? 2 : 1;
    const uint8_t *t = program_at(offset, 0);
    if (!t) return nullptr;
    for (uint64_t at = offset;; at += unit) {
        const uint8_t *c = program_at(at, unit);
        if (!c) return nullptr;
        if ((unit == 2 ? le16(c) : c[0]) == 0) return t;
    }
}

// The enumeration table at `offset` of the text tables, when its head lies
// inside the text block (the field layer keeps its entries inside).
const uint8_t *app_enum(uint32_t offset) {
    if (!pPGM_TextTbls) return nullptr;
    const uint8_t *data = text_table_bl + 8;
    const uint64_t length =
        std::min<uint64_t>(le32(text_table_bl + 4), app::kConfigParts[6].capacity - 8);
    if (pPGM_TextTbls < data || uint64_t(pPGM_TextTbls - data) > length) return nullptr;
    const uint64_t start = uint64_t(pPGM_TextTbls - data) + offset;
    if (start + 4 > length) return nullptr;
    return data + start;
}

int kind_of(const uint8_t *f) {
    return f[0] & 0x1F;
}
bool number_kind(int k) {
    return (k >= 1 && k <= 3) || k == 8 || k == 11 || k == 12 || k == 14 || k >= 16;
}

// The formatter's field from a descriptor: the line's text buffer, the
// enumeration table of the menu's kind.
void load_field(const MenuInst *m, FLD &f, const uint8_t *d, uint8_t *text) {
    f = FLD{};
    const int k = kind_of(d);
    f.format = uint8_t(k == 1 || k == 2 || k == 3 || k == 8 ? k : number_kind(k) ? 1 : k);
    f.flags = d[1] & fld::kZeroFill;
    f.digits = d[2];
    f.decimals = d[3];
    f.min = le32(d + 4);
    f.max = le32(d + 8);
    f.text = text;
    if (k == 4 || k == 5 || k == 15) {
        f.decimals = std::min(d[3], d[2]);
        f.digits = uint8_t(d[2] - f.decimals);
    }
    if (k == 6) f.digits = uint8_t(std::min<int>(d[2], kTextBytes - 3));
    if (k == 7) {
        if (m->system) {
            f.table = f.min < uint32_t(kSystemEnums) ? pSystemEnum[f.min] : nullptr;
        } else {
            f.step = f.min;
            f.table = app_enum(f.min);
            f.wide = PGM_UnicodePresent ? 1 : 0;
        }
    }
    if (k == 13) f.digits = std::min<uint8_t>(d[2], 60);
}

// Reads the text register into the line's text: control characters become
// blanks, a NUL after the first character ends it; with trim, trailing
// blanks go (one stays). Non-zero when a character changed.
int LoadLitBuf(const RCB *link, const FLD &f, uint8_t *text, int width, bool trim) {
    uint8_t raw[kTextBytes] = {};
    width = std::clamp(width, 0, kTextBytes - 2);
    read_reg(link, raw, uint32_t(std::min(width, 128)));
    uint8_t out[kTextBytes] = {};
    int n = 0;
    for (; n < width; ++n) {
        uint8_t c = raw[n];
        if (c == 0 && n > 0) break;
        out[n] = c < 0x20 ? ' ' : c;
    }
    if (trim)
        while (n > 1 && out[n - 1] == ' ')
            --n;
    out[n] = 0;
    (void)f;
    const int changed = std::memcmp(out, text, size_t(n) + 1) != 0;
    std::memcpy(text, out, size_t(n) + 1);
    return changed;
}

uint32_t link_size(const uint8_t *d) {
    const int k = kind_of(d);
    if (k == 6) return uint32_t(std::min<int>(d[2], 63) | 0xC0);
    return uint32_t(d[13]) | (k == 1 || k == 3 ? 0x40u : 0u);
}

double as_double(const uint8_t *b) {
    uint64_t bits = le32(b) | uint64_t(le32(b + 4)) << 32;
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

// A time of 48 bits holds seconds, minutes and hours; one of 32 bits (the
// time-zone offset) minutes and hours only.
void time_words(const RCB *r, const uint8_t *d, uint16_t *w) {
    uint8_t b[6];
    const bool short_time = d[13] == 32;
    read_reg(r, b, short_time ? 4 : 6);
    w[0] = 0;
    for (int i = short_time ? 1 : 0; i < 3; ++i)
        w[i] = le16(b + 2 * (short_time ? i - 1 : i));
}
void write_time(const RCB *r, const uint8_t *d, const uint16_t *w) {
    uint8_t b[6];
    const bool short_time = d[13] == 32;
    for (int i = short_time ? 1 : 0; i < 3; ++i)
        put_le16(b + 2 * (short_time ? i - 1 : i), w[i]);
    write_reg(r, b, short_time ? 4 : 6);
}

// Formats the stored value of line i (a number, float, enumeration, address,
// bar or LREAL) into its text through the field set up for it.
void put_stored(MenuInst *m, int i, const uint8_t *d) {
    FLD &f = m->fmt;
    switch (kind_of(d)) {
    case 4:
    case 5:
        FLD_FloatUpdate(&f, m->value[i], 0);
        break;
    case 7:
        FLD_EnumUpdate(&f, m->value[i], 0);
        break;
    case 10:
        FLD_IPUpdate(&f, m->value[i], 0);
        break;
    case 13:
        FLD_BarUpdate(&f, int32_t(m->value[i]), 0);
        break;
    case 15:
        FLD_LrealUpdate(&f, m->lreal[i], 0);
        break;
    default:
        FLD_NumUpdate(&f, m->value[i], 0);
        break;
    }
}

// Formats line `i` from its register (reads it) into its text.
void format_line(MenuInst *m, int i, const uint8_t *d) {
    FLD &f = m->fmt;
    load_field(m, f, d, m->text[i]);
    switch (kind_of(d)) {
    case 6:
        LoadLitBuf(m->link[i], f, m->text[i], d[2], true);
        f.length = uint8_t(std::strlen(reinterpret_cast<char *>(m->text[i])));
        FLD_LitUpdate(&f, 0);
        break;
    case 9:
        time_words(m->link[i], d, g.timeBuf);
        FLD_TimeUpdate(&f, g.timeBuf, 0);
        break;
    case 15: {
        uint8_t b[8];
        read_reg(m->link[i], b, 8);
        m->lreal[i] = as_double(b);
        put_stored(m, i, d);
        break;
    }
    default:
        m->value[i] = read32(m->link[i]);
        put_stored(m, i, d);
    }
    m->line_dirty[i] = 1;
}

// Formats line i from its stored value (no read); texts and times have no
// stored value and are read again.
void reformat_stored(MenuInst *m, int i, const uint8_t *d) {
    const int kind = kind_of(d);
    if (kind == 6 || kind == 9) {
        format_line(m, i, d);
        return;
    }
    load_field(m, m->fmt, d, m->text[i]);
    put_stored(m, i, d);
}

bool hidden(const MenuInst *m, int i) {
    return m->hidden_page && i < 32 && (m->visible >> i & 1);
}

// Reads the visibility register of an application page with hidden lines;
// the register lies behind the record's last line and is read only when
// the record holds it.
void update_visible_attr(MenuInst *m) {
    const uint8_t *p = Page(m);
    m->visible = 0;
    if (!p) return;
    const uint16_t count = le16(p + 2);
    const uint8_t *ref = program_at(program_offset(p) + 4 + 12u * count, 4);
    if (ref) {
        uint8_t b[4] = {};
        PlcReg_Get(b, le32(ref), 32);
        m->visible = ~le32(b);
    }
}

void list_visible(MenuInst *m) {
    m->vis_count = 0;
    for (int i = 0; i < kMaxLines; ++i)
        m->vis[i] = -1;
    for (int i = 0; i < m->lines; ++i)
        if (!hidden(m, i)) m->vis[m->vis_count++] = int16_t(i);
    if (m->vis_count == 0) m->hi = -1;
}

void CreateMenuTemplate(MenuInst *m) {
    m->editing = 0;
    m->list_dirty = 1;
    m->top = 0;
    m->lines = 0;
    m->hidden_page = 0;
    const uint8_t *p = Page(m);
    if (!p) return;
    const uint16_t flags = le16(p), count = le16(p + 2);
    if (flags == 1 || count == 0) return;
    m->lines = uint16_t(std::min<int>(count, kMaxLines));
    if (!m->system && (flags & kHiddenLines)) {
        m->hidden_page = 1;
        update_visible_attr(m);
        list_visible(m);
    }
    for (int i = 0; i < m->lines; ++i) {
        if (hidden(m, i)) continue;
        const LineView l = Line(m, i);
        if (l.field) {
            chg_link(m->link[i], le16(l.field + 14), link_size(l.field));
        } else {
            chg_link(m->link[i], 1, 16);
            if ((l.flags & kScreen) && l.target > 1024) chg_link(m->link[i], l.target, 16);
        }
    }
    for (int i = 0; i < m->lines; ++i) {
        if (hidden(m, i)) continue;
        const LineView l = Line(m, i);
        if (m->hi < 0 && Selectable(l)) {
            // The highlight is a row of the window.
            int row = i;
            if (m->hidden_page)
                for (row = 0; row < m->vis_count && m->vis[row] != i; ++row) {
                }
            m->hi = int16_t(row);
        }
        m->text[i][0] = 0;
        if (l.field) format_line(m, i, l.field);
        m->line_dirty[i] = 1;
        m->drawn_w[i] = 0;
        if (m->hi >= m->rows) m->hi = -1;
    }
}

void push(MenuInst *m) {
    m->st_page[m->depth] = uint8_t(m->page);
    m->st_hi[m->depth] = uint8_t(m->hi);
    m->st_top[m->depth] = m->top;
    ++m->depth;
}

void write_page_reg(const uint8_t *def, MenuInst *m) {
    if (m->system || !m->page_rcb || !def[kPageRegKind]) return;
    uint8_t b[2];
    put_le16(b, uint16_t(m->page - m->first));
    write_reg(m->page_rcb, b, 2);
}

uint16_t handle_key(const uint8_t *def, MenuInst *m, int key);

// Opens the editor of line `i` (Enter on an editable line).
uint16_t open_editor(const uint8_t *def, MenuInst *m, int i, const LineView &l) {
    const uint8_t *d = l.field;
    const int k = kind_of(d);
    const int w = screen_w(m), h = screen_h(m);
    const bool small = w >= 160 && w <= 640 && h >= 128 && h <= 480;
    int pad = 0;
    if (m->system) {
        if ((number_kind(k) || k == 9 || k == 10) && small) pad = kKeypad;
    } else {
        pad = k == 6 ? kTextKeypad : k == 13 ? 0 : kKeypad;
    }
    // A keypad takes a level of the page stack: with all 8 taken it is refused
    // and the line stays as it was.
    if (pad && m->depth >= kStackDepth) {
        beep(50);
        return 0;
    }
    m->editing = 1;
    m->edit_dirty = 1;
    m->k.span = 1;
    m->k.label = nullptr;
    m->k.font = def[kLineFont];
    FLD &f = m->k.fld;
    load_field(m, f, d, m->text[i]);
    f.cursor = 0;
    switch (k) {
    case 4:
    case 5:
        FLD_FloatUpdate(&f, m->value[i], 1);
        break;
    case 6:
        f.digits = uint8_t(std::min<int>(d[2], kTextBytes - 3) + 1);
        LoadLitBuf(m->link[i], f, m->text[i], d[2], false);
        f.length = uint8_t(std::strlen(reinterpret_cast<char *>(m->text[i])));
        FLD_LitUpdate(&f, 1);
        break;
    case 7:
        FLD_EnumUpdate(&f, m->value[i], 1);
        break;
    case 9:
        time_words(m->link[i], d, g.timeBuf);
        FLD_TimeUpdate(&f, g.timeBuf, 1);
        m->k.span = uint8_t(FLD_TimeSpan(f, 2));
        break;
    case 10:
        FLD_IPUpdate(&f, m->value[i], 1);
        if (pad) m->k.span = 3;
        break;
    case 13:
        FLD_BarUpdate(&f, int32_t(m->value[i]), 1);
        break;
    case 15:
        FLD_LrealUpdate(&f, m->lreal[i], 1);
        break;
    default:
        FLD_NumUpdate(&f, m->value[i], 1);
        break;
    }
    m->line_dirty[i] = 1;
    if (!pad) return objmsg::kRepaint;
    OBJM_MorfObj(pad, nullptr);
    push(m);
    return objmsg::kMorph | objmsg::kRepaint;
}

int edit_line(const MenuInst *m) {
    return LineAt(m, m->hi);
}

// A key while a value is edited.
uint16_t edit_key(const uint8_t *def, MenuInst *m, int key) {
    const int i = edit_line(m);
    if (i < 0) {
        m->editing = 0;
        return 0;
    }
    const LineView l = Line(m, i);
    const uint8_t *d = l.field;
    if (!d) {
        m->editing = 0;
        return 0;
    }
    FLD &f = m->k.fld;
    const int k = kind_of(d);
    int r;
    switch (k) {
    case 4:
    case 5:
        r = FLD_FloatEdit(&f, &m->value[i], uint8_t(key));
        break;
    case 6:
        r = FLD_LitEdit(&f, uint8_t(key));
        break;
    case 7:
        r = FLD_EnumEdit(&f, &m->value[i], uint8_t(key));
        break;
    case 9:
        r = FLD_TimeEdit(&f, g.timeBuf, uint8_t(key));
        m->k.span = uint8_t(FLD_TimeSpan(f, 2));
        break;
    case 10:
        r = FLD_IPEdit(&f, &m->value[i], uint8_t(key));
        m->k.span = 3;
        break;
    case 13: {
        int32_t v = int32_t(m->value[i]);
        r = FLD_BarEdit(&f, &v, uint8_t(key));
        m->value[i] = uint32_t(v);
        uint8_t b[4];
        put_le32(b, m->value[i]);
        write_reg(m->link[i], b, 4);
        break;
    }
    case 15:
        r = FLD_LrealEdit(&f, &m->lreal[i], uint8_t(key));
        break;
    default:
        r = FLD_NumEdit(&f, &m->value[i], uint8_t(key));
        break;
    }
    switch (r) {
    case fld::kStored: {
        m->editing = 0;
        if (k == 15) {
            uint8_t b[8];
            uint64_t bits;
            std::memcpy(&bits, &m->lreal[i], 8);
            put_le32(b, uint32_t(bits));
            put_le32(b + 4, uint32_t(bits >> 32));
            write_reg(m->link[i], b, 8);
        } else if (k == 6) {
            write_reg(m->link[i], m->text[i], std::min<uint32_t>(d[2], 128));
        } else if (k == 9) {
            write_time(m->link[i], d, g.timeBuf);
        } else {
            uint8_t b[4];
            put_le32(b, m->value[i]);
            write_reg(m->link[i], b, 4);
        }
        format_line(m, i, d);
        m->list_dirty = 1;
        m->line_dirty[i] = 1;
        return objmsg::kRefuse | objmsg::kRepaint;
    }
    case fld::kCancelled:
        m->editing = 0;
        if (k == 6 || k == 9)
            format_line(m, i, d);
        else
            reformat_stored(m, i, d);
        if (k == 13) {
            uint8_t b[4];
            put_le32(b, m->value[i]);
            write_reg(m->link[i], b, 4);
        }
        m->edit_dirty = 1;
        m->list_dirty = 1;
        m->line_dirty[i] = 1;
        return objmsg::kRefuse | objmsg::kRepaint;
    case fld::kChanged:
        g.hold_flash = 1;
        m->line_dirty[i] = 1;
        return objmsg::kRepaint;
    case fld::kNotTaken:
        beep(50);
        m->editing = 0;
        m->line_dirty[i] = 1;
        m->edit_dirty = 1;
        return handle_key(def, m, key);
    default:
        return 0;
    }
}

int first_selectable_row(const MenuInst *m, int from, int step) {
    for (int r = from; r >= 0 && r < m->rows; r += step) {
        const int i = LineAt(m, r);
        if (i < 0) continue;
        if (Selectable(Line(m, i))) return r;
    }
    return -1;
}

uint16_t key_enter(const uint8_t *def, MenuInst *m) {
    if (!m->system && !m->enabled) return 0;
    if (m->hi < 0) return 0;
    const int i = LineAt(m, m->hi);
    if (i < 0) return 0;
    const LineView l = Line(m, i);
    if ((l.flags & kEditable) && l.field) return open_editor(def, m, i, l);
    if (l.flags & kLink) {
        if (m->depth >= kStackDepth) return 0;
        push(m);
        m->page = l.target;
        m->hi = -1;
        CreateMenuTemplate(m);
        write_page_reg(def, m);
        return objmsg::kRepaint;
    }
    if (l.flags & kScreen) {
        int screen = l.target;
        if (l.target > 1024) screen = read16(m->link[i]);
        if (g.hooks.page_mode && g.hooks.page_mode() == 1)
            OBJM_SwitchUserScreen(screen, (l.flags & kPush) ? 1 : 0);
        return 0;
    }
    return 0;
}

uint16_t key_esc(const uint8_t *def, MenuInst *m) {
    if (m->depth > 0) {
        --m->depth;
        m->page = m->st_page[m->depth];
        m->hi = -1;
        CreateMenuTemplate(m);
        m->hi = int8_t(m->st_hi[m->depth]);
        m->top = m->st_top[m->depth];
        if (m->top > 0 && m->top + m->rows > Count(m))
            m->top = uint8_t(std::max(0, Count(m) - m->rows));
        write_page_reg(def, m);
        return objmsg::kRepaint;
    }
    if (m->system) {
        if (g.hooks.write_sys) g.hooks.write_sys(3, 0);
        return objmsg::kRepaint;
    }
    m->esc_pending = 1;
    if (le32(def + 2) & kFocusOnOpen) return objmsg::kBack | objmsg::kRepaint;
    m->hi_shown = 0;
    m->list_dirty = 1;
    return objmsg::kRepaint;
}

uint16_t key_up(MenuInst *m) {
    int r = m->hi < 0 ? 0 : m->hi;
    for (int row = r - 1; row >= 0; --row) {
        const int i = LineAt(m, row);
        if (i >= 0 && Selectable(Line(m, i))) {
            m->hi = int16_t(row);
            return objmsg::kRepaint;
        }
    }
    if (m->top > 0) {
        --m->top;
        m->list_dirty = 1;
        const int i = LineAt(m, 0);
        if (i >= 0 && Selectable(Line(m, i)))
            m->hi = 0;
        else if (m->hi >= 0)
            m->hi = int16_t(m->hi + 1 < m->rows ? m->hi + 1 : -1);
        return objmsg::kRepaint;
    }
    if (m->hi < 0) m->hi = int16_t(first_selectable_row(m, 0, 1));
    return m->hi != m->hi_drawn ? objmsg::kRepaint : 0;
}

uint16_t key_down(MenuInst *m) {
    const int shown = std::min<int>(m->rows, Count(m) - m->top);
    int r = m->hi < 0 ? shown - 1 : m->hi;
    if (m->hi < 0) {
        const int s = first_selectable_row(m, r, -1);
        if (s >= 0) {
            m->hi = int16_t(s);
            return objmsg::kRepaint;
        }
    }
    for (int row = r + 1; row < shown; ++row) {
        const int i = LineAt(m, row);
        if (i >= 0 && Selectable(Line(m, i))) {
            m->hi = int16_t(row);
            return objmsg::kRepaint;
        }
    }
    if (m->top + m->rows >= Count(m)) return 0;
    ++m->top;
    m->list_dirty = 1;
    const int i = LineAt(m, m->hi < 0 ? m->rows - 1 : m->hi);
    if (!(i >= 0 && Selectable(Line(m, i))) && m->hi >= 0) m->hi = int16_t(m->hi - 1);
    return objmsg::kRepaint;
}

uint16_t handle_key(const uint8_t *def, MenuInst *m, int key) {
    if (m->editing) return edit_key(def, m, key);
    if (PressKeyON) {
        beep(3);
        PressKeyON = 0;
    }
    switch (key) {
    case 13:
        return key_enter(def, m);
    case 27:
        return key_esc(def, m);
    case 28:
        if (m->top != 0) m->list_dirty = 1;
        m->top = 0;
        m->hi = int16_t(first_selectable_row(m, 0, 1));
        return objmsg::kRepaint;
    case 29: {
        int from;
        if (Count(m) > m->rows) {
            const int top = Count(m) - m->rows;
            if (m->top != top) m->list_dirty = 1;
            m->top = uint8_t(top);
            from = m->rows - 1;
        } else {
            if (m->hidden_page) {
                m->top = 0;
                m->list_dirty = 1;
            }
            from = Count(m) - 1 - m->top;
        }
        m->hi = int16_t(first_selectable_row(m, from, -1));
        return objmsg::kRepaint;
    }
    case 30:
        return key_up(m);
    case 31:
        return key_down(m);
    default:
        return 0;
    }
}

// The soft key under the point, or -1.
int key_at(const uint8_t *def, const MenuInst *m, int x, int y) {
    for (int k = 0; k < kSoftKeys; ++k) {
        const RECT r = SoftKey(def, m, k);
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return k;
    }
    return -1;
}

uint16_t touch_down(const uint8_t *def, MenuInst *m, uint32_t arg) {
    const int x = int(arg >> 16), y = int(arg & 0xFFFF);
    const int k = key_at(def, m, x, y);
    if (k >= 0) {
        beep(3);
        m->key_held = 1;
        m->hold_tick = Tick();
        m->repeat = 100;
        m->held_key = uint16_t(k);
        return uint16_t(handle_key(def, m, kKeyCode[k]) | objmsg::kRepaint);
    }
    if (x < m->list.left || x >= m->list.right) return 0;
    const int shown = std::min<int>(m->rows, Count(m) - m->top);
    for (int r = 0; r < m->rows; ++r) {
        const int y0 = m->row_y + r * m->line_h;
        if (y < y0 || y >= y0 + m->line_h) continue;
        if (r >= shown) return 0;
        const int i = LineAt(m, r);
        if (i < 0 || !Selectable(Line(m, i))) return 0;
        beep(3);
        m->hi = int16_t(r);
        return objmsg::kRepaint;
    }
    return 0;
}

uint16_t touch_up(const uint8_t *def, MenuInst *m, uint32_t arg) {
    int code = int(arg);
    if (!m->system) {
        const int k = key_at(def, m, int(arg >> 16), int(arg & 0xFFFF));
        if (k >= 0) code = kKeyCode[k];
    }
    if (!m->key_held) return 0;
    m->key_held = 0;
    if (!m->system && code == 27 && m->esc_pending) {
        m->esc_pending = 0;
        return (le32(def + 2) & kFocusOnOpen) ? objmsg::kBack | objmsg::kRepaint
                                              : objmsg::kRefuse | objmsg::kRepaint;
    }
    return objmsg::kRepaint;
}

uint16_t refresh_values(MenuInst *m, bool fresh) {
    uint16_t r = 0;
    if (fresh) {
        m->refreshed = Tick();
        r = objmsg::kRepaint;
    } else if (uint16_t(Tick() - m->refreshed) <= 14) {
        return 0;
    }
    m->refreshed = Tick();
    const int edited = m->editing ? edit_line(m) : -1;
    for (int i = 0; i < m->lines; ++i) {
        if (hidden(m, i)) continue;
        const LineView l = Line(m, i);
        const uint8_t *d = l.field;
        if (!d) continue;
        const int k = kind_of(d);
        if (i == edited) {
            if (k == 13 && Flash() != (g.last_flash != 0)) {
                g.last_flash = Flash();
                FLD &f = m->k.fld;
                if (g.last_flash && !g.hold_flash) {
                    // Blanks over the field's width while the blink is off.
                    const int n = std::min<int>(f.digits, kTextBytes - 1);
                    std::memset(m->text[i], ' ', size_t(n));
                    m->text[i][n] = 0;
                } else {
                    FLD_BarUpdate(&f, int32_t(m->value[i]), 1);
                }
                g.hold_flash = 0;
                m->line_dirty[i] = 1;
                r |= objmsg::kRepaint;
            }
            continue;
        }
        if (k == 9) {
            format_line(m, i, d);
            r |= objmsg::kRepaint;
        } else if (k == 6) {
            FLD &f = m->fmt;
            load_field(m, f, d, m->text[i]);
            if (LoadLitBuf(m->link[i], f, m->text[i], d[2], true)) {
                f.length = uint8_t(std::strlen(reinterpret_cast<char *>(m->text[i])));
                FLD_LitUpdate(&f, 0);
                m->line_dirty[i] = 1;
                r |= objmsg::kRepaint;
            }
        } else if (k == 15) {
            uint8_t b[8];
            read_reg(m->link[i], b, 8);
            const double v = as_double(b);
            if (std::memcmp(&v, &m->lreal[i], 8) != 0) {
                format_line(m, i, d);
                m->list_dirty = 1;
                r |= objmsg::kRepaint;
            }
        } else {
            const uint32_t v = read32(m->link[i]);
            if (v != m->value[i]) {
                format_line(m, i, d);
                // The status page's scan rate changes all the time: only
                // its own value is drawn again.
                const bool scan_rate = m->system && m->page == 5 && i == 2;
                if (!scan_rate) m->list_dirty = 1;
                r |= objmsg::kRepaint;
            }
        }
    }
    return r;
}

// A record flag (0x1, 0x2, 0x8) as the state register overrides it.
bool StateFlag(const uint8_t *def, const MenuInst *m, uint32_t bit) {
    if (m->state_rcb && (le16(def + 6) & bit)) return (m->state_bits & bit) != 0;
    return (le32(def + 2) & bit) != 0;
}

uint16_t update(const uint8_t *def, MenuInst *m, uint32_t arg) {
    uint16_t r = 0;
    // 1. The state register.
    if (m->state_rcb) {
        const uint16_t mask = le16(def + 6);
        const uint16_t s = uint16_t(read16(m->state_rcb) & mask);
        m->state_bits = s;
        if (StateColours(def, m)) {
            COLOR c = le16(def + kTextColour);
            for (int b = 0; b < 4; ++b)
                if (s & (0x10 << b)) {
                    c = le16(def + kStateColours + 2 * b);
                    break;
                }
            if (c != m->colour) {
                m->colour = c;
                m->title_dirty = m->list_dirty = 1;
                r |= objmsg::kRepaint;
            }
        }
        if (mask & 1) {
            const bool shown = (m->k.hdr.state & kInstHidden) == 0;
            if ((s & 1) && !shown) {
                m->k.hdr.state = uint16_t((m->k.hdr.state & ~kInstHidden) | kInstShown);
                r |= objmsg::kShow | objmsg::kRepaint;
            } else if (!(s & 1) && shown) {
                m->k.hdr.state = uint16_t((m->k.hdr.state & ~kInstShown) | kInstHidden);
                r |= objmsg::kHide | objmsg::kRepaint;
            }
        }
        if (mask & kEnabledFlag) m->enabled = (s & kEnabledFlag) ? 1 : 0;
    }
    // 2. The flashing title.
    const bool flash_title = StateFlag(def, m, kFlashTitle);
    if (flash_title) {
        if (Flash() != (m->flash_phase != 0)) {
            m->flash_phase = Flash();
            m->title_dirty = 1;
            r |= objmsg::kRepaint;
        }
    } else if (m->flash_phase) {
        m->flash_phase = 0;
        m->title_dirty = 1;
        r |= objmsg::kRepaint;
    }
    // 3. Lines hidden by the visibility register.
    if (!m->system && m->hidden_page) {
        const uint32_t before = m->visible;
        update_visible_attr(m);
        const uint32_t now = m->visible;
        m->visible = before;
        if (now != g.visible_attr_old) {
            g.visible_attr_old = now;
            const uint8_t top = m->top;
            m->visible = now;
            CreateMenuTemplate(m);
            if (now != m->stacked_visible[m->depth]) {
                m->hi = 0;
                m->top = 0;
            } else {
                m->top = top;
            }
            m->stacked_visible[m->depth] = now;
            return uint16_t(r | objmsg::kRepaint);
        }
        m->visible = now;
    }
    // 4. The page register.
    if (!m->system && m->page_rcb) {
        const uint16_t v = read16(m->page_rcb);
        if (v != m->page - m->first && v < def[kPageCount]) {
            m->depth = 0;
            m->page = m->first + v;
            m->hi = -1;
            CreateMenuTemplate(m);
            return uint16_t(r | objmsg::kRepaint);
        }
    }
    // 5. A built-in screen: the object takes its class.
    if (const uint8_t *p = Page(m); p && le16(p) == 1) {
        OBJM_MorfObj(le16(p + 2), nullptr);
        beep(3);
        return objmsg::kMorph | objmsg::kRepaint;
    }
    // 6. A held soft key repeats.
    if (m->key_held && uint16_t(Tick() - m->hold_tick) >= m->repeat) {
        m->hold_tick = Tick();
        m->repeat = 10;
        const int code = kKeyCode[m->held_key % kSoftKeys];
        if (code >= 28 && code <= 31) return handle_key(def, m, code);
    }
    // 7. The lamps.
    if (m->system) {
        auto lit = [](int v) { return v == 1 || (v == 2 && Flash()); };
        const bool run = g.hooks.run_led && lit(g.hooks.run_led());
        const bool ok = g.hooks.ok_led && lit(g.hooks.ok_led());
        const uint16_t lamps = uint16_t((run ? 0x0800 : 0) | (ok ? 0x0400 : 0));
        if ((m->lamps & 0x0C00) != lamps) {
            m->lamps = uint16_t((m->lamps & ~0x0C00) | lamps | 0x0200);
            r |= objmsg::kRepaint;
        }
    }
    // 8. The values.
    r |= refresh_values(m, arg != 0);
    return r;
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    MenuInst *m = of(inst);
    std::memset(reinterpret_cast<uint8_t *>(m) + sizeof(ObjInst), 0,
                sizeof(MenuInst) - sizeof(ObjInst));
    if (!ObjDef_Holds(def, 0, kRecord)) {
        inst->state = 0;
        return int16_t(sizeof(MenuInst));
    }
    const uint32_t flags = le32(def + 2);
    m->extended = le16(def + kLength) >= 39 && ObjDef_Holds(def, 0, kExtended) ? 1 : 0;
    g.New_Menu = m->extended;
    m->system = def[kSystemFlag] != 0;
    const RECT d{int16_t(le16(def + 10)), int16_t(le16(def + 12)), int16_t(le16(def + 14)),
                 int16_t(le16(def + 16))};
    m->content = d;
    inst->area = RECT{d.left, d.top, int16_t(d.right - 1), int16_t(d.bottom - 1)};
    DC *dc = inst->dc;
    int fh = 8;
    if (dc) {
        int font = m->system ? def[kFont] : def[kLineFont];
        if (!GDI_SelectFont(dc, font, nullptr, &fh)) GDI_SelectFont(dc, 32, nullptr, &fh);
    }
    m->line_h = uint16_t(std::max(fh, 1));
    if (m->system) {
        m->list = RECT{int16_t(d.left + 2), int16_t(d.top + 2), int16_t(d.left + 2 + 410),
                       int16_t(d.bottom - 2)};
        m->ok = RECT{int16_t(m->list.left + 415), m->list.top, int16_t(m->list.left + 469),
                     int16_t(m->list.top + 16)};
        m->run = RECT{int16_t(m->list.left + 415), int16_t(m->list.top + 16),
                      int16_t(m->list.left + 469), int16_t(m->list.top + 32)};
    } else {
        m->list = RECT{d.left, d.top, int16_t(d.right - 49), d.bottom};
        if (flags & kTitleLine) {
            int th = 8;
            if (dc && !GDI_SelectFont(dc, def[kFont], nullptr, &th))
                GDI_SelectFont(dc, 32, nullptr, &th);
            m->title = RECT{int16_t(d.left + 3), int16_t(d.top + 3), int16_t(d.right - 49),
                            int16_t(d.top + 3 + th)};
            m->list.top = int16_t(m->title.bottom + 2);
        }
    }
    const int lh = m->list.bottom - m->list.top;
    int rows = std::max(lh, 0) / m->line_h;
    const int rest = std::max(lh, 0) % m->line_h;
    m->line_x = m->list.left;
    m->row_y = int16_t(m->list.top + rest / 2);
    if (rest > 2) {
        if (flags & kFrame) {
            ++m->line_x;
            ++m->row_y;
        }
    } else if (flags & kFrame) {
        rows = std::max(rows - 1, 0);
        ++m->line_x;
        ++m->row_y;
    }
    m->rows = uint8_t(std::min(rows, 255));
    for (auto &l : m->link)
        l = link_reg(1, 16);
    m->hi = -1;
    m->hi_drawn = -1;
    m->colour = le16(def + kTextColour);
    m->depth = 0;
    if (m->system) {
        const bool built_in = def >= sysMenuPage && Page_BuiltInEnd(sysMenuPage) &&
                              def < Page_BuiltInEnd(sysMenuPage);
        m->first = built_in && g.sys_first ? uint32_t(g.sys_first) : le16(def + kFirstPage);
        m->page = m->first;
        inst->state = kInstShown;
        g.pThisData = m;
        m->lamps = 0x0300;
        m->hi_shown = 1;
    } else {
        m->first = le16(def + kFirstPage);
        m->page = m->first;
        inst->state = (flags & kShownFlag) ? kInstShown : 0;
        m->enabled = (flags & kEnabledFlag) ? 1 : 0;
        if (flags & kFocusOnOpen) {
            m->list_dirty = 1;
            m->hi_shown = 1;
        }
        if (def[kPageRegKind]) m->page_rcb = link_reg(le16(def + kPageReg), def[kPageRegKind]);
        if (le16(def + 8)) {
            m->state_rcb = link_reg(le16(def + 8), 16);
            if (le16(def + 6) & 1) inst->state = kInstHidden;
        }
    }
    CreateMenuTemplate(m);
    if (m->hidden_page) {
        g.visible_attr_old = m->visible;
        m->stacked_visible[0] = m->visible;
    }
    return int16_t(sizeof(MenuInst));
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    MenuInst *m = of(inst);
    if (!ObjDef_Holds(def, 0, kRecord)) return 0;
    switch (msg) {
    case objmsg::kUpdate:
        return update(def, m, arg);
    case objmsg::kFocus:
        if (!m->system) {
            if (!UserGotAccess((le16(def) >> 12) & 7)) {
                beep(125);
                return objmsg::kDenied | objmsg::kRefuse;
            }
            USRMGR_resetTimeout();
            const int k = key_at(def, m, int(arg >> 16), int(arg & 0xFFFF));
            if (arg && k >= 0 && kKeyCode[k] == 27) return objmsg::kRefuse;
            m->list_dirty = 1;
            m->hi_shown = 1;
            return objmsg::kRepaint;
        }
        [[fallthrough]];
    case objmsg::kClose:
        m->key_held = 0;
        return uint16_t(objmsg::kWantFocus | handle_key(def, m, 27));
    case objmsg::kKey:
        return handle_key(def, m, int(arg & 0xFF));
    case objmsg::kTouchDown:
        if (!m->system && !UserGotAccess((le16(def) >> 12) & 7)) {
            beep(125);
            return objmsg::kDenied | objmsg::kRefuse;
        }
        return touch_down(def, m, arg);
    case objmsg::kTouchUp:
        return touch_up(def, m, arg);
    default:
        return 0;
    }
}

void destroy(const uint8_t *, ObjInst *inst) {
    // The instance's pool is reused: the system menu's page is read no more.
    if (g.pThisData == of(inst)) g.pThisData = nullptr;
}

} // namespace

namespace menu {

const uint8_t kKeyCode[kSoftKeys] = {30, 31, 27, 13};

uint16_t Tick() {
    return g.hooks.tick ? *g.hooks.tick : 0;
}
bool Flash() {
    return g.hooks.flash && *g.hooks.flash;
}
bool GrayScale() {
    return g.hooks.gray_scale && *g.hooks.gray_scale;
}

const uint8_t *Page(const MenuInst *m) {
    if (m->system) {
        const int pages = g.hooks.pages ? *g.hooks.pages : 0;
        if (!g.hooks.page_table || m->page >= uint32_t(std::min(pages, kSystemPages)))
            return nullptr;
        return g.hooks.page_table[m->page];
    }
    const uint8_t *table = g.hooks.menus ? *g.hooks.menus : nullptr;
    if (!table) return nullptr;
    const uint64_t at = program_offset(table) + 4ull * m->page;
    const uint8_t *entry = program_at(at, 4);
    if (!entry) return nullptr;
    const uint32_t off = le32(entry);
    const uint8_t *p = program_at(off, 4);
    if (!p) return nullptr;
    if (le16(p) == 1) return p;
    // Every line the menu builds lies inside the program.
    const int lines = std::min<int>(le16(p + 2), kMaxLines);
    return program_at(off, 4 + 12ull * uint64_t(lines)) ? p : nullptr;
}

LineView Line(const MenuInst *m, int i) {
    LineView v;
    const uint8_t *p = Page(m);
    if (!p || i < 0 || i >= m->lines) return v;
    const uint8_t *l = p + 4 + 12 * i;
    v.flags = le16(l);
    v.target = le16(l + 2);
    const uint32_t caption = le32(l + 4), field = le32(l + 8);
    if (m->system) {
        v.caption = Menu_SysCaption(caption);
        v.field = Menu_SysField(field);
    } else {
        v.caption = program_text(caption);
        v.field = field ? program_at(field, kFieldBytes) : nullptr;
    }
    return v;
}

int Count(const MenuInst *m) {
    return m->hidden_page ? m->vis_count : m->lines;
}

int LineAt(const MenuInst *m, int r) {
    if (r < 0) return -1;
    const int n = m->top + r;
    if (n >= Count(m)) return -1;
    return m->hidden_page ? m->vis[n] : n;
}

bool Selectable(const LineView &l) {
    return (l.flags & (kEditable | kLink | kScreen)) != 0;
}

bool StateColours(const uint8_t *def, const MenuInst *m) {
    return !m->system && le16(def + 8) != 0 && (le16(def + 6) & 0xF0) != 0 &&
           ObjDef_Holds(def, kStateColours, 8);
}

const void *StringText(uint32_t offset) {
    return OBJM_Text(offset);
}

} // namespace menu

const ObjClass MENU_Class{kRecord, create, Paint, signal, destroy, sizeof(MenuInst), nullptr};

void MENU_SetHooks(const MenuHooks &hooks) {
    g.hooks = hooks;
}

// While no menu is up (the error page of an invalid page number shows),
// the page asked for stays the shown one: %SR3 keeps it, so writing a valid
// page number then opens that page.
int MENU_GetPage() {
    if (g.pThisData) return int(g.pThisData->page);
    return g.requested ? g.requested : 1;
}

// Called before the system page opens: the menu up so far goes.
int MENU_SetPage(int n) {
    g.requested = n;
    g.pThisData = nullptr;
    const int pages = g.hooks.pages ? std::min(*g.hooks.pages, kSystemPages) : 0;
    if (n < 1 || n >= pages || !g.hooks.page_table || !g.hooks.page_table[n]) return 0;
    g.sys_first = n;
    return 1;
}

void Menu_Reset() {
    const MenuHooks hooks = g.hooks;
    g = State{};
    g.hooks = hooks;
    Menu_PagesReset();
}
