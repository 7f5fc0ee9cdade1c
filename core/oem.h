// Sign-on and model texts chosen by the unit's OEM identity, and the solar
// position for trackers and lighting control.
#pragma once
#include <cstdint>

// Writes the sign-on text (zero-terminated, at most 20 characters) and
// returns its length.
int Oem_GetSignon(char *text, int family, int model);
// Writes at most 10 characters of the model name, zero-terminated when shorter.
int Oem_GetModel(char *text, int family, int model);

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
