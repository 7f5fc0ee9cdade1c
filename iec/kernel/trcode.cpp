// Check and accessors of the IEC code image. Every offset and list of the
// image is checked against the image's size before it is read.
#include "iec/kernel/trcode.h"

#include "base/le.h"

#include <algorithm>
#include <cstring>

namespace trcode {
int ExtFieldVersion(uint32_t field) {
    // clang-format off
    static constexpr uint8_t kFrom[kExtFields + 1] = {
        0, 1, 2, 3, 4, 4, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 14, 15, 16, 17, 18, 19, 22, 23, 24};
    // clang-format on
    return field >= 1 && field <= kExtFields ? kFrom[field] : 1000;
}
} // namespace trcode

using namespace trcode;

const uint8_t *TrVMCode_Record(const TrCodeImage &code, uint64_t off, uint64_t len) {
    if (!code.data || off == 0 || off > code.size || len > code.size - off) return nullptr;
    return code.data + off;
}

uint32_t TrVMCode_HeaderWord(const TrCodeImage &code, uint32_t word) {
    if (!code.data || word >= kHeaderWords || code.size < kHeaderSize) return 0;
    return le32(code.data + 4 * word);
}

namespace {
const uint8_t *section(const TrCodeImage &code, uint32_t word, uint64_t len) {
    return TrVMCode_Record(code, TrVMCode_HeaderWord(code, word), len);
}
const uint8_t *sizing(const TrCodeImage &code) {
    return section(code, kSizing, kSizingSize);
}
uint32_t elements(uint16_t count_word) {
    return uint32_t(count_word + 1) & 0xFFFF;
}
uint32_t kind_count(const TrCodeImage &code, uint16_t half) {
    return elements(TrVMCode_GetSizingHalf(code, half));
}
// Offset of a list or section named by an extension field, when the field
// exists and the offset lies inside the image.
uint32_t ext_offset(const TrCodeImage &code, uint32_t field, uint64_t min_len = 1) {
    uint32_t off = TrVMCode_GetExtField(code, field);
    return TrVMCode_Record(code, off, min_len) ? off : 0;
}
} // namespace

int TrVMCode_CheckCode(const TrCodeImage &code) {
    if (!code.data || code.size < kHeaderSize) return 2;
    if ((le32(code.data) & 0xF) != 1) return 2;
    if (!sizing(code)) return 2;
    const uint8_t *id = section(code, kIdent, 6);
    if (!id || std::memcmp(id, "TrRTI", 6) != 0) return 3;
    id = section(code, kIdent, kIdentSize);
    if (!id || std::memcmp(id + 16, "1.0", 4) != 0) return 4;
    return 0;
}

const char *TrVMCode_GetAppName(const TrCodeImage &code) {
    const uint8_t *info = section(code, kInfo, kInfoSize);
    // The name is a text of at most 15 characters and its zero.
    if (!info || !std::memchr(info, 0, 16)) return nullptr;
    return reinterpret_cast<const char *>(info);
}

uint32_t TrVMCode_GetInfoWord(const TrCodeImage &code, uint32_t word) {
    const uint8_t *info = section(code, kInfo, kInfoSize);
    return info && word < kInfoSize / 4 ? le32(info + 4 * word) : 0;
}
uint16_t TrVMCode_GetInfoHalf(const TrCodeImage &code, uint32_t half) {
    const uint8_t *info = section(code, kInfo, kInfoSize);
    return info && half < kInfoSize / 2 ? le16(info + 2 * half) : 0;
}
uint32_t TrVMCode_GetInfoIdentity(const TrCodeImage &code) {
    // The word in front of the place word 7 names: an offset of 0 to 3 would
    // read before the image.
    uint32_t at = TrVMCode_GetInfoWord(code, 7);
    const uint8_t *p = at >= 4 ? TrVMCode_Record(code, at - 4, 4) : nullptr;
    return p ? le32(p) : 0;
}
uint32_t TrVMCode_GetFullBuildStamp(const TrCodeImage &code) {
    return TrVMCode_GetInfoWord(code, 9);
}
uint32_t TrVMCode_GetSfcCrc(const TrCodeImage &code) {
    return TrVMCode_GetInfoWord(code, 10);
}
uint32_t TrVMCode_GetPeriod(const TrCodeImage &code) {
    return TrVMCode_GetInfoWord(code, 6);
}
bool TrVMCode_StartPaused(const TrCodeImage &code) {
    return TrVMCode_GetInfoHalf(code, 16) != 0;
}

// ------------------------------------------------------------ extension

uint32_t TrVMCode_GetExtVersion(const TrCodeImage &code) {
    const uint8_t *ext = section(code, kExtension, 4);
    return ext ? le32(ext) : 0;
}
bool TrVMCode_HasExtField(const TrCodeImage &code, uint32_t field) {
    if (field < 1 || field > kExtFields) return false;
    if (TrVMCode_GetExtVersion(code) < uint32_t(ExtFieldVersion(field))) return false;
    return section(code, kExtension, 4ull * field + 4) != nullptr;
}
uint32_t TrVMCode_GetExtField(const TrCodeImage &code, uint32_t field) {
    if (!TrVMCode_HasExtField(code, field)) return 0;
    return le32(section(code, kExtension, 4ull * field + 4) + 4 * field);
}
uint32_t TrVMCode_GetPassword(const TrCodeImage &code) {
    return TrVMCode_GetExtField(code, 1);
}
int32_t TrVMCode_GetHeapSize(const TrCodeImage &code) {
    return int32_t(TrVMCode_GetExtField(code, 18));
}
uint32_t TrVMCode_GetNbIOs(const TrCodeImage &code) {
    return TrVMCode_GetExtField(code, 8);
}
bool TrVMCode_IsCCPure(const TrCodeImage &code) {
    return TrVMCode_GetExtField(code, 12) & 1;
}
bool TrVMCode_IsCodeDebug(const TrCodeImage &code) {
    return TrVMCode_GetExtVersion(code) >= 20 && (TrVMCode_GetExtField(code, 21) & 2);
}
uint32_t TrVMCode_GetITCount(const TrCodeImage &code) {
    uint32_t v = TrVMCode_GetExtVersion(code);
    return v < 18 ? 0 : v < 20 ? 16 : 64;
}
uint32_t TrVMCode_MBClientConfig(const TrCodeImage &code) {
    return ext_offset(code, 2);
}
uint32_t TrVMCode_AsiConfig(const TrCodeImage &code) {
    return ext_offset(code, 3);
}
uint32_t TrVMCode_StaticEvents(const TrCodeImage &code) {
    return ext_offset(code, 4);
}
uint32_t TrVMCode_GetBusDrv(const TrCodeImage &code) {
    return ext_offset(code, 7);
}
uint32_t TrVMCode_GetCTSegDef(const TrCodeImage &code) {
    return ext_offset(code, 9, 8);
}
uint32_t TrVMCode_GetCTTypeDef(const TrCodeImage &code) {
    return ext_offset(code, 10);
}
uint32_t TrVMCode_GetBusIOList(const TrCodeImage &code) {
    return ext_offset(code, 11);
}
uint32_t TrVMCode_GetRecipes(const TrCodeImage &code) {
    return ext_offset(code, 13);
}
uint32_t TrVMCode_GetVLsts(const TrCodeImage &code) {
    return ext_offset(code, 14);
}
uint32_t TrVMCode_GetCanDef(const TrCodeImage &code) {
    return ext_offset(code, 17);
}
uint32_t TrVMCode_GetITs(const TrCodeImage &code) {
    return ext_offset(code, 20);
}
uint32_t TrVMCode_GetInstanceNames(const TrCodeImage &code) {
    return ext_offset(code, 22);
}
uint32_t TrVMVode_GetEATableVers(const TrCodeImage &code) {
    return ext_offset(code, 24);
}
bool TrVMCode_GetEAX(const TrCodeImage &code, uint32_t *connections, uint32_t *variables) {
    uint32_t c = ext_offset(code, 5), v = ext_offset(code, 6);
    if (!c || !v) return false;
    *connections = c;
    *variables = v;
    return true;
}
uint32_t TrVMCode_GetCTSegAllocSize(const TrCodeImage &code) {
    uint32_t def = TrVMCode_GetCTSegDef(code);
    return def ? le32(code.data + def) : 0;
}
uint32_t TrVMCode_GetCTSegUsedSize(const TrCodeImage &code) {
    uint32_t def = TrVMCode_GetCTSegDef(code);
    return def ? le32(code.data + def + 4) : 0;
}

namespace {
// String tables and signal definitions: u16, u16 count, u32 offsets.
uint32_t table_entry(const TrCodeImage &code, uint32_t field, uint32_t n) {
    uint32_t off = ext_offset(code, field, 4);
    if (!off || n == 0 || n > le16(code.data + off + 2)) return 0;
    const uint8_t *e = TrVMCode_Record(code, uint64_t(off) + 4 * uint64_t(n), 4);
    return e ? le32(e) : 0;
}
} // namespace

bool TrVMCode_GetDefStringTable(const TrCodeImage &code) {
    uint32_t off = ext_offset(code, 15, 2);
    return off && le16(code.data + off) != 0;
}
uint32_t TrVMCode_GetStringTable(const TrCodeImage &code, uint32_t n) {
    return table_entry(code, 15, n);
}
uint32_t TrVMCode_GetSignal(const TrCodeImage &code, uint32_t n) {
    return table_entry(code, 16, n);
}

// ------------------------------------------------------------- programs

uint32_t TrVMCode_GetNbProg(const TrCodeImage &code) {
    const uint8_t *r = section(code, kProgCount, 4);
    return r ? elements(le16(r)) : 0;
}
uint32_t TrVMCode_GetNbProgAlloc(const TrCodeImage &code) {
    return std::max(TrVMCode_GetNbProg(code), TrVMCode_GetExtField(code, 19));
}
bool TrVMCode_GetProgram(const TrCodeImage &code, uint32_t n, uint32_t *offset, uint32_t *attribute,
                         uint16_t *nostack) {
    // Record n alone: callers walk from 0 and stop at the first false, so
    // the list ends at the first record of offset 0.
    uint32_t list = TrVMCode_HeaderWord(code, kProgList);
    const uint8_t *r =
        TrVMCode_Record(code, uint64_t(list) + uint64_t(n) * kProgEntrySize, kProgEntrySize);
    if (!r || le32(r) == 0) return false;
    if (offset) *offset = le32(r);
    if (attribute) *attribute = le32(r + 4);
    if (nostack) *nostack = le16(r + 8);
    return true;
}
uint32_t TrVMCode_GetNbProgWithStack(const TrCodeImage &code) {
    uint32_t n = 0;
    uint16_t nostack = 0;
    for (uint32_t i = 0; TrVMCode_GetProgram(code, i, nullptr, nullptr, &nostack); ++i)
        if (nostack == 0) ++n;
    return n;
}
uint32_t TrVMCode_GetCallStackSize(const TrCodeImage &code) {
    const uint8_t *r = section(code, kProgCount, 4);
    uint32_t s = r ? le16(r + 2) : 0;
    return s ? s : 16;
}
uint64_t TrVMCode_GetCallStackAllocSize(const TrCodeImage &code) {
    return uint64_t(TrVMCode_GetCallStackSize(code)) * (TrVMCode_GetNbProgWithStack(code) + 1ull);
}

// --------------------------------------------------------------- sizing

uint16_t TrVMCode_GetSizingHalf(const TrCodeImage &code, uint32_t half) {
    const uint8_t *s = sizing(code);
    return s && half < kSizingSize / 2 ? le16(s + 2 * half) : 0;
}
uint32_t TrVMCode_GetNbLockFlags(const TrCodeImage &code) {
    // One more than the largest count word: the largest element count.
    uint32_t n = 0;
    for (const KindWords &k : {kData8, kData16, kData32, kData64, kTime, kString})
        n = std::max(n, kind_count(code, k.count));
    return n;
}
uint32_t TrVMCode_GetNbData8(const TrCodeImage &code) {
    return kind_count(code, kData8.count);
}
uint32_t TrVMCode_GetNbData16(const TrCodeImage &code) {
    return kind_count(code, kData16.count);
}
uint32_t TrVMCode_GetNbData32(const TrCodeImage &code) {
    return kind_count(code, kData32.count);
}
uint32_t TrVMCode_GetNbData64(const TrCodeImage &code) {
    return kind_count(code, kData64.count);
}
uint32_t TrVMCode_GetNbTime(const TrCodeImage &code) {
    return kind_count(code, kTime.count);
}
uint32_t TrVMCode_GetNbActiveTime(const TrCodeImage &code) {
    return kind_count(code, kActiveTime);
}
uint32_t TrVMCode_GetNbStep(const TrCodeImage &code) {
    return kind_count(code, kSteps);
}
uint32_t TrVMCode_GetNbTrans(const TrCodeImage &code) {
    return kind_count(code, kTrans);
}
uint32_t TrVMCode_GetNbXV(const TrCodeImage &code) {
    return kind_count(code, kXVCount);
}

uint32_t TrVMCode_GetInitWord(const TrCodeImage &code, uint32_t word) {
    const uint8_t *init = section(code, kInit, kInitSize);
    return init && word < kInitSize / 4 ? le32(init + 4 * word) : 0;
}

uint8_t TrVMCode_GetStringCapacity(const TrCodeImage &code, uint32_t k) {
    uint32_t list = TrVMCode_GetInitWord(code, 6);
    if (k == 0 || k > TrVMCode_GetSizingHalf(code, kString.count)) return 0;
    // The list ends at its first 0; capacities behind it do not count.
    for (uint32_t i = 1; i <= k; ++i) {
        const uint8_t *c = TrVMCode_Record(code, uint64_t(list) + i - 1, 1);
        if (!c || *c == 0) return 0;
        if (i == k) return *c;
    }
    return 0;
}

uint32_t TrVMCode_GetNbString(const TrCodeImage &code, uint64_t *buffer_bytes) {
    uint32_t count = kind_count(code, kString.count);
    if (buffer_bytes) {
        uint64_t sum = 0;
        uint32_t list = TrVMCode_GetInitWord(code, 6);
        uint32_t most = TrVMCode_GetSizingHalf(code, kString.count);
        for (uint32_t i = 0; i < most; ++i) {
            const uint8_t *c = TrVMCode_Record(code, uint64_t(list) + i, 1);
            if (!c || *c == 0) break;
            sum += uint64_t(*c) + 3;
        }
        const uint8_t *s = sizing(code);
        uint64_t minimum = s ? le32(s + 4 * kStringMinWord) : 0;
        *buffer_bytes = std::max(sum, minimum);
    }
    return count;
}

// ------------------------------------------------- blocks and functions

uint32_t TrVMCode_GetInstanceList(const TrCodeImage &code) {
    return section(code, kInstances, 16) ? TrVMCode_HeaderWord(code, kInstances) : 0;
}
uint32_t TrVMCode_GetNbFBInstance(const TrCodeImage &code) {
    uint32_t l = TrVMCode_GetInstanceList(code);
    return l ? elements(le16(code.data + l)) : 0;
}
uint32_t TrVMCode_GetWishedFBIRawSize(const TrCodeImage &code) {
    uint32_t l = TrVMCode_GetInstanceList(code);
    return l ? le32(code.data + l + 12) : 0;
}
uint32_t TrVMCode_GetClassList(const TrCodeImage &code) {
    return section(code, kClasses, 4) ? TrVMCode_HeaderWord(code, kClasses) : 0;
}
uint32_t TrVMCode_GetNbClassEntries(const TrCodeImage &code) {
    uint32_t l = TrVMCode_GetClassList(code);
    return l ? le16(code.data + l + 2) : 0;
}
uint32_t TrVMCode_GetCustomFuncList(const TrCodeImage &code) {
    return section(code, kCustomFuncs, 4) ? TrVMCode_HeaderWord(code, kCustomFuncs) : 0;
}
uint32_t TrVMCode_GetNbCustomFunc(const TrCodeImage &code) {
    uint32_t l = TrVMCode_GetCustomFuncList(code);
    return l ? le16(code.data + l + 2) : 0;
}

uint32_t TrVMCode_GetVarTypeList(const TrCodeImage &code) {
    uint32_t off = TrVMCode_GetInitWord(code, 7);
    return TrVMCode_Record(code, off, 1) ? off : 0;
}
uint32_t TrVMCode_GetIODef(const TrCodeImage &code) {
    return section(code, kIODef, 1) ? TrVMCode_HeaderWord(code, kIODef) : 0;
}
uint32_t TrVMCode_GetPublishedList(const TrCodeImage &code) {
    return section(code, kPublic, kMapHeaderSize) ? TrVMCode_HeaderWord(code, kPublic) : 0;
}
