// The media request manager's cost on a request: an open, append and close of
// a file through the request blocks and the request server (three requests,
// each sent by the table scan, served by CFM_TheLoop and collected by a poll)
// against a plain open, append and close of the same file with stdio in the
// same folder. The data logger's slot adds the mailbox round: post, load,
// serve, answer; its baseline is the same plain open, append and close.
#include "data/cfm.h"
#include "data/data.h"
#include "host/media.h"
#include "host/root.h"
#include "platform/cf_api.h"
#include "platform/media.h"
#include "system/resets.h"
#include "system/sys.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

namespace {

const char kLine[] = "1,2,3,4,5,6,7,8,9,10\r\n";
constexpr uint32_t kLineBytes = sizeof kLine - 1;

void setup() {
    static std::string root = [] {
        char tmpl[] = "/tmp/panel-bench-XXXXXX";
        return std::string(mkdtemp(tmpl));
    }();
    host::set_root(root);
    System_ResetAll();
    host::media_insert(host::kMediumSd);
    CFM_Open();
    std::FILE *f = std::fopen(host::path("/mnt/USB0/LOG.CSV").c_str(), "w");
    if (f) std::fclose(f);
}

uint32_t run(CFCB *b, uint32_t code, CfmFileArgs *a) {
    CFM_LoadReq(b, 0, code, reinterpret_cast<uintptr_t>(a), 0);
    uint32_t result = 0;
    while (CFM_PollReq(b, &result) == 2)
        CFM_TheLoop(0);
    return result;
}

void Cfm_OpenAppendClose(benchmark::State &state) {
    setup();
    FxFile f{};
    uint32_t n = 0;
    CfmFileArgs a{&f, "A:\\LOG.CSV", 2, const_cast<char *>(kLine), kLineBytes, &n};
    for (auto _ : state) {
        run(pDirCFCB, cfm::kOpen, &a);
        run(pDirCFCB, cfm::kWrite, &a);
        run(pDirCFCB, cfm::kClose, &a);
    }
}
void Cfm_OpenAppendClose_baseline(benchmark::State &state) {
    setup();
    std::string path = host::path("/mnt/USB0/LOG.CSV");
    for (auto _ : state) {
        std::FILE *f = std::fopen(path.c_str(), "a");
        std::fwrite(kLine, 1, kLineBytes, f);
        std::fclose(f);
    }
}

// Post, then main-loop passes (server, screen update) until the answer.
void Cfdl_OpenAppendCloseThroughTheSlot(benchmark::State &state) {
    setup();
    FxFile f{};
    uint32_t n = 0;
    int64_t passes = 0;
    auto one = [&](int16_t posted) {
        benchmark::DoNotOptimize(posted);
        do {
            CFM_TheLoop(0);
            SYS_Update();
            ++passes;
        } while (CFDL_Result() == -2);
    };
    for (auto _ : state) {
        one(CFDL_Open(&f, "A:\\LOG.CSV", 2));
        one(CFDL_Write(&f, kLine, kLineBytes, &n));
        one(CFDL_Close(&f));
    }
    state.counters["passes_per_request"] = double(passes) / double(state.iterations() * 3);
}
void Cfdl_OpenAppendCloseThroughTheSlot_baseline(benchmark::State &state) {
    Cfm_OpenAppendClose_baseline(state);
}

BENCHMARK(Cfm_OpenAppendClose);
BENCHMARK(Cfm_OpenAppendClose_baseline);
BENCHMARK(Cfdl_OpenAppendCloseThroughTheSlot);
BENCHMARK(Cfdl_OpenAppendCloseThroughTheSlot_baseline);

} // namespace
