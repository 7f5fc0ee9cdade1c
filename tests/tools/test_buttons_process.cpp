// The buttons example on a running panel: a screen button shows page 2 and
// its back button returns, and registers set through panelctl choose a
// bitmap's frame, fill a bar and light a lamp, as the screenshots show.
#include "base/le.h"
#include "png_snapshot.h"
#include "supervised_panel.h"

#include <vector>

namespace {

class ButtonsProcessTest : public SupervisedPanelTest {
protected:
    struct Rgb {
        int r, g, b;
    };
    // A pixel of the screen as panelctl's screenshot shows it.
    Rgb pixel(int x, int y) {
        const std::vector<uint8_t> rgb = screen_rgb();
        if (rgb.empty()) return Rgb{-1, -1, -1};
        const uint8_t *p = rgb.data() + 3 * (size_t(y) * 800 + size_t(x));
        return Rgb{p[0], p[1], p[2]};
    }
    bool blue(int x, int y) {
        const Rgb c = pixel(x, y);
        return c.b > 150 && c.r < 100;
    }
};

TEST_F(ButtonsProcessTest, ExampleSwitchesScreensAndShowsRegisters) {
    start_example("examples/buttons.json");
    if (HasFatalFailure()) return;

    ctl("touch 120 120");
    EXPECT_TRUE(wait_for([&] { return reg("%SR1") == 2; }, 5000)) << "page 2";
    ctl("touch 120 120");
    EXPECT_TRUE(wait_for([&] { return reg("%SR1") == 1; }, 5000)) << "back on page 1";

    EXPECT_FALSE(blue(300, 110)) << "the empty tank";
    ctl("reg set %R5 2");
    EXPECT_TRUE(wait_for([&] { return blue(300, 110); }, 5000)) << "frame 2: the full tank";

    EXPECT_FALSE(blue(400, 250));
    ctl("reg set %R6 50");
    EXPECT_TRUE(wait_for([&] { return blue(400, 250) && !blue(400, 150); }, 5000))
        << "the bar half full";

    ctl("reg set %M2 1");
    EXPECT_TRUE(wait_for(
        [&] {
            const Rgb c = pixel(530, 110);
            return c.g > 200 && c.r < 100;
        },
        5000))
        << "the lamp on";
}

} // namespace
