// Ladder programs of any bytes: loaded and run for a few scans, checked and
// unchecked, they must stop or end their scans, never crash, hang past the
// scan's bound or touch memory outside the register image and the program.
// The disassembler's text of the same bytes must assemble to them again.
//
// A checked program of 16-bit tokens runs its commonest rungs and register
// arithmetic as grouped steps: from one starting state, such a scan must end
// exactly as the same program's words one by one.
//
// Input: the first byte picks the token width (bit 0), whether the load check
// runs first (bit 1) and a few register bits the program may read (bits
// 2-7); the rest is the program, in a buffer of exactly its size.
#include "base/trace.h"
#include "fuzz_wire.h"
#include "host/clock.h"
#include "host/root.h"
#include "platform/tick.h"
#include "plc/ladder.h"
#include "plc/ladder_ops.h"
#include "regs/plc_reg.h"
#include "serial/vcomm.h"
#include "system/nvram.h"
#include "tools/lib/ladasm.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {
bool g_ready = false;

void setup() {
    char tmpl[] = "/tmp/fuzz-ladder-XXXXXX";
    host::set_root(mkdtemp(tmpl));
    host::clock_use_virtual();
    FuzzWire();
    Vcomm_Init(); // port rows without a line, as start-up installs them
    g_ready = true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!g_ready) setup();
    if (size < 1) return 0;
    uint8_t mode = data[0];
    size_t n = size - 1;
    std::unique_ptr<uint8_t[]> program(new uint8_t[n ? n : 1]);
    std::memcpy(program.get(), data + 1, n);

    PlcReg_Reset();
    Ladder_Reset();
    plc_reg[reg::kM] = uint8_t(mode >> 2);
    NV_EditorFeatures = (mode & 1) ? 0x8000u : 0;
    RegTokLen_16b = mode & 1;
    for (int scan = 0; scan < 3; ++scan) {
        sbit_put(sbit::kFirstScan, scan == 0);
        int32_t r = (mode & 2) ? LogicUpdate(program.get(), uint32_t(n))
                               : Ladder_RunUnchecked(program.get(), uint32_t(n));
        if (r != kLadderScanDone && (r < 0 || uint32_t(r) > n / 2 + 1)) std::abort();
        host::clock_advance_ns(1'000'000);
    }
    // The checked run refuses what its check refuses, before any instruction.
    if (mode & 2) {
        int32_t v = Ladder_Check(program.get(), uint32_t(n), mode & 1);
        if (v != kLadderScanDone && v < 0) std::abort();
    }

    if ((mode & 3) == 3 && Ladder_Check(program.get(), uint32_t(n), true) == kLadderScanDone) {
        static std::vector<uint8_t> start, grouped;
        auto reset = [&] {
            PlcReg_Reset();
            Ladder_Reset();
            plc_reg[reg::kM] = uint8_t(mode >> 2);
            RegTokLen_16b = 1;
            sbit_put(sbit::kFirstScan, 0);
        };
        auto state = [](std::vector<uint8_t> *v) {
            v->assign(plc_reg, plc_reg + reg::kImageSize);
            v->insert(v->end(), l_stack, l_stack + sizeof l_stack);
            v->insert(v->end(), w_stack, w_stack + sizeof w_stack);
            v->push_back(l_sp);
            v->push_back(w_sp);
            v->push_back(cmd_group);
        };
        reset();
        const uint32_t t0 = FPGA_GetFrt();
        const int32_t r1 = Ladder_RunChecked(program.get(), uint32_t(n));
        state(&grouped);
        // A scan long enough to read the clock may see other times the
        // second time round; only scans that never read it compare.
        if (FPGA_GetFrt() == t0) {
            reset();
            const int32_t r2 = Ladder_RunUnchecked(program.get(), uint32_t(n));
            state(&start);
            if (r1 != r2 || start != grouped) std::abort();
        }
    }

    std::string text = Ladasm_Disassemble(program.get(), n);
    std::vector<uint8_t> again;
    std::string error;
    if (!Ladasm_Assemble(text, &again, &error)) std::abort();
    if (again.size() != n || (n && std::memcmp(again.data(), program.get(), n) != 0)) std::abort();
    return 0;
}
