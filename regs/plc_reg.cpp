// The register image, register references and the image's initialisation.
#include "regs/plc_reg.h"

#include "base/le.h"

#include <cstdio>
#include <cstring>

uint8_t plc_reg[reg::kImageSize];
uint8_t old_reg[reg::kImageSize];
uint8_t ExternalRegs[reg::kExternalSlots][reg::kExternalSlotBytes];
uint8_t *ExternalRegsOffsets[reg::kExternalSlots];
uint8_t Ext_Obj_Comm_Status[reg::kExternalSlots][4];

namespace {

constexpr char kMarkerText[8] = {'W', 'A', 'T', 'C', 'H', 'B', 'A', 'T'};
constexpr uint32_t kIecMark = 0xC0000000u;
constexpr uint32_t kExternalMark = 0x80000000u;
// Read like a direct reference even when it carries the IEC mark.
constexpr uint32_t kIecAsDirect = 0xFFFFFFFEu;

// The areas a direct or extended reference may address. An access must lie
// wholly inside the area its reference starts in: a long access at the end of
// one area never spills into whatever follows it in the image.
struct RefArea {
    uint32_t first; // first reference
    uint32_t end;   // one past the last reference
    uint32_t byte;  // image offset of the first reference
};
constexpr RefArea kRefAreas[] = {
    {reg::kRefIG, reg::kRefDirectEnd, 0},
    {reg::kRefET, reg::kRefETEnd, reg::kET},
    {reg::kRefEM, reg::kRefEMEnd, reg::kEM},
    {reg::kRefESR, reg::kRefESREnd, reg::kESR},
};

enum class Form { Image, External, Iec };

PlcRegHooks g_hooks;

bool iec_variables() {
    return g_hooks.iec_running && g_hooks.iec_running() && PlcReg_IecEnumerated();
}
bool online_programming() {
    return g_hooks.online_programming && g_hooks.online_programming();
}
uint8_t *iec_address(uint32_t ref, uint32_t bits) {
    return g_hooks.iec_address ? g_hooks.iec_address(ref, bits) : nullptr;
}

Form form_of(uint32_t ref) {
    if ((ref & kIecMark) == kIecMark && ref != 0xFFFFFFFFu && iec_variables()) return Form::Iec;
    if (ref & kExternalMark) return Form::External;
    return Form::Image;
}

// Image offset of a direct or extended reference, or -1 when the access does
// not fit its area. A zero-width access still needs a valid first bit.
long image_offset(uint32_t ref, uint32_t bits) {
    uint64_t span = bits ? bits : 1;
    for (const RefArea &a : kRefAreas) {
        if (ref < a.first || ref >= a.end) continue;
        if (uint64_t(ref) + span > a.end) return -1;
        return long(a.byte + (ref - a.first) / 8);
    }
    return -1;
}

uint32_t ext_slot(uint32_t ref) {
    return ref & 0x1FF;
}
uint32_t ext_bit_offset(uint32_t ref) {
    return (ref >> 12) & 0x1FF;
}
bool run_mode_driven() {
    return sr_get(sr::kRunMode) == sr::kModeRun;
}

uint8_t *external_ptr(uint32_t ref, uint32_t bits) {
    uint32_t slot = ext_slot(ref);
    if (run_mode_driven() && ExternalRegsOffsets[slot])
        return ExternalRegsOffsets[slot] + ext_bit_offset(ref) / 8;
    // Without a redirect every access starts at the slot's first byte, so it
    // must fit the slot's own 32 bytes.
    if (bits > 8u * reg::kExternalSlotBytes) return nullptr;
    return ExternalRegs[slot];
}

unsigned bit_position(uint32_t ref, Form form) {
    return form == Form::External ? (ext_bit_offset(ref) & 7) : (ref & 7);
}

// IEC variables: element type in bits 28-26, bit position in bits 25-20.
unsigned iec_type(uint32_t ref) {
    return (ref >> 26) & 7;
}
unsigned iec_bit(uint32_t ref) {
    return (ref >> 20) & 0x3F;
}
constexpr unsigned kIecString = 4, kIecBool = 6;

unsigned iec_element_size(unsigned type) {
    switch (type) {
    case 0:
    case kIecBool:
        return 1;
    case 1:
        return 2;
    case 2:
    case 5:
        return 4;
    case 3:
        return 8;
    default:
        return 0;
    }
}

uint64_t load_element(const uint8_t *p, unsigned size) {
    switch (size) {
    case 1:
        return p[0];
    case 2:
        return le16(p);
    case 4:
        return le32(p);
    default:
        return le64(p);
    }
}

void store_element(uint8_t *p, unsigned size, uint64_t v) {
    switch (size) {
    case 1:
        p[0] = uint8_t(v);
        break;
    case 2:
        put_le16(p, uint16_t(v));
        break;
    case 4:
        put_le32(p, uint32_t(v));
        break;
    default:
        put_le64(p, v);
        break;
    }
}

// The runtime hands out the address of a string's text; its capacity and
// current length are the two bytes in front of it.
int iec_get(uint8_t *dst, uint32_t ref, uint32_t bits) {
    unsigned type = iec_type(ref), pos = iec_bit(ref);
    const uint8_t *p = iec_address(ref, bits);
    if (type == kIecString) {
        if (!p) return 1; // a string not yet set reads nothing
        // Copy the current text only, never past the string's capacity.
        size_t n = bits / 8, len = p[-1] < p[-2] ? p[-1] : p[-2];
        size_t take = len < n ? len : n;
        std::memcpy(dst, p, take);
        std::memset(dst + take, 0, n - take);
        return 1;
    }
    if (!p) return 0;
    unsigned size = iec_element_size(type);
    if (bits == 1) {
        if (!size) return 0;
        dst[0] = pos < 8 * size ? uint8_t((load_element(p, size) >> pos) & 1) : 0;
        return 1;
    }
    if (type == kIecBool) {
        if (g_hooks.iec_byte_to_bit) g_hooks.iec_byte_to_bit(p, dst, bits);
        return 1;
    }
    if (pos != 0 && size > 1) {
        for (uint32_t i = 0; i < bits / 8; i++)
            dst[i] = pos < 8 * size ? uint8_t((load_element(p + i * size, size) >> pos) & 1) : 0;
        return 1;
    }
    std::memcpy(dst, p, bits / 8);
    return 1;
}

void iec_set(uint32_t ref, const uint8_t *src, uint32_t bits) {
    if (online_programming()) return;
    unsigned type = iec_type(ref), pos = iec_bit(ref);
    uint8_t *p = iec_address(ref, bits);
    if (!p) return;
    if (type == kIecString) {
        uint8_t capacity = p[-2];
        size_t len = strnlen(reinterpret_cast<const char *>(src), bits / 8);
        if (len > capacity) return;
        p[-1] = uint8_t(len);
        std::memcpy(p, src, len);
        if (len < capacity) p[len] = 0;
        return;
    }
    unsigned size = iec_element_size(type);
    if (bits == 1) {
        if (!size || pos >= 8 * size) return;
        uint64_t v = load_element(p, size);
        v = src[0] ? (v | (uint64_t(1) << pos)) : (v & ~(uint64_t(1) << pos));
        store_element(p, size, v);
        return;
    }
    if (type == kIecBool) {
        PlcReg_IecBitToByte(src, p, bits);
        return;
    }
    std::memcpy(p, src, bits / 8);
}

void zero(uint32_t offset, size_t len) {
    std::memset(plc_reg + offset, 0, len);
}

bool sr_number_valid(int n) {
    return n >= 1 && n <= 448;
}

} // namespace

uint8_t *PlcReg_Ptr(uint32_t ref, uint32_t bits) {
    switch (form_of(ref)) {
    case Form::Iec:
        return iec_address(ref, bits);
    case Form::External:
        return external_ptr(ref, bits);
    case Form::Image:
        break;
    }
    long off = image_offset(ref, bits);
    return off < 0 ? nullptr : plc_reg + off;
}

int PlcReg_Get(void *dst, uint32_t ref, uint32_t bits) {
    uint8_t *out = static_cast<uint8_t *>(dst);
    Form form = form_of(ref);
    if (form == Form::Iec && !online_programming() && ref != kIecAsDirect)
        return iec_get(out, ref, bits);
    if (form == Form::External && !run_mode_driven()) {
        // A driver's slot is only live while the controller drives its I/O.
        if (bits > 8u * reg::kExternalSlotBytes) return 0;
        std::memset(out, 0, bits == 1 ? 1 : bits / 8);
        Ext_Obj_Comm_Status[ext_slot(ref)][2] = 1;
        return 1;
    }
    const uint8_t *p = PlcReg_Ptr(ref, bits);
    if (!p) return 0;
    if (bits == 1)
        out[0] = (p[0] >> bit_position(ref, form)) & 1;
    else
        std::memcpy(out, p, bits / 8);
    return 1;
}

int PlcReg_Store(uint32_t ref, const void *src, uint32_t bits) {
    const uint8_t *in = static_cast<const uint8_t *>(src);
    uint8_t *p = PlcReg_Ptr(ref, bits);
    if (!p) return 0;
    if (bits == 1) {
        uint8_t mask = uint8_t(1u << bit_position(ref, form_of(ref)));
        p[0] = in[0] ? uint8_t(p[0] | mask) : uint8_t(p[0] & ~mask);
    } else {
        std::memcpy(p, in, bits / 8);
    }
    return 1;
}

void PlcReg_Set(uint32_t ref, const void *src, uint32_t bits) {
    Form form = form_of(ref);
    if (form == Form::Iec) {
        iec_set(ref, static_cast<const uint8_t *>(src), bits);
        return;
    }
    if (form == Form::Image) {
        if (ref >= reg::kRefSR && ref < reg::kRefF) {
            if (g_hooks.sys_write) g_hooks.sys_write(ref, src, bits);
            return;
        }
        // A write from below must not reach into the system registers
        // without passing their checks.
        if (ref < reg::kRefSR && uint64_t(ref) + bits > reg::kRefSR) return;
    }
    PlcReg_Store(ref, src, bits);
}

uint8_t *OldReg_Ptr(uint32_t ref, uint32_t bits) {
    uint64_t span = bits ? bits : 1;
    if (ref < reg::kRefIG || uint64_t(ref) + span > reg::kRefDirectEnd) return nullptr;
    return old_reg + (ref - reg::kRefIG) / 8;
}

int PlcBatCheck() {
    return std::memcmp(plc_reg + reg::kMarker, kMarkerText, sizeof kMarkerText) == 0;
}

void PlcTmpClear() {
    zero(reg::kK, reg::kAIG - reg::kK);
    zero(reg::kQ, reg::kT - reg::kQ);
    zero(reg::kT, reg::kM - reg::kT);
    zero(reg::kAQ, reg::kR - reg::kAQ);
    zero(reg::kET, reg::kEM - reg::kET);
    sbit_put(sbit::kIecS9, 0);
    sbit_put(sbit::kStatsFrozen, 0);
    sr_put(sr::kBacklight, 255);
    sr_put(sr::kReserved58, 0);
    sr_put(sr::kReserved62, 0);
    sr_put(sr::kBeepOverride, 0);
}

void PlcReg_SetHooks(const PlcRegHooks &hooks) {
    g_hooks = hooks;
}

bool PlcReg_IecEnumerated() {
    return g_hooks.iec_enumerated && g_hooks.iec_enumerated();
}

void PlcReg_IecBitToByte(const uint8_t *src, uint8_t *dst, uint32_t n) {
    if (g_hooks.iec_bit_to_byte) g_hooks.iec_bit_to_byte(src, dst, n);
}

void PlcOldInit() {
    std::memcpy(old_reg, plc_reg, sizeof old_reg);
}

void PlcReg_Reset() {
    std::memset(plc_reg, 0, sizeof plc_reg);
    std::memset(old_reg, 0, sizeof old_reg);
    std::memset(ExternalRegs, 0, sizeof ExternalRegs);
    for (uint8_t *&p : ExternalRegsOffsets)
        p = nullptr;
    std::memset(Ext_Obj_Comm_Status, 0, sizeof Ext_Obj_Comm_Status);
}

uint16_t sr_get(int n) {
    return sr_number_valid(n) ? le16(plc_reg + sr_offset(n)) : 0;
}

void sr_put(int n, uint16_t v) {
    if (sr_number_valid(n)) put_le16(plc_reg + sr_offset(n), v);
}

// The two halves may lie in different areas (%SR192 and %SR193).
uint32_t sr_get32(int n) {
    return uint32_t(sr_get(n)) | (uint32_t(sr_get(n + 1)) << 16);
}

void sr_put32(int n, uint32_t v) {
    sr_put(n, uint16_t(v));
    sr_put(n + 1, uint16_t(v >> 16));
}

int sbit_get(int n) {
    if (n < 1 || n > 256) return 0;
    return (plc_reg[reg::kS + unsigned(n - 1) / 8] >> ((n - 1) % 8)) & 1;
}

void sbit_put(int n, int on) {
    if (n < 1 || n > 256) return;
    uint8_t &b = plc_reg[reg::kS + unsigned(n - 1) / 8];
    uint8_t mask = uint8_t(1u << ((n - 1) % 8));
    b = on ? uint8_t(b | mask) : uint8_t(b & ~mask);
}
