// The board's serial ttys on a host: pseudo-terminals.
//
// Opening one of the board's ports ("/dev/ttySP0", "/dev/ttySP2",
// "/dev/ttySP3", the USB gadget port "/dev/ttyGS0") gives the panel the master
// end of a new pseudo-terminal and publishes the other end as the link
// "dev/<tty>.peer" of the root folder (repointed on each open), for socat,
// mbpoll or a test. The stand-in keeps the peer end open itself, in raw mode,
// so a peer that closes leaves no hang-up behind, and closes it with the
// panel's end.
//
// Baud and parity do nothing on a pty. The board kernel's private requests
// (0x5461 line direction, 0x5463 gap seen, 0x5465 RTU gap, 0x5466 frame reset)
// fail with ENOTTY, as on a kernel without them; each failing request is
// recorded with its argument. Waiting for output to drain is never done: a
// pty whose peer does not read would hold the pass.
//
// The USB gadget's suspend flag is the file
// "/sys/devices/platform/fsl-usb2-udc/gadget/suspended" of the root folder.
#pragma once
#include <termios.h>

#include <cstddef>
#include <string>
#include <vector>

namespace host {

// The board's private tty requests.
constexpr unsigned long kTtyLineDir = 0x5461, kTtyGapSeen = 0x5463, kTtyRtuGap = 0x5465,
                        kTtyFrameReset = 0x5466;

// Opens a board tty read-write, no controlling terminal, non-blocking; -1
// (errno ENOENT) for a device the board does not have here.
int tty_open(const std::string &board_path);
// Closes a descriptor tty_open gave (others are left alone).
void tty_close(int fd);
// The peer link of a board tty (under the root folder).
std::string tty_peer_link(const std::string &board_path);

int tty_get_attr(int fd, termios *t);
// TCSADRAIN and TCSAFLUSH are applied at once (see above).
int tty_set_attr(int fd, int when, const termios *t);
int tty_flush(int fd, int queue); // TCIFLUSH, TCOFLUSH, TCIOFLUSH
// A board request or a modem-line request (TIOCMBIS/TIOCMBIC with a bit
// mask); -1 on failure.
int tty_request(int fd, unsigned long request, long arg);
int tty_in_count(int fd);  // bytes waiting to be read, -1 on failure
int tty_out_count(int fd); // bytes not yet taken by the peer, -1 on failure
bool tty_readable(int fd); // a zero time-out poll for input
long tty_read(int fd, void *buf, size_t n);
long tty_write(int fd, const void *buf, size_t n);

struct TtyRequest {
    std::string device; // board path
    unsigned long request;
    long arg;
};
// The failing requests since the last reset, oldest first (tests).
std::vector<TtyRequest> tty_failed_requests();

// Reads the gadget's suspend flag: its first character, or -1 when the file
// does not open. Once found the file stays open (the loop reads it every
// pass), so a writer must rewrite it in place, not replace it.
int usb_suspend_flag();
// Writes it in place ('1' suspended, '0' connected).
bool usb_set_suspend_flag(char c);

// Closes every pty the panel left open and forgets the record (tests).
void tty_reset();

} // namespace host
