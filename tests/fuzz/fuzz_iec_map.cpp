// The variable map and symbol paths over code images of any bytes: the map
// is built into a database from the image, then looked up by symbol, index,
// tag and address, described, read, and walked by a path and by member
// enumeration; the same database bytes damaged by the input (a database read
// back from a file) are walked again. Nothing may read outside the image or
// the database, and no walk may run without end.
//
// Input: a path text, a newline, then the image.
#include "base/le.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/trmap.h"
#include "iec/kernel/trsyb.h"
#include "iec/kernel/trvm.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {
constexpr uint64_t kMaxDb = 4u << 20;

int count_member(const char *path, uint16_t, void *user) {
    ++*static_cast<uint32_t *>(user);
    return path[0] ? 1 : 0;
}

void walk(uint8_t *db, const std::string &path, const uint8_t *noise, size_t n) {
    uint32_t pos = 0;
    uint8_t desc[300];
    for (uint8_t *e = TrMap_GetFirst(db, &pos); e && pos < 4096; e = TrMap_GetNext(db, &pos)) {
        TrMap_GetDesc(db, pos, desc);
        TrMap_GetLIntValue(db, e);
        TrMap_GetLRealValue(db, e);
        uint32_t len = 0;
        if (const char *t = TrMap_GetStringValue(db, e, &len)) {
            volatile char sink = len ? t[len - 1] : 0;
            (void)sink;
        }
        TrMap_GetProfileName(db, e);
        TrMap_GetTypeName(db, e);
        uint32_t count = 0;
        uint16_t type = 0;
        TrMap_IsArrayOfSingleVar(db, e, &count, &type);
        if (const char *s = TrMap_GetSymbol(db, e)) TrMap_GetBySymbol(db, s);
        char buf[64];
        uint32_t members = 0;
        TrVmSyb_EnumCTMembers(db, e, buf, sizeof buf, count_member, &members);
        TrMap_GetByIndex(db, TrMap_GetType(db, e), TrMap_GetIndex(db, e));
        TrMap_GetByNumTag(db, TrMap_GetNumTag(db, e));
    }
    for (size_t i = 0; i + 4 <= n && i < 32; i += 4)
        TrMap_CheckPointer(db, le32(noise + i));
    uint16_t type = 0;
    const char *name = nullptr;
    if (uint8_t *p = TrVmSyb_Parse(db, path.c_str(), &type, &name)) {
        volatile uint8_t sink = p[0];
        (void)sink;
    }
    const char *cur = path.c_str();
    Velmor_TrVmSyb_GetMapItem(db, &cur);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const uint8_t *nl = static_cast<const uint8_t *>(std::memchr(data, '\n', size));
    if (!nl) return 0;
    std::string path(reinterpret_cast<const char *>(data), size_t(nl - data));
    size_t isize = size - size_t(nl - data) - 1;
    std::unique_ptr<uint8_t[]> img(new uint8_t[isize ? isize : 1]);
    std::memcpy(img.get(), nl + 1, isize);
    TrCodeImage code{img.get(), uint32_t(isize)};
    uint8_t header[trdb::kHeaderSize] = {};
    if (TrVM_GetDBSize(code, header) != 0 || TrVM_GetTotalDBSize(header) > kMaxDb) return 0;
    uint32_t total = uint32_t(TrVM_GetTotalDBSize(header));
    std::vector<uint8_t> db(total, 0);
    std::memcpy(db.data(), header, sizeof header);
    TrVM_BuildDBMainLinks(db.data());
    pDB = db.data();
    pDBSize = total;
    TrVM_BuildEx(code, db.data(), 0, 0);
    pCode = code;
    walk(db.data(), path, data, size);
    // The map's own segments overwritten by the input, as a damaged file.
    uint32_t n24 = 0, n25 = 0;
    uint8_t *s24 = TrDB_Segment(db.data(), total, 24, &n24);
    uint8_t *s25 = TrDB_Segment(db.data(), total, 25, &n25);
    for (size_t i = 0; i < path.size(); ++i) {
        if (s24 && n24) s24[(i * 7) % n24] = uint8_t(path[i]);
        if (s25 && n25) s25[(i * 13) % n25] = uint8_t(path[i]);
    }
    walk(db.data(), path, data, size);
    pDB = nullptr;
    pDBSize = 0;
    pCode = TrCodeImage{};
    return 0;
}
