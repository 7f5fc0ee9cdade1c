// Stand-in for the outside media player on a host without one: it takes the
// player's command line, reads commands from the pipe named by
// "-input file=PATH" and writes its arguments and each command it receives to
// PATH + ".log". "quit" ends it; "pause" toggles pausing.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
    std::string pipe;
    std::string args;
    for (int i = 1; i < argc; ++i) {
        args += (i > 1 ? " " : "") + std::string(argv[i]);
        if (std::strcmp(argv[i], "-input") == 0 && i + 1 < argc &&
            std::strncmp(argv[i + 1], "file=", 5) == 0)
            pipe = argv[i + 1] + 5;
    }
    if (pipe.empty()) {
        std::fprintf(stderr, "player_standin: no -input file=PIPE\n");
        return 2;
    }
    FILE *log = std::fopen((pipe + ".log").c_str(), "a");
    if (!log) return 1;
    std::fprintf(log, "args %s\n", args.c_str());
    std::fflush(log);
    // Read and write, so the pipe never reads as ended between commands.
    int fd = ::open(pipe.c_str(), O_RDWR);
    if (fd < 0) return 1;
    std::string line;
    char c;
    bool paused = false;
    while (::read(fd, &c, 1) == 1) {
        if (c != '\n') {
            line += c;
            continue;
        }
        std::fprintf(log, "%s\n", line.c_str());
        std::fflush(log);
        if (line == "quit") break;
        if (line == "pause") paused = !paused;
        line.clear();
    }
    std::fprintf(log, "ended%s\n", paused ? " paused" : "");
    std::fclose(log);
    return 0;
}
