// The started panel's screen as its user sees it through panelctl: after the
// start-up console with the self-test result, a unit without an application
// shows the display-fault page in the console font.
#include "png_snapshot.h"
#include "process_util.h"
#include "supervised_panel.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

class StartupScreenTest : public SupervisedPanelTest {};

TEST_F(StartupScreenTest, ScreenshotShowsTheSelfTestOnTheConsole) {
    // A unit without a battery: the self-test fails.
    write_file("/host.conf",
               "screen = 800x480\nuname = Linux panel 2.6.35.3-1045 #1\nbattery_8mv = 0\n");
    start();
    // The default application has no screens.
    const std::string shot = root_dir + "/shot.png";
    std::string diff;
    EXPECT_TRUE(wait_for(
        [&] {
            ctl("screenshot " + shot);
            std::vector<uint8_t> rgb;
            int w = 0, h = 0;
            if (!png_read_rgb(shot, &rgb, &w, &h)) return false;
            diff = png_snapshot_diff("tests/system/snapshots/fault_no_user_screens_800x480.png",
                                     rgb, w, h);
            return diff.empty();
        },
        10000))
        << diff;
    // Before that, the console said the self-test was running, then its
    // result (this unit has no battery).
    const std::string log = slurp(root_dir + "/var/log/console.log");
    const size_t running = log.find("Self-test Running...");
    EXPECT_NE(running, std::string::npos) << log;
    EXPECT_LT(running, log.find("*** Self-Test FAILED ***")) << log;
    EXPECT_LT(log.find("*** Self-Test FAILED ***"), log.find("No User Screens to Display")) << log;
}
