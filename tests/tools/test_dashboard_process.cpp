// The dashboard example on a running panel: a register set through panelctl
// turns the meter's needle and the pointer, a drag along the slider sets its
// register within the bounds, and a touch on a selector position writes its
// index, as the screenshots and registers show.
#include "base/le.h"
#include "png_snapshot.h"
#include "supervised_panel.h"

#include <vector>

namespace {

class DashboardProcessTest : public SupervisedPanelTest {
protected:
    struct Rgb {
        int r, g, b;
    };
    static Rgb at(const std::vector<uint8_t> &rgb, int x, int y) {
        if (rgb.empty()) return Rgb{-1, -1, -1};
        const uint8_t *p = rgb.data() + 3 * (size_t(y) * 800 + size_t(x));
        return Rgb{p[0], p[1], p[2]};
    }
    // The meter's red needle crosses column 160 (straight up) between rows
    // 100 and 200.
    bool needle_up() {
        const std::vector<uint8_t> rgb = screen_rgb();
        int n = 0;
        for (int y = 100; y < 200; ++y) {
            const Rgb c = at(rgb, 160, y);
            n += c.r > 200 && c.g < 80 && c.b < 80;
        }
        return n > 20;
    }
    // The blue pointer straight up from its centre (419, 169).
    bool pointer_up() {
        const Rgb c = at(screen_rgb(), 419, 110);
        return c.b > 200 && c.r < 80;
    }
};

TEST_F(DashboardProcessTest, ExampleMovesNeedlesAndTakesSlidesAndSelections) {
    start_example("examples/dashboard.json");
    if (HasFatalFailure()) return;

    EXPECT_FALSE(needle_up());
    EXPECT_FALSE(pointer_up());
    ctl("reg set %R1 500");
    EXPECT_TRUE(wait_for([&] { return needle_up(); }, 5000)) << "the meter at half scale";
    EXPECT_TRUE(wait_for([&] { return pointer_up(); }, 5000)) << "the pointer half way";

    EXPECT_EQ(reg("%R2"), 0);
    ctl("touch-drag 600 430 600 200");
    EXPECT_TRUE(wait_for([&] { return reg("%R2") > 40; }, 5000)) << "the slider dragged up";
    EXPECT_LE(reg("%R2"), 100);
    ctl("touch-drag 600 200 600 80"); // past the track's top: the drag ends there
    EXPECT_TRUE(wait_for([&] { return reg("%R2") > 50; }, 5000));
    EXPECT_LE(reg("%R2"), 100);

    ctl("touch 340 420");
    EXPECT_TRUE(wait_for([&] { return reg("%R3") == 2; }, 5000)) << "the selector's third position";
    ctl("touch 720 100");
    EXPECT_TRUE(wait_for([&] { return reg("%R4") == 1; }, 5000)) << "the stepping button";
}

} // namespace
