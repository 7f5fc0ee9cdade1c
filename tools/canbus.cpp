// canbus: sends and dumps frames on a panel's CAN bus (the loopback bus of the
// panels on this machine, or the CAN interface itself where one exists).
//
//   canbus [--root DIR | --bus FOLDER] send FRAME...
//   canbus [--root DIR | --bus FOLDER] dump [-n COUNT] [-t MS]
//
// --root takes the bus of that panel root ("can0" of its host.conf); --bus
// names the bus folder directly. FRAME: "123#1122" (standard identifier, 3 hex
// digits, up to 8 data bytes), "1234ABCD#11" (extended, 8 digits), "123#R"
// (remote request), "ERR#busoff" or "ERR#ctrl=04" (error frames, as a
// controller reports them). dump prints each frame in the same form, one a
// line, and ends after COUNT frames or MS milliseconds (default: never),
// exit status 0 when it saw COUNT frames (or no count was asked for), 1 otherwise.
#include "host/canbus.h"
#include "host/config.h"
#include "host/root.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
int usage() {
    std::fprintf(stderr, "usage: canbus [--root DIR | --bus FOLDER] send FRAME...\n"
                         "       canbus [--root DIR | --bus FOLDER] dump [-n COUNT] [-t MS]\n"
                         "FRAME: 123#1122 | 1234ABCD#11 | 123#R | ERR#busoff | ERR#ctrl=04\n");
    return 2;
}

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

int open_bus() {
    int fd = host::can_socket("can0");
    if (fd < 0 || host::can_set_nonblock(fd) != 0 ||
        host::can_set_err_filter(fd, host::kCanErrCtrl | host::kCanErrBusOff) != 0 ||
        host::can_bind(fd) != 0) {
        std::perror("canbus: cannot join the bus");
        return -1;
    }
    return fd;
}

int send(int fd, int argc, char **argv, int i) {
    uint8_t frame[host::kCanFrameBytes];
    for (int k = i; k < argc; ++k) {
        std::string err;
        if (!host::can_frame_parse(argv[k], frame, &err)) {
            std::fprintf(stderr, "canbus: %s\n", err.c_str());
            return 2;
        }
    }
    for (; i < argc; ++i) {
        std::string err;
        host::can_frame_parse(argv[i], frame, &err);
        if (host::can_write(fd, frame, sizeof frame) != ssize_t(sizeof frame)) {
            std::perror("canbus: send");
            return 1;
        }
    }
    return 0;
}

int dump(int fd, long count, long ms) {
    int64_t end = ms > 0 ? now_ms() + ms : -1;
    long seen = 0;
    uint8_t frame[host::kCanFrameBytes];
    while (count <= 0 || seen < count) {
        int wait = -1;
        if (end >= 0) {
            int64_t left = end - now_ms();
            if (left <= 0) break;
            wait = int(left);
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, wait) < 0) continue;
        while ((count <= 0 || seen < count) && host::can_read(fd, frame, sizeof frame) == 16) {
            std::printf("%s\n", host::can_frame_text(frame).c_str());
            std::fflush(stdout);
            ++seen;
        }
    }
    return count <= 0 || seen >= count ? 0 : 1;
}
} // namespace

int main(int argc, char **argv) {
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "--root") == 0) {
        host::set_root(argv[i + 1]);
        i += 2;
    } else if (i + 1 < argc && std::strcmp(argv[i], "--bus") == 0) {
        std::string bus = argv[i + 1];
        if (bus[0] != '/') {
            char cwd[4096];
            if (!getcwd(cwd, sizeof cwd)) return usage();
            bus = std::string(cwd) + "/" + bus;
        }
        host::config_set("can0", bus);
        i += 2;
    }
    if (i >= argc) return usage();
    std::string cmd = argv[i++];
    if (cmd == "send") {
        if (i >= argc) return usage();
        int fd = open_bus();
        if (fd < 0) return 1;
        int rc = send(fd, argc, argv, i);
        host::can_close(fd);
        return rc;
    }
    if (cmd != "dump") return usage();
    long count = 0, ms = 0;
    for (; i < argc; i += 2) {
        if (i + 1 >= argc) return usage();
        char *end = nullptr;
        long v = std::strtol(argv[i + 1], &end, 10);
        if (!end || *end || v < 0) return usage();
        if (std::strcmp(argv[i], "-n") == 0)
            count = v;
        else if (std::strcmp(argv[i], "-t") == 0)
            ms = v;
        else
            return usage();
    }
    int fd = open_bus();
    if (fd < 0) return 1;
    int rc = dump(fd, count, ms);
    host::can_close(fd);
    return rc;
}
