// A panel running under its supervisor in the test's root folder, looked into
// through panelctl.
#pragma once
#include "base/le.h"
#include "panel_fixture.h"
#include "png_snapshot.h"
#include "process_util.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

class SupervisedPanelTest : public PanelTest {
protected:
    void TearDown() override {
        stop();
        PanelTest::TearDown();
    }
    // Starts the supervisor with the panel (given these arguments) and waits
    // until it answers. With `trace_log` set the panel records its calls there.
    void start(const std::vector<std::string> &panel_args = {}) {
        std::vector<std::string> args = {bin("supervisor"), "--root", root_dir, "--", bin("panel")};
        args.insert(args.end(), panel_args.begin(), panel_args.end());
        supervisor = fork();
        if (supervisor == 0) {
            if (!trace_log.empty()) setenv("PANEL_TRACE", trace_log.c_str(), 1);
            freopen("/dev/null", "w", stdout);
            std::vector<char *> argv;
            for (auto &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ASSERT_TRUE(wait_for([&] { return field("run_mode") != ""; }, 10000));
    }
    void stop() {
        if (supervisor <= 0) return;
        kill(supervisor, SIGTERM);
        int st;
        waitpid(supervisor, &st, 0);
        supervisor = -1;
    }
    std::string ctl(const std::string &args, int *rc = nullptr) {
        return run(bin("panelctl") + " --root " + root_dir + " " + args, rc);
    }
    // The value of a register as panelctl reads it (-1 when it gives none).
    long reg(const std::string &name) {
        std::string out = ctl("reg get " + name);
        size_t eq = out.find(" = ");
        return eq == std::string::npos ? -1 : std::strtol(out.c_str() + eq + 3, nullptr, 10);
    }
    // A line "name: value" of panelctl status ("" when there is none).
    std::string field(const std::string &name) {
        std::string out = ctl("status");
        size_t at = out.find(name + ": ");
        if (at == std::string::npos) return "";
        size_t end = out.find('\n', at);
        return out.substr(at + name.size() + 2, end - at - name.size() - 2);
    }

    // Builds an example's application into the root folder (after a first
    // start that made the panel's files) with a one-to-one touch calibration
    // of the 800 x 480 screen, and starts it until the user screens run.
    void start_example(const std::string &example) {
        start();
        stop();
        int rc = -1;
        const std::string out =
            run(bin("mkapp") + " -o " + root_dir + "/mnt/cfg " + src(example), &rc);
        ASSERT_EQ(rc, 0) << out;
        std::string cal(24, '\0');
        const int32_t rec[6] = {800, 480, 0, 0, 800, 480};
        for (int i = 0; i < 6; ++i)
            put_le32(cal.data() + 4 * i, uint32_t(rec[i]));
        write_file("/mnt/cfg/cal.dta", cal);
        start();
        ASSERT_TRUE(wait_for([&] { return field("PGM_state") == "5"; }, 10000));
    }
    // The 800 x 480 screen as RGB bytes (empty when the screenshot fails).
    std::vector<uint8_t> screen_rgb() {
        const std::string file = root_dir + "/shot.png";
        int rc = -1;
        ctl("screenshot " + file, &rc);
        std::vector<uint8_t> rgb;
        int w = 0, h = 0;
        if (rc != 0 || !png_read_rgb(file, &rgb, &w, &h) || w != 800 || h != 480) rgb.clear();
        return rgb;
    }

    pid_t supervisor = -1;
    std::string trace_log;
};
