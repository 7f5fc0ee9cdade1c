// Screen objects: the classes of the operator's pages, each a row of the
// object manager's class table.
#pragma once
#include "gdi/field.h"
#include "screens/screens.h"

#include <cstddef>
#include <cstdint>

// KeypadHost, which the entry keypads read: screens/screens.h (system
// screens open the keypads too).

// Loads the slide-out key panel's picture "/mnt/cfg/keys.bmp": 1 when a
// usable one was loaded, else 0 (the panel then never opens).
int KEY_SlideInit();
// 1 while the key panel is open: the touch driver leaves the top-right
// corner to the panel meanwhile.
extern uint8_t Key_sld;

// The row of each object class, by type (null for the types of the screen
// manager's own screens); the top layer installs them with OBJM_SetClass.
const ObjClass *Objects_Class(int type);

// The classes by name; a class not built yet is a placeholder row
// (objects/not_built.cpp).
extern const ObjClass SHAPE_Class, TEXT_Class, EDIT_Class, BAR_Class, PAGE_Class, SWTCH_Class,
    LITE_Class, BMP_Class, METER_Class, GRAPH_Class, SELCT_Class, KPAD_Class, SLIDE_Class,
    NOTE_Class, ALOG_Class, ALM_Class, CF_Class, NULL40_Class, NULL32_Class, ROT_Class, RSPop_Class,
    ASCKPD_Class, KEY_Class, TRDPop_Class, VIDPS_Class;

// Puts the state of the screen objects' entry points that are not built yet
// back to its start values (tests; they hold none yet).
void Objects_NotBuiltReset();
// Puts the entry keypads' state back to its start values (tests).
void Keypads_Reset();

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
    int (*page_mode)();              // PAGE_mode: 1 while a user screen is shown
    const uint8_t *gray_scale;       // SYS_fGrayScale: the display shows grey levels only
    uint8_t (*dmem_corrupt)();       // CFM_IsDmemCorrupt: the program image in memory is corrupt
    const uint16_t *tick;            // sysTic: 10 ms ticks
    bool (*no_data)(const RCB *rcb); // the register's slot reports no data
};
void Objects_SetHooks(const ObjectHooks &hooks);

// What the note pads, video windows and the key panel need of the controller,
// set by the top layer.
struct PeripheryHooks {
    int (*key_put)(uint8_t key);             // SYS_KeyPut
    int (*keys_enabled)();                   // SYS_KeyEnabled
    void (*request_recovery)();              // sets ForceRecoveryDetectFlag and RecoverMode
    int (*touch_ctrl)(int command, int arg); // TCH_Ctrl
    uint32_t (*rcb_ref)(const RCB *rcb);     // the reference a register link reaches
};
void Objects_SetPeripheryHooks(const PeripheryHooks &hooks);
