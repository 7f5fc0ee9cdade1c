// Receiving a 256-byte frame through a port of the table (CheckRx, then GetRx
// per byte, as the protocol engines read) against the same bytes read from a
// pty master by the same system calls done natively: the byte count, then a
// one-byte read, for each byte. The frame is written into the pty's other end
// in both.
#include "host/clock.h"
#include "host/root.h"
#include "host/tty.h"
#include "serial/vcomm.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
constexpr int kFrame = 256;

int open_raw(const char *path) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

void fill(uint8_t *frame) {
    for (int i = 0; i < kFrame; ++i)
        frame[i] = uint8_t(i * 13);
}

void Serial_ReceiveFrame(benchmark::State &state) {
    char tmpl[] = "/tmp/bench-serial-XXXXXX";
    std::string root = mkdtemp(tmpl);
    host::set_root(root);
    host::clock_use_virtual();
    Vcomm_Init();
    SCI2_Init(0);
    const VcommDrv &d = Vcomm_Drv[0];
    int peer = open_raw(host::tty_peer_link("/dev/ttySP0").c_str());
    uint8_t frame[kFrame];
    fill(frame);
    for (auto _ : state) {
        if (write(peer, frame, kFrame) != kFrame) state.SkipWithError("write");
        for (int got = 0; got < kFrame;)
            if (d.CheckRx(0) == 1) {
                benchmark::DoNotOptimize(d.GetRx(0));
                ++got;
            }
    }
    close(peer);
    Vcomm_Reset();
    host::tty_reset();
    std::filesystem::remove_all(root);
}

void Serial_ReceiveFrame_baseline(benchmark::State &state) {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    grantpt(m);
    unlockpt(m);
    int peer = open_raw(ptsname(m));
    termios t{};
    tcgetattr(m, &t);
    cfmakeraw(&t);
    tcsetattr(m, TCSANOW, &t);
    uint8_t frame[kFrame];
    fill(frame);
    for (auto _ : state) {
        if (write(peer, frame, kFrame) != kFrame) state.SkipWithError("write");
        for (int got = 0; got < kFrame;) {
            int n = 0;
            if (ioctl(m, FIONREAD, &n) == 0 && n > 0) {
                uint8_t b;
                if (read(m, &b, 1) == 1) {
                    benchmark::DoNotOptimize(b);
                    ++got;
                }
            }
        }
    }
    close(peer);
    close(m);
}
} // namespace

BENCHMARK(Serial_ReceiveFrame);
BENCHMARK(Serial_ReceiveFrame_baseline);
