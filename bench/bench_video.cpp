// The screen at 800 x 480: a full-screen fill through the driver's runs
// against memset of the same bytes; the page copy without the pixel pipeline
// against memcpy of the page; the page copy through the pipeline against a
// native conversion of the page's RGB565 pixels to ARGB8888 that leaves the
// colour-keyed pixel value 1 out, as the pipeline does; and JPEG decoding
// against libjpeg-turbo's own decode to RGB565 of the same picture.
#include "bench/bench_screen.h"
#include "gdi/gdi.h"
#include "host/config.h"
#include "host/devmem.h"
#include "host/fb.h"
#include "host/physmem.h"
#include "host/root.h"
#include "platform/jpeg.h"
#include "platform/pxp.h"
#include "platform/video.h"
#include "regs/plc_reg.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {
constexpr int W = 800, H = 480;
constexpr size_t kPageBytes = size_t(W) * H * 2;

using Screen = BenchScreen;

void FullScreenFill(benchmark::State &state) {
    Screen s(true);
    COLOR c = 0;
    for (auto _ : state) {
        for (int y = 0; y < H; ++y)
            VDR_ScanLine(s.dc, 0, y, W, c);
        ++c;
        benchmark::ClobberMemory();
    }
}

void FullScreenFill_baseline(benchmark::State &state) {
    std::vector<uint8_t> page(kPageBytes);
    int c = 0;
    for (auto _ : state) {
        std::memset(page.data(), c++, page.size());
        benchmark::ClobberMemory();
    }
}

void PageCopy(benchmark::State &state) {
    Screen s(true);
    VDR_SetActiveFrame(GDI_CreateDC(0, 2));
    for (auto _ : state) {
        VDR_CopyPage();
        benchmark::ClobberMemory();
    }
}

// A page of mixed pixels, some of them the key.
std::vector<uint16_t> keyed_page() {
    std::vector<uint16_t> page(size_t(W) * H);
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = i % 7 == 0 ? 1 : uint16_t(i * 2654435761u >> 16);
    return page;
}

void PageCopy_baseline(benchmark::State &state) {
    const std::vector<uint16_t> from = keyed_page();
    std::vector<uint32_t> to(size_t(W) * H);
    for (auto _ : state) {
        for (size_t i = 0; i < from.size(); ++i) {
            const uint32_t p = from[i];
            if (p == 1) continue;
            const uint32_t r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
            to[i] =
                0xFF000000u | (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
        }
        benchmark::ClobberMemory();
    }
}

void PageCopyNoPipeline(benchmark::State &state) {
    Screen s(false);
    VDR_SetActiveFrame(GDI_CreateDC(0, 2));
    for (auto _ : state) {
        VDR_CopyPage();
        benchmark::ClobberMemory();
    }
}

void PageCopyNoPipeline_baseline(benchmark::State &state) {
    std::vector<uint8_t> from(kPageBytes, 1), to(kPageBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kPageBytes);
        benchmark::ClobberMemory();
    }
}

// An 800 x 480 picture of gradients and edges, compressed at quality 85.
std::vector<uint8_t> make_jpeg() {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            rgb.insert(rgb.end(), {uint8_t(x * 255 / W), uint8_t(y * 255 / H),
                                   uint8_t(((x / 16 + y / 16) & 1) ? 220 : 30)});
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = W;
    c.image_height = H;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = rgb.data() + size_t(c.next_scanline) * W * 3;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> jpg(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return jpg;
}

void JpegDecode(benchmark::State &state) {
    std::vector<uint8_t> jpg = make_jpeg(), out(kPageBytes);
    for (auto _ : state) {
        int w = W, h = H;
        if (JpegDecompress(out.data(), jpg.data(), uint32_t(jpg.size()), &w, &h, 0) != 0)
            state.SkipWithError("decode failed");
        benchmark::ClobberMemory();
    }
}

void JpegDecode_baseline(benchmark::State &state) {
    std::vector<uint8_t> jpg = make_jpeg(), out(kPageBytes);
    for (auto _ : state) {
        jpeg_decompress_struct d;
        jpeg_error_mgr err;
        d.err = jpeg_std_error(&err);
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, jpg.data(), jpg.size());
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_RGB565;
        d.dither_mode = JDITHER_NONE;
        jpeg_start_decompress(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = out.data() + size_t(d.output_scanline) * W * 2;
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        benchmark::ClobberMemory();
    }
}
} // namespace

BENCHMARK(FullScreenFill);
BENCHMARK(FullScreenFill_baseline);
BENCHMARK(PageCopy);
BENCHMARK(PageCopy_baseline);
BENCHMARK(PageCopyNoPipeline);
BENCHMARK(PageCopyNoPipeline_baseline);
BENCHMARK(JpegDecode);
BENCHMARK(JpegDecode_baseline);
