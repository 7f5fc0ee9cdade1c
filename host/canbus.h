// CAN sockets of the board's CAN ports.
//
// On a machine with a CAN interface of the port's name ("can0") the socket is
// a raw Linux CAN socket on it. Elsewhere it is a member of a loopback CAN bus
// between processes on this machine: UDP datagrams on 127.0.0.1, one socket
// per member, with the members listed in a shared folder (a file named by its
// port, locked while the member lives); a frame written by one member
// reaches every other member, as on a wire. The folder is the host.conf key
// of the interface ("can0 = ../bus", relative to the root folder); when the
// key is set the loopback bus is used even where the interface exists, so
// tests never reach a real bus. Without the key and the interface, the bus is
// "dev/<iface>.bus" of the root folder: a bus of this panel alone.
//
// Both carry the 16-byte frame of the Linux CAN raw socket, in the machine's
// byte order (little-endian, on the board as here):
//   bytes 0-3   identifier with flags (kCanEff, kCanRtr, kCanErr)
//   byte  4     data length 0-8
//   bytes 5-7   padding
//   bytes 8-15  data
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace host {

// clang-format off
constexpr size_t   kCanFrameBytes = 16;
constexpr uint32_t kCanEff        = 0x80000000u; // extended (29-bit) identifier
constexpr uint32_t kCanRtr        = 0x40000000u; // remote request
constexpr uint32_t kCanErr        = 0x20000000u; // error frame (class bits below)
constexpr uint32_t kCanSffMask    = 0x000007FFu;
constexpr uint32_t kCanEffMask    = 0x1FFFFFFFu;
// Error classes (identifier bits of an error frame) and the controller details
// of class kCanErrCtrl (data byte 1).
constexpr uint32_t kCanErrCtrl    = 0x00000004u;
constexpr uint32_t kCanErrBusOff  = 0x00000040u;
constexpr uint8_t  kCanCtrlRxOverflow = 0x01, kCanCtrlTxOverflow = 0x02;
constexpr uint8_t  kCanCtrlRxWarning  = 0x04, kCanCtrlTxWarning  = 0x08;
constexpr uint8_t  kCanCtrlRxPassive  = 0x10, kCanCtrlTxPassive  = 0x20;
// clang-format on

// The steps of opening a port, as on the board; each returns 0 (or the
// descriptor) on success and -1 with errno set on failure. The descriptor is
// never 0.
int can_socket(const std::string &iface);
int can_set_nonblock(int fd);
// Error frames of the classes in `mask` are delivered; others never are.
int can_set_err_filter(int fd, uint32_t mask);
int can_bind(int fd);
int can_set_sndbuf(int fd, int bytes);
// One frame: returns 16, or less (-1 with errno EAGAIN when nothing waits).
ssize_t can_read(int fd, uint8_t *frame, size_t size);
// One frame: returns 16 when it was taken, else -1 with errno.
ssize_t can_write(int fd, const uint8_t *frame, size_t size);
void can_close(int fd);
// The folder of the loopback bus the interface uses ("" on a real interface).
std::string can_bus_folder(const std::string &iface);
// Closes every socket (test fixtures).
void canbus_reset();

// A platform file of the CAN controller ("/sys/devices/platform/FlexCAN.0/
// bitrate") under the root folder; its folder is there, as on the board.
std::string can_platform_file(const std::string &device, const std::string &file);

// Frames as text, one line each: "123#11223344" (3 hex digits: standard
// identifier), "1234ABCD#" (8 digits: extended), "123#R" (remote request),
// "ERR#busoff" and "ERR#ctrl=04" (error frames: bus off; controller problem
// with its detail byte). Data bytes may be separated by '.'.
std::string can_frame_text(const uint8_t *frame);
// False with a reason in *error when the text is not a frame.
bool can_frame_parse(const std::string &text, uint8_t *frame, std::string *error);

} // namespace host
