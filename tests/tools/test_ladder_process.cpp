// A ladder program in the running panel: built with mkapp from its assembly
// text, run in mode 2, the mode kept over a restart, a corrupt program refused.
#include "process_util.h"
#include "supervised_panel.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

class LadderProcessTest : public SupervisedPanelTest {
protected:
    void SetUp() override {
        SupervisedPanelTest::SetUp();
        write_file("/host.conf", "uname = Linux panel 2.6.35.3-1037 #1\n");
    }
    // The application files of the example program, built by mkapp into the
    // panel's internal flash.
    void install(const std::string &description) {
        int rc = 0;
        std::string out = run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + description, &rc);
        ASSERT_EQ(rc, 0) << out;
    }
};

TEST_F(LadderProcessTest, ExampleProgramRunsAndItsModeSurvivesARestart) {
    // A new unit loads its defaults over whatever files it finds: start it
    // once, then put the program in place.
    start();
    stop();
    install(src("examples/scan_count.json"));
    start();
    ASSERT_EQ(field("run_mode"), "0 Idle");
    ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);
    EXPECT_EQ(field("run_mode"), "2 Run");
    ASSERT_NE(ctl("reg set %M1 1").find("= 1"), std::string::npos);
    EXPECT_TRUE(wait_for([&] { return reg("%Q1") == 1; }, 2000)) << "%Q1 follows %M1";
    long first = reg("%R1");
    EXPECT_TRUE(wait_for([&] { return reg("%R1") != first; }, 2000)) << "%R1 counts the scans";
    ctl("reg set %M1 0");
    EXPECT_TRUE(wait_for([&] { return reg("%Q1") == 0; }, 2000));

    stop();
    start();
    EXPECT_EQ(field("run_mode"), "2 Run") << "the mode was saved with the registers";
    first = reg("%R1");
    EXPECT_TRUE(wait_for([&] { return reg("%R1") != first; }, 2000)) << "counting again";
}

TEST_F(LadderProcessTest, ProgramWithABadCrcIsReplacedAndReported) {
    start();
    stop();
    // Bytes that do not match the program's CRC: the start-up validation
    // replaces the program and reports the user program fault.
    install(src("examples/scan_count.json"));
    std::string file = read_file("/mnt/cfg/ladder.pgm");
    file[9] ^= 0x20;
    write_file("/mnt/cfg/ladder.pgm", file);
    start();
    EXPECT_EQ(std::strtol(field("status_word").c_str(), nullptr, 16) & 0x4, 0x4)
        << field("status_word");
    ctl("reg set %M1 1");
    ctl("reg set %SR5 2");
    EXPECT_EQ(field("run_mode"), "0 Idle") << "the fault keeps the controller idle";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(reg("%Q1"), 0);
}

TEST_F(LadderProcessTest, ProgramThatFailsTheLoadCheckNeverRuns) {
    start();
    stop();
    // A good CRC but an undefined instruction: the load check refuses it with
    // the logic fault and its position.
    write_file("/prog/bad.lad", ".tokens 16\nLD %M1\nOUT %Q1\n.word 0x0100\nEND\n");
    write_file("/prog/bad.json", "{\"ladder\": {\"ladasm\": \"bad.lad\"}}");
    install(root_dir + "/prog/bad.json");
    start();
    EXPECT_EQ(std::strtol(field("status_word").c_str(), nullptr, 16) & 0x104, 0x100)
        << field("status_word");
    EXPECT_EQ(reg("%SR53"), 4) << "the undefined instruction is word 4";
    ctl("reg set %M1 1");
    ctl("reg set %SR5 2");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(field("run_mode"), "0 Idle");
    EXPECT_EQ(reg("%Q1"), 0) << "not one instruction ran";
}

TEST_F(LadderProcessTest, LongLoopRunsToEndAndALoopWithoutEndIsStopped) {
    start();
    stop();
    // While %M1 is off, a 10-instruction loop runs 20,000 times in each scan
    // and the scan ends; with %M1 on, the loop never ends.
    write_file("/prog/loop.lad", ".tokens 16\nMOVKW %R1, 0\n"
                                 "loop: PUSHW %R1\nPUSHK 1\nADDW\nPOPW %R1\nMOVW %R2, %R1\n"
                                 "LD %M1\nPUSHW %R1\nPUSHK 20000\nLTW\nJMPIF loop\n"
                                 "back: TRUE\nLD %M1\nJMPIF back\n"
                                 "PUSHW %R3\nPUSHK 1\nADDW\nPOPW %R3\nEND\n");
    write_file("/prog/loop.json", "{\"ladder\": {\"ladasm\": \"loop.lad\"}}");
    install(root_dir + "/prog/loop.json");
    start();
    ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);
    EXPECT_TRUE(wait_for([&] { return reg("%R3") > 3; }, 3000)) << "scans reach END";
    EXPECT_EQ(field("run_mode"), "2 Run");
    EXPECT_EQ(reg("%R1"), 20000);
    EXPECT_EQ(std::strtol(field("status_word").c_str(), nullptr, 16) & 0x100, 0);

    ctl("reg set %M1 1");
    EXPECT_TRUE(wait_for([&] { return field("run_mode") == "0 Idle"; }, 3000))
        << "the guard stops the scan that never ends";
    EXPECT_EQ(std::strtol(field("status_word").c_str(), nullptr, 16) & 0x100, 0x100)
        << field("status_word");
    long at = reg("%SR53");
    EXPECT_GE(at, 3) << "stopped inside one of the loops";
    EXPECT_LE(at, 26);
    EXPECT_NE(field("passes"), "") << "the panel keeps answering";
}

TEST_F(LadderProcessTest, ScheduleRungFollowsTheClockSetThroughPanelctl) {
    auto status_word = [&] { return std::strtol(field("status_word").c_str(), nullptr, 16); };
    start();
    EXPECT_EQ(reg("%SR49"), 2000) << "a new clock chip holds no time: the default was set";
    stop();
    write_file("/prog/clock.lad", ".tokens 16\nLD %M1\nSCHTOD 12, 31, 12, 32\nOUT %Q1\n"
                                  "LD %M1\nSCHYR 2031, 2031\nOUT %Q2\nEND\n");
    write_file("/prog/clock.json", "{\"ladder\": {\"ladasm\": \"clock.lad\"}}");
    install(root_dir + "/prog/clock.json");
    start();
    EXPECT_EQ(status_word() & 0x200, 0) << "the chip kept the default";
    ctl("reg set %M1 1");
    ctl("reg set %SR5 2");

    // The whole calendar at once: seconds, minutes, hours, day, month, year.
    int rc = 0;
    std::string out =
        run(bin("panelctl") + " --root " + root_dir + " reg set %SR44 57 30 12 1 6 2031", &rc);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_TRUE(wait_for([&] { return reg("%SR49") == 2031; }, 3000))
        << "the clock registers follow";
    EXPECT_EQ(reg("%SR50"), 1) << "1 June 2031 is a Sunday";
    EXPECT_TRUE(wait_for([&] { return reg("%Q2") == 1; }, 2000)) << "the year 2031";
    EXPECT_TRUE(wait_for([&] { return reg("%Q1") == 1; }, 6000)) << "on from 12:31";
    EXPECT_EQ(reg("%SR45"), 31);

    out = run(bin("panelctl") + " --root " + root_dir + " reg set %SR47 29 2 2031", &rc);
    EXPECT_EQ(rc, 1) << out;
    EXPECT_EQ(reg("%SR48"), 6) << "a calendar the clock refuses changes nothing";

    stop();
    start();
    EXPECT_EQ(reg("%SR49"), 2031) << "kept by the clock chip";
    EXPECT_EQ(reg("%SR46"), 12);
    EXPECT_EQ(status_word() & 0x200, 0);
}

TEST_F(LadderProcessTest, PidExampleSettlesItsSimulatedPlant) {
    start();
    stop();
    // A PID loop and a first-order plant computed in the ladder itself.
    install(src("examples/pid_plant.json"));
    start();
    ASSERT_NE(ctl("reg set %SR5 2").find("= 2"), std::string::npos);
    auto settled = [&](long sp) {
        for (int i = 0; i < 4; ++i) {
            long pv = reg("%R21");
            if (pv < sp - 50 || pv > sp + 50) return false;
        }
        return true;
    };
    EXPECT_TRUE(wait_for([&] { return reg("%R20") == 5000 && settled(5000); }, 20000))
        << "PV " << reg("%R21") << ", output " << reg("%R22");
    // A new set point: the plant follows and settles again.
    ASSERT_NE(ctl("reg set %R20 2500").find("= 2500"), std::string::npos);
    EXPECT_TRUE(wait_for([&] { return reg("%R21") < 4000; }, 5000)) << "the plant moves";
    EXPECT_TRUE(wait_for([&] { return settled(2500); }, 20000))
        << "PV " << reg("%R21") << ", output " << reg("%R22");
    long out = reg("%R22");
    EXPECT_GT(out, 2300) << "the output holds the plant";
    EXPECT_LT(out, 2700);
}
