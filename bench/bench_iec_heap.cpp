// The runtime heap against the C library allocator doing the same work.
//   BM_HeapAllocFree   64 blocks of mixed sizes allocated, written, then freed
//                      and the heap compacted back to empty with Compact(32)
//                      calls, as the VM's cycles do
// Its baseline mallocs the same 64 sizes, writes them and frees them.
#include "iec/kernel/trheap.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kBlocks = 64;

std::vector<uint32_t> sizes() {
    std::vector<uint32_t> s;
    uint32_t x = 12345;
    for (int i = 0; i < kBlocks; ++i) {
        x = x * 1103515245u + 12345u;
        s.push_back(8 + (x >> 16) % 200);
    }
    return s;
}

void BM_HeapAllocFree(benchmark::State &state) {
    std::vector<uint8_t> buf(64 * 1024);
    TrHeap *h = TrHeap_CreateHeapBuffer(buf.data(), uint32_t(buf.size()), 0);
    const std::vector<uint32_t> s = sizes();
    uint32_t handles[kBlocks];
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) {
            handles[i] = TrHeap_Alloc(h, s[i]);
            uint8_t *p = TrHeap_Lock(h, handles[i]);
            std::memset(p, i, s[i]);
            TrHeap_Unlock(h, handles[i]);
        }
        // Freed in allocation order: compaction moves the live ones down
        // until the holes reach the end.
        for (int i = 0; i < kBlocks; ++i)
            TrHeap_Free(h, handles[i]);
        while (TrHeap_Compact(h, 32) != 0) {
        }
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_HeapAllocFree);

void BM_HeapAllocFree_baseline(benchmark::State &state) {
    const std::vector<uint32_t> s = sizes();
    void *blocks[kBlocks];
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) {
            blocks[i] = std::malloc(s[i]);
            std::memset(blocks[i], i, s[i]);
        }
        benchmark::DoNotOptimize(blocks);
        for (int i = 0; i < kBlocks; ++i)
            std::free(blocks[i]);
    }
}
BENCHMARK(BM_HeapAllocFree_baseline);

} // namespace
