// The device context and the bitmap record: what every drawing call draws
// into, with the video driver's eight operations through which each pixel is
// finally written. The drawing layer fills and copies these records; the
// video driver below it reads them.
#pragma once
#include <cstdint>

// RGB565: red in bits 15-11, green 10-5, blue 4-0. 0xFFFF means none.
using COLOR = uint16_t;
constexpr COLOR kColorNone = 0xFFFF;

// Left, top, right, bottom. Callers pass the exclusive form (right and bottom
// one past the last pixel); bounds and clip inside a DC are inclusive.
struct RECT {
    int16_t left, top, right, bottom;
};

struct FontRec;

// A bitmap. Codings of the pixel data: 0 raw rows, 1 zero-escaped runs, 2
// run/literal bytes, 3 run/literal 16-bit pixels, 4 JPEG.
struct DIB {
    int16_t width, height;
    uint16_t x_origin;      // added to the source x of every draw
    uint16_t bytes_per_row; // stride of the decoded rows
    uint32_t data_length;   // of the coded data, counted as each coding says
    uint8_t coding;
    uint8_t bits_per_pixel; // 1, 4, 8 or 16; other depths are not drawn
    COLOR foreground;       // of 1 bits in a one-bit bitmap
    COLOR background;       // of 0 bits; 0xFFFF leaves them unpainted
    COLOR transparent;      // with flag bit 0: pixels of this colour are not drawn
    uint16_t flags;         // bit 0: the bitmap has a transparent colour
    uint8_t *pixels;
    // Bytes of the record present at `pixels`: up to the end of its block or
    // bitmap slot, or the size of a bitmap made in memory. Nothing is read
    // past them, whatever the coding's own length says.
    uint32_t record_bytes;
    // Set by the video driver's unpacker: the rows are span rows (a 16-bit
    // bitmap with a transparent colour, turned into runs to skip and draw).
    uint8_t span_rows;
};
constexpr uint16_t kDibTransparent = 0x0001;

// Driver operations, in the slot order of a DC.
struct DC;
using VdrInitFn = int (*)(DC *dc);
using VdrIoctlFn = int (*)(DC *dc, int request, int value);
using VdrSetPixelFn = int (*)(DC *dc, int x, int y, COLOR colour);
using VdrGetPixelFn = int (*)(DC *dc, int x, int y);
using VdrScanLineFn = void (*)(DC *dc, int x, int y, int count, COLOR colour);
using VdrCreateDIBFn = int (*)(DC *dc, int x, int y, int width, int height, DIB *dib);
using VdrWriteDIBFn = int (*)(DC *dc, int x, int y, int width, int height, int src_x, int src_y,
                              const DIB *dib);
using VdrCloseFn = void (*)(DC *dc);
// The pixel combiner of a raster operation: the new value of destination word
// d, given the colour word c and the mask m of the halves to change.
using RopFn = uint32_t (*)(uint32_t d, uint32_t c, uint32_t m);
// Per-glyph hook of the text output: (character, glyph bitmap about to be
// drawn, the hook's argument).
using TextCallBack = void (*)(int code, DIB *glyph, uintptr_t arg);

struct DC {
    RECT bounds; // inclusive: 0, 0, screen width - 1, screen height - 1
    RECT clip;   // inclusive, always inside bounds
    uint16_t pixel_depth;
    COLOR pen_colour;
    int16_t pen_width;
    int16_t pen_style;   // 0 none, 1 solid, 2 dotted, 3 dashed, 4 dotted over the fill only
    uint8_t pen_pattern; // on/off bits, most significant first
    uint8_t pattern_mask;
    COLOR fill_colour; // 0xFFFF none
    COLOR text_colour;
    int16_t text_align;
    TextCallBack text_callback;
    uintptr_t text_callback_arg;
    const FontRec *font;
    uint8_t gradient_mode;
    COLOR end_colour;
    int16_t cur_x, cur_y;
    // Rasteriser work fields: the figure's box grown and shrunk by the pen,
    // and the centres of an ellipse or rounded corner.
    int16_t outer_left, outer_top, outer_right, outer_bottom;
    int16_t inner_left, inner_top, inner_right, inner_bottom;
    int16_t centre_x, centre_y, centre2_x, centre2_y;
    VdrInitFn Init;
    VdrIoctlFn Ioctl;
    VdrSetPixelFn SetPixel;
    VdrGetPixelFn GetPixel;
    VdrScanLineFn ScanLine;
    VdrCreateDIBFn CreateDIB;
    VdrWriteDIBFn WriteDIB;
    VdrCloseFn Close;
    uint32_t *buffer;  // the frame or memory buffer drawn into (pixel pairs)
    uint16_t frame;    // 0 display, 1-5 frame contexts, 255 memory context
    uint16_t rop_mode; // 1-7
    RopFn rop;
};

// Pen styles.
constexpr int kPenNone = 0, kPenSolid = 1, kPenDotted = 2, kPenDashed = 3, kPenOverFill = 4;
