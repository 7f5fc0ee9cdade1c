// The commands of the control socket that look into the controller.
#pragma once

void CtlCmds_Register();
// The network commands (system/net_ctl.cpp).
void Net_CtlRegister();
void Iec_CtlRegister();
