// What a new user meets first: one panel per root folder, panelctl's help,
// value forms and refusals, as the commands show them.
#include "process_util.h"
#include "supervised_panel.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class FirstUseTest : public SupervisedPanelTest {
protected:
    // A panel started alone (no supervisor) on the test's root folder.
    pid_t start_alone() {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("PANEL_ROOT", root_dir.c_str(), 1);
            unsetenv("PANEL_ROOT_LOCK_FD");
            freopen("/dev/null", "w", stdout);
            freopen((root_dir + "/alone.err").c_str(), "w", stderr);
            execl(bin("panel").c_str(), "panel", static_cast<char *>(nullptr));
            _exit(127);
        }
        return pid;
    }
    // Waits for a process of ours to end; its status, or -1 after `ms`.
    int ended(pid_t pid, int ms) {
        int st = 0;
        if (!wait_for([&] { return waitpid(pid, &st, WNOHANG) == pid; }, ms)) return -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
};

TEST_F(FirstUseTest, OnePanelPerRootFolderAndTheLockOutlivesNoCrash) {
    start();
    // A second supervisor and a panel alone are refused while it runs.
    int rc = 0;
    std::string out = run(bin("supervisor") + " --root " + root_dir + " -- " + bin("panel"), &rc);
    EXPECT_EQ(rc, 1) << out;
    EXPECT_NE(out.find("is in use by another panel (pid "), std::string::npos) << out;
    pid_t alone = start_alone();
    EXPECT_EQ(ended(alone, 10000), 1);
    EXPECT_NE(slurp(root_dir + "/alone.err").find("is in use by another panel"), std::string::npos)
        << slurp(root_dir + "/alone.err");
    // The supervised panel was not disturbed (and restarts keep the lock).
    EXPECT_EQ(ctl("status").find("run_mode"), 0u);
    stop();

    // A panel alone takes the lock itself; killed hard, it leaves none.
    alone = start_alone();
    ASSERT_TRUE(wait_for([&] { return field("run_mode") != ""; }, 10000));
    out = run(bin("supervisor") + " --root " + root_dir + " -- " + bin("panel"), &rc);
    EXPECT_EQ(rc, 1) << out;
    kill(alone, SIGKILL);
    EXPECT_EQ(ended(alone, 5000), 128 + SIGKILL);
    start();
    EXPECT_EQ(field("run_mode"), "0 Idle");
}

TEST_F(FirstUseTest, PanelctlHelpAndItsOwnRefusalsNeedNoPanel) {
    struct Case {
        const char *args;
        int rc;
        const char *out;
    };
    // clang-format off
    const Case cases[] = {
        {"--help",                       0, "usage: panelctl [--root DIR] COMMAND"},
        {"-h",                           0, "usage: panelctl"},
        {"help",                         0, "reg get NAME [COUNT] [--signed|--hex]"},
        {"--root /nowhere help",         0, "usage: panelctl"},
        {"",                             2, "usage: panelctl"},
        {"screenshot shot.jpg",          2, "give a name ending in .png"},
        {"screenshot shot",              2, "give a name ending in .png"},
        {"status",                       2, "no panel answers at /nowhere/run/panelctl.sock"},
    };
    // clang-format on
    for (const Case &c : cases) {
        int rc = -1;
        std::string args = c.args;
        if (args == "status") args = "--root /nowhere status";
        std::string out = run(bin("panelctl") + " " + args, &rc);
        EXPECT_EQ(rc, c.rc) << c.args << ": " << out;
        EXPECT_NE(out.find(c.out), std::string::npos) << c.args << ": " << out;
    }
}

TEST_F(FirstUseTest, RegisterValuesInTheFormsAskedFor) {
    start();
    struct Case {
        const char *args;
        int rc;
        const char *out;
    };
    // clang-format off
    const Case cases[] = {
        {"reg set %R1 -2",               0, "%R1 = 65534\n"},
        {"reg get %R1",                  0, "%R1 = 65534\n"},
        {"reg get %R1 --signed",         0, "%R1 = -2\n"},
        {"reg get %R1 --hex",            0, "%R1 = 0xFFFE\n"},
        {"reg set %R1:D 100000",         0, "%R1:D = 100000\n"},
        {"reg get %R1 2",                0, "%R1 = 34464 1\n"},
        {"reg get %r1:d --hex",          0, "%R1:D = 0x000186A0\n"},
        {"reg set %R3:D -1",             0, "%R3:D = 4294967295\n"},
        {"reg get %R3:D --signed",       0, "%R3:D = -1\n"},
        {"reg set %R5:F -1.5",           0, "%R5:F = -1.5\n"},
        {"reg get %R5 2 --hex",          0, "%R5 = 0x0000 0xBFC0\n"},
        {"reg get %R1:D 3 --signed",     0, "%R1:D = 100000 -1 -1077936128\n"},
        {"reg set %M2 1",                0, "%M2 = 1\n"},
        {"reg get %M1 3",                0, "%M1 = 0 1 0\n"},
        {"reg get %M1:D",                1, "only word registers take the :D form"},
        {"reg get %R1:X",                1, "unknown form ':X'"},
        {"reg get %R1 0",                1, "COUNT 0 outside 1..256"},
        {"reg get %R1 2 3",              1, "usage: reg get NAME"},
        {"reg get %R1 --signed --hex",   1, "exclude each other"},
        {"reg set %R5:F fast",           1, "not a number: 'fast'"},
        {"reg set %R1:D 1 2",            1, "%R1:D takes one value"},
    };
    // clang-format on
    for (const Case &c : cases) {
        int rc = -1;
        std::string out = ctl(c.args, &rc);
        EXPECT_EQ(rc, c.rc) << c.args << ": " << out;
        if (c.rc == 0)
            EXPECT_EQ(out, c.out) << c.args;
        else
            EXPECT_NE(out.find(c.out), std::string::npos) << c.args << ": " << out;
    }
}

TEST_F(FirstUseTest, ARunModeRefusedForALogicFaultIsReportedAsRefused) {
    start();
    stop();
    // A program that fails its load check: the logic fault keeps mode 0.
    write_file("/prog/bad.lad", ".tokens 16\nLD %M1\nOUT %Q1\n.word 0x0100\nEND\n");
    write_file("/prog/bad.json", "{\"ladder\": {\"ladasm\": \"bad.lad\"}}");
    int rc = 0;
    std::string out =
        run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + root_dir + "/prog/bad.json", &rc);
    ASSERT_EQ(rc, 0) << out;
    start();
    out = ctl("reg set %SR5 2", &rc);
    EXPECT_EQ(rc, 1) << out;
    EXPECT_NE(out.find("%SR5 refused 2 because of a fault in %SR4 = 0x"), std::string::npos) << out;
    EXPECT_NE(out.find("(logic fault)"), std::string::npos) << out;
    EXPECT_NE(out.find("the run mode stays 0 Idle"), std::string::npos) << out;
    EXPECT_EQ(field("run_mode"), "0 Idle");
    // Mode 3 runs over the fault, as the controller allows.
    out = ctl("reg set %SR5 3", &rc);
    EXPECT_EQ(rc, 0) << out;
}

TEST_F(FirstUseTest, BuilderCommandsSayWhatIsWrongAndWarnOfWhatLooksWrong) {
    write_file("/src/ok.lad", ".tokens 16\nLD %M1\nOUT %Q1\nEND\n");
    write_file("/src/noend.lad", "LD %M1\nOUT %Q1\n");
    write_file("/src/stack.lad", "LD %M1\nLD %M2\nEND\n");
    write_file("/src/bad.lad", "LD %M1\nOUTX %Q1\nEND\n");
    write_file("/src/app.json", R"({"ladder": {"ladasm": "bad.lad"}})");
    write_file("/src/screens.json",
               R"({"kesta_pgm": {"screens": {"start_screen": 3, "pages": [{"screen": 1}]}}})");
    write_file("/src/empty.pgm", "");
    write_file("/src/odd.pgm", std::string("\x09\x00\x21", 3));
    write_file("/src/raw.pgm", std::string("\x09\x00", 2));
    const std::string d = root_dir + "/src/";
    struct Case {
        std::string cmd;
        int rc;
        std::string out;
    };
    // clang-format off
    const Case cases[] = {
        {"ladasm -o " + d + "ok.pgm " + d + "ok.lad",          0, "ok.pgm: 17 program bytes"},
        {"ladasm -o " + d + "x.pgm " + d + "noend.lad",        0, "noend.lad: warning: no END"},
        {"ladasm -o " + d + "x.pgm " + d + "stack.lad",        0,
         "stack.lad: warning: the logic stack holds 3 entries at END (word 2)"},
        {"ladasm -o " + d + "x.pgm " + d + "bad.lad",          1, "bad.lad: line 2:"},
        {"ladasm -h",                                          0, "usage: ladasm"},
        {"laddis " + d + "ok.pgm",                             0, "OUT"},
        {"laddis " + d + "empty.pgm",                          1, "empty.pgm is empty"},
        {"laddis " + d + "odd.pgm",                            1, "no whole words and end in no trailer"},
        {"laddis " + d + "raw.pgm",                            0, "warning: " + d + "raw.pgm is no control program file"},
        {"laddis -h",                                          0, "usage: laddis FILE"},
        {"mkapp -o " + d + "out " + d + "app.json",            1, "app.json: ladder: " + d + "bad.lad: line 2:"},
        {"mkapp -o " + d + "new/cfg " + d + "screens.json",    0, "warning: kesta_pgm: start screen 3 has no page"},
        {"mkapp -h",                                           0, "usage: mkapp"},
    };
    // clang-format on
    for (const Case &c : cases) {
        int rc = -1;
        std::string out = run(bin(c.cmd), &rc);
        EXPECT_EQ(rc, c.rc) << c.cmd << ": " << out;
        EXPECT_NE(out.find(c.out), std::string::npos) << c.cmd << ": " << out;
    }
    // mkapp made the missing folder, and warned that no register file is
    // there yet (a first start replaces the files with its defaults)...
    EXPECT_EQ(slurp(d + "new/cfg/config.pgm").empty(), false);
    int rc = -1;
    std::string out = run(bin("mkapp -o " + d + "new/cfg " + d + "screens.json"), &rc);
    EXPECT_NE(out.find("holds no register file (autoreg.dta) yet"), std::string::npos) << out;
    // ... which it does not once the unit has started there.
    write_file("/src/new/cfg/autoreg.dta", "x");
    out = run(bin("mkapp -o " + d + "new/cfg " + d + "screens.json"), &rc);
    EXPECT_EQ(out.find("register file"), std::string::npos) << out;
}
