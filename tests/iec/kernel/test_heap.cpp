// The runtime heap: the buffer heap's layout and compaction, checked case by
// case and then by random runs against a model; the allocator heap; heaps
// taken back from a copied buffer.
#include "base/le.h"
#include "iec/kernel/trheap.h"
#include "panel_fixture.h"

#include <map>
#include <random>
#include <vector>

namespace {

class IecHeapTest : public PanelTest {};

uint32_t used(TrHeap *h) {
    return le32(h + trheap::kUsed);
}
uint32_t entries(TrHeap *h) {
    return le32(h + trheap::kEntries);
}

TEST_F(IecHeapTest, BufferHeapLayout) {
    std::vector<uint8_t> buf(1000, 0xEE);
    EXPECT_EQ(TrHeap_CreateHeapBuffer(buf.data(), 35, 0), nullptr);
    EXPECT_NE(TrHeap_CreateHeapBuffer(buf.data(), 39, 0), nullptr); // 36 after rounding
    TrHeap *h = TrHeap_CreateHeapBuffer(buf.data(), 1002, 0x80000005);
    ASSERT_EQ(h, buf.data() + 1000 - 24);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 4), "TrSH");
    EXPECT_EQ(le32(&buf[4]), 1000u);
    EXPECT_EQ(le32(h + trheap::kCapacity), 964u);
    EXPECT_EQ(le32(h + trheap::kOptions), 5u); // bit 31 names the other kind
    EXPECT_EQ(TrHeap_GetFreeSpace(h), 956);
    // 5 bytes take 8 of data area and 8 of handle table.
    uint32_t a = TrHeap_Alloc(h, 5);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(used(h), 8u);
    EXPECT_EQ(TrHeap_GetFreeSpace(h), 964 - 8 - 16);
    EXPECT_EQ(le32(h - 8), 8u);  // size and flags
    EXPECT_EQ(le32(h - 4), 12u); // place: the data area's start
    EXPECT_EQ(buf[12 + 7], 0);   // zero-filled
    EXPECT_EQ(TrHeap_Alloc(h, 0), 0u);
    EXPECT_EQ(TrHeap_NbAlloc(h), 1u);
}

TEST_F(IecHeapTest, LockUnlockAndFree) {
    std::vector<uint8_t> buf(200);
    TrHeap *h = TrHeap_CreateHeapBuffer(buf.data(), 200, 0);
    uint32_t a = TrHeap_Alloc(h, 4);
    uint8_t *p = TrHeap_Lock(h, a);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(TrHeap_Lock(h, a), nullptr); // already locked
    TrHeap_Unlock(h, a);
    EXPECT_EQ(TrHeap_Lock(h, a), p);
    for (uint32_t bad : {0u, 2u, 0xFFFFFFFFu})
        EXPECT_EQ(TrHeap_Lock(h, bad), nullptr);
    TrHeap_Free(h, a);
    EXPECT_EQ(TrHeap_Lock(h, a), nullptr);
    EXPECT_EQ(TrHeap_NbAlloc(h), 0u);
    TrHeap_Free(h, a); // twice: counted once
    EXPECT_EQ(le32(h + trheap::kFreed), 1u);
    // Freeing the only block and compacting once empties the heap.
    EXPECT_EQ(TrHeap_Compact(h, 0), 1u);
    EXPECT_EQ(used(h), 0u);
    EXPECT_EQ(entries(h), 0u);
    EXPECT_EQ(TrHeap_Compact(h, 5), 0u);
}

TEST_F(IecHeapTest, ALockedBlockStopsTheHoleButNotTheRest) {
    std::vector<uint8_t> buf(400);
    TrHeap *h = TrHeap_CreateHeapBuffer(buf.data(), 400, 0);
    uint32_t a = TrHeap_Alloc(h, 8), b = TrHeap_Alloc(h, 8), c = TrHeap_Alloc(h, 8);
    uint8_t *pb = TrHeap_Lock(h, b);
    pb[0] = 0x5A;
    TrHeap_Free(h, a);
    for (int i = 0; i < 5; ++i)
        TrHeap_Compact(h, 32);
    EXPECT_EQ(TrHeap_Lock(h, b), nullptr); // still locked, still there
    EXPECT_EQ(le32(h - 16 + 4), 20u);
    EXPECT_EQ(used(h), 24u);
    TrHeap_Unlock(h, b);
    EXPECT_EQ(TrHeap_Compact(h, 2), 2u); // b moves down, then c
    EXPECT_EQ(used(h), 24u);
    EXPECT_EQ(TrHeap_Compact(h, 32), 1u); // the hole reached the end
    EXPECT_EQ(used(h), 16u);
    uint8_t *moved = TrHeap_Lock(h, b);
    EXPECT_EQ(moved, buf.data() + 12);
    EXPECT_EQ(moved[0], 0x5A);
    EXPECT_NE(TrHeap_Lock(h, c), nullptr);
}

TEST_F(IecHeapTest, SizesNearTheTopOfTheRangeAreRefused) {
    std::vector<uint8_t> buf(4096);
    TrHeap *h = TrHeap_CreateHeapBuffer(buf.data(), 4096, 0);
    for (uint32_t size :
         {0xFFFFFFFFu, 0xFFFFFFFDu, 0xFFFFFFF0u, 0x40000000u, 0x3FFFFFFFu, 4061u, 4060u - 8u + 1u})
        EXPECT_EQ(TrHeap_Alloc(h, size), 0u) << size;
    EXPECT_EQ(TrHeap_Alloc(h, 4060 - 8), 1u); // exactly the room left
    EXPECT_EQ(TrHeap_GetFreeSpace(h), 0);
    EXPECT_EQ(TrHeap_Alloc(h, 1), 0u);
}

TEST_F(IecHeapTest, RelocationChecksItsBufferAndNeedsNoFixUp) {
    std::vector<uint8_t> buf(300);
    TrHeap *h = TrHeap_CreateHeapBuffer(buf.data(), 300, 0);
    uint32_t a = TrHeap_Alloc(h, 6);
    TrHeap_Lock(h, a)[0] = 'x';
    TrHeap_Unlock(h, a);
    std::vector<uint8_t> copy = buf;
    EXPECT_EQ(TrHeap_RelocateHeapBuffer(copy.data(), 296), nullptr); // another size
    EXPECT_EQ(copy, buf);                                            // nothing changed
    TrHeap *moved = TrHeap_RelocateHeapBuffer(copy.data(), 300);
    ASSERT_EQ(moved, copy.data() + 300 - 24);
    EXPECT_EQ(TrHeap_Lock(moved, a)[0], 'x');
    // Records that do not describe the buffer are refused.
    struct Case {
        const char *what;
        uint32_t at, value;
    };
    const Case cases[] = {
        {"magic", 0, 0x48537254 ^ 1},
        {"capacity", 300 - 24 + trheap::kCapacity, 1000},
        {"used", 300 - 24 + trheap::kUsed, 300},
        {"entries", 300 - 24 + trheap::kEntries, 100},
        {"block place", 300 - 24 - 4, 290},
        {"block size", 300 - 24 - 8, 0x3FFFFFF0},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bad = buf;
        put_le32(&bad[c.at], c.value);
        EXPECT_EQ(TrHeap_RelocateHeapBuffer(bad.data(), 300), nullptr) << c.what;
    }
}

TEST_F(IecHeapTest, RandomRunsMatchAModel) {
    std::mt19937 rng(44);
    for (int run = 0; run < 40; ++run) {
        std::vector<uint8_t> buf(2048);
        TrHeap *h = TrHeap_CreateHeapBuffer(buf.data(), 2048, 0);
        struct Block {
            std::vector<uint8_t> data;
            bool locked = false;
        };
        std::map<uint32_t, Block> model;
        for (int step = 0; step < 400; ++step) {
            int op = int(rng() % 10);
            if (op < 4) {
                uint32_t size = 1 + rng() % 120;
                int32_t room = TrHeap_GetFreeSpace(h);
                uint32_t got = TrHeap_Alloc(h, size);
                uint32_t rounded = (size + 3) & ~3u;
                // Room is counted with one more handle entry than there is.
                EXPECT_EQ(got != 0, int64_t(rounded) <= room) << size << " " << room;
                if (!got) continue;
                EXPECT_EQ(model.count(got), 0u);
                uint8_t *p = TrHeap_Lock(h, got);
                ASSERT_NE(p, nullptr);
                Block b;
                for (uint32_t i = 0; i < size; ++i) {
                    EXPECT_EQ(p[i], 0);
                    p[i] = uint8_t(rng());
                    b.data.push_back(p[i]);
                }
                TrHeap_Unlock(h, got);
                model[got] = b;
            } else if (op < 6 && !model.empty()) {
                auto it = std::next(model.begin(), long(rng() % model.size()));
                TrHeap_Free(h, it->first);
                model.erase(it);
            } else if (op < 7 && !model.empty()) {
                auto it = std::next(model.begin(), long(rng() % model.size()));
                if (it->second.locked) {
                    TrHeap_Unlock(h, it->first);
                } else {
                    EXPECT_NE(TrHeap_Lock(h, it->first), nullptr);
                }
                it->second.locked = !it->second.locked;
            } else {
                TrHeap_Compact(h, 1 + rng() % 32);
            }
            ASSERT_EQ(TrHeap_NbAlloc(h), model.size());
        }
        // Every block keeps its bytes, wherever compaction moved it.
        for (auto &[handle, b] : model) {
            if (b.locked) TrHeap_Unlock(h, handle);
            uint8_t *p = TrHeap_Lock(h, handle);
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(std::equal(b.data.begin(), b.data.end(), p)) << handle;
            TrHeap_Unlock(h, handle);
        }
        // Unlocked, repeated compaction gathers the free space at the end.
        for (int i = 0; i < 200 && TrHeap_Compact(h, 32); ++i) {
        }
        uint32_t live = 0;
        for (auto &[handle, b] : model)
            live += (uint32_t(b.data.size()) + 3) & ~3u;
        EXPECT_EQ(used(h), live);
    }
}

TEST_F(IecHeapTest, AllocatorHeap) {
    TrHeap *h = TrHeap_CreateHeapMalloc(1, 7);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(TrHeap_GetFreeSpace(h), -1);
    std::vector<uint32_t> handles;
    for (int i = 0; i < 7; ++i)
        handles.push_back(TrHeap_Alloc(h, 10));
    EXPECT_EQ(handles, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7})); // three slots a page
    EXPECT_EQ(TrHeap_Alloc(h, 0), 0u);
    uint8_t *p = TrHeap_Lock(h, 5);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[9], 0);
    EXPECT_EQ(TrHeap_Lock(h, 5), p); // no lock state
    EXPECT_EQ(TrHeap_Lock(h, 10), nullptr);
    TrHeap_Free(h, 2);
    EXPECT_EQ(TrHeap_Lock(h, 2), nullptr);
    EXPECT_EQ(TrHeap_NbAlloc(h), 6u);
    EXPECT_EQ(TrHeap_Alloc(h, 3), 2u); // the first empty slot
    EXPECT_EQ(TrHeap_Compact(h, 32), 0u);
    TrHeap_FreeAll(h);
    EXPECT_EQ(TrHeap_NbAlloc(h), 0u);
    EXPECT_EQ(TrHeap_Alloc(h, 3), 1u);
    TrHeap_DeleteHeap(h);
}

} // namespace
