// Screen objects.
#pragma once
#include "screens/screens.h"

#include <cstddef>
#include <cstdint>

void KEY_SlideInit();

// Puts the state of the screen objects' entry points that are not built yet
// back to its start values (tests; they hold none yet).
void Objects_NotBuiltReset();

// What the object classes need of the controller (register links, the
// 10 ms tick, the blink phase, the beeper) and of the screen manager (access
// levels, the record accessors), set by the top layer.
struct ObjectHooks {
    RCB *(*link_reg)(uint32_t link, uint32_t size);
    void (*read_reg)(void *dst, const RCB *rcb, uint32_t size);
    void (*write_reg)(const RCB *rcb, const void *src, uint32_t len);
    const uint8_t *flash; // sysFlash: toggles about every 500 ms
    void (*beep)(int length);
    int (*got_access)(int level); // UserGotAccess
    void (*reset_timeout)();      // USRMGR_resetTimeout
    // The 12-byte gradient extension at a record offset, null unless inside the record.
    const uint8_t *(*gradient_ext)(const uint8_t *def, uint32_t offset);
    // The record holds `size` bytes at `offset`.
    bool (*holds)(const uint8_t *def, size_t offset, size_t size);
};
void Objects_SetHooks(const ObjectHooks &hooks);

// Class rows: SHAPE (type 0), TEXT (1), SWTCH (6), NULL (22 and 23).
extern const ObjClass SHAPE_Class, TEXT_Class, SWTCH_Class, NULL22_Class, NULL23_Class;
