// A panel running under its supervisor in the test's root folder, looked into
// through panelctl.
#pragma once
#include "panel_fixture.h"
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

    pid_t supervisor = -1;
    std::string trace_log;
};
