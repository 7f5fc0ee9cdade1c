#include "host/ctl.h"

#include "host/root.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

// Reads one line within a short time; false when the peer sent nothing usable.
bool read_line(int fd, std::string *line, std::string *error) {
    char buf[256];
    for (int waited = 0; waited < 1000;) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, 100);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) {
            waited += 100;
            continue;
        }
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line->empty();
        for (ssize_t k = 0; k < n; ++k) {
            if (buf[k] == '\n') return true;
            line->push_back(buf[k]);
        }
        if (line->size() > kMaxRequest) {
            *error = "error: request too long";
            return false;
        }
    }
    *error = "error: incomplete request (no end of line)";
    return false;
}

void write_all(int fd, const std::string &text) {
    size_t off = 0;
    while (off < text.size()) {
        ssize_t n = ::send(fd, text.data() + off, text.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        off += size_t(n);
    }
}
} // namespace

void ctl_register(const std::string &command, CtlHandler handler) {
    g_commands[command] = std::move(handler);
}

std::string ctl_socket_path() { return path("/run/panelctl.sock"); }

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
    for (int i = 0; i < 4; ++i) {
        int fd = ::accept4(g_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        std::string line, error;
        std::string reply = read_line(fd, &line, &error) ? ctl_handle(line) : error + "\n";
        if (reply == "\n") reply = "error: empty request\n";
        write_all(fd, reply);
        ::close(fd);
    }
}

void ctl_close() {
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
