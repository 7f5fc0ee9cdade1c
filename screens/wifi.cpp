// Wi-Fi settings screen: shows the Wi-Fi adapter's state and lets the
// operator choose its mode, set up the access point, scan for networks and
// join one as a client. It talks to the network code only through the Wi-Fi
// menu record: it writes a setting there and marks it in the change word, and
// the Wi-Fi manager applies it and keeps the status fields current.
#include "base/le.h"
#include "gdi/field.h"
#include "gdi/gdi.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "net/net.h"
#include "platform/tick.h"
#include "screens/objm_int.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kRows = 18;
constexpr COLOR kBack = 0x003F, kCell = 0xFFDF, kSelected = 0xFFEC, kBlack = 0;
constexpr int kTextKeypad = 28, kNumKeypad = 13;
constexpr uint8_t kKeyUp = 30, kKeyDown = 31, kKeyEsc = 27, kKeyEnter = 13;
constexpr uint32_t kRepeatStart = 10000, kRepeatEvery = 1000; // 100-us ticks: 1 s, 100 ms
constexpr uint32_t kScanRepaint = 30000;                      // 3 s
constexpr int kScanShown = 17;

// Row flags.
constexpr uint8_t kSelectable = 0x01, kChosen = 0x02, kDirty = 0x08;

// clang-format off
const char *const kLabel[kRows] = {
    "Wi-Fi HW?", "Wi-Fi Mode", "MAC ID", "", "::Access Point::", "Network Name", "Password",
    "Encryption", "Network IP", "Channel", "", "::Client::", "Join Network", "Password",
    "Connect Auto", "Status", "Client IP", "Signal Health",
};
const char *const kInitial[kRows] = {
    "No", "Disable", "00:00:00:00:00:00", "", "", "Enter SSID", "Enter Password", "WPA2",
    "0.0.0.0", "Auto", "", "", "Scan", "Enter Password", "No", "None", "0.0.0.0", "0%",
};
// clang-format on
constexpr bool selectable(int row) {
    return row == 1 || (row >= 5 && row <= 9) || (row >= 12 && row <= 14);
}

struct Key {
    RECT r;
    uint8_t code;
};
const Key kKeys[4] = {
    {{415, 35, 470, 88}, kKeyUp},
    {{415, 92, 470, 145}, kKeyDown},
    {{415, 149, 470, 202}, kKeyEsc},
    {{415, 206, 470, 259}, kKeyEnter},
};

struct Row {
    char value[64];
    FLD fld; // the row's choice or address field (display only)
    int16_t y;
    uint8_t flags;
};

// What is being edited, and how.
enum Edit : uint8_t { kNoEdit, kEnumEdit, kTextEdit, kAddrEdit };

struct ThisData {
    RECT list;
    Row rows[kRows];
    int first, selected, per_page, h;
    Edit editing;
    int edit_row;
    uint8_t held;     // the key held down (0 none)
    uint32_t held_at; // when it was pressed or last repeated
    bool held_repeat; // the first repeat happened
    bool scan;        // the scan list is shown
    int scan_count;   // entries shown
    int scan_choice;  // the chosen entry
    uint16_t state;   // the instance state saved at Create
    uint32_t updStartDelay, updEndDelay;
    int anim; // busy animation step
    char edit_text[64];
    bool changed; // a row's text changed since the last update
};
ThisData thisData;

// The instance: the keypads read the field being edited at its start.
struct WifiInst {
    KeypadHost k;
};

WifiMenuCntInfo &info() {
    return wifiMenuCntInfo;
}
int mode() {
    return info().mode;
}
// Rows 5 to 9 act only for an access point, 12 to 14 only for a client.
bool applies(int row) {
    if (row >= 5 && row <= 9) return mode() == 1;
    if (row >= 12 && row <= 14) return mode() == 2;
    return true;
}

void set_text(Row &r, const char *text) {
    if (std::strncmp(r.value, text, sizeof r.value) == 0) return;
    std::snprintf(r.value, sizeof r.value, "%s", text);
    r.flags |= kDirty;
    thisData.changed = true;
}

void field_setup(FLD &f, char *text, const uint8_t *table) {
    f = FLD{};
    f.digits = 40;
    f.text = text;
    f.table = table;
    f.tapCount = 255;
}

const uint8_t *table_of(int row) {
    switch (row) {
    case 1:
        return wifiMode_enum;
    case 7:
        return apModeEncryption_enum;
    case 9:
        return apModeChannel_enum;
    case 14:
        return stAutoCon_enum;
    default:
        return nullptr;
    }
}
uint32_t choice_of(int row) {
    switch (row) {
    case 1:
        return info().mode;
    case 7:
        return info().set.security;
    case 9:
        return info().set.channel;
    case 14:
        return info().set.st_flag;
    default:
        return 0;
    }
}

void show_choice(int row) {
    Row &r = thisData.rows[row];
    char text[64] = {};
    FLD f = r.fld;
    f.text = text;
    FLD_EnumUpdate(&f, choice_of(row), 0);
    set_text(r, text);
}
void show_address(int row, uint32_t addr) {
    char text[32];
    getIpString(addr, text);
    set_text(thisData.rows[row], text);
}
void show_name(int row, const char *stored, size_t cap, const char *empty) {
    char text[64] = {};
    std::memcpy(text, stored, std::min(cap, sizeof text - 1));
    set_text(thisData.rows[row], text[0] ? text : empty);
}

// Refreshes every row from the record; rows being edited keep their text.
void refresh() {
    const WifiMenuCntInfo &w = info();
    auto skip = [](int row) { return thisData.editing != kNoEdit && thisData.edit_row == row; };
    set_text(thisData.rows[0], w.dongle ? "Yes" : "No");
    if (!skip(1)) show_choice(1);
    char mac[19] = {};
    std::memcpy(mac, w.mac, sizeof w.mac);
    set_text(thisData.rows[2], mac[0] ? mac : kInitial[2]);
    if (!skip(5)) show_name(5, w.set.ap_ssid, sizeof w.set.ap_ssid, kInitial[5]);
    if (!skip(6)) show_name(6, w.set.ap_pass, sizeof w.set.ap_pass, kInitial[6]);
    if (!skip(7)) show_choice(7);
    if (!skip(8)) show_address(8, w.set.ap_address);
    if (!skip(9)) show_choice(9);
    if (!skip(12)) show_name(12, w.set.st_ssid, sizeof w.set.st_ssid, kInitial[12]);
    if (!skip(13)) show_name(13, w.set.st_pass, sizeof w.set.st_pass, kInitial[13]);
    if (!skip(14)) show_choice(14);
    const uint8_t s = w.set.st_state;
    set_text(thisData.rows[15], s == 1   ? "Connected"
                                : s == 2 ? "Connecting"
                                : s == 3 ? "Not Connected"
                                         : "None");
    show_address(16, w.set.st_address);
    char level[8];
    std::snprintf(level, sizeof level, "%d", int(w.set.level));
    set_text(thisData.rows[17], level);
}

// Entries of the last scan: the record holds the count minus one (0xFFFF
// while there is none), and never more than its 16 entries.
int scan_entries() {
    const uint16_t c = info().scan_count;
    return c == 0xFFFF ? 0 : std::min<int>(c + 1, wifi::kScanEntries);
}

// Bars of a signal level in dBm: five from -29 to -1, four to -66, three to
// -79 (-67 with them), two from -80 down, one for 0 and above.
int bars_of(int level) {
    if (level >= 0) return 1;
    if (level >= -29) return 5;
    if (level >= -66) return 4;
    if (level >= -79) return 3;
    return 2;
}

// ------------------------------------------------------------------ layout

void layout() {
    ThisData &t = thisData;
    GDI_SetRect(&t.list, 7, 7, 417, 269);
    t.per_page = std::max((269 - 2 - 7) / std::max(t.h, 1), 1);
    for (int i = 0; i < kRows; ++i) {
        Row &r = t.rows[i];
        std::snprintf(r.value, sizeof r.value, "%s", kInitial[i]);
        field_setup(r.fld, r.value, table_of(i));
        r.flags = uint8_t((selectable(i) ? kSelectable : 0) | kDirty);
    }
}

void place_rows() {
    ThisData &t = thisData;
    for (int i = 0; i < kRows; ++i)
        t.rows[i].y = int16_t(t.list.top + 2 + (i - t.first) * t.h);
}

bool visible(int row) {
    return row >= thisData.first && row < thisData.first + thisData.per_page;
}

void select(int row) {
    ThisData &t = thisData;
    t.rows[t.selected].flags = uint8_t((t.rows[t.selected].flags & ~kChosen) | kDirty);
    t.selected = row;
    t.rows[row].flags |= kChosen | kDirty;
    if (row < t.first) t.first = row;
    if (row >= t.first + t.per_page) t.first = row - t.per_page + 1;
    place_rows();
}

void step_selection(int dir) {
    for (int r = thisData.selected + dir; r >= 0 && r < kRows; r += dir) {
        if (thisData.rows[r].flags & kSelectable) {
            select(r);
            return;
        }
    }
}

// ------------------------------------------------------------------- paint

void draw_key(DC *dc, const Key &k, bool pressed) {
    GDI_SetPen(dc, 1, 1, kBlack);
    GDI_SetFillColor(dc, pressed ? kSelected : kCell);
    GDI_RoundRect(dc, k.r.left, k.r.top, k.r.right, k.r.bottom, 10, 10);
    const int cx = (k.r.left + k.r.right) / 2, cy = (k.r.top + k.r.bottom) / 2;
    GDI_SetFillColor(dc, kBlack);
    if (k.code == kKeyUp || k.code == kKeyDown) {
        const int d = k.code == kKeyUp ? -1 : 1;
        POINT p[3] = {{int16_t(cx - 12), int16_t(cy - 6 * d)},
                      {int16_t(cx + 12), int16_t(cy - 6 * d)},
                      {int16_t(cx), int16_t(cy + 8 * d)}};
        GDI_FillPolygon(dc, p, 3);
    } else if (k.code == kKeyEsc) {
        GDI_SetTextColor(dc, kBlack);
        GDI_SetFillColor(dc, 0xFFFF);
        GDI_SetTextAlign(dc, 2);
        GDI_ByteTextOut(dc, cx, cy - thisData.h / 2, "Esc");
    } else {
        // The Enter symbol: a hooked arrow.
        GDI_SetPen(dc, 1, 2, kBlack);
        GDI_MoveTo(dc, cx + 12, cy - 10);
        GDI_LineTo(dc, cx + 12, cy + 4);
        GDI_LineTo(dc, cx - 10, cy + 4);
        POINT p[3] = {{int16_t(cx - 16), int16_t(cy + 4)},
                      {int16_t(cx - 8), int16_t(cy - 2)},
                      {int16_t(cx - 8), int16_t(cy + 10)}};
        GDI_SetPen(dc, 1, 1, kBlack);
        GDI_FillPolygon(dc, p, 3);
    }
}

void draw_bars(DC *dc, int x, int bottom, int count, COLOR colour) {
    GDI_SetPen(dc, 0, 0, 0);
    GDI_SetFillColor(dc, colour);
    for (int i = 0; i < count; ++i)
        GDI_Rectangle(dc, x + 4 * i, bottom - 4 * (i + 1), x + 4 * i + 2, bottom);
}

void draw_row(DC *dc, int i, COLOR face) {
    ThisData &t = thisData;
    Row &r = t.rows[i];
    if (!visible(i)) return;
    const int left = t.list.left + 2, right = t.list.right - 2, mid = t.list.left + 170;
    const bool chosen = (r.flags & kChosen) != 0;
    GDI_SetPen(dc, 0, 0, 0);
    GDI_SetFillColor(dc, chosen ? kSelected : face);
    GDI_Rectangle(dc, left, r.y, right, r.y + t.h);
    GDI_SetFillColor(dc, 0xFFFF);
    GDI_SetTextColor(dc, kBlack);
    GDI_SetTextAlign(dc, 0);
    GDI_ByteTextOut(dc, left + 4, r.y, kLabel[i]);
    if (i == 3 || i == 4 || i == 10 || i == 11) return; // headings
    if (i == 17) {
        draw_bars(dc, mid + 4, r.y + t.h - 2,
                  info().set.level == 0 && info().set.st_state != 1 ? 0 : bars_of(info().set.level),
                  t.scan ? kBack : kBlack);
        return;
    }
    const bool editing = t.editing != kNoEdit && t.edit_row == i;
    const char *text = editing && t.editing == kEnumEdit ? t.edit_text : r.value;
    if (editing) {
        GDI_SetFillColor(dc, kBlack);
        GDI_Rectangle(dc, mid, r.y, right, r.y + t.h);
        GDI_SetFillColor(dc, 0xFFFF);
        GDI_SetTextColor(dc, kCell);
    }
    GDI_ByteTextOut(dc, mid + 4, r.y, text);
}

void draw_scan(DC *dc, COLOR face) {
    ThisData &t = thisData;
    const RECT &l = t.list;
    GDI_SetPen(dc, 0, 0, 0);
    GDI_SetFillColor(dc, face);
    GDI_Rectangle(dc, l.left + 2, l.top + 2, l.right - 2, l.bottom - 2);
    GDI_SetFillColor(dc, 0xFFFF);
    GDI_SetTextColor(dc, kBlack);
    if (t.scan_count == 0) {
        // The busy animation: a ring with a hand stepping through eight places.
        const int cx = (l.left + l.right) / 2, cy = (l.top + l.bottom) / 2 - 20;
        GDI_SetPen(dc, 1, 2, kBlack);
        GDI_SetFillColor(dc, 0xFFFF);
        GDI_Ellipse(dc, cx - 16, cy - 16, cx + 16, cy + 16);
        static constexpr int8_t kDx[8] = {0, 8, 11, 8, 0, -8, -11, -8};
        static constexpr int8_t kDy[8] = {-11, -8, 0, 8, 11, 8, 0, -8};
        GDI_MoveTo(dc, cx, cy);
        GDI_LineTo(dc, cx + kDx[t.anim & 7], cy + kDy[t.anim & 7]);
        GDI_SetTextAlign(dc, 2);
        GDI_ByteTextOut(dc, cx, cy + 24, "  Scanning..");
        return;
    }
    const int shown = std::min(t.scan_count, kScanShown);
    const int first = std::max(0, std::min(t.scan_choice - t.per_page + 1, shown - t.per_page));
    for (int i = first; i < shown && i - first < t.per_page; ++i) {
        const int y = l.top + 2 + (i - first) * t.h;
        if (i == t.scan_choice) {
            GDI_SetFillColor(dc, kSelected);
            GDI_Rectangle(dc, l.left + 2, y, l.right - 14, y + t.h);
        }
        char name[37] = {};
        std::memcpy(name, info().scan[i].name, sizeof info().scan[i].name);
        GDI_SetFillColor(dc, 0xFFFF);
        GDI_SetTextAlign(dc, 0);
        GDI_ByteTextOut(dc, l.left + 6, y, name);
        draw_bars(dc, l.right - 40, y + t.h - 2, bars_of(info().scan[i].level), kBlack);
    }
    if (t.scan_count >= kScanShown) {
        // The scroll bar with its arrows.
        GDI_SetPen(dc, 1, 1, kBlack);
        GDI_SetFillColor(dc, kCell);
        GDI_Rectangle(dc, l.right - 14, l.top + 2, l.right - 2, l.bottom - 2);
        GDI_SetFillColor(dc, kBlack);
        POINT up[3] = {{int16_t(l.right - 12), int16_t(l.top + 12)},
                       {int16_t(l.right - 4), int16_t(l.top + 12)},
                       {int16_t(l.right - 8), int16_t(l.top + 5)}};
        POINT dn[3] = {{int16_t(l.right - 12), int16_t(l.bottom - 12)},
                       {int16_t(l.right - 4), int16_t(l.bottom - 12)},
                       {int16_t(l.right - 8), int16_t(l.bottom - 5)}};
        GDI_FillPolygon(dc, up, 3);
        GDI_FillPolygon(dc, dn, 3);
    }
}

void WIFI_Paint(const uint8_t *def, ObjInst *inst, int mode) {
    DC *dc = inst->dc;
    if (!dc) return;
    ThisData &t = thisData;
    GDI_SelectFont(dc, 32, nullptr, nullptr);
    const COLOR face = def ? le16(def + 18) : kCell;
    if (mode == 1) {
        GDI_SetPen(dc, 0, 0, 0);
        GDI_SetFillColor(dc, kBack);
        GDI_Rectangle(dc, 0, 0, dc->bounds.right + 1, dc->bounds.bottom + 1);
        const bool outline = def && (le32(def + 2) & 0x0004);
        GDI_SetPen(dc, outline ? 1 : 0, 1, kBlack);
        GDI_SetFillColor(dc, face);
        GDI_Rectangle(dc, t.list.left, t.list.top, t.list.right, t.list.bottom);
    }
    for (const Key &k : kKeys)
        draw_key(dc, k, t.held == k.code);
    if (t.scan) {
        draw_scan(dc, face);
    } else {
        if (mode == 1) {
            GDI_SetPen(dc, 0, 0, 0);
            GDI_SetFillColor(dc, face);
            GDI_Rectangle(dc, t.list.left + 2, t.list.top + 2, t.list.right - 2, t.list.bottom - 2);
        }
        for (int i = 0; i < kRows; ++i) {
            if (mode == 1 || (t.rows[i].flags & kDirty)) draw_row(dc, i, face);
            t.rows[i].flags &= uint8_t(~kDirty);
        }
    }
}

// ------------------------------------------------------------------ editing

uint16_t begin_edit(WifiInst *w, int row) {
    ThisData &t = thisData;
    FLD &f = w->k.fld;
    WifiMenuCntInfo &m = info();
    t.edit_row = row;
    switch (row) {
    case 1:
    case 7:
    case 9:
    case 14:
        field_setup(f, t.edit_text, table_of(row));
        FLD_EnumUpdate(&f, choice_of(row), 1);
        t.editing = kEnumEdit;
        t.rows[row].flags |= kDirty;
        return objmsg::kRepaint;
    case 5:
    case 6:
    case 13: {
        const char *src = row == 5 ? m.set.ap_ssid : row == 6 ? m.set.ap_pass : m.set.st_pass;
        const size_t cap = row == 13 ? wifi::kStText - 1 : wifi::kApText - 1;
        std::memset(t.edit_text, 0, sizeof t.edit_text);
        std::memcpy(t.edit_text, src, cap);
        field_setup(f, t.edit_text, nullptr);
        f.format = 6;
        f.digits = uint8_t(cap + 1);
        FLD_LitUpdate(&f, 1);
        w->k.label = kLabel[row];
        w->k.span = 1;
        t.editing = kTextEdit;
        OBJM_MorfObj(kTextKeypad, nullptr);
        return objmsg::kMorph | objmsg::kRepaint;
    }
    case 8:
        field_setup(f, t.edit_text, nullptr);
        FLD_IPUpdate(&f, m.set.ap_address, 1);
        w->k.label = kLabel[row];
        w->k.span = 3;
        t.editing = kAddrEdit;
        OBJM_MorfObj(kNumKeypad, nullptr);
        return objmsg::kMorph | objmsg::kRepaint;
    case 12:
        // A new scan: the list waits for its results.
        m.change |= wifi::kChScan;
        m.scan_count = 0xFFFF;
        t.scan = true;
        t.scan_count = 0;
        t.scan_choice = 0;
        t.updStartDelay = FPGA_GetFrt();
        return objmsg::kRepaint;
    default:
        return 0;
    }
}

void end_edit() {
    ThisData &t = thisData;
    t.rows[t.edit_row].flags |= kDirty;
    t.editing = kNoEdit;
    refresh();
}

void store_choice(int row, uint32_t v) {
    WifiMenuCntInfo &m = info();
    switch (row) {
    case 1:
        m.mode = uint8_t(v);
        m.change |= wifi::kChMode;
        break;
    case 7:
        m.set.security = uint8_t(v);
        m.change |= wifi::kChSecurity;
        break;
    case 9:
        m.set.channel = uint8_t(v);
        m.change |= wifi::kChChannel;
        break;
    case 14:
        m.set.st_flag = uint8_t(v);
        m.change |= wifi::kChAuto;
        break;
    default:
        break;
    }
}

void store_text(int row) {
    WifiMenuCntInfo &m = info();
    char *dst = row == 5 ? m.set.ap_ssid : row == 6 ? m.set.ap_pass : m.set.st_pass;
    const size_t size = row == 13 ? wifi::kStText : wifi::kApText;
    std::memset(dst, 0, size);
    std::memcpy(dst, thisData.edit_text, std::min(std::strlen(thisData.edit_text), size - 1));
    m.change |= row == 5 ? wifi::kChApName : row == 6 ? wifi::kChApPass : wifi::kChStPass;
}

uint16_t edit_key(WifiInst *w, uint8_t code) {
    ThisData &t = thisData;
    FLD &f = w->k.fld;
    int res = fld::kIgnored;
    uint32_t v = 0;
    switch (t.editing) {
    case kEnumEdit:
        res = FLD_EnumEdit(&f, &v, code);
        if (res == fld::kStored) store_choice(t.edit_row, v);
        break;
    case kTextEdit: {
        // The alphanumeric keypad sends a keyboard's keys.
        f.format = 16;
        res = FLD_LitEdit(&f, code);
        f.format = 6;
        if (res == fld::kStored) store_text(t.edit_row);
        break;
    }
    case kAddrEdit:
        v = info().set.ap_address;
        res = FLD_IPEdit(&f, &v, code);
        if (res == fld::kStored) {
            info().set.ap_address = v;
            info().change |= wifi::kChApAddr;
        }
        break;
    default:
        return 0;
    }
    switch (res) {
    case fld::kStored:
    case fld::kCancelled: {
        const bool morph = t.editing != kEnumEdit;
        end_edit();
        return uint16_t(objmsg::kRepaint | (morph ? objmsg::kRefuse : 0));
    }
    case fld::kChanged:
        t.rows[t.edit_row].flags |= kDirty;
        return objmsg::kRepaint;
    default:
        return 0;
    }
}

// ------------------------------------------------------------------- keys

uint16_t scan_key(uint8_t code) {
    ThisData &t = thisData;
    WifiMenuCntInfo &m = info();
    switch (code) {
    case kKeyUp:
        if (t.scan_choice > 0) --t.scan_choice;
        return objmsg::kRepaint;
    case kKeyDown:
        if (t.scan_choice + 1 < t.scan_count) ++t.scan_choice;
        return objmsg::kRepaint;
    case kKeyEnter:
        if (t.scan_choice >= t.scan_count) return 0;
        std::memset(m.set.st_ssid, 0, sizeof m.set.st_ssid);
        std::memcpy(m.set.st_ssid, m.scan[t.scan_choice].name,
                    strnlen(m.scan[t.scan_choice].name, wifi::kStText - 1));
        m.change = uint16_t((m.change | wifi::kChJoin) & ~wifi::kChScan);
        t.scan = false;
        refresh();
        return objmsg::kRepaint;
    case kKeyEsc:
        m.change &= uint16_t(~wifi::kChScan);
        t.scan = false;
        return objmsg::kRepaint;
    default:
        return 0;
    }
}

uint16_t key(WifiInst *w, uint8_t code) {
    ThisData &t = thisData;
    if (t.editing != kNoEdit) return edit_key(w, code);
    if (t.scan) return scan_key(code);
    switch (code) {
    case kKeyUp:
        step_selection(-1);
        return objmsg::kRepaint;
    case kKeyDown:
        step_selection(1);
        return objmsg::kRepaint;
    case kKeyEsc:
        objm::beep(3);
        w->k.hdr.state = t.state;
        return objmsg::kRefuse;
    case kKeyEnter:
        if (!applies(t.selected)) return 0;
        return begin_edit(w, t.selected);
    default:
        return 0;
    }
}

uint16_t touch_down(WifiInst *w, int x, int y) {
    ThisData &t = thisData;
    for (const Key &k : kKeys) {
        if (!GDI_PtInRect(&k.r, x, y)) continue;
        t.held = k.code;
        t.held_at = FPGA_GetFrt();
        t.held_repeat = false;
        return uint16_t(key(w, k.code) | objmsg::kRepaint);
    }
    if (!GDI_PtInRect(&t.list, x, y) || t.editing != kNoEdit) return 0;
    const int line = (y - t.list.top - 2) / std::max(t.h, 1);
    if (t.scan) {
        const int first = std::max(0, std::min(t.scan_choice - t.per_page + 1,
                                               std::min(t.scan_count, kScanShown) - t.per_page));
        const int entry = first + line;
        if (line < 0 || entry >= t.scan_count) return 0;
        objm::beep(3);
        t.scan_choice = entry;
        return objmsg::kRepaint;
    }
    const int row = t.first + line;
    if (line < 0 || row >= kRows || !(t.rows[row].flags & kSelectable)) return 0;
    objm::beep(3);
    select(row);
    return objmsg::kRepaint;
}

uint16_t update(WifiInst *w) {
    ThisData &t = thisData;
    t.changed = false;
    refresh();
    uint16_t r = t.changed ? objmsg::kRepaint : 0;
    const uint32_t now = FPGA_GetFrt();
    if (t.scan) {
        const int n = scan_entries();
        if (n != t.scan_count) {
            t.scan_count = n;
            if (t.scan_choice >= n) t.scan_choice = std::max(n - 1, 0);
            r = objmsg::kRepaint;
        }
        t.updEndDelay = now;
        if (t.updEndDelay - t.updStartDelay >= kScanRepaint) {
            t.updStartDelay = now;
            ++t.anim;
            r = objmsg::kRepaint;
        }
    }
    if ((t.held == kKeyUp || t.held == kKeyDown) &&
        now - t.held_at >= (t.held_repeat ? kRepeatEvery : kRepeatStart)) {
        t.held_at = now;
        t.held_repeat = true;
        r |= key(w, t.held);
    }
    return r;
}

uint16_t WIFI_Signal(const uint8_t *, ObjInst *inst, int msg, uint32_t arg) {
    auto *w = reinterpret_cast<WifiInst *>(inst);
    ThisData &t = thisData;
    switch (msg) {
    case objmsg::kUpdate:
        return update(w);
    case objmsg::kKey: {
        // The keypads send the code itself, the panel's keys in the high half.
        uint8_t code = uint8_t(arg & 0xFF);
        if (!code) code = uint8_t(arg >> 16);
        return key(w, code);
    }
    case objmsg::kTouchDown:
        return touch_down(w, int(arg >> 16), int(int16_t(arg & 0xFFFF)));
    case objmsg::kTouchUp:
        if (!t.held) return 0;
        t.held = 0;
        return objmsg::kRepaint;
    case objmsg::kClose:
        // The keypad went away (stored, cancelled or timed out).
        if (t.editing == kTextEdit || t.editing == kAddrEdit) end_edit();
        return objmsg::kRepaint;
    default:
        return 0;
    }
}

int16_t WIFI_Create(const uint8_t *, ObjInst *inst) {
    ThisData &t = thisData;
    t = ThisData{};
    t.state = inst->state;
    inst->state |= kInstShown;
    int h = 0;
    if (inst->dc) GDI_SelectFont(inst->dc, 32, nullptr, &h);
    t.h = h > 0 ? h : 13;
    layout();
    place_rows();
    select(1);
    GDI_SetRect(&inst->area, 0, 0, inst->dc ? inst->dc->bounds.right : 479,
                inst->dc ? inst->dc->bounds.bottom : 271);
    auto *w = reinterpret_cast<WifiInst *>(inst);
    w->k.fld = FLD{};
    w->k.label = nullptr;
    w->k.span = 1;
    w->k.font = 32;
    // The keypads read the field from the instance: it keeps its bytes.
    return int16_t(sizeof(WifiInst));
}

} // namespace

const ObjClass WIFI_Class{kObjRecordLength[35], WIFI_Create, WIFI_Paint, WIFI_Signal, nullptr,
                          sizeof(WifiInst),     nullptr};

void Wifi_Reset() {
    thisData = ThisData{};
}
