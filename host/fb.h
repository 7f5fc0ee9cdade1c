// Stand-in for the Linux frame-buffer device "/dev/fb": the screen of the
// configured panel size (host.conf "screen", 800x480 by default), 16-bit
// pixels. Its memory is a file of the root folder ("dev/fb") mapped shared,
// so the frame memory is mirrored there while the panel runs. The memory is
// large enough for the pixel pipeline's eight buffers (32 bytes a pixel) and
// is registered as physical memory from kFbPhysBase for the bus masters.
//
// The LCD controller shows the frame memory from its start: RGB565 pixels,
// or 32-bit pixels (0xAARRGGBB) once the pixel pipeline writes its output
// there (the pipeline tells the frame buffer which it writes).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

constexpr uint32_t kFbPhysBase = 0x40000000;
constexpr uint32_t kFbVisualTrueColor = 2;

struct FbVarInfo {
    uint32_t xres, yres, bits_per_pixel;
};
struct FbFixInfo {
    uint32_t smem_len, line_length, visual;
};

// Opens the device; -1 when the panel has none ("fb = 0" in host.conf).
int fb_open();
bool fb_get_var(int fd, FbVarInfo *var);
bool fb_get_fix(int fd, FbFixInfo *fix);
// Maps the first `len` bytes of the frame memory; null on failure.
void *fb_map(int fd, size_t len);
void fb_unmap(void *addr, size_t len);
void fb_close(int fd);

// The pixel pipeline writes the shown memory with pixels of `bpp` bits.
void fb_set_scanout_bpp(int bpp);
// The visible screen as 8-bit red, green, blue triples, row by row; false
// when the frame memory is not mapped.
bool fb_visible_rgb(std::vector<uint8_t> *rgb, int *width, int *height);
// Writes the visible screen as a PNG file.
bool fb_write_png(const std::string &file, std::string *error);

// RGB565 to 8-bit channels, the low bits repeating the high ones (so 0xFFFF
// is white and the pixel value 1 is blue 8).
constexpr void rgb565_to_rgb(uint16_t p, uint8_t *rgb) {
    unsigned r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
    rgb[0] = uint8_t(r << 3 | r >> 2);
    rgb[1] = uint8_t(g << 2 | g >> 4);
    rgb[2] = uint8_t(b << 3 | b >> 2);
}

// Writes 8-bit RGB rows as a PNG file (through a temporary file and a rename).
bool png_write_rgb(const std::string &file, int width, int height, const uint8_t *rgb,
                   std::string *error);

void fb_reset();

} // namespace host
