#include <gtest/gtest.h>

#include "base/trace.h"
#include "host/clock.h"
#include "host/power.h"
#include "host/root.h"
#include "host/thread.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "system/appfile.h"
#include "system/crash.h"
#include "system/touch.h"
#include "tests/support/png_snapshot.h"
#include "tests/support/video_fixture.h"

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>

namespace {
// A scripted operator: one touch press at a given second of the wait.
struct Touch {
    int at_ms = -1; // none
    int x = 0, y = 0;
};
Touch g_touch;
uint64_t g_wait_start_ns;

int scripted_poll() {
    if (g_touch.at_ms >= 0 &&
        host::mono_ns() - g_wait_start_ns >= uint64_t(g_touch.at_ms) * 1'000'000ull) {
        g_touch.at_ms = -1;
        return ExcpTch(512, g_touch.x, g_touch.y);
    }
    return 0;
}

// Recursion without end: overflows the stack of the thread it runs in.
volatile int g_depth_limit = 1 << 30;
int deep(int n) {
    volatile char pad[1024];
    pad[0] = char(n);
    if (n >= g_depth_limit) return pad[0];
    return deep(n + 1) + pad[0];
}
void *overflow_stack(void *) {
    return reinterpret_cast<void *>(intptr_t(deep(0)));
}

long count_of(const std::vector<std::string> &calls, const char *name) {
    return long(std::count(calls.begin(), calls.end(), name));
}
} // namespace

class CrashTest : public VideoTest {
protected:
    void SetUp() override {
        VideoTest::SetUp();
        g_touch = Touch{};
        Crash_SetPoll(scripted_poll);
    }
};

TEST_F(CrashTest, LogFileHoldsTheBacktrace) {
    ASSERT_EQ(GenLogFile(), 1);
    struct stat st {};
    ASSERT_EQ(stat(host::path("/mnt/cfg/logfile").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::istringstream in(read_file("/mnt/cfg/logfile"));
    int lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    EXPECT_GE(lines, 2);
    EXPECT_LE(lines, 32);
    // A second crash replaces the log instead of appending to it.
    write_file("/mnt/cfg/logfile", std::string(100000, 'x'));
    ASSERT_EQ(GenLogFile(), 1);
    EXPECT_LT(read_file("/mnt/cfg/logfile").size(), 100000u);
}

TEST_F(CrashTest, LogFileThatCannotBeCreated) {
    write_file("/mnt/cfg/logfile/x", ""); // a folder where the log would go
    EXPECT_EQ(GenLogFile(), 0);
}

TEST_F(CrashTest, TouchCallbackTakesPressesOnly) {
    EXPECT_EQ(ExcpTch(256, 5, 6), 0);
    EXPECT_EQ(ExcpTch(16, 7, 8), 0);
    EXPECT_EQ(TchX, 0);
    EXPECT_EQ(ExcpTch(512, 120, 200), 1);
    EXPECT_EQ(TchX, 120);
    EXPECT_EQ(TchY, 200);
}

// The question takes three lines on a 240-pixel-high screen, two on taller
// ones; the fault line follows the signal.
TEST_F(CrashTest, CrashScreenPictures) {
    struct Case {
        const char *screen;
        int sig;
        const char *snapshot;
    };
    const Case cases[] = {
        {"800x480", SIGSEGV, "tests/system/snapshots/crash_segv_800x480.png"},
        {"320x240", SIGFPE, "tests/system/snapshots/crash_fpe_320x240.png"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.screen);
        panel_reset_all();
        Crash_SetPoll(scripted_poll);
        start(true, c.screen);
        Crash_DrawScreen(c.sig);
        EXPECT_EQ(screen_snapshot_diff(c.snapshot), "");
    }
}

// Yes and No are found by the touch point; a touch beside them is ignored;
// without an answer the count runs out after 59 seconds.
TEST_F(CrashTest, WaitEndsByTheOperatorsAnswerOrTheCount) {
    struct Case {
        const char *what;
        Touch touch;
        CrashAnswer answer;
        int seconds; // of the wait
    };
    // 800x480: Yes spans x 240-349, No 450-559, both y 147-173.
    const Case cases[] = {
        {"yes", {2500, 300, 160}, kCrashYes, 2},
        {"yes corner", {0, 240, 147}, kCrashYes, 0},
        {"no", {10500, 559, 173}, kCrashNo, 10},
        {"between buttons", {1000, 400, 160}, kCrashTimeout, 59},
        {"below yes", {1000, 300, 174}, kCrashTimeout, 59},
        {"nothing", {}, kCrashTimeout, 59},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        panel_reset_all();
        start(true, "800x480");
        Crash_SetPoll(scripted_poll);
        g_touch = c.touch;
        Crash_DrawScreen(SIGSEGV);
        host::trace_start();
        g_wait_start_ns = host::mono_ns();
        EXPECT_EQ(Crash_Wait(), c.answer);
        host::trace_stop();
        EXPECT_EQ((host::mono_ns() - g_wait_start_ns) / 1'000'000'000ull, uint64_t(c.seconds));
        EXPECT_EQ(count_of(host::trace_calls(), "TCH_Beep"), 1);
    }
}

TEST_F(CrashTest, CountdownAndPressedButtonPictures) {
    start(true, "480x272");
    Crash_DrawScreen(SIGBUS);
    Crash_DrawCount(7);
    Crash_PressButton(1);
    EXPECT_EQ(screen_snapshot_diff("tests/system/snapshots/crash_bus_count7_yes_480x272.png"), "");
}

// The whole handler: the log, the screen, and a reboot at the end; "Yes"
// erases the application program first, "No" keeps it.
TEST_F(CrashTest, HandlerRebootsAfterTheAnswer) {
    GTEST_FLAG_SET(death_test_style, "fast");
    start(true, "800x480");
    write_file("/mnt/cfg/ladder.pgm", "program");
    // The fault comes while the screen saver has blanked the screen: the
    // crash screen is lit all the same.
    sr_put(57, 80);
    TCH_ScreenSaver(5);
    for (int i = 0; i <= 30'000; ++i) {
        host::clock_advance_ms(10);
        TimerISR();
    }
    ASSERT_EQ(read_file("/sys/class/backlight/mxs-bl/brightness"), "0");
    g_touch = {1000, 500, 160};
    EXPECT_EXIT(ExceptionISR(SIGSEGV), testing::ExitedWithCode(host::kExitReboot), "");
    EXPECT_EQ(read_file("/sys/class/backlight/mxs-bl/brightness"), "80");
    EXPECT_EQ(read_file("/mnt/cfg/ladder.pgm"), "program");
    EXPECT_FALSE(read_file("/mnt/cfg/logfile").empty());
    g_touch = {1000, 300, 160};
    EXPECT_EXIT(ExceptionISR(SIGSEGV), testing::ExitedWithCode(host::kExitReboot), "");
    struct stat st {};
    EXPECT_NE(stat(host::path("/mnt/cfg/ladder.pgm").c_str(), &st), 0) << "program kept";
}

// The handler runs on an alternate signal stack, and each thread needs its
// own: a worker whose stack overflows still reaches the crash handler, which
// writes the log and reboots after the answer.
TEST_F(CrashTest, StackOverflowInAWorkerThreadReachesTheHandler) {
    GTEST_FLAG_SET(death_test_style, "fast");
    start(true, "800x480");
    g_touch = {1000, 500, 160}; // "No"
    EXPECT_EXIT(
        {
            host::install_fatal_handler(SIGSEGV, ExceptionISR);
            pthread_t worker;
            if (host::thread_create(&worker, overflow_stack, nullptr) == 0)
                pthread_join(worker, nullptr);
            _exit(1);
        },
        testing::ExitedWithCode(host::kExitReboot), "");
    EXPECT_FALSE(read_file("/mnt/cfg/logfile").empty());
}
