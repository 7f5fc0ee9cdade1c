// The register access the user manager and the language selection share
// (the hooks the top layer sets with USRMGR_SetHooks). Private to the screen
// manager.
#pragma once
#include "screens/screens.h"

// A link of the current pool, or null without the hooks.
RCB *Language_LinkRegister(uint32_t link, uint32_t size);
// Fills `n` bytes from the register (zeros when unlinked).
void Language_ReadRegister(const RCB *rcb, void *dst, uint32_t n);
