// IEC code images of any bytes: checked, sized, and when they pass, a
// database is allocated, linked and built from them step by step; location
// words taken from the input are decoded against it. The same bytes, read as
// a database loaded back from a file, are relinked, decoded and their array
// parameters read, and as a heap buffer taken back. The disassembler's text must give the bytes
// again. Nothing may read outside the image, the database or the buffer.
//
// Input: the image, in a buffer of exactly its size.
#include "base/le.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trcode.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trheap.h"
#include "iec/kernel/tros.h"
#include "tools/lib/iecasm.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {
// Keeps each run quick: larger databases are sized but not allocated.
constexpr uint64_t kMaxDb = 4u << 20;

void decode_words(const uint8_t *data, size_t size) {
    for (size_t i = 0; i + 4 <= size && i < 64; i += 4) {
        uint32_t ref = le32(data + i);
        for (uint32_t bits : {1u, 8u, 16u, 32u, 64u, 800u}) {
            uint8_t *p = TrevantCalculateVmDbAddress(ref, bits);
            if (!p) continue;
            // The bytes the register gate would touch must be readable.
            volatile uint8_t sink = 0;
            for (uint32_t j = 0; j < (bits < 8 ? 1 : bits / 8); ++j)
                sink = sink + p[j];
            (void)sink;
        }
    }
}
// The array readers, with indexes taken from the input: every byte between
// the place they give and the end they report lies in the database.
void read_arrays(uint8_t *db, const uint8_t *data, size_t size) {
    for (size_t i = 0; i + 4 <= size && i < 32; i += 4) {
        uint32_t index = le32(data + i) & 0xFFFF;
        for (uint16_t type : {1, 2, 4, 5, 11, 12}) {
            uint32_t avail = 0;
            if (uint8_t *p = TrTools_GetAnyArray(db, type, index, &avail)) {
                volatile uint8_t sink = p[0];
                sink = sink + p[avail - 1];
                (void)sink;
            }
        }
        uint32_t avail = 0;
        if (uint8_t *p = TrTools_GetCTParam(db, index, &avail)) {
            volatile uint8_t sink = p[0];
            sink = sink + p[avail - 1];
            (void)sink;
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::unique_ptr<uint8_t[]> img(new uint8_t[size ? size : 1]);
    std::memcpy(img.get(), data, size);
    TrCodeImage code{img.get(), uint32_t(size)};
    TrVMCode_CheckCode(code);
    TrVMCode_GetAppName(code);
    TrVMCode_GetInfoIdentity(code);
    TrVMCode_GetStringTable(code, 1);
    TrVMCode_GetSignal(code, 2);
    TrVMCode_GetDefStringTable(code);
    uint8_t header[trdb::kHeaderSize] = {};
    if (TrVM_GetDBSize(code, header) == 0 && TrVM_GetTotalDBSize(header) <= kMaxDb) {
        uint32_t total = uint32_t(TrVM_GetTotalDBSize(header));
        std::vector<uint8_t> db(total, 0);
        std::memcpy(db.data(), header, sizeof header);
        TrVM_BuildDBMainLinks(db.data());
        TrVMCode_GetData8Sizing(code, db.data());
        TrVMCode_GetData16Sizing(code, db.data());
        TrVMCode_GetData32Sizing(code, db.data());
        TrVMCode_GetData64Sizing(code, db.data());
        TrVMCode_GetTimeSizing(code, db.data());
        TrVMCode_GetStringSizing(code, db.data());
        TrVMCode_SetStringPointers(code, db.data(), total);
        TrVMCode_ApplyCTSegInit(code, db.data(), total, 0);
        TrVMCode_GetXVSizing(code, db.data());
        TrVMCode_SetXVPointers(code, db.data(), total);
        TrVMCode_BuildTaskList(code, db.data(), total);
        pDB = db.data();
        pDBSize = total;
        decode_words(data, size);
        pDB = nullptr;
        pDBSize = 0;
    }
    // The bytes as a database read back from a file.
    if (size >= trdb::kHeaderSize && TrVM_RelinkDB(img.get(), size) == 0) {
        pDB = img.get();
        pDBSize = uint32_t(size);
        decode_words(data, size);
        read_arrays(img.get(), data, size);
        pDB = nullptr;
        pDBSize = 0;
    }
    // The bytes as a heap buffer taken back.
    std::memcpy(img.get(), data, size);
    if (TrHeap *h = TrHeap_RelocateHeapBuffer(img.get(), uint32_t(size))) {
        for (uint32_t handle = 1; handle < 8; ++handle) {
            if (uint8_t *p = TrHeap_Lock(h, handle)) p[0] ^= 1;
            TrHeap_Unlock(h, handle);
        }
        TrHeap_Free(h, 1);
        TrHeap_Compact(h, 32);
        TrHeap_Alloc(h, 16);
    }
    std::string text = Iecasm_Disassemble(data, size);
    IecAsmOutput out;
    if (!Iecasm_Assemble(text, &out, nullptr) || out.image.size() != size ||
        (size && std::memcmp(out.image.data(), data, size) != 0))
        std::abort();
    return 0;
}
