// Sign-on texts by OEM identity; solar position (the Almeria solar platform's
// algorithm, good to about 0.01 degree from 1999 to 2015 and close beyond).
#include "core/oem.h"

#include <cmath>
#include <cstring>

#include "host/trace.h"
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

void sunpos(const SunDateTime &when, const SunLocation &where, SunCoordinates *result) {
    constexpr double pi = 3.14159265358979323846, twopi = 2 * pi, rad = pi / 180;
    constexpr double earth_radius_over_au = 6371.01 / 149597890;

    double hours = when.hours + (when.minutes + when.seconds / 60.0) / 60.0;
    // Julian day number, then days elapsed since noon of 1 January 2000.
    long a1 = (when.month - 14) / 12;
    long a2 = (1461L * (when.year + 4800 + a1)) / 4 + (367L * (when.month - 2 - 12 * a1)) / 12 -
              (3L * ((when.year + 4900 + a1) / 100)) / 4 + when.day - 32075;
    double jd = double(a2) - 0.5 + hours / 24.0;
    double n = jd - 2451545.0;

    // Ecliptic coordinates.
    double omega = 2.1429 - 0.0010394594 * n;
    double mean_lon = 4.8950630 + 0.017202791698 * n;
    double mean_anom = 6.2400600 + 0.0172019699 * n;
    double ecl_lon = mean_lon + 0.03341607 * std::sin(mean_anom) +
                     0.00034894 * std::sin(2 * mean_anom) - 0.0001134 - 0.0000203 * std::sin(omega);
    double obliquity = 0.4090928 - 6.2140e-9 * n + 0.0000396 * std::cos(omega);

    // Celestial coordinates.
    double sin_ecl = std::sin(ecl_lon);
    double ra = std::atan2(std::cos(obliquity) * sin_ecl, std::cos(ecl_lon));
    if (ra < 0) ra += twopi;
    double decl = std::asin(std::sin(obliquity) * sin_ecl);

    // Local coordinates.
    double gmst = 6.6974243242 + 0.0657098283 * n + hours;
    double lmst = (gmst * 15 + where.longitude) * rad;
    double ha = lmst - ra;
    double lat = where.latitude * rad;
    double cos_lat = std::cos(lat), sin_lat = std::sin(lat), cos_ha = std::cos(ha);
    double zenith = std::acos(cos_lat * cos_ha * std::cos(decl) + std::sin(decl) * sin_lat);
    double az = std::atan2(-std::sin(ha), std::tan(decl) * cos_lat - sin_lat * cos_ha);
    if (az < 0) az += twopi;
    zenith += earth_radius_over_au * std::sin(zenith);
    result->zenith = zenith / rad;
    result->azimuth = az / rad;
}
