// BMP objects: one picture of the application's bitmap area, or one frame
// of a sequence chosen by a frame register; touched, they step the frame
// register or act as a two-state push button (momentary, toggle, set,
// reset). Coded frames are expanded into bitmap memory once, when the
// object is created, so that a paint only copies pixels.
#include "base/le.h"
#include "gdi/shapes.h"
#include "objects/obj_int.h"
#include "objects/picture.h"
#include "objects/records.h"
#include "platform/video.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace rec::bmp;

// Flags.
constexpr uint32_t kEnabled = 0x8, kMomentary = 0x10, kSet = 0x20, kReset = 0x40, kToggle = 0x80,
                   kTwoState = 0x800;
constexpr uint16_t kAlpha = 0x1; // picture flags of a frame entry
constexpr uint8_t kCodingJpeg = 4;
constexpr uint64_t kExpandLimit = 0x100000;
constexpr int kSingleBit = 1; // size code of a one-bit frame register

struct BmpInst {
    ObjInst hdr;
    DIB dib; // what is shown
    RCB *frame, *state;
    int32_t last;   // the frame register's last value
    uint8_t *work;  // a JPEG frame decoded at paint time
    uint8_t *mem;   // the expanded frames
    uint16_t entry; // frame entry size
    uint8_t count;
    uint8_t usable, expanded, enabled, pressed;
    // Each frame as expanded follows, N DIBs.
};
static_assert(sizeof(BmpInst) % alignof(DIB) == 0);

DIB *frames(BmpInst *b) {
    return reinterpret_cast<DIB *>(b + 1);
}

uint32_t flags_of(const uint8_t *def) {
    return le32(def + rec::kFlags);
}

// The object lies beyond the screen: it has no instance of its own and
// does nothing.
bool beyond(const uint8_t *def) {
    return int16_t(le16(def + rec::kRect + 4)) > obj::ScreenWidth(nullptr) ||
           int16_t(le16(def + rec::kRect + 6)) > obj::ScreenHeight(nullptr);
}

// The frame entry size: the record's own length less the fixed fields,
// shared by its N frames; 0 when there is no usable table (no own length,
// no frames, entries too short to hold an offset, or a record that does not
// hold them).
uint16_t entry_size(const uint8_t *def) {
    const int n = def[kFrames];
    if (!(flags_of(def) & objflag::kOwnLength) || n == 0) return 0;
    const int length = le16(def + rec::kOwnLength);
    if (length < int(kTable)) return 0;
    const int e = (length - int(kTable)) / n;
    if (e < 4 || !obj::Holds(def, kTable, size_t(e) * size_t(n))) return 0;
    return uint16_t(e);
}

const uint8_t *entry_at(const uint8_t *def, const BmpInst *b, int i) {
    return def + kTable + size_t(i) * b->entry;
}

bool alpha_of(const uint8_t *def, const BmpInst *b, int i) {
    return b->entry >= 8 && (le16(entry_at(def, b, i) + 6) & kAlpha);
}

// The DIB of the record for frame `i`, pointed at its stored picture; false
// when the picture is not in the bitmap area.
bool stored_frame(const uint8_t *def, const BmpInst *b, int i, DIB *d) {
    const RECT r = obj::Rect(def);
    *d = DIB{};
    d->width = int16_t(r.right - r.left);
    d->height = int16_t(r.bottom - r.top);
    d->bits_per_pixel = def[kBitsPerPixel];
    d->bytes_per_row = def[kRowBytes];
    switch (d->bits_per_pixel) {
    case 16:
        d->bytes_per_row = uint16_t(d->width * 2);
        break;
    case 8:
        d->bytes_per_row = uint16_t(d->width);
        break;
    case 4:
        d->bytes_per_row = uint16_t((d->width + 1) / 2);
        break;
    default:
        break;
    }
    d->foreground = le16(def + kForeground);
    d->background = le16(def + kBackground);
    d->transparent = kColorNone;
    // Entries of 5 to 7 bytes are read as 4: the colour and flags need 8.
    if (b->entry >= 8) {
        const uint8_t *e = entry_at(def, b, i);
        d->flags = le16(e + 6);
        if (d->flags & kAlpha) d->transparent = le16(e + 4);
    }
    return obj::PictureDib(le32(entry_at(def, b, i)), d);
}

// Expands every frame into the object's bitmap memory.
void uncompress(const uint8_t *def, BmpInst *b) {
    uint8_t *dest = b->mem;
    for (int i = 0; i < b->count; ++i) {
        DIB d{};
        const bool alpha = alpha_of(def, b, i);
        const bool found = stored_frame(def, b, i, &d);
        if (alpha)
            dest = reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(dest) + 3) &
                                               ~uintptr_t(3));
        const uint32_t capacity = uint32_t(obj::PictureBytes(d, alpha));
        frames(b)[i] = d;
        if (found && obj::PictureExpand(&d, dest, capacity))
            frames(b)[i] = d;
        else
            frames(b)[i].pixels = nullptr; // nothing to show for this frame
        dest += capacity;
    }
    b->dib = frames(b)[0];
    b->expanded = 1;
}

uint32_t need(const uint8_t *def) {
    if (beyond(def)) return sizeof(ObjInst);
    return uint32_t(sizeof(BmpInst) + sizeof(DIB) * def[kFrames]);
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    if (beyond(def)) return 0;
    auto *b = reinterpret_cast<BmpInst *>(inst);
    const uint32_t flags = flags_of(def);
    const RECT r = obj::Rect(def);
    inst->area = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    const int16_t used = int16_t(need(def));
    b->entry = entry_size(def);
    b->count = def[kFrames];
    b->usable = b->entry ? 1 : 0;
    b->expanded = b->pressed = 0;
    b->enabled = 1;
    b->last = -1;
    b->work = b->mem = nullptr;
    b->frame = b->state = nullptr;
    b->dib = DIB{};
    inst->state = 0;
    if (!b->usable) return used;
    if (!stored_frame(def, b, 0, &b->dib)) b->dib.pixels = nullptr;
    uint64_t total = 0;
    for (int i = 0; i < b->count; ++i) {
        const bool alpha = alpha_of(def, b, i);
        total += obj::PictureBytes(b->dib, alpha) + (alpha ? 3 : 0);
    }
    const bool many_jpegs = b->dib.coding == kCodingJpeg && b->count > 2;
    if (total < kExpandLimit && b->dib.pixels && b->dib.coding != 0 && !many_jpegs) {
        b->mem = VDR_BmpGetMem(uint32_t(total));
        if (b->mem) uncompress(def, b);
    }
    b->frame = obj::LinkReg(le16(def + kFrame), def[kFrameSize]);
    if (le16(def + rec::kStateLink)) {
        b->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    if (flags & 1) inst->state |= kInstShown;
    return used;
}

BmpInst *live(const uint8_t *def, ObjInst *inst) {
    if (beyond(def)) return nullptr;
    auto *b = reinterpret_cast<BmpInst *>(inst);
    return b->usable ? b : nullptr;
}

int32_t read_frame(const BmpInst *b) {
    uint8_t v[4];
    obj::ReadReg(b->frame, v, 4);
    return int32_t(le32(v));
}

void write_frame(const BmpInst *b, int32_t v) {
    uint8_t out[4];
    put_le32(out, uint32_t(v));
    obj::WriteReg(b->frame, out, 4);
}

// Shows frame `i` (0 .. N - 1).
void show(const uint8_t *def, BmpInst *b, int i) {
    if (b->expanded) {
        b->dib = frames(b)[i];
        return;
    }
    if (!stored_frame(def, b, i, &b->dib)) b->dib.pixels = nullptr;
}

uint16_t update(const uint8_t *def, BmpInst *b, uint32_t force) {
    ObjInst *inst = &b->hdr;
    uint32_t flags = 0;
    uint16_t r = 0;
    if (b->state) {
        r = obj::StateUpdate(def, inst, b->state, kLength, 0, nullptr, &flags, true);
        b->enabled = (flags & kEnabled) ? 1 : 0;
    }
    const bool shown = (inst->state & kInstShown) != 0;
    if (!b->frame) {
        if (force) r |= objmsg::kRepaint;
        if (force && shown && (b->dib.flags & kAlpha)) r |= objmsg::kErase | objmsg::kRepaint;
        return r;
    }
    const int32_t v = read_frame(b);
    if (v == b->last && !force) return r;
    b->last = v;
    show(def, b, std::clamp<int32_t>(v, 0, b->count - 1));
    r |= objmsg::kRepaint;
    if (shown && (b->dib.flags & kAlpha)) r |= objmsg::kErase;
    return r;
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t arg) {
    BmpInst *b = live(def, inst);
    if (!b) return 0;
    const uint32_t flags = flags_of(def);
    const bool two_state = (flags & kTwoState) && b->count == 2;
    switch (msg) {
    case objmsg::kUpdate:
        return update(def, b, arg);
    case objmsg::kTouchDown:
        if (!obj::GotAccess(obj::Level(def))) {
            obj::Beep(125);
            return objmsg::kDenied | objmsg::kRefuse;
        }
        obj::ResetTimeout();
        if (!b->enabled) {
            obj::Beep(50);
            return 0;
        }
        b->pressed = 1;
        if (flags & kTwoState) {
            if ((flags & kMomentary) && b->count == 2) write_frame(b, 1);
            obj::Beep(3);
        }
        return 0;
    case objmsg::kTouchUp: {
        if (!b->pressed) return 0;
        b->pressed = 0;
        if (!obj::GotAccess(obj::Level(def))) return objmsg::kRefuse;
        obj::ResetTimeout();
        if (!b->enabled) {
            obj::Beep(50);
            return 0;
        }
        if (two_state) {
            const int32_t v = read_frame(b);
            if (flags & kMomentary) {
                write_frame(b, 0);
                obj::Beep(3);
            } else if ((flags & kToggle) || !(flags & (kSet | kReset))) {
                // Toggle, also when no action is named.
                write_frame(b, v > 1 ? 0 : 1 - v);
            } else {
                write_frame(b, (flags & kSet) ? 1 : 0);
            }
            return 0;
        }
        int32_t next = b->last + 1;
        if (next >= b->count || next < 0) next = 0;
        if (def[kFrameSize] == kSingleBit && next > 1) next = 0;
        write_frame(b, next);
        return 0;
    }
    default:
        return 0;
    }
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    BmpInst *b = live(def, inst);
    if (!b || !(mode & 2) || !inst->dc) return;
    if (b->expanded && obj::DmemCorrupt()) {
        const int32_t shown = b->last < 0 ? 0 : std::clamp<int32_t>(b->last, 0, b->count - 1);
        uncompress(def, b);
        b->dib = frames(b)[shown];
    }
    if (!b->dib.pixels) return;
    // A JPEG frame that was not expanded is decoded once into a work buffer
    // of the object's size, taken when first needed and kept.
    if (b->dib.coding == kCodingJpeg) {
        const uint32_t bytes = uint32_t(obj::PictureBytes(b->dib, false));
        if (!b->work && bytes) b->work = VDR_BmpGetMem(bytes);
        if (!obj::PictureExpand(&b->dib, b->work, bytes)) return;
    }
    const RECT r = obj::Rect(def);
    GDI_WriteDIB(inst->dc, r.left, r.top, r.right - r.left, r.bottom - r.top, &b->dib, 0, 0);
}

void destroy(const uint8_t *def, ObjInst *inst) {
    BmpInst *b = live(def, inst);
    if (!b) return;
    b->work = nullptr; // bitmap memory is cleared with the next page
    // A held momentary button is released with its page.
    if (b->pressed && (flags_of(def) & kMomentary) && b->count == 2) {
        b->pressed = 0;
        write_frame(b, 0);
    }
}

} // namespace

const ObjClass BMP_Class{kLength, create, paint, signal, destroy, sizeof(BmpInst), need};
