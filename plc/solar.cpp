// The solar position.
#include "plc/solar.h"

#include <cmath>
#include <numbers>

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
