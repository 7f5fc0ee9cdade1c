// What the note pads, video windows and the slide-out key panel need of the
// controller beyond the hooks every class uses: the function-key registers,
// the recovery request and the touch driver's modes (the grey-scale flag is
// every class's, in obj_int.h).
// Private to the screen objects.
#pragma once
#include "objects/objects.h"

namespace obj {
int KeyPut(uint8_t key); // SYS_KeyPut
int KeysEnabled();       // SYS_KeyEnabled
void RequestRecovery();  // asks for the recovery screen on the next screen pass
void TouchCtrl(int command);
uint32_t RegRef(const RCB *rcb); // 0 when unlinked
} // namespace obj
