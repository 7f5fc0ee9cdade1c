// Modbus TCP reads of 100 holding registers (function 3) by libmodbus clients
// against the panel's server, with 1 and 4 connections.
//
// The panel runs in a thread of its own as its loop would: the network slot
// (EnetMain), then one wait over the descriptors it watches that returns at
// once while a pass has left work for the next one.
//
// Baselines, driven by the same clients in the same run:
// - Fc3Read_baseline: libmodbus's own server, a select loop of
//   modbus_receive and modbus_reply over a mapping of the same registers,
//   which answers at once instead of on the next pass;
// - Fc3LatencyP50/P99_baseline: the median and 99th percentile of single
//   request times against that server (the iteration time is the percentile
//   of 200 requests);
// - BusyPass_baseline: the panel's network pass with no client, against
//   BusyPass, the same pass while four clients keep reading (each pass then
//   serves their requests).
#include "base/le.h"
#include "net/modbus_tcp.h"
#include "net/net.h"
#include "net/protocols.h"
#include "platform/io.h"
#include "platform/pass_wait.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "system/resets.h"
#include "system/wiring.h"
#include "tools/lib/appbuild_net.h"

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The panel's server in a thread: EnetMain passes and the loop's wait.
class PanelServer {
public:
    PanelServer() {
        System_ResetAll();
        System_Wire();
        appnet::Config cfg;
        cfg.address = 0x7F000001;
        cfg.mask = 0xFF000000;
        cfg.modbus = true;
        std::vector<uint8_t> b = appnet::build(cfg);
        put_le32(io_config_bl + 4, uint32_t(b.size() + 12));
        put_le16(io_config_bl + 8, 0x1234);
        put_le16(io_config_bl + 10, uint16_t(b.size()));
        std::memcpy(io_config_bl + 12, b.data(), b.size());
        EtnConfp = io_config_bl + 12;
        sr_put(sr::kRunMode, sr::kModeRun);
        for (int i = 0; i < 20; ++i)
            EnetMain(0);
        for (const ModbusRecord &r : ModbusConnEth[0].rec)
            if (r.socket.fd > 0 && !r.socket.own_fd) {
                sockaddr_in sa{};
                socklen_t len = sizeof sa;
                getsockname(r.socket.fd, reinterpret_cast<sockaddr *>(&sa), &len);
                port = ntohs(sa.sin_port);
            }
    }
    void run() {
        thread = std::thread([this] {
            while (!stop)
                pass_and_wait();
        });
    }
    // One pass and the wait after it (at most 1 ms); returns the pass's time.
    double pass_and_wait() {
        auto a = std::chrono::steady_clock::now();
        EnetMain(0);
        double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
        pollfd fds[256];
        size_t n = PassWait_Fill(fds, 256);
        int timeout = PassWait_TakePending() ? 0 : 1;
        poll(fds, nfds_t(n), timeout);
        PassWait_Seen(fds, n);
        return t;
    }
    ~PanelServer() {
        stop = true;
        if (thread.joinable()) thread.join();
        for (int i = 0; i < kDprInterfaces; ++i)
            Modbus_Stop(i);
    }
    uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::thread thread;
};

// libmodbus's server: one select loop answering every request at once.
class LibServer {
public:
    LibServer() {
        map = modbus_mapping_new(0, 0, 20240, 0);
        ctx = modbus_new_tcp("127.0.0.1", 0);
        listen_fd = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        listen(listen_fd, 16);
        socklen_t len = sizeof sa;
        getsockname(listen_fd, reinterpret_cast<sockaddr *>(&sa), &len);
        port = ntohs(sa.sin_port);
        thread = std::thread([this] { loop(); });
    }
    ~LibServer() {
        stop = true;
        thread.join();
        close(listen_fd);
        modbus_free(ctx);
        modbus_mapping_free(map);
    }
    void loop() {
        std::vector<int> conns;
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        while (!stop) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(listen_fd, &set);
            int top = listen_fd;
            for (int c : conns) {
                FD_SET(c, &set);
                top = std::max(top, c);
            }
            timeval tv{0, 1000};
            if (select(top + 1, &set, nullptr, nullptr, &tv) <= 0) continue;
            if (FD_ISSET(listen_fd, &set)) conns.push_back(accept(listen_fd, nullptr, nullptr));
            for (size_t i = 0; i < conns.size(); ++i) {
                if (!FD_ISSET(conns[i], &set)) continue;
                modbus_set_socket(ctx, conns[i]);
                int rc = modbus_receive(ctx, query);
                if (rc > 0) {
                    modbus_reply(ctx, query, rc, map);
                } else if (rc == -1) {
                    close(conns[i]);
                    conns.erase(conns.begin() + long(i));
                    --i;
                }
            }
        }
        for (int c : conns)
            close(c);
    }
    uint16_t port = 0;
    modbus_t *ctx = nullptr;
    modbus_mapping_t *map = nullptr;
    int listen_fd = -1;
    std::atomic<bool> stop{false};
    std::thread thread;
};

std::mutex g_mu;
PanelServer *g_panel;
LibServer *g_lib;
int g_users;

uint16_t server_port(bool baseline, benchmark::State &state) {
    std::lock_guard lock(g_mu);
    if (state.thread_index() == 0 && g_users == 0) {
        if (baseline) {
            g_lib = new LibServer;
        } else {
            g_panel = new PanelServer;
            g_panel->run();
        }
    }
    ++g_users;
    return baseline ? g_lib->port : g_panel->port;
}
void release(benchmark::State &) {
    std::lock_guard lock(g_mu);
    if (--g_users == 0) {
        delete g_lib;
        delete g_panel;
        g_lib = nullptr;
        g_panel = nullptr;
    }
}

modbus_t *client(uint16_t port) {
    modbus_t *mb = modbus_new_tcp("127.0.0.1", port);
    for (int i = 0; i < 1000 && modbus_connect(mb) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    modbus_set_response_timeout(mb, 2, 0);
    return mb;
}

void reads(benchmark::State &state, bool baseline) {
    uint16_t port = 0;
    {
        // Thread 0 starts the server; the others wait for it.
        static std::atomic<int> ready{0};
        if (state.thread_index() == 0) {
            port = server_port(baseline, state);
            ready = port;
        } else {
            while (ready.load() == 0)
                std::this_thread::yield();
            port = server_port(baseline, state);
        }
        modbus_t *mb = client(port);
        uint16_t regs[100];
        for (auto _ : state)
            if (modbus_read_registers(mb, 3000, 100, regs) != 100) state.SkipWithError("read");
        modbus_close(mb);
        modbus_free(mb);
        if (state.thread_index() == 0) ready = 0;
    }
    release(state);
}

void Fc3Read(benchmark::State &state) {
    reads(state, false);
}
void Fc3Read_baseline(benchmark::State &state) {
    reads(state, true);
}

// The iteration time is a percentile of 200 single request times.
void latency(benchmark::State &state, bool baseline, double pct) {
    uint16_t port = server_port(baseline, state);
    modbus_t *mb = client(port);
    uint16_t regs[100];
    std::vector<double> t(200);
    for (auto _ : state) {
        for (double &x : t) {
            auto a = std::chrono::steady_clock::now();
            modbus_read_registers(mb, 3000, 100, regs);
            x = std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
        }
        std::sort(t.begin(), t.end());
        state.SetIterationTime(t[size_t(pct * double(t.size() - 1))]);
    }
    modbus_close(mb);
    modbus_free(mb);
    release(state);
}
void Fc3LatencyP50(benchmark::State &state) {
    latency(state, false, 0.5);
}
void Fc3LatencyP50_baseline(benchmark::State &state) {
    latency(state, true, 0.5);
}
void Fc3LatencyP99(benchmark::State &state) {
    latency(state, false, 0.99);
}
void Fc3LatencyP99_baseline(benchmark::State &state) {
    latency(state, true, 0.99);
}

// The panel's network pass (without the wait after it), with four clients
// reading as fast as they can (BusyPass) or none (the baseline); the pass
// runs in the benchmark's thread.
void pass(benchmark::State &state, int clients) {
    PanelServer panel;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&panel, &stop] {
            modbus_t *mb = client(panel.port);
            uint16_t regs[100];
            while (!stop)
                modbus_read_registers(mb, 3000, 100, regs);
            modbus_close(mb);
            modbus_free(mb);
        });
    for (auto _ : state)
        state.SetIterationTime(panel.pass_and_wait());
    stop = true;
    for (int i = 0; i < 50; ++i)
        panel.pass_and_wait(); // answers the last requests
    for (std::thread &t : threads)
        t.join();
}
void BusyPass(benchmark::State &state) {
    pass(state, 4);
}
void BusyPass_baseline(benchmark::State &state) {
    pass(state, 0);
}

} // namespace

BENCHMARK(Fc3Read)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(Fc3Read_baseline)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(Fc3LatencyP50)->UseManualTime()->Iterations(20);
BENCHMARK(Fc3LatencyP50_baseline)->UseManualTime()->Iterations(20);
BENCHMARK(Fc3LatencyP99)->UseManualTime()->Iterations(20);
BENCHMARK(Fc3LatencyP99_baseline)->UseManualTime()->Iterations(20);
BENCHMARK(BusyPass)->UseManualTime();
BENCHMARK(BusyPass_baseline)->UseManualTime();
