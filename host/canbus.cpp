#include "host/canbus.h"

#include "host/config.h"
#include "host/root.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

namespace host {
namespace {

// The Linux CAN socket interface, declared here from its numbers.
constexpr int kCanRawProtocol = 1;  // raw frames
constexpr int kSolCanRaw = 100 + 1; // socket option level of raw CAN sockets
constexpr int kCanRawErrFilter = 2; // option: error classes to deliver
// The address of a CAN socket: family, interface index, then room for the
// addresses of other protocols (unused by raw sockets).
struct CanSockAddr {
    sa_family_t family;
    int ifindex;
    uint32_t rx_id, tx_id;
};
static_assert(offsetof(CanSockAddr, ifindex) == 4 && sizeof(CanSockAddr) == 16);

// Every join and leave counts up a generation number shared by the members
// (a mapped file of the folder), so a member lists the others again exactly
// when they changed. A member killed without leaving is found within this time.
constexpr const char *kGenerationFile = "generation";
constexpr int64_t kRescanNs = 200'000'000;
// Receive queue of a loopback member: a few thousand frames, as a CAN
// socket's queue holds between two polls of a busy panel.
constexpr int kLoopbackRcvBuf = 1 << 20;

struct Sock {
    bool real = false; // a raw socket on a CAN interface of this machine
    std::string iface;
    std::string folder;             // loopback bus folder
    uint16_t port = 0;              // own UDP port on 127.0.0.1 (0: not bound)
    int lock_fd = -1;               // own member file, locked while this member lives
    uint32_t err_mask = 0;          // error classes delivered
    std::vector<uint16_t> members;  // ports of the other members
    uint64_t *generation = nullptr; // shared by the members of the folder
    uint64_t listed_generation = 0;
    int64_t listed_ns = 0;
};

std::map<int, Sock> g_socks;

uint32_t get32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

int64_t real_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

Sock *find(int fd) {
    auto it = g_socks.find(fd);
    if (it == g_socks.end()) {
        errno = EBADF;
        return nullptr;
    }
    return &it->second;
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

void send_to(int fd, uint16_t port, const void *data, size_t size) {
    sockaddr_in a = loopback(port);
    while (::sendto(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&a),
                    sizeof a) < 0 &&
           errno == EINTR) {
    }
}

// A member file whose lock can be taken belongs to a member that ended
// without leaving the bus (killed): it is removed.
bool alive(const std::string &file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (!held) ::unlink(file.c_str());
    ::close(fd);
    return held;
}

void list_members(Sock &s) {
    s.members.clear();
    s.listed_generation = __atomic_load_n(s.generation, __ATOMIC_ACQUIRE);
    s.listed_ns = real_ns();
    DIR *d = ::opendir(s.folder.c_str());
    if (!d) return;
    while (dirent *e = ::readdir(d)) {
        char *end = nullptr;
        unsigned long port = std::strtoul(e->d_name, &end, 10);
        if (!end || *end || e->d_name[0] < '1' || e->d_name[0] > '9' || port > 65535) continue;
        if (port == s.port || !alive(s.folder + "/" + e->d_name)) continue;
        s.members.push_back(uint16_t(port));
    }
    ::closedir(d);
}

// Creates and locks the member file of `port`; -1 when it cannot.
int join(const std::string &folder, uint16_t port) {
    std::string file = folder + "/" + std::to_string(port);
    for (int tries = 0; tries < 10; ++tries) {
        int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return -1;
        if (::flock(fd, LOCK_EX) == 0) {
            // Another member may have removed the file as stale meanwhile.
            struct stat held, now;
            if (::fstat(fd, &held) == 0 && ::stat(file.c_str(), &now) == 0 &&
                held.st_ino == now.st_ino && held.st_dev == now.st_dev)
                return fd;
        }
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

uint64_t *map_generation(const std::string &folder) {
    int fd = ::open((folder + "/" + kGenerationFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    struct stat st;
    void *p = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && (st.st_size >= 8 || ::ftruncate(fd, 8) == 0))
        p = ::mmap(nullptr, 8, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<uint64_t *>(p);
}

void next_generation(Sock &s) {
    __atomic_add_fetch(s.generation, 1, __ATOMIC_ACQ_REL);
}

std::string loopback_folder(const std::string &iface) {
    std::string key = config(iface);
    if (key.empty()) return path("/dev/" + iface + ".bus");
    return key[0] == '/' ? key : root() + "/" + key;
}
} // namespace

std::string can_bus_folder(const std::string &iface) {
    if (config(iface).empty() && if_nametoindex(iface.c_str()) != 0) return "";
    return loopback_folder(iface);
}

int can_socket(const std::string &iface) {
    Sock s;
    s.iface = iface;
    s.folder = can_bus_folder(iface);
    s.real = s.folder.empty();
    int fd = s.real ? ::socket(AF_CAN, SOCK_RAW | SOCK_CLOEXEC, kCanRawProtocol)
                    : ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd == 0) {
        // Descriptor 0 reads as "no socket" to the driver.
        int other = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        fd = other;
    }
    if (fd < 0) return -1;
    g_socks[fd] = std::move(s);
    return fd;
}

int can_set_nonblock(int fd) {
    if (!find(fd)) return -1;
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return -1;
    return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 ? -1 : 0;
}

int can_set_err_filter(int fd, uint32_t mask) {
    Sock *s = find(fd);
    if (!s) return -1;
    if (s->real) return ::setsockopt(fd, kSolCanRaw, kCanRawErrFilter, &mask, sizeof mask);
    s->err_mask = mask & kCanEffMask;
    return 0;
}

int can_bind(int fd) {
    Sock *s = find(fd);
    if (!s) return -1;
    if (s->real) {
        CanSockAddr addr{};
        addr.family = AF_CAN;
        addr.ifindex = int(if_nametoindex(s->iface.c_str()));
        if (addr.ifindex == 0) return -1;
        return ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    }
    std::error_code ec;
    std::filesystem::create_directories(s->folder, ec);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return -1;
    int rcvbuf = kLoopbackRcvBuf;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    uint64_t *generation = map_generation(s->folder);
    if (!generation) return -1;
    int lock = join(s->folder, ntohs(a.sin_port));
    if (lock < 0) {
        ::munmap(generation, 8);
        return -1;
    }
    s->port = ntohs(a.sin_port);
    s->lock_fd = lock;
    s->generation = generation;
    next_generation(*s);
    list_members(*s);
    return 0;
}

int can_set_sndbuf(int fd, int bytes) {
    if (!find(fd)) return -1;
    return ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

ssize_t can_read(int fd, uint8_t *frame, size_t size) {
    Sock *s = find(fd);
    if (!s) return -1;
    if (s->real) {
        ssize_t n;
        do {
            n = ::read(fd, frame, size);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    uint8_t buf[64];
    for (;;) {
        ssize_t n;
        do {
            n = ::recv(fd, buf, sizeof buf, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) return n;
        if (n != ssize_t(kCanFrameBytes)) continue; // not a frame
        uint32_t id = get32(buf);
        if ((id & kCanErr) && !(id & s->err_mask)) continue; // not asked for
        size_t take = size < kCanFrameBytes ? size : kCanFrameBytes;
        std::memcpy(frame, buf, take);
        return ssize_t(take);
    }
}

ssize_t can_write(int fd, const uint8_t *frame, size_t size) {
    Sock *s = find(fd);
    if (!s) return -1;
    if (s->real) {
        ssize_t n;
        do {
            n = ::write(fd, frame, size);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    if (size != kCanFrameBytes || frame[4] > 8) {
        errno = EINVAL; // as the kernel refuses a frame of another size or length
        return -1;
    }
    if (s->port == 0) {
        errno = EDESTADDRREQ;
        return -1;
    }
    if (__atomic_load_n(s->generation, __ATOMIC_ACQUIRE) != s->listed_generation ||
        real_ns() - s->listed_ns > kRescanNs)
        list_members(*s);
    // Every member gets the frame; one whose queue is full loses it, as a
    // receiver that cannot keep up loses frames on a wire.
    for (uint16_t m : s->members)
        send_to(fd, m, frame, size);
    return ssize_t(size);
}

void can_close(int fd) {
    auto it = g_socks.find(fd);
    if (it == g_socks.end()) return;
    Sock &s = it->second;
    if (s.lock_fd >= 0) {
        ::unlink((s.folder + "/" + std::to_string(s.port)).c_str());
        ::close(s.lock_fd);
        next_generation(s);
        ::munmap(s.generation, 8);
    }
    g_socks.erase(it);
    ::close(fd);
}

void canbus_reset() {
    while (!g_socks.empty())
        can_close(g_socks.begin()->first);
}

std::string can_platform_file(const std::string &device, const std::string &file) {
    std::string dir = "/sys/devices/platform/" + device;
    make_dirs(dir);
    return path(dir + "/" + file);
}

std::string can_frame_text(const uint8_t *frame) {
    uint32_t id = get32(frame);
    char buf[48];
    std::string out;
    if (id & kCanErr) {
        std::string parts;
        auto add = [&](const std::string &p) { parts += (parts.empty() ? "" : ",") + p; };
        if (id & kCanErrBusOff) add("busoff");
        if (id & kCanErrCtrl) {
            std::snprintf(buf, sizeof buf, "ctrl=%02X", frame[9]);
            add(buf);
        }
        uint32_t other = id & kCanEffMask & ~(kCanErrBusOff | kCanErrCtrl);
        if (other || parts.empty()) {
            std::snprintf(buf, sizeof buf, "class=%08X", unsigned(other));
            add(buf);
        }
        return "ERR#" + parts;
    }
    if (id & kCanEff)
        std::snprintf(buf, sizeof buf, "%08X#", unsigned(id & kCanEffMask));
    else
        std::snprintf(buf, sizeof buf, "%03X#", unsigned(id & kCanSffMask));
    out = buf;
    if (id & kCanRtr) return out + "R";
    unsigned len = frame[4] > 8 ? 8 : frame[4];
    for (unsigned i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", frame[8 + i]);
        out += buf;
    }
    return out;
}

namespace {
bool hex_value(const std::string &text, uint32_t *v) {
    if (text.empty() || text.size() > 8) return false;
    uint32_t n = 0;
    for (char c : text) {
        int d = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
        if (d < 0) return false;
        n = n << 4 | uint32_t(d);
    }
    *v = n;
    return true;
}

bool parse_error_frame(const std::string &body, uint8_t *frame, std::string *error) {
    uint32_t id = kCanErr;
    frame[4] = 8;
    size_t at = 0;
    while (at <= body.size()) {
        size_t comma = body.find(',', at);
        std::string part =
            body.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        uint32_t v;
        if (part == "busoff") {
            id |= kCanErrBusOff;
        } else if (part.rfind("ctrl=", 0) == 0 && hex_value(part.substr(5), &v) && v <= 0xFF) {
            id |= kCanErrCtrl;
            frame[9] = uint8_t(v);
        } else if (part.rfind("class=", 0) == 0 && hex_value(part.substr(6), &v) &&
                   v <= kCanEffMask) {
            id |= v;
        } else {
            *error = "error frame '" + part + "': busoff, ctrl=HH or class=HHHHHHHH";
            return false;
        }
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    put32(frame, id);
    return true;
}
} // namespace

bool can_frame_parse(const std::string &text, uint8_t *frame, std::string *error) {
    std::memset(frame, 0, kCanFrameBytes);
    size_t hash = text.find('#');
    if (hash == std::string::npos) {
        *error = "'" + text + "' is not ID#DATA";
        return false;
    }
    std::string head = text.substr(0, hash), body = text.substr(hash + 1);
    if (head == "ERR" || head == "err") return parse_error_frame(body, frame, error);
    uint32_t id;
    if ((head.size() != 3 && head.size() != 8) || !hex_value(head, &id)) {
        *error = "identifier '" + head + "': 3 hex digits (standard) or 8 (extended)";
        return false;
    }
    if (head.size() == 3 && id > kCanSffMask) {
        *error = "standard identifier " + head + " is above 7FF";
        return false;
    }
    if (head.size() == 8) {
        if (id > kCanEffMask) {
            *error = "extended identifier " + head + " is above 1FFFFFFF";
            return false;
        }
        id |= kCanEff;
    }
    if (body == "R" || body == "r") {
        put32(frame, id | kCanRtr);
        return true;
    }
    std::string digits;
    for (char c : body)
        if (c != '.') digits += c;
    uint32_t v;
    if (digits.size() % 2 || digits.size() > 16) {
        *error = "data '" + body + "': up to 8 bytes of two hex digits";
        return false;
    }
    for (size_t i = 0; i < digits.size(); i += 2) {
        if (!hex_value(digits.substr(i, 2), &v)) {
            *error = "data '" + body + "': up to 8 bytes of two hex digits";
            return false;
        }
        frame[8 + i / 2] = uint8_t(v);
    }
    frame[4] = uint8_t(digits.size() / 2);
    put32(frame, id);
    return true;
}

} // namespace host
