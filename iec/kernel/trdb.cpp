// Sizing, linking and addressing of the VM database.
#include "iec/kernel/trdb.h"

#include "base/le.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trheap.h"

#include <algorithm>
#include <cstring>

using namespace trdb;

uint8_t *pDB;
uint32_t pDBSize;

namespace {
TrHeap *g_own_heap; // a heap of its own, outside the database
} // namespace

void TrDB_Reset() {
    pDB = nullptr;
    pDBSize = 0;
    TrHeap_DeleteHeap(g_own_heap);
    g_own_heap = nullptr;
}

VmDbSegment TrDB_GetSegment(const uint8_t *db, uint32_t k) {
    const uint8_t *p = db + 16 * k;
    return VmDbSegment{le32(p), le32(p + 4), le16(p + 8), le16(p + 10), le16(p + 12), le16(p + 14)};
}

void TrDB_SetSegment(uint8_t *db, uint32_t k, const VmDbSegment &s) {
    uint8_t *p = db + 16 * k;
    put_le32(p, s.pointer);
    put_le32(p + 4, s.raw_size);
    put_le16(p + 8, s.element_size);
    put_le16(p + 10, s.count_a);
    put_le16(p + 12, s.count_b);
    put_le16(p + 14, s.allocated);
}

uint64_t TrDB_SegmentSize(const VmDbSegment &s) {
    return s.raw_size ? s.raw_size : uint64_t(s.element_size) * s.allocated;
}

uint8_t *TrDB_Segment(uint8_t *db, uint32_t db_size, uint32_t k, uint32_t *size) {
    if (!db || k >= kSegments || db_size < kHeaderSize) return nullptr;
    VmDbSegment s = TrDB_GetSegment(db, k);
    uint64_t n = TrDB_SegmentSize(s);
    if (s.pointer < kHeaderSize || s.pointer > db_size || n > db_size - s.pointer) return nullptr;
    if (size) *size = uint32_t(n);
    return db + s.pointer;
}

namespace {
uint64_t round8(uint64_t n) {
    return (n + 7) & ~uint64_t(7);
}

struct Sizer {
    uint8_t *header;
    bool ok = true;
    void set(uint32_t k, uint16_t element, uint64_t count, uint64_t raw = 0, uint16_t a = 0,
             uint16_t b = 0) {
        // Counts are 16 bits and raw sizes 32 bits in the descriptor: what
        // does not fit is refused, never cut.
        if (count > 0xFFFF || raw > 0xFFFFFFFFull) {
            ok = false;
            return;
        }
        TrDB_SetSegment(header, k, VmDbSegment{0, uint32_t(raw), element, a, b, uint16_t(count)});
    }
};
} // namespace

int TrVMMap_GetSizing(uint8_t *header, const TrCodeImage &code) {
    uint32_t off = TrVMCode_GetPublishedList(code);
    if (!off) return 1;
    const uint8_t *t = code.data + off;
    if (le16(t + 14) != trcode::kMapMarker || le16(t + 2) == 0) return 1;
    uint16_t element = (le16(t + 6) & 0x200) ? 40 : 24;
    TrDB_SetSegment(header, 24, VmDbSegment{0, 0, element, le16(t + 4), le16(t + 4), le16(t + 2)});
    TrDB_SetSegment(header, 25, VmDbSegment{0, 0, 4, 49, 49, 49});
    return 0;
}

int TrVM_GetDBSize(const TrCodeImage &code, uint8_t *header) {
    if (TrVMCode_CheckCode(code) != 0) return 1;
    Sizer z{header};
    z.set(0, kStatusSize, 1);
    z.set(1, 1, 0, 128);
    z.set(2, 1, 1024);
    int32_t heap = TrVMCode_GetHeapSize(code);
    z.set(3, 1, 0, uint64_t(kAppRecordSize) + (heap > 0 ? uint64_t(heap) : 0));
    z.set(4, 24, TrVMCode_GetNbProgAlloc(code));
    z.set(5, 1, TrVMCode_GetNbLockFlags(code));
    z.set(6, 1, TrVMCode_GetNbData8(code));
    z.set(7, 2, TrVMCode_GetNbData16(code));
    z.set(8, 4, TrVMCode_GetNbData32(code));
    z.set(9, 8, TrVMCode_GetNbData64(code));
    z.set(10, 4, TrVMCode_GetNbTime(code));
    z.set(11, 8, TrVMCode_GetNbActiveTime(code));
    z.set(12, 36, TrVMFbl_GetNbClass());
    z.set(13, 20, TrVMCode_GetNbFBInstance(code));
    z.set(14, 1, 0, TrVMFbl_GetClassDataSize());
    z.set(15, 1, 0,
          std::max(TrVMFbl_GetInstanceDataSizeExact(code), TrVMCode_GetWishedFBIRawSize(code)));
    z.set(16, 24, TrVMCode_GetNbCustomFunc(code));
    uint64_t string_bytes = 0;
    z.set(17, 4, TrVMCode_GetNbString(code, &string_bytes));
    z.set(18, 1, 0, string_bytes);
    z.set(19, 12, 128, 0, 128, 128);
    z.set(20, 12, TrVMCode_GetNbStep(code));
    z.set(21, 4, TrVMCode_GetNbTrans(code));
    z.set(22, 16, 16);
    z.set(23, 1, 0, TrIos_GetMemorySizing(code, TrVMCode_GetIODef(code)));
    if (TrVMMap_GetSizing(header, code) != 0) return 1;
    z.set(26, 4, TrVMCode_GetNbXV(code));
    z.set(27, 960, 1, 0, 1, 1);
    z.set(28, kTaskEntrySize, kMaxTasks);
    z.set(29, 4, TrVMCode_GetCallStackAllocSize(code));
    z.set(30, 1, 0, TrMB_GetMemorySizing(code, TrVMCode_MBClientConfig(code)));
    z.set(31, 1, 0, TrVMAsi_GetSizing(code, TrVMCode_AsiConfig(code)));
    z.set(32, 64, 1024);
    z.set(33, 1080, TrEAX_GetNbCnx(code));
    z.set(34, 32, TrEAX_GetNbVar(code));
    z.set(35, 1, 0, TrVMCode_GetCTSegAllocSize(code));
    uint32_t can = TrVMCode_GetCanDef(code);
    const uint8_t *cd = TrVMCode_Record(code, can, 12);
    uint64_t ports = cd ? le16(cd + 2) : 0;
    uint64_t messages = cd ? uint64_t(le16(cd + 6)) + 2 + ports * le16(cd + 10) * 2 : 0;
    z.set(36, 48, ports);
    z.set(37, 40, messages);
    z.set(38, 24, cd ? le16(cd + 8) : 0);
    z.set(39, 1, 0, TrDDKC_GetSize(code));
    if (!z.ok || TrVM_GetTotalDBSize(header) > kMaxTotal) return 1;
    return 0;
}

uint64_t TrVM_GetTotalDBSize(const uint8_t *header) {
    uint64_t total = kHeaderSize;
    for (uint32_t k = 0; k < kSegments; ++k)
        total += round8(TrDB_SegmentSize(TrDB_GetSegment(header, k)));
    return total;
}

void TrVM_BuildDBMainLinks(uint8_t *db) {
    uint64_t at = kHeaderSize;
    for (uint32_t k = 0; k < kSegments; ++k) {
        VmDbSegment s = TrDB_GetSegment(db, k);
        s.pointer = uint32_t(at);
        TrDB_SetSegment(db, k, s);
        at += round8(TrDB_SegmentSize(s));
    }
}

int TrVM_RelinkDB(uint8_t *db, uint64_t loaded) {
    // A kill while the file was written leaves it short: its header then
    // promises more than was read.
    if (!db || loaded < kHeaderSize || TrVM_GetTotalDBSize(db) != loaded) return 1;
    TrVM_BuildDBMainLinks(db);
    return 0;
}

// ------------------------------------------------------- kind sizing

namespace {
int kind_sizing(const TrCodeImage &code, uint8_t *db, trcode::KindWords w, uint32_t k, int fail,
                bool own_count = false) {
    uint16_t highest = TrVMCode_GetSizingHalf(code, w.highest);
    uint16_t previous = TrVMCode_GetSizingHalf(code, w.previous);
    VmDbSegment s = TrDB_GetSegment(db, k);
    uint32_t room =
        own_count ? (uint32_t(TrVMCode_GetSizingHalf(code, w.count)) + 1) & 0xFFFF : s.allocated;
    // Indexes start at 1: a kind with nothing in use needs no room at all.
    if (highest != 0 && room <= highest) return fail;
    s.count_b = uint16_t(highest + 1);
    s.count_a = uint16_t(previous + 1);
    TrDB_SetSegment(db, k, s);
    return 0;
}
} // namespace

int TrVMCode_GetData8Sizing(const TrCodeImage &code, uint8_t *db) {
    return kind_sizing(code, db, trcode::kData8, 6, 9);
}
int TrVMCode_GetData16Sizing(const TrCodeImage &code, uint8_t *db) {
    return kind_sizing(code, db, trcode::kData16, 7, 10);
}
int TrVMCode_GetData32Sizing(const TrCodeImage &code, uint8_t *db) {
    return kind_sizing(code, db, trcode::kData32, 8, 11);
}
int TrVMCode_GetData64Sizing(const TrCodeImage &code, uint8_t *db) {
    return kind_sizing(code, db, trcode::kData64, 9, 19);
}
int TrVMCode_GetTimeSizing(const TrCodeImage &code, uint8_t *db) {
    return kind_sizing(code, db, trcode::kTime, 10, 13, true);
}
int TrVMCode_GetStringSizing(const TrCodeImage &code, uint8_t *db) {
    return kind_sizing(code, db, trcode::kString, 17, 20);
}
int TrVMCode_GetXVSizing(const TrCodeImage &code, uint8_t *db) {
    uint16_t highest = TrVMCode_GetSizingHalf(code, trcode::kXVHighest);
    VmDbSegment s = TrDB_GetSegment(db, 26);
    if (highest != 0 && s.allocated <= highest) return 34;
    s.count_a = s.count_b = uint16_t(highest + 1);
    TrDB_SetSegment(db, 26, s);
    return 0;
}

int TrVMCode_SetStringPointers(const TrCodeImage &code, uint8_t *db, uint32_t db_size) {
    uint32_t n17 = 0, n18 = 0;
    uint8_t *ptrs = TrDB_Segment(db, db_size, 17, &n17);
    uint8_t *bufs = TrDB_Segment(db, db_size, 18, &n18);
    uint32_t list = TrVMCode_GetInitWord(code, 6);
    uint32_t strings = TrVMCode_GetSizingHalf(code, trcode::kString.count);
    uint64_t used = 0;
    // One capacity byte per STRING from 1, ended by 0 (or the count).
    for (uint32_t k = 1; k <= strings; ++k) {
        const uint8_t *c = TrVMCode_Record(code, uint64_t(list) + k - 1, 1);
        if (!c || *c == 0) break;
        uint8_t cap = *c;
        if (!ptrs || !bufs || 4ull * k + 4 > n17 || used + cap + 3 > n18) return 20;
        put_le32(ptrs + 4 * k, uint32_t(bufs - db + used));
        bufs[used] = cap;
        used += cap + 3;
    }
    return 0;
}

namespace {
struct XVKind {
    uint32_t segment, scale;
};
bool xv_kind(uint16_t type, XVKind *k) {
    switch (type) {
    case 1:
    case 10:
        *k = {6, 1};
        return true;
    case 11:
        *k = {7, 2};
        return true;
    case 2:
    case 3:
        *k = {8, 4};
        return true;
    case 4:
        *k = {10, 4};
        return true;
    case 12:
    case 13:
        *k = {9, 8};
        return true;
    case 5:
        *k = {17, 4};
        return true;
    default:
        return false;
    }
}
} // namespace

int TrVMCode_SetXVPointers(const TrCodeImage &code, uint8_t *db, uint32_t db_size) {
    uint32_t list = TrVMCode_HeaderWord(code, trcode::kExtVars);
    uint32_t n26 = 0;
    uint8_t *xv = TrDB_Segment(db, db_size, 26, &n26);
    if (!xv) return 0;
    for (uint32_t i = 0;; ++i) {
        if (4ull * (i + 1) + 4 > n26) break; // segment 26 full
        const uint8_t *r = TrVMCode_Record(code, uint64_t(list) + 4ull * i, 4);
        if (!r) break;
        uint16_t type = le16(r), index = le16(r + 2);
        if (type == 0 && index == 0) break;
        XVKind k;
        if (!xv_kind(type, &k)) return 1;
        uint32_t seg_size = 0;
        uint8_t *seg = TrDB_Segment(db, db_size, k.segment, &seg_size);
        // The index must name an allocated element of its kind.
        if (!seg || index >= TrDB_GetSegment(db, k.segment).allocated ||
            uint64_t(index) * k.scale + k.scale > seg_size)
            return 1;
        uint32_t at = uint32_t(seg - db) + index * k.scale;
        put_le32(xv + 4 * (i + 1), type == 5 ? le32(db + at) : at);
    }
    return 0;
}

int TrVMCode_ApplyCTSegInit(const TrCodeImage &code, uint8_t *db, uint32_t db_size,
                            uint32_t threshold) {
    uint32_t def = TrVMCode_GetCTSegDef(code);
    if (!def) return 0;
    uint32_t n35 = 0;
    uint8_t *seg = TrDB_Segment(db, db_size, 35, &n35);
    uint64_t at = uint64_t(def) + 8;
    for (;;) {
        const uint8_t *r = TrVMCode_Record(code, at, 1);
        if (!r || r[0] == 0) break;
        uint8_t len = r[0];
        r = TrVMCode_Record(code, at, 5ull + len);
        if (!r) break; // a record cut by the image's end reads as the end
        uint32_t off = le32(r + 1);
        if (uint64_t(off) + len > n35 || !seg) return 1;
        if (off >= threshold) std::memcpy(seg + off, r + 5, len);
        at += 5ull + len;
    }
    return 0;
}

namespace {
// Walks the task list; calls f(name offset, program list offset) per task.
template <class F> uint32_t walk_tasks(const TrCodeImage &code, F f) {
    uint64_t at = TrVMCode_HeaderWord(code, trcode::kTasks);
    uint32_t n = 0;
    while (const uint8_t *r = TrVMCode_Record(code, at, 5)) {
        if (!std::memchr(r + 4, 0, code.size - at - 4)) break;
        if (!f(uint32_t(at + 4), uint32_t(at + le16(r + 2)), n)) return n + 1;
        ++n;
        uint16_t next = le16(r);
        if (next == 0) break;
        at += next;
    }
    return n;
}
} // namespace

int TrVMCode_CanHOTBuildTaskList(const TrCodeImage &code) {
    uint32_t n = walk_tasks(code, [](uint32_t, uint32_t, uint32_t i) { return i < kMaxTasks; });
    return n > kMaxTasks ? 36 : 0;
}

int TrVMCode_BuildTaskList(const TrCodeImage &code, uint8_t *db, uint32_t db_size) {
    uint32_t n28 = 0;
    uint8_t *seg = TrDB_Segment(db, db_size, 28, &n28);
    if (!seg) return 36;
    bool full = false;
    uint32_t n = walk_tasks(code, [&](uint32_t name, uint32_t list, uint32_t i) {
        if (i >= kMaxTasks || kTaskEntrySize * (i + 1) > n28) {
            full = true;
            return false;
        }
        put_le32(seg + kTaskEntrySize * i, name);
        put_le32(seg + kTaskEntrySize * i + 4, list);
        return true;
    });
    if (full) return 36;
    VmDbSegment s = TrDB_GetSegment(db, 28);
    s.count_b = uint16_t(n);
    TrDB_SetSegment(db, 28, s);
    return 0;
}

// ------------------------------------------------------ location words

namespace {
uint32_t element_size(uint32_t kind) {
    switch (kind) {
    case 0:
    case 6:
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
// Bytes the register gate touches for an access of `bits` at this word.
uint64_t access_bytes(uint32_t kind, uint32_t bit_no, uint32_t bits) {
    uint64_t size = element_size(kind), n = std::max<uint64_t>(1, bits / 8);
    if (kind == 6) return std::max<uint32_t>(1, bits); // one byte per boolean
    if (kind == 4) return n + 1;                       // text and its zero
    if (bit_no != 0 && size > 1) return n * size;      // one bit of each element
    return std::max(size, n);
}
} // namespace

uint8_t *TrevantCalculateVmDbAddress(uint32_t ref, uint32_t bits) {
    uint8_t *db = pDB;
    if (!db) return nullptr;
    uint32_t index = ref & 0xFFFFF, kind = (ref >> 26) & 7, bit_no = (ref >> 20) & 0x3F;
    uint32_t segment, scale;
    if (ref & (1u << 29)) {
        segment = 35;
        scale = 1;
        // A STRING in the complex-type data is read with its two bytes in
        // front of the text.
        if (kind == 4 && index < 2) return nullptr;
    } else {
        switch (kind) {
        case 0:
        case 6:
            segment = 6, scale = 1;
            break;
        case 1:
            segment = 7, scale = 2;
            break;
        case 2:
            segment = 8, scale = 4;
            break;
        case 3:
            segment = 9, scale = 8;
            break;
        case 5:
            segment = 10, scale = 1; // a byte offset
            break;
        case 4: {
            uint32_t n17 = 0, n18 = 0;
            uint8_t *ptrs = TrDB_Segment(db, pDBSize, 17, &n17);
            uint8_t *bufs = TrDB_Segment(db, pDBSize, 18, &n18);
            if (!ptrs || !bufs || index >= TrDB_GetSegment(db, 17).allocated ||
                4ull * index + 4 > n17)
                return nullptr;
            uint32_t p = le32(ptrs + 4 * index);
            uint32_t start = uint32_t(bufs - db);
            // The buffer, capacity + 3 bytes, must lie inside segment 18.
            if (p == 0 || p < start || p >= start + n18) return nullptr;
            if (uint64_t(p) + db[p] + 3 > uint64_t(start) + n18) return nullptr;
            return db + p + 2;
        }
        default:
            return nullptr;
        }
    }
    uint32_t size = 0;
    uint8_t *seg = TrDB_Segment(db, pDBSize, segment, &size);
    uint64_t at = uint64_t(index) * scale;
    if (!seg || at + access_bytes(kind, bit_no, bits) > size) return nullptr;
    return seg + at;
}

// ------------------------------------------------------------------ heap

int TrVMCode_AllocHeap(const TrCodeImage &code, uint8_t *db, uint32_t db_size, bool hot) {
    int32_t heap = TrVMCode_GetHeapSize(code);
    uint32_t n3 = 0;
    uint8_t *app = TrDB_Segment(db, db_size, 3, &n3);
    if (!app || n3 < kAppRecordSize) return 71;
    if (heap == 0) {
        put_le32(app + kAppHeap, 0);
        return 0;
    }
    if (heap < 0) {
        if (hot) return 71;
        TrHeap_DeleteHeap(g_own_heap);
        g_own_heap = TrHeap_CreateHeapMalloc(64, 0);
        if (!g_own_heap) return 71;
        put_le32(app + kAppHeap, kOwnHeap);
        return 0;
    }
    if (uint64_t(kAppRecordSize) + uint32_t(heap) > n3) return 71;
    uint8_t *buffer = app + kAppRecordSize;
    TrHeap *h = hot ? TrHeap_RelocateHeapBuffer(buffer, uint32_t(heap))
                    : TrHeap_CreateHeapBuffer(buffer, uint32_t(heap), 0);
    if (!h) return 71;
    put_le32(app + kAppHeap, uint32_t(h - db));
    return 0;
}

uint8_t *TrVM_GetHeap(uint8_t *db, uint32_t db_size) {
    uint32_t n3 = 0;
    uint8_t *app = TrDB_Segment(db, db_size, 3, &n3);
    if (!app || n3 < kAppRecordSize) return nullptr;
    uint32_t at = le32(app + kAppHeap);
    if (at == kOwnHeap) return g_own_heap;
    // The control record must lie behind the record, inside segment 3.
    uint32_t start = uint32_t(app - db);
    if (at < start + kAppRecordSize + trheap::kMinSize - trheap::kControlSize ||
        uint64_t(at) + trheap::kControlSize > uint64_t(start) + n3)
        return nullptr;
    return db + at;
}
