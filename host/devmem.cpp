#include "host/devmem.h"

#include "host/board.h"
#include "host/config.h"
#include "host/i2c.h"
#include "host/pxp_block.h"

#include <atomic>
#include <map>
#include <mutex>

namespace host {

SctRegBlock::SctRegBlock(uint32_t size) : words_(size / 4, 0) {}

uint32_t SctRegBlock::read(uint32_t offset) {
    if (offset / 4 >= words_.size()) return 0;
    uint32_t reg = plain(offset & ~0xFu) ? offset & ~3u : offset & ~0xFu;
    return load(reg);
}

void SctRegBlock::write(uint32_t offset, uint32_t value) {
    if (offset / 4 >= words_.size()) return;
    uint32_t reg = offset & ~0xFu;
    if (plain(reg)) reg = offset & ~3u;
    uint32_t *w = slot(reg);
    uint32_t old = *w;
    switch (plain(reg & ~0xFu) ? 0 : offset & 0xC) {
    case 0x4:
        *w = old | value;
        break;
    case 0x8:
        *w = old & ~value;
        break;
    case 0xC:
        *w = old ^ value;
        break;
    default:
        *w = value;
        break;
    }
    stored(reg, old, *w);
}

namespace {

struct BoardEntry {
    uint32_t phys, size;
    RegBlockFactory make;
    std::shared_ptr<RegBlock> block; // created on first use
};

// Unmodelled addresses: a page of plain read-back storage each.
class PlainPage : public RegBlock {
public:
    uint32_t read(uint32_t offset) override { return words_[(offset & 0xFFF) / 4]; }
    void write(uint32_t offset, uint32_t value) override { words_[(offset & 0xFFF) / 4] = value; }

private:
    uint32_t words_[1024] = {};
};

std::recursive_mutex g_lock; // the main thread and the watchdog thread both save through it
std::map<uint32_t, BoardEntry> g_board; // by base address
std::map<uint32_t, std::shared_ptr<RegBlock>> g_plain;
bool g_board_ready = false;
std::atomic<int> g_next_fd{3};
std::vector<RegMap *> g_maps;

void board_defaults();

BoardEntry *entry_for(uint32_t phys) {
    if (!g_board_ready) board_defaults();
    auto it = g_board.upper_bound(phys);
    if (it == g_board.begin()) return nullptr;
    --it;
    if (phys - it->second.phys >= it->second.size) return nullptr;
    return &it->second;
}

} // namespace

struct RegMap {
    uint32_t phys, size;
    // Segments of the mapping, each within one block.
    struct Segment {
        uint32_t first, end; // physical
        uint32_t block_base;
        std::shared_ptr<RegBlock> block;
    };
    std::vector<Segment> segments;
    Segment *find(uint32_t addr) {
        for (Segment &s : segments)
            if (addr >= s.first && addr < s.end) return &s;
        return nullptr;
    }
};

void devmem_add(uint32_t phys, uint32_t size, RegBlockFactory make) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_board_ready) board_defaults();
    g_board[phys] = BoardEntry{phys, size, std::move(make), nullptr};
}

std::shared_ptr<RegBlock> devmem_block(uint32_t phys) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    BoardEntry *e = entry_for(phys);
    if (!e) return nullptr;
    if (!e->block) e->block = e->make();
    return e->block;
}

int devmem_open() {
    if (config_int("devmem", 1) == 0) return -1;
    return g_next_fd++;
}

void devmem_close(int) {}

RegMap *devmem_map(int fd, uint32_t phys, uint32_t size) {
    if (fd < 0 || size == 0) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    auto *map = new RegMap{phys, size, {}};
    uint64_t end = uint64_t(phys) + size;
    for (uint64_t addr = phys; addr < end;) {
        uint32_t a = uint32_t(addr);
        RegMap::Segment seg{};
        seg.first = a;
        if (BoardEntry *e = entry_for(a)) {
            if (!e->block) e->block = e->make();
            seg.block = e->block;
            seg.block_base = e->phys;
            seg.end = uint32_t(std::min<uint64_t>(end, uint64_t(e->phys) + e->size));
        } else {
            uint32_t page = a & ~0xFFFu;
            auto &p = g_plain[page];
            if (!p) p = std::make_shared<PlainPage>();
            seg.block = p;
            seg.block_base = page;
            seg.end = uint32_t(std::min<uint64_t>(end, uint64_t(page) + 0x1000));
        }
        addr = seg.end;
        map->segments.push_back(std::move(seg));
    }
    g_maps.push_back(map);
    return map;
}

void devmem_unmap(RegMap *map) {
    if (!map) return;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    // A mapping that a reset already dropped is not freed twice.
    for (auto it = g_maps.begin(); it != g_maps.end(); ++it) {
        if (*it == map) {
            g_maps.erase(it);
            delete map;
            return;
        }
    }
}

uint32_t reg_read(RegMap *map, uint32_t offset) {
    if (!map || offset >= map->size) return 0;
    uint32_t addr = map->phys + (offset & ~3u);
    RegMap::Segment *s = map->find(addr);
    return s ? s->block->read(addr - s->block_base) : 0;
}

void reg_write(RegMap *map, uint32_t offset, uint32_t value) {
    if (!map || offset >= map->size) return;
    uint32_t addr = map->phys + (offset & ~3u);
    RegMap::Segment *s = map->find(addr);
    if (s) s->block->write(addr - s->block_base, value);
}

bool reg_dma(RegMap *map, uint32_t offset, uint8_t *buffer, uint32_t bytes, bool read) {
    if (!map || offset >= map->size || (!buffer && bytes)) return false;
    uint32_t addr = map->phys + (offset & ~3u);
    RegMap::Segment *s = map->find(addr);
    return s && s->block->dma(addr - s->block_base, buffer, bytes, read);
}

void devmem_sync(RegMap *) {
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

void devmem_reset() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    for (RegMap *m : g_maps)
        delete m;
    g_maps.clear();
    g_board.clear();
    g_plain.clear();
    g_board_ready = false;
}

namespace {
// The board: one line per modelled block.
void board_defaults() {
    g_board_ready = true;
    auto sct = [](uint32_t size) { return [size] { return std::make_shared<SctRegBlock>(size); }; };
    // clang-format off
    g_board[soc::kPinctrl] = {soc::kPinctrl, soc::kBlockSize, board_make_pinctrl, nullptr};
    g_board[soc::kClkctrl] = {soc::kClkctrl, soc::kBlockSize, sct(soc::kBlockSize), nullptr};
    g_board[soc::kPower]   = {soc::kPower,   soc::kBlockSize, board_make_power, nullptr};
    g_board[soc::kRtc]     = {soc::kRtc,     soc::kBlockSize, board_make_rtc, nullptr};
    g_board[soc::kAdc]     = {soc::kAdc,     soc::kBlockSize, board_make_adc, nullptr};
    g_board[soc::kSsp1]    = {soc::kSsp1,    soc::kBlockSize, [] { return board_make_ssp(1); }, nullptr};
    g_board[soc::kSsp2]    = {soc::kSsp2,    soc::kBlockSize, [] { return board_make_ssp(2); }, nullptr};
    g_board[soc::kSsp3]    = {soc::kSsp3,    soc::kBlockSize, [] { return board_make_ssp(3); }, nullptr};
    g_board[kI2c0]         = {kI2c0,         soc::kBlockSize, board_make_i2c0, nullptr};
    g_board[kPxpPhys]      = {kPxpPhys,      soc::kBlockSize, board_make_pxp, nullptr};
    // clang-format on
}
} // namespace

} // namespace host
