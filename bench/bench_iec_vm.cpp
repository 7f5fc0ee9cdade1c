// One VM cycle in the control scan (`_VMThread`) on an application whose one
// program is `END`, against its baseline: a call of an empty function plus a
// try-lock and unlock of a mutex, what the scan would pay if the cycle itself
// cost nothing. And the runtime's request pass with nothing to serve against
// an empty call.
#include "host/clock.h"
#include "host/root.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trglue.h"
#include "system/resets.h"
#include "tools/lib/iecasm.h"

#include <benchmark/benchmark.h>

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

__attribute__((noinline)) void empty_call() {
    benchmark::ClobberMemory();
}
void (*volatile g_call)() = empty_call;
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

void start_app() {
    char tmpl[] = "/tmp/bench-iec-XXXXXX";
    host::set_root(mkdtemp(tmpl));
    host::clock_use_virtual();
    System_ResetAll();
    IecAsmOutput out;
    std::string error;
    if (!Iecasm_Assemble(".app B\n.var BOOL b\n.program main kind=0\n        END\n", &out, &error))
        std::abort();
    host::make_dirs("/mnt/cfg");
    FILE *f = std::fopen(host::path("/mnt/cfg/tr.cod").c_str(), "wb");
    std::fwrite(out.image.data(), 1, out.image.size(), f);
    std::fclose(f);
    std::FILE *saved = stdout;
    stdout = std::fopen("/dev/null", "w"); // the banner
    Trevant_init();
    std::fclose(stdout);
    stdout = saved;
    if (!iVmAlive) std::abort();
}

void VmCycle(benchmark::State &state) {
    start_app();
    std::FILE *saved = stdout;
    stdout = std::fopen("/dev/null", "w");
    _VMThread(); // the first cycle prints
    std::fclose(stdout);
    stdout = saved;
    for (auto _ : state)
        _VMThread();
}

void VmCycle_baseline(benchmark::State &state) {
    for (auto _ : state) {
        if (pthread_mutex_trylock(&g_mutex) == 0) {
            g_call();
            pthread_mutex_unlock(&g_mutex);
        }
    }
}

void CommService(benchmark::State &state) {
    start_app();
    Tr_Connect_Serial(); // the server then serves its eight passes
    for (auto _ : state)
        Trevant_Comm_service();
}

void CommService_baseline(benchmark::State &state) {
    for (auto _ : state)
        g_call();
}

} // namespace

BENCHMARK(VmCycle);
BENCHMARK(VmCycle_baseline);
BENCHMARK(CommService);
BENCHMARK(CommService_baseline);
