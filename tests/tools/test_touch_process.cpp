// The operator's side of a running panel: touches through panelctl, and the
// crash screen with its countdown and the restart through the supervisor.
#include "base/le.h"
#include "png_snapshot.h"
#include "supervised_panel.h"

#include <chrono>
#include <cstdio>
#include <vector>

class TouchProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        write_file("/host.conf", "test_hooks = 1\n");
    }
    // The screen as panelctl shows it.
    bool screenshot(std::vector<uint8_t> *rgb) {
        std::string file = root_dir + "/shot.png";
        int rc = -1;
        ctl("screenshot " + file, &rc);
        int w = 0, h = 0;
        return rc == 0 && png_read_rgb(file, rgb, &w, &h) && w == 800 && h == 480;
    }
};

// Without calibration data the second touch sample asks for the calibration
// screen; with it, a touch presses and releases at its point.
TEST_F(TouchProcessTest, TouchReachesTheCalibrationRequestOrPresses) {
    start();
    EXPECT_EQ(field("touch_state"), "0");
    EXPECT_EQ(ctl("touch 100 60"), "touch 100 60 (raw 100 60)\n"
                                   "sample 1: state 1\n"
                                   "sample 2: state 0, %SR3 = 21\n"
                                   "release: state 0\n");
    EXPECT_EQ(ctl("reg get %SR3"), "%SR3 = 21\n");
    stop();

    std::string cal(24, '\0');
    const int32_t rec[6] = {4096, 4096, 0, 0, 800, 480};
    for (int i = 0; i < 6; ++i)
        put_le32(cal.data() + 4 * i, uint32_t(rec[i]));
    write_file("/mnt/cfg/cal.dta", cal);
    start();
    std::string reply = ctl("touch 400 200");
    EXPECT_NE(reply.find("sample 1: state 1\nsample 2: state 3, press 400 200\n"
                         "release: state 0, release 400 200\n"),
              std::string::npos)
        << reply;
    EXPECT_EQ(field("touch_state"), "0");
    // The start-up's self-test beep (battery and network figures of the
    // host) may still sound for a few passes.
    EXPECT_TRUE(wait_for([&] { return field("beeper") == "off"; }, 2000)) << field("beeper");
}

// On the crash screen a touch on "No" resets the panel keeping the
// application program; "Yes" erases it first.
TEST_F(TouchProcessTest, TouchingNoOrYesOnTheCrashScreen) {
    start();
    stop();
    // A program of its own: a restart after the erase may write the default
    // program, which is what an empty application holds too.
    write_file("/scan.lad", ".tokens 16\n LD %M1\n OUT %Q1\n END\n");
    write_file("/app.json", R"({"ladder": {"ladasm": "scan.lad"}})");
    int rc = -1;
    std::string out =
        run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + root_dir + "/app.json", &rc);
    ASSERT_EQ(rc, 0) << out;
    const std::string program = read_file("/mnt/cfg/ladder.pgm");
    ASSERT_GT(program.size(), 10u);
    std::string cal(24, '\0');
    const int32_t rec[6] = {800, 480, 0, 0, 800, 480};
    for (int i = 0; i < 6; ++i)
        put_le32(cal.data() + 4 * i, uint32_t(rec[i]));
    write_file("/mnt/cfg/cal.dta", cal);
    std::string log = root_dir + "/var/log/supervisor.log";
    auto restarts = [&] {
        size_t n = 0;
        std::string text = slurp(log);
        for (size_t at = 0; (at = text.find("by reboot: restarting", at)) != std::string::npos;
             ++at)
            ++n;
        return n;
    };
    start();
    struct Case {
        const char *touch;
        bool program_kept;
    };
    // 800x480: "Yes" spans x 240-349, "No" 450-559, both y 147-173.
    const Case cases[] = {{"touch 500 160", true}, {"touch 300 160", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.touch);
        ASSERT_TRUE(wait_for([&] { return field("run_mode") != ""; }, 10000));
        size_t before = restarts();
        std::remove((root_dir + "/mnt/cfg/logfile").c_str());
        EXPECT_EQ(ctl("crash segv"), "raising segv\n");
        ASSERT_TRUE(wait_for([&] { return !read_file("/mnt/cfg/logfile").empty(); }, 5000));
        std::string reply = ctl(c.touch);
        EXPECT_NE(reply.find(", press "), std::string::npos) << reply;
        ASSERT_TRUE(wait_for([&] { return restarts() == before + 1; }, 10000)) << slurp(log);
        EXPECT_EQ(read_file("/mnt/cfg/ladder.pgm") == program, c.program_kept);
    }
}

// A fault shows the crash screen, which counts down from 59 and then resets
// the panel; the supervisor starts it again. Takes a minute of real time.
TEST_F(TouchProcessTest, SlowCrashScreenCountsDownThenThePanelRestarts) {
    start();
    std::string log = root_dir + "/var/log/supervisor.log";
    size_t starts = 0;
    for (size_t at = 0; (at = slurp(log).find("panel started", at)) != std::string::npos; ++at)
        ++starts;
    ASSERT_EQ(starts, 1u) << slurp(log);

    EXPECT_EQ(ctl("crash segv"), "raising segv\n");
    auto crashed = std::chrono::steady_clock::now();
    // Everything above the countdown is the reviewed crash screen.
    std::vector<uint8_t> ref;
    int rw = 0, rh = 0;
    ASSERT_TRUE(png_read_rgb(src("tests/system/snapshots/crash_segv_800x480.png"), &ref, &rw, &rh));
    const size_t above_count = size_t(3) * 800 * 195;
    std::vector<uint8_t> shot;
    ASSERT_TRUE(wait_for(
        [&] {
            return screenshot(&shot) &&
                   std::equal(ref.begin(), ref.begin() + long(above_count), shot.begin());
        },
        5000))
        << "the crash screen is not shown";
    EXPECT_FALSE(read_file("/mnt/cfg/logfile").empty()) << "the crash log";
    // The countdown band changes as the seconds pass.
    std::vector<uint8_t> band(shot.begin() + long(above_count), shot.begin() + long(3 * 800 * 216));
    EXPECT_TRUE(wait_for(
        [&] {
            return screenshot(&shot) &&
                   !std::equal(band.begin(), band.end(), shot.begin() + long(above_count));
        },
        3000))
        << "the count does not move";

    // At 0 the panel resets and starts again.
    ASSERT_TRUE(wait_for(
        [&] { return slurp(log).find("by reboot: restarting") != std::string::npos; }, 75000))
        << slurp(log);
    double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - crashed).count();
    EXPECT_GT(waited, 57.0) << "the countdown ran 59 seconds";
    EXPECT_TRUE(wait_for([&] { return field("run_mode") != ""; }, 10000));
    EXPECT_NE(slurp(log).find("panel started"), slurp(log).rfind("panel started"))
        << "a second start";
}
