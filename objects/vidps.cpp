// VIDPS objects: a window on a user page in which the outside media player
// shows a video file or a numbered source. The object decodes nothing: it
// fills the playback control block from its record and registers (window,
// source, file name, command), opens the pixel pipeline's see-through hole
// while playing, and reports the player's status to a register.
#include "base/le.h"
#include "gdi/gdi.h"
#include "gdi/shapes.h"
#include "objects/obj_int.h"
#include "objects/periphery.h"
#include "objects/records.h"
#include "platform/pxp.h"
#include "platform/video.h"
#include "regs/plc_reg.h"

#include <cstring>

namespace {

using namespace rec::vidps;

constexpr uint16_t kSourceFromReg = 0x1, kNameFromRegs = 0x2;
constexpr uint16_t kFileSource = 1, kNumberedSource = 2;
constexpr uint32_t kFrame = 0x4;
constexpr uint32_t kSourceRegFlag = 0x4; // the control block's "source from a register" bit
constexpr COLOR kSeeThrough = 0x0001, kBlack = 0x0000;
// The longest name handed to the player (it takes at most 200 characters of
// a path) and its terminator.
constexpr size_t kNameRoom = 201;

struct VidInst {
    ObjInst hdr;
    RECT rect, window; // inclusive
    VidpsCntrl *block;
    RCB *command, *status, *source; // source: the source number's or the name's registers
    // The name as the player gets it: a bounded, terminated copy. The
    // player's thread may read the published one while the next is written
    // into the other.
    char name[2][kNameRoom];
    uint8_t published;
    uint8_t whole;
};

uint16_t options_of(const uint8_t *def) {
    return le16(def + kOptions);
}
uint16_t kind_of(const uint8_t *def) {
    return le16(def + kSourceKind);
}

// Publishes `text` (n characters) as the player's file name when it differs
// from the one published.
void publish(VidInst *v, const char *text, size_t n) {
    const char *cur = v->name[v->published];
    if (v->block->file_name.load() == cur && std::strncmp(cur, text, n) == 0 && cur[n] == 0) return;
    const uint8_t next = uint8_t(v->published ^ 1);
    std::memcpy(v->name[next], text, n);
    v->name[next][n] = 0;
    v->published = next;
    v->block->file_name = v->name[next];
}

// The name held in the registers from `ref` on: read byte by byte through
// the register gate, up to a terminator, the end of the registers or the
// room of the copy.
void name_from_registers(VidInst *v, uint32_t ref) {
    char text[kNameRoom];
    size_t n = 0;
    for (; n + 1 < kNameRoom; ++n) {
        uint8_t c = 0;
        if (!PlcReg_Get(&c, ref + 8u * uint32_t(n), 8) || c == 0) break;
        text[n] = char(c);
    }
    publish(v, text, n);
}

// The name in the string table: its characters up to the code (0 to 3) that
// ends its line.
void name_from_text(VidInst *v, uint32_t offset) {
    const auto *t = static_cast<const uint8_t *>(obj::Text(offset));
    if (!t) {
        v->block->file_name = nullptr;
        return;
    }
    size_t n = 0;
    while (n + 1 < kNameRoom && t[n] > 3)
        ++n;
    publish(v, reinterpret_cast<const char *>(t), n);
}

void refresh_name(const uint8_t *def, VidInst *v) {
    if (kind_of(def) != kFileSource || le32(def + kFileName) == 0) {
        v->block->file_name = nullptr;
        return;
    }
    if (options_of(def) & kNameFromRegs) {
        const uint32_t ref = obj::RegRef(v->source);
        if (ref)
            name_from_registers(v, ref);
        else
            v->block->file_name = nullptr;
    } else {
        name_from_text(v, le32(def + kFileName));
    }
}

RECT exclusive(const RECT &r) {
    return RECT{r.left, r.top, int16_t(r.right + 1), int16_t(r.bottom + 1)};
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *v = reinterpret_cast<VidInst *>(inst);
    v->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    v->block = VidpsConfig();
    if (!v->whole) return int16_t(sizeof(VidInst));
    const RECT r{int16_t(le16(def + rec::kRect)), int16_t(le16(def + rec::kRect + 2)),
                 int16_t(le16(def + rec::kRect + 4)), int16_t(le16(def + rec::kRect + 6))};
    v->rect = r;
    v->window = r;
    if (le32(def + rec::kFlags) & kFrame)
        v->window = RECT{int16_t(r.left + 1), int16_t(r.top + 1), int16_t(r.right - 1),
                         int16_t(r.bottom - 1)};
    inst->area = r;
    inst->state = kInstShown;
    VidpsCntrl &b = *v->block;
    // The running bit is the player thread's own: a stop must still find it.
    b.state.fetch_and(~(kVidMayPlay | kSourceRegFlag | kVidStopped));
    b.status = 0;
    b.x = v->window.left;
    b.y = v->window.top;
    b.width = v->window.right - v->window.left + 1;
    b.height = v->window.bottom - v->window.top + 1;
    b.source = kind_of(def);
    b.frame_rate = le16(def + kParam1);
    b.reserved = le16(def + kParam2);
    v->command = obj::LinkReg(le16(def + kCommand), 8);
    v->status = obj::LinkReg(le16(def + kStatus), 16);
    v->source = nullptr;
    if (options_of(def) & kSourceFromReg) {
        v->source = obj::LinkReg(le16(def + kSource), 16);
        b.camera_input = obj::Read16(v->source);
        b.state.fetch_or(kSourceRegFlag);
    } else {
        b.camera_input = le16(def + kSource);
    }
    v->published = 0;
    v->name[0][0] = v->name[1][0] = 0;
    if (kind_of(def) == kFileSource && (options_of(def) & kNameFromRegs) && le32(def + kFileName))
        v->source = obj::LinkReg(le16(def + kFileName), 8);
    refresh_name(def, v);
    b.command = 0;
    const uint8_t zero = 0;
    obj::WriteReg(v->command, &zero, 1);
    uint8_t st[2];
    put_le16(st, b.status);
    obj::WriteReg(v->status, st, 2);
    b.state.fetch_or(kVidMayPlay);
    return int16_t(sizeof(VidInst));
}

uint16_t update(const uint8_t *def, VidInst *v) {
    VidpsCntrl &b = *v->block;
    if (b.busy != 0) return 0;
    if (b.state & kVidStopped) {
        b.command = 0;
        const uint8_t zero = 0;
        obj::WriteReg(v->command, &zero, 1);
        b.state.fetch_and(~kVidStopped);
        b.status.fetch_and(uint16_t(~kVidPlaying));
        PXP_HoleRect(nullptr, 0);
        return objmsg::kRepaint;
    }
    uint16_t r = 0;
    if (v->command) {
        const uint8_t c = obj::Read8(v->command);
        if (c != uint8_t(b.command)) {
            b.command = c;
            r = objmsg::kRepaint;
            if (c & kVidPlay) {
                const RECT hole = exclusive(v->window);
                PXP_HoleRect(&hole, 1);
            }
        }
    }
    const uint16_t options = options_of(def);
    if (kind_of(def) == kNumberedSource && (options & kSourceFromReg))
        b.camera_input = obj::Read16(v->source);
    if (kind_of(def) == kFileSource && (options & kNameFromRegs)) refresh_name(def, v);
    if (v->status) {
        uint8_t st[2];
        put_le16(st, b.status);
        obj::WriteReg(v->status, st, 2);
    }
    return r;
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t) {
    auto *v = reinterpret_cast<VidInst *>(inst);
    if (!v->whole) return 0;
    if (msg == objmsg::kKey || msg == objmsg::kUpdate) return update(def, v);
    return 0;
}

void fill(DC *dc, const RECT &r, COLOR colour, bool outline) {
    GDI_SetGradient(dc, 0);
    GDI_SetPen(dc, outline ? kPenSolid : kPenNone, 1, kBlack);
    GDI_SetFillColor(dc, colour);
    GDI_Rectangle(dc, r.left, r.top, r.right + 1, r.bottom + 1);
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *v = reinterpret_cast<VidInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !v->whole) return;
    if (mode & 1) fill(dc, v->window, kBlack, true);
    if (mode & 2) {
        const COLOR c = (v->block->command & kVidPlay) ? kSeeThrough : kBlack;
        fill(dc, v->window, c, false);
        if (le32(def + rec::kFlags) & kFrame) {
            GDI_SetPen(dc, kPenSolid, 1, kBlack);
            GDI_SetFillColor(dc, kColorNone);
            GDI_Rectangle(dc, v->rect.left, v->rect.top, v->rect.right + 1, v->rect.bottom + 1);
        }
    }
}

void destroy(const uint8_t *, ObjInst *inst) {
    auto *v = reinterpret_cast<VidInst *>(inst);
    if (!v->whole) return;
    VidpsCntrl &b = *v->block;
    b.command = 0;
    const uint8_t zero = 0;
    obj::WriteReg(v->command, &zero, 1);
    VideoStop();
    PXP_HoleRect(nullptr, 0);
    b.state.fetch_and(~kVidMayPlay);
    // The name lived in this instance, whose memory the next page reuses.
    b.file_name = nullptr;
}

} // namespace

const ObjClass VIDPS_Class{kLength, create, paint, signal, destroy, sizeof(VidInst), nullptr};
