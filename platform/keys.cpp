// Key ring, touch ring and press-key emulation. Each ring has one producer
// (the touch driver or an emulated press) and one consumer (the object
// manager's KEY_Check), in the main thread.
#include "platform/keys.h"

#include "base/trace.h"

KeyEntry KEY_ring[kKeyRingSize];
uint16_t KEY_wr, KEY_rd;
TouchEntry KEY_touch[kTouchRingSize];
uint16_t KEY_twr, KEY_trd;
uint8_t KEY_state;

uint32_t PressKeyimageON, PressKeyimageOFF;
uint16_t PressKeyDelayCounter, PressKeyDelay;
uint8_t PressKeyON;

namespace {
KeyHooks g_hooks;

struct KeyState {
    int last_repeated = -1; // key of the last repeat message
    KeyPutFn put = nullptr;
};
KeyState ks;

constexpr int kBeep = 3;

int key_put(uint8_t key) {
    if (ks.put) return ks.put(key);
    return g_hooks.put ? g_hooks.put(key) : 1;
}
bool busy() {
    return g_hooks.busy && g_hooks.busy();
}
void beep(int kind) {
    if (g_hooks.beep) g_hooks.beep(kind);
}

// Bit of an emulated key in the press images, 0 for keys that are not emulated.
uint32_t press_bit(int key) {
    if (key >= 1 && key <= 7) return 1u << key;
    switch (key) {
    case 13:
        return 0x40000;
    case 27:
        return 0x1000000;
    case 28:
        return 0x400000;
    case 29:
        return 0x800000;
    case 30:
        return 0x100000;
    case 31:
        return 0x80000;
    default:
        return 0;
    }
}
bool repeats(int key) {
    return key == 13 || (key >= 27 && key <= 31);
}

uint8_t press_key(int key, bool on) {
    uint32_t bit = press_bit(key);
    if (!bit) return 0;
    if (on) {
        PressKeyimageON |= bit;
        if (!repeats(key)) {
            KEY_Press(key, 0, 0);
            return 1;
        }
        if (PressKeyDelayCounter == 0) {
            KEY_Press(kKeyMessage, key, 0);
            PressKeyON = 1;
            uint16_t period = (ks.last_repeated == key && PressKeyDelay != 0) ? 50 : 125;
            PressKeyDelayCounter = PressKeyDelay = period;
            ks.last_repeated = key;
        } else {
            --PressKeyDelayCounter;
        }
        return 1;
    }
    if (!(PressKeyimageON & bit)) return 0;
    PressKeyimageON &= ~bit;
    PressKeyimageOFF |= bit;
    KEY_Press(kKeyRelease, 0, 0);
    PressKeyDelayCounter = PressKeyDelay = 0;
    return 1;
}
} // namespace

void KEY_SetPut(KeyPutFn put) {
    ks.put = put;
}

void KEY_SetHooks(const KeyHooks &hooks) {
    g_hooks = hooks;
}

int KEY_Init() {
    host::trace("KEY_Init");
    KEY_wr = KEY_rd = KEY_twr = KEY_trd = 0;
    KEY_state = 0;
    return g_hooks.open ? g_hooks.open(KEY_Press) : 0;
}

void KEY_Press(int code, int p1, int p2) {
    if (code < 256 && code != kKeyMessage) {
        uint16_t next = uint16_t((KEY_wr + 1) % kKeyRingSize);
        if (next != KEY_rd) {
            KEY_ring[KEY_wr] = {uint16_t(code), uint16_t(p1)};
            KEY_wr = next;
        } else if (code == kKeyRelease) {
            // Full: a release is never lost, it replaces the newest key.
            KEY_ring[(KEY_wr + kKeyRingSize - 1) % kKeyRingSize].code = kKeyRelease;
        }
        return;
    }
    uint16_t next = uint16_t((KEY_twr + 1) % kTouchRingSize);
    if (next != KEY_trd) {
        KEY_touch[KEY_twr] = {uint16_t(code), uint16_t(p1), uint16_t(p2)};
        KEY_twr = next;
    } else if (code == kTouchUp) {
        KEY_touch[(KEY_twr + kTouchRingSize - 1) % kTouchRingSize] = {uint16_t(code), uint16_t(p1),
                                                                      uint16_t(p2)};
    }
}

int KEY_Check(KeyCallback callback) {
    if (KEY_rd != KEY_wr) {
        const KeyEntry &k = KEY_ring[KEY_rd];
        if (KEY_state == 0) {
            if (k.code == kKeySystem) {
                if (g_hooks.system_key) g_hooks.system_key(k.param);
            } else if (k.code != kKeyRelease && !busy()) {
                beep(kBeep);
            }
        }
        if (key_put(uint8_t(k.code & 0xFF))) {
            KEY_state = 0;
            KEY_rd = uint16_t((KEY_rd + 1) % kKeyRingSize);
        } else {
            KEY_state = 1;
        }
    }
    if (KEY_trd == KEY_twr) return 0;
    TouchEntry *e = &KEY_touch[KEY_trd];
    KEY_trd = uint16_t((KEY_trd + 1) % kTouchRingSize);
    return callback ? callback(e->code, e->x, e->y) : 0;
}

void KEY_Flush() {
    host::trace("KEY_Flush");
    KEY_rd = KEY_wr;
    KEY_state = 0;
}

void KEY_FlushTouch() {
    host::trace("KEY_FlushTouch");
    KEY_trd = KEY_twr;
}

void KEY_FlushDowns() {
    if (KEY_TouchWaiting() < 2 || KEY_touch[KEY_trd].code != kTouchDown) return;
    while (KEY_trd != KEY_twr && (KEY_trd + 1) % kTouchRingSize != KEY_twr &&
           KEY_touch[KEY_trd].code == kTouchDown)
        KEY_trd = uint16_t((KEY_trd + 1) % kTouchRingSize);
}

int KEY_Waiting() {
    return (KEY_wr + kKeyRingSize - KEY_rd) % kKeyRingSize;
}
int KEY_TouchWaiting() {
    return (KEY_twr + kTouchRingSize - KEY_trd) % kTouchRingSize;
}

uint8_t Tr_PressKeyProcess(int key, int on) {
    return press_key(key, on != 0);
}

void Key_Reset() {
    KEY_wr = KEY_rd = KEY_twr = KEY_trd = 0;
    KEY_state = 0;
    PressKeyimageON = PressKeyimageOFF = 0;
    PressKeyDelayCounter = PressKeyDelay = 0;
    PressKeyON = 0;
    ks = KeyState{};
}
