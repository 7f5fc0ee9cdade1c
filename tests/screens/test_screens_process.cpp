// The touch calibration and the backup screens of a running panel under its
// supervisor, worked through panelctl as an operator would.
#include "base/le.h"
#include "process_util.h"
#include "supervised_panel.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

void pause_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class ScreensProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        write_file("/host.conf", "screen = 480x272\n");
    }
    // A touch, and a moment for the screen loop to take it.
    std::string touch(const std::string &args) {
        std::string reply = ctl("touch " + args);
        pause_ms(100);
        return reply;
    }
};

} // namespace

// Without a calibration the first touch opens the screen; the raw corner, the
// two crosshairs and "Yes" store the calibration and close it.
TEST_F(ScreensProcessTest, CalibrationFromNothingToYes) {
    start();
    EXPECT_NE(touch("100 60").find("%SR3 = 21"), std::string::npos);
    // Once the screen is up the driver reports raw readings: the corner.
    ASSERT_TRUE(wait_for(
        [&] { return touch("--raw 3900 3900").find("press 3900 3900") != std::string::npos; },
        5000));
    touch("24 24");
    pause_ms(1000);   // the marker shows 600 ms, is aligned, and goes
    touch("240 251"); // Next
    touch("455 247");
    pause_ms(1000);
    touch("240 251");
    EXPECT_EQ(reg("%SR3"), 21);
    touch("170 215"); // Yes
    ASSERT_TRUE(wait_for([&] { return reg("%SR3") == 0; }, 2000));
    std::string rec = read_file("/mnt/cfg/cal.dta");
    ASSERT_EQ(rec.size(), 24u);
    std::vector<int32_t> v;
    for (size_t i = 0; i < 24; i += 4)
        v.push_back(int32_t(le32(rec.data() + i)));
    EXPECT_EQ(v, (std::vector<int32_t>{3900, 3900, 0, 0, 480, 272}));
    // The panel presses where it is touched now.
    EXPECT_NE(touch("300 100").find("press 300 100"), std::string::npos);
}

// A backup taken on the screen, the register changed, and a restore: the
// panel resets under its supervisor and comes back with the backed-up value.
TEST_F(ScreensProcessTest, RestoreResetsThePanelWithTheBackup) {
    std::string cal(24, '\0');
    const int32_t rec[6] = {480, 272, 0, 0, 480, 272};
    for (int i = 0; i < 6; ++i)
        put_le32(cal.data() + 4 * i, uint32_t(rec[i]));
    write_file("/mnt/cfg/cal.dta", cal);
    // The first start writes the defaults; the screen goes in after it.
    start();
    stop();
    write_file("/app.json", R"({"kesta_pgm": {"screens": {"start_screen": 1, "pages": [
        {"screen": 1, "objects": [{"type": 25, "flags": 16385, "rect": [0, 0, 479, 271]}]}]}}})");
    int rc = -1;
    std::string out =
        run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + root_dir + "/app.json", &rc);
    ASSERT_EQ(rc, 0) << out;
    start();
    ASSERT_TRUE(wait_for([&] { return field("PGM_state") == "5"; }, 5000)) << ctl("status");
    std::string log = root_dir + "/var/log/supervisor.log";

    ctl("reg set %R1 1111");
    touch("180 85");  // Backup
    touch("300 164"); // Ok
    ASSERT_TRUE(wait_for([&] { return !read_file("/mnt/cfg/bkpreg.dta").empty(); }, 2000));
    EXPECT_EQ(reg("%SR164") & 0x08, 0x08) << "a backup is present";
    ctl("reg set %R1 2222");
    touch("300 85");  // Restore
    touch("300 164"); // Ok
    ASSERT_TRUE(wait_for(
        [&] { return slurp(log).find("by reboot: restarting") != std::string::npos; }, 10000))
        << slurp(log);
    ASSERT_TRUE(wait_for([&] { return field("run_mode") != ""; }, 10000));
    EXPECT_EQ(reg("%R1"), 1111);
}
