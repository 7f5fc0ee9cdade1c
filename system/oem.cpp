// Sign-on texts by OEM identity.
#include "system/oem.h"

#include <cmath>
#include <cstring>

#include "base/trace.h"
#include "serial/serial.h"
#include "web/web.h"

namespace {

struct OemRecord {
    uint16_t model;
    char text[20];
    uint8_t name_off, name_len;
};
struct OemGroup {
    uint16_t family;
    OemRecord rec[11];
};

// Product data: one group per OEM code 0 to 5 (code 128 uses group 5).
// clang-format off
#define OEM_GROUP(brand, off)                                                            \
    {63, {{0x0100, brand "LX100", off, 5}, {0xA60F, brand "LX200", off, 5},              \
          {0xA00F, brand "LX300", off, 5}, {0xA40F, brand "LX310", off, 5},              \
          {0xA20F, brand "LX320T", off, 6}, {0x7F0E, brand "PX410", off, 5},             \
          {0x9F0F, brand "BS108", off, 5}, {0x500F, brand "AC500", off, 5},              \
          {0x520F, brand "AC520", off, 5}, {0xDF0E, brand "LX600", off, 5},              \
          {0xEF0E, brand "LX050", off, 5}}}
const OemGroup OemInfo[6] = {
    OEM_GROUP("Panel ", 6),
    OEM_GROUP("OEM-1 ", 6),
    OEM_GROUP("OEM-2 ", 6),
    OEM_GROUP("OEM-3 ", 6),
    OEM_GROUP("OEM-4 ", 6),
    OEM_GROUP("Private ", 8),
};
#undef OEM_GROUP
// clang-format on

constexpr char kUnknown[] = "*Unknown*";

const OemRecord *oem_find(int family, int model) {
    int code = crc_header[3];
    if (code == 128) code = 5;
    if (code > 5) return nullptr;
    const OemGroup &g = OemInfo[code];
    if (g.family != family) return nullptr;
    for (const OemRecord &r : g.rec)
        if (r.model == model) return &r;
    return nullptr;
}

} // namespace

int Oem_GetSignon(char *text, int family, int model) {
    host::trace("Oem_GetSignon");
    const OemRecord *r = oem_find(family, model);
    const char *src = r ? r->text : kUnknown;
    size_t len = strnlen(src, sizeof r->text);
    std::memcpy(text, src, len);
    text[len] = 0;
    uint8_t off = r ? r->name_off : 0, nlen = r ? r->name_len : 9;
    if (ParviOemPtr) {
        ParviOemPtr[36] = off;
        ParviOemPtr[37] = nlen;
    }
    return int(len);
}

int Oem_GetModel(char *text, int family, int model) {
    host::trace("Oem_GetModel");
    const OemRecord *r = oem_find(family, model);
    const char *src = r ? r->text : kUnknown;
    size_t avail = strnlen(src, sizeof r->text);
    size_t off = r ? r->name_off : 0, len = r ? r->name_len : 9;
    // A name reaching past the text is cut at its end.
    if (off > avail) off = avail;
    if (len > avail - off) len = avail - off;
    if (len > 10) len = 10;
    std::memcpy(text, src + off, len);
    if (len < 10) text[len] = 0;
    return int(len);
}
