// Screen programs in the running panel: built with mkapp, taken into use by
// the screen program manager (panelctl status), and a damaged one showing the
// display-fault page (panelctl screenshot).
#include "png_snapshot.h"
#include "process_util.h"
#include "supervised_panel.h"
#include "tools/lib/appbuild.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

class PgmProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        write_file("/host.conf", "screen = 480x272\nuname = Linux panel 2.6.35.3-1037 #1\n");
    }
    long passes() { return std::atol(field("passes").c_str()); }
    // Builds the application with mkapp into the panel's internal flash. A new
    // unit loads its defaults over whatever it finds: start it once first.
    void install(const std::string &screens) {
        start();
        stop();
        write_file("/app.json", "{\"kesta_pgm\": {\"screens\": " + screens + "}}");
        int rc = 0;
        std::string out =
            run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + root_dir + "/app.json", &rc);
        ASSERT_EQ(rc, 0) << out;
    }
    // The visible screen; waits for two more passes, so that a page chosen in
    // the pass seen last has been drawn.
    std::vector<uint8_t> screenshot() {
        long seen = passes();
        EXPECT_TRUE(wait_for([&] { return passes() > seen + 2; }, 5000));
        std::string out = ctl("screenshot " + root_dir + "/shot.png");
        std::vector<uint8_t> rgb;
        int w = 0, h = 0;
        EXPECT_TRUE(png_read_rgb(root_dir + "/shot.png", &rgb, &w, &h)) << out;
        EXPECT_EQ(w, 480);
        EXPECT_EQ(h, 272);
        return rgb;
    }
};

TEST_F(PgmProcessTest, ScreenProgramRunsAndShowsItsStartScreen) {
    // Start screen 2, painted in pure blue (the objects come with the object manager).
    install(R"({"start_screen": 2, "pages": [{"screen": 1}, {"screen": 2, "background": 31}]})");
    start();
    ASSERT_TRUE(wait_for([&] { return field("PGM_state") == "5"; }, 5000)) << ctl("status");
    EXPECT_EQ(field("PGM_fault"), "0x0000");
    EXPECT_EQ(ctl("reg get %SR1"), "%SR1 = 2\n");
    std::vector<uint8_t> rgb = screenshot();
    ASSERT_EQ(rgb.size(), 480u * 272 * 3);
    EXPECT_EQ(rgb[3 * (100 * 480 + 200) + 2], 255) << "blue";
    EXPECT_EQ(rgb[3 * (100 * 480 + 200) + 0], 0) << "no red";

    // The operator's choice of screen: a screen without a page shows the error page.
    EXPECT_EQ(ctl("reg set %SR1 7"), "%SR1 = 7\n");
    screenshot();
    EXPECT_EQ(field("PGM_state"), "5");
}

TEST_F(PgmProcessTest, DamagedScreenProgramShowsTheDisplayFaultPage) {
    // The start screen holds an object of no known class: it cannot be opened.
    install(R"({"pages": [{"screen": 1, "objects": [{"type": 77, "rect": [0, 0, 10, 10]}]}]})");
    start();
    ASSERT_TRUE(wait_for([&] { return field("PGM_state") == "1"; }, 5000)) << ctl("status");
    EXPECT_EQ(field("PGM_fault"), "0x0403");
    std::vector<uint8_t> rgb = screenshot();
    EXPECT_EQ(png_snapshot_diff("tests/system/snapshots/fault_open_user_screen.png", rgb, 480, 272),
              "");
    EXPECT_NE(slurp(root_dir + "/var/log/console.log").find("DISPLAY FAULT\n    Open User Screen"),
              std::string::npos);
}

TEST_F(PgmProcessTest, HeaderWithoutAStartPageShowsNoUserScreens) {
    install(R"({"start_screen": 0, "pages": [{"screen": 1}]})");
    start();
    ASSERT_TRUE(wait_for([&] { return field("PGM_state") == "1"; }, 5000)) << ctl("status");
    EXPECT_EQ(field("PGM_fault"), "0x0800");
    EXPECT_NE(slurp(root_dir + "/var/log/console.log").find("No User Screens to Display"),
              std::string::npos);
}

TEST(ScreenProgramBuilder, RefusedDescriptionsNameTheirPlace) {
    struct Case {
        const char *screens;
        const char *message;
    };
    // clang-format off
    const Case cases[] = {
        {R"({"pages": [{"screen": 0}]})",                      "kesta_pgm.pages[0]: screen numbers start at 1"},
        {R"({"pages": [{"screen": 1024}]})",                   "kesta_pgm.pages[0].screen: number 1024 too large"},
        {R"({"pages": [{}]})",                                 "kesta_pgm.pages[0]: a page needs \"screen\""},
        {R"({"header_length": 12})",                           "kesta_pgm: \"header_length\" is 16 to 56"},
        {R"({"pages": [{"screen": 1, "colour": 3}]})",         "kesta_pgm.pages[0]: unknown key \"colour\""},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 1, "rect": [1, 2]}]}]})",
                                                               "kesta_pgm.pages[0].objects[0]: \"rect\" takes [left, top, right, bottom]"},
        {R"({"pages": [{"screen": 1, "objects": [{"type": 1, "length": 8}]}]})",
                                                               "kesta_pgm.pages[0].objects[0]: an object record has at least 32 bytes"},
        {R"({"pages": [{"screen": 1, "fault": 1}]})",           "kesta_pgm.pages[0]: \"fault\" takes true or false"},
        {R"({"header_length": 36, "capture": {}})",            "kesta_pgm: a capture set-up needs a header of at least 40 bytes"},
        {R"({"capture": {"register": "%Z1"}})",                "kesta_pgm.capture.register: unknown register name"},
        {R"({"capture": {"options": 4}})",                     "kesta_pgm.capture.options: number 4 too large"},
        {R"({"capture": {"file": "x"}})",                      "kesta_pgm.capture: unknown key \"file\""},
    };
    // clang-format on
    for (const Case &c : cases) {
        appbuild::Built built;
        std::string error;
        EXPECT_FALSE(appbuild::build_text(
            std::string("{\"kesta_pgm\": {\"screens\": ") + c.screens + "}}", "", &built, &error))
            << c.screens;
        EXPECT_EQ(error, c.message) << c.screens;
    }
}
