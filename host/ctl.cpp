#include "host/ctl.h"

#include "host/root.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

namespace host {
namespace {
constexpr size_t kMaxRequest = 1024;
int g_listen = -1;
std::map<std::string, CtlHandler> g_commands;
std::atomic<bool> g_serving{false};

std::vector<std::string> split(const std::string &line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t')
            ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

// A connection being served: its request is gathered and its answer sent a
// piece at a time, as the socket takes them, on the passes that follow. No
// client can hold a pass: a request must be complete within kRequestTime and
// the answer taken within kConnectionTime of the connection, or it is dropped.
constexpr uint64_t kRequestTime = 1'000'000'000ull;
constexpr uint64_t kConnectionTime = 5'000'000'000ull;
constexpr size_t kMaxConnections = 16;
constexpr int kAcceptsPerPoll = 8;

struct Conn {
    int fd;
    uint64_t since; // when it was accepted (monotonic, real time)
    std::string in;
    std::string out;
    size_t sent = 0;
    bool answered = false;
};
std::vector<Conn> g_conns;

// The control socket keeps real time even while the panel runs on a
// virtual clock: a client's time-outs are the client's.
uint64_t real_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000ull + uint64_t(ts.tv_nsec);
}

void answer(Conn &c, const std::string &reply) {
    c.out = reply == "\n" ? "error: empty request\n" : reply;
    c.answered = true;
    ::shutdown(c.fd, SHUT_RD);
}

// Reads what has arrived; answers once the line is complete, too long, or the
// peer has stopped sending.
void receive(Conn &c, uint64_t now) {
    char buf[256];
    for (;;) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break; // nothing more for now
        if (n == 0) {     // the peer sent all it will
            answer(c, c.in.empty() ? "error: empty request\n" : ctl_handle(c.in));
            return;
        }
        for (ssize_t k = 0; k < n; ++k) {
            if (buf[k] == '\n') {
                answer(c, ctl_handle(c.in));
                return;
            }
            c.in.push_back(buf[k]);
        }
        if (c.in.size() > kMaxRequest) {
            answer(c, "error: request too long\n");
            return;
        }
    }
    if (now - c.since >= kRequestTime) answer(c, "error: incomplete request (no end of line)\n");
}

// Sends what the socket takes; true when the connection is done with.
bool transmit(Conn &c) {
    while (c.sent < c.out.size()) {
        ssize_t n =
            ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
        if (n <= 0) return true; // the peer is gone
        c.sent += size_t(n);
    }
    return true;
}

void drop_all() {
    for (Conn &c : g_conns)
        ::close(c.fd);
    g_conns.clear();
}
} // namespace

void ctl_register(const std::string &command, CtlHandler handler) {
    g_commands[command] = std::move(handler);
}

std::string ctl_socket_path() {
    return path("/run/panelctl.sock");
}

bool ctl_open() {
    if (g_listen >= 0) return true;
    make_dirs("/run");
    std::string file = ctl_socket_path();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (file.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "panelctl socket path too long: %s\n", file.c_str());
        return false;
    }
    std::strcpy(addr.sun_path, file.c_str());
    ::unlink(file.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        std::perror("panelctl socket");
        ::close(fd);
        return false;
    }
    g_listen = fd;
    return true;
}

std::string ctl_handle(const std::string &raw) {
    std::string line = raw;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    for (unsigned char c : line)
        if (c < 0x20 && c != '\t') return "error: request holds control characters\n";
    std::vector<std::string> words = split(line);
    if (words.empty()) return "error: empty request\n";
    auto it = g_commands.find(words[0]);
    if (it == g_commands.end()) return "error: unknown command '" + words[0] + "'\n";
    std::string reply = it->second(words);
    if (reply.empty() || reply.back() != '\n') reply += '\n';
    return reply;
}

void ctl_poll() {
    if (g_listen < 0) return;
    // One server at a time: the crash screen serves the socket from a signal
    // handler, which may have interrupted a request, or run in another thread.
    if (g_serving.exchange(true)) return;
    struct Done {
        ~Done() { g_serving = false; }
    } done;
    const uint64_t now = real_ns();
    for (int i = 0; i < kAcceptsPerPoll; ++i) {
        int fd = ::accept4(g_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) break;
        if (g_conns.size() >= kMaxConnections) {
            const char busy[] = "error: busy, try again\n";
            if (::send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
            }
            ::close(fd);
            continue;
        }
        g_conns.push_back(Conn{fd, now, {}, {}});
    }
    for (size_t i = 0; i < g_conns.size();) {
        Conn &c = g_conns[i];
        if (!c.answered) receive(c, now);
        bool finished = c.answered && transmit(c);
        if (finished || now - c.since >= kConnectionTime) {
            ::close(c.fd);
            g_conns.erase(g_conns.begin() + long(i));
        } else {
            ++i;
        }
    }
}

size_t ctl_wait_fds(pollfd *out, size_t max) {
    if (g_listen < 0 || max == 0) return 0;
    size_t n = 0;
    out[n++] = pollfd{g_listen, POLLIN, 0};
    if (g_serving.exchange(true)) return n;
    for (const Conn &c : g_conns) {
        if (n == max) break;
        out[n++] = pollfd{c.fd, short(c.answered ? POLLOUT : POLLIN), 0};
    }
    g_serving = false;
    return n;
}

bool ctl_active() {
    return !g_conns.empty();
}

void ctl_close() {
    drop_all();
    if (g_listen >= 0) {
        ::close(g_listen);
        ::unlink(ctl_socket_path().c_str());
    }
    g_listen = -1;
}

void ctl_reset() {
    ctl_close();
    g_commands.clear();
}

} // namespace host
