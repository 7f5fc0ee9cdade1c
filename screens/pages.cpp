// Built-in page records of the system screens and the record walk shared with
// the object manager. Pages and object records are byte records in the
// screen program's little-endian layout.
#include "base/le.h"
#include "plc/appblocks.h"
#include "screens/screens.h"
#include "screens/sysscreens.h"

#include <cstring>
#include <utility>

#include <array>

namespace {

constexpr size_t kPageHeader = 24; // version 2, no gradient

struct Obj {
    uint16_t length; // the record length of the object's class
    uint16_t type;
    uint32_t flags;
    int16_t left, top, right, bottom;
};

template <size_t N> struct Record {
    std::array<uint8_t, N> b{};
    size_t at = 0;
    constexpr void u16(uint16_t v) {
        b[at++] = uint8_t(v);
        b[at++] = uint8_t(v >> 8);
    }
    constexpr void u32(uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    constexpr void object(const Obj &o) {
        size_t start = at;
        u16(o.type);
        u32(o.flags);
        u16(0); // state mask
        u16(0); // state register link
        u16(uint16_t(o.left));
        u16(uint16_t(o.top));
        u16(uint16_t(o.right));
        u16(uint16_t(o.bottom));
        at = start + o.length;
    }
};

// A version 2 page: id, fault marker, object count, background, version,
// link table, scan list, an unused word and the page flags.
template <size_t N>
constexpr std::array<uint8_t, N> page(int16_t id, int16_t fault, uint16_t background,
                                      const Obj *obj) {
    Record<N> r;
    r.u16(uint16_t(id));
    r.u16(uint16_t(fault));
    r.u16(obj ? 1 : 0);
    r.u16(background);
    r.u16(2);
    r.u32(0);
    r.u32(0);
    r.u32(0);
    r.u16(0);
    if (obj) r.object(*obj);
    return r.b;
}

constexpr uint16_t kFace = 0xFFEC;
constexpr Obj kMenu{44, 3, 0x4405, 5, 5, 480, 272};
constexpr Obj kFault{32, 12, 0x4805, 43, 62, 278, 179};
// The classes of these screens place themselves on the screen.
constexpr Obj kCalTch{32, 19, 0x4001, 0, 0, 0, 0};
constexpr Obj kBoot{32, 29, 0x4001, 0, 0, 0, 0};
constexpr Obj kRecover{32, 32, 0x4001, 0, 0, 0, 0};

// The system menu's MENU record: fill 0xFFDF, text colour 0, font 32, the
// system-menu flag and first page 1.
constexpr auto kSysMenu = [] {
    auto b = page<kPageHeader + 44>(0, 0, 0x003F, &kMenu);
    uint8_t *d = b.data() + kPageHeader;
    d[18] = 0xDF;
    d[19] = 0xFF;
    d[27] = 32;
    d[35] = 0xFF;
    d[36] = 1;
    return b;
}();
// A u16 class field of a built-in record.
template <size_t N>
constexpr std::array<uint8_t, N> put16(std::array<uint8_t, N> b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
    return b;
}
// The error page's box: white, a black frame and message, centred in font 32.
constexpr auto kBad =
    put16(put16(put16(page<kPageHeader + 32>(-1, 0, kFace, &kFault), kPageHeader + 18, 0xFFDF),
                kPageHeader + 20, 0x0000),
          kPageHeader + 26, 36 | (32 << 8));
// The calibration screen's buttons: face 0xC638, outlined in black.
constexpr auto kCalTchPage = [] {
    auto b = page<kPageHeader + 32>(-1, 0, kFace, &kCalTch);
    b[kPageHeader + 18] = 0x38;
    b[kPageHeader + 19] = 0xC6;
    b[kPageHeader + 20] = b[kPageHeader + 21] = 0;
    return b;
}();
// The installer's buttons take the record's face colour (offset 18); its
// outline (offset 20) is black. Its rectangle reaches past any screen, so
// that every touch lands on it.
constexpr auto kBootPage = [] {
    auto b = page<kPageHeader + 32>(-1, 0, kFace, &kBoot);
    b[kPageHeader + 14] = b[kPageHeader + 16] = 0xFF;
    b[kPageHeader + 15] = b[kPageHeader + 17] = 0x7F;
    b[kPageHeader + 18] = 0x38;
    b[kPageHeader + 19] = 0xC6;
    b[kPageHeader + 20] = b[kPageHeader + 21] = 0;
    return b;
}();
// The recovery screen's buttons are grey.
constexpr auto kRecoverPage =
    put16(page<kPageHeader + 32>(-1, 0, kFace, &kRecover), kPageHeader + 18, 0xC638);
constexpr auto kFaultPage = page<kPageHeader>(-1, -1, 0xFFDF, nullptr);

constexpr auto kDialog = [] {
    Record<32> r;
    r.object(Obj{32, 18, 0x4000, 0, 0, 0, 0});
    r.at = 18;
    r.u16(kFace); // the box
    return r.b;
}();
// The slide-key panel's definition; the panel places itself.
constexpr auto kKeySlide = [] {
    Record<32> r;
    r.object(Obj{32, 30, 0x4001, 0, 0, 0, 0});
    return r.b;
}();

} // namespace

namespace {
// Plain arrays with static storage, so that page addresses are stable.
template <size_t N> struct Image {
    alignas(4) uint8_t b[N];
    constexpr explicit Image(const std::array<uint8_t, N> &a) : b{} {
        for (size_t i = 0; i < N; ++i)
            b[i] = a[i];
    }
};
constexpr Image gSysMenu(kSysMenu);
constexpr Image gBad(kBad);
constexpr Image gCalTch(kCalTchPage);
constexpr Image gBoot(kBootPage);
constexpr Image gRecover(kRecoverPage);
constexpr Image gFault(kFaultPage);
constexpr Image gDialog(kDialog);
constexpr Image gKeySlide(kKeySlide);
// The writable copies the error and recovery pages are shown from.
Image gBadCopy(kBad);
Image gRecoverCopy(kRecoverPage);
} // namespace

const uint8_t *const sysMenuPage = gSysMenu.b;
const uint8_t *const badPage = gBadCopy.b;
const uint8_t *const calTchPage = gCalTch.b;
const uint8_t *const BootPage = gBoot.b;
const uint8_t *const RecoverPage = gRecoverCopy.b;
const uint8_t *const faultPage = gFault.b;
const uint8_t *const dialogObj = gDialog.b;
const uint8_t *const KySldObj = gKeySlide.b;

uint8_t *BuiltIn_Writable(const uint8_t *def, size_t size) {
    for (uint8_t *b : {gBadCopy.b, gRecoverCopy.b}) {
        const size_t n = b == gBadCopy.b ? sizeof gBadCopy.b : sizeof gRecoverCopy.b;
        if (def >= b && def < b + n && size <= size_t(b + n - def)) return b + (def - b);
    }
    return nullptr;
}

void Pages_ResetCopies() {
    std::memcpy(gBadCopy.b, gBad.b, sizeof gBad.b);
    std::memcpy(gRecoverCopy.b, gRecover.b, sizeof gRecover.b);
}

size_t Page_FirstRecord(const uint8_t *page) {
    uint16_t version = le16(page + 8);
    if (version == 0) return 14;
    if (version == 1) return 22;
    return (le16(page + 22) & 1) ? 32 : 24;
}

size_t ObjClass_RecordLength(int type) {
    return type >= 0 && type < kObjTypes && oDefTbl[type] ? oDefTbl[type]->length : 0;
}

size_t ObjDef_Length(const uint8_t *def) {
    size_t length = ObjClass_RecordLength(le16(def) & 0x0FFF);
    if (length && (le32(def + 2) & 0x1000)) return le16(def + 30);
    return length;
}

bool ObjDef_Holds(const uint8_t *def, size_t offset, size_t size) {
    size_t length = ObjDef_Length(def);
    return offset <= length && size <= length - offset;
}

const uint8_t *Page_BuiltInEnd(const uint8_t *page) {
    for (const auto &[b, n] : {std::pair{gSysMenu.b, sizeof gSysMenu.b},
                               {gBadCopy.b, sizeof gBadCopy.b},
                               {gCalTch.b, sizeof gCalTch.b},
                               {gBoot.b, sizeof gBoot.b},
                               {gRecoverCopy.b, sizeof gRecoverCopy.b},
                               {gFault.b, sizeof gFault.b}})
        if (page == b) return b + n;
    return nullptr;
}

const uint8_t *Page_Limit(const uint8_t *page) {
    if (const uint8_t *end = Page_BuiltInEnd(page)) return end;
    const uint8_t *data = kesta_pgm_bl + 8;
    uint32_t length = le32(kesta_pgm_bl + 4);
    if (length > app::kConfigParts[3].capacity - 8) length = app::kConfigParts[3].capacity - 8;
    if (page < data || page >= data + length) return nullptr;
    return data + length;
}

// The walk counts in offsets from the page, so a record length never takes a
// pointer out of the page's bytes. A record's own length below the header
// that holds it, or reaching past the bytes, stops the walk: the page is
// malformed.
const uint8_t *Page_End(const uint8_t *page) {
    const uint8_t *end = Page_Limit(page);
    if (!end) return nullptr;
    const size_t room = size_t(end - page);
    if (room < 10) return nullptr;
    const uint16_t version = le16(page + 8);
    if (version >= 2 ? room < 24 : version == 1 ? room < 22 : room < 14) return nullptr;
    size_t at = Page_FirstRecord(page);
    if (at > room) return nullptr;
    const int count = int16_t(le16(page + 4));
    for (int i = 0; i < count; ++i) {
        if (room - at < kObjOwnLengthEnd) return nullptr; // every record reaches its length word
        const uint8_t *def = page + at;
        size_t length = ObjDef_Length(def);
        if (length == 0) return nullptr; // a type without a class
        if ((le32(def + 2) & objflag::kOwnLength) && length < kObjOwnLengthEnd) return nullptr;
        if (length > room - at) return nullptr;
        at += length;
    }
    return page + at;
}
