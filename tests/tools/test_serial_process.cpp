// A running panel's serial ports seen from outside: socat writes into a
// port's peer link and panelctl shows the bytes waiting; the USB gadget port
// closes while the host suspends it.
#include "supervised_panel.h"

#include <string>

namespace {

class SerialProcessTest : public SupervisedPanelTest {
protected:
    // The line of one port in panelctl serial.
    std::string port_line(int port) {
        std::string out = ctl("serial");
        std::string key = "port " + std::to_string(port) + ": ";
        size_t at = out.find(key);
        if (at == std::string::npos) return "";
        return out.substr(at, out.find('\n', at) - at);
    }
};

TEST_F(SerialProcessTest, PeerBytesWaitAndUsbFollowsConnect) {
    start();
    ASSERT_TRUE(wait_for([&] { return port_line(1).find(" open 1") != std::string::npos; }, 5000))
        << ctl("serial");
    EXPECT_NE(port_line(1).find("device /dev/ttySP3 peer " + root_dir + "/dev/ttySP3.peer"),
              std::string::npos);
    // The programming protocol holds the panel's own port.
    EXPECT_NE(port_line(0).find("mode 05 00 03 00 00 01 protocol 1"), std::string::npos);
    EXPECT_NE(port_line(3).find("mode 05 00 03 00 00 01 protocol 1 open 1"), std::string::npos);

    int rc = -1;
    std::string out = run("printf abc | socat -u - " + root_dir + "/dev/ttySP3.peer", &rc);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_TRUE(wait_for([&] { return port_line(1).find("waiting 3") != std::string::npos; }, 5000))
        << ctl("serial");
    EXPECT_NE(port_line(0).find("waiting 0"), std::string::npos);

    EXPECT_EQ(ctl("usb disconnect"), "usb disconnected\n");
    EXPECT_TRUE(wait_for([&] { return port_line(3).find(" open 0") != std::string::npos; }, 5000))
        << ctl("serial");
    ctl("usb connect");
    EXPECT_TRUE(wait_for([&] { return port_line(3).find(" open 1") != std::string::npos; }, 5000))
        << ctl("serial");
    // The port that had the bytes is still served after the peer left.
    EXPECT_NE(port_line(1).find("waiting 3"), std::string::npos);
}

} // namespace
