// The register bridge and the variable map's symbol lookup.
//   BM_BridgeUpdate   the six updates of one scan with full tables (4608
//                     bits, 512 system bits, 1088 words, 256 %SR words), no
//                     value changed; baseline: a straight change-detect loop
//                     over the same register and variable bytes (compare each
//                     pair and its last value, copy when they differ)
//   BM_MapBySymbol    TrMap_GetBySymbol of each of 10,000 public symbols;
//                     baseline: std::unordered_map lookups of the same names
#include "base/le.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trbridge.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trmap.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trvm.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "tools/lib/iecasm.h"

#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Db {
    IecAsmOutput out;
    std::vector<uint8_t> mem, varloc;
    explicit Db(const std::string &src) {
        Iecasm_Assemble(src, &out, nullptr);
        TrCodeImage code{out.image.data(), uint32_t(out.image.size())};
        uint8_t header[trdb::kHeaderSize] = {};
        TrVM_GetDBSize(code, header);
        mem.assign(TrVM_GetTotalDBSize(header), 0);
        std::copy(header, header + sizeof header, mem.begin());
        TrVM_BuildDBMainLinks(mem.data());
        TrVM_BuildEx(code, mem.data(), 0, 0);
        pDB = mem.data();
        pDBSize = uint32_t(mem.size());
    }
};

// Every position of the location table bound: BOOLs for the bit classes,
// INTs for the word classes.
std::string full_bridge() {
    std::string src = ".app B\n.var BOOL b[5120]\n.var INT w[1344]\n";
    const struct {
        const char *reg;
        int count;
        bool bit;
    } groups[] = {{"%IG", 256, true},  {"%QG", 256, true},  {"%S", 256, true},   {"%K", 256, true},
                  {"%AIG", 32, false}, {"%AQG", 32, false}, {"%SR", 256, false}, {"%I", 2048, true},
                  {"%Q", 2048, true},  {"%AI", 512, false}, {"%AQ", 512, false}};
    int nb = 0, nw = 0;
    for (auto &g : groups)
        for (int i = 1; i <= g.count; ++i)
            src += std::string(".bind ") + g.reg + std::to_string(i) + " " +
                   (g.bit ? "b[" + std::to_string(nb++) : "w[" + std::to_string(nw++)) + "]\n";
    return src + ".program p kind=0\n END\n";
}

void BM_BridgeUpdate(benchmark::State &state) {
    Db d(full_bridge());
    d.varloc.assign(4 * d.out.varloc.size(), 0);
    for (size_t i = 0; i < d.out.varloc.size(); ++i)
        put_le32(&d.varloc[4 * i], d.out.varloc[i]);
    TrevantI0_VarLoc = d.varloc.data();
    TrevantBuildBindTables();
    iVmAlive = 1;
    if (BoolInputEntries + BoolOutputEntries != 4608 || BoolSysEntries != 512 ||
        WordInputEntries + WordOutputEntries != 1088 || WordSREntries != 256)
        state.SkipWithError("tables not full");
    for (auto _ : state) {
        TrevantUpdateWordSRRegs();
        TrevantUpdateBitSysRegs();
        TrevantUpdateBitInputRegs();
        TrevantUpdateWordInputRegs();
        TrevantUpdateBitOutputRegs();
        TrevantUpdateWordOutputRegs();
        benchmark::ClobberMemory();
    }
    iVmAlive = 0;
    TrevantI0_VarLoc = nullptr;
    TrevantBuildBindTables();
    pDB = nullptr;
    pDBSize = 0;
}
BENCHMARK(BM_BridgeUpdate);

void BM_BridgeUpdate_baseline(benchmark::State &state) {
    Db d(full_bridge());
    // The same byte pairs, gathered into plain arrays once.
    struct Bit {
        uint8_t *reg, *iec;
        uint8_t mask, last;
    };
    struct Word {
        uint8_t *reg, *iec;
        uint16_t last;
    };
    std::vector<Bit> bits;
    std::vector<Word> words;
    uint8_t *b = TrDB_Segment(pDB, pDBSize, 6) + 1, *w = TrDB_Segment(pDB, pDBSize, 7) + 2;
    for (uint32_t i = 0; i < 5120; ++i)
        bits.push_back({plc_reg + i / 8, b + i, uint8_t(1u << (i % 8)), 0});
    for (uint32_t i = 0; i < 1344; ++i)
        words.push_back({plc_reg + 256 + 2 * i, w + 2 * i, 0});
    for (auto _ : state) {
        for (Bit &x : bits) {
            uint8_t r = (*x.reg & x.mask) ? 1 : 0, v = *x.iec ? 1 : 0;
            if (r != v) {
                if (x.last != v)
                    *x.reg = v ? uint8_t(*x.reg | x.mask) : uint8_t(*x.reg & ~x.mask);
                else
                    *x.iec = r;
            }
            x.last = *x.iec ? 1 : 0;
        }
        for (Word &x : words) {
            uint16_t r = le16(x.reg), v = le16(x.iec);
            if (r != v) {
                if (x.last == r)
                    put_le16(x.reg, v);
                else
                    put_le16(x.iec, r);
            }
            x.last = le16(x.reg);
        }
        benchmark::ClobberMemory();
    }
    pDB = nullptr;
    pDBSize = 0;
}
BENCHMARK(BM_BridgeUpdate_baseline);

constexpr int kSymbols = 10000;

std::string many_symbols() {
    std::string src = ".app S\n";
    for (int i = 0; i < kSymbols; ++i)
        src += ".var DINT Var_" + std::to_string(i) + " public\n";
    return src + ".program p kind=0\n END\n";
}

void BM_MapBySymbol(benchmark::State &state) {
    Db d(many_symbols());
    std::vector<std::string> names;
    for (int i = 0; i < kSymbols; ++i)
        names.push_back("Var_" + std::to_string(i));
    for (auto _ : state)
        for (const std::string &n : names)
            benchmark::DoNotOptimize(TrMap_GetBySymbol(pDB, n.c_str()));
    pDB = nullptr;
    pDBSize = 0;
}
BENCHMARK(BM_MapBySymbol)->Unit(benchmark::kMillisecond);

void BM_MapBySymbol_baseline(benchmark::State &state) {
    Db d(many_symbols());
    std::unordered_map<std::string, uint8_t *> map;
    std::vector<std::string> names;
    uint32_t pos = 0;
    for (uint8_t *e = TrMap_GetFirst(pDB, &pos); e; e = TrMap_GetNext(pDB, &pos))
        map.emplace(TrMap_GetSymbol(pDB, e), e);
    for (int i = 0; i < kSymbols; ++i)
        names.push_back("Var_" + std::to_string(i));
    for (auto _ : state)
        for (const std::string &n : names)
            benchmark::DoNotOptimize(map.find(n));
    pDB = nullptr;
    pDBSize = 0;
}
BENCHMARK(BM_MapBySymbol_baseline)->Unit(benchmark::kMillisecond);

} // namespace
