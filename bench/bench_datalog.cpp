// The data logger's cost of a row: one triggered row of a group of four
// 16-bit columns, from its sample to its close, through the main-loop passes
// it takes (the logger's scan step, the media server, the screen loop's
// system update).
// - Log_PassesPerRow counts those passes (each taken as 1 us of manual time)
//   against one pass: the ratio is the passes a row costs, so rows per second
//   are main-loop passes per second over it.
// - Log_Row is the real time of a row against the real time of one such pass
//   with nothing to write.
// - Log_ServerPerRow is the time the media server (CFM_TheLoop) spends on a
//   row (make the folder, open for appending, write, close) against a plain
//   open, append and close with stdio of the same line in the same folder.
#include "base/le.h"
#include "data/cfm.h"
#include "data/data.h"
#include "data/logger.h"
#include "host/media.h"
#include "host/root.h"
#include "platform/media.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "system/resets.h"
#include "system/sys.h"
#include "tools/lib/appbuild.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kTrigger = 14336 + 1; // %M2
constexpr uint32_t kEnable = 14336;      // %M1

void setup() {
    static std::string root = [] {
        char tmpl[] = "/tmp/panel-bench-XXXXXX";
        return std::string(mkdtemp(tmpl));
    }();
    host::set_root(root);
    System_ResetAll();
    host::media_insert(host::kMediumSd);
    CFM_Open();
    CFM_Update();
    appbuild::Built b;
    std::string error;
    appbuild::build_text(R"({"datalog_table": {"datalog": {"enable": "%M1", "groups": [
        {"folder": "BENCH", "base": "\\LOGS", "trigger": "%M2", "date_style": 11,
         "time_style": 1, "columns": [
            {"register": "%R1", "type": "uint16", "name": "A"},
            {"register": "%R2", "type": "uint16", "name": "B"},
            {"register": "%R3", "type": "uint16", "name": "C"},
            {"register": "%R4", "type": "uint16", "name": "D"}]}]}}})",
                         "", &b, &error);
    appbuild::Placed p;
    appbuild::find_part(b.manifest, "datalog_table", &p);
    std::memcpy(datalog_table, b.config.data() + p.offset, p.size);
    uint8_t on = 1;
    PlcReg_Store(kEnable, &on, 1);
    const uint16_t clock[7] = {0, 0, 14, 15, 3, 2025, 7};
    for (int i = 0; i < 7; ++i)
        sr_put(sr::kClock + i, clock[i]);
    LOG_Start();
}

void trigger() {
    uint8_t v = 0;
    PlcReg_Store(kTrigger, &v, 1);
    LOG_Update();
    v = 1;
    PlcReg_Store(kTrigger, &v, 1);
}

// Passes until the row is written and the writer waits for the next one; the
// time spent in the media server, added to *server.
int64_t write_row(std::chrono::nanoseconds *server) {
    int64_t passes = 0;
    do {
        LOG_Update();
        auto t0 = std::chrono::steady_clock::now();
        CFM_TheLoop(0);
        *server += std::chrono::steady_clock::now() - t0;
        SYS_Update();
        ++passes;
    } while (LOG_RowsBuffered(0) != 0 || LOG_WriteState() != 1);
    return passes;
}

void Log_PassesPerRow(benchmark::State &state) {
    setup();
    std::chrono::nanoseconds server{0};
    for (auto _ : state) {
        trigger();
        state.SetIterationTime(1e-6 * double(write_row(&server)));
    }
}
void Log_PassesPerRow_baseline(benchmark::State &state) {
    for (auto _ : state)
        state.SetIterationTime(1e-6);
}

void Log_Row(benchmark::State &state) {
    setup();
    std::chrono::nanoseconds server{0};
    for (auto _ : state) {
        trigger();
        write_row(&server);
    }
}
void Log_Row_baseline(benchmark::State &state) {
    setup();
    std::chrono::nanoseconds server{0};
    write_row(&server); // the first close after the start
    for (auto _ : state) {
        LOG_Update();
        CFM_TheLoop(0);
        SYS_Update();
    }
}

void Log_ServerPerRow(benchmark::State &state) {
    setup();
    for (auto _ : state) {
        trigger();
        std::chrono::nanoseconds server{0};
        write_row(&server);
        state.SetIterationTime(std::chrono::duration<double>(server).count());
    }
}
void Log_ServerPerRow_baseline(benchmark::State &state) {
    setup();
    host::make_dirs("/mnt/USB0/LOGS/BENCH");
    std::string path = host::path("/mnt/USB0/LOGS/BENCH/031514.CSV");
    const char line[] = "2025-03-15,14:00:00,0,0,0,0\r\n";
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        std::FILE *f = std::fopen(path.c_str(), "a");
        std::fwrite(line, 1, sizeof line - 1, f);
        std::fclose(f);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}

BENCHMARK(Log_PassesPerRow)->UseManualTime();
BENCHMARK(Log_PassesPerRow_baseline)->UseManualTime();
BENCHMARK(Log_Row);
BENCHMARK(Log_Row_baseline);
BENCHMARK(Log_ServerPerRow)->UseManualTime();
BENCHMARK(Log_ServerPerRow_baseline)->UseManualTime();

} // namespace
