// The host's network backends: sockets, interface requests and ICMP.
#include "host/netsock.h"

#include "host/config.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <net/route.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/ethtool.h>
#include <linux/sockios.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace host {
namespace {

struct SimIf {
    const char *name;
    uint32_t addr = 0, mask = 0, gateway = 0;
    bool up = false;
    int link = -1; // -1 from host.conf, 0 down, 1 up
    uint8_t mac[6] = {};
};

struct State {
    int backend = -1; // -1 undecided, 0 sim, 1 kernel
    bool ports_read = false;
    long port_offset = 0;
    std::map<uint16_t, uint16_t> port_map;
    SimIf ifs[4] = {{"eth0"}, {"eth1"}, {"mlan0"}, {"uap0"}};
    std::vector<std::string> requests;
    std::map<int, int> icmp_peer; // sim: our end -> the answering end
};
State g;
std::mutex g_mu; // the panel's control socket reads the record from the loop only; tests too

SimIf *sim_if(const char *name) {
    for (SimIf &i : g.ifs)
        if (std::strcmp(i.name, name) == 0) return &i;
    return nullptr;
}

bool loopback(uint32_t addr) {
    return (addr >> 24) == 127;
}

int no_zero(int fd) {
    if (fd != 0) return fd;
    int d = dup(fd);
    close(fd);
    return d;
}

int nonblocking(int fd) {
    if (fd < 0) return -1;
    int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void read_ports() {
    if (g.ports_read) return;
    g.ports_read = true;
    const char *env = std::getenv("PANEL_PORTS");
    if (!env || !*env) return;
    if (env[0] == '+') {
        g.port_offset = std::strtol(env + 1, nullptr, 10);
        return;
    }
    const char *p = env;
    while (*p) {
        char *end;
        long from = std::strtol(p, &end, 10);
        if (*end != ':') break;
        long to = std::strtol(end + 1, &end, 10);
        if (from > 0 && from < 65536 && to > 0 && to < 65536)
            g.port_map[uint16_t(from)] = uint16_t(to);
        if (*end != ',') break;
        p = end + 1;
    }
}

sockaddr_in sin_of(uint32_t addr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(addr);
    sa.sin_port = htons(port);
    return sa;
}

int ifreq_socket() {
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

void set_sin(sockaddr *sa, uint32_t addr) {
    sockaddr_in sin = sin_of(addr, 0);
    std::memcpy(sa, &sin, sizeof sin);
}

void record(const std::string &line) {
    std::lock_guard lock(g_mu);
    g.requests.push_back(line);
}

// The kernel backend is taken only in a namespace that is not the host's:
// one other than pid 1's, or (where pid 1's cannot be read) one made with
// "ip netns add".
bool other_netns() {
    char self[128] = {}, init[128] = {};
    ssize_t a = readlink("/proc/self/ns/net", self, sizeof self - 1);
    ssize_t b = readlink("/proc/1/ns/net", init, sizeof init - 1);
    if (a > 0 && b > 0) return std::strcmp(self, init) != 0;
    struct stat me;
    if (a <= 0 || stat("/proc/self/ns/net", &me) != 0) return false;
    DIR *d = opendir("/var/run/netns");
    if (!d) return false;
    bool named = false;
    while (dirent *e = readdir(d)) {
        struct stat st;
        std::string f = std::string("/var/run/netns/") + e->d_name;
        if (e->d_name[0] != '.' && stat(f.c_str(), &st) == 0 && st.st_dev == me.st_dev &&
            st.st_ino == me.st_ino)
            named = true;
    }
    closedir(d);
    return named;
}

} // namespace

bool net_kernel() {
    if (g.backend < 0) {
        g.backend = 0;
        if (config("net.backend", "sim") == "kernel") {
            if (other_netns())
                g.backend = 1;
            else
                std::fprintf(stderr, "net: kernel backend refused outside a network namespace\n");
        }
    }
    return g.backend == 1;
}

std::string net_ip_text(uint32_t a) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255,
                  a & 255);
    return buf;
}

uint16_t net_map_port(uint16_t port) {
    if (port == 0) return 0;
    read_ports();
    if (g.port_offset) return uint16_t(port + g.port_offset);
    auto it = g.port_map.find(port);
    return it == g.port_map.end() ? port : it->second;
}

// The panel's name of a host port a datagram came from: sending back to it
// maps it again, so a reply reaches the sender whatever the mapping moved.
uint16_t unmap_port(uint16_t port) {
    read_ports();
    if (g.port_offset) return uint16_t(port - g.port_offset);
    for (const auto &[from, to] : g.port_map)
        if (to == port) return from;
    return port;
}

int net_socket(bool stream, const char *ifname) {
    int fd = no_zero(socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0));
    fd = nonblocking(fd);
    if (fd < 0) return -1;
    int one = 1;
    bool ok = setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
    if (stream) {
        timeval tv{10, 0};
        ok = ok && setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
    }
    if (ok && ifname && net_kernel())
        ok = setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, ifname, socklen_t(std::strlen(ifname))) ==
             0;
    if (stream) {
        ok = ok && setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) == 0;
        ok = ok && setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
    }
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

int net_bind(int fd, uint16_t port) {
    sockaddr_in sa = sin_of(net_kernel() ? INADDR_ANY : INADDR_LOOPBACK, net_map_port(port));
    return bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 ? 0 : -1;
}

int net_listen(int fd, int backlog) {
    return listen(fd, backlog) == 0 ? 0 : -1;
}

int net_accept(int fd, uint32_t *peer_addr, uint16_t *peer_port_raw) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int c;
    do {
        c = accept4(fd, reinterpret_cast<sockaddr *>(&sa), &len, SOCK_CLOEXEC);
    } while (c < 0 && errno == EINTR);
    c = nonblocking(no_zero(c));
    if (c < 0) return -1;
    if (peer_addr) *peer_addr = ntohl(sa.sin_addr.s_addr);
    if (peer_port_raw) *peer_port_raw = sa.sin_port;
    return c;
}

int net_connect(int fd, uint32_t addr, uint16_t port) {
    if (!net_kernel() && !loopback(addr)) {
        errno = ENETUNREACH;
        return -1;
    }
    sockaddr_in sa = sin_of(addr, net_map_port(port));
    int r;
    do {
        r = connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    } while (r < 0 && errno == EINTR);
    if (r == 0 || errno == EISCONN) return 0;
    if (errno == EINPROGRESS || errno == EALREADY) return 1;
    return -1;
}

ssize_t net_send(int fd, const void *data, size_t n) {
    ssize_t r;
    do {
        r = send(fd, data, n, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return r;
}

ssize_t net_recv(int fd, void *buf, size_t n) {
    ssize_t r;
    do {
        r = recv(fd, buf, n, 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

ssize_t net_sendto(int fd, const void *data, size_t n, uint32_t addr, uint16_t port) {
    if (!net_kernel() && !loopback(addr)) {
        errno = ENETUNREACH;
        return -1;
    }
    sockaddr_in sa = sin_of(addr, net_map_port(port));
    ssize_t r;
    do {
        r = sendto(fd, data, n, MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    } while (r < 0 && errno == EINTR);
    return r;
}

ssize_t net_recvfrom(int fd, void *buf, size_t n, uint32_t *addr, uint16_t *port) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ssize_t r;
    do {
        r = recvfrom(fd, buf, n, 0, reinterpret_cast<sockaddr *>(&sa), &len);
    } while (r < 0 && errno == EINTR);
    if (r >= 0) {
        if (addr) *addr = ntohl(sa.sin_addr.s_addr);
        if (port) *port = unmap_port(ntohs(sa.sin_port));
    }
    return r;
}

bool net_fd_open(int fd) {
    return fd >= 0 && fcntl(fd, F_GETFL) != -1;
}

int net_poll(void *pollfds, size_t n) {
    int r;
    do {
        r = poll(static_cast<pollfd *>(pollfds), nfds_t(n), 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

short net_poll1(int fd, short events) {
    pollfd p{fd, events, 0};
    return net_poll(&p, 1) > 0 ? p.revents : 0;
}

int net_pending_bytes(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

int net_so_error(int fd) {
    int e = 0;
    socklen_t len = sizeof e;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &len) != 0) return errno;
    return e;
}

bool net_has_peer(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    return getpeername(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0;
}

int net_maxseg(int fd) {
    int v = 0;
    socklen_t len = sizeof v;
    return getsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &v, &len) == 0 ? v : 0;
}

uint16_t net_local_port(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

void net_close(int fd) {
    if (fd < 0) return;
    auto it = g.icmp_peer.find(fd);
    if (it != g.icmp_peer.end()) {
        close(it->second);
        g.icmp_peer.erase(it);
    }
    close(fd);
}

int net_multicast(int fd, uint32_t group, uint32_t ifaddr, bool join) {
    if (!net_kernel()) {
        record(std::string(join ? "join " : "leave ") + net_ip_text(group) + " refused");
        return -1;
    }
    ip_mreq m{};
    m.imr_multiaddr.s_addr = htonl(group);
    m.imr_interface.s_addr = htonl(ifaddr);
    return setsockopt(fd, IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &m,
                      sizeof m) == 0
               ? 0
               : -1;
}

// Interfaces.

int net_if_set(const char *ifname, uint32_t addr, uint32_t mask) {
    record(std::string("addr ") + ifname + " " + net_ip_text(addr) + "/" + net_ip_text(mask));
    if (!net_kernel()) {
        SimIf *i = sim_if(ifname);
        if (!i) return -1;
        std::lock_guard lock(g_mu);
        i->addr = addr;
        i->mask = mask;
        i->up = true;
        return 0;
    }
    int s = ifreq_socket();
    if (s < 0) return -1;
    ifreq r{};
    std::snprintf(r.ifr_name, IFNAMSIZ, "%s", ifname);
    int rc = -1;
    if (ioctl(s, SIOCGIFINDEX, &r) == 0 && ioctl(s, SIOCGIFFLAGS, &r) == 0) {
        short flags = r.ifr_flags;
        ifreq a{};
        std::snprintf(a.ifr_name, IFNAMSIZ, "%s", ifname);
        if (ioctl(s, SIOCGIFADDR, &a) == 0) ioctl(s, SIOCDIFADDR, &a);
        set_sin(&a.ifr_addr, addr);
        if (ioctl(s, SIOCSIFADDR, &a) == 0) {
            set_sin(&a.ifr_netmask, mask);
            if (addr == 0 || ioctl(s, SIOCSIFNETMASK, &a) == 0) {
                r.ifr_flags = short(flags | IFF_UP);
                rc = ioctl(s, SIOCSIFFLAGS, &r) == 0 ? 0 : -1;
            }
        }
    }
    close(s);
    return rc;
}

int net_if_get(const char *ifname, uint32_t *addr, uint32_t *mask) {
    if (!net_kernel()) {
        SimIf *i = sim_if(ifname);
        if (!i) return -1;
        *addr = i->addr;
        *mask = i->mask;
        return 0;
    }
    int s = ifreq_socket();
    if (s < 0) return -1;
    ifreq r{};
    std::snprintf(r.ifr_name, IFNAMSIZ, "%s", ifname);
    *addr = *mask = 0;
    if (ioctl(s, SIOCGIFADDR, &r) == 0)
        *addr = ntohl(reinterpret_cast<sockaddr_in *>(&r.ifr_addr)->sin_addr.s_addr);
    if (ioctl(s, SIOCGIFNETMASK, &r) == 0)
        *mask = ntohl(reinterpret_cast<sockaddr_in *>(&r.ifr_netmask)->sin_addr.s_addr);
    close(s);
    return 0;
}

int net_if_disable(const char *ifname) {
    record(std::string("down ") + ifname);
    if (!net_kernel()) {
        SimIf *i = sim_if(ifname);
        if (!i) return -1;
        std::lock_guard lock(g_mu);
        i->addr = i->mask = 0;
        i->up = false;
        return 0;
    }
    int s = ifreq_socket();
    if (s < 0) return -1;
    ifreq r{};
    std::snprintf(r.ifr_name, IFNAMSIZ, "%s", ifname);
    if (ioctl(s, SIOCGIFINDEX, &r) == 0) {
        ifreq a{};
        std::snprintf(a.ifr_name, IFNAMSIZ, "%s", ifname);
        if (ioctl(s, SIOCGIFADDR, &a) == 0) ioctl(s, SIOCDIFADDR, &a);
        set_sin(&a.ifr_addr, 0);
        ioctl(s, SIOCSIFADDR, &a);
    }
    int rc = -1;
    if (ioctl(s, SIOCGIFFLAGS, &r) == 0) {
        r.ifr_flags = short(r.ifr_flags & ~IFF_UP);
        rc = ioctl(s, SIOCSIFFLAGS, &r) == 0 ? 0 : -1;
    }
    close(s);
    return rc;
}

int net_if_link(const char *ifname, bool *running, int *speed_mbit, bool *full) {
    *running = false;
    *speed_mbit = 0;
    *full = false;
    if (!net_kernel()) {
        SimIf *i = sim_if(ifname);
        if (!i) return -1;
        std::string key = std::string("net.") + ifname;
        bool link = i->link >= 0 ? i->link == 1 : config(key + ".link", "up") == "up";
        *running = i->up && link;
        *speed_mbit = int(config_int(key + ".speed", 100));
        *full = config(key + ".duplex", "full") == "full";
        return 0;
    }
    int s = ifreq_socket();
    if (s < 0) return -1;
    ifreq r{};
    std::snprintf(r.ifr_name, IFNAMSIZ, "%s", ifname);
    int rc = ioctl(s, SIOCGIFFLAGS, &r);
    if (rc == 0 && (r.ifr_flags & IFF_RUNNING)) {
        *running = true;
        ethtool_cmd cmd{};
        cmd.cmd = ETHTOOL_GSET;
        r.ifr_data = reinterpret_cast<char *>(&cmd);
        if (ioctl(s, SIOCETHTOOL, &r) == 0) {
            uint32_t sp = ethtool_cmd_speed(&cmd);
            *speed_mbit = sp == uint32_t(SPEED_UNKNOWN) ? 0 : int(sp);
            *full = cmd.duplex == DUPLEX_FULL;
        }
    }
    close(s);
    return rc == 0 ? 0 : -1;
}

int net_gateway(const char *ifname, uint32_t gateway) {
    record(std::string("gateway ") + ifname + " " + net_ip_text(gateway));
    if (!net_kernel()) {
        SimIf *i = sim_if(ifname);
        if (!i) return -1;
        i->gateway = gateway;
        return 0;
    }
    int s = ifreq_socket();
    if (s < 0) return -1;
    rtentry rt{};
    set_sin(&rt.rt_dst, 0);
    set_sin(&rt.rt_genmask, 0);
    set_sin(&rt.rt_gateway, gateway);
    rt.rt_flags = RTF_UP | RTF_GATEWAY;
    char dev[IFNAMSIZ];
    std::snprintf(dev, sizeof dev, "%s", ifname);
    rt.rt_dev = dev;
    ioctl(s, SIOCDELRT, &rt);
    int rc = ioctl(s, SIOCADDRT, &rt) == 0 ? 0 : -1;
    close(s);
    return rc;
}

int net_arp(const char *ifname, uint32_t addr, const uint8_t mac[6]) {
    char m[24];
    std::snprintf(m, sizeof m, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    record(std::string("arp ") + ifname + " " + net_ip_text(addr) + " " + m);
    if (!net_kernel()) return sim_if(ifname) ? 0 : -1;
    int s = ifreq_socket();
    if (s < 0) return -1;
    arpreq a{};
    set_sin(&a.arp_pa, addr);
    a.arp_ha.sa_family = ARPHRD_ETHER;
    std::memcpy(a.arp_ha.sa_data, mac, 6);
    a.arp_flags = ATF_PERM | ATF_COM;
    std::snprintf(a.arp_dev, sizeof a.arp_dev, "%s", ifname);
    int rc = ioctl(s, SIOCSARP, &a) == 0 ? 0 : -1;
    close(s);
    return rc;
}

int net_hwaddr(const char *ifname, const uint8_t mac[6]) {
    char m[24];
    std::snprintf(m, sizeof m, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    record(std::string("mac ") + ifname + " " + m);
    if (!net_kernel()) {
        SimIf *i = sim_if(ifname);
        if (!i) {
            errno = ENODEV;
            return -1;
        }
        std::memcpy(i->mac, mac, 6);
        return 0;
    }
    int s = ifreq_socket();
    if (s < 0) return -1;
    ifreq r{};
    std::snprintf(r.ifr_name, IFNAMSIZ, "%s", ifname);
    r.ifr_hwaddr.sa_family = 1;
    std::memcpy(r.ifr_hwaddr.sa_data, mac, 6);
    int rc = ioctl(s, SIOCSIFHWADDR, &r) == 0 ? 0 : -1;
    int e = errno;
    close(s);
    errno = e;
    return rc;
}

int net_hwaddr_get(const char *ifname, uint8_t mac[6]) {
    if (!net_kernel()) {
        SimIf *i = sim_if(ifname);
        if (!i) return -1;
        std::memcpy(mac, i->mac, 6);
        return 0;
    }
    int s = ifreq_socket();
    if (s < 0) return -1;
    ifreq r{};
    std::snprintf(r.ifr_name, IFNAMSIZ, "%s", ifname);
    int rc = ioctl(s, SIOCGIFHWADDR, &r) == 0 ? 0 : -1;
    if (rc == 0) std::memcpy(mac, r.ifr_hwaddr.sa_data, 6);
    close(s);
    return rc;
}

int net_icmp_open(const char *ifname) {
    if (!net_kernel()) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
        int a = nonblocking(no_zero(sv[0]));
        int b = nonblocking(no_zero(sv[1]));
        if (a < 0 || b < 0) {
            if (a >= 0) close(a);
            if (b >= 0) close(b);
            return -1;
        }
        g.icmp_peer[a] = b;
        return a;
    }
    int fd = nonblocking(no_zero(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)));
    if (fd < 0) return -1;
    int one = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, ifname, socklen_t(std::strlen(ifname))) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_HDRINCL, &one, sizeof one) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

ssize_t net_icmp_send(int fd, const uint8_t *pkt, size_t n, uint32_t dst) {
    if (!net_kernel()) {
        auto it = g.icmp_peer.find(fd);
        if (it == g.icmp_peer.end() || n < 28 || !loopback(dst)) {
            errno = ENETUNREACH;
            return -1;
        }
        // The loopback answers: an echo reply from the target to the sender.
        uint8_t reply[28];
        std::memcpy(reply, pkt, 28);
        std::memcpy(reply + 12, pkt + 16, 4);
        std::memcpy(reply + 16, pkt + 12, 4);
        reply[20] = 0; // echo reply
        uint32_t sum = (uint32_t(reply[22]) << 8 | reply[23]) + 0x0800;
        sum = (sum & 0xFFFF) + (sum >> 16);
        reply[22] = uint8_t(sum >> 8);
        reply[23] = uint8_t(sum);
        if (write(it->second, reply, sizeof reply) != ssize_t(sizeof reply)) return -1;
        return ssize_t(n);
    }
    sockaddr_in sa = sin_of(dst, 0);
    return sendto(fd, pkt, n, 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
}

ssize_t net_icmp_recv(int fd, uint8_t *buf, size_t n, uint32_t *from) {
    if (!net_kernel()) {
        if (g.icmp_peer.find(fd) == g.icmp_peer.end()) return -1;
        uint8_t pkt[64];
        ssize_t r = read(fd, pkt, sizeof pkt);
        if (r < 20) return -1;
        *from =
            uint32_t(pkt[12]) << 24 | uint32_t(pkt[13]) << 16 | uint32_t(pkt[14]) << 8 | pkt[15];
        size_t k = std::min(size_t(r), n);
        std::memcpy(buf, pkt, k);
        return ssize_t(k);
    }
    uint32_t addr = 0;
    uint16_t port = 0;
    ssize_t r = net_recvfrom(fd, buf, n, &addr, &port);
    if (r >= 0) *from = addr;
    return r;
}

void net_sim_link(const std::string &ifname, bool up) {
    std::lock_guard lock(g_mu);
    if (SimIf *i = sim_if(ifname.c_str())) i->link = up ? 1 : 0;
}

std::vector<std::string> net_requests() {
    std::lock_guard lock(g_mu);
    return g.requests;
}

std::string net_describe() {
    std::string out;
    for (const SimIf &i : g.ifs) {
        uint32_t addr = i.addr, mask = i.mask;
        if (net_kernel()) net_if_get(i.name, &addr, &mask);
        bool running;
        int speed;
        bool full;
        net_if_link(i.name, &running, &speed, &full);
        char line[200];
        std::snprintf(line, sizeof line, "%s %s/%s gateway %s link %s %d %s\n", i.name,
                      net_ip_text(addr).c_str(), net_ip_text(mask).c_str(),
                      net_ip_text(i.gateway).c_str(), running ? "up" : "down", speed,
                      full ? "full" : "half");
        out += line;
    }
    return out;
}

void net_reset() {
    std::lock_guard lock(g_mu);
    for (auto &[a, b] : g.icmp_peer) {
        close(a);
        close(b);
    }
    g = State{};
}

} // namespace host
