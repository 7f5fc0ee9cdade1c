// Power loss of the running panel process: kill -9 at random moments of its
// passes, and the FRAM dropping its writes after a random number of words,
// then a restart that must find %R, %EM and the battery-backed image of one
// complete pass, never a mixture or garbage. Also the power-fail signal.
#include "panel_fixture.h"
#include "process_util.h"

#include "base/le.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

namespace {

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct Areas {
    long r = -1, em = -1, bb = -1; // -1: mixed
};
} // namespace

class PowerLossTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        write_file("/host.conf",
                   "test_hooks = 1\nwatchdog = 0\nuname = Linux panel 2.6.35.3-1037 #1\n");
    }
    void TearDown() override {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        PanelTest::TearDown();
    }
    void start() {
        pid = fork();
        if (pid == 0) {
            setenv("PANEL_ROOT", root_dir.c_str(), 1);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(bin("panel").c_str(), "panel", nullptr);
            _exit(127);
        }
        for (int i = 0; i < 400; ++i) {
            int rc;
            run(ctl_cmd("status"), &rc);
            if (rc == 0) return;
            sleep_ms(10);
        }
        FAIL() << "the panel did not answer";
    }
    std::string ctl_cmd(const std::string &args) {
        return bin("panelctl") + " --root " + root_dir + " " + args;
    }
    std::string ctl(const std::string &args) { return run(ctl_cmd(args)); }
    // Ends the panel with a signal; returns its exit status (or 128 + signal).
    int stop(int sig) {
        kill(pid, sig);
        int st = 0;
        waitpid(pid, &st, 0);
        pid = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    Areas check() {
        std::string out = ctl("debug nvcheck");
        Areas a;
        auto field = [&](const char *name) -> long {
            size_t at = out.find(name);
            if (at == std::string::npos) return -2;
            std::string v = out.substr(at + std::strlen(name));
            return v.rfind("mixed", 0) == 0 ? -1 : std::atol(v.c_str());
        };
        a.r = field("R=");
        a.em = field("EM=");
        a.bb = field("BB=");
        return a;
    }
    pid_t pid = -1;
};

TEST_F(PowerLossTest, RegisterSurvivesKillAndThePowerFailSignal) {
    start();
    EXPECT_EQ(read_file("/mnt/cfg/autoreg.dta").size(), 8u + 109176)
        << "register files made at the first start";
    EXPECT_EQ(ctl("reg set %R1 1234"), "%R1 = 1234\n");
    sleep_ms(50); // a few passes: the FRAM has it
    EXPECT_EQ(stop(SIGKILL), 128 + SIGKILL);
    start();
    EXPECT_EQ(ctl("reg get %R1"), "%R1 = 1234\n");

    EXPECT_EQ(ctl("reg set %R1 4321"), "%R1 = 4321\n");
    EXPECT_EQ(stop(44), 11) << "the power-fail path ends with the power-off";
    EXPECT_EQ(le16(read_file("/mnt/cfg/autoreg.dta").data() + 8 + 0xF80), 4321)
        << "saved to the file";
    start();
    EXPECT_EQ(ctl("reg get %R1"), "%R1 = 4321\n");
}

TEST_F(PowerLossTest, KilledAtRandomPointsOfItsPassesComesBackWithOneCompletePass) {
    std::mt19937 rng(4242);
    long floor = 0; // the restored pass is not older than this
    long last = 0;  // nor newer than this
    start();
    for (int cycle = 0; cycle < 14; ++cycle) {
        Areas a = check();
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        ASSERT_GE(a.r, 0) << "%R mixed";
        EXPECT_EQ(a.em, a.r) << "%EM from another pass";
        EXPECT_EQ(a.bb, a.r) << "battery-backed image from another pass";
        EXPECT_GE(a.r, floor);
        EXPECT_LE(a.r, last);
        ASSERT_EQ(ctl("debug churn").rfind("churning from", 0), 0u);
        sleep_ms(5 + int(rng() % 40));
        bool knob = cycle % 2;
        if (knob) {
            // The FRAM loses its power first: writes stop after a random word.
            floor = check().r - 1;
            ctl("debug fram-drop " + std::to_string(rng() % 8000));
            sleep_ms(5 + int(rng() % 30));
            last = check().r;
        } else {
            last = check().r;
            floor = last - 1; // the pass before the one being written is complete
            sleep_ms(int(rng() % 3));
            last += 1000; // the panel keeps going until the kill lands
        }
        stop(SIGKILL);
        start();
        if (!knob) last = check().r; // bounded by what the restart shows below
    }
}
