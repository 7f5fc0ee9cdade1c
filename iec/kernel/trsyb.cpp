// Symbol paths through the variable map and the complex-type definitions.
#include "iec/kernel/trsyb.h"

#include "base/le.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/trmap.h"
#include "iec/kernel/trstr.h"
#include "iec/kernel/trvm.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool part_end(char c) {
    return c == 0 || c == '.' || c == '[';
}

// Finds the map item by growing prefixes; parts longer than `limit`
// characters name nothing.
uint8_t *map_item(uint8_t *db, const char **cursor, size_t limit) {
    const char *at = *cursor;
    std::string name;
    for (bool first = true;; first = false) {
        if (!first) {
            if (*at != '.') return nullptr;
            name += '.';
            ++at;
        }
        size_t n = 0;
        while (!part_end(at[n]))
            ++n;
        if (n > limit || name.size() + n > 1024) return nullptr;
        name.append(at, n);
        at += n;
        if (uint8_t *e = TrMap_GetBySymbol(db, name.c_str())) {
            *cursor = at;
            return e;
        }
    }
}

// A decimal number below `bound`; *p moves behind it.
bool decimal(const char **p, uint32_t bound, uint32_t *out) {
    const char *s = *p;
    uint64_t v = 0;
    if (*s < '0' || *s > '9') return false;
    for (; *s >= '0' && *s <= '9'; ++s) {
        v = v * 10 + uint64_t(*s - '0');
        if (v >= bound) return false;
    }
    *out = uint32_t(v);
    *p = s;
    return true;
}

// One complex-type definition read from the image.
struct Def {
    uint32_t at = 0;
    const char *name = nullptr;
    uint8_t kind = 0;
    uint16_t code = 0;               // kind 1
    uint16_t element = 0;            // arrays: element definition
    uint32_t element_size = 0;       // arrays
    uint32_t bounds[3] = {};         // arrays
    uint32_t dims = 0;               // arrays
    uint16_t members = 0, place = 0; // structures
};

bool read_def(uint32_t at, Def *d) {
    const char *name = TrMap_TypeDefName(pCode, at);
    if (!name) return false;
    uint64_t p = uint64_t(at) + std::strlen(name) + 1;
    const uint8_t *k = TrVMCode_Record(pCode, p, 1);
    if (!k) return false;
    d->at = at;
    d->name = name;
    d->kind = *k;
    ++p;
    if (d->kind == 1) {
        const uint8_t *r = TrVMCode_Record(pCode, p, 2);
        if (!r) return false;
        d->code = le16(r);
        return true;
    }
    if (d->kind >= 2 && d->kind <= 4) {
        d->dims = d->kind - 1u;
        const uint8_t *r = TrVMCode_Record(pCode, p, 6 + 4ull * d->dims);
        if (!r) return false;
        d->element = le16(r);
        d->element_size = le32(r + 2);
        for (uint32_t i = 0; i < d->dims; ++i)
            d->bounds[i] = le32(r + 6 + 4 * i);
        return true;
    }
    if (d->kind == 5 || d->kind == 7) {
        const uint8_t *r = TrVMCode_Record(pCode, p, 4);
        if (!r) return false;
        d->members = le16(r);
        d->place = le16(r + 2);
        return true;
    }
    return false;
}

// Member m of a structure: its name, definition and offset.
struct Member {
    const char *name;
    uint16_t def;
    uint32_t offset;
    uint64_t next;
};
bool read_member(uint64_t at, Member *m) {
    const char *name = TrMap_TypeDefName(pCode, uint32_t(at));
    if (!name || at > 0xFFFFFFFFull) return false;
    uint64_t p = at + std::strlen(name) + 1;
    const uint8_t *r = TrVMCode_Record(pCode, p, 7);
    if (!r || r[0] != 6) return false;
    *m = Member{name, le16(r + 1), le32(r + 3), p + 7};
    return true;
}

struct Walk {
    uint8_t *seg = nullptr; // segment 35
    uint32_t size = 0;
    bool want_complex = false;
};

// Bytes an elementary datum at `off` of segment 35 needs (0: none fits).
bool fits(const Walk &w, uint32_t off, uint16_t code) {
    if (code == 5) {
        if (uint64_t(off) + 3 > w.size) return false;
        return uint64_t(off) + w.seg[off] + 3 <= w.size;
    }
    uint32_t n = TrMap_TypeSize(code);
    return n && uint64_t(off) + n <= w.size;
}

uint8_t *resolve(const Walk &w, uint32_t def_at, const char *rest, uint64_t off, uint32_t depth,
                 uint16_t *type, const char **type_name) {
    Def d;
    if (depth >= trmap::kMaxTypeDepth || off >= w.size || !read_def(def_at, &d)) return nullptr;
    if (d.kind == 1) {
        if (*rest || !fits(w, uint32_t(off), d.code)) return nullptr;
        *type = d.code;
        if (type_name) *type_name = d.name;
        return w.seg + off;
    }
    if (*rest == 0) {
        if (!w.want_complex) return nullptr;
        *type = 127;
        if (type_name) *type_name = d.name;
        return w.seg + off;
    }
    if (d.dims) {
        if (*rest != '[') return nullptr;
        const char *p = rest + 1;
        uint64_t flat = 0;
        for (uint32_t i = 0; i < d.dims; ++i) {
            uint32_t v;
            if (i && *p++ != ',') return nullptr;
            if (!decimal(&p, d.bounds[i], &v)) return nullptr;
            flat = flat * d.bounds[i] + v;
        }
        if (*p++ != ']') return nullptr;
        uint64_t at = off + flat * d.element_size;
        if (at >= w.size) return nullptr;
        return resolve(w, TrMap_TypeDef(pCode, d.element), p, at, depth + 1, type, type_name);
    }
    if (*rest != '.') return nullptr;
    const char *name = rest + 1;
    size_t n = 0;
    while (!part_end(name[n]))
        ++n;
    uint64_t at = uint64_t(d.at) + d.place;
    for (uint32_t i = 0; i < d.members; ++i) {
        Member m;
        if (!read_member(at, &m)) return nullptr;
        if (std::strlen(m.name) == n && TrVMStr_NICmp(m.name, name, uint32_t(n)) == 0)
            return resolve(w, TrMap_TypeDef(pCode, m.def), name + n, off + m.offset, depth + 1,
                           type, type_name);
        at = m.next;
    }
    return nullptr;
}

uint8_t *parse(uint8_t *db, const char *path, uint16_t *type, const char **type_name) {
    if (type) *type = 0;
    if (type_name) *type_name = nullptr;
    if (!db || !path || !type) return nullptr;
    const char *rest = path;
    uint8_t *e = map_item(db, &rest, 256);
    if (!e) return nullptr;
    uint8_t *data = TrMap_GetData(db, e);
    uint16_t t = TrMap_GetType(db, e) & 0xFF7F;
    if (!data) return nullptr;
    if (t != 127) {
        uint32_t dim = TrMap_GetDim(db, e);
        if (dim < 2) {
            if (*rest) return nullptr;
            *type = t;
        } else {
            uint32_t i;
            const char *p = rest;
            if (*p++ != '[' || !decimal(&p, dim, &i) || *p++ != ']' || *p) return nullptr;
            *type = t;
            // The whole array was checked against its segment when the map
            // was built.
            data = t == 5 ? TrVMStr_Buffer(db, TrMap_GetIndex(db, e) + i)
                          : data + uint64_t(i) * TrMap_TypeSize(t);
            if (!data) return nullptr;
        }
        if (type_name) *type_name = TrMap_GetTypeName(db, e);
        return data;
    }
    Walk w;
    w.seg = TrDB_Segment(db, TrVM_DBSize(db), 35, &w.size);
    w.want_complex = type_name != nullptr;
    if (!w.seg || data < w.seg || data >= w.seg + w.size) return nullptr;
    return resolve(w, TrMap_GetTypeInfo(db, e), rest, uint64_t(data - w.seg), 0, type, type_name);
}

// ------------------------------------------------------- enumeration

struct Enum {
    char *buf;
    size_t size;
    TrSybMemberCb cb;
    void *user;
};

int enumerate(const Enum &en, uint32_t def_at, size_t len, uint64_t room, uint32_t depth) {
    Def d;
    if (depth >= trmap::kMaxTypeDepth || !read_def(def_at, &d)) return 0;
    if (d.kind == 1) return en.cb(en.buf, d.code, en.user);
    if (d.dims) {
        uint64_t count = 1;
        for (uint32_t i = 0; i < d.dims; ++i)
            count *= d.bounds[i];
        // An array larger than the room it has would walk the pass to a
        // standstill: refused.
        if (count == 0 || d.element_size == 0 || count > room / d.element_size) return 0;
        uint32_t ix[3] = {};
        for (uint64_t k = 0; k < count; ++k) {
            uint64_t rem = k;
            for (int i = int(d.dims) - 1; i >= 0; --i) {
                ix[i] = uint32_t(rem % d.bounds[i]);
                rem /= d.bounds[i];
            }
            char suffix[40];
            int n = d.dims == 1   ? std::snprintf(suffix, sizeof suffix, "[%lu]",
                                                  static_cast<unsigned long>(ix[0]))
                    : d.dims == 2 ? std::snprintf(suffix, sizeof suffix, "[%lu,%lu]",
                                                  static_cast<unsigned long>(ix[0]),
                                                  static_cast<unsigned long>(ix[1]))
                                  : std::snprintf(suffix, sizeof suffix, "[%lu,%lu,%lu]",
                                                  static_cast<unsigned long>(ix[0]),
                                                  static_cast<unsigned long>(ix[1]),
                                                  static_cast<unsigned long>(ix[2]));
            if (len + size_t(n) + 1 > en.size) {
                en.buf[len] = 0;
                return 0;
            }
            std::memcpy(en.buf + len, suffix, size_t(n) + 1);
            int r = enumerate(en, TrMap_TypeDef(pCode, d.element), len + size_t(n), d.element_size,
                              depth + 1);
            en.buf[len] = 0;
            if (r <= 0) return r;
        }
        return 1;
    }
    int result = 1;
    uint64_t at = uint64_t(d.at) + d.place;
    for (uint32_t i = 0; i < d.members; ++i) {
        Member m;
        if (!read_member(at, &m)) return 0;
        at = m.next;
        size_t n = std::strlen(m.name);
        if (len + 1 + n + 1 > en.size || m.offset >= room) {
            result = result < 0 ? result : 0;
            continue;
        }
        en.buf[len] = '.';
        std::memcpy(en.buf + len + 1, m.name, n + 1);
        int r = enumerate(en, TrMap_TypeDef(pCode, m.def), len + 1 + n, room - m.offset, depth + 1);
        en.buf[len] = 0;
        if (r != 1 && result > (r < 0 ? r : 0)) result = r < 0 ? r : 0;
    }
    return result;
}

} // namespace

uint8_t *TrVmSyb_Parse(uint8_t *db, const char *path, uint16_t *type, const char **type_name) {
    return parse(db, path, type, type_name);
}

uint8_t *TrVmSyb_ParseSingle(uint8_t *db, const char *path, uint16_t *type) {
    return parse(db, path, type, nullptr);
}

int TrVmSyb_EnumCTMembers(uint8_t *db, const uint8_t *entry, char *path, size_t size,
                          TrSybMemberCb cb, void *user) {
    if (!db || !entry || !path || !size || !cb) return 0;
    if ((TrMap_GetType(db, entry) & 0xFF7F) != 127) return 0;
    const char *sym = TrMap_GetSymbol(db, entry);
    uint8_t *data = TrMap_GetData(db, entry);
    uint32_t n35 = 0;
    uint8_t *s35 = TrDB_Segment(db, TrVM_DBSize(db), 35, &n35);
    if (!sym || !data || !s35 || data < s35 || data >= s35 + n35) return 0;
    size_t len = std::strlen(sym);
    if (len + 1 > size) return 0;
    std::memcpy(path, sym, len + 1);
    Enum en{path, size, cb, user};
    int r = enumerate(en, TrMap_GetTypeInfo(db, entry), len, n35 - uint32_t(data - s35), 0);
    path[len] = 0;
    return r;
}

uint8_t *Velmor_TrVmSyb_GetMapItem(uint8_t *db, const char **cursor) {
    if (!db || !cursor || !*cursor) return nullptr;
    return map_item(db, cursor, 255);
}
