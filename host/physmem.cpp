#include "host/physmem.h"

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace host {
namespace {
struct Region {
    uint8_t *virt;
    size_t len;
    uint32_t phys;
};
// The stand-in devices read the table from the main thread only, but the
// media player's thread may map the frame buffer too.
std::mutex g_lock;
std::vector<Region> g_regions;
} // namespace

size_t page_size() {
    return size_t(sysconf(_SC_PAGESIZE));
}

void phys_register(void *virt, size_t len, uint32_t phys) {
    std::lock_guard<std::mutex> l(g_lock);
    g_regions.push_back({static_cast<uint8_t *>(virt), len, phys});
}

void phys_unregister(void *virt) {
    std::lock_guard<std::mutex> l(g_lock);
    for (size_t i = 0; i < g_regions.size(); ++i) {
        if (g_regions[i].virt == virt) {
            g_regions.erase(g_regions.begin() + long(i));
            return;
        }
    }
}

bool pagemap_entry(uint64_t index, uint64_t *entry) {
    std::lock_guard<std::mutex> l(g_lock);
    const uint64_t page = page_size();
    const uintptr_t addr = uintptr_t(index * page);
    *entry = 0;
    for (const Region &r : g_regions) {
        uintptr_t base = uintptr_t(r.virt);
        if (addr >= base && addr < base + r.len) {
            uint64_t frame = (uint64_t(r.phys) + (addr - base)) / page;
            *entry = (1ull << 63) | (frame & ((1ull << 55) - 1));
            break;
        }
    }
    return true;
}

void lock_page(const void *addr) {
    uintptr_t page = uintptr_t(addr) & ~uintptr_t(page_size() - 1);
    // Failing to lock (RLIMIT_MEMLOCK) changes nothing for the stand-ins.
    (void)mlock(reinterpret_cast<const void *>(page), page_size());
}

uint8_t *phys_to_virt(uint32_t phys, size_t len) {
    std::lock_guard<std::mutex> l(g_lock);
    for (const Region &r : g_regions) {
        if (phys >= r.phys && uint64_t(phys - r.phys) + len <= r.len)
            return r.virt + (phys - r.phys);
    }
    return nullptr;
}

void phys_reset() {
    std::lock_guard<std::mutex> l(g_lock);
    g_regions.clear();
}

} // namespace host
