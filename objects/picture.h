// Pictures of the application's bitmap area as screen objects draw them:
// found through the manager's bounded accessor, described as a DIB of the
// object's size, and expanded into bitmap memory no larger than that size.
// Shared by the classes that show stored pictures.
#pragma once
#include "platform/dc.h"

#include <cstdint>

namespace obj {

// Points `dib` at the stored picture at `offset` of the bitmap area: its
// coding, coded length and bytes (nothing is read past the coded length).
// The caller has set the size, bytes per row and bits per pixel. A raw
// picture (coding 0), drawn straight from its bytes, keeps only the whole
// rows its coded length holds. False, with `dib` unchanged, unless the
// picture's prefix and coded data lie inside the bitmap area in use.
bool PictureDib(uint32_t offset, DIB *dib);

// The bytes a picture of the DIB's size expands to: 2 a pixel, or 3 a pixel
// for one with alpha; 0 for an empty size.
uint64_t PictureBytes(const DIB &dib, bool alpha);

// Expands the picture into `dest` of `capacity` bytes (VDR_BmpUnpack); the
// DIB then describes the expanded pixels. False when nothing was expanded.
bool PictureExpand(DIB *dib, uint8_t *dest, uint32_t capacity);

// A picture of `width` x `height` pixels and `depth` bits at `offset`, drawn
// with `transparent` as its see-through colour (0xFFFF: none), ready for
// GDI_WriteDIB: rows of the depth's size, and a coded picture expanded into
// bitmap memory when it fits (else drawn from its coded bytes). False, with
// no pixels, unless the picture lies in the bitmap area.
bool PictureOfSize(uint32_t offset, int width, int height, int depth, COLOR transparent, DIB *dib);

} // namespace obj
