// The error page on a running panel: a user screen the application does not
// have shows "Display Error" over its box, and "Attempt to recover" takes the
// panel back to the start screen.
#include "base/le.h"
#include "png_snapshot.h"
#include "supervised_panel.h"

#include <vector>

namespace {

class FaultPageProcessTest : public SupervisedPanelTest {
protected:
    bool red(int x, int y) {
        const std::vector<uint8_t> rgb = screen_rgb();
        if (rgb.empty()) return false;
        const uint8_t *p = rgb.data() + 3 * (size_t(y) * 800 + size_t(x));
        return p[0] > 200 && p[1] < 80 && p[2] < 80;
    }
};

TEST_F(FaultPageProcessTest, MissingScreenAndBack) {
    start_example("examples/buttons.json");
    if (HasFatalFailure()) return;
    const long start_screen = reg("%SR1");

    EXPECT_FALSE(red(250, 160));
    ctl("reg set %SR1 17");
    EXPECT_TRUE(wait_for([&] { return red(250, 160); }, 5000)) << "the error page's title bar";
    ctl("touch 400 300");
    EXPECT_TRUE(wait_for([&] { return reg("%SR1") == start_screen; }, 5000));
    EXPECT_TRUE(wait_for([&] { return !red(250, 160); }, 5000)) << "the start screen again";
}

} // namespace
