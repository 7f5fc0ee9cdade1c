// The panel wired as start-up wires it, for fuzz targets whose inputs reach
// register writes: a write to the port-action system register may ask for a
// warm reset, which ends the process as the board would reboot, so here that
// request does nothing.
#pragma once
#include "serial/command.h"
#include "system/wiring.h"

inline void FuzzWire() {
    System_Wire();
    CmdHooks hooks = Cmd_Hooks();
    hooks.warm_reset = nullptr;
    Cmd_SetHooks(hooks);
}
