// Video driver: the frame buffer, the drawing pages, the pixel operations of
// every device context, block copies, bitmap drawing and unpacking; and the
// video manager and playback entry points.
//
// Pixels are RGB565 and are written two at a time: a 32-bit word holds the
// pixel of an even column in its low half and the next one in its high half.
// Every write goes through the context's raster-operation combiner with a
// mask of the half or halves to change.
#pragma once
#include "platform/dc.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

// Frames a context can draw into (VDR_Ioctl request 4).
// 0 the drawing page shown by the page copy, 1 second page, 2 third page,
// 4 a work buffer outside the frame memory, 5 none.
constexpr int kIoctlSetRop = 1, kIoctlSetFrame = 4, kIoctlMemoryFrame = 5;

// The eight driver operations of a device context, in slot order.
int VDR_Init(DC *dc);
int VDR_Ioctl(DC *dc, int request, int value);
int VDR_SetPixel(DC *dc, int x, int y, COLOR colour);
int VDR_GetPixel(DC *dc, int x, int y);
void VDR_ScanLine(DC *dc, int x, int y, int count, COLOR colour);
int VDR_CreateDIB(DC *dc, int x, int y, int width, int height, DIB *dib);
int VDR_WriteDIB(DC *dc, int x, int y, int width, int height, int src_x, int src_y, const DIB *dib);
void VDR_Close(DC *dc);

// A thin patterned line as the drawing layer walks it, plotted in one call:
// the clip, the raster operation and the pen's over-fill test are decided
// once for the whole line instead of once per pixel. Pixel k of the walk
// takes the pen colour on a 1 bit of `pattern` under the moving mask, the
// fill colour on a 0 bit (none skips it), exactly as single pixels set
// through the context would.
//   y-major: `count` pixels, one per row; after pixel k (but the last) x
//   moves by sx when ends[k] != ends[k + 1], and y always moves by sy.
//   x-major: `count` pixels, one per column; before pixel k y moves by sy
//   when the next of the `n_ends` row ends is at most k.
struct VdrLine {
    int x, y, sx, sy;
    bool ymajor;
    long count;
    const uint16_t *ends;
    long n_ends;
    uint8_t pattern;
    COLOR pen, fill;
};
// Plots the line inside the context's clip and moves `mask` on by the
// pixels walked. False (nothing drawn, mask unchanged) when the context does
// not draw through this driver's pixels: the caller then sets each pixel.
bool VDR_PlotLine(DC *dc, const VdrLine &line, uint8_t *mask);
// The fast paths of the driver (line plots, glyph copies, row fills) on or
// off; off draws every pixel through the per-pixel path, for the tests that
// hold both to the same result. On after VDR_Reset.
void VDR_UseFastPaths(bool on);

// Copies a block from the source context's buffer through the destination's
// combiner; 1 when something was copied. Blocks are kept inside the screen,
// and a block that overlaps itself in one buffer is copied as it was before.
int VDR_BitBlt(DC *dc, int x, int y, int width, int height, DC *src, int src_x, int src_y);

// Shows the active frame: through the pixel pipeline, else by copying it into
// frame 0. 1 when shown.
int VDR_CopyPage();
// Makes the context's buffer the active frame and shows it.
int VDR_SetActiveFrame(DC *dc);
int VDR_GetActiveFrame();
int VDR_CheckActiveFrame(DC *dc);
int VDR_IsPageCopied();
void VidPageUpdate();

// Bitmap working memory: a bump allocator cleared when a page is opened.
void VDR_BmpClrMem();
uint8_t *VDR_BmpGetMem(uint32_t size);
// Unpacks a coded bitmap into `dest` (of `capacity` bytes) and rewrites the
// record to describe what is there: coding 0, the pixels at `dest`, 16-bit
// pixels for 4- and 8-bit bitmaps and for one-bit bitmaps with a background,
// span rows for 16-bit bitmaps with a transparent colour. Returns the
// unpacked pixels; a record that cannot be unpacked (another coding, a JPEG
// that does not decode or fit) is left as it is and its pixels are returned.
uint8_t *VDR_BmpUnpack(DIB *dib, uint8_t *dest, uint32_t capacity);

void memcpy_local(void *dst, const void *src, size_t length);

// Decoders of the bitmap codings 1, 2 and 3 (see DIB): decode `length` (as
// the coding counts it) into `out`, at most `capacity` bytes, reading nothing
// at or past `end` (the end of the record's bytes); return the bytes written.
uint32_t XpandDIB1(const uint8_t *in, const uint8_t *end, uint32_t length, uint8_t *out,
                   uint32_t capacity);
uint32_t XpandDIB2(const uint8_t *in, const uint8_t *end, uint32_t length, uint8_t *out,
                   uint32_t capacity);
uint32_t XpandDIB3(const uint8_t *in, const uint8_t *end, uint32_t length, uint8_t *out,
                   uint32_t capacity);

// Raster-operation combiners (d destination word, c colour in both halves,
// m mask of the halves to change), by mode 1-7.
uint32_t ROP_Not(uint32_t d, uint32_t c, uint32_t m);
uint32_t ROP_Xor(uint32_t d, uint32_t c, uint32_t m);
uint32_t ROP_And(uint32_t d, uint32_t c, uint32_t m);
uint32_t ROP_Copy(uint32_t d, uint32_t c, uint32_t m);
uint32_t ROP_NotCopy(uint32_t d, uint32_t c, uint32_t m);
uint32_t ROP_Or(uint32_t d, uint32_t c, uint32_t m);
uint32_t ROP_NotOr(uint32_t d, uint32_t c, uint32_t m);

extern const uint32_t off_mask[2]; // half of an even, odd column
extern const uint32_t len_mask[3]; // a run ending after 0, 1, 2 pixels of a word
extern const COLOR convert[16];    // 4-bit palette
COLOR convert8to16(uint8_t index); // 8-bit RRRGGGBB palette

// The frame the page copy shows.
extern uint32_t *pCurrentMem;
// 1 when the pages are composed by the pixel pipeline.
extern uint8_t fPxpEnable;

// Closes the frame buffer and forgets every buffer (tests).
void VDR_Reset();

// The "screenshot FILE" command of the control socket.
void VDR_CtlRegister();

// The view buffer (twice a screen of 16-bit pixels): coded bitmaps are
// decoded there, and still pictures are loaded there. Its size in `bytes`.
uint8_t *VDR_ViewBuffer(uint32_t *bytes);

// Video manager: shows a still picture and captures the screen for the media
// manager.
//
// A whole-screen picture: 16-bit little-endian pixels, `width` of them a row.
// As the still picture (ViewBMP), `options` is the row order: 0 rows
// bottom-up with 15-bit pixels (red, green, blue 5 bits each), 1 rows
// top-down in RGB565, any other value rows top-down with 15-bit pixels. As
// the capture (CaptBMP), the pixels are 15-bit, `page` is the page shown
// (plus 9000 for a system screen) and `options` the capture's option bits:
// 0 rows bottom-up (a BMP file), else top-down (a JPEG file).
struct VidBitmap {
    uint32_t width, height;
    uint8_t *pixels;
    uint16_t page;
    uint16_t options;
};
extern VidBitmap ViewBMP, CaptBMP;
// One screen of 15-bit pixels, the capture taken at the request.
extern std::vector<uint8_t> CaptBuf;
// 1 while a still picture is shown.
extern uint8_t StillOpened;
// The display context and the memory contexts of the screen (set at start-up).
extern DC *pDC, *pMemDC, *pMem2DC, *pMem3DC;
// Shows what was drawn: the page copied to the screen, or the still picture
// just opened.
int VID_Update();
int VID_WaitUpdate();
// Forgets the screen's contexts and the still picture (tests).
void VidUpdate_Reset();
constexpr int kVidmOpenStill = 12, kVidmCloseStill = 13;

void VIDM_Init();
int VIDM_Open();
// 12 shows the still picture of ViewBMP, 13 closes it; others do nothing.
void VIDM_Cmd(int command);
// One step of the capture request per screen-loop pass.
void VIDM_Update();
void OpenStill();
void CloseStill();
// Copies the screen into CaptBuf and describes it in CaptBMP.
void ScrnCapture();
// Forgets the set-up, the capture and the still picture (tests).
void VIDM_Reset();

// Video playback through the outside media player, steered by a thread of
// its own through the control block that the video-stream screen object
// fills. The screen object writes source, rate, input, command, file name and
// the rectangle; the thread writes state, status and busy and clears the
// command word.
struct VidpsCntrl {
    std::atomic<uint16_t> source;       // 2 camera, else a file
    std::atomic<uint16_t> frame_rate;   // 1-30, else 30
    std::atomic<uint16_t> camera_input; // 1-4
    uint16_t reserved;
    std::atomic<uint32_t> command; // bit 0 play, bit 1 pause (toggle), bit 6 scale
    std::atomic<const char *> file_name;
    std::atomic<uint32_t> state;  // bit 0 may play, 0x2 player runs, 0x8 player stopped
    std::atomic<uint16_t> status; // bit 0 playing, 1 paused, 0x10 bad input, 0x20 bad file
    std::atomic<uint16_t> busy;
    std::atomic<int32_t> x, y, width, height;
    char pipe[20];
};
constexpr uint32_t kVidPlay = 0x1, kVidPause = 0x2, kVidScale = 0x40;
constexpr uint32_t kVidMayPlay = 0x1, kVidRunning = 0x2, kVidStopped = 0x8;
constexpr uint16_t kVidPlaying = 0x1, kVidPaused = 0x2, kVidBadInput = 0x10, kVidBadFile = 0x20;

void VideoPlayStreamInit();
VidpsCntrl *VidpsConfig();
// Asks the thread to stop a running player.
void VideoStop();
// Builds the command line and starts the player; stops it.
void VideoStart();
void VideoSendStop();
// Ends the thread and a running player (tests).
void Video_Reset();
