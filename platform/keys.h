// Keys and touch events: the key ring and the touch ring between the touch
// driver and the object manager, and the press-key emulation of the ladder
// and IEC key-press instructions.
#pragma once
#include <cstdint>

// Event codes. Codes below 256 other than kKeyMessage are key codes.
constexpr uint16_t kKeyMessage = 16;  // a key message (touch ring), p1 = the key
constexpr uint16_t kKeySystem = 26;   // the system key, p1 = its action
constexpr uint16_t kKeyRelease = 255; // key release
constexpr uint16_t kTouchUp = 256;    // touch released
constexpr uint16_t kTouchDown = 512;  // touch pressed

constexpr int kKeyRingSize = 8;    // at most 7 keys wait
constexpr int kTouchRingSize = 32; // at most 31 touch events wait

struct KeyEntry {
    uint16_t code;
    uint16_t param;
};
struct TouchEntry {
    uint16_t code;
    uint16_t x;
    uint16_t y;
};

// Receives one touch-ring event: (event code, x or key, y).
using KeyCallback = int (*)(int code, int x, int y);

extern KeyEntry KEY_ring[kKeyRingSize];
extern uint16_t KEY_wr, KEY_rd;
extern TouchEntry KEY_touch[kTouchRingSize];
extern uint16_t KEY_twr, KEY_trd;
extern uint8_t KEY_state; // 1 while the oldest key waits for the function-key registers

extern uint32_t PressKeyimageON, PressKeyimageOFF;
extern uint16_t PressKeyDelayCounter, PressKeyDelay;
extern uint8_t PressKeyON;

// Clears both rings and the key state and opens the touch driver with
// KEY_Press as its callback; returns what the touch driver's open returns.
int KEY_Init();
void KEY_Press(int code, int p1, int p2);
int KEY_Check(KeyCallback callback);
void KEY_Flush();
void KEY_FlushTouch();
void KEY_FlushDowns();
// Number of keys and touch events waiting.
int KEY_Waiting();
int KEY_TouchWaiting();

// The ladder key-press instruction: program counter after the opcode word;
// reads and skips its own operands; 1 when it acted.
uint8_t PressKeyProcess(uint32_t *pc, uint8_t power);
// The IEC key-press block: presses (on != 0) or releases the key; 1 when it acted.
uint8_t Tr_PressKeyProcess(int key, int on);

// Where a taken key goes (the function-key registers); tests replace it to
// refuse keys. Null restores the default.
using KeyPutFn = int (*)(uint8_t key);
// Replaces where keys are put (test fixtures); Key_Reset drops it.
void KEY_SetPut(KeyPutFn put);

// What the rings need of the services above them, set by the top layer.
struct KeyHooks {
    int (*open)(void (*press)(int code, int p1, int p2)); // the touch driver, fed by KEY_Press
    void (*beep)(int kind);
    bool (*busy)();                      // an application is being loaded: keys are silent
    void (*system_key)(uint16_t action); // the system key's action
    int (*put)(uint8_t key); // a key into the function-key registers; 0 while they are full
};
void KEY_SetHooks(const KeyHooks &hooks);

void Key_Reset();
