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
        const std::string file = root_dir + "/shot.png";
        int rc = -1;
        ctl("screenshot " + file, &rc);
        std::vector<uint8_t> rgb;
        int w = 0, h = 0;
        if (rc != 0 || !png_read_rgb(file, &rgb, &w, &h) || w != 800 || h != 480)
            return Rgb{-1, -1, -1};
        const uint8_t *p = rgb.data() + 3 * (size_t(y) * 800 + size_t(x));
        return Rgb{p[0], p[1], p[2]};
    }
    bool blue(int x, int y) {
        const Rgb c = pixel(x, y);
        return c.b > 150 && c.r < 100;
    }
};

TEST_F(ButtonsProcessTest, ExampleSwitchesScreensAndShowsRegisters) {
    start();
    stop();
    int rc = -1;
    const std::string out =
        run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + src("examples/buttons.json"), &rc);
    ASSERT_EQ(rc, 0) << out;
    std::string cal(24, '\0');
    const int32_t rec[6] = {800, 480, 0, 0, 800, 480};
    for (int i = 0; i < 6; ++i)
        put_le32(cal.data() + 4 * i, uint32_t(rec[i]));
    write_file("/mnt/cfg/cal.dta", cal);
    start();
    ASSERT_TRUE(wait_for([&] { return field("PGM_state") == "5"; }, 10000));

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
