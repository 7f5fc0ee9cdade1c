// The network commands of the panel's control socket: "net" lists the
// interfaces, the socket records and the packet pool; "net link IF up|down"
// moves the link of a simulated interface.
#include "host/ctl.h"
#include "host/netsock.h"
#include "net/net.h"
#include "system/ctl_cmds.h"

#include <string>
#include <vector>

namespace {

std::string cmd_net(const std::vector<std::string> &a) {
    if (a.size() == 1) {
        char text[65536];
        Enet_Describe(text, sizeof text);
        return "ok\n" + host::net_describe() + text;
    }
    if (a.size() == 4 && a[1] == "link" && (a[3] == "up" || a[3] == "down")) {
        if (host::net_kernel()) return "error: links are the kernel's on this host";
        host::net_sim_link(a[2], a[3] == "up");
        return "ok " + a[2] + " link " + a[3];
    }
    return "error: usage: net | net link IF up|down";
}

} // namespace

void Net_CtlRegister() {
    host::ctl_register("net", cmd_net);
}
