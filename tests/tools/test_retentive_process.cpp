// Retentive registers of a running panel over its ends: %M and %EM bits are
// set to different patterns, then the panel gets the power-fail
// signal or kill -9 and its supervisor starts it again. The FRAM block holds
// %EM, or %M when the program uses 16-bit register tokens; the start-up
// reads it back before it takes the program's feature word, so both token
// widths are run.
#include "process_util.h"
#include "supervised_panel.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// Request 1 in %R100 sets %M1 (pattern 1), request 2 %M2 (pattern 2); the
// program then clears the request, so after a restart nothing writes %M
// again. A 16-bit token reaches no register of %EM: panelctl sets those.
std::string program(int tokens) {
    return ".tokens " + std::to_string(tokens) +
           "\n"
           "LD %R100.0\nNOT\nJMPIF two\n"
           "PUSHK 1\nPOPW %M1\nPUSHK 0\nPOPW %R100\n"
           "two: LD %R100.1\nNOT\nJMPIF done\n"
           "PUSHK 2\nPOPW %M1\nPUSHK 0\nPOPW %R100\n"
           "done: END\n";
}

struct Bits {
    long m1, m2, em1, em2;
    bool operator==(const Bits &) const = default;
};
std::ostream &operator<<(std::ostream &o, const Bits &b) {
    return o << "%M1 " << b.m1 << " %M2 " << b.m2 << " %EM1 " << b.em1 << " %EM2 " << b.em2;
}
constexpr Bits kPattern1{1, 0, 0, 1}, kPattern2{0, 1, 1, 0};

} // namespace

class RetentiveProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        write_file("/host.conf", "uname = Linux panel 2.6.35.3-1037 #1\n");
    }
    Bits bits() { return {reg("%M1"), reg("%M2"), reg("%EM1"), reg("%EM2")}; }
    long panel_pid() { return std::strtol(read_file("/proc/powerdown").c_str(), nullptr, 10); }
    // Asks the program for a pattern and waits until it has run.
    void request(int pattern) {
        ctl(std::string("reg set %EM1 ") + (pattern == 1 ? "0" : "1"));
        ctl(std::string("reg set %EM2 ") + (pattern == 1 ? "1" : "0"));
        ctl("reg set %R100 " + std::to_string(pattern));
        ASSERT_TRUE(wait_for([&] { return reg("%R100") == 0; }, 2000));
        // A few passes more: the FRAM has the bits.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Ends the panel with `sig` and waits for the supervisor's restart.
    void end_with(int sig) {
        long pid = panel_pid();
        ASSERT_GT(pid, 0);
        ASSERT_EQ(kill(pid_t(pid), sig), 0);
        ASSERT_TRUE(wait_for([&] { return panel_pid() != pid && field("run_mode") != ""; }, 15000));
    }
};

TEST_F(RetentiveProcessTest, MAndEmBitsComeBackAfterThePowerFailSignalAndKill9) {
    for (int tokens : {16, 32}) {
        SCOPED_TRACE(std::to_string(tokens) + "-bit tokens");
        write_file("/prog/bits.lad", program(tokens));
        write_file("/prog/bits.json", R"({"ladder": {"ladasm": "bits.lad"}})");
        // A new unit loads its defaults over whatever files it finds.
        start();
        stop();
        int rc = 0;
        std::string out =
            run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + root_dir + "/prog/bits.json", &rc);
        ASSERT_EQ(rc, 0) << out;
        start();
        ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);
        request(1);
        ASSERT_EQ(bits(), kPattern1);

        // The power-fail signal saves the whole image, and the FRAM block
        // is put back over it.
        end_with(44);
        EXPECT_EQ(field("run_mode"), "2 Run");
        EXPECT_EQ(bits(), kPattern1) << "after the power-fail signal";

        // kill -9 saves nothing: the FRAM block alone keeps pattern 2 in the
        // retentive bits (%M with 16-bit tokens, %EM with 32), the others
        // come back as the power-fail signal saved them.
        request(2);
        ASSERT_EQ(bits(), kPattern2);
        end_with(SIGKILL);
        Bits expected = tokens == 16 ? Bits{0, 1, 0, 1} : Bits{1, 0, 1, 0};
        EXPECT_EQ(bits(), expected) << "after kill -9";
        stop();
    }
}
