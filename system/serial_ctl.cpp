// Control-socket commands for the serial ports.
//   serial            per logical port (0-2 the table's rows, 3 the USB
//                     gadget port): device, peer link, mode record, protocol,
//                     open state and bytes waiting
//   usb disconnect    the host suspends the gadget (the port closes)
//   usb connect       the host resumes it (the port reopens)
#include "system/serial_ctl.h"

#include "host/ctl.h"
#include "host/tty.h"
#include "serial/vcomm.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string show() {
    std::string out = "ok";
    for (int port = 0; port <= kVcommPorts; ++port) {
        VcommPortInfo info{};
        if (!Vcomm_PortInfo(port, &info)) {
            out += "\nport " + std::to_string(port) + ": none";
            continue;
        }
        char mode[32];
        std::snprintf(mode, sizeof mode, "%02X %02X %02X %02X %02X %02X", info.mode[0],
                      info.mode[1], info.mode[2], info.mode[3], info.mode[4], info.mode[5]);
        out += "\nport " + std::to_string(port) + ": device " + info.device + " peer " +
               host::tty_peer_link(info.device) + " mode " + mode + " protocol " +
               std::to_string(info.mode[5] & 0xF) + " open " +
               std::to_string(info.fd >= 0 ? 1 : 0) + " waiting " + std::to_string(info.waiting) +
               (info.intercept ? " intercept" : "");
    }
    return out;
}

std::string cmd_serial(const std::vector<std::string> &a) {
    if (a.size() != 1) return "error: usage: serial";
    return show();
}

std::string cmd_usb(const std::vector<std::string> &a) {
    if (a.size() == 2 && (a[1] == "connect" || a[1] == "disconnect")) {
        bool connect = a[1] == "connect";
        if (!host::usb_set_suspend_flag(connect ? '0' : '1'))
            return "error: the gadget's suspend flag cannot be written";
        return connect ? "ok usb connected" : "ok usb disconnected";
    }
    return "error: usage: usb connect | usb disconnect";
}

} // namespace

void Serial_CtlRegister() {
    host::ctl_register("serial", cmd_serial);
    host::ctl_register("usb", cmd_usb);
}
