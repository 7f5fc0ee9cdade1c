#include "host/touchdev.h"

#include "host/clock.h"
#include "host/root.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace host {

int touch_open(const std::string &board_path) {
    std::string p = path(board_path);
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
        size_t slash = board_path.rfind('/');
        if (slash != std::string::npos && slash > 0) make_dirs(board_path.substr(0, slash));
        ::mkfifo(p.c_str(), 0600);
    }
    // Opened for writing too, so the FIFO always has a writer: once the
    // last outside writer closed it, a read-only end would report a hang-up
    // to every wait, and the wait between passes would never sleep.
    return ::open(p.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

void touch_close(int fd) {
    if (fd >= 0) ::close(fd);
}

long touch_read(int fd, void *buf, unsigned n) {
    for (;;) {
        ssize_t r = ::read(fd, buf, n);
        if (r < 0 && errno == EINTR) continue;
        return long(r);
    }
}

long touch_pending(int fd) {
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) != 0) return 0;
    return n;
}

bool touch_write(const std::string &board_path, const TouchEvent *ev, int count) {
    int fd = ::open(path(board_path).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    std::vector<uint8_t> out(size_t(count) * kTouchEventBytes);
    int64_t now = wall_ns();
    for (int i = 0; i < count; ++i) {
        uint8_t *p = out.data() + size_t(i) * kTouchEventBytes;
        uint32_t words[2] = {uint32_t(now / 1'000'000'000), uint32_t(now / 1000 % 1'000'000)};
        for (int b = 0; b < 4; ++b) {
            p[b] = uint8_t(words[0] >> (8 * b));
            p[4 + b] = uint8_t(words[1] >> (8 * b));
            p[12 + b] = uint8_t(uint32_t(ev[i].value) >> (8 * b));
        }
        p[8] = uint8_t(ev[i].type);
        p[9] = uint8_t(ev[i].type >> 8);
        p[10] = uint8_t(ev[i].code);
        p[11] = uint8_t(ev[i].code >> 8);
    }
    size_t done = 0;
    while (done < out.size()) {
        ssize_t w = ::write(fd, out.data() + done, out.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += size_t(w);
    }
    ::close(fd);
    return done == out.size();
}

} // namespace host
