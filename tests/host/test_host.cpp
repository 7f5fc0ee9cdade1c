#include "host/clock.h"
#include "host/config.h"
#include "host/ctl.h"
#include "host/root.h"
#include "host/shell.h"
#include "host/thread.h"
#include "host/watchdog.h"
#include "panel_fixture.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

class HostTest : public PanelTest {};

TEST_F(HostTest, BoardPathsLandUnderTheRootAndMediaNamesIgnoreCase) {
    EXPECT_EQ(host::path("/mnt/cfg/config.pgm"), root_dir + "/mnt/cfg/config.pgm");
    EXPECT_EQ(host::path("etc/ntp.conf"), root_dir + "/etc/ntp.conf");
    write_file("/mnt/USB0/Logs/DATA01.CSV", "x");
    EXPECT_EQ(host::path("/mnt/USB0/logs/data01.csv"), root_dir + "/mnt/USB0/Logs/DATA01.CSV");
    EXPECT_EQ(host::path("/mnt/USB0/LOGS/new.csv"), root_dir + "/mnt/USB0/Logs/new.csv");
    // Internal flash is case-sensitive, as on the board.
    write_file("/mnt/cfg/Config.pgm", "x");
    EXPECT_EQ(host::path("/mnt/cfg/config.pgm"), root_dir + "/mnt/cfg/config.pgm");
}

TEST_F(HostTest, ShellEmulatesBoardCommandsInsideTheRootAndRecordsThem) {
    EXPECT_EQ(host::shell("echo 5 > /proc/sys/net/ipv4/tcp_retries2"), 0);
    EXPECT_EQ(read_file("/proc/sys/net/ipv4/tcp_retries2"), "5\n");
    EXPECT_EQ(host::shell("echo 1 >>/var/x"), 0);
    EXPECT_EQ(host::shell("echo 2 >> /var/x"), 0);
    EXPECT_EQ(read_file("/var/x"), "1\n2\n");
    host::config_set("uname", "Linux test 9.9");
    EXPECT_EQ(host::shell("uname -a > /dev/shm/rev.txt"), 0);
    EXPECT_EQ(read_file("/dev/shm/rev.txt"), "Linux test 9.9\n");
    EXPECT_EQ(host::shell("killall -9 inetd"), 0) << "never kills anything by name";
    auto log = host::shell_log();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[4], "killall -9 inetd");
}

TEST_F(HostTest, FileCommandsRunWithoutAShellSoNamesCannotInject) {
    write_file("/mnt/USB0/a;touch INJECTED", "data");
    EXPECT_EQ(host::shell("rm '/mnt/USB0/a;touch INJECTED'"), 0);
    struct stat st;
    EXPECT_NE(stat((root_dir + "/mnt/USB0/a;touch INJECTED").c_str(), &st), 0);
    EXPECT_NE(stat("INJECTED", &st), 0);
    EXPECT_NE(stat((root_dir + "/INJECTED").c_str(), &st), 0);
    EXPECT_NE(host::shell("rm /mnt/USB0/missing"), 0) << "a failing rm reports failure";
    EXPECT_EQ(host::run_argv({"mkdir", "-p", root_dir + "/d/e"}), 0);
    EXPECT_EQ(stat((root_dir + "/d/e").c_str(), &st), 0);
}

TEST_F(HostTest, ChildrenAreEndedAndReapedByPid) {
    pid_t pid = host::spawn_exec({"sleep", "30"}, -1);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(host::end_child(pid));
    EXPECT_NE(kill(pid, 0), 0);
    EXPECT_FALSE(host::end_child(getpid())) << "only our own children";
    pid_t quick = host::spawn_exec({"true"}, -1);
    ASSERT_GT(quick, 0);
    // The wait between passes learns of the end from the child's descriptor.
    pollfd fds[4];
    bool unwatched = true;
    ASSERT_EQ(host::child_wait_fds(fds, 4, &unwatched), 1u);
    EXPECT_FALSE(unwatched);
    EXPECT_EQ(poll(fds, 1, 5000), 1) << "readable when the child ends";
    host::reap_children();
    EXPECT_NE(kill(quick, 0), 0) << "reaped, not a zombie";
    EXPECT_EQ(host::child_wait_fds(fds, 4, &unwatched), 0u);
}

TEST_F(HostTest, ThreadsBlockThePanelSignals) {
    pthread_t t;
    sigset_t seen;
    ASSERT_EQ(host::thread_create(
                  &t,
                  [](void *arg) -> void * {
                      pthread_sigmask(SIG_BLOCK, nullptr, static_cast<sigset_t *>(arg));
                      return nullptr;
                  },
                  &seen),
              0);
    pthread_join(t, nullptr);
    EXPECT_TRUE(sigismember(&seen, SIGALRM));
    EXPECT_TRUE(sigismember(&seen, host::kPowerFailSignal));
    EXPECT_TRUE(sigismember(&seen, SIGPIPE));
    sigset_t mine;
    pthread_sigmask(SIG_BLOCK, nullptr, &mine);
    EXPECT_FALSE(sigismember(&mine, SIGALRM)) << "the creating thread keeps its mask";
}

TEST_F(HostTest, WatchdogReportsTimeLeftInMillisecondsAndIsSharedWithTheSupervisor) {
    int fd = host::wdt_open();
    ASSERT_GT(fd, 0);
    EXPECT_EQ(host::wdt_open(), -1) << "one opener at a time";
    host::wdt_set_timeout(fd, 5);
    EXPECT_EQ(host::wdt_time_left_ms(fd), 5000);
    host::clock_advance_ms(4200);
    EXPECT_EQ(host::wdt_time_left_ms(fd), 800);
    host::wdt_write(fd, "w", 1);
    EXPECT_EQ(host::wdt_time_left_ms(fd), 5000);
    host::clock_advance_ms(6000);
    EXPECT_EQ(host::wdt_time_left_ms(fd), 0);
    host::WatchdogState s;
    ASSERT_TRUE(host::wdt_read_state(root_dir.c_str(), &s));
    EXPECT_EQ(s.open, 1u);
    EXPECT_EQ(s.timeout_ms, 5000u);
    EXPECT_EQ(s.pid, getpid());
    // Closing without the magic character leaves it armed; with it, disarmed.
    host::wdt_close(fd);
    ASSERT_TRUE(host::wdt_read_state(root_dir.c_str(), &s));
    EXPECT_EQ(s.open, 1u);
    fd = host::wdt_open();
    host::wdt_write(fd, "V", 1);
    host::wdt_close(fd);
    ASSERT_TRUE(host::wdt_read_state(root_dir.c_str(), &s));
    EXPECT_EQ(s.open, 0u);
}

// The monitor once read the clock before the kick time: a kick landing in
// between made the difference wrap, and a healthy panel was reset at once.
TEST_F(HostTest, WatchdogKickedInATightLoopNeverExpires) {
    host::clock_use_real();
    int fd = host::wdt_open();
    ASSERT_GE(fd, 0);
    host::wdt_set_timeout(fd, 1);
    host::wdt_start_monitor();
    const uint64_t end = host::mono_ns() + 1'500'000'000ull;
    while (host::mono_ns() < end) {
        host::wdt_write(fd, "w", 1);
        // Just kicked: never expired. Not a tighter bound, since a loaded
        // host may stop this thread for a while between the two calls.
        ASSERT_GT(host::wdt_time_left_ms(fd), 0);
    }
    host::wdt_write(fd, "V", 1);
    host::wdt_close(fd); // still here: the monitor never fired
}

TEST_F(HostTest, NoWatchdogWhenTheHostHasNone) {
    host::config_set("watchdog", "0");
    EXPECT_EQ(host::wdt_open(), -1);
}

TEST_F(HostTest, SliceTimerFiresOnceOnTheVirtualClock) {
    host::alarm_arm_ms(20);
    host::clock_advance_ms(19);
    EXPECT_FALSE(host::alarm_take());
    host::clock_advance_ms(1);
    EXPECT_TRUE(host::alarm_take());
    EXPECT_FALSE(host::alarm_take()) << "one-shot";
    host::alarm_arm_ms(20);
    host::alarm_disarm();
    host::clock_advance_ms(50);
    EXPECT_FALSE(host::alarm_take());
    host::alarm_arm_ms(0);
    EXPECT_FALSE(host::alarm_armed()) << "a zero time disarms";
}

TEST_F(HostTest, SliceTimerOnTheRealClock) {
    host::clock_use_real();
    host::alarm_install();
    host::alarm_arm_ms(5);
    usleep(30000);
    EXPECT_TRUE(host::alarm_take());
}

TEST_F(HostTest, ControlRequestsAreCheckedBeforeTheyReachACommand) {
    host::ctl_register("echo", [](const std::vector<std::string> &a) {
        std::string out = "ok";
        for (size_t i = 1; i < a.size(); ++i)
            out += " " + a[i];
        return out;
    });
    EXPECT_EQ(host::ctl_handle("echo  a\tb "), "ok a b\n");
    EXPECT_EQ(host::ctl_handle("echo a\r"), "ok a\n");
    EXPECT_EQ(host::ctl_handle(""), "error: empty request\n");
    EXPECT_EQ(host::ctl_handle("   "), "error: empty request\n");
    EXPECT_EQ(host::ctl_handle("nope x"), "error: unknown command 'nope'\n");
    EXPECT_EQ(host::ctl_handle(std::string("echo \x01", 6)),
              "error: request holds control characters\n");
}

// The control socket offers the wait its listening socket, then each
// connection for what it waits on: the request, or room for the answer.
TEST_F(HostTest, ControlSocketDescriptorsForTheWaitFollowEachConnection) {
    host::ctl_register("echo", [](const std::vector<std::string> &) { return "ok"; });
    ASSERT_TRUE(host::ctl_open());
    pollfd fds[8];
    ASSERT_EQ(host::ctl_wait_fds(fds, 8), 1u);
    EXPECT_EQ(poll(fds, 1, 0), 0) << "nobody connecting";
    EXPECT_FALSE(host::ctl_active());

    int c = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, host::ctl_socket_path().c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    EXPECT_EQ(poll(fds, 1, 1000), 1) << "a connection wakes the wait";
    host::ctl_poll();
    EXPECT_TRUE(host::ctl_active());
    ASSERT_EQ(host::ctl_wait_fds(fds, 8), 2u);
    EXPECT_EQ(fds[1].events, POLLIN) << "waiting for the request";

    ASSERT_EQ(send(c, "echo\n", 5, MSG_NOSIGNAL), 5);
    host::ctl_poll(); // answered and sent at once
    char buf[16] = {};
    EXPECT_EQ(recv(c, buf, sizeof buf, 0), 3);
    EXPECT_STREQ(buf, "ok\n");
    EXPECT_FALSE(host::ctl_active());
    EXPECT_EQ(host::ctl_wait_fds(fds, 8), 1u);
    close(c);
    host::ctl_close();
}

TEST_F(HostTest, ScreenSizeFromTheHostConfiguration) {
    EXPECT_EQ(host::screen_width(), 800);
    EXPECT_EQ(host::screen_height(), 480);
    write_file("/host.conf", "# small panel\nscreen = 480x272\n");
    host::config_reset();
    EXPECT_EQ(host::screen_width(), 480);
    EXPECT_EQ(host::screen_height(), 272);
    host::config_set("screen", "bogus");
    EXPECT_EQ(host::screen_width(), 800);
}
