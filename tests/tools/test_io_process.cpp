// The local I/O of a running panel: an analog rack whose inputs are set and
// whose outputs are read through panelctl.
#include "process_util.h"
#include "supervised_panel.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class IoProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        write_file("/host.conf", "io.slot0 = 0xDF0E\nio.slot1 = 0x8F0F\n");
    }
    // The number after " = " in an answer of panelctl, -99999 when none.
    static long value(const std::string &out) {
        size_t eq = out.find(" = ");
        return eq == std::string::npos ? -99999 : std::strtol(out.c_str() + eq + 3, nullptr, 10);
    }
};

TEST_F(IoProcessTest, CurrentInputAndAnalogOutputOfTheExampleRack) {
    // A new unit loads its defaults over whatever files it finds: start it
    // once, then put the application in place.
    start();
    stop();
    int rc = 0;
    std::string out =
        run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + src("examples/analog_rack.json"), &rc);
    ASSERT_EQ(rc, 0) << out;
    start();
    ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);

    // 12 mA on the 4-20 mA input is the middle of its range.
    ASSERT_EQ(ctl("io set 0 ai1 12mA"), "slot 0 ai1 = 12mA\n");
    EXPECT_TRUE(wait_for([&] { return value(ctl("reg get %AI1")) == 16000; }, 3000))
        << ctl("reg get %AI1");
    ctl("io set 0 ai1 4mA");
    EXPECT_TRUE(wait_for([&] { return value(ctl("reg get %AI1")) == 0; }, 3000));

    // The output module's first channel follows %AQ15 (after the 14 of slot 0).
    ASSERT_NE(ctl("reg set %AQ15 16000").find("= 16000"), std::string::npos);
    EXPECT_TRUE(wait_for([&] { return value(ctl("io get 1 aq1")) == 1999; }, 3000))
        << ctl("io get 1 aq1");

    // Refusals leave the inputs as they were.
    out = ctl("io set 0 ai1 5 mA", &rc);
    EXPECT_EQ(rc, 1) << out;
    out = ctl("io set 0 ai1 5furlongs", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("unit"), std::string::npos) << out;
    EXPECT_EQ(value(ctl("reg get %AI1")), 0);
}

// A type K input of the thermocouple board, its millivolts set through
// panelctl, reads its temperature in twentieths of a degree.
TEST_F(IoProcessTest, ThermocoupleInputOfTheThermoRack) {
    write_file("/host.conf", "io.slot0 = 0xA20F\n");
    start();
    stop();
    int rc = 0;
    std::string out =
        run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + src("examples/thermo_rack.json"), &rc);
    ASSERT_EQ(rc, 0) << out;
    start();
    ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);
    ASSERT_EQ(ctl("io set 0 ai1 4.096mV"), "slot 0 ai1 = 4.096mV\n");
    EXPECT_TRUE(wait_for([&] { return std::labs(value(ctl("reg get %AI1")) - 2000) <= 10; }, 3000))
        << ctl("reg get %AI1");
    ctl("io set 0 ai1 20.644mV"); // 500 degrees
    EXPECT_TRUE(wait_for([&] { return std::labs(value(ctl("reg get %AI1")) - 10000) <= 10; }, 3000))
        << ctl("reg get %AI1");
}

// A test station calibrates an input of the base unit on a running panel:
// %SR84 refuses writes from outside, so the station's application enters
// the mode, and the station drives the calibration registers and the
// reference source through panelctl.
TEST_F(IoProcessTest, FactoryCalibrationThroughTheStationsApplication) {
    write_file("/host.conf", "io.slot0 = 0xEF0E\n");
    start();
    stop();
    int rc = 0;
    std::string out =
        run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + src("examples/factory_cal.json"), &rc);
    ASSERT_EQ(rc, 0) << out;
    start();
    ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);
    out = ctl("reg set %SR84 0x71D4", &rc);
    EXPECT_EQ(rc, 1) << out;

    auto reg = [&](const std::string &name) { return value(ctl("reg get " + name)); };
    ctl("reg set %M1 1");
    ASSERT_TRUE(wait_for([&] { return reg("%SR84") == 0x39A6; }, 3000)) << ctl("reg get %SR84");

    // Input 1, 0-10 V, with a source that reads a little high.
    ctl("reg set %R9001 1");
    ctl("reg set %R9002 3");
    for (const char *point : {"0.52V", "9.1V"}) {
        SCOPED_TRACE(point);
        ASSERT_EQ(ctl(std::string("io set 0 ai1 ") + point).find("slot 0 ai1"), 0u);
        ctl(std::string("reg set %R9005 ") + (point[0] == '0' ? "0xAAAA" : "0xCCCC"));
        EXPECT_TRUE(wait_for([&] { return reg("%R9005") == 0; }, 3000)) << ctl("reg get %R9005");
    }
    ctl("reg set %R9006 0xEEEE");
    EXPECT_TRUE(wait_for([&] { return reg("%SR86") == 1; }, 3000)) << ctl("reg get %SR86");
    EXPECT_EQ(reg("%SR84"), 0x39A6) << "the save keeps the mode";

    ctl("reg set %M2 1");
    EXPECT_TRUE(wait_for([&] { return reg("%SR84") == 0; }, 3000)) << ctl("reg get %SR84");
    EXPECT_EQ(reg("%SR86"), 1) << "the constants stay";
}
