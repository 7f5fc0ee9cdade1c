// The register bridge: binding tables built from the panel program's
// register-location table and the six updates the control scan runs around
// the VM cycle.
#include "iec/kernel/trbridge.h"

#include "base/le.h"
#include "base/trace.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trmap.h"
#include "iec/kernel/trparts.h"
#include "plc/appblocks.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"

#include <cstring>

using namespace trbridge;

TrBitBind VmDbBitInput_ptr[kBitCapacity];
TrBitBind VmDbBitOutput_ptr[kBitCapacity];
TrSysBitBind VmDbBitSys_ptr[kSysBitCapacity];
TrWordBind VmDbWordInput_ptr[kWordCapacity];
TrWordBind VmDbWordOutput_ptr[kWordCapacity];
TrSRWordBind VmDbWordSR_ptr[kSRCapacity];
uint32_t BoolInputEntries, BoolOutputEntries, BoolSysEntries, WordInputEntries, WordOutputEntries,
    WordSREntries;
uint8_t FistScanRegFlag;
uint8_t trevant_variables_enumerateded;
uint32_t trevant_total_variables_enumerated;

namespace {

constexpr uint8_t kOnMask[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
// The system words the application may write back (numbers from 1).
constexpr uint16_t kWritableSR[] = {1, 2, 3, 5, 10, 29, 30, 32, 33, 57, 58, 62, 164, 167, 174, 184};

enum class Class { None, BitIn, BitOut, SysBit, WordIn, WordOut, SysWord };

Class class_of(uint32_t i) {
    if (i < 256) return Class::BitIn;
    if (i < 512) return Class::BitOut;
    if (i < 1024) return Class::SysBit;
    if (i < 1056) return Class::WordIn;
    if (i < 1088) return Class::WordOut;
    if (i < 1344) return Class::SysWord;
    if (i < 3392) return Class::BitIn;
    if (i < 5440) return Class::BitOut;
    if (i < 5952) return Class::WordIn;
    if (i < kVarLocWords) return Class::WordOut;
    return Class::None;
}

uint8_t *image_byte(uint32_t ref) {
    return plc_reg + (ref - reg::kRefIG) / 8;
}

bool writable_sr(uint32_t n) {
    for (uint16_t w : kWritableSR)
        if (w == n) return true;
    return false;
}

uint8_t reg_bit(const uint8_t *reg, uint8_t on_mask, uint8_t bit) {
    return uint8_t((*reg & on_mask) >> bit);
}

// Both sides of a boolean binding: when they differ, the side that changed
// since the last scan wins, and the application when both did.
template <class B> void bit_rule(B &b, uint8_t bit) {
    uint8_t r = reg_bit(b.reg, b.on_mask, bit), v = *b.iec ? 1 : 0;
    if (v != r) {
        if (b.last != v)
            *b.reg = v ? uint8_t(*b.reg | b.on_mask) : uint8_t(*b.reg & b.off_mask);
        else
            *b.iec = r;
    }
    b.last = *b.iec ? 1 : 0;
}

void clear_tables() {
    std::memset(VmDbBitInput_ptr, 0, sizeof VmDbBitInput_ptr);
    std::memset(VmDbBitOutput_ptr, 0, sizeof VmDbBitOutput_ptr);
    std::memset(VmDbBitSys_ptr, 0, sizeof VmDbBitSys_ptr);
    std::memset(VmDbWordInput_ptr, 0, sizeof VmDbWordInput_ptr);
    std::memset(VmDbWordOutput_ptr, 0, sizeof VmDbWordOutput_ptr);
    std::memset(VmDbWordSR_ptr, 0, sizeof VmDbWordSR_ptr);
    BoolInputEntries = BoolOutputEntries = BoolSysEntries = 0;
    WordInputEntries = WordOutputEntries = WordSREntries = 0;
}

bool io_alive() {
    return iVmAlive == 1;
}

} // namespace

uint32_t TrevantVarLocRef(uint32_t i) {
    if (i < 1024) return 1024 + i;
    if (i < 1088) return 2048 + 16 * (i - 1024);
    if (i < 1280) return 3072 + 16 * (i - 1088);
    if (i < 1344) return reg::kRefESR + 16 * (i - 1280);
    if (i < 5440) return 8192 + (i - 1344);
    if (i < kVarLocWords) return 16384 + 16 * (i - 5440);
    return 0;
}

void TrevantBuildBindTables() {
    clear_tables();
    FistScanRegFlag = 3;
    const uint8_t *table = TrevantI0_VarLoc;
    if (!table) return;
    for (uint32_t i = 0; i < kVarLocWords; ++i) {
        uint32_t word = le32(table + 4 * i);
        if (word == 0) continue;
        uint32_t ref = TrevantVarLocRef(i);
        uint8_t bit = uint8_t(i % 8);
        switch (Class c = class_of(i)) {
        case Class::BitIn:
        case Class::BitOut: {
            TrBitBind &b = c == Class::BitIn ? VmDbBitInput_ptr[BoolInputEntries++]
                                             : VmDbBitOutput_ptr[BoolOutputEntries++];
            b = TrBitBind{
                ref,          image_byte(ref),        TrevantCalculateVmDbAddress(word, 1),
                kOnMask[bit], uint8_t(~kOnMask[bit]), 0,
                bit};
            break;
        }
        case Class::SysBit:
            VmDbBitSys_ptr[BoolSysEntries++] =
                TrSysBitBind{ref,
                             image_byte(ref),
                             TrevantCalculateVmDbAddress(word, 1),
                             kOnMask[bit],
                             uint8_t(~kOnMask[bit]),
                             0,
                             uint8_t(bit | (i >= 768 ? kTwoWay : 0))};
            break;
        case Class::WordIn:
        case Class::WordOut: {
            TrWordBind &w = c == Class::WordIn ? VmDbWordInput_ptr[WordInputEntries++]
                                               : VmDbWordOutput_ptr[WordOutputEntries++];
            w = TrWordBind{ref, image_byte(ref), TrevantCalculateVmDbAddress(word, 16), 0};
            break;
        }
        case Class::SysWord: {
            TrSRWordBind &w = VmDbWordSR_ptr[WordSREntries++];
            bool extended = i >= 1280;
            w = TrSRWordBind{ref,
                             extended ? PlcReg_Ptr(ref, 16) : image_byte(ref),
                             TrevantCalculateVmDbAddress(word, 16),
                             0,
                             0,
                             0,
                             0};
            uint32_t n = i - 1088 + 1;
            if (!extended && writable_sr(n)) {
                w.flags = 1;
                VmDbWordSR_MinMax(&w.min, &w.max, int(n - 1));
            }
            break;
        }
        case Class::None:
            break;
        }
    }
}

void TrevantUpdateBitInputRegs() {
    host::trace("TrevantUpdateBitInputRegs");
    if (!io_alive()) return;
    for (uint32_t k = 0; k < BoolInputEntries; ++k) {
        TrBitBind &b = VmDbBitInput_ptr[k];
        if (b.iec) bit_rule(b, b.bit);
    }
}

void TrevantUpdateBitOutputRegs() {
    host::trace("TrevantUpdateBitOutputRegs");
    if (!io_alive()) return;
    for (uint32_t k = 0; k < BoolOutputEntries; ++k) {
        TrBitBind &b = VmDbBitOutput_ptr[k];
        if (b.iec) bit_rule(b, b.bit);
    }
}

namespace {
// Two-way word bindings: a side that moved since the last scan wins (the
// register, when both moved); `last` then keeps the register's value for
// inputs and the variable's for outputs.
void update_words(TrWordBind *table, uint32_t entries, bool outputs) {
    for (uint32_t k = 0; k < entries; ++k) {
        TrWordBind &w = table[k];
        if (!w.iec) continue;
        uint16_t r = le16(w.reg), v = le16(w.iec);
        if (r != v) {
            if (w.last == r)
                put_le16(w.reg, v);
            else
                put_le16(w.iec, r);
        }
        w.last = le16(outputs ? w.iec : w.reg);
    }
}
} // namespace

void TrevantUpdateWordInputRegs() {
    host::trace("TrevantUpdateWordInputRegs");
    if (!io_alive()) return;
    update_words(VmDbWordInput_ptr, WordInputEntries, false);
}

void TrevantUpdateWordOutputRegs() {
    host::trace("TrevantUpdateWordOutputRegs");
    if (!io_alive()) return;
    update_words(VmDbWordOutput_ptr, WordOutputEntries, true);
}

void TrevantUpdateWordSRRegs() {
    host::trace("TrevantUpdateWordSRRegs");
    bool first = FistScanRegFlag & 1;
    for (uint32_t k = 0; k < WordSREntries; ++k) {
        TrSRWordBind &w = VmDbWordSR_ptr[k];
        if (!w.iec || !w.reg) continue;
        uint16_t r = le16(w.reg), v = le16(w.iec);
        if ((w.flags & 1) && !first) {
            bool in_range = (w.flags & 2) || (v >= w.min && v <= w.max);
            if (v != r && w.last != v && in_range)
                put_le16(w.reg, v);
            else
                put_le16(w.iec, r);
        } else {
            put_le16(w.iec, r);
        }
        w.last = le16(w.reg);
    }
    FistScanRegFlag &= uint8_t(~1);
}

void TrevantUpdateBitSysRegs() {
    host::trace("TrevantUpdateBitSysRegs");
    bool first = FistScanRegFlag & 2;
    for (uint32_t k = 0; k < BoolSysEntries; ++k) {
        TrSysBitBind &b = VmDbBitSys_ptr[k];
        if (!b.iec) continue;
        uint8_t bit = b.flags & 0x0F;
        if ((b.flags & kTwoWay) && !first) {
            bit_rule(b, bit);
        } else {
            *b.iec = reg_bit(b.reg, b.on_mask, bit);
            b.last = *b.iec;
        }
    }
    FistScanRegFlag &= uint8_t(~2);
}

void TrevantSetS9Bits() {
    for (uint32_t k = 0; k < BoolSysEntries; ++k)
        if (VmDbBitSys_ptr[k].iec) *VmDbBitSys_ptr[k].iec = 1;
}

uint32_t TrevantCalculateRegToken(const uint8_t *iec, int kind, int input) {
    if (!iec) return 0;
    auto find = [iec](auto *table, uint32_t count) -> uint32_t {
        for (uint32_t k = 0; k < count; ++k)
            if (table[k].iec == iec) return table[k].ref;
        return 0;
    };
    switch (kind) {
    case 0:
        return input ? find(VmDbWordInput_ptr, WordInputEntries)
                     : find(VmDbWordOutput_ptr, WordOutputEntries);
    case 1:
        return input ? find(VmDbBitInput_ptr, BoolInputEntries)
                     : find(VmDbBitOutput_ptr, BoolOutputEntries);
    case 2:
        return find(VmDbWordSR_ptr, WordSREntries);
    case 3:
        return find(VmDbBitSys_ptr, BoolSysEntries);
    default:
        return 0;
    }
}

int EnumTrevantVars() {
    trevant_total_variables_enumerated = 0;
    if (!pDB) {
        trevant_variables_enumerateded = 0;
        return 0;
    }
    uint32_t position = 0;
    for (uint8_t *e = TrMap_GetFirst(pDB, &position); e; e = TrMap_GetNext(pDB, &position)) {
        TrMap_GetSymbol(pDB, e);
        ++trevant_total_variables_enumerated;
    }
    trevant_variables_enumerateded = 1;
    return 1;
}

void ClearTrevantFlags() {
    host::trace("ClearTrevantFlags");
    trevant_variables_enumerateded = 0;
    trevant_total_variables_enumerated = 0;
}

void TrBridge_Reset() {
    clear_tables();
    FistScanRegFlag = 0;
    trevant_variables_enumerateded = 0;
    trevant_total_variables_enumerated = 0;
}
