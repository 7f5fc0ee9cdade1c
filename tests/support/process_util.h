// Helpers of the tests that run the panel's programs as processes.
#pragma once
#include <chrono>
#include <string>
#include <thread>

// A program of the build ($PANEL_BIN, else build/bin).
std::string bin(const std::string &name);
// A file of the source tree ($PANEL_SRC, else two folders above the binaries).
std::string src(const std::string &name);
// Runs a command line; returns standard output and error together, and the
// exit status in *rc (-1 when it did not exit normally).
std::string run(const std::string &cmd, int *rc = nullptr);
// The whole of a file ("" when it cannot be read).
std::string slurp(const std::string &file);

// Polls `cond` until it holds or `ms` milliseconds have passed.
template <class F> bool wait_for(F cond, int ms) {
    for (int waited = 0; waited < ms; waited += 50) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return cond();
}
