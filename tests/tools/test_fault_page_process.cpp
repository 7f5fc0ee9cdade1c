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
        const std::string file = root_dir + "/shot.png";
        int rc = -1;
        ctl("screenshot " + file, &rc);
        std::vector<uint8_t> rgb;
        int w = 0, h = 0;
        if (rc != 0 || !png_read_rgb(file, &rgb, &w, &h) || w != 800 || h != 480) return false;
        const uint8_t *p = rgb.data() + 3 * (size_t(y) * 800 + size_t(x));
        return p[0] > 200 && p[1] < 80 && p[2] < 80;
    }
};

TEST_F(FaultPageProcessTest, MissingScreenAndBack) {
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
    const long start_screen = reg("%SR1");

    EXPECT_FALSE(red(250, 160));
    ctl("reg set %SR1 17");
    EXPECT_TRUE(wait_for([&] { return red(250, 160); }, 5000)) << "the error page's title bar";
    ctl("touch 400 300");
    EXPECT_TRUE(wait_for([&] { return reg("%SR1") == start_screen; }, 5000));
    EXPECT_TRUE(wait_for([&] { return !red(250, 160); }, 5000)) << "the start screen again";
}

} // namespace
