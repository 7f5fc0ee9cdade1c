// Sizing and linking the VM database of a 10,000-variable image (2,500 each
// of BOOL, INT, DINT and STRING(8)) through the image accessors, against
// native code that fills the same 40 segment descriptors from counts it
// already holds, links them and lays out the same STRING pointers.
//   BM_DbSizeLink   TrVM_GetDBSize, TrVM_BuildDBMainLinks,
//                   TrVMCode_SetStringPointers on a zeroed database
#include "base/le.h"
#include "iec/kernel/trcode.h"
#include "iec/kernel/trdb.h"
#include "tools/lib/iecasm.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kEach = 2500;

std::vector<uint8_t> image() {
    std::string src = ".app BIG\n";
    for (const char *t : {"BOOL", "INT", "DINT", "STRING(8)"})
        src += std::string(".var ") + t + " v" + std::to_string(src.size()) + "[" +
               std::to_string(kEach) + "]\n";
    src += ".program p\n END\n";
    IecAsmOutput out;
    Iecasm_Assemble(src, &out, nullptr);
    return out.image;
}

void BM_DbSizeLink(benchmark::State &state) {
    std::vector<uint8_t> img = image();
    TrCodeImage code{img.data(), uint32_t(img.size())};
    uint8_t header[trdb::kHeaderSize] = {};
    TrVM_GetDBSize(code, header);
    std::vector<uint8_t> db(TrVM_GetTotalDBSize(header));
    for (auto _ : state) {
        std::memset(db.data(), 0, trdb::kHeaderSize);
        TrVM_GetDBSize(code, db.data());
        TrVM_BuildDBMainLinks(db.data());
        TrVMCode_SetStringPointers(code, db.data(), uint32_t(db.size()));
        benchmark::DoNotOptimize(db.data());
    }
}
BENCHMARK(BM_DbSizeLink);

struct Seg {
    uint32_t pointer, raw;
    uint16_t element, a, b, allocated;
};

void BM_DbSizeLink_baseline(benchmark::State &state) {
    // The counts the image gives, already known.
    const uint16_t element[40] = {248, 1, 1,  1, 24, 1,    1,  2, 4,  8,  4,  8, 36, 20,
                                  1,   1, 24, 4, 1,  12,   12, 4, 16, 1,  24, 4, 4,  960,
                                  8,   4, 1,  1, 64, 1080, 32, 1, 48, 40, 24, 1};
    uint16_t allocated[40] = {};
    uint32_t raw[40] = {};
    allocated[0] = 1, raw[1] = 128, allocated[2] = 1024, raw[3] = 112, allocated[4] = 1;
    allocated[5] = allocated[6] = allocated[7] = allocated[8] = allocated[17] = kEach + 1;
    raw[18] = 11 * kEach, allocated[19] = 128, allocated[22] = 16, allocated[24] = 1;
    allocated[25] = 49, allocated[27] = 1, allocated[28] = 8, allocated[29] = 32;
    allocated[32] = 1024;
    std::vector<uint8_t> db(1 << 20);
    for (auto _ : state) {
        Seg segs[40];
        uint64_t at = trdb::kHeaderSize;
        for (int k = 0; k < 40; ++k) {
            segs[k] = Seg{uint32_t(at), raw[k], element[k], 0, 0, allocated[k]};
            uint64_t n = raw[k] ? raw[k] : uint64_t(element[k]) * allocated[k];
            at += (n + 7) & ~uint64_t(7);
        }
        for (int k = 0; k < 40; ++k) {
            uint8_t *p = db.data() + 16 * k;
            put_le32(p, segs[k].pointer);
            put_le32(p + 4, segs[k].raw);
            put_le16(p + 8, segs[k].element);
            put_le16(p + 10, segs[k].a);
            put_le16(p + 12, segs[k].b);
            put_le16(p + 14, segs[k].allocated);
        }
        uint32_t used = 0;
        for (uint32_t s = 1; s <= kEach; ++s) {
            put_le32(db.data() + segs[17].pointer + 4 * s, segs[18].pointer + used);
            db[segs[18].pointer + used] = 8;
            used += 11;
        }
        benchmark::DoNotOptimize(db.data());
    }
}
BENCHMARK(BM_DbSizeLink_baseline);

} // namespace
