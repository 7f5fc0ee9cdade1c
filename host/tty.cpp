#include "host/tty.h"

#include "host/root.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

constexpr const char *kDevices[] = {"/dev/ttySP0", "/dev/ttySP2", "/dev/ttySP3", "/dev/ttyGS0"};
constexpr const char *kSuspendFlag = "/sys/devices/platform/fsl-usb2-udc/gadget/suspended";

struct Pty {
    int master = -1; // the panel's end
    int peer = -1;   // held open here so a peer that leaves causes no hang-up
    std::string device;
};
std::array<Pty, 16> g_ptys;
std::vector<TtyRequest> g_failed;

Pty *find(int fd) {
    if (fd < 0) return nullptr;
    for (Pty &p : g_ptys)
        if (p.master == fd) return &p;
    return nullptr;
}

bool known_device(const std::string &path) {
    for (const char *d : kDevices)
        if (path == d) return true;
    return false;
}

int retry_ioctl(int fd, unsigned long request, void *arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

bool publish_link(const std::string &board_path, const char *target) {
    make_dirs("/dev");
    std::string link = tty_peer_link(board_path);
    std::string tmp = link + ".new";
    ::unlink(tmp.c_str());
    if (::symlink(target, tmp.c_str()) != 0) return false;
    return ::rename(tmp.c_str(), link.c_str()) == 0;
}

} // namespace

std::string tty_peer_link(const std::string &board_path) {
    return path(board_path + ".peer");
}

int tty_open(const std::string &board_path) {
    if (!known_device(board_path)) {
        errno = ENOENT;
        return -1;
    }
    Pty *slot = nullptr;
    for (Pty &p : g_ptys)
        if (p.master < 0) {
            slot = &p;
            break;
        }
    if (!slot) {
        errno = EMFILE;
        return -1;
    }
    int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m < 0) return -1;
    char name[128];
    if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
        ::close(m);
        return -1;
    }
    int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) {
        ::close(m);
        return -1;
    }
    // The peer's end raw, so nothing the panel sends is echoed back to it
    // before a peer sets its own mode.
    termios t{};
    if (::tcgetattr(s, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(s, TCSANOW, &t);
    }
    if (!publish_link(board_path, name)) {
        ::close(s);
        ::close(m);
        return -1;
    }
    slot->master = m;
    slot->peer = s;
    slot->device = board_path;
    return m;
}

void tty_close(int fd) {
    // Only descriptors this stand-in handed out: a number closed twice may
    // belong to someone else by now.
    Pty *p = find(fd);
    if (!p) return;
    if (p->peer >= 0) ::close(p->peer);
    *p = Pty{};
    ::close(fd);
}

int tty_get_attr(int fd, termios *t) {
    return ::tcgetattr(fd, t);
}

int tty_set_attr(int fd, int, const termios *t) {
    int r;
    do {
        r = ::tcsetattr(fd, TCSANOW, t);
    } while (r < 0 && errno == EINTR);
    return r;
}

int tty_flush(int fd, int queue) {
    return ::tcflush(fd, queue);
}

int tty_request(int fd, unsigned long request, long arg) {
    if (request == kTtyLineDir || request == kTtyGapSeen || request == kTtyRtuGap ||
        request == kTtyFrameReset) {
        // A kernel without the board's serial driver.
        Pty *p = find(fd);
        g_failed.push_back({p ? p->device : std::string(), request, arg});
        errno = ENOTTY;
        return -1;
    }
    if (request == TIOCMBIS || request == TIOCMBIC) {
        int bits = int(arg);
        return retry_ioctl(fd, request, &bits);
    }
    errno = EINVAL;
    return -1;
}

int tty_in_count(int fd) {
    int n = 0;
    if (retry_ioctl(fd, FIONREAD, &n) < 0) return -1;
    return n;
}

int tty_out_count(int fd) {
    int n = 0;
    if (retry_ioctl(fd, TIOCOUTQ, &n) < 0) return -1;
    return n;
}

bool tty_readable(int fd) {
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

long tty_read(int fd, void *buf, size_t n) {
    ssize_t r;
    do {
        r = ::read(fd, buf, n);
    } while (r < 0 && errno == EINTR);
    return long(r);
}

long tty_write(int fd, const void *buf, size_t n) {
    ssize_t r;
    do {
        r = ::write(fd, buf, n);
    } while (r < 0 && errno == EINTR);
    return long(r);
}

std::vector<TtyRequest> tty_failed_requests() {
    return g_failed;
}

// The loop reads the flag on every pass: the file stays open and is read in
// place, and the flag is rewritten in place, so the kept descriptor always
// sees the current value. On the board the file is there or not for the whole
// run (the gadget driver is loaded or not), so a missing file is remembered
// too, until the flag is written. A new root folder (a test's) looks again.
namespace {
int g_flag_fd = -1;
bool g_flag_known = false;
std::string g_flag_root;

void close_flag() {
    if (g_flag_fd >= 0) ::close(g_flag_fd);
    g_flag_fd = -1;
    g_flag_known = false;
    g_flag_root.clear();
}
} // namespace

int usb_suspend_flag() {
    if (!g_flag_known || g_flag_root != root()) {
        close_flag();
        g_flag_fd = ::open(path(kSuspendFlag).c_str(), O_RDONLY | O_CLOEXEC);
        g_flag_known = true;
        g_flag_root = root();
    }
    if (g_flag_fd < 0) return -1;
    char c = 0;
    ssize_t r;
    do {
        r = ::pread(g_flag_fd, &c, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r == 1 ? int(uint8_t(c)) : 0;
}

bool usb_set_suspend_flag(char c) {
    make_dirs("/sys/devices/platform/fsl-usb2-udc/gadget");
    int fd = ::open(path(kSuspendFlag).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const char text[2] = {c, '\n'};
    ssize_t r;
    do {
        r = ::pwrite(fd, text, sizeof text, 0);
    } while (r < 0 && errno == EINTR);
    bool ok = r == ssize_t(sizeof text) && ::ftruncate(fd, sizeof text) == 0;
    if (g_flag_fd < 0) close_flag(); // a file just made: the next read opens it
    return ::close(fd) == 0 && ok;
}

void tty_reset() {
    for (Pty &p : g_ptys) {
        if (p.peer >= 0) ::close(p.peer);
        if (p.master >= 0) ::close(p.master);
        p = Pty{};
    }
    g_failed.clear();
    close_flag();
}

} // namespace host
