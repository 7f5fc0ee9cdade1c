// Built-in page records of the system screens and the record walk shared with
// the object manager. Pages and object records are byte records in the
// screen program's little-endian layout.
#include "base/le.h"
#include "screens/screens.h"

#include <array>

namespace {

// Definition-record length of each object class, by object type.
// clang-format off
constexpr uint16_t kRecordLength[36] = {
    32, 32, 66, 44, 56, 40, 58, 42, 32, 56, 56, 52, 32, 32, 56, 40, 32, 48,
    32, 32, 32, 46, 40, 32, 68, 32, 32, 32, 32, 32, 32, 32, 32, 72, 66, 32,
};
// clang-format on
constexpr int kTypeLimit = 36;

constexpr size_t kPageHeader = 24; // version 2, no gradient

struct Obj {
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
        at = start + kRecordLength[o.type];
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
constexpr Obj kMenu{3, 0x4405, 5, 5, 480, 272};
constexpr Obj kFault{12, 0x4805, 43, 62, 278, 179};
// The classes of these screens place themselves on the screen.
constexpr Obj kCalTch{19, 0x4001, 0, 0, 0, 0};
constexpr Obj kBoot{29, 0x4001, 0, 0, 0, 0};
constexpr Obj kRecover{32, 0x4001, 0, 0, 0, 0};

constexpr auto kSysMenu = page<kPageHeader + 44>(0, 0, 0x003F, &kMenu);
constexpr auto kBad = page<kPageHeader + 32>(-1, 0, kFace, &kFault);
constexpr auto kCalTchPage = page<kPageHeader + 32>(-1, 0, kFace, &kCalTch);
constexpr auto kBootPage = page<kPageHeader + 32>(-1, 0, kFace, &kBoot);
constexpr auto kRecoverPage = page<kPageHeader + 32>(-1, 0, kFace, &kRecover);
constexpr auto kFaultPage = page<kPageHeader>(-1, -1, 0xFFDF, nullptr);

constexpr auto kDialog = [] {
    Record<32> r;
    r.object(Obj{18, 0x0001, 0, 0, 0, 0});
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
} // namespace

const uint8_t *const sysMenuPage = gSysMenu.b;
const uint8_t *const badPage = gBad.b;
const uint8_t *const calTchPage = gCalTch.b;
const uint8_t *const BootPage = gBoot.b;
const uint8_t *const RecoverPage = gRecover.b;
const uint8_t *const faultPage = gFault.b;
const uint8_t *const dialogObj = gDialog.b;

size_t Page_FirstRecord(const uint8_t *page) {
    uint16_t version = le16(page + 8);
    if (version == 0) return 14;
    if (version == 1) return 22;
    return (le16(page + 22) & 1) ? 32 : 24;
}

size_t ObjClass_RecordLength(int type) {
    return type >= 0 && type < kTypeLimit ? kRecordLength[type] : 0;
}

size_t ObjDef_Length(const uint8_t *def) {
    size_t length = ObjClass_RecordLength(le16(def) & 0x0FFF);
    if (length && (le32(def + 2) & 0x1000)) return le16(def + 30);
    return length;
}
