// The controller's services for the note pads, video windows and the key
// panel, reached through the hooks the top layer sets.
#include "objects/periphery.h"

namespace {
PeripheryHooks g_hooks;
} // namespace

void Objects_SetPeripheryHooks(const PeripheryHooks &hooks) {
    g_hooks = hooks;
}

namespace obj {

int KeyPut(uint8_t key) {
    return g_hooks.key_put ? g_hooks.key_put(key) : 0;
}
int KeysEnabled() {
    return g_hooks.keys_enabled ? g_hooks.keys_enabled() : 1;
}
void RequestRecovery() {
    if (g_hooks.request_recovery) g_hooks.request_recovery();
}
void TouchCtrl(int command) {
    if (g_hooks.touch_ctrl) g_hooks.touch_ctrl(command, 0);
}
uint32_t RegRef(const RCB *rcb) {
    return rcb && g_hooks.rcb_ref ? g_hooks.rcb_ref(rcb) : 0;
}

} // namespace obj
