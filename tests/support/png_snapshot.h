// PNG snapshots: a picture compared pixel for pixel with a reviewed reference
// image in the source tree. With PANEL_UPDATE_SNAPSHOTS=1 the reference is
// written instead (review it before committing).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Reads an 8-bit RGB (or RGBA, alpha dropped) PNG; false when it cannot.
bool png_read_rgb(const std::string &file, std::vector<uint8_t> *rgb, int *width, int *height);

// Compares `rgb` (width x height triples) with the reference `name` (a path
// under the source tree, e.g. "tests/platform/snapshots/x.png"). An empty
// string when equal, else what differs (the actual picture is written next
// to the test's root folder for a look).
std::string png_snapshot_diff(const std::string &name, const std::vector<uint8_t> &rgb, int width,
                              int height);

// The visible screen of the panel's frame buffer against a reference.
std::string screen_snapshot_diff(const std::string &name);
