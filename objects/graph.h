// GRAPH objects (trend graphs): what the controller lends them, set by the
// top layer.
#pragma once
#include <cstdint>

struct RCB;

struct GraphHooks {
    // The battery-backed memory of the screen objects.
    uint32_t (*alloc_bbr)();
    void (*expand_bbr)(uint32_t size);
    uint32_t (*read_bbr)(void *dst, uint32_t offset, uint32_t length);
    void (*write_bbr)(const void *src, uint32_t offset, uint32_t length);
    // Register links: packing on or off (the old setting back), a link moved
    // by a number of bits from where it was linked.
    int (*pack_regs)(int on);
    void (*mod_link)(RCB *rcb, int32_t offset);
    int (*run_mode)();   // 0 while the controller is idle
    const uint16_t *tic; // the 10 ms tick
};
void GRAPH_SetHooks(const GraphHooks &hooks);

// The battery-backed memory is handed out again (the screen program is
// built): rings take new places. Until then a graph keeps the place its
// ring got when its page first opened, however often the page opens again.
void GRAPH_ForgetRings();
// Puts the graphs' ring places back to none (tests).
void GRAPH_Reset();
