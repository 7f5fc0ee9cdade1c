// Two panels on one machine share a CAN bus: each sees the other's frames,
// and canbus (the bus tool) sees and feeds both.
#include "panel_fixture.h"
#include "process_util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class CanProcessTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        bus = root_dir + "/bus";
        for (const char *name : {"a", "b"}) {
            std::string root = root_dir + "/" + name;
            std::filesystem::create_directories(root);
            // One panel names the shared folder by its absolute path, the other relative to its
            // root.
            std::ofstream(root + "/host.conf") << "uname = Linux panel 2.6.35.3-1045 #1\ncan0 = "
                                               << (name[0] == 'a' ? bus : "../bus") << "\n";
            roots.push_back(root);
        }
    }
    void TearDown() override {
        for (pid_t pid : supervisors) {
            kill(pid, SIGTERM);
            int st;
            waitpid(pid, &st, 0);
        }
        if (dump) pclose(dump);
        PanelTest::TearDown();
    }
    void start(const std::string &root) {
        pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            std::string sup = bin("supervisor"), panel = bin("panel");
            execl(sup.c_str(), sup.c_str(), "--root", root.c_str(), "--", panel.c_str(), nullptr);
            _exit(127);
        }
        supervisors.push_back(pid);
    }
    std::string ctl(const std::string &root, const std::string &args, int *rc = nullptr) {
        return run(bin("panelctl") + " --root " + root + " " + args, rc);
    }
    int members() {
        int n = 0;
        std::error_code ec;
        for (auto &e : std::filesystem::directory_iterator(bus, ec))
            n += e.path().filename().string().find_first_not_of("0123456789") == std::string::npos;
        return n;
    }
    std::string bus;
    std::vector<std::string> roots;
    std::vector<pid_t> supervisors;
    FILE *dump = nullptr;
};

TEST_F(CanProcessTest, TwoPanelsSeeEachOthersFramesAndTheBusTool) {
    for (auto &r : roots)
        start(r);
    for (auto &r : roots) {
        ASSERT_TRUE(
            wait_for([&] { return ctl(r, "can").find("open: 1") != std::string::npos; }, 10000))
            << ctl(r, "can");
    }
    EXPECT_EQ(slurp(roots[0] + "/sys/devices/platform/FlexCAN.0/bitrate"), "125000");
    ASSERT_TRUE(wait_for([&] { return members() == 2; }, 5000)) << members();

    dump = popen((bin("canbus") + " --bus " + bus + " dump -n 2 -t 10000").c_str(), "r");
    ASSERT_NE(dump, nullptr);
    ASSERT_TRUE(wait_for([&] { return members() == 3; }, 5000));

    int rc = -1;
    EXPECT_EQ(ctl(roots[0], "can send 123#1122", &rc), "queued 123#1122\n");
    EXPECT_EQ(rc, 0);
    ctl(roots[1], "can send 456#R");
    EXPECT_TRUE(wait_for(
        [&] { return ctl(roots[1], "can").find("rx: 123#1122") != std::string::npos; }, 5000))
        << ctl(roots[1], "can");
    EXPECT_TRUE(
        wait_for([&] { return ctl(roots[0], "can").find("rx: 456#R") != std::string::npos; }, 5000))
        << ctl(roots[0], "can");
    // Neither panel hears its own frame.
    EXPECT_EQ(ctl(roots[0], "can").find("rx: 123#1122"), std::string::npos);

    std::vector<std::string> dumped;
    char line[64];
    while (dumped.size() < 2 && std::fgets(line, sizeof line, dump))
        dumped.push_back(line);
    EXPECT_EQ(pclose(dump), 0);
    dump = nullptr;
    std::sort(dumped.begin(), dumped.end());
    EXPECT_EQ(dumped, (std::vector<std::string>{"123#1122\n", "456#R\n"}));

    // Frames from the tool reach both panels; an error frame is counted by each.
    run(bin("canbus") + " --bus " + bus + " send 7FF#01 ERR#busoff", &rc);
    EXPECT_EQ(rc, 0);
    for (auto &r : roots) {
        EXPECT_TRUE(
            wait_for([&] { return ctl(r, "can").find("rx: 7FF#01") != std::string::npos; }, 5000))
            << ctl(r, "can");
        EXPECT_NE(ctl(r, "can").find("statistics: 0 0 0 0 0 0 0 1"), std::string::npos)
            << ctl(r, "can");
    }
    // Bad requests are refused with the reason.
    EXPECT_NE(ctl(roots[0], "can send 1ABCDEF0#01", &rc).find("11-bit identifiers"),
              std::string::npos);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(ctl(roots[0], "can send 12#", &rc).find("3 hex digits"), std::string::npos);
    EXPECT_EQ(rc, 1);
}
