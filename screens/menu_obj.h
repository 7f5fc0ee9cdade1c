// The menu object's instance and the helpers its behaviour and its drawing
// share. Private to the screen manager.
#pragma once
#include "gdi/field.h"
#include "objects/objects.h"
#include "screens/menu_int.h"
#include "screens/screens.h"

#include <cstdint>

namespace menu {

constexpr int kTextBytes = 258; // one line's text (129 16-bit characters)
constexpr int kSoftKeys = 4;

// A line of the current page as the menu uses it: flags, target, caption
// (byte text, or 16-bit text on application menus with 16-bit texts; null:
// blank) and field descriptor (null: no value).
struct LineView {
    uint16_t flags = 0, target = 0;
    const void *caption = nullptr;
    const uint8_t *field = nullptr;
};

// The covered object's part the entry keypads read comes first.
struct MenuInst {
    KeypadHost k; // the edit field control block and what the keypads show
    RECT content, title, list, ok, run;
    uint16_t line_h;
    RCB *state_rcb, *page_rcb;
    uint16_t state_bits; // the state register as last read, masked
    uint16_t hold_tick, repeat, held_key;
    uint8_t key_held, key_drawn;
    uint16_t refreshed;
    uint8_t top, rows;
    int16_t line_x, row_y;
    int16_t hi, hi_drawn;
    uint8_t editing, list_dirty, hi_shown, edit_dirty, title_dirty, esc_pending;
    uint16_t align;
    uint16_t lamps;
    uint8_t system, extended;
    uint32_t page, first;
    FLD fmt;
    uint32_t visible, stacked_visible[kStackDepth];
    int16_t vis[kMaxLines];
    uint16_t vis_count;
    uint16_t lines; // lines built (at most kMaxLines)
    uint8_t hidden_page;
    uint8_t flash_phase, enabled;
    int16_t value_right;
    uint32_t value[kMaxLines];
    double lreal[kMaxLines];
    RCB *link[kMaxLines];
    uint16_t drawn_w[kMaxLines];
    COLOR colour;
    uint8_t text[kMaxLines][kTextBytes];
    uint8_t line_dirty[kMaxLines];
    uint8_t depth, st_page[kStackDepth], st_hi[kStackDepth], st_top[kStackDepth];
};

// Definition record offsets.
constexpr size_t kFill = 18, kTextColour = 20, kTitle = 22, kTitleAlign = 26, kFont = 27,
                 kPageCount = 28, kLineFont = 29, kLength = 30, kPageReg = 32, kPageRegKind = 34,
                 kSystemFlag = 35, kFirstPage = 36, kStateColours = 38, kTitleText = 38,
                 kTitleFill = 40, kKeyFill = 42, kStateTitleText = 46, kStateTitleFill = 48,
                 kStateKeyGradient = 50;
constexpr size_t kRecord = 44, kExtended = 52;
// Definition flags.
constexpr uint32_t kShownFlag = 0x1, kFlashTitle = 0x2, kFrame = 0x4, kEnabledFlag = 0x8,
                   kIcons = 0x10, kFocusOnOpen = 0x400, kTitleLine = 0x800;

// The current page record (null: none), its line `i`, its line count.
const uint8_t *Page(const MenuInst *m);
LineView Line(const MenuInst *m, int i);
// The line shown in row `r` of the window (through the visible-line list
// on pages with hidden lines); -1 for none.
int LineAt(const MenuInst *m, int r);
// Lines of the page the window scrolls over.
int Count(const MenuInst *m);
bool Selectable(const LineView &l);
// Whether state colours are in use.
bool StateColours(const uint8_t *def, const MenuInst *m);
// A counted text of the string table (title, units), null when not inside it.
const void *StringText(uint32_t offset);
uint16_t Tick();
bool Flash();
bool GrayScale();

// Drawing (menu_draw.cpp).
void Paint(const uint8_t *def, ObjInst *inst, int full);
RECT SoftKey(const uint8_t *def, const MenuInst *m, int k);
extern const uint8_t kKeyCode[kSoftKeys];

} // namespace menu
