// The panel as people run it: the supervisor, the panel process and panelctl.
#include "process_util.h"
#include "supervised_panel.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace {
struct Result {
    int rc;
    std::string out;
};

Result run_rc(const std::string &cmd) {
    Result r{-1, ""};
    r.out = run(cmd, &r.rc);
    return r;
}
} // namespace

class PanelProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        write_file("/host.conf", "test_hooks = 1\nuname = Linux panel 2.6.35.3-1045 #1\n");
        trace_log = root_dir + "/trace.log";
    }
    // panelctl's exit status with its answer.
    Result ctl(const std::string &args) {
        Result r{-1, ""};
        r.out = SupervisedPanelTest::ctl(args, &r.rc);
        return r;
    }
    std::string status_field(const std::string &name) { return field(name); }
    // Sends raw bytes to the control socket and returns the answer.
    std::string raw(const std::string &bytes) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string p = root_dir + "/run/panelctl.sock";
        std::strcpy(addr.sun_path, p.c_str());
        if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return "no connect";
        if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) return "no send";
        std::string out;
        char buf[256];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
            out.append(buf, size_t(n));
        close(fd);
        return out;
    }
};

TEST_F(PanelProcessTest, StatusRegistersAndRefusals) {
    start();
    EXPECT_EQ(status_field("run_mode"), "0 Idle");
    // The default application has no screens: the display-fault page shows.
    EXPECT_TRUE(wait_for([&] { return status_field("PGM_state") == "1"; }, 2000));
    EXPECT_EQ(status_field("PGM_fault"), "0x0800");
    EXPECT_NE(slurp(root_dir + "/var/log/console.log").find("Self-test Running..."),
              std::string::npos);

    Result r = ctl("reg set %SR167 1");
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "error: %SR167 refused 1 (allowed 2..50)\n");
    r = ctl("reg set %SR167 20");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, "%SR167 = 20\n");
    EXPECT_EQ(ctl("reg get %sr167").out, "%SR167 = 20\n");

    struct Bad {
        const char *args;
        const char *message;
    };
    for (Bad b : {Bad{"reg get %XY3", "unknown register name"},
                  Bad{"reg get %R50241", "register number out of range"},
                  Bad{"reg set %R1 70000", "does not fit 16 bits"},
                  Bad{"reg set %R1 12abc", "not a number"}, Bad{"reg set %SR4 1", "read-only"},
                  Bad{"reg set %SR5 5", "refused 5 (allowed 0..4)"}, Bad{"reg fly %R1", "usage"},
                  Bad{"launch", "unknown command"}}) {
        r = ctl(b.args);
        EXPECT_EQ(r.rc, 1) << b.args;
        EXPECT_NE(r.out.find(b.message), std::string::npos) << b.args << ": " << r.out;
    }
    EXPECT_EQ(ctl("reg get %R1").out, "%R1 = 0\n") << "refused writes change nothing";
    EXPECT_EQ(ctl("reg set %R1 -2").out, "%R1 = 65534\n");
    EXPECT_EQ(ctl("reg set %M17 1").out, "%M17 = 1\n");

    EXPECT_EQ(raw("\n"), "error: empty request\n");
    EXPECT_EQ(raw("status"), "error: incomplete request (no end of line)\n");
    EXPECT_EQ(raw(std::string(2000, 'x') + "\n"), "error: request too long\n");
    EXPECT_EQ(ctl("status").rc, 0) << "the panel keeps serving after bad requests";
}

TEST_F(PanelProcessTest, LoaderStart) {
    start({"x"});
    EXPECT_TRUE(wait_for([&] { return ctl("reg get %SR3").out == "%SR3 = 22\n"; }, 2000));
    EXPECT_EQ(ctl("reg get %SR29").out, "%SR29 = 254\n");
    EXPECT_EQ(status_field("boot_mode"), "1");
}

TEST_F(PanelProcessTest, StalledLoopSavesRegistersThenTheWatchdogRestartsThePanel) {
    start();
    std::string passes_before = status_field("passes");
    EXPECT_EQ(ctl("debug stall").rc, 0);
    std::string log = root_dir + "/var/log/supervisor.log";
    ASSERT_TRUE(wait_for(
        [&] { return slurp(log).find("by watchdog reset: restarting") != std::string::npos; },
        12000))
        << slurp(log);
    EXPECT_NE(slurp(root_dir + "/trace.log").find("AutoSaveRegisters"), std::string::npos)
        << "the watchdog thread saved the registers before the reset";
    EXPECT_TRUE(wait_for([&] { return ctl("status").rc == 0; }, 10000));
    EXPECT_NE(slurp(log).find("panel started"), slurp(log).rfind("panel started"))
        << "a second start";
}

TEST_F(PanelProcessTest, StoppedProcessIsResetBySupervisor) {
    start();
    std::string log = root_dir + "/var/log/supervisor.log";
    std::string text = slurp(log);
    size_t at = text.find("(pid ");
    ASSERT_NE(at, std::string::npos);
    pid_t pid = std::atoi(text.c_str() + at + 5);
    ASSERT_GT(pid, 0);
    kill(pid, SIGSTOP);
    ASSERT_TRUE(
        wait_for([&] { return slurp(log).find("resetting it") != std::string::npos; }, 12000))
        << slurp(log);
    EXPECT_TRUE(wait_for([&] { return ctl("status").rc == 0; }, 10000));
}

// Kills from outside are not failures of the panel: six in a row do not make
// the supervisor give up, and it says what ended the panel.
TEST_F(PanelProcessTest, OutsideKillsDoNotCountTowardGivingUp) {
    start();
    std::string log = root_dir + "/var/log/supervisor.log";
    for (int i = 1; i <= 6; ++i) {
        size_t starts = 0, at = 0;
        std::string text;
        ASSERT_TRUE(wait_for(
            [&] {
                text = slurp(log);
                starts = 0;
                for (size_t p = 0; (p = text.find("(pid ", p)) != std::string::npos; ++p) {
                    ++starts;
                    at = p;
                }
                return starts == size_t(i);
            },
            30000))
            << text;
        kill(std::atoi(text.c_str() + at + 5), SIGKILL);
    }
    ASSERT_TRUE(wait_for([&] { return ctl("status").rc == 0; }, 30000)) << slurp(log);
    std::string text = slurp(log);
    EXPECT_EQ(text.find("giving up"), std::string::npos) << text;
    EXPECT_NE(text.find("panel ended by outside kill: restarting"), std::string::npos) << text;
}

// Clients that go quiet (nothing sent, half a request, a byte now and then)
// never hold the scan: the passes go on, other clients are answered, and a
// power-fail notice is acted on at once.
TEST_F(PanelProcessTest, SilentControlClientsDoNotStallThePasses) {
    start();
    auto connect_client = [&] {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, (root_dir + "/run/panelctl.sock").c_str());
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        return fd;
    };
    std::vector<int> quiet;
    for (int i = 0; i < 4; ++i)
        quiet.push_back(connect_client());
    int half = connect_client();
    ASSERT_EQ(send(half, "stat", 4, MSG_NOSIGNAL), 4);
    int drip = connect_client();
    auto passes = [&] { return std::atoll(status_field("passes").c_str()); };
    long long before = passes();
    auto window = std::chrono::steady_clock::now() + std::chrono::milliseconds(900);
    // The panel drops the drip-feeding client once its second is up; its
    // sends fail from then on, which is what it deserves.
    for (int i = 0; i < 10; ++i) {
        if (send(drip, "r", 1, MSG_NOSIGNAL) != 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(90));
    }
    std::this_thread::sleep_until(window);
    EXPECT_GT(passes(), before + 100);
    // The power-fail notice: the panel powers off and is started again.
    std::string log = root_dir + "/var/log/supervisor.log";
    size_t at = slurp(log).rfind("(pid ");
    pid_t pid = std::atoi(slurp(log).c_str() + at + 5);
    auto t0 = std::chrono::steady_clock::now();
    kill(pid, 44);
    ASSERT_TRUE(wait_for([&] { return kill(pid, 0) != 0; }, 5000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
    EXPECT_NE(slurp(log).find("power off"), std::string::npos) << slurp(log);
    for (int fd : quiet)
        close(fd);
    close(half);
    close(drip);
}

TEST_F(PanelProcessTest, OpenFileLimitFailureEndsThePanel) {
    Result r = run_rc("PANEL_ROOT=" + root_dir + " prlimit --nofile=64:64 " + bin("panel"));
    EXPECT_EQ(r.rc, 255);
    EXPECT_NE(r.out.find("Failed to set limit..\n"), std::string::npos) << r.out;
}

TEST_F(PanelProcessTest, PanelctlWithoutAPanel) {
    Result r = ctl("status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.out.find("no panel answers"), std::string::npos);
}

TEST_F(PanelProcessTest, ScreenshotWritesTheVisibleScreen) {
    start();
    // A relative name is taken from panelctl's own folder.
    Result r = run_rc("cd '" + root_dir + "' && " + bin("panelctl") + " --root " + root_dir +
                      " screenshot shot.png");
    EXPECT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(r.out, root_dir + "/shot.png\n");
    std::string png = slurp(root_dir + "/shot.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto be32 = [&png](size_t at) {
        return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
               uint32_t(uint8_t(png[at + 2])) << 8 | uint8_t(png[at + 3]);
    };
    EXPECT_EQ(be32(16), 800u) << "width";
    EXPECT_EQ(be32(20), 480u) << "height";
    Result bad = ctl("screenshot /no/such/folder/x.png");
    EXPECT_EQ(bad.rc, 1);
    EXPECT_NE(bad.out.find("cannot write"), std::string::npos) << bad.out;
}
