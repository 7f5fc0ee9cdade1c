// The socket layer's pass over its records (EnetThread) with 0, 16, 200 and
// 660 established loopback connections, each with a receive notify, none with
// data waiting (the idle case every pass meets).
//
// Baselines, on the same descriptors in the same run:
// - EnetThread_N_baseline: the per-record calls of the original design, one
//   F_GETFL and three zero-time-out polls (input, writability, hang-up) per
//   record;
// - EnetThreadEpoll_N_baseline (partner of EnetThreadEpoll_N, which is
//   EnetThread again): one zero-time-out epoll_wait over the same descriptors
//   and a walk of the records, the cheapest way to ask the same question.
// Enet_IdlePass runs a whole idle EnetMain pass (no configuration, no
// connections) against Enet_IdlePass_baseline, a pass with EnetMain stubbed
// (the records walked but nothing polled).
#include "net/net.h"
#include "system/resets.h"
#include "system/wiring.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

uint8_t g_storage[312'800];

struct Rig {
    NxPacketPool pool{};
    NxIpInstance ip{};
    std::vector<NxTcpSocket> recs;
    std::vector<int> peers;
    int epfd = -1;

    explicit Rig(int n) : recs(size_t(n)) {
        rlimit rl{8192, 8192};
        setrlimit(RLIMIT_NOFILE, &rl);
        std::memset(ConnSock, 0, sizeof ConnSock);
        _nx_packet_pool_create(&pool, "Packet Pool", 1520, g_storage, sizeof g_storage);
        _nx_ip_create(&ip, "mlan0", 0x7F000001, 0xFF000000, &pool, Etn_Driver, nullptr, 0, 0);
        epfd = epoll_create1(0);
        if (n == 0) return;
        for (auto &r : recs) {
            std::memset(&r, 0, sizeof r);
            _nx_tcp_socket_create(&ip, &r, "bench", 0, 0, 0x80, 8192, nullptr, nullptr);
        }
        _nx_tcp_server_socket_listen(&ip, 0, &recs[0], 5, nullptr);
        for (size_t i = 1; i < recs.size(); ++i)
            _nx_tcp_server_socket_relisten(&ip, 0, &recs[i]);
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        getsockname(recs[0].fd, reinterpret_cast<sockaddr *>(&sa), &len);
        for (auto &r : recs) {
            int c = socket(AF_INET, SOCK_STREAM, 0);
            connect(c, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
            peers.push_back(c);
            for (int t = 0; t < 1000 && _nx_tcp_server_socket_accept(&r, 1) != kNxSuccess; ++t)
                usleep(100);
            _nx_tcp_socket_receive_notify(&r, [](NxTcpSocket *) {});
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLPRI;
            ev.data.ptr = &r;
            epoll_ctl(epfd, EPOLL_CTL_ADD, r.accepted_fd, &ev);
        }
    }
    ~Rig() {
        for (auto &r : recs)
            _nx_tcp_socket_delete(&r);
        for (int c : peers)
            close(c);
        close(epfd);
        std::memset(ConnSock, 0, sizeof ConnSock);
    }
};

void EnetThread_N(benchmark::State &state) {
    Rig rig(int(state.range(0)));
    for (auto _ : state)
        EnetThread();
}

// One F_GETFL and three zero-time-out polls per record, as the original.
void EnetThread_N_baseline(benchmark::State &state) {
    Rig rig(int(state.range(0)));
    for (auto _ : state) {
        for (NxTcpSocket *s : ConnSock) {
            if (!s) continue;
            benchmark::DoNotOptimize(fcntl(s->fd, F_GETFL));
            int fd = s->accepted_fd;
            pollfd in{fd, POLLIN, 0}, out{fd, POLLOUT, 0}, hup{fd, short(POLLPRI | POLLRDHUP), 0};
            poll(&in, 1, 0);
            poll(&out, 1, 0);
            poll(&hup, 1, 0);
            s->writable = (out.revents & POLLOUT) ? 1 : 0;
            benchmark::DoNotOptimize(in.revents | hup.revents);
        }
    }
}

void EnetThreadEpoll_N(benchmark::State &state) {
    EnetThread_N(state);
}

// One zero-time-out epoll_wait over the same descriptors, then the records.
void EnetThreadEpoll_N_baseline(benchmark::State &state) {
    Rig rig(int(state.range(0)));
    std::vector<epoll_event> evs(700);
    for (auto _ : state) {
        int n = epoll_wait(rig.epfd, evs.data(), int(evs.size()), 0);
        for (int i = 0; i < n; ++i) {
            auto *s = static_cast<NxTcpSocket *>(evs[size_t(i)].data.ptr);
            s->writable = (evs[size_t(i)].events & EPOLLOUT) ? 1 : 0;
        }
        for (NxTcpSocket *s : ConnSock)
            benchmark::DoNotOptimize(s);
    }
}

void Enet_IdlePass(benchmark::State &state) {
    System_ResetAll();
    System_Wire();
    EnetMain(0);
    for (auto _ : state)
        EnetMain(0);
}

// EnetMain stubbed: only the walk of an empty record table.
void Enet_IdlePass_baseline(benchmark::State &state) {
    for (auto _ : state)
        for (NxTcpSocket *s : ConnSock)
            benchmark::DoNotOptimize(s);
}

} // namespace

BENCHMARK(EnetThread_N)->Arg(0)->Arg(16)->Arg(200)->Arg(660);
BENCHMARK(EnetThread_N_baseline)->Arg(0)->Arg(16)->Arg(200)->Arg(660);
BENCHMARK(EnetThreadEpoll_N)->Arg(0)->Arg(16)->Arg(200)->Arg(660);
BENCHMARK(EnetThreadEpoll_N_baseline)->Arg(0)->Arg(16)->Arg(200)->Arg(660);
BENCHMARK(Enet_IdlePass);
BENCHMARK(Enet_IdlePass_baseline);
