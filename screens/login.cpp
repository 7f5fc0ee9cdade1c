// LOGIN: the form on a user page through which an operator logs in and out:
// a caption, a user-name box, a password box, a "LOGIN"/"LOGOUT" button and a
// status line with who is logged in. Touching a box opens the alphanumeric
// keypad over the form, which hands every key back here to edit the box's
// text.
#include "base/le.h"
#include "gdi/gradient.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/objects.h" // KeypadHost
#include "screens/sysscr_int.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

uint8_t ActionSuccess;

namespace {

using namespace sysscr;
using namespace rec::login;

constexpr uint32_t kVisible = 0x1, kFlash = 0x2, kFrame = 0x4, kEnabled = 0x8, kEdge = 0xC0,
                   kEdgeDirection = 0x80, kSelectable = 0x100;
constexpr uint16_t kStateBits = 0xF0;
constexpr int kTextKeypad = 28;
constexpr int kNameChars = 16, kPasswordChars = 10; // what a user record holds
constexpr COLOR kBox = 0xFFDF, kFace = 0xC638, kFaceEnd = 0x7BEF;
enum Field : uint8_t { kNone, kName, kPassword };

struct LoginInst {
    KeypadHost k; // the field the keypad edits: a copy of the name or password field
    RECT draw;    // the drawing area (exclusive)
    RECT caption, name_label, name_box, pass_label, pass_box, button, status;
    FLD name, password;
    RCB *state;
    COLOR colour; // the state colour, or the alternative one the register picks
    uint8_t enabled, hidden_values, logged_in, editing;
    char usrVar[20];
    char passVar[16];
};

LoginInst *of(ObjInst *inst) {
    return reinterpret_cast<LoginInst *>(inst);
}

bool gradient(const uint8_t *def) {
    return (le16(def) & 0x8000) != 0;
}
COLOR fill_of(const uint8_t *def) {
    return le16(def + kFill);
}
COLOR text_colour(const uint8_t *def, const LoginInst *l) {
    const int16_t c = int16_t(le16(def + kColour));
    return c < 0 ? l->colour : COLOR(c);
}

void set_field(FLD *f, uint8_t format, int chars, char *text) {
    *f = FLD{};
    f->format = format;
    f->digits = uint8_t(chars + 1);
    f->text = text;
    f->tapCount = 255;
}

void clear_texts(LoginInst *l) {
    std::memset(l->usrVar, 0, sizeof l->usrVar);
    std::memset(l->passVar, 0, sizeof l->passVar);
    FLD_LitUpdate(&l->name, 0);
    FLD_LitUpdate(&l->password, 0);
}

RECT rect(int l, int t, int r, int b) {
    return RECT{int16_t(l), int16_t(t), int16_t(r), int16_t(b)};
}

int font_height(DC *dc, int font, int *width = nullptr) {
    int w = 0, h = 0;
    if (!GDI_SelectFont(dc, font, &w, &h)) GDI_SelectFont(dc, 32, &w, &h);
    if (width) *width = w;
    return h;
}
int text_width(DC *dc, int font, const char *text) {
    int w = 0;
    font_height(dc, font);
    GDI_ByteTextExtent(dc, text, &w, nullptr);
    return w;
}

// Three rows below the caption: the name, the password, the button with
// the status line beside it. Boxes are at most 18 characters wide.
void lay_out(const uint8_t *def, LoginInst *l, DC *dc) {
    const RECT &d = l->draw;
    const bool has_caption = OBJM_Text(le32(def + kCaption)) != nullptr;
    const int caption_h = has_caption ? font_height(dc, def[kFont]) + 4 : 0;
    l->caption = rect(d.left, d.top, d.right, d.top + caption_h);
    const int top = d.top + caption_h, row = std::max((d.bottom - top) / 3, 1);
    const int box_font = def[kBoxFont];
    const int label_w = text_width(dc, box_font, "PASSWORD : ");
    int char_w = 0;
    const int value_h = font_height(dc, def[kFieldFont], &char_w);
    const int box_h = std::min(row - 4, value_h + 6);
    const int box_left = d.left + 4 + label_w;
    const int box_right = std::min<int>(d.right - 4, box_left + 18 * char_w);
    auto box_row = [&](int n, RECT *label, RECT *box) {
        const int y = top + n * row + (row - box_h) / 2;
        *label = rect(d.left + 4, top + n * row, box_left, top + (n + 1) * row);
        *box = rect(box_left, y, std::max(box_right, box_left + 1), y + box_h);
    };
    box_row(0, &l->name_label, &l->name_box);
    box_row(1, &l->pass_label, &l->pass_box);
    const int button_w = text_width(dc, box_font, "LOGOUT") + 16;
    const int button_h = std::min(row - 4, font_height(dc, box_font) + 10);
    const int y = top + 2 * row + (row - button_h) / 2;
    l->button = rect(d.left + 4, y, std::min<int>(d.left + 4 + button_w, d.right), y + button_h);
    l->status = rect(l->button.right + 8, top + 2 * row, d.right - 2, top + 3 * row);
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    LoginInst *l = of(inst);
    const uint32_t flags = le32(def + 2);
    RECT d = rect(le16(def + 10), le16(def + 12), int16_t(le16(def + 14)) + 1,
                  int16_t(le16(def + 16)) + 1);
    const int in = (flags & kEdge) ? 3 : (flags & kFrame) ? 1 : 0;
    d = rect(d.left + in, d.top + in, d.right - in, d.bottom - in);
    l->draw = d;
    inst->area = rect(d.left, d.top, d.right - 1, d.bottom - 1);
    l->colour = le16(def + kStateColour);
    l->enabled = (flags & kSelectable) ? 1 : 0;
    l->state = LinkReg(le16(def + 8), 16);
    set_field(&l->name, 16, kNameChars, l->usrVar);
    set_field(&l->password, 17, kPasswordChars, l->passVar);
    l->k.fld = l->name;
    l->k.span = 1;
    l->editing = kNone;
    l->logged_in = UserLoggedIn;
    clear_texts(l);
    if (inst->dc) lay_out(def, l, inst->dc);
    if (flags & kVisible) inst->state = kInstShown;
    return int16_t(sizeof(LoginInst));
}

uint16_t update(const uint8_t *def, LoginInst *l, uint32_t force) {
    ObjInst *inst = &l->k.hdr;
    uint16_t r = 0;
    uint32_t flags = le32(def + 2);
    const uint32_t rflags = flags;
    if (l->state) {
        const uint16_t mask = le16(def + 6);
        const uint16_t v = Read16(l->state) & mask;
        if (mask & kStateBits) {
            COLOR c = le16(def + kStateColour);
            for (int n = 0; n < 4; ++n) {
                if (!(v & (0x10 << n))) continue;
                if (ObjDef_Holds(def, kLength + 2 * n, 2)) c = le16(def + kLength + 2 * n);
                break;
            }
            if (c != l->colour) {
                l->colour = c;
                r |= objmsg::kRepaint;
            }
        }
        const uint32_t m = mask & ~uint32_t(kStateBits);
        flags = (flags & ~m) | (v & m);
    }
    const bool visible = flags & kVisible;
    if (visible && !(inst->state & kInstShown)) {
        inst->state = kInstShown;
        r |= objmsg::kShow | objmsg::kRepaint;
    } else if (!visible && (inst->state & kInstShown)) {
        inst->state = kInstHidden;
        r |= objmsg::kHide | objmsg::kRepaint;
    }
    const uint8_t hidden = (flags & kFlash) && fill_of(def) == 0xFFFF && Flash() ? 1 : 0;
    if (hidden != l->hidden_values) {
        l->hidden_values = hidden;
        r |= objmsg::kRepaint;
    }
    const uint8_t enabled = (rflags & kSelectable) && (!l->state || (flags & kEnabled)) ? 1 : 0;
    if (enabled != l->enabled) {
        l->enabled = enabled;
        if (enabled) r |= objmsg::kRepaint;
    }
    if (UserLoggedIn != l->logged_in) {
        l->logged_in = UserLoggedIn;
        if (!UserLoggedIn) clear_texts(l);
        r |= visible ? objmsg::kShow | objmsg::kRepaint : objmsg::kHide | objmsg::kRepaint;
    }
    if (force) r |= objmsg::kRepaint;
    return r;
}

uint16_t open_keypad(LoginInst *l, Field which) {
    FLD &f = which == kName ? l->name : l->password;
    FLD_LitUpdate(&f, 1);
    l->k.fld = f;
    l->k.label = nullptr;
    l->editing = which;
    OBJM_MorfObj(kTextKeypad, nullptr);
    return objmsg::kMorph | objmsg::kRepaint;
}

uint16_t focus(LoginInst *l, uint32_t arg) {
    if (!l->enabled) {
        Beep(50);
        return objmsg::kRefuse;
    }
    const int x = int16_t(arg >> 16), y = int16_t(arg & 0xFFFF);
    if (Inside(l->name_box, x, y)) {
        if (UserLoggedIn) return objmsg::kRefuse;
        Beep(40);
        return open_keypad(l, kName);
    }
    if (Inside(l->pass_box, x, y)) {
        if (UserLoggedIn) return objmsg::kRefuse;
        Beep(50);
        return open_keypad(l, kPassword);
    }
    if (Inside(l->button, x, y)) {
        Beep(50);
        if (UserLoggedIn) {
            USRMGR_logout();
            clear_texts(l);
        } else if (ValidateUser(l->usrVar, l->passVar)) {
            ActionSuccess = 1;
        }
    }
    return objmsg::kRefuse;
}

bool allowed(uint8_t code) {
    return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z') ||
           (code >= 'a' && code <= 'z') || code == fld::kBackspace || code == fld::kEnter ||
           (code >= fld::kEscape && code <= fld::kDown) || code == fld::kKbdCaps;
}

uint16_t key(LoginInst *l, uint8_t code) {
    // The keypad's own layout keys change only the keypad.
    if (code >= 250 && code <= 252) return 0;
    if (!allowed(code)) {
        Beep(50);
        return 0;
    }
    if (l->editing == kNone) return 0;
    FLD &f = l->editing == kName ? l->name : l->password;
    const int res = FLD_LitEdit(&l->k.fld, code);
    f = l->k.fld;
    switch (res) {
    case fld::kStored:
        l->editing = kNone;
        return objmsg::kRefuse | objmsg::kRepaint;
    case fld::kCancelled:
        if (f.format == 17) {
            std::memset(l->passVar, 0, sizeof l->passVar);
            FLD_LitUpdate(&f, 0);
            l->k.fld = f;
        }
        l->editing = kNone;
        return objmsg::kRefuse | objmsg::kRepaint;
    case fld::kChanged:
        return objmsg::kRepaint;
    default:
        return 0;
    }
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    LoginInst *l = of(inst);
    switch (msg) {
    case objmsg::kUpdate:
        return update(def, l, arg);
    case objmsg::kFocus:
        return focus(l, arg);
    case objmsg::kKey:
        return key(l, uint8_t(arg > 0xFFFF ? arg >> 16 : arg));
    case objmsg::kClose:
        l->editing = kNone;
        l->name.state = l->password.state = fld::kDisplay;
        return 0;
    default:
        return 0;
    }
}

// The form's background over `r` (the clip is narrowed to it).
void background(const uint8_t *def, const LoginInst *l, DC *dc, const RECT &r) {
    RECT save{};
    GDI_SetClipRect(dc, &r, &save);
    const RECT &d = l->draw;
    GDI_SetPen(dc, kPenNone, 0, 0);
    if (gradient(def)) {
        if (const uint8_t *x = OBJM_GradientExt(def, fill_of(def))) {
            GDI_SetGradient(dc, int16_t(le16(x)));
            GDI_SetFillColor(dc, le16(x + 10));
            GDI_SetEndColor(dc, le16(x + 8));
            GDI_GradientRect(dc, le16(x + 4), le16(x + 6), d.left, d.top, d.right, d.bottom);
            GDI_SetGradient(dc, kGradFlat);
        }
    } else if (fill_of(def) != 0xFFFF) {
        GDI_SetFillColor(dc, fill_of(def));
        GDI_Rectangle(dc, d.left, d.top, d.right, d.bottom);
    }
    GDI_SetClipRect(dc, &save, nullptr);
}

void box(DC *dc, const RECT &r) {
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_SetFillColor(dc, kBox);
    GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
}

void paint_frame(const uint8_t *def, LoginInst *l, DC *dc) {
    const uint32_t flags = le32(def + 2);
    const COLOR text = text_colour(def, l);
    background(def, l, dc, l->draw);
    const RECT outer = rect(le16(def + 10), le16(def + 12), int16_t(le16(def + 14)) + 1,
                            int16_t(le16(def + 16)) + 1);
    if (flags & kEdge) {
        COLOR light = 0, dark = 0;
        UTIL_3DShades((flags & kEdgeDirection) ? 1 : 0,
                      fill_of(def) == 0xFFFF || gradient(def) ? kFace : fill_of(def), &light,
                      &dark);
        UTIL_ShadeRect(dc, &outer, light, dark, 0);
    } else if (flags & kFrame) {
        GDI_SetPen(dc, kPenSolid, 1, text);
        GDI_SetFillColor(dc, kColorNone);
        GDI_Rectangle(dc, outer.left, outer.top, outer.right, outer.bottom);
    }
    if (const uint8_t *caption = OBJM_Text(le32(def + kCaption))) {
        font_height(dc, def[kFont]);
        GDI_SetTextColor(dc, text);
        GDI_SetFillColor(dc, kColorNone);
        GDI_RectTextOut(dc, def[kAlign], &l->caption, caption);
    }
    font_height(dc, def[kBoxFont]);
    GDI_SetTextColor(dc, text);
    GDI_SetFillColor(dc, kColorNone);
    Text(dc, l->name_label, 1 | 32, "USERNAME : ");
    Text(dc, l->pass_label, 1 | 32, "PASSWORD : ");
    box(dc, l->name_box);
    box(dc, l->pass_box);
    const char *label = UserLoggedIn ? "LOGOUT" : "LOGIN";
    if (gradient(def)) {
        GDI_SetPen(dc, kPenSolid, 1, 0);
        GDI_SetGradient(dc, kGradMirrored);
        GDI_SetFillColor(dc, kFace);
        GDI_SetEndColor(dc, kFaceEnd);
        UTIL_GradButton(dc, 0, 0, &l->button, 0);
        GDI_SetGradient(dc, kGradFlat);
        font_height(dc, def[kBoxFont]);
        GDI_SetTextColor(dc, 0);
        GDI_SetFillColor(dc, kColorNone);
        Text(dc, l->button, 4 | 32, label);
    } else {
        Button(dc, l->button, label, def[kBoxFont]);
    }
}

void paint_values(const uint8_t *def, LoginInst *l, DC *dc) {
    box(dc, l->name_box);
    box(dc, l->pass_box);
    const RECT name_in =
        rect(l->name_box.left + 3, l->name_box.top, l->name_box.right - 2, l->name_box.bottom);
    const RECT pass_in =
        rect(l->pass_box.left + 3, l->pass_box.top, l->pass_box.right - 2, l->pass_box.bottom);
    if (!l->hidden_values) {
        font_height(dc, def[kFieldFont]);
        GDI_SetTextColor(dc, 0);
        GDI_SetFillColor(dc, kColorNone);
        Text(dc, name_in, 1 | 32, UserLoggedIn ? CurUser.name : l->usrVar);
        char stars[kPasswordChars + 1] = {};
        const int n = UserLoggedIn ? int(std::strlen(CurUser.password))
                                   : int(strnlen(l->passVar, kPasswordChars));
        std::fill(stars, stars + std::min(n, kPasswordChars), '*');
        Text(dc, pass_in, 1 | 32, stars);
    }
    background(def, l, dc, l->status);
    char status[32] = "USER : None";
    if (UserLoggedIn)
        std::snprintf(status, sizeof status, "USER : %.*s", int(kNameChars), CurUser.name);
    font_height(dc, def[kBoxFont]);
    GDI_SetTextColor(dc, text_colour(def, l));
    GDI_SetFillColor(dc, kColorNone);
    Text(dc, l->status, 1 | 32, status);
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    LoginInst *l = of(inst);
    DC *dc = inst->dc;
    if (!dc) return;
    if (mode & 1) paint_frame(def, l, dc);
    if (mode & 2) paint_values(def, l, dc);
}

} // namespace

namespace sysscr {
void LoginRects(const ObjInst *inst, RECT *name, RECT *password, RECT *button) {
    const auto *l = reinterpret_cast<const LoginInst *>(inst);
    *name = l->name_box;
    *password = l->pass_box;
    *button = l->button;
}
void ResetLogin() {
    ActionSuccess = 0;
}
} // namespace sysscr

const ObjClass LOGIN_Class{kLength, create, paint, signal, nullptr, sizeof(LoginInst), nullptr};
