// The runtime heap: buffer heap and allocator heap behind one set of
// operations.
#include "iec/kernel/trheap.h"

#include "base/le.h"

#include <cstdlib>
#include <cstring>

using namespace trheap;

namespace {
constexpr char kMagic[4] = {'T', 'r', 'S', 'H'};

bool is_malloc(const TrHeap *h) {
    return le32(h + kOptions) & kMallocKind;
}

// ------------------------------------------------------------ buffer heap

struct Buf {
    TrHeap *ctrl;
    uint8_t *start() const { return ctrl - cap() - kHeaderSize; }
    uint32_t get(uint32_t f) const { return le32(ctrl + f); }
    void put(uint32_t f, uint32_t v) const { put_le32(ctrl + f, v); }
    uint32_t cap() const { return get(kCapacity); }
    uint32_t used() const { return get(kUsed); }
    uint32_t entries() const { return get(kEntries); }
    uint8_t *entry(uint32_t h) const { return ctrl - kEntrySize * h; }
    uint32_t word(uint32_t h) const { return le32(entry(h)); }
    uint32_t addr(uint32_t h) const { return le32(entry(h) + 4); }
    void set(uint32_t h, uint32_t w, uint32_t a) const {
        put_le32(entry(h), w);
        put_le32(entry(h) + 4, a);
    }
    void set_word(uint32_t h, uint32_t w) const { put_le32(entry(h), w); }
    void set_addr(uint32_t h, uint32_t a) const { put_le32(entry(h) + 4, a); }
    // A block's place, checked against the used data area.
    bool block_ok(uint32_t h) const {
        uint64_t a = addr(h), n = word(h) & kSizeMask;
        return a >= kHeaderSize && a + n <= uint64_t(kHeaderSize) + used();
    }
    void drop_top_empties() const {
        uint32_t n = entries();
        while (n > 0 && word(n) == 0)
            --n;
        put(kEntries, n);
    }
};

uint32_t buf_alloc(const Buf &b, uint32_t size) {
    // Sizes come from programs: one above the capacity never fits, and the
    // room test must not wrap.
    if (size == 0 || size > b.cap()) return 0;
    uint64_t rounded = (uint64_t(size) + 3) & ~uint64_t(3);
    if (rounded > kSizeMask) return 0;
    uint64_t need = uint64_t(b.used()) + kEntrySize * (uint64_t(b.entries()) + 1) + rounded;
    if (need > b.cap()) return 0;
    uint32_t h = 1, n = b.entries();
    while (h <= n && b.word(h) != 0)
        ++h;
    if (h > n) b.put(kEntries, n + 1);
    uint32_t at = kHeaderSize + b.used();
    b.set(h, uint32_t(rounded), at);
    std::memset(b.start() + at, 0, rounded);
    b.put(kUsed, b.used() + uint32_t(rounded));
    return h;
}

// The entry of a handle, when it names a live block.
bool buf_live(const Buf &b, uint32_t h) {
    return h != 0 && h <= b.entries() && b.word(h) != 0 && b.block_ok(h);
}

// One compaction step; false when none applies.
bool buf_step(const Buf &b) {
    uint32_t n = b.entries();
    for (uint32_t f = 1; f <= n; ++f) {
        uint32_t w = b.word(f);
        if (!(w & kFreedBit) || !b.block_ok(f)) continue;
        uint32_t a = b.addr(f), s = w & kSizeMask, end = a + s;
        if (end == kHeaderSize + b.used()) {
            b.put(kUsed, a - kHeaderSize);
            b.set(f, 0, 0);
            b.put(kFreed, b.get(kFreed) - 1);
            return true;
        }
        uint32_t g = 1;
        while (g <= n && !(g != f && b.word(g) != 0 && b.addr(g) == end && b.block_ok(g)))
            ++g;
        if (g > n) continue;
        uint32_t gw = b.word(g), gs = gw & kSizeMask;
        if (gw & kFreedBit) {
            b.set_word(f, (w & ~kSizeMask) | (s + gs));
            b.set(g, 0, 0);
            b.put(kFreed, b.get(kFreed) - 1);
            return true;
        }
        if (gw & kLockedBit) continue;
        std::memmove(b.start() + a, b.start() + end, gs);
        b.set_addr(g, a);
        b.set_addr(f, a + gs);
        return true;
    }
    return false;
}

// ---------------------------------------------------------- allocator heap

struct MallocHeap {
    uint8_t record[kControlSize]; // options at kOptions, like the buffer heap
    void **first_page;
    uint32_t slots;
};

MallocHeap *mh(TrHeap *h) {
    return reinterpret_cast<MallocHeap *>(h);
}

// Slot of a handle (from 1), or null.
void **m_slot(MallocHeap *m, uint32_t handle) {
    if (handle == 0) return nullptr;
    uint32_t i = handle - 1;
    for (void **page = m->first_page; page; page = static_cast<void **>(page[m->slots])) {
        if (i < m->slots) return &page[i];
        i -= m->slots;
    }
    return nullptr;
}

uint32_t m_alloc(MallocHeap *m, uint32_t size) {
    if (size == 0) return 0;
    uint32_t handle = 1;
    void ***link = &m->first_page;
    while (*link) {
        void **page = *link;
        for (uint32_t i = 0; i < m->slots; ++i, ++handle) {
            if (!page[i]) {
                void *p = std::calloc(1, size);
                if (!p) return 0;
                page[i] = p;
                return handle;
            }
        }
        link = reinterpret_cast<void ***>(&page[m->slots]);
    }
    void **page = static_cast<void **>(std::calloc(m->slots + 1, sizeof(void *)));
    if (!page) return 0;
    void *p = std::calloc(1, size);
    if (!p) {
        std::free(page);
        return 0;
    }
    page[0] = p;
    *link = page;
    return handle;
}

void m_free_all(MallocHeap *m) {
    void **page = m->first_page;
    while (page) {
        for (uint32_t i = 0; i < m->slots; ++i)
            std::free(page[i]);
        void **next = static_cast<void **>(page[m->slots]);
        std::free(page);
        page = next;
    }
    m->first_page = nullptr;
}
} // namespace

TrHeap *TrHeap_CreateHeapBuffer(uint8_t *buffer, uint32_t size, uint32_t options) {
    size &= ~3u;
    // Block sizes are held in 30 bits: a larger area could not be described.
    if (!buffer || size < kMinSize || size - kMinSize > kSizeMask) return nullptr;
    std::memcpy(buffer, kMagic, 4);
    put_le32(buffer + 4, size);
    put_le32(buffer + 8, 0); // places are offsets from the buffer itself
    TrHeap *ctrl = buffer + size - kControlSize;
    put_le32(ctrl + kBase, kHeaderSize);
    put_le32(ctrl + kUsed, 0);
    put_le32(ctrl + kCapacity, size - kMinSize);
    put_le32(ctrl + kOptions, options & ~kMallocKind);
    put_le32(ctrl + kEntries, 0);
    put_le32(ctrl + kFreed, 0);
    return ctrl;
}

TrHeap *TrHeap_CreateHeapMalloc(uint32_t slots_per_page, uint32_t options) {
    MallocHeap *m = static_cast<MallocHeap *>(std::calloc(1, sizeof(MallocHeap)));
    if (!m) return nullptr;
    m->slots = slots_per_page < 3 ? 3 : slots_per_page;
    put_le32(m->record + kOptions, options | kMallocKind);
    return m->record;
}

uint32_t TrHeap_Alloc(TrHeap *heap, uint32_t size) {
    if (!heap) return 0;
    return is_malloc(heap) ? m_alloc(mh(heap), size) : buf_alloc(Buf{heap}, size);
}

uint8_t *TrHeap_Lock(TrHeap *heap, uint32_t handle) {
    if (!heap) return nullptr;
    if (is_malloc(heap)) {
        void **slot = m_slot(mh(heap), handle);
        return slot ? static_cast<uint8_t *>(*slot) : nullptr;
    }
    Buf b{heap};
    if (!buf_live(b, handle)) return nullptr;
    uint32_t w = b.word(handle);
    if (w & (kFreedBit | kLockedBit)) return nullptr;
    b.set_word(handle, w | kLockedBit);
    return b.start() + b.addr(handle);
}

void TrHeap_Unlock(TrHeap *heap, uint32_t handle) {
    if (!heap || is_malloc(heap)) return;
    Buf b{heap};
    if (!buf_live(b, handle)) return;
    uint32_t w = b.word(handle);
    if (!(w & kFreedBit)) b.set_word(handle, w & ~kLockedBit);
}

void TrHeap_Free(TrHeap *heap, uint32_t handle) {
    if (!heap) return;
    if (is_malloc(heap)) {
        void **slot = m_slot(mh(heap), handle);
        if (slot) {
            std::free(*slot);
            *slot = nullptr;
        }
        return;
    }
    Buf b{heap};
    if (handle == 0 || handle > b.entries()) return;
    uint32_t w = b.word(handle);
    if (w == 0 || (w & kFreedBit)) return;
    b.set_word(handle, w | kFreedBit);
    b.put(kFreed, b.get(kFreed) + 1);
}

void TrHeap_FreeAll(TrHeap *heap) {
    if (!heap) return;
    if (is_malloc(heap)) {
        m_free_all(mh(heap));
        return;
    }
    Buf b{heap};
    b.put(kUsed, 0);
    b.put(kEntries, 0);
    b.put(kFreed, 0);
}

void TrHeap_DeleteHeap(TrHeap *heap) {
    if (!heap) return;
    TrHeap_FreeAll(heap);
    if (is_malloc(heap)) std::free(mh(heap));
}

uint32_t TrHeap_NbAlloc(TrHeap *heap) {
    if (!heap) return 0;
    uint32_t n = 0;
    if (is_malloc(heap)) {
        MallocHeap *m = mh(heap);
        for (void **page = m->first_page; page; page = static_cast<void **>(page[m->slots]))
            for (uint32_t i = 0; i < m->slots; ++i)
                n += page[i] != nullptr;
        return n;
    }
    Buf b{heap};
    for (uint32_t h = 1; h <= b.entries(); ++h)
        n += b.word(h) != 0 && !(b.word(h) & kFreedBit);
    return n;
}

int32_t TrHeap_GetFreeSpace(TrHeap *heap) {
    if (!heap) return 0;
    if (is_malloc(heap)) return -1;
    Buf b{heap};
    int64_t room = int64_t(b.cap()) - (int64_t(b.used()) + 8 * (int64_t(b.entries()) + 1));
    return room > 0 ? int32_t(room) : 0;
}

uint32_t TrHeap_Compact(TrHeap *heap, uint32_t step_limit) {
    if (!heap || is_malloc(heap)) return 0;
    Buf b{heap};
    uint32_t limit = step_limit ? step_limit : 1, steps = 0;
    while (steps < limit && buf_step(b)) {
        b.drop_top_empties();
        ++steps;
    }
    return steps;
}

TrHeap *TrHeap_RelocateHeapBuffer(uint8_t *buffer, uint32_t size) {
    size &= ~3u;
    if (!buffer || size < kMinSize || std::memcmp(buffer, kMagic, 4) != 0 ||
        le32(buffer + 4) != size)
        return nullptr;
    // The records come back from a file: they must describe this buffer.
    Buf b{buffer + size - kControlSize};
    uint64_t cap = b.cap(), used = b.used(), n = b.entries();
    if (cap != size - kMinSize || used > cap || used + kEntrySize * n > cap || (used & 3) ||
        b.get(kFreed) > n || (b.get(kOptions) & kMallocKind))
        return nullptr;
    for (uint32_t h = 1; h <= n; ++h)
        if (b.word(h) != 0 && !b.block_ok(h)) return nullptr;
    b.put(kBase, kHeaderSize);
    put_le32(buffer + 8, 0);
    return b.ctrl;
}
