// EDIT objects: the data-entry field. It shows one register as formatted
// text (integers, floats, texts, enumerations, times, IP addresses, seconds
// timers, LREALs, recipe names) in a framed box with an optional label and
// units, and lets the operator change it on the numeric or alphanumeric
// keypad, which it opens over itself and which hands every key back here.
#include "base/le.h"
#include "data/data.h"
#include "gdi/gradient.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/keypad.h"
#include "objects/obj_int.h"
#include "objects/records.h"
#include "platform/video.h"
#include "plc/appblocks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using namespace rec::edit;

constexpr uint32_t kFlash = 0x2, kFrame = 0x4, kEnabled = 0x8, kUnitsFlag = 0x10, kGradFace = 0x80,
                   kSelectable = 0x100, kNoAutoRecipe = 0x300, kHasLabel = 0x800, kRound = 0x10000,
                   kTypedLength = 0x20000;
constexpr int kKeypad = 13, kTextKeypad = 28, kRecipePopup = 27;

enum Kind : uint8_t { kInt, kFloat, kText, kEnum, kTime, kIP, kSec, kNone, kRecipe, kLreal, kBad };

Kind kind_of(int format) {
    switch (format) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 8:
        return kInt;
    case 4:
    case 5:
        return kFloat;
    case 6:
        return kText;
    case 7:
        return kEnum;
    case 9:
        return kTime;
    case 10:
        return kIP;
    case 11:
        return kSec;
    case 12:
    case 13:
        return kNone;
    case 14:
        return kRecipe;
    case 15:
        return kLreal;
    default:
        return kBad;
    }
}

struct EditInst {
    KeypadHost k;
    RECT value, label, inner; // exclusive
    COLOR colour;
    RCB *data, *state, *typed; // typed: the word before a text register (flag 0x20000)
    uint32_t last;
    uint16_t last_time[3];
    double last_lreal;
    int16_t tx, ty;
    uint16_t refreshed, units;
    int enum_count; // entries of the enumeration table that lie inside the text block
    uint8_t kind, phase, selectable, repaint_frame, once_selectable, trigger, label_h, whole,
        flashing, align, fresh;
    uint8_t lit[257]; // the text register as last read (width bytes and a terminator)
};

uint8_t *buffer(EditInst *e) {
    return reinterpret_cast<uint8_t *>(e + 1);
}

uint32_t flags_of(const uint8_t *def) {
    return le32(def + rec::kFlags);
}
COLOR bg_of(const uint8_t *def) {
    return le16(def + kFill);
}
bool transparent(const uint8_t *def) {
    return !obj::HasGradient(def) && bg_of(def) == kColorNone;
}
int width(const RECT &r) {
    return r.right - r.left;
}
int height(const RECT &r) {
    return r.bottom - r.top;
}
RECT shrink(const RECT &r, int d) {
    return RECT{int16_t(r.left + d), int16_t(r.top + d), int16_t(r.right - d),
                int16_t(r.bottom - d)};
}

// Characters of the text buffer: room for every kind's text, the literal
// text editor's width plus one, "Font problem", times and recipe names.
uint16_t units_of(const uint8_t *def) {
    return uint16_t(std::max<int>(def[kWidth] + 16, 32));
}
// A text register is linked by its byte count, which holds at most 127: a
// wider text field keeps to that, so that what is typed is what is stored.
int text_width(const uint8_t *def) {
    return std::min<int>(def[kWidth], 127);
}
bool wide_of(const uint8_t *def) {
    return def[kFormat] == 7 && PGM_UnicodePresent;
}

uint32_t need(const uint8_t *def) {
    if (!obj::Holds(def, 0, kLength)) return sizeof(EditInst);
    return uint32_t(sizeof(EditInst) + units_of(def) * (wide_of(def) ? 2u : 1u));
}

// The enumeration table at `offset` of the text tables: used only when its
// head and every entry it counts lie inside the text block's data (the count
// cut to what fits); -1 when even the head does not.
int enum_entries(uint32_t offset, const uint8_t **table) {
    *table = nullptr;
    if (!pPGM_TextTbls) return -1;
    const uint8_t *data = text_table_bl + 8;
    const uint64_t length =
        std::min<uint64_t>(le32(text_table_bl + 4), app::kConfigParts[6].capacity - 8);
    if (pPGM_TextTbls < data || uint64_t(pPGM_TextTbls - data) > length) return -1;
    const uint64_t start = uint64_t(pPGM_TextTbls - data) + offset;
    if (start + 4 > length) return -1;
    const uint8_t *t = data + start;
    const uint64_t fits = (length - start - 4) / 8;
    *table = t;
    return int(std::min<uint64_t>(le16(t + 2), fits));
}

// Reads the register into the last value; true when it changed.
bool read_value(const uint8_t *def, EditInst *e) {
    switch (e->kind) {
    case kInt:
    case kFloat:
    case kEnum:
    case kIP:
    case kSec: {
        uint8_t b[4];
        obj::ReadReg(e->data, b, 4);
        const uint32_t v = le32(b);
        const bool changed = v != e->last;
        e->last = v;
        return changed;
    }
    case kTime: {
        uint8_t b[6];
        obj::ReadReg(e->data, b, 6);
        bool changed = false;
        for (int i = 0; i < 3; ++i) {
            const uint16_t w = le16(b + 2 * i);
            changed |= w != e->last_time[i];
            e->last_time[i] = w;
        }
        return changed;
    }
    case kLreal: {
        uint8_t b[8];
        obj::ReadReg(e->data, b, 8);
        uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = bits << 8 | b[i];
        double v;
        std::memcpy(&v, &bits, 8);
        const bool changed = std::memcmp(&v, &e->last_lreal, 8) != 0;
        e->last_lreal = v;
        return changed;
    }
    case kText: {
        // The register's width bytes, up to the first zero.
        uint8_t b[257] = {};
        const int w = text_width(def);
        obj::ReadReg(e->data, b, uint32_t(w));
        b[w] = 0;
        const bool changed = std::memcmp(b, e->lit, size_t(w) + 1) != 0;
        std::memcpy(e->lit, b, size_t(w) + 1);
        return changed;
    }
    case kRecipe: {
        const uint8_t v = obj::Read8(e->data);
        const bool changed = v != e->trigger;
        e->trigger = v;
        return changed;
    }
    default:
        return false;
    }
}

// The text register into the field's buffer (asterisks for no data when the
// application asks for them).
void load_lit(const uint8_t *def, EditInst *e) {
    FLD &f = e->k.fld;
    auto *t = reinterpret_cast<char *>(buffer(e));
    const int w = text_width(def);
    int n = 0;
    while (n < w && e->lit[n])
        ++n;
    const bool stars = (f.status & fld::kNoData) && PGM_bShowAsterixForNodata;
    for (int i = 0; i < n; ++i)
        t[i] = stars ? '*' : char(e->lit[i]);
    t[n] = 0;
    f.length = uint8_t(n);
}

// The enumeration's shown entry must be a text of the current language that
// ends inside it; otherwise the field shows nothing.
void check_enum_text(EditInst *e, int index) {
    FLD &f = e->k.fld;
    if (!f.table || index < 0 || index >= e->enum_count) {
        f.length = 0;
        std::memset(buffer(e), 0, 4);
        return;
    }
    if (le16(f.table) == 0xFFFF) return; // the firmware's own tables carry their texts
    if (!obj::Text(le32(f.table + 8 + 8 * index))) {
        f.length = 0;
        std::memset(buffer(e), 0, 4);
    }
}

int enum_index(const EditInst *e, uint32_t value) {
    const FLD &f = e->k.fld;
    int index = e->enum_count - 1;
    for (int i = 0; i < e->enum_count; ++i)
        if (int32_t(le32(f.table + 4 + 8 * i)) >= int32_t(value)) return i;
    return index;
}

// The text of the last value in display (begin 0) or edit (begin 1) form.
void format_value(const uint8_t *def, EditInst *e, int begin) {
    FLD &f = e->k.fld;
    switch (e->kind) {
    case kInt:
        FLD_NumUpdate(&f, e->last, begin);
        break;
    case kFloat:
        FLD_FloatUpdate(&f, e->last, begin);
        break;
    case kLreal:
        FLD_LrealUpdate(&f, e->last_lreal, begin);
        break;
    case kEnum:
        if (!f.table) {
            if (begin) {
                f.state = fld::kBegun;
                f.edit = 0;
            }
            check_enum_text(e, -1);
            break;
        }
        FLD_EnumUpdate(&f, e->last, begin);
        check_enum_text(e, enum_index(e, e->last));
        break;
    case kTime:
        FLD_TimeUpdate(&f, e->last_time, begin);
        break;
    case kIP:
        FLD_IPUpdate(&f, e->last, begin);
        break;
    case kSec:
        FLD_SecTimeUpdate(&f, e->last, begin);
        break;
    case kText:
        load_lit(def, e);
        if (begin) FLD_LitUpdate(&f, 1);
        break;
    case kRecipe: {
        auto *t = reinterpret_cast<char *>(buffer(e));
        t[0] = 0;
        if (def[kRecipe] & 0x08)
            GetRecipeNamePath(int(le32(def + kLimits + 12) & 0xFFFF), t, nullptr, 32, 1);
        t[31] = 0;
        f.length = uint8_t(std::strlen(t));
        break;
    }
    default:
        f.length = 0;
        std::memset(buffer(e), 0, 4);
        break;
    }
    if (!begin && e->kind != kText) f.state = fld::kDisplay;
}

// Within the limits by the formatter's own rule: signed for format 2,
// unsigned for the other integers, as floats for 4 and 5.
bool within(const EditInst *e) {
    const FLD &f = e->k.fld;
    switch (e->kind) {
    case kInt:
        if (f.format == 2)
            return int32_t(f.edit) >= int32_t(f.min) && int32_t(f.edit) <= int32_t(f.max);
        return f.edit >= f.min && f.edit <= f.max;
    case kFloat: {
        float v, lo, hi;
        std::memcpy(&v, &f.edit, 4);
        std::memcpy(&lo, &f.min, 4);
        std::memcpy(&hi, &f.max, 4);
        return v >= lo && v <= hi;
    }
    case kLreal:
        return f.ledit >= f.lmin && f.ledit <= f.lmax;
    default:
        return true;
    }
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *e = reinterpret_cast<EditInst *>(inst);
    std::memset(reinterpret_cast<uint8_t *>(e) + sizeof(ObjInst), 0,
                sizeof(EditInst) - sizeof(ObjInst));
    e->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    if (!e->whole) {
        inst->state = 0;
        return int16_t(sizeof(EditInst));
    }
    const uint32_t flags = flags_of(def);
    const RECT r = obj::Rect(def);
    inst->area = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    const int format = def[kFormat];
    e->kind = kind_of(format);
    e->units = units_of(def);
    FLD &f = e->k.fld;
    f = FLD{};
    f.format = uint8_t(format);
    f.flags = def[kFieldFlags];
    const int w = def[kWidth];
    const int dec = std::min<int>(def[kDecimals], w);
    f.digits = uint8_t(w);
    f.decimals = def[kDecimals];
    f.min = le32(def + kLimits);
    f.max = le32(def + kLimits + 4);
    f.text = buffer(e);
    switch (e->kind) {
    case kInt:
        f.decimals = uint8_t(dec);
        break;
    case kFloat:
    case kLreal:
        f.decimals = uint8_t(dec);
        f.digits = uint8_t(w - dec);
        break;
    case kText:
        f.digits = uint8_t(text_width(def) + 1); // room for the terminator
        break;
    case kEnum: {
        f.wide = PGM_UnicodePresent ? 1 : 0;
        f.step = le32(def + kLimits + 8);
        const uint8_t *t = nullptr;
        e->enum_count = std::max(enum_entries(f.step, &t), 0);
        f.table = t && e->enum_count > 0 ? t : nullptr;
        break;
    }
    case kRecipe:
        f.digits = 0;
        break;
    default:
        break;
    }
    if (e->kind == kLreal) {
        // The two LREAL limits follow the alternative colours and the
        // gradient extension; a record too short for them edits without limits.
        size_t at = kLength;
        if (le16(def + rec::kStateMask) & 0xF0) at += rec::kAltColors;
        if (obj::HasGradient(def)) at += rec::kGradientExt;
        f.lmin = -std::numeric_limits<double>::infinity();
        f.lmax = std::numeric_limits<double>::infinity();
        if (obj::Holds(def, at, 16)) {
            uint64_t lo = uint64_t(le32(def + at)) | uint64_t(le32(def + at + 4)) << 32;
            uint64_t hi = uint64_t(le32(def + at + 8)) | uint64_t(le32(def + at + 12)) << 32;
            std::memcpy(&f.lmin, &lo, 8);
            std::memcpy(&f.lmax, &hi, 8);
        }
    }
    static constexpr uint8_t kAlign[4] = {1, 2, 0, 0};
    e->align = kAlign[f.flags & 3];
    e->k.font = def[kFont];
    e->colour = le16(def + kValueColour);

    // Rectangles.
    const int m = std::min(width(r), height(r));
    if (flags & kRound) {
        e->inner = shrink(r, m * 15 / 200);
        e->inner = shrink(e->inner, std::min(width(e->inner), height(e->inner)) * 102 / 2000);
        e->value = shrink(r, m * 29 / 200);
    } else {
        e->inner = r;
        e->value = RECT{int16_t(r.left + 3), int16_t(r.top + 3), int16_t(r.right - 4),
                        int16_t(r.bottom - 4)};
    }
    e->label = e->value;
    DC *dc = inst->dc;
    int vh = 0;
    if (dc) GDI_SelectFont(dc, def[kFont], nullptr, &vh);
    const bool text = e->kind == kText;
    const uint8_t pos = def[kLabelPos];
    if ((flags & kHasLabel) && dc) {
        const void *lt = obj::Text(le32(def + kLabel));
        int lh = 0;
        GDI_SelectFont(dc, def[kLabelFont], nullptr, &lh);
        e->label_h = uint8_t(std::clamp(lh, 0, 255));
        const int lines = lt ? UTIL_StringLines(lt) : 0;
        const int lw = lt ? UTIL_StringWidth(dc, lt) : 0;
        RECT &v = e->value;
        switch (pos) {
        case 17:
        case 18:
        case 20:
            if (text)
                v.top = int16_t(std::min<int>(v.bottom, v.top + lh * lines));
            else
                v.top = int16_t(v.bottom - vh);
            break;
        case 33:
            v.left = int16_t(std::min<int>(v.right, v.left + lw + 1));
            break;
        case 34:
            v.right = int16_t(std::max<int>(v.left, v.right - lw - 1));
            break;
        case 36: {
            const int mid = (v.left + v.right) / 2;
            e->label.left = int16_t(mid);
            v.right = int16_t(mid);
            break;
        }
        case 65:
        case 66:
        case 68:
            if (text)
                v.bottom = int16_t(std::max<int>(v.top, v.bottom - lh * lines));
            else
                v.bottom = int16_t(v.top + vh);
            break;
        default:
            break;
        }
    }
    // A value font up to 2 pixels taller than its rectangle grows it.
    const int over = vh - height(e->value);
    if (over > 0 && over <= 2) {
        e->value.top = int16_t(e->value.top - 1);
        e->value.bottom = int16_t(e->value.bottom + 1);
    }
    const RECT &v = e->value;
    e->tx = int16_t(e->align == 0 ? v.left : e->align == 1 ? v.right - 1 : (v.left + v.right) / 2);
    if (!text)
        e->ty = int16_t(v.top + (height(v) - vh) / 2);
    else if (pos & 0x40)
        e->ty = int16_t(v.top + vh / 2);
    else if (pos & 0x10)
        e->ty = int16_t(v.bottom - vh);
    else
        e->ty = int16_t(v.top + (height(v) - vh) / 2);

    // Registers.
    const uint16_t link = le16(def + kData);
    e->data = obj::LinkReg(link, text ? (uint32_t(text_width(def)) | 0x8000) : def[kDataSize]);
    if (text && (flags & kTypedLength) && link >= 1024 + 16) e->typed = obj::LinkReg(link - 16, 16);
    inst->state = (flags & 1) ? kInstShown : 0;
    if (le16(def + rec::kStateLink)) {
        e->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    e->selectable = (flags & kSelectable) ? 1 : 0;
    e->fresh = 1;
    if (e->kind == kRecipe) e->trigger = obj::Read8(e->data); // only a later change opens
    e->last_lreal = 0;
    format_value(def, e, 0);
    return int16_t(need(def));
}

uint16_t repaint_flags(const uint8_t *def, const ObjInst *inst, uint16_t r) {
    if ((r & objmsg::kRepaint) && transparent(def) && (inst->state & kInstShown))
        r |= objmsg::kErase;
    return r;
}

uint16_t update(const uint8_t *def, EditInst *e, uint32_t force) {
    ObjInst *inst = &e->k.hdr;
    const uint32_t rflags = flags_of(def);
    uint32_t flags = 0;
    uint16_t r = obj::StateUpdate(def, inst, e->state, kLength, le16(def + kValueColour),
                                  &e->colour, &flags, !transparent(def));
    const bool sel = (rflags & kSelectable) && (!e->state || (flags & kEnabled));
    if (sel != bool(e->selectable)) {
        e->selectable = sel ? 1 : 0;
        if (sel) e->repaint_frame = 1;
        r |= objmsg::kRepaint;
    }
    const bool flashing = (flags & kFlash) != 0;
    const uint8_t phase = flashing && obj::Flash() ? 1 : 0;
    if (phase != e->phase || (e->flashing && !flashing)) force = 1;
    e->phase = phase;
    e->flashing = flashing ? 1 : 0;
    if (e->kind == kBad) return repaint_flags(def, inst, r);
    const uint16_t now = obj::Tick();
    if (!force && !e->fresh && uint16_t(now - e->refreshed) < 15)
        return repaint_flags(def, inst, r);
    e->fresh = 0;
    e->refreshed = now;
    FLD &f = e->k.fld;
    const bool nodata = obj::NoData(e->data);
    f.status = nodata ? fld::kNoData : 0;
    const uint8_t trigger = e->trigger;
    const bool changed = read_value(def, e);
    if (e->kind == kRecipe) {
        if (!(rflags & kNoAutoRecipe) && (def[kRecipe] & 7) && changed && e->trigger != 0 &&
            trigger != e->trigger && oDefTbl[kRecipePopup] && oDefTbl[kRecipePopup]->Signal) {
            OBJM_MorfObj(kRecipePopup, nullptr);
            return objmsg::kMorph | objmsg::kRepaint;
        }
        if (changed || force) {
            format_value(def, e, 0);
            r |= objmsg::kRepaint;
        }
        return repaint_flags(def, inst, r);
    }
    if (changed || force || nodata) {
        format_value(def, e, 0);
        r |= objmsg::kRepaint;
    }
    return repaint_flags(def, inst, r);
}

uint16_t focus(const uint8_t *def, EditInst *e) {
    if (!obj::GotAccess(obj::Level(def))) {
        obj::Beep(125);
        return objmsg::kDenied | objmsg::kRefuse;
    }
    obj::ResetTimeout();
    if (!e->selectable) {
        obj::Beep(50);
        return objmsg::kRefuse;
    }
    e->k.label = (flags_of(def) & kHasLabel) ? obj::Text(le32(def + kLabel)) : nullptr;
    obj::Beep(3);
    e->phase = 0;
    e->k.span = 1;
    switch (e->kind) {
    case kNone:
        return 0;
    case kRecipe:
        // The recipe pop-up opens only once its class can answer (a morph
        // without one could never be closed).
        if ((def[kRecipe] & 7) && oDefTbl[kRecipePopup] && oDefTbl[kRecipePopup]->Signal) {
            OBJM_MorfObj(kRecipePopup, nullptr);
            return objmsg::kMorph | objmsg::kRepaint;
        }
        return objmsg::kRepaint;
    case kText:
        read_value(def, e);
        format_value(def, e, 1);
        OBJM_MorfObj(kTextKeypad, nullptr);
        return objmsg::kMorph | objmsg::kRepaint;
    default:
        format_value(def, e, 1);
        if (e->kind == kIP) e->k.span = 3;
        if (e->kind == kTime) e->k.span = uint8_t(FLD_TimeSpan(e->k.fld, 1));
        OBJM_MorfObj(kKeypad, nullptr);
        return objmsg::kMorph | objmsg::kRepaint;
    }
}

void write_u32(const EditInst *e, uint32_t v) {
    uint8_t b[4];
    put_le32(b, v);
    obj::WriteReg(e->data, b, 4);
}

// Enter on a seconds timer: the editor stores the old value for a total
// outside the limits; asked twice with different old values it tells the two
// cases apart.
bool sec_taken(const FLD &f) {
    FLD a = f, b = f;
    a.old = 0;
    b.old = 1;
    uint32_t va = 0, vb = 0;
    FLD_SecTimeEdit(&a, &va, fld::kEnter);
    FLD_SecTimeEdit(&b, &vb, fld::kEnter);
    return va == vb;
}

// Stores the edited value; a value the limits refuse writes nothing, so
// whatever the logic wrote meanwhile stays.
void store(const uint8_t *def, EditInst *e, uint32_t copy, const uint16_t *words, double lcopy,
           bool sec_ok) {
    FLD &f = e->k.fld;
    switch (e->kind) {
    case kInt:
    case kFloat:
        if (copy != e->last || within(e)) {
            write_u32(e, copy);
            e->last = copy;
        }
        break;
    case kLreal:
        if (within(e)) {
            uint64_t bits;
            std::memcpy(&bits, &lcopy, 8);
            uint8_t b[8];
            for (int i = 0; i < 8; ++i)
                b[i] = uint8_t(bits >> (8 * i));
            obj::WriteReg(e->data, b, 8);
            e->last_lreal = lcopy;
        }
        break;
    case kSec:
        if (sec_ok) {
            write_u32(e, copy);
            e->last = copy;
        }
        break;
    case kEnum:
        if (f.table && int(f.edit) < e->enum_count) {
            write_u32(e, copy);
            e->last = copy;
        }
        break;
    case kIP:
        write_u32(e, copy);
        e->last = copy;
        break;
    case kTime: {
        uint8_t b[6];
        for (int i = 0; i < 3; ++i) {
            put_le16(b + 2 * i, words[i]);
            e->last_time[i] = words[i];
        }
        obj::WriteReg(e->data, b, 6);
        break;
    }
    case kText: {
        // Exactly the field's width: the typed text, zeros after it.
        uint8_t b[256] = {};
        const int w = text_width(def);
        std::memcpy(b, buffer(e), std::min<size_t>(f.length, size_t(w)));
        obj::WriteReg(e->data, b, uint32_t(w));
        std::memcpy(e->lit, b, size_t(w));
        e->lit[w] = 0;
        if (e->typed) {
            uint8_t t[2];
            obj::ReadReg(e->typed, t, 2);
            t[1] = f.cursor;
            obj::WriteReg(e->typed, t, 2);
        }
        break;
    }
    default:
        break;
    }
}

uint16_t key(const uint8_t *def, EditInst *e, uint8_t code) {
    FLD &f = e->k.fld;
    if (f.state == fld::kDisplay) return 0;
    uint32_t copy = e->last;
    uint16_t words[3] = {e->last_time[0], e->last_time[1], e->last_time[2]};
    double lcopy = e->last_lreal;
    bool sec_ok = true;
    int res = fld::kIgnored;
    switch (e->kind) {
    case kInt:
        res = FLD_NumEdit(&f, &copy, code);
        break;
    case kFloat:
        res = FLD_FloatEdit(&f, &copy, code);
        break;
    case kLreal:
        res = FLD_LrealEdit(&f, &lcopy, code);
        break;
    case kEnum:
        if (!f.table) {
            res = code == fld::kEnter ? fld::kStored : code == fld::kEscape ? fld::kCancelled : 0;
            if (res) f.state = fld::kDisplay;
        } else {
            res = FLD_EnumEdit(&f, &copy, code);
            if (res == fld::kChanged) check_enum_text(e, int(f.edit));
        }
        break;
    case kTime:
        res = FLD_TimeEdit(&f, words, code);
        if (res == fld::kChanged) e->k.span = uint8_t(FLD_TimeSpan(f, 1));
        break;
    case kIP:
        res = FLD_IPEdit(&f, &copy, code);
        break;
    case kSec:
        if (code == fld::kEnter) sec_ok = sec_taken(f);
        res = FLD_SecTimeEdit(&f, &copy, code);
        break;
    case kText: {
        // The alphanumeric keypad sends characters and its layout and caps
        // keys: the field takes them as a keyboard's (caps lock applied here).
        const uint8_t format = f.format;
        f.format = 16;
        res = FLD_LitEdit(&f, code);
        f.format = format;
        break;
    }
    default:
        return 0;
    }
    switch (res) {
    case fld::kStored:
        store(def, e, copy, words, lcopy, sec_ok);
        format_value(def, e, 0);
        return objmsg::kRefuse | objmsg::kRepaint;
    case fld::kCancelled:
        if (e->kind == kText) read_value(def, e);
        format_value(def, e, 0);
        return objmsg::kRefuse | objmsg::kRepaint;
    case fld::kChanged:
        return objmsg::kRepaint;
    case fld::kNotTaken:
        obj::Beep(50);
        return 0;
    default:
        return 0;
    }
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    auto *e = reinterpret_cast<EditInst *>(inst);
    if (!e->whole) return 0;
    switch (msg) {
    case objmsg::kUpdate:
        return update(def, e, arg);
    case objmsg::kFocus:
        if (e->kind == kBad) return 0;
        return focus(def, e);
    case objmsg::kKey:
        if (e->kind == kBad) return 0;
        return key(def, e, uint8_t(arg & 0xFF));
    case objmsg::kClose:
        // The keypad went away (stored, cancelled or timed out): show the
        // value again.
        if (e->k.fld.state != fld::kDisplay) {
            e->k.fld.state = fld::kDisplay;
            if (e->kind == kText) read_value(def, e);
            format_value(def, e, 0);
        }
        return 0;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Painting.

void bevel3d(DC *dc, const RECT &r, int b, int rr) {
    GDI_SetGradient(dc, 2);
    GDI_SetFillColor(dc, 0x0000);
    GDI_SetEndColor(dc, 0xFFDF);
    GDI_Grad3DRoundRect(dc, b, b, r.left, r.top, r.right, r.bottom, rr, rr);
    GDI_SetGradient(dc, 0);
    GDI_SetPen(dc, kPenNone, 0, 0);
}

bool grad_face(uint32_t flags) {
    return (flags & kGradFace) && !(flags & kSelectable);
}

void paint_frame(const uint8_t *def, EditInst *e, DC *dc) {
    e->repaint_frame = 0;
    const uint32_t flags = flags_of(def);
    const RECT r = obj::Rect(def);
    const int m = std::min(width(r), height(r));
    const int rr = m / 3, b = m * 15 / 200;
    const COLOR frame = le16(def + kFrameColour);
    const COLOR bg = bg_of(def);
    if ((flags & kFrame) && frame != kColorNone)
        GDI_SetPen(dc, kPenSolid, 1, frame);
    else
        GDI_SetPen(dc, kPenNone, 0, 0);
    const bool round = (flags & kRound) != 0;
    obj::Gradient gr{};
    const bool ext = obj::HasGradient(def) && obj::GradientAt(def, bg, &gr);
    if (!ext) {
        GDI_SetFillColor(dc, bg);
        if (!round) {
            GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
        } else if (!e->selectable) {
            GDI_RoundRect(dc, r.left, r.top, r.right, r.bottom, rr, rr);
        } else {
            bevel3d(dc, r, b, rr);
            GDI_SetFillColor(dc, bg);
            GDI_RoundRect(dc, e->inner.left, e->inner.top, e->inner.right, e->inner.bottom, rr, rr);
        }
    } else {
        if (round) bevel3d(dc, r, b, rr);
        if (e->selectable || grad_face(flags)) {
            // Selectable: second colour to first; the gradient face the other way.
            GDI_SetFillColor(dc, e->selectable ? gr.start : gr.end);
            GDI_SetEndColor(dc, e->selectable ? gr.end : gr.start);
            if (round) {
                const RECT &a = e->selectable ? e->inner : r;
                GDI_SetGradient(dc, 3);
                GDI_GradRoundRect(dc, 0, int(height(a) * 0.62), a.left, a.top, a.right, a.bottom,
                                  rr, rr);
            } else {
                GDI_SetGradient(dc, gr.mode);
                GDI_GradientRect(dc, gr.p1, gr.p2, r.left, r.top, r.right, r.bottom);
            }
            GDI_SetGradient(dc, 0);
        } else {
            GDI_SetFillColor(dc, gr.end);
            if (round)
                GDI_RoundRect(dc, r.left, r.top, r.right, r.bottom, rr, rr);
            else
                GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
        }
    }
    if (flags & kHasLabel) {
        if (const void *text = obj::Text(le32(def + kLabel))) {
            int lh = 0;
            GDI_SelectFont(dc, def[kLabelFont], nullptr, &lh);
            e->label_h = uint8_t(std::clamp(lh, 0, 255));
            GDI_SetTextColor(dc, frame == kColorNone ? e->colour : frame);
            GDI_SetFillColor(dc, kColorNone);
            const int pos = def[kLabelPos] == 36 ? 33 : def[kLabelPos];
            GDI_RectTextOut(dc, pos, &e->label, text);
        }
    }
    if (!fPxpEnable && ext && (e->selectable || grad_face(flags)) && pMem2DC && pMem2DC->buffer) {
        const RECT &v = e->value;
        if (width(v) > 0 && height(v) > 0)
            GDI_BitBlt(pMem2DC, v.left, v.top, width(v), height(v), dc, v.left, v.top);
    }
}

// Inverts the characters of [from, to) of the drawn text; right-aligned
// text is output from its last character backwards.
struct Cursor {
    int index, step, from, to;
};
struct Swap {
    Cursor c;
    COLOR fg, bg;
};
void swap_callback(int, DIB *glyph, uintptr_t arg) {
    auto *w = reinterpret_cast<Swap *>(arg);
    if (w->c.index >= w->c.from && w->c.index < w->c.to) {
        glyph->foreground = w->bg;
        glyph->background = w->fg;
    }
    w->c.index += w->c.step;
}

// The value text and the units after it, as 16-bit characters.
int value_line(const uint8_t *def, EditInst *e, uint16_t *out, int cap, int *value_chars) {
    const FLD &f = e->k.fld;
    int n = 0;
    const uint8_t *t = buffer(e);
    for (int i = 0; i < f.length && n < cap; ++i)
        out[n++] = f.wide ? le16(t + 2 * i) : t[i];
    *value_chars = n;
    if (flags_of(def) & kUnitsFlag) {
        if (const void *u = obj::Text(le32(def + kUnits))) {
            for (int i = 0; n < cap; ++i) {
                const uint32_t c = PGM_UnicodePresent
                                       ? le16(static_cast<const uint8_t *>(u) + 2 * i)
                                       : static_cast<const uint8_t *>(u)[i];
                if (c <= 3) break;
                out[n++] = uint16_t(c);
            }
        }
    }
    out[n] = 0;
    return n;
}

// A text field in display form: lines cut at character positions by
// measured widths.
void paint_wrapped(const uint8_t *def, EditInst *e, DC *dc) {
    FLD &f = e->k.fld;
    const RECT &v = e->value;
    const int maxw = int(Font_Field(dc->font, kFontMaxWidth));
    int fh = Font_Height(dc->font);
    auto *t = reinterpret_cast<char *>(buffer(e));
    if (maxw <= 0) {
        std::strcpy(t, "Font problem");
        f.length = uint8_t(std::strlen(t));
        GDI_ByteTextOut(dc, e->tx, e->ty, t);
        return;
    }
    const int room = width(v) - 2;
    struct Line {
        int at, n;
    } lines[256];
    int count = 0, at = 0;
    const int len = f.length;
    while (at < len && count < 256) {
        int n = std::max(1, std::min(len - at, width(v) / maxw));
        while (at + n < len) {
            int w = 0;
            GDI_GetTextnWidth(dc, t + at, &w, n + 1);
            if (w >= room) break;
            ++n;
        }
        lines[count++] = {at, n};
        at += n;
    }
    int y = e->ty;
    if (def[kLabelPos] & 0x10) y -= (count - 1) * fh;
    for (int i = 0; i < count && y < v.bottom; ++i, y += fh) {
        char line[257];
        std::memcpy(line, t + lines[i].at, size_t(lines[i].n));
        line[lines[i].n] = 0;
        GDI_ByteTextOut(dc, e->tx, y, line);
    }
}

void paint_value(const uint8_t *def, EditInst *e, DC *dc) {
    const RECT &v = e->value;
    if (height(v) <= 0 || width(v) <= 0) return;
    const uint32_t flags = flags_of(def);
    RECT save;
    GDI_SetClipRect(dc, &v, &save);
    obj::Gradient gr{};
    const bool ext = obj::HasGradient(def) && obj::GradientAt(def, bg_of(def), &gr);
    GDI_SetPen(dc, kPenNone, 0, 0);
    COLOR back = bg_of(def);
    if (ext && (e->selectable || grad_face(flags))) {
        if (fPxpEnable) {
            GDI_SetFillColor(dc, 0x0001);
            GDI_Rectangle(dc, v.left, v.top, v.right, v.bottom);
        } else if (pMem2DC && pMem2DC->buffer) {
            GDI_BitBlt(dc, v.left, v.top, width(v), height(v), pMem2DC, v.left, v.top);
        }
        back = gr.start;
    } else if (ext) {
        GDI_SetFillColor(dc, gr.end);
        GDI_Rectangle(dc, v.left, v.top, v.right, v.bottom);
        back = gr.end;
    } else {
        GDI_SetFillColor(dc, back);
        GDI_Rectangle(dc, v.left, v.top, v.right, v.bottom);
    }
    GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
    const FLD &f = e->k.fld;
    const bool hidden = e->phase && f.state == fld::kDisplay;
    if (!hidden && e->kind != kNone && e->kind != kBad) {
        GDI_SetTextAlign(dc, e->align);
        GDI_SetTextColor(dc, e->colour);
        GDI_SetFillColor(dc, kColorNone);
        if (e->kind == kText && f.state == fld::kDisplay) {
            paint_wrapped(def, e, dc);
        } else {
            uint16_t line[512];
            int vn = 0;
            const int n = value_line(def, e, line, 511, &vn);
            Cursor c{0, 1, 0, 0};
            if (e->align == 1) c = Cursor{n - 1, -1, 0, 0};
            if (f.state == fld::kBegun || f.state == fld::kTyping) {
                c.from = 0;
                c.to = vn;
            } else if (f.state == fld::kCursor || f.state == fld::kPartEdit) {
                const int at = e->kind == kText ? f.cursor - 1 : f.cursor;
                c.from = at;
                c.to = at + e->k.span;
            }
            if (c.to > c.from) {
                // The span is inverted: the background colour on the value colour.
                Swap s{c, e->colour, back == kColorNone ? COLOR(0xFFDF) : back};
                GDI_SetTextCallBk(dc, swap_callback, reinterpret_cast<uintptr_t>(&s));
                GDI_WordTextOut(dc, e->tx, e->ty, line);
                GDI_SetTextCallBk(dc, nullptr, 0);
            } else {
                GDI_WordTextOut(dc, e->tx, e->ty, line);
            }
        }
        GDI_SetTextAlign(dc, 0);
    }
    GDI_SetClipRect(dc, &save, nullptr);
    if (e->selectable) e->once_selectable = 1;
    const RECT r = obj::Rect(def);
    const bool plain = !(flags & kRound) && !ext;
    if (plain && (e->selectable || grad_face(flags))) {
        COLOR light = 0, dark = 0;
        UTIL_3DShades(e->selectable ? 0 : 1, bg_of(def), &light, &dark);
        UTIL_ShadeRect(dc, &r, light, dark, (flags & kFrame) ? 1 : 0);
    }
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *e = reinterpret_cast<EditInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !e->whole) return;
    if ((mode & 1) || e->repaint_frame || (!e->selectable && e->once_selectable))
        paint_frame(def, e, dc);
    if (mode & 2) paint_value(def, e, dc);
}

} // namespace

const ObjClass EDIT_Class{kLength, create, paint, signal, nullptr, sizeof(EditInst), need};
