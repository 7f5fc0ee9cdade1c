// The serial ttys as the port drivers reach them: the board's devices opened
// by path, the terminal settings, the board kernel's private requests and the
// USB gadget's suspend flag. On a host these are pseudo-terminals (host/tty.h).
#pragma once
#include <termios.h>

#include <cstddef>

// The board kernel's private requests: line direction (0 or 1), "the RTU gap
// has passed" (a positive result), the RTU gap in microseconds (0 none), and a
// reset of the kernel's frame state.
constexpr unsigned long kTtyLineDir = 0x5461, kTtyGapSeen = 0x5463, kTtyRtuGap = 0x5465,
                        kTtyFrameReset = 0x5466;

// Read-write, no controlling terminal, non-blocking; -1 when it does not open.
int Tty_Open(const char *board_path);
void Tty_Close(int fd);
int Tty_GetAttr(int fd, termios *t);
int Tty_SetAttr(int fd, int when, const termios *t);
int Tty_Flush(int fd, int queue);
// A board request, or TIOCMBIS/TIOCMBIC with a modem-line mask; -1 on failure.
int Tty_Request(int fd, unsigned long request, long arg);
int Tty_InCount(int fd);  // bytes waiting, -1 on failure
int Tty_OutCount(int fd); // bytes not yet sent, -1 on failure
bool Tty_Readable(int fd);
long Tty_Read(int fd, void *buf, size_t n);
long Tty_Write(int fd, const void *buf, size_t n);
// First character of the USB gadget's suspend flag, -1 when it cannot be read.
int Tty_UsbSuspendFlag();
