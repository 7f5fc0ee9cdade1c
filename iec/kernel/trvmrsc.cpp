// The IEC resource table and the parameter-file reader (trvmrsc.h).
#include "iec/kernel/trvmrsc.h"

#include "base/le.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trstr.h"
#include "iec/kernel/trvm.h"
#include "iec/kernel/trvmprg.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

using namespace trrsc;

namespace {

// Memory blocks of the resources: handle h is slot h - 1.
struct Block {
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t size = 0;
};
std::vector<Block> g_blocks;

uint32_t new_block(uint32_t size) {
    uint8_t *p = new (std::nothrow) uint8_t[size ? size : 1]();
    if (!p) return 0;
    size_t i = 0;
    while (i < g_blocks.size() && g_blocks[i].bytes)
        ++i;
    if (i == g_blocks.size()) g_blocks.emplace_back();
    g_blocks[i].bytes.reset(p);
    g_blocks[i].size = size;
    return uint32_t(i + 1);
}

void free_block(uint32_t h) {
    if (h >= 1 && h <= g_blocks.size()) g_blocks[h - 1] = Block{};
}

uint32_t item_count(uint8_t *db, uint8_t **items) {
    uint32_t n = 0;
    *items = db ? TrDB_Segment(db, TrVM_DBSize(db), 19, &n) : nullptr;
    return *items ? n / kItemSize : 0;
}

template <class F> uint32_t find(uint8_t *db, F match) {
    uint8_t *items;
    uint32_t n = item_count(db, &items);
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t *e = items + i * kItemSize;
        if (match(e)) return i + 1;
    }
    return 0;
}

} // namespace

uint8_t *TrVMRsc_Item(uint8_t *db, uint32_t item) {
    uint8_t *items;
    uint32_t n = item_count(db, &items);
    return item >= 1 && item <= n ? items + (item - 1) * kItemSize : nullptr;
}

uint32_t TrVMRsc_GetFreeItem(uint8_t *db) {
    return find(db, [](const uint8_t *e) { return le16(e + kIdent) == 0; });
}
uint32_t TrVMRsc_FindData(uint8_t *db, uint32_t data) {
    return find(db, [&](const uint8_t *e) { return le16(e + kIdent) && le32(e + kData) == data; });
}
uint32_t TrVMRsc_FindSocket(uint8_t *db, int32_t sock) {
    return find(db, [&](const uint8_t *e) {
        return le16(e + kIdent) && le16(e + kKind) == kSocket && int32_t(le32(e + kData)) == sock;
    });
}
uint32_t TrVMRsc_FindArray(uint8_t *db, uint32_t ident) {
    return find(db, [&](const uint8_t *e) {
        return ident && le16(e + kIdent) == ident && le16(e + kKind) == kArray;
    });
}
int TrVMRsc_Exist(uint8_t *db, uint32_t ident) {
    return ident && find(db, [&](const uint8_t *e) { return le16(e + kIdent) == ident; }) ? 1 : 0;
}

uint8_t *TrVMRsc_Block(uint32_t handle, uint32_t *size) {
    if (handle < 1 || handle > g_blocks.size() || !g_blocks[handle - 1].bytes) return nullptr;
    if (size) *size = g_blocks[handle - 1].size;
    return g_blocks[handle - 1].bytes.get();
}

int TrVMRsc_CreateArray(uint8_t *db, uint32_t ident, int32_t count, uint32_t size) {
    if (ident > 127 || ident == 0 || TrVMRsc_FindArray(db, ident)) return 2;
    if (count < 1) return 3;
    uint8_t *e = TrVMRsc_Item(db, TrVMRsc_GetFreeItem(db));
    if (!e) return 2;
    uint64_t bytes = uint64_t(count) * size;
    if (bytes > 0xFFFFFFFFull) return 4;
    uint32_t h = new_block(uint32_t(bytes));
    if (!h) return 4;
    put_le32(e + kData, h);
    put_le32(e + kSize, uint32_t(bytes));
    put_le16(e + kIdent, uint16_t(ident));
    put_le16(e + kKind, kArray);
    return 1;
}

namespace {
// The element's bytes, or null when the index is negative or the element
// reaches beyond the block (computed in 64 bits).
uint8_t *array_element(uint8_t *db, uint32_t ident, int32_t index, uint32_t size, int *rc) {
    uint8_t *e = TrVMRsc_Item(db, TrVMRsc_FindArray(db, ident));
    *rc = 2;
    if (!e) return nullptr;
    *rc = 3;
    uint32_t have = 0;
    uint8_t *p = TrVMRsc_Block(le32(e + kData), &have);
    if (!p || index < 0 || (uint64_t(index) + 1) * size > le32(e + kSize) ||
        (uint64_t(index) + 1) * size > have)
        return nullptr;
    *rc = 1;
    return p + uint64_t(index) * size;
}
} // namespace

int TrVMRsc_WriteArray(uint8_t *db, uint32_t ident, int32_t index, uint32_t size,
                       const void *data) {
    int rc;
    uint8_t *p = array_element(db, ident, index, size, &rc);
    if (p && data) std::memcpy(p, data, size);
    return rc;
}

int TrVMRsc_ReadArray(uint8_t *db, uint32_t ident, int32_t index, uint32_t size, void *data) {
    int rc;
    uint8_t *p = array_element(db, ident, index, size, &rc);
    if (!p || !data) return 0;
    std::memcpy(data, p, size);
    return 1;
}

void TrVMRsc_FreeAll(uint8_t *db) {
    uint8_t *items;
    uint32_t n = item_count(db, &items);
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t *e = items + i * kItemSize;
        if (le16(e + kIdent)) {
            uint32_t data = le32(e + kData);
            switch (le16(e + kKind)) {
            case kMemory:
            case kArray:
                free_block(data);
                break;
            case kFile:
                TrFile_Close(data);
                break;
            case kSocket:
                if (int32_t(data) != -1) TrSocket_CloseSocket(int32_t(data));
                break;
            default:
                break;
            }
        }
        std::memset(e, 0, kItemSize);
    }
}

// ------------------------------------------------------- parameter files

namespace {
bool same_nocase(const char *a, const char *b, size_t n) {
    return TrVMStr_NICmp(a, b, uint32_t(n)) == 0;
}
} // namespace

int TrParam_Get(uint32_t, const char *file, const char *section, const char *key, char *out,
                uint32_t size) {
    if (out && size) out[0] = 0;
    if (!file || !section || !key) return 0;
    uint32_t h = TrFile_Open(file, 0);
    if (!h) return 0;
    char line[256];
    size_t klen = std::strlen(key), slen = std::strlen(section);
    bool in_section = false, found = false;
    while (!found && !TrFile_Eof(h)) {
        uint32_t n = TrFile_ReadLine(h, line, sizeof line);
        if (n == 0 && TrFile_Eof(h)) break;
        if (n && line[n - 1] == '\r') line[--n] = 0;
        if (line[0] == '[') {
            in_section =
                n == slen + 2 && line[n - 1] == ']' && same_nocase(line + 1, section, slen);
            continue;
        }
        if (!in_section || n <= klen || line[klen] != '=' || !same_nocase(line, key, klen))
            continue;
        found = true;
        char *value = line + klen + 1;
        size_t vlen = std::strlen(value);
        if (vlen && value[vlen - 1] == '\r') value[--vlen] = 0;
        if (out && size) {
            if (vlen > size - 1) vlen = size - 1;
            std::memcpy(out, value, vlen);
            out[vlen] = 0;
        }
    }
    TrFile_Close(h);
    return found ? 1 : 0;
}

void TrVMRsc_Reset() {
    g_blocks.clear();
}
