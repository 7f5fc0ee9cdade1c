// panelctl: looks into a running panel through its control socket; the
// commands are listed by `panelctl --help` (the usage text below).
//
// Exit status: 0 answered "ok", 1 the panel refused the request, 2 no panel
// answered or bad usage.
#include "host/root.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
const char kUsage[] =
    "usage: panelctl [--root DIR] COMMAND [ARGS...]   (DIR default: var/panel)\n"
    "commands: status | reg get NAME [COUNT] [--signed|--hex] | reg set NAME VALUE... |\n"
    "          (NAME:D a 32-bit value, NAME:F a float, in two words low word first)\n"
    "          media insert|remove sd|usb | screenshot FILE.png |\n"
    "          can | can send ID#DATA | key N [PARAMETER] |\n"
    "          touch X Y | touch --raw RX RY | touch-drag X1 Y1 X2 Y2 [STEPS] |\n"
    "          io set SLOT NAME VALUE | io get SLOT [NAME] |\n"
    "          serial | usb connect|disconnect | net | net link IF up|down |\n"
    "          iec | iec var TYPE INDEX | iec get PATH | iec set PATH VALUE | help\n"
    "exit status: 0 done, 1 refused by the panel, 2 no panel or bad usage\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

bool asks_help(const char *arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 ||
           std::strcmp(arg, "help") == 0;
}

bool ends_with(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
} // namespace

int main(int argc, char **argv) {
    std::string root;
    if (const char *env = std::getenv("PANEL_ROOT")) root = env;
    int i = 1;
    if (i < argc && std::strcmp(argv[i], "--root") == 0) {
        if (i + 1 >= argc) return usage();
        root = argv[i + 1];
        i += 2;
    }
    if (root.empty()) root = host::kDefaultRoot;
    if (i >= argc) return usage();
    if (asks_help(argv[i])) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // The panel writes PNG files only: another name would hold a PNG anyway.
    if (std::strcmp(argv[i], "screenshot") == 0 && i + 1 < argc &&
        !ends_with(argv[i + 1], ".png")) {
        std::fprintf(stderr,
                     "panelctl: screenshot writes a PNG file: give a name ending in .png\n");
        return 2;
    }
    // The panel writes the screenshot: a relative name is taken from here.
    std::string shot;
    if (std::strcmp(argv[i], "screenshot") == 0 && i + 1 < argc && argv[i + 1][0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) return usage();
        shot = std::string(cwd) + "/" + argv[i + 1];
        argv[i + 1] = shot.data();
    }
    std::string line;
    for (; i < argc; ++i)
        line += (line.empty() ? "" : " ") + std::string(argv[i]);
    if (line.find('\n') != std::string::npos) return usage();
    line += "\n";

    std::string sock = root + "/run/panelctl.sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (sock.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "panelctl: socket path too long: %s\n", sock.c_str());
        return 2;
    }
    std::strcpy(addr.sun_path, sock.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "panelctl: no panel answers at %s (%s)\n", sock.c_str(),
                     std::strerror(errno));
        return 2;
    }
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) {
        std::fprintf(stderr, "panelctl: the panel closed the connection\n");
        return 2;
    }
    std::string reply;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "panelctl: no answer from the panel (%s)\n", std::strerror(errno));
            return 2;
        }
        reply.append(buf, size_t(n));
    }
    close(fd);
    if (reply.rfind("ok", 0) == 0) {
        std::string rest = reply.substr(2);
        if (!rest.empty() && (rest[0] == ' ' || rest[0] == '\n')) rest.erase(0, 1);
        std::fputs(rest.c_str(), stdout);
        return 0;
    }
    std::fputs(reply.empty() ? "error: empty answer from the panel\n" : reply.c_str(), stderr);
    return 1;
}
