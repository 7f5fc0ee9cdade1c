#include "host/fb.h"

#include "host/config.h"
#include "host/physmem.h"
#include "host/root.h"

#include <fcntl.h>
#include <png.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace host {
namespace {
int g_fd = -1;
uint8_t *g_map = nullptr;
size_t g_map_len = 0;
int g_scanout_bpp = 16;

size_t frame_memory_bytes() {
    return size_t(screen_width()) * size_t(screen_height()) * 32;
}
} // namespace

int fb_open() {
    if (config_int("fb", 1) == 0) return -1;
    if (g_fd >= 0) return -1; // one opener, like the driver's device
    make_dirs("/dev");
    int fd = ::open(path("/dev/fb").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (ftruncate(fd, off_t(frame_memory_bytes())) != 0) {
        ::close(fd);
        return -1;
    }
    g_fd = fd;
    g_scanout_bpp = 16;
    return fd;
}

bool fb_get_var(int fd, FbVarInfo *var) {
    if (fd < 0 || fd != g_fd) return false;
    var->xres = uint32_t(screen_width());
    var->yres = uint32_t(screen_height());
    var->bits_per_pixel = 16;
    return true;
}

bool fb_get_fix(int fd, FbFixInfo *fix) {
    if (fd < 0 || fd != g_fd) return false;
    fix->smem_len = uint32_t(frame_memory_bytes());
    fix->line_length = uint32_t(screen_width()) * 2;
    fix->visual = kFbVisualTrueColor;
    return true;
}

void *fb_map(int fd, size_t len) {
    if (fd < 0 || fd != g_fd || g_map || len == 0 || len > frame_memory_bytes()) return nullptr;
    void *m = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (m == MAP_FAILED) return nullptr;
    g_map = static_cast<uint8_t *>(m);
    g_map_len = len;
    phys_register(m, len, kFbPhysBase);
    return m;
}

void fb_unmap(void *addr, size_t len) {
    if (!addr || addr != g_map) return;
    phys_unregister(addr);
    munmap(addr, len);
    g_map = nullptr;
    g_map_len = 0;
}

void fb_close(int fd) {
    if (fd < 0 || fd != g_fd) return;
    ::close(fd);
    g_fd = -1;
}

void fb_set_scanout_bpp(int bpp) {
    g_scanout_bpp = bpp == 32 ? 32 : 16;
}

bool fb_visible_rgb(std::vector<uint8_t> *rgb, int *width, int *height) {
    const int w = screen_width(), h = screen_height();
    const size_t pixels = size_t(w) * size_t(h);
    const size_t bytes = pixels * size_t(g_scanout_bpp / 8);
    if (!g_map || bytes > g_map_len) return false;
    rgb->resize(pixels * 3);
    uint8_t *out = rgb->data();
    for (size_t i = 0; i < pixels; ++i, out += 3) {
        if (g_scanout_bpp == 32) {
            uint32_t p;
            std::memcpy(&p, g_map + 4 * i, 4);
            out[0] = uint8_t(p >> 16);
            out[1] = uint8_t(p >> 8);
            out[2] = uint8_t(p);
        } else {
            uint16_t p;
            std::memcpy(&p, g_map + 2 * i, 2);
            rgb565_to_rgb(p, out);
        }
    }
    *width = w;
    *height = h;
    return true;
}

namespace {
// libpng reports errors by a long jump back here; nothing with a destructor
// lives in this frame.
bool write_png_stream(FILE *f, int width, int height, const uint8_t *rgb) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(rgb + size_t(y) * size_t(width) * 3));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
} // namespace

bool png_write_rgb(const std::string &file, int width, int height, const uint8_t *rgb,
                   std::string *error) {
    const std::string tmp = file + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        *error = "cannot write " + file + ": " + std::strerror(errno);
        return false;
    }
    bool ok = write_png_stream(f, width, height, rgb);
    ok = std::fclose(f) == 0 && ok;
    if (ok && std::rename(tmp.c_str(), file.c_str()) != 0) {
        *error = "cannot write " + file + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    if (!ok) {
        std::remove(tmp.c_str());
        *error = "cannot write " + file;
    }
    return ok;
}

bool fb_write_png(const std::string &file, std::string *error) {
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    if (!fb_visible_rgb(&rgb, &w, &h)) {
        *error = "the screen is not open";
        return false;
    }
    return png_write_rgb(file, w, h, rgb.data(), error);
}

void fb_reset() {
    if (g_map) fb_unmap(g_map, g_map_len);
    if (g_fd >= 0) ::close(g_fd);
    g_fd = -1;
    g_scanout_bpp = 16;
}

} // namespace host
