// The touch device stand-in: "/dev/input/ts0" is a FIFO in the root folder
// carrying 16-byte events in the board's layout (u32 seconds, u32
// microseconds, u16 type, u16 code, s32 value).
#pragma once
#include <cstdint>
#include <string>

namespace host {

constexpr int kTouchEventBytes = 16;

// Opens the device non-blocking for reading (and writing, so it never reports
// a hang-up), creating the FIFO first when
// nothing is at the path. -1 when it cannot be opened.
int touch_open(const std::string &board_path);
void touch_close(int fd);
// Reads up to `n` bytes; -1 with errno set on failure (interruptions retried).
long touch_read(int fd, void *buf, unsigned n);
// Bytes waiting in the device (0 when none or on failure).
long touch_pending(int fd);

// Writes events to the device (panelctl and tests): one 16-byte event each.
struct TouchEvent {
    uint16_t type;
    uint16_t code;
    int32_t value;
};
bool touch_write(const std::string &board_path, const TouchEvent *ev, int count);

} // namespace host
