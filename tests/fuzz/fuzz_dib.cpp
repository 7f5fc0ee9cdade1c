// Bitmap unpacking: a bitmap record of any coding must decode into a fixed
// destination, unpack and draw without reading past its own bytes or writing
// past the room given.
//
// Input: byte 0 the coding (bits 0-1: 0 raw rows, 1-3 the run codings), the
// depth (bits 2-3: 1, 4, 8 or 16 bits), a transparent colour (bit 4) and no
// background (bit 5); bytes 1 and 2 the width and height; bytes 3-4 the
// coding's own length count; the rest is the record, which ends where the
// input ends.
#include "base/le.h"
#include "fuzz_display.h"
#include "gdi/gdi.h"
#include "gdi/shapes.h"
#include "platform/video.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
constexpr uint32_t kRoom = 8192;
uint8_t g_out[kRoom];
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 5) return 0;
    DC *dc = fuzz_display();
    const uint8_t *rec = data + 5, *end = data + size;
    const uint32_t length = le16(data + 3);
    XpandDIB1(rec, end, length, g_out, kRoom);
    XpandDIB2(rec, end, length, g_out, kRoom);
    XpandDIB3(rec, end, length, g_out, kRoom);

    static const uint8_t kDepth[4] = {1, 4, 8, 16};
    DIB d{};
    d.coding = data[0] & 3;
    d.bits_per_pixel = kDepth[(data[0] >> 2) & 3];
    d.flags = data[0] & 0x10 ? kDibTransparent : 0;
    d.background = data[0] & 0x20 ? kColorNone : 0x07E0;
    d.foreground = 0xF800;
    d.transparent = 0;
    d.width = int16_t(data[1] % 64 + 1);
    d.height = int16_t(data[2] % 64 + 1);
    d.bytes_per_row = uint16_t((d.width * d.bits_per_pixel + 7) / 8);
    d.data_length = length;
    d.pixels = const_cast<uint8_t *>(rec);
    d.record_bytes = uint32_t(end - rec);
    GDI_WriteDIB(dc, 3, 5, d.width, d.height, &d, 0, 0);
    GDI_RotateC2DIB(dc, &d, 80, 80, data[0] & 0x40 ? kRotateUp : 32);
    // Unpacked into a fixed room (the record stays untouched), then drawn.
    std::memset(g_out, 0, kRoom);
    DIB u = d;
    VDR_BmpUnpack(&u, g_out, kRoom);
    GDI_WriteDIB(dc, 7, 1, u.width, u.height, &u, 1, 0);
    GDI_RotateC2DIB(dc, &u, 40, 100, kRotateUp);
    return 0;
}
