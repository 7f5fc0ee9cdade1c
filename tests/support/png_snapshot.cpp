#include "png_snapshot.h"

#include "host/fb.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>

namespace {
// The source tree: $PANEL_SRC, else where this file was compiled from.
std::string source_dir() {
    if (const char *src = std::getenv("PANEL_SRC")) return src;
    std::string here = __FILE__;
    size_t at = here.rfind("/tests/support/");
    return at == std::string::npos ? "." : here.substr(0, at);
}

bool read_png_stream(FILE *f, std::vector<uint8_t> *rgb, int *width, int *height) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    rgb->assign(size_t(w) * h * 3, 0);
    for (png_uint_32 y = 0; y < h; ++y)
        png_read_row(png, rgb->data() + size_t(y) * w * 3, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    *width = int(w);
    *height = int(h);
    return true;
}
} // namespace

bool png_read_rgb(const std::string &file, std::vector<uint8_t> *rgb, int *width, int *height) {
    FILE *f = std::fopen(file.c_str(), "rb");
    if (!f) return false;
    bool ok = read_png_stream(f, rgb, width, height);
    std::fclose(f);
    return ok;
}

std::string png_snapshot_diff(const std::string &name, const std::vector<uint8_t> &rgb, int width,
                              int height) {
    const std::string ref = source_dir() + "/" + name;
    std::string error;
    const char *update = std::getenv("PANEL_UPDATE_SNAPSHOTS");
    if (update && std::string(update) == "1") {
        if (!host::png_write_rgb(ref, width, height, rgb.data(), &error)) return error;
        return "";
    }
    std::vector<uint8_t> want;
    int w = 0, h = 0;
    if (!png_read_rgb(ref, &want, &w, &h)) return "no reference image " + ref;
    std::string actual = "/tmp/snapshot-actual-" + name.substr(name.rfind('/') + 1);
    if (w != width || h != height) {
        host::png_write_rgb(actual, width, height, rgb.data(), &error);
        return "size " + std::to_string(width) + "x" + std::to_string(height) + ", reference " +
               std::to_string(w) + "x" + std::to_string(h) + " (actual: " + actual + ")";
    }
    size_t differ = 0, first = 0;
    for (size_t i = 0; i < want.size(); i += 3) {
        if (want[i] != rgb[i] || want[i + 1] != rgb[i + 1] || want[i + 2] != rgb[i + 2]) {
            if (!differ) first = i / 3;
            ++differ;
        }
    }
    if (!differ) return "";
    host::png_write_rgb(actual, width, height, rgb.data(), &error);
    char where[64];
    std::snprintf(where, sizeof where, "first at x %zu y %zu", first % size_t(width),
                  first / size_t(width));
    return std::to_string(differ) + " pixels differ from " + ref + ", " + where +
           " (actual: " + actual + ")";
}

std::string screen_snapshot_diff(const std::string &name) {
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    if (!host::fb_visible_rgb(&rgb, &w, &h)) return "the screen is not open";
    return png_snapshot_diff(name, rgb, w, h);
}
