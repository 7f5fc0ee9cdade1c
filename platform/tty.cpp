#include "platform/tty.h"

#include "host/tty.h"

int Tty_Open(const char *board_path) {
    return host::tty_open(board_path);
}
void Tty_Close(int fd) {
    host::tty_close(fd);
}
int Tty_GetAttr(int fd, termios *t) {
    return host::tty_get_attr(fd, t);
}
int Tty_SetAttr(int fd, int when, const termios *t) {
    return host::tty_set_attr(fd, when, t);
}
int Tty_Flush(int fd, int queue) {
    return host::tty_flush(fd, queue);
}
int Tty_Request(int fd, unsigned long request, long arg) {
    return host::tty_request(fd, request, arg);
}
int Tty_InCount(int fd) {
    return host::tty_in_count(fd);
}
int Tty_OutCount(int fd) {
    return host::tty_out_count(fd);
}
bool Tty_Readable(int fd) {
    return host::tty_readable(fd);
}
long Tty_Read(int fd, void *buf, size_t n) {
    return host::tty_read(fd, buf, n);
}
long Tty_Write(int fd, const void *buf, size_t n) {
    return host::tty_write(fd, buf, n);
}
int Tty_UsbSuspendFlag() {
    return host::usb_suspend_flag();
}
