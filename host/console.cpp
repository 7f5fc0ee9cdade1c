#include "host/console.h"

#include "host/root.h"

#include <cstdio>

namespace host {

void console_line(const std::string &text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    make_dirs("/var/log");
    if (FILE *f = std::fopen(path("/var/log/console.log").c_str(), "a")) {
        std::fprintf(f, "%s\n", text.c_str());
        std::fclose(f);
    }
}

} // namespace host
