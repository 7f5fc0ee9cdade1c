// The example Modbus slave in a running panel: mbpoll reads and writes its
// registers through the port's peer link while panelctl looks in.
#include "supervised_panel.h"

#include <string>

namespace {

class SerialModbusProcessTest : public SupervisedPanelTest {};

TEST_F(SerialModbusProcessTest, ExampleSlaveAnswersMbpoll) {
    // A new unit loads its defaults over whatever files it finds: start it
    // once, then put the application in place.
    start();
    stop();
    int rc = 0;
    std::string out = run(
        bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + src("examples/modbus_slave.json"), &rc);
    ASSERT_EQ(rc, 0) << out;
    start();
    ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);
    ASSERT_NE(ctl("reg set %R1 77").find("= 77"), std::string::npos);
    ctl("reg set %R2 78");
    ctl("reg set %R10 86");
    ASSERT_TRUE(wait_for([&] { return reg("%M102") == 1; }, 5000)) << ctl("reg get %M101");
    std::string mbpoll = "mbpoll -m rtu -b 19200 -P none -a 1 -t 4 -1 ";
    std::string peer = root_dir + "/dev/ttySP3.peer";
    out = run(mbpoll + "-r 513 -c 10 " + peer, &rc);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("[513]: \t77"), std::string::npos) << out;
    EXPECT_NE(out.find("[514]: \t78"), std::string::npos) << out;
    EXPECT_NE(out.find("[522]: \t86"), std::string::npos) << out;
    out = run(mbpoll + "-r 3005 " + peer + " 4321", &rc);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(reg("%R5"), 4321);
}

} // namespace
