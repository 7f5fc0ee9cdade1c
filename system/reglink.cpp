// Register links: pools of register control blocks, page links, size codes,
// the pseudo-references 992-1023 and the numbered system registers.
#include "system/reglink.h"

#include "base/le.h"
#include "base/trace.h"
#include "net/net.h"
#include "platform/rtc.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "serial/serial.h"
#include "system/appfile.h"
#include "system/sys.h"
#include "web/web.h"

#include <algorithm>
#include <cstring>

RCB *pTchSenRcb;
RCB *pDateRcb;
uint16_t SYS_lastLocalUser;
uint8_t fOptimize;

namespace {

struct State {
    RCB drcb[rcb::kDynamic];
    RCB srcb[rcb::kStatic];
    RCB frcb[rcb::kSystem];
    RCB urcb[rcb::kUsers];
    RCB *pool = frcb;
    int rcbIndex = 0;
    int rcbLimit = rcb::kSystem;
    int used[4] = {}; // blocks handed out by each pool (dynamic, static, system, users)
    int current = 2;
    const uint8_t *pPageExtRef = nullptr;
    uint8_t io_data[rcb::kIoData];
};
State g;

constexpr uint32_t kPgmBlockBytes = 1048576; // capacity of the screen program block
constexpr uint32_t kLinkEntryBytes = 8;

bool is_page_link(uint32_t v) {
    return v >= 2 && v <= 1023;
}
bool is_pseudo(uint32_t ref) {
    return ref >= rcb::kPseudoFirst && ref <= rcb::kPseudoLast;
}

// The external-object status the link table carries in its extension word.
uint8_t ext_status_code(uint32_t ext) {
    uint32_t s = (((ext >> 25) & 0xF) << 4) | (ext & 0xF);
    if (s > 3) {
        if (s & 0x20) return uint8_t((s & 0xF) + 3);
        if (s & 0x40) return uint8_t((s & 0xF) + 7);
        if (s & 0x80) return uint8_t((s & 0xF) + 9);
    }
    return uint8_t(s);
}

// Reference of page link `n` (2-1023), or false when the open page has no
// such entry. An entry of an external object is rebuilt from its extension
// word and posts the object's communication status.
bool resolve_page_link(uint32_t n, uint32_t *ref) {
    const uint8_t *table = g.pPageExtRef;
    if (!table) return false;
    uint64_t at = uint64_t(n - 2) * kLinkEntryBytes;
    // A table inside the screen program block must not be read past the
    // block's data.
    const uint64_t data = std::min<uint64_t>(le32(kesta_pgm_bl + 4), kPgmBlockBytes - 8) + 8;
    if (table >= kesta_pgm_bl && table < kesta_pgm_bl + kPgmBlockBytes &&
        uint64_t(table - kesta_pgm_bl) + at + kLinkEntryBytes > data)
        return false;
    uint32_t r = le32(table + at), ext = le32(table + at + 4);
    if ((r >> 28) == 0x8) {
        r = (r & 0x80000FFFu) | ((ext << 8) & 0x01FFF000u);
        uint32_t obj = r & 0xFFF;
        if (!(r & 0x01000000u) && obj < uint32_t(reg::kExternalSlots)) {
            Ext_Obj_Comm_Status[obj][0] = ext_status_code(ext);
            Ext_Obj_Comm_Status[obj][1] = uint8_t((ext >> 17) & 0xFF);
        }
    }
    *ref = r;
    return true;
}

struct Size {
    uint16_t bits;
    uint8_t bytes; // with rcb::kSigned
};

Size size_of(uint32_t code, bool byte_form) {
    if (byte_form && (code & 0x8000)) {
        uint8_t n = uint8_t(code & 0x7F);
        return {uint16_t(8 * n), n};
    }
    uint32_t low6 = code & 0x3F;
    switch ((code >> 6) & 3) {
    case 0:
        return {uint16_t(low6), uint8_t(((low6 + 7) / 8) | rcb::kSigned)};
    case 3:
        return {uint16_t(8 * low6), uint8_t(low6)};
    default:
        return {uint16_t(low6), uint8_t((low6 + 7) / 8)};
    }
}

// A plain reference must lie in the registers; the external and IEC forms
// (bit 31) are bounded by the register access itself, and link value 1 is
// the placeholder of a block that is re-targeted later.
bool operand_valid(uint32_t ref, uint16_t bits) {
    if (ref == 1 || is_pseudo(ref) || (ref & 0x80000000u)) return true;
    return PlcReg_Ptr(ref, bits) != nullptr;
}

RCB *take(uint32_t ref, Size s, uint8_t fixed) {
    if (!operand_valid(ref, s.bits)) return nullptr;
    if (g.rcbIndex >= g.rcbLimit) return nullptr;
    RCB *r = &g.pool[g.rcbIndex++];
    // A slot handed out again starts clean: a fixed mark of its previous
    // owner would change how SYS_ChgLink treats this block.
    *r = RCB{ref, ref, s.bits, s.bytes, fixed};
    return r;
}

uint8_t width(const RCB *r) {
    return uint8_t(r->bytes & 0x7F);
}

struct Item {
    uint32_t ref, offset, bytes;
};
// Network items of the first interface record, by pseudo-reference.
// clang-format off
constexpr Item kNetItems[] = {
    {992, 56, 1},  // DHCP flag
    {994, 16, 4},  // DNS server
    {1015, 4, 4},  // address
    {1016, 8, 4},  // mask
    {1017, 12, 4}, // gateway
};
// clang-format on
const Item *net_item(uint32_t ref) {
    for (const Item &it : kNetItems)
        if (it.ref == ref) return &it;
    return nullptr;
}

void copy_sr(int first, uint8_t *out, uint32_t n) {
    // The %SR and %ESR areas lie inside the image; n is at most 128.
    size_t off = sr_offset(first);
    n = uint32_t(std::min<size_t>(n, reg::kImageSize - off));
    std::memcpy(out, plc_reg + off, n);
}

void pseudo_read(uint32_t ref, uint8_t *out, uint32_t n) {
    if (const Item *it = net_item(ref)) {
        std::memcpy(out, Dpr_Configuration[0] + it->offset, std::min(n, it->bytes));
        return;
    }
    switch (ref) {
    case 996:
        copy_sr(sr::kFpgaMode, out, n);
        break;
    case 1002:
        out[0] = ParviServerState == 4;
        break;
    case 1003:
        out[0] = user_details_list[152] != 0;
        break;
    case 1005: {
        int16_t v = int16_t(sr_get(sr::kTimeZone));
        uint8_t words[4];
        put_le16(words, uint16_t(int16_t(v % 60)));
        put_le16(words + 2, uint16_t(int16_t(v / 60)));
        std::memcpy(out, words, std::min<uint32_t>(n, 4));
        break;
    }
    case 1006:
        copy_sr(sr::kDaylightSaving, out, std::min<uint32_t>(n, 2));
        break;
    case 1007:
        copy_sr(sr::kUtc, out, n);
        break;
    case 1008:
        copy_sr(sr::kUtc + 3, out, n);
        break;
    case 1010:
        copy_sr(sr::kPowerdown + 1, out, n);
        break;
    case 1011:
        copy_sr(sr::kBoardVariant, out, n);
        break;
    case 1012:
        copy_sr(sr::kPowerdown + 3, out, n);
        break;
    case 1013:
        copy_sr(sr::kSupplyVoltage, out, n);
        break;
    case 1014:
        std::memcpy(out, tinyImage + 32, std::min<uint32_t>(n, sizeof tinyImage - 32));
        break;
    case 1022:
        std::memcpy(out, KernelRev, std::min<uint32_t>(n, sizeof KernelRev));
        break;
    case 1023: {
        uint8_t v[4];
        put_le32(v, InitRdVer);
        std::memcpy(out, v, std::min<uint32_t>(n, 4));
        break;
    }
    default:
        break;
    }
}

// Copies into the calendar registers %SRfirst..%SR217, never past them.
void store_utc(int first, const uint8_t *in, uint32_t n) {
    n = std::min<uint32_t>(n, uint32_t(2 * (sr::kUtc + sr::kUtcWords - first)));
    std::memcpy(plc_reg + sr_offset(first), in, n);
    UtcUpdated = 1;
}

void pseudo_write(const RCB *r, const uint8_t *in, uint32_t n) {
    if (const Item *it = net_item(r->rref)) {
        std::memcpy(Dpr_Configuration[0] + it->offset, in, std::min(n, it->bytes));
        return;
    }
    switch (r->rref) {
    case 1005: {
        // Minutes in word 1, hours in word 2.
        int minutes = n >= 2 ? int16_t(le16(in)) : 0;
        int hours = n >= 4 ? int16_t(le16(in + 2)) : 0;
        sr_put(sr::kTimeZone, uint16_t(int16_t(hours * 60 + minutes)));
        UtcUpdated = 1;
        break;
    }
    case 1006:
        if (n >= 2) sr_put(sr::kDaylightSaving, le16(in));
        break;
    case 1007:
        store_utc(sr::kUtc, in, n);
        break;
    case 1008:
        store_utc(sr::kUtc + 3, in, n);
        break;
    case 1009:
    case 1010:
    case 1011:
    case 1012:
    case 1013:
        PlcReg_Set(sr_ref(int(r->rref - 1009 + sr::kPowerdown)), in, r->bits);
        break;
    default:
        break;
    }
}

} // namespace

namespace {
// Makes pool `which` the current one, keeping what it has handed out.
void select_pool(int which) {
    g.used[g.current] = g.rcbIndex;
    switch (which) {
    case 0:
        g.pool = g.drcb;
        g.rcbLimit = rcb::kDynamic;
        g.current = 0;
        break;
    case 1:
        g.pool = g.srcb;
        g.rcbLimit = rcb::kStatic;
        g.current = 1;
        break;
    case rcb::kUserPool:
        g.pool = g.urcb;
        g.rcbLimit = rcb::kUsers;
        g.current = 3;
        break;
    default:
        g.pool = g.frcb;
        g.rcbLimit = rcb::kSystem;
        g.current = 2;
        break;
    }
    g.rcbIndex = g.used[g.current];
}
} // namespace

void SYS_ResetRCBs(int which) {
    host::trace("SYS_ResetRCBs");
    select_pool(which);
    g.rcbIndex = 0;
    g.pPageExtRef = pPGM_ExtRef;
}

void SYS_SelectRCBs(int which) {
    select_pool(which);
}

void SYS_SetPageLinks(const uint8_t *table) {
    if (table) g.pPageExtRef = table;
}

void SYS_LoadRCBs() {
    host::trace("SYS_LoadRCBs");
}

RCB *SYS_LinkReg(uint32_t link, uint32_t size) {
    uint32_t ref = link;
    if (is_page_link(link & 0xFFFF) && !resolve_page_link(link & 0xFFFF, &ref)) return nullptr;
    return take(ref, size_of(size, true), link == 1 ? 1 : 0);
}

RCB *SYS_32LinkReg(uint32_t link, uint32_t size) {
    uint32_t ref = link;
    if (is_page_link(link) && !resolve_page_link(link, &ref)) return nullptr;
    return take(ref, size_of(size, false), 0);
}

void SYS_ChgLink(RCB *r, uint32_t link, uint32_t size) {
    if (!r) return;
    uint32_t ref = link;
    bool ok = true;
    if (is_pseudo(link)) {
        if (r->ref == 1 || r->fixed)
            r->fixed = 1;
        else
            ok = resolve_page_link(link, &ref);
    } else if (is_page_link(link)) {
        ok = resolve_page_link(link, &ref);
    }
    Size s = size_of(size, false);
    // A target outside the registers leaves a block that reads zeros and
    // writes nothing, rather than the previous target.
    if (!ok || !operand_valid(ref, s.bits)) ref = 0;
    r->ref = r->rref = ref;
    r->bits = s.bits;
    r->bytes = s.bytes;
}

void SYS_ModLink(RCB *r, int32_t offset) {
    if (r) r->rref = r->ref + uint32_t(offset);
}

void SYS_ReadReg(void *dst, const RCB *r, uint32_t size) {
    if (!r) return;
    uint8_t *buf = g.io_data;
    std::memset(buf, 0, sizeof g.io_data);
    uint32_t n = width(r);
    if (is_pseudo(r->rref))
        pseudo_read(r->rref, buf, n);
    else if (r->bits <= 8 * rcb::kIoData)
        PlcReg_Get(buf, r->rref, r->bits);
    uint8_t fill = 0;
    if ((r->bytes & rcb::kSigned) && n > 0 && (buf[n - 1] & 0x80)) fill = 0xFF;
    uint8_t *out = static_cast<uint8_t *>(dst);
    uint32_t copied = std::min(n, size);
    std::memcpy(out, buf, copied);
    if (size > copied) std::memset(out + copied, fill, size - copied);
}

void SYS_WriteReg(const RCB *r, const void *src, uint32_t len) {
    if (!r) return;
    const uint8_t *in = static_cast<const uint8_t *>(src);
    uint8_t *buf = g.io_data;
    uint32_t n = width(r);
    // Missing bytes extend the sign of the last byte the caller gave (never
    // a byte beyond the source).
    uint8_t fill = 0;
    if ((r->bytes & rcb::kSigned) && len > 0 && len < n && (in[len - 1] & 0x80)) fill = 0xFF;
    for (uint32_t i = 0; i < n; ++i)
        buf[i] = i < len ? in[i] : fill;
    if (is_pseudo(r->rref))
        pseudo_write(r, buf, n);
    else
        PlcReg_Set(r->rref, buf, r->bits);
}

void SYS_InitRogueRCB(uint32_t *cell, uint32_t link) {
    if (!cell) return;
    uint32_t ref = link;
    if (is_page_link(link) && !resolve_page_link(link, &ref)) ref = 0;
    *cell = ref;
}

void SYS_WriteRogueRCB(const uint32_t *cell, uint32_t offset, uint32_t bits, const void *src) {
    if (!cell) return;
    uint32_t n = std::min<uint32_t>((bits + 7) / 8, 255);
    if (n == 0) return;
    uint8_t *p = PlcReg_Ptr(*cell + offset, 8 * n);
    if (p) std::memcpy(p, src, n);
}

void SYS_LoadAlarmRcb(uint32_t link, uint32_t bits) {
    uint32_t ref = link;
    if (is_page_link(link) && !resolve_page_link(link, &ref)) ref = 0;
    uint32_t size = (bits + 7) / 8 * 8;
    put_le16(dpram + 4, uint16_t(ref));
    put_le16(dpram + 6, uint16_t(ref >> 16));
    put_le16(dpram + 8, uint16_t(size));
    put_le16(dpram + 10, uint16_t(size >> 16));
}

void SYS_InitTchSen(uint32_t link) {
    pTchSenRcb = link ? SYS_LinkReg(link, 16) : nullptr;
}

RCB *SYS_InitRTC() {
    pDateRcb = SYS_LinkReg(sr_ref(sr::kClock), 206);
    return pDateRcb;
}

uint16_t SYS_ReadSys(int n) {
    if (n < 1 || n > sr::kEsrLast) return 0;
    return sr_get(n);
}

int SYS_WriteSys(int n, uint16_t value) {
    if (n < 1 || n > sr::kEsrLast) return 0;
    uint8_t v[2];
    put_le16(v, value);
    if (n == sr::kUserScreen) SYS_lastLocalUser = value;
    // %SR1-%SR192 pass the system-register checks; %SR193 on are the
    // extended registers, which take the word as it is.
    if (n <= sr::kLast) return SysReg_Write(sr_ref(n), v, 16);
    return PlcReg_Store(sr_ref(n), v, 16);
}

uint32_t SYS_ReadSeg(int segment, uint32_t index) {
    if (segment == 1) {
        uint64_t at = 2ull * index;
        return at + 2 <= kPgmBlockBytes ? le16(kesta_pgm_bl + at) : 0;
    }
    if (segment == 2) {
        uint64_t at = 4 + 4ull * index;
        return at + 4 <= kPgmBlockBytes ? le32(kesta_pgm_bl + at) : 0;
    }
    return 0;
}

void SYS_WriteSeg(int segment, uint32_t index, uint32_t value) {
    if (index > 5) return;
    if (segment == 1) put_le16(kesta_pgm_bl + 2 * index, uint16_t(value));
    if (segment == 2) put_le32(kesta_pgm_bl + 4 + 4 * index, value);
}

int SYS_PackRegs(int on) {
    int old = fOptimize;
    fOptimize = uint8_t(on);
    return old;
}

void RegLink_Reset() {
    g = State{};
    pTchSenRcb = pDateRcb = nullptr;
    SYS_lastLocalUser = 0;
    fOptimize = 0;
}
