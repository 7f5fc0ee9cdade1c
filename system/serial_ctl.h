// Control-socket commands "serial" and "usb" (the serial ports of a running
// panel, the USB gadget's connection).
#pragma once

void Serial_CtlRegister();
