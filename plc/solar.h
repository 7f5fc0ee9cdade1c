// The solar position for trackers and lighting control (the Almeria solar
// platform's algorithm, good to about 0.01 degree from 1999 to 2015 and close
// beyond).
#pragma once

// Universal time.
struct SunDateTime {
    int year, month, day;
    int hours, minutes, seconds;
};
// Degrees, east and north positive.
struct SunLocation {
    double longitude, latitude;
};
// Degrees; the azimuth counts clockwise from north in 0..360.
struct SunCoordinates {
    double zenith, azimuth;
};
void sunpos(const SunDateTime &when, const SunLocation &where, SunCoordinates *result);
