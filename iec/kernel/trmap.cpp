// The variable map and the status information of public variables.
//
// Everything the map reads comes from the code image or from the database,
// which may have been read back from a file: record sizes, offsets and chain
// links are checked before use, and a chain walk takes at most as many steps
// as there are entries.
#include "iec/kernel/trmap.h"

#include "base/le.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trstr.h"
#include "iec/kernel/trvm.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>

using namespace trmap;

namespace {

uint8_t *segment(uint8_t *db, uint32_t k, uint32_t *n) {
    *n = 0;
    return db ? TrDB_Segment(db, TrVM_DBSize(db), k, n) : nullptr;
}

struct MapView {
    uint8_t *base = nullptr; // segment 24
    uint32_t size = 0, element = 0, count = 0;
    uint8_t *heads = nullptr; // segment 25
};

MapView map_view(uint8_t *db) {
    MapView m;
    uint32_t n24 = 0, n25 = 0;
    uint8_t *s24 = segment(db, 24, &n24);
    uint8_t *s25 = segment(db, 25, &n25);
    if (!s24 || !s25 || n25 < 4 * kHeads) return m;
    VmDbSegment d = TrDB_GetSegment(db, 24);
    if (d.element_size != kEntrySize && d.element_size != kEntrySizeVsi) return m;
    m.base = s24;
    m.size = n24;
    m.element = d.element_size;
    m.count = d.count_b;
    // A count beyond the segment (a damaged image of the database) is cut.
    if (uint64_t(m.count) * m.element > n24) m.count = n24 / m.element;
    m.heads = s25;
    return m;
}

uint8_t *entry_at(uint8_t *, const MapView &m, uint32_t n) {
    return m.base && n < m.count ? m.base + uint64_t(n) * m.element : nullptr;
}

// The entry at database offset `off`, or null when it names none.
uint8_t *entry_by_offset(uint8_t *db, const MapView &m, uint32_t off) {
    if (!m.base || off == 0) return nullptr;
    uint32_t start = uint32_t(m.base - db);
    if (off < start || (off - start) % m.element) return nullptr;
    return entry_at(db, m, (off - start) / m.element);
}

// The entry's code record (its 16 fixed bytes and size checked), or null.
const uint8_t *record(const uint8_t *entry, uint16_t *size = nullptr) {
    if (!entry) return nullptr;
    uint32_t at = le32(entry + kRecord);
    const uint8_t *r = TrVMCode_Record(pCode, at, kRecSymbol);
    if (!r) return nullptr;
    uint16_t rs = le16(r + kRecSize);
    if (rs < kRecSymbol || !TrVMCode_Record(pCode, at, rs)) return nullptr;
    if (size) *size = rs;
    return r;
}

uint16_t norm_type(uint16_t t) {
    t &= 0xFF7F;
    switch (t) {
    case 14:
        return 10;
    case 15:
        return 11;
    case 16:
        return 2;
    case 17:
        return 12;
    default:
        return t;
    }
}

uint32_t symbol_bucket(const char *s) {
    uint32_t h = 0;
    for (; *s; ++s) {
        uint8_t c = uint8_t(*s);
        if (c >= 'a' && c <= 'z') c = uint8_t(c - 32);
        h = (33 * h + c) & 0xFFFF;
    }
    return h % 17;
}

const char *record_symbol(const uint8_t *r, uint16_t rs) {
    if (!(le16(r + kRecFlags) & kFlagSymbol)) return nullptr;
    const char *s = reinterpret_cast<const char *>(r + kRecSymbol);
    return std::memchr(s, 0, rs - kRecSymbol) ? s : nullptr;
}

// The extras of a record: type information, profile name, properties.
struct Extras {
    const uint8_t *type_info = nullptr, *profile = nullptr, *props = nullptr;
    uint32_t props_size = 0;
};
Extras extras(const uint8_t *r, uint16_t rs) {
    Extras x;
    uint16_t flags = le16(r + kRecFlags);
    uint32_t at = le16(r + kRecExtras);
    if (at < kRecSymbol || at > rs) return x;
    if (flags & kFlagTypeInfo) {
        if (at + kTypeInfoSize > rs) return x;
        x.type_info = r + at;
        at += kTypeInfoSize;
    }
    if (flags & kFlagProfile) {
        if (at + kProfileSize > rs) return x;
        x.profile = r + at;
        at += kProfileSize;
    }
    if (flags & kFlagProps) {
        x.props = r + at;
        x.props_size = rs - at;
    }
    return x;
}

uint32_t element_of(uint16_t t) {
    switch (t) {
    case 1:
    case 10:
    case 14:
        return 1;
    case 11:
    case 15:
        return 2;
    case 2:
    case 3:
    case 16:
    case 4:
        return 4;
    case 12:
    case 13:
    case 17:
        return 8;
    default:
        return 0;
    }
}
uint32_t segment_of(uint16_t t) {
    switch (t) {
    case 1:
    case 10:
    case 14:
        return 6;
    case 11:
    case 15:
        return 7;
    case 2:
    case 3:
    case 16:
        return 8;
    case 4:
        return 10;
    default:
        return 9;
    }
}

// The buffer of STRING k when segment 17 [k] places it inside segment 18.
uint8_t *string_buffer(uint8_t *db, uint32_t k) {
    uint32_t n17 = 0, n18 = 0;
    uint8_t *ptrs = segment(db, 17, &n17);
    uint8_t *bufs = segment(db, 18, &n18);
    if (!ptrs || !bufs || 4ull * k + 4 > n17) return nullptr;
    uint32_t p = le32(ptrs + 4 * k), start = uint32_t(bufs - db);
    if (p < start || p >= start + n18 || uint64_t(p) + db[p] + 3 > uint64_t(start) + n18)
        return nullptr;
    return db + p;
}

// Database offset of a record's data, 0 when its elements do not all lie
// inside their segment.
uint32_t data_offset(uint8_t *db, const uint8_t *r, uint16_t rs) {
    uint16_t type = le16(r + kRecType), t = type & 0xFF7F;
    uint32_t index = le16(r + kRecIndex), dim = le16(r + kRecDim);
    if (dim == 0) dim = 1;
    uint32_t n = 0;
    if (type & 0x80) {
        uint8_t *xv = segment(db, 26, &n);
        if (!xv || 4ull * index + 4 > n) return 0;
        uint32_t off = le32(xv + 4 * index);
        return off >= trdb::kHeaderSize && off < TrVM_DBSize(db) ? off : 0;
    }
    if (t == 5) {
        for (uint32_t e = 0; e < dim; ++e)
            if (!string_buffer(db, index + e)) return 0;
        return uint32_t(string_buffer(db, index) - db);
    }
    if (t == 127) {
        Extras x = extras(r, rs);
        uint8_t *s35 = segment(db, 35, &n);
        if (!x.type_info || !s35 || le32(x.type_info) >= n) return 0;
        return uint32_t(s35 - db) + le32(x.type_info);
    }
    uint32_t size = element_of(t);
    if (!size) return 0;
    uint8_t *seg = segment(db, segment_of(t), &n);
    if (!seg || (uint64_t(index) + dim) * size > n) return 0;
    return uint32_t(seg - db) + index * size;
}

// Walks a chain from a head; f(entry) true stops on it.
template <class F> uint8_t *walk(uint8_t *db, const MapView &m, uint32_t head, F f) {
    if (!m.heads) return nullptr;
    uint32_t off = le32(m.heads + 4 * head);
    uint32_t link = head >= kSymbolHeads ? kNextSymbol : head >= kTagHeads ? kNextTag : kNextIndex;
    for (uint32_t steps = 0; off && steps <= m.count; ++steps) {
        uint8_t *e = entry_by_offset(db, m, off);
        if (!e) return nullptr;
        if (f(e)) return e;
        off = le32(e + link);
    }
    return nullptr;
}

uint8_t lock_bit(uint16_t type) {
    if (type & 0x80) return 0x80;
    switch (element_of(type & 0xFF7F)) {
    case 1:
        return 0x01;
    case 2:
        return 0x02;
    case 8:
        return 0x08;
    case 4:
        return (type & 0xFF7F) == 4 ? 0x10 : 0x04;
    default:
        return (type & 0xFF7F) == 5 ? 0x20 : 0;
    }
}

struct Datum {
    uint8_t *p = nullptr;
    uint16_t type = 0; // masked
};
Datum datum(uint8_t *db, const uint8_t *entry) {
    Datum d;
    if (!record(entry)) return d;
    d.p = TrMap_GetData(db, entry);
    d.type = TrMap_GetType(db, entry) & 0xFF7F;
    return d;
}

template <class T> T saturate(double v) {
    if (std::isnan(v)) return 0;
    if (v <= double(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (v >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return T(v);
}

float as_float(uint32_t raw) {
    float f;
    std::memcpy(&f, &raw, 4);
    return f;
}
double as_double(uint64_t raw) {
    double d;
    std::memcpy(&d, &raw, 8);
    return d;
}

// The value as a double and as 64 integer bits (signed types sign-extended;
// 8-bit types as the unsigned byte, as the map hands them out).
bool read_value(const Datum &d, double *real, int64_t *whole) {
    if (!d.p) return false;
    switch (d.type) {
    case 1:
    case 14:
        *whole = d.p[0];
        *real = double(d.p[0]);
        return true;
    case 10:
        *whole = d.p[0];
        *real = double(int8_t(d.p[0]));
        return true;
    case 11:
        *whole = int16_t(le16(d.p));
        break;
    case 15:
        *whole = le16(d.p);
        break;
    case 2:
        *whole = int32_t(le32(d.p));
        break;
    case 16:
    case 4:
        *whole = le32(d.p);
        break;
    case 12:
        *whole = int64_t(le64(d.p));
        break;
    case 17:
        *whole = int64_t(le64(d.p));
        *real = double(le64(d.p));
        return true;
    case 3:
        *real = as_float(le32(d.p));
        *whole = saturate<int64_t>(*real);
        return true;
    case 13:
        *real = as_double(le64(d.p));
        *whole = saturate<int64_t>(*real);
        return true;
    default:
        return false;
    }
    *real = double(*whole);
    return true;
}

// Stores an integer (or, for REAL and LREAL, `real`) at the variable's width.
int write_value(uint8_t *db, uint8_t *entry, int64_t whole, double real, bool is_real) {
    Datum d = datum(db, entry);
    if (!d.p || TrMap_IsLocked(db, entry)) return 1;
    if (is_real && d.type != 3 && d.type != 13) {
        // A floating value into an integer: saturated, never undefined.
        switch (d.type) {
        case 10:
            whole = saturate<int8_t>(real);
            break;
        case 14:
            whole = saturate<uint8_t>(real);
            break;
        case 11:
            whole = saturate<int16_t>(real);
            break;
        case 15:
            whole = saturate<uint16_t>(real);
            break;
        case 2:
            whole = saturate<int32_t>(real);
            break;
        case 16:
        case 4:
            whole = saturate<uint32_t>(real);
            break;
        case 17:
            whole = int64_t(saturate<uint64_t>(real));
            break;
        default:
            whole = saturate<int64_t>(real);
            break;
        }
    }
    switch (d.type) {
    case 1:
        d.p[0] = (is_real ? real != 0 : whole != 0) ? 1 : 0;
        return 0;
    case 10:
    case 14:
        d.p[0] = uint8_t(whole);
        return 0;
    case 11:
    case 15:
        put_le16(d.p, uint16_t(whole));
        return 0;
    case 2:
    case 16:
    case 4:
        put_le32(d.p, uint32_t(whole));
        return 0;
    case 12:
    case 17:
        put_le64(d.p, uint64_t(whole));
        return 0;
    case 3: {
        float f = float(is_real ? real : double(whole));
        uint32_t raw;
        std::memcpy(&raw, &f, 4);
        put_le32(d.p, raw);
        return 0;
    }
    case 13: {
        double v = is_real ? real : double(whole);
        uint64_t raw;
        std::memcpy(&raw, &v, 8);
        put_le64(d.p, raw);
        return 0;
    }
    default:
        return 1;
    }
}

uint8_t *vsi_of(uint8_t *db, uint16_t type, uint32_t index) {
    return TrMap_GetVSI(db, TrMap_GetByIndex(db, type, index));
}

void put_be16(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

} // namespace

// ================================================================= build

int TrVMMap_Build(const TrCodeImage &code, uint8_t *db) {
    TrMap_ForgetIndex();
    uint32_t n24 = 0, n25 = 0, n3 = 0, n5 = 0;
    uint8_t *s24 = segment(db, 24, &n24);
    uint8_t *s25 = segment(db, 25, &n25);
    uint8_t *app = segment(db, 3, &n3);
    uint8_t *locks = segment(db, 5, &n5);
    if (!s25 || n25 < 4 * kHeads) return 0;
    std::memset(s25, 0, 4 * kHeads);
    VmDbSegment d = TrDB_GetSegment(db, 24);
    uint32_t element = d.element_size;
    uint32_t table = TrVMCode_GetPublishedList(code);
    uint32_t built = 0;
    if (s24 && table && (element == kEntrySize || element == kEntrySizeVsi)) {
        const uint8_t *t = code.data + table;
        uint32_t count = le16(t + kTabCount), stamp = le32(t + kTabStamp);
        bool fresh = !app || n3 < trdb::kAppRecordSize || le32(app + trdb::kAppMapStamp) != stamp;
        uint64_t at = le16(t + kTabFirst) ? uint64_t(table) + le16(t + kTabFirst) : 0;
        while (at && built < count && built < d.allocated && (built + 1ull) * element <= n24) {
            const uint8_t *r = TrVMCode_Record(code, at, kRecSymbol);
            if (!r) break;
            uint16_t rs = le16(r + kRecSize);
            if (rs == 0) break;
            if (rs < kRecSymbol || !TrVMCode_Record(code, at, rs)) break;
            uint8_t *e = s24 + built * element;
            uint32_t self = uint32_t(e - db);
            put_le32(e + kRecord, uint32_t(at));
            put_le32(e + kData, data_offset(db, r, rs));
            uint16_t index = le16(r + kRecIndex);
            put_le32(e + kLock, locks && index < n5 ? uint32_t(locks - db) + index : 0);
            uint32_t h = kIndexHeads + index % 16;
            put_le32(e + kNextIndex, le32(s25 + 4 * h));
            put_le32(s25 + 4 * h, self);
            put_le32(e + kNextSymbol, 0);
            if (const char *sym = record_symbol(r, rs)) {
                h = kSymbolHeads + symbol_bucket(sym);
                put_le32(e + kNextSymbol, le32(s25 + 4 * h));
                put_le32(s25 + 4 * h, self);
            }
            put_le32(e + kNextTag, 0);
            if (le16(r + kRecFlags) & kFlagTagChain) {
                h = kTagHeads + le16(r + kRecTag) % 16;
                put_le32(e + kNextTag, le32(s25 + 4 * h));
                put_le32(s25 + 4 * h, self);
            }
            if (element == kEntrySizeVsi && fresh) std::memset(e + kVsiHigh, 0, 16);
            at += rs;
            ++built;
        }
        if (app && n3 >= trdb::kAppRecordSize) put_le32(app + trdb::kAppMapStamp, stamp);
    }
    d.count_a = d.count_b = uint16_t(built);
    TrDB_SetSegment(db, 24, d);
    return 0;
}

int TrVMMap_CanHotRestart(uint8_t *db, const TrCodeImage &code) {
    uint32_t t = TrVMCode_GetPublishedList(code);
    if (!t) return 0;
    const uint8_t *p = code.data + t;
    uint32_t element = (le16(p + kTabFlags) & kFlagVsi) ? kEntrySizeVsi : kEntrySize;
    VmDbSegment d = TrDB_GetSegment(db, 24);
    return element != d.element_size || le16(p + kTabAllocated) != d.allocated ? 1 : 0;
}

int TrVMMap_HotRestart(uint8_t *db, const TrCodeImage &code) {
    uint32_t n25 = 0;
    if (uint8_t *s25 = segment(db, 25, &n25); s25 && n25 >= 4 * kHeads)
        std::memset(s25, 0, 4 * kHeads);
    VmDbSegment d = TrDB_GetSegment(db, 24);
    if (!TrVMCode_GetPublishedList(code)) {
        d.count_a = d.count_b = 0;
        TrDB_SetSegment(db, 24, d);
        return 0;
    }
    if (TrVMMap_CanHotRestart(db, code)) return 1;
    return TrVMMap_Build(code, db);
}

// =============================================================== lookups

uint8_t *TrMap_GetByIndex(uint8_t *db, uint16_t type, uint32_t index) {
    MapView m = map_view(db);
    uint16_t want = norm_type(type);
    return walk(db, m, kIndexHeads + index % 16, [&](const uint8_t *e) {
        const uint8_t *r = record(e);
        return r && le16(r + kRecIndex) == index && norm_type(le16(r + kRecType)) == want;
    });
}

uint8_t *TrMap_GetByNumTag(uint8_t *db, uint16_t tag) {
    MapView m = map_view(db);
    return walk(db, m, kTagHeads + tag % 16, [&](const uint8_t *e) {
        const uint8_t *r = record(e);
        return r && le16(r + kRecTag) == tag;
    });
}

namespace {
// The symbol chains have 17 heads, so a large map makes them long: a side
// index of the names (a-z taken as upper case) gives the chain's first match
// at once. It lives outside the database, is made again for another
// database or map, and every answer it gives is checked against the entry.
struct SymbolIndex {
    const uint8_t *db = nullptr, *base = nullptr;
    uint32_t count = 0;
    std::unordered_map<std::string, uint32_t> offsets;
};
SymbolIndex g_index;

std::string upper(const char *s) {
    std::string u(s);
    for (char &c : u)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return u;
}

void index_symbols(uint8_t *db, const MapView &m) {
    g_index = SymbolIndex{db, m.base, m.count, {}};
    // Built in entry order, so the last one built wins, as at a chain's head.
    for (uint32_t n = 0; n < m.count; ++n) {
        uint8_t *e = entry_at(db, m, n);
        if (const char *s = TrMap_GetSymbol(db, e)) g_index.offsets[upper(s)] = uint32_t(e - db);
    }
}
} // namespace

void TrMap_ForgetIndex() {
    g_index = SymbolIndex{};
}

void TrMap_Reset() {
    TrMap_ForgetIndex();
}

uint8_t *TrMap_GetBySymbol(uint8_t *db, const char *name) {
    if (!name) return nullptr;
    MapView m = map_view(db);
    if (!m.base) return nullptr;
    if (g_index.db != db || g_index.base != m.base || g_index.count != m.count)
        index_symbols(db, m);
    auto it = g_index.offsets.find(upper(name));
    if (it == g_index.offsets.end()) return nullptr;
    uint8_t *e = entry_by_offset(db, m, it->second);
    const char *s = e ? TrMap_GetSymbol(db, e) : nullptr;
    if (s && TrVMStr_ICmp(s, name) == 0) return e;
    // The index no longer matches the map: the chain decides.
    TrMap_ForgetIndex();
    return walk(db, m, kSymbolHeads + symbol_bucket(name), [&](const uint8_t *x) {
        const char *t = TrMap_GetSymbol(db, x);
        return t && TrVMStr_ICmp(t, name) == 0;
    });
}

uint8_t *TrMap_GetByData(uint8_t *db, const uint8_t *address) {
    MapView m = map_view(db);
    for (uint32_t n = 0; address && n < m.count; ++n) {
        uint8_t *e = entry_at(db, m, n);
        if (TrMap_GetData(db, e) == address) return e;
    }
    return nullptr;
}

uint8_t *TrMap_GetFirst(uint8_t *db, uint32_t *position) {
    *position = 0;
    return entry_at(db, map_view(db), 0);
}

uint8_t *TrMap_GetNext(uint8_t *db, uint32_t *position) {
    ++*position;
    return entry_at(db, map_view(db), *position);
}

uint32_t TrMap_GetCount(uint8_t *db) {
    return map_view(db).count;
}

uint32_t TrMap_Handle(uint8_t *db, const uint8_t *entry) {
    return entry && db ? uint32_t(entry - db) : 0;
}

int TrMap_CheckPointer(uint8_t *db, uint32_t handle) {
    return entry_by_offset(db, map_view(db), handle) ? 1 : 0;
}

uint8_t *TrMap_FromHandle(uint8_t *db, uint32_t handle) {
    return entry_by_offset(db, map_view(db), handle);
}

// ========================================================== entry fields

const char *TrMap_GetSymbol(uint8_t *, const uint8_t *entry) {
    uint16_t rs = 0;
    const uint8_t *r = record(entry, &rs);
    return r ? record_symbol(r, rs) : nullptr;
}

uint16_t TrMap_GetType(uint8_t *, const uint8_t *entry) {
    const uint8_t *r = record(entry);
    return r ? le16(r + kRecType) : 0;
}

uint32_t TrMap_GetIndex(uint8_t *, const uint8_t *entry) {
    const uint8_t *r = record(entry);
    return r ? le16(r + kRecIndex) : 0;
}

uint32_t TrMap_GetDim(uint8_t *, const uint8_t *entry) {
    const uint8_t *r = record(entry);
    uint32_t d = r ? le16(r + kRecDim) : 0;
    return d == 1 ? 0 : d;
}

uint32_t TrMap_GetStringLenth(uint8_t *, const uint8_t *entry) {
    const uint8_t *r = record(entry);
    return r && (le16(r + kRecType) & 0xFF7F) == 5 ? le16(r + kRecStrLen) : 0;
}

uint16_t TrMap_GetNumTag(uint8_t *, const uint8_t *entry) {
    const uint8_t *r = record(entry);
    return r ? le16(r + kRecTag) : 0;
}

uint16_t TrMap_GetFlags(uint8_t *, const uint8_t *entry) {
    const uint8_t *r = record(entry);
    return r ? le16(r + kRecFlags) : 0;
}

const uint8_t *TrMap_GetProps(uint8_t *, const uint8_t *entry) {
    uint16_t rs = 0;
    const uint8_t *r = record(entry, &rs);
    return r ? extras(r, rs).props : nullptr;
}

uint32_t TrMap_GetPropsSize(uint8_t *, const uint8_t *entry) {
    uint16_t rs = 0;
    const uint8_t *r = record(entry, &rs);
    return r ? extras(r, rs).props_size : 0;
}

const char *TrMap_GetProfileName(uint8_t *, const uint8_t *entry) {
    uint16_t rs = 0;
    const uint8_t *r = record(entry, &rs);
    const uint8_t *p = r ? extras(r, rs).profile : nullptr;
    return p && std::memchr(p, 0, kProfileSize) ? reinterpret_cast<const char *>(p) : nullptr;
}

uint32_t TrMap_GetTypeInfo(uint8_t *, const uint8_t *entry) {
    uint16_t rs = 0;
    const uint8_t *r = record(entry, &rs);
    const uint8_t *ti = r ? extras(r, rs).type_info : nullptr;
    return ti ? TrMap_TypeDef(pCode, le16(ti + 4)) : 0;
}

const char *TrMap_GetTypeName(uint8_t *db, const uint8_t *entry) {
    uint16_t t = TrMap_GetType(db, entry) & 0xFF7F;
    if (t == 127) {
        const char *n = TrMap_TypeDefName(pCode, TrMap_GetTypeInfo(db, entry));
        return n ? n : "";
    }
    switch (t) {
    case 1:
        return "BOOL";
    case 2:
        return "DINT";
    case 3:
        return "REAL";
    case 4:
        return "TIME";
    case 5:
        return "STRING";
    case 10:
        return "SINT";
    case 11:
        return "INT";
    case 12:
        return "LINT";
    case 13:
        return "LREAL";
    case 14:
        return "USINT";
    case 15:
        return "UINT";
    case 16:
        return "UDINT";
    case 17:
        return "ULINT";
    default:
        return "";
    }
}

uint8_t *TrMap_GetData(uint8_t *db, const uint8_t *entry) {
    if (!entry || !db) return nullptr;
    uint32_t off = le32(entry + kData);
    // The offset is database data: it must still name a byte of the block.
    return off >= trdb::kHeaderSize && off < TrVM_DBSize(db) ? db + off : nullptr;
}

int TrMap_IsLocked(uint8_t *db, const uint8_t *entry) {
    if (!entry) return 0;
    uint32_t off = le32(entry + kLock);
    if (off < trdb::kHeaderSize || off >= TrVM_DBSize(db)) return 0;
    return (db[off] & lock_bit(TrMap_GetType(db, entry))) ? 1 : 0;
}

uint8_t *TrMap_IsArrayOfSingleVar(uint8_t *db, const uint8_t *entry, uint32_t *count,
                                  uint16_t *type) {
    uint16_t t = TrMap_GetType(db, entry) & 0xFF7F;
    uint8_t *data = TrMap_GetData(db, entry);
    if (!data) return nullptr;
    if (t == 127) {
        const char *name = TrMap_GetTypeName(db, entry);
        struct Prefix {
            const char *text;
            uint16_t type;
        };
        static constexpr Prefix kPrefixes[] = {
            {"BOOL[", 1},  {"SINT[", 10},  {"USINT[", 14}, {"BYTE[", 14},  {"INT[", 11},
            {"UINT[", 15}, {"WORD[", 15},  {"DINT[", 2},   {"UDINT[", 16}, {"DWORD[", 16},
            {"LINT[", 12}, {"ULINT[", 17}, {"LWORD[", 17}, {"REAL[", 3},   {"LREAL[", 13},
            {"TIME[", 4},  {"STRING[", 5},
        };
        for (const Prefix &p : kPrefixes) {
            size_t n = std::strlen(p.text);
            if (std::strncmp(name, p.text, n) != 0) continue;
            uint64_t product = 1, v = 0;
            bool digit = false;
            for (const char *c = name + n; *c && *c != ']'; ++c) {
                if (*c >= '0' && *c <= '9') {
                    v = v * 10 + uint64_t(*c - '0');
                    digit = true;
                    if (v > 0xFFFFFFFFull) return nullptr;
                } else if (*c == ',') {
                    product *= v;
                    v = 0;
                } else if (*c != ' ') {
                    return nullptr;
                }
                if (product > 0xFFFFFFFFull) return nullptr;
            }
            product *= v;
            if (!digit || product > 0xFFFFFFFFull) return nullptr;
            *count = uint32_t(product);
            *type = p.type;
            return data;
        }
        return nullptr;
    }
    uint32_t dim = TrMap_GetDim(db, entry);
    if (dim < 2) return nullptr;
    *count = dim;
    *type = t;
    return data;
}

uint32_t TrMap_GetDesc(uint8_t *db, uint32_t position, uint8_t *buffer) {
    std::memset(buffer, 0, kDescHeader);
    uint16_t rs = 0;
    const uint8_t *r = record(entry_at(db, map_view(db), position), &rs);
    if (!r) return kDescHeader;
    put_be16(buffer, le16(r + kRecType));
    uint16_t flags = le16(r + kRecFlags);
    Extras x = extras(r, rs);
    if (x.type_info) {
        uint32_t a = le32(x.type_info);
        put_be16(buffer + 2, a >> 16);
        put_be16(buffer + 4, a);
        put_be16(buffer + 6, le16(x.type_info + 4));
    } else {
        put_be16(buffer + 2, le16(r + kRecIndex));
        put_be16(buffer + 4, le16(r + kRecStrLen));
        put_be16(buffer + 6, le16(r + kRecDim));
    }
    put_be16(buffer + 8, flags);
    const char *sym = record_symbol(r, rs);
    size_t len = sym ? std::min<size_t>(std::strlen(sym), 255) : 0;
    buffer[10] = uint8_t(len);
    if (len) std::memcpy(buffer + 11, sym, len);
    buffer[11 + len] = 0;
    return uint32_t(kDescHeader + len);
}

uint32_t TrMap_GetDescLength(uint8_t *db, uint32_t position) {
    uint16_t rs = 0;
    const uint8_t *r = record(entry_at(db, map_view(db), position), &rs);
    const char *sym = r ? record_symbol(r, rs) : nullptr;
    return uint32_t(kDescHeader + (sym ? std::min<size_t>(std::strlen(sym), 255) : 0));
}

// ================================================================ values

int32_t TrMap_GetLongValue(uint8_t *db, const uint8_t *entry) {
    Datum d = datum(db, entry);
    double real = 0;
    int64_t whole = 0;
    if (!read_value(d, &real, &whole)) return 0;
    if (d.type == 3 || d.type == 13) return saturate<int32_t>(real);
    return int32_t(uint32_t(uint64_t(whole)));
}

uint32_t TrMap_GetDWordValue(uint8_t *db, const uint8_t *entry) {
    Datum d = datum(db, entry);
    double real = 0;
    int64_t whole = 0;
    if (!read_value(d, &real, &whole)) return 0;
    if (d.type == 3 || d.type == 13) return saturate<uint32_t>(real);
    return uint32_t(uint64_t(whole));
}

int64_t TrMap_GetLIntValue(uint8_t *db, const uint8_t *entry) {
    double real = 0;
    int64_t whole = 0;
    return read_value(datum(db, entry), &real, &whole) ? whole : 0;
}

float TrMap_GetRealValue(uint8_t *db, const uint8_t *entry) {
    return float(TrMap_GetLRealValue(db, entry));
}

double TrMap_GetLRealValue(uint8_t *db, const uint8_t *entry) {
    double real = 0;
    int64_t whole = 0;
    return read_value(datum(db, entry), &real, &whole) ? real : 0;
}

const char *TrMap_GetStringValue(uint8_t *db, const uint8_t *entry, uint32_t *length) {
    Datum d = datum(db, entry);
    if (length) *length = 0;
    if (!d.p || d.type != 5) return nullptr;
    if (length) *length = d.p[1] <= d.p[0] ? d.p[1] : d.p[0];
    return reinterpret_cast<const char *>(d.p + 2);
}

int TrMap_SetLongValue(uint8_t *db, uint8_t *entry, int32_t v) {
    return write_value(db, entry, v, 0, false);
}
int TrMap_SetDWordValue(uint8_t *db, uint8_t *entry, uint32_t v) {
    return write_value(db, entry, int64_t(v), 0, false);
}
int TrMap_SetLIntValue(uint8_t *db, uint8_t *entry, int64_t v) {
    return write_value(db, entry, v, 0, false);
}
int TrMap_SetRealValue(uint8_t *db, uint8_t *entry, float v) {
    return write_value(db, entry, 0, double(v), true);
}
int TrMap_SetLRealValue(uint8_t *db, uint8_t *entry, double v) {
    return write_value(db, entry, 0, v, true);
}

int TrMap_SetStringValue(uint8_t *db, uint8_t *entry, const char *text, uint32_t length) {
    Datum d = datum(db, entry);
    if (!d.p || d.type != 5 || !text || TrMap_IsLocked(db, entry)) return 1;
    if (length == 0) length = uint32_t(strnlen(text, 255));
    if (length > 255) length = 255;
    TrVMStr_AscForce(d.p, text, length);
    return 0;
}

int TrMap_SetXVAddress(uint8_t *db, uint8_t *entry, const uint8_t *address) {
    uint16_t type = TrMap_GetType(db, entry);
    if (!(type & 0x80)) return 1;
    uint32_t n26 = 0;
    uint8_t *xv = segment(db, 26, &n26);
    uint32_t index = TrMap_GetIndex(db, entry), dim = TrMap_GetDim(db, entry);
    if (dim == 0) dim = 1;
    uint32_t size = TrVM_DBSize(db);
    if (!xv || !address || address < db + trdb::kHeaderSize || address >= db + size) return 1;
    uint32_t off = uint32_t(address - db);
    uint32_t step = element_of(type & 0xFF7F);
    if ((type & 0xFF7F) == 5) step = uint32_t(address[0]) + 3;
    for (uint32_t e = 0; e < dim; ++e) {
        uint64_t at = 4ull * (index + e);
        uint64_t to = off + uint64_t(e) * step;
        if (at + 4 > n26 || to >= size) break;
        put_le32(xv + at, uint32_t(to));
    }
    put_le32(entry + kData, off);
    return 0;
}

// ==================================================== status information

uint8_t *TrMap_GetVSI(uint8_t *db, const uint8_t *entry) {
    MapView m = map_view(db);
    if (!entry || m.element != kEntrySizeVsi) return nullptr;
    return const_cast<uint8_t *>(entry) + kVsiHigh;
}

int TrMap_GetVSIBit(uint8_t *db, uint16_t type, uint32_t index, uint32_t bit) {
    uint8_t *v = vsi_of(db, type, index);
    if (!v || bit >= 64) return 0;
    uint32_t word = le32(v + (bit < 32 ? kVsiLow - kVsiHigh : 0));
    return (word >> (bit % 32)) & 1;
}

int TrMap_SetVSIBit(uint8_t *db, uint16_t type, uint32_t index, uint32_t bit, int value) {
    uint8_t *v = vsi_of(db, type, index);
    if (!v || bit >= 64) return 0;
    uint8_t *w = v + (bit < 32 ? kVsiLow - kVsiHigh : 0);
    uint32_t mask = 1u << (bit % 32);
    put_le32(w, value ? (le32(w) | mask) : (le32(w) & ~mask));
    return 1;
}

int TrMap_ResetSetVSIBits(uint8_t *db, uint16_t type, uint32_t index) {
    uint8_t *v = vsi_of(db, type, index);
    if (!v) return 0;
    std::memset(v, 0, 8);
    return 1;
}

uint32_t TrMap_GetVSIDate(uint8_t *db, uint16_t type, uint32_t index) {
    uint8_t *v = vsi_of(db, type, index);
    return v ? le32(v + kVsiDate - kVsiHigh) : 0;
}
int TrMap_SetVSIDate(uint8_t *db, uint16_t type, uint32_t index, uint32_t date) {
    uint8_t *v = vsi_of(db, type, index);
    if (!v) return 0;
    put_le32(v + kVsiDate - kVsiHigh, date);
    return 1;
}
uint32_t TrMap_GetVSITime(uint8_t *db, uint16_t type, uint32_t index) {
    uint8_t *v = vsi_of(db, type, index);
    return v ? le32(v + kVsiTime - kVsiHigh) : 0;
}
int TrMap_SetVSITime(uint8_t *db, uint16_t type, uint32_t index, uint32_t time) {
    uint8_t *v = vsi_of(db, type, index);
    if (!v) return 0;
    put_le32(v + kVsiTime - kVsiHigh, time);
    return 1;
}

namespace {
int stamp(uint8_t *db, uint16_t type, uint32_t index, int local) {
    uint8_t *v = vsi_of(db, type, index);
    if (!v) return 0;
    uint32_t date = 0, time = 0;
    uint8_t flag = 0;
    TrRtClk_GetCurDateTimeStamp(local, &date, &time, &flag);
    put_le32(v + kVsiDate - kVsiHigh, date);
    put_le32(v + kVsiTime - kVsiHigh, time);
    return 1;
}
} // namespace

int TrMap_StampVSI(uint8_t *db, uint16_t type, uint32_t index) {
    return stamp(db, type, index, 1);
}
int TrMap_StampVSIGMT(uint8_t *db, uint16_t type, uint32_t index) {
    return stamp(db, type, index, 0);
}

int TrMap_CopyVSI(uint8_t *db, uint16_t type, uint32_t dst, uint32_t src, int bits, int stamp_too) {
    uint8_t *d = vsi_of(db, type, dst), *s = vsi_of(db, type, src);
    if (!d || !s) return 0;
    if (bits) std::memmove(d, s, 8);
    if (stamp_too) std::memmove(d + 8, s + 8, 8);
    return 1;
}

uint8_t *TrMap_GetVSIByData(uint8_t *db, const uint8_t *address) {
    return TrMap_GetVSI(db, TrMap_GetByData(db, address));
}

// ============================================== complex-type definitions

uint32_t TrMap_TypeDef(const TrCodeImage &code, uint32_t n) {
    uint32_t list = TrVMCode_GetCTTypeDef(code);
    const uint8_t *l = TrVMCode_Record(code, list, 4);
    if (!l || n == 0 || n > le16(l + 2)) return 0;
    const uint8_t *e = TrVMCode_Record(code, uint64_t(list) + 4ull * n, 4);
    uint32_t off = e ? le32(e) : 0;
    // The definition's name must end inside the image.
    const uint8_t *d = TrVMCode_Record(code, off, 1);
    return d && std::memchr(d, 0, code.size - off) ? off : 0;
}

const char *TrMap_TypeDefName(const TrCodeImage &code, uint32_t def) {
    const uint8_t *d = TrVMCode_Record(code, def, 1);
    return d && std::memchr(d, 0, code.size - def) ? reinterpret_cast<const char *>(d) : nullptr;
}

uint32_t TrMap_TypeSize(uint16_t type) {
    return element_of(type & 0xFF7F);
}
