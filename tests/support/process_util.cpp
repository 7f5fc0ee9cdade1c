#include "process_util.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string bin(const std::string &name) {
    const char *dir = std::getenv("PANEL_BIN");
    return std::string(dir ? dir : "build/bin") + "/" + name;
}

std::string run(const std::string &cmd, int *rc) {
    std::string out;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) {
        if (rc) *rc = -1;
        return out;
    }
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    int st = pclose(p);
    if (rc) *rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

std::string slurp(const std::string &file) {
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string src(const std::string &name) {
    const char *dir = std::getenv("PANEL_SRC");
    return (dir ? std::string(dir) : bin("../..")) + "/" + name;
}
