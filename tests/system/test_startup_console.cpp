// The start-up messages on the screen: the console shows the sign-on and
// "Self-test Running..." while the unit starts, then the self-test result,
// drawn in the console font on the visible screen.
#include "base/trace.h"
#include "gdi/gdi.h"
#include "gdi/tty.h"
#include "host/config.h"
#include "panel_fixture.h"
#include "png_snapshot.h"
#include "regs/plc_reg.h"
#include "system/msg.h"
#include "system/startup.h"

#include <cstring>
#include <string>

namespace {
std::string row_text(int row, int col, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += char(TTY_CellChar(row, col + i));
    return s;
}
} // namespace

class StartupConsoleTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        host::config_set("uname", "Linux panel 2.6.35.3-1037 #1 PREEMPT armv5tejl GNU/Linux");
        host::config_set("screen", "800x480");
        // No battery voltage and no known model: the self-test reports the
        // battery and fails under "*Unknown*".
        host::config_set("battery_8mv", "0");
        host::config_set("model", "0");
    }
};

TEST_F(StartupConsoleTest, SelfTestRunningThenItsResultOnTheScreen) {
    // The serial layer starts right after the "running" message: look at the
    // screen then.
    std::string running_diff = "not reached", running_row;
    host::trace_set_hook([&](const char *name) {
        if (std::strcmp(name, "Vcomm_Init") != 0 || running_diff != "not reached") return;
        running_row = row_text(2, 5, 20);
        running_diff = screen_snapshot_diff("tests/system/snapshots/startup_selftest_running.png");
    });
    host::trace_start();
    ASSERT_EQ(Startup(1), 0);
    host::trace_set_hook(nullptr);
    host::trace_stop();
    EXPECT_EQ(running_row, "Self-test Running...");
    EXPECT_EQ(running_diff, "");
    // The result replaces the message whole: no remnant of a longer line.
    EXPECT_EQ(row_text(1, 1, 10), "*Unknown* ");
    EXPECT_EQ(row_text(2, 5, 25), "*** Self-Test FAILED *** ");
    EXPECT_EQ(screen_snapshot_diff("tests/system/snapshots/startup_selftest_result.png"), "");
}
