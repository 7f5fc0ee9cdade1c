#include "host/jpegd.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <new>

#include <jpeglib.h>

namespace {
// libjpeg reports fatal errors by calling error_exit, which must not return.
struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void error_exit(j_common_ptr cinfo) {
    ErrorManager *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    std::longjmp(err->jump, 1);
}
void output_message(j_common_ptr) {} // warnings are not printed

// What the work memory holds during a decode.
struct Work {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
};
constexpr uint32_t kWorkBytes = uint32_t(sizeof(Work) + alignof(Work));

Work *work_in(void *mem) {
    uintptr_t p = reinterpret_cast<uintptr_t>(mem);
    p = (p + alignof(Work) - 1) & ~uintptr_t(alignof(Work) - 1);
    return reinterpret_cast<Work *>(p);
}

// Reads the header into w->cinfo; 0 or a status. The object must be destroyed
// by the caller whatever the result.
int read_header(Work *w, const uint8_t *data, uint32_t size) {
    w->cinfo.err = jpeg_std_error(&w->err.pub);
    w->err.pub.error_exit = error_exit;
    w->err.pub.output_message = output_message;
    if (setjmp(w->err.jump)) return JPEGD_ERR_HEADER;
    jpeg_create_decompress(&w->cinfo);
    jpeg_mem_src(&w->cinfo, data, size);
    if (jpeg_read_header(&w->cinfo, TRUE) != JPEG_HEADER_OK) return JPEGD_ERR_HEADER;
    J_COLOR_SPACE cs = w->cinfo.jpeg_color_space;
    if (cs != JCS_GRAYSCALE && cs != JCS_YCbCr && cs != JCS_RGB) return JPEGD_ERR_HEADER;
    return JPEGD_OK;
}

uint32_t scaled(uint32_t n, uint32_t denom) {
    return (n + denom - 1) / denom;
}
} // namespace

int jpegd_register_jpegd_get_new_data(JpegdObject *obj, JpegdGetNewData fn) {
    if (!obj || !fn) return JPEGD_ERR_ARGUMENT;
    obj->get_new_data = fn;
    obj->stage = 1;
    return JPEGD_OK;
}

int jpegd_get_file_info(JpegdObject *obj) {
    if (!obj) return JPEGD_ERR_ARGUMENT;
    if (obj->stage < 1 || !obj->get_new_data) return JPEGD_ERR_NO_DATA;
    if (obj->max_width == 0 || obj->max_height == 0) return JPEGD_ERR_ARGUMENT;
    const uint8_t *data = nullptr;
    uint32_t size = 0;
    if (obj->get_new_data(&data, &size) != 0 || !data || size == 0) return JPEGD_ERR_NO_DATA;
    obj->data = data;
    obj->size = size;

    alignas(Work) unsigned char mem[sizeof(Work)];
    Work *w = new (mem) Work{};
    int rc = read_header(w, data, size);
    if (rc == JPEGD_OK) {
        obj->width = w->cinfo.image_width;
        obj->height = w->cinfo.image_height;
        obj->components = w->cinfo.num_components;
    }
    jpeg_destroy_decompress(&w->cinfo);
    if (rc != JPEGD_OK) return rc;

    for (uint32_t d = 1; d <= 8; d *= 2) {
        if (scaled(obj->width, d) <= obj->max_width && scaled(obj->height, d) <= obj->max_height) {
            obj->scale_denom = d;
            obj->out_width = scaled(obj->width, d);
            obj->out_height = scaled(obj->height, d);
            obj->stage = 2;
            return JPEGD_OK;
        }
    }
    return JPEGD_ERR_TOO_LARGE;
}

int jpegd_query_dec_mem(JpegdObject *obj, uint32_t *size) {
    if (!obj || !size) return JPEGD_ERR_ARGUMENT;
    if (obj->stage < 2) return JPEGD_ERR_SEQUENCE;
    *size = kWorkBytes;
    return JPEGD_OK;
}

int jpegd_decoder_init(JpegdObject *obj, void *work, uint32_t size) {
    if (!obj) return JPEGD_ERR_ARGUMENT;
    if (obj->stage < 2) return JPEGD_ERR_SEQUENCE;
    if (!work || size < kWorkBytes) return JPEGD_ERR_MEMORY;
    obj->work = work;
    obj->work_size = size;
    obj->stage = 3;
    return JPEGD_OK;
}

namespace {
int decode(Work *w, const JpegdObject *obj, uint8_t *out) {
    int rc = read_header(w, obj->data, obj->size);
    if (rc != JPEGD_OK) return rc;
    if (setjmp(w->err.jump)) return JPEGD_ERR_DECODE;
    w->cinfo.out_color_space = JCS_RGB565;
    w->cinfo.dither_mode = JDITHER_NONE;
    w->cinfo.scale_num = 1;
    w->cinfo.scale_denom = obj->scale_denom;
    jpeg_start_decompress(&w->cinfo);
    if (w->cinfo.output_width != obj->out_width || w->cinfo.output_height != obj->out_height)
        return JPEGD_ERR_DECODE;
    const size_t stride = size_t(obj->out_width) * 2;
    while (w->cinfo.output_scanline < w->cinfo.output_height) {
        JSAMPROW row = out + size_t(w->cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&w->cinfo, &row, 1);
    }
    jpeg_finish_decompress(&w->cinfo);
    return JPEGD_OK;
}
} // namespace

int jpegd_decode_frame(JpegdObject *obj, uint8_t *out, uint32_t out_bytes) {
    if (!obj || !out) return JPEGD_ERR_ARGUMENT;
    if (obj->stage < 3) return JPEGD_ERR_SEQUENCE;
    if (uint64_t(obj->out_width) * obj->out_height * 2 > out_bytes) return JPEGD_ERR_MEMORY;
    Work *w = new (work_in(obj->work)) Work{};
    int rc = decode(w, obj, out);
    jpeg_destroy_decompress(&w->cinfo);
    obj->stage = 2; // a further frame needs its own decoder_init
    return rc;
}
