// Pictures of the bitmap area for screen objects: the bounded look-up of a
// stored picture, the cut of raw pictures to the rows their coded length
// holds, and expansion into memory sized by the object.
#include "objects/picture.h"
#include "platform/video.h"
#include "screens/screens.h"

#include <algorithm>

namespace obj {

namespace {
constexpr uint8_t kCodingJpeg = 4;
constexpr uint64_t kExpandLimit = 0x100000;
} // namespace

bool PictureDib(uint32_t offset, DIB *dib) {
    ObjPicture pic{};
    if (!OBJM_Bitmap(offset, &pic)) return false;
    dib->coding = pic.coding;
    dib->data_length = pic.length;
    dib->record_bytes = pic.length;
    dib->pixels = const_cast<uint8_t *>(pic.data);
    dib->span_rows = 0;
    dib->x_origin = 0;
    // The driver copies a raw picture's rows as they stand: only the rows
    // its coded length holds are drawn.
    if (pic.coding == 0) {
        const uint32_t rows = dib->bytes_per_row ? pic.length / dib->bytes_per_row : 0;
        if (dib->height > 0 && uint32_t(dib->height) > rows) dib->height = int16_t(rows);
    }
    return true;
}

uint64_t PictureBytes(const DIB &dib, bool alpha) {
    if (dib.width <= 0 || dib.height <= 0) return 0;
    return uint64_t(dib.width) * uint64_t(dib.height) * (alpha ? 3u : 2u);
}

bool PictureExpand(DIB *dib, uint8_t *dest, uint32_t capacity) {
    if (!dest || !dib->pixels || capacity == 0) return false;
    return VDR_BmpUnpack(dib, dest, capacity) == dest;
}

bool PictureOfSize(uint32_t offset, int width, int height, int depth, COLOR transparent, DIB *dib) {
    *dib = DIB{};
    dib->width = int16_t(std::clamp(width, 0, 0x7FFF));
    dib->height = int16_t(std::clamp(height, 0, 0x7FFF));
    dib->bits_per_pixel = uint8_t(depth);
    switch (depth) {
    case 16:
        dib->bytes_per_row = uint16_t(dib->width * 2);
        break;
    case 8:
        dib->bytes_per_row = uint16_t(dib->width);
        break;
    case 4:
        dib->bytes_per_row = uint16_t((dib->width + 1) / 2);
        break;
    default:
        dib->bytes_per_row = uint16_t((dib->width + 7) / 8);
        break;
    }
    dib->transparent = transparent;
    if (transparent != kColorNone) dib->flags = kDibTransparent;
    if (!PictureDib(offset, dib)) {
        dib->pixels = nullptr;
        return false;
    }
    const bool alpha = (dib->flags & kDibTransparent) != 0;
    if (dib->coding != 0 && dib->coding != kCodingJpeg) {
        const uint64_t bytes = PictureBytes(*dib, alpha);
        if (bytes && bytes < kExpandLimit) {
            DIB expanded = *dib;
            if (PictureExpand(&expanded, VDR_BmpGetMem(uint32_t(bytes)), uint32_t(bytes)))
                *dib = expanded;
        }
    }
    return true;
}

} // namespace obj
