// The programming protocol's hot paths.
// - Packet reading: a 1024-byte data packet taken byte by byte through
//   get_packet from the USB port's receive ring, against a plain loop that
//   sums the same bytes from memory (the checksum work alone).
// - An idle Cmd_Check with the serial and USB ports open on ptys and nothing
//   waiting, against the native look at the same two ptys (a FIONREAD ioctl
//   on each), which is what an empty poll of the hosts must cost at least.
#include "host/clock.h"
#include "host/root.h"
#include "host/tty.h"
#include "platform/tick.h"
#include "platform/unit.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"
#include "serial/vcomm.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {
constexpr int kData = 1024;

std::vector<uint8_t> data_packet() {
    std::vector<uint8_t> p = {0xFF, 0xFF, uint8_t(kData), uint8_t(kData >> 8)};
    for (int i = 0; i < kData; ++i)
        p.push_back(uint8_t(i * 7));
    uint8_t sum = 0;
    for (uint8_t b : p)
        sum = uint8_t(sum + b);
    p.push_back(uint8_t(-sum));
    return p;
}

struct Root {
    std::string dir;
    Root() {
        char tmpl[] = "/tmp/bench-cmd-XXXXXX";
        dir = mkdtemp(tmpl);
        host::set_root(dir);
        host::clock_use_virtual();
        Tick_Reset();
        Cmd_Reset();
        Vcomm_Init();
        SCI2_Init(0);
        SCI4_Init(3);
        crc_header[3] = 0;
        Cmd_Init();
    }
    ~Root() {
        Cmd_Reset();
        Vcomm_Reset();
        host::tty_reset();
        std::filesystem::remove_all(dir);
    }
};

void Cmd_GetPacket(benchmark::State &state) {
    Root root;
    SCI4_SetIntrcpt(1);
    CmdHost = kHostUsb;
    std::vector<uint8_t> p = data_packet();
    for (auto _ : state) {
        for (uint8_t b : p)
            SCI4_StuffRx(b);
        if (get_packet() != 1) state.SkipWithError("packet");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.size()));
}

void Cmd_GetPacket_baseline(benchmark::State &state) {
    std::vector<uint8_t> p = data_packet();
    for (auto _ : state) {
        uint8_t sum = 0;
        for (size_t i = 0; i < p.size(); ++i) {
            uint8_t b = p[i];
            benchmark::DoNotOptimize(b);
            sum = uint8_t(sum + b);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.size()));
}

void Cmd_IdleCheck(benchmark::State &state) {
    Root root;
    for (auto _ : state)
        Cmd_Check();
}

void Cmd_IdleCheck_baseline(benchmark::State &state) {
    Root root;
    int fds[2] = {open(host::tty_peer_link("/dev/ttySP0").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK),
                  open(host::tty_peer_link("/dev/ttyGS0").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)};
    for (auto _ : state)
        for (int fd : fds) {
            int n = 0;
            benchmark::DoNotOptimize(ioctl(fd, FIONREAD, &n));
            benchmark::DoNotOptimize(n);
        }
    for (int fd : fds)
        close(fd);
}
} // namespace

BENCHMARK(Cmd_GetPacket);
BENCHMARK(Cmd_GetPacket_baseline);
BENCHMARK(Cmd_IdleCheck);
BENCHMARK(Cmd_IdleCheck_baseline);
