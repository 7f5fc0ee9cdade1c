// Random words run by the IEC interpreter, as the code of a program and as
// the programming tool's execution buffer, on a database with data of every
// kind, SFC steps and transitions, external variables, a complex-type
// segment and called programs. Nothing outside the database and the image
// may be touched; each run is bounded by a small instruction budget.
//
// Input: the instruction words (little-endian).
#include "base/le.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trparts.h"
#include "iec/kernel/trstatus.h"
#include "iec/kernel/trvm.h"
#include "iec/kernel/trvmtic.h"
#include "tools/lib/iecasm.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const char *kApp = R"(
.app FUZZ stack=4
.ext 16
.raw e9 40 00 00 00 10 00 00 00 04 04 00 00 00 01 00 00 00 00
.var BOOL b[4]
.var SINT s[2]
.var INT i[3]
.var DINT d[4]
.var REAL r[2]
.var LINT l[2]
.var LREAL f[2]
.var TIME t[2]
.var STRING(8) str[3]
.xv DINT 2
.xv STRING 1
.xv BOOL 1
.room step 4
.room trans 4
.program sub kind=3
        END
.program chart kind=1
        END
.program main kind=0
)";

// The template image; the fuzzed code is appended as program main's code.
const std::vector<uint8_t> &template_image() {
    static const std::vector<uint8_t> image = [] {
        IecAsmOutput out;
        std::string error;
        if (!Iecasm_Assemble(std::string(kApp) + "        END\n", &out, &error)) std::abort();
        out.image.resize(out.image.size() - 2); // main's END
        return out.image;
    }();
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    TrVMTic_SetRunLimit(20000);
    const std::vector<uint8_t> &tmpl = template_image();
    size_t n = tmpl.size() + size;
    std::unique_ptr<uint8_t[]> img(new uint8_t[n ? n : 1]);
    std::memcpy(img.get(), tmpl.data(), tmpl.size());
    if (size) std::memcpy(img.get() + tmpl.size(), data, size);
    TrCodeImage code{img.get(), uint32_t(n)};
    uint8_t header[trdb::kHeaderSize] = {};
    if (TrVM_GetDBSize(code, header) != 0) std::abort();
    uint32_t total = uint32_t(TrVM_GetTotalDBSize(header));
    // Exactly the database's bytes, so that any touch beyond them is seen.
    std::unique_ptr<uint8_t[]> db(new uint8_t[total]());
    std::memcpy(db.get(), header, sizeof header);
    TrVM_BuildDBMainLinks(db.get());
    if (TrVM_BuildEx(code, db.get(), 0, 0) != 0) std::abort();
    uint8_t *st = TrVM_Status(db.get());
    for (int run = 0; run < 3; ++run) {
        put_le16(st + trst::kRunFlags, 0x8401);
        TrVMTic_Run(db.get(), st, code, 3);
    }
    // The same words as the execution buffer.
    uint32_t n2 = 0;
    uint8_t *buf = TrDB_Segment(db.get(), total, 2, &n2);
    uint32_t fill = uint32_t(size < n2 - 2 ? size : n2 - 2) & ~1u;
    std::memcpy(buf, data, fill);
    put_le16(buf + fill, 68);
    put_le16(st + trst::kExecFill, uint16_t(fill));
    TrVMTic_Run(db.get(), st, code, 0);
    TrVMTic_Reset();
    return 0;
}
