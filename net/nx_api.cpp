// The socket layer over the host's non-blocking sockets (platform/netif.h).
#include "net/nx_api.h"

#include "platform/netif.h"
#include "platform/pass_wait.h"
#include "platform/tick.h"
#include "plc/appblocks.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

NxTcpSocket *ConnSock[kConnSockSlots];

namespace {

struct State {
    std::map<int, std::string> unsent; // per data descriptor: bytes the kernel has not taken
    uint32_t speed_stamp = 0;          // one time stamp for every instance's speed read
    bool speed_pending = false;
    uint32_t ping_id = 0x2961;
    std::vector<pollfd> fds; // EnetThread's poll set, kept between passes
    std::vector<NxTcpSocket *> polled;
    std::vector<int> listen_served; // listening descriptors offered this pass
};
State g;

void close_fd(int fd) {
    if (fd < 0) return;
    PassWait_Unwatch(fd);
    g.unsent.erase(fd);
    pnet::net_close(fd);
}

void enter(NxTcpSocket *s) {
    int free_slot = -1;
    for (int i = 0; i < kConnSockSlots; ++i) {
        if (ConnSock[i] == s) return; // a record enters the table once
        if (!ConnSock[i] && free_slot < 0) free_slot = i;
    }
    if (free_slot >= 0) ConnSock[free_slot] = s;
}

int data_fd(const NxTcpSocket *s) {
    return s->own_fd ? s->fd : s->accepted_fd;
}

void watch_data(const NxTcpSocket *s) {
    int fd = data_fd(s);
    auto it = g.unsent.find(fd);
    bool tail = it != g.unsent.end() && !it->second.empty();
    PassWait_Watch(fd, short(POLLIN | POLLRDHUP | (tail ? POLLOUT : 0)));
}

uint32_t create_fd(NxTcpSocket *s, bool stream) {
    const char *ifname = s->ip && s->ip->name ? s->ip->name : nullptr;
    int fd = pnet::net_socket(stream, ifname);
    if (fd < 0) return kNxNotSuccessful;
    s->fd = fd;
    return kNxSuccess;
}

// Writes what is queued for the descriptor; true when nothing is left.
bool flush(int fd) {
    auto it = g.unsent.find(fd);
    if (it == g.unsent.end()) return true;
    std::string &q = it->second;
    while (!q.empty()) {
        ssize_t r = pnet::net_send(fd, q.data(), q.size());
        if (r <= 0) break;
        q.erase(0, size_t(r));
    }
    if (!q.empty()) return false;
    g.unsent.erase(it);
    return true;
}

NxPacket *at(NxPacketPool *pool, uint32_t offset) {
    return reinterpret_cast<NxPacket *>(pool->start + offset);
}

NxPacket *take(NxPacketPool *pool) {
    if (!pool || !pool->first) return nullptr;
    NxPacket *p = pool->first;
    uint32_t passed = 0;
    for (uint32_t n = 0; n < pool->total; ++n) {
        if (p->state == kNxPacketFree) {
            pool->available = pool->total - passed;
            p->state = kNxPacketAllocated;
            p->append = p->prepend;
            return p;
        }
        ++passed;
        p = at(pool, p->next);
    }
    pool->available = 0;
    return nullptr;
}

uint16_t checksum(const uint8_t *d, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += uint32_t(d[i]) << 8 | d[i + 1];
    if (n & 1) sum += uint32_t(d[n - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

// What one receive may move into a packet: 1500 bytes, or less where the
// pool's payload is smaller.
uint32_t room(const NxPacket *p) {
    uint32_t r = p->data_end - p->prepend;
    return r < kNxReceiveMax ? r : kNxReceiveMax;
}

void put_be32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

} // namespace

// ---- pool ----------------------------------------------------------------

uint32_t _nx_system_initialize() {
    PortDisable("eth1");
    return kNxSuccess;
}

uint32_t _nx_packet_pool_create(NxPacketPool *pool, const char *name, uint32_t payload,
                                void *storage, uint32_t storage_size) {
    std::memset(pool, 0, sizeof *pool);
    uint32_t stride = kNxPacketHeader + payload;
    uint32_t count = stride ? storage_size / stride : 0;
    pool->name = name;
    pool->start = static_cast<uint8_t *>(storage);
    pool->first = count ? reinterpret_cast<NxPacket *>(storage) : nullptr;
    pool->total = pool->available = count;
    pool->size = storage_size;
    pool->payload = payload;
    for (uint32_t i = 0; i < count; ++i) {
        NxPacket *p = at(pool, i * stride);
        std::memset(p, 0, sizeof *p);
        p->state = kNxPacketFree;
        p->next = i + 1 < count ? (i + 1) * stride : 0;
        p->data_start = p->prepend = p->append = kNxPacketHeader;
        p->data_end = kNxPacketHeader + payload;
    }
    return kNxSuccess;
}

uint32_t _nx_packet_allocate(NxPacketPool *pool, NxPacket **out, uint32_t, uint32_t) {
    *out = take(pool);
    return *out ? kNxSuccess : kNxNotSuccessful;
}

uint32_t _nx_packet_release(NxPacket *p) {
    // A packet that was never handed out is left alone.
    if (!p || p->state != kNxPacketAllocated) return kNxInvalidPacket;
    p->state = kNxPacketFree;
    p->prepend = p->append = p->data_start;
    p->length = 0;
    p->queue_next = 0;
    p->last = 0;
    return kNxSuccess;
}

uint32_t _nx_packet_data_append(NxPacket *p, const void *data, uint32_t size, NxPacketPool *,
                                uint32_t) {
    if (!p || p->state != kNxPacketAllocated) return kNxNotSuccessful;
    // Packets are never chained: what does not fit in the payload is refused.
    if (size > p->data_end - p->append) return kNxNotSuccessful;
    std::memcpy(reinterpret_cast<uint8_t *>(p) + p->append, data, size);
    p->append += size;
    p->length += size;
    return kNxSuccess;
}

uint32_t _nx_packet_copy(NxPacket *p, NxPacket **out, NxPacketPool *pool, uint32_t wait) {
    *out = nullptr;
    if (!p || p->state != kNxPacketAllocated || p->length == 0) return kNxInvalidPacket;
    NxPacket *c;
    if (_nx_packet_allocate(pool, &c, 0, wait) != kNxSuccess) return kNxNotSuccessful;
    if (_nx_packet_data_append(c, Nx_PacketData(p), p->length, pool, wait) != kNxSuccess ||
        c->length != p->length) {
        _nx_packet_release(c);
        return kNxInvalidPacket;
    }
    *out = c;
    return kNxSuccess;
}

// ---- interfaces ----------------------------------------------------------

uint32_t _nx_ip_create(NxIpInstance *ip, const char *name, uint32_t address, uint32_t mask,
                       NxPacketPool *pool, uint32_t (*)(uint32_t), void *, uint32_t, uint32_t) {
    std::memset(ip, 0, sizeof *ip);
    ip->icmp_fd = -1;
    ip->network = address & mask;
    ip->pool = pool;
    ip->created = 1;
    ip->address = address;
    ip->mask = mask;
    ip->name = name;
    if (std::strcmp(name, "mlan0") == 0) {
        ip->index = 2;
        return kNxSuccess;
    }
    if (std::strcmp(name, "uap0") == 0) {
        ip->index = 3;
        return kNxSuccess;
    }
    ip->index = std::strncmp(name, "eth", 3) == 0 ? uint32_t(name[3] - '0') : 0;
    return _nx_ip_address_set(ip, address, mask) == kNxSuccess ? kNxSuccess : kNxNotSuccessful;
}

uint32_t _nx_ip_address_set(NxIpInstance *ip, uint32_t address, uint32_t mask) {
    if (address == 0) {
        if (ip->fallback_in_force) {
            ip->fallback_in_force = 0;
        } else if (ip->to_be_cleared) {
            ip->to_be_cleared = 0;
            PortDisable(ip->name);
            ip->mask = mask;
            ip->address = 0;
            return kNxSuccess;
        }
    }
    if (pnet::net_if_set(ip->name, address, mask) != 0) return kNxNotSuccessful;
    if (ip->gateway) _nx_ip_gateway_address_set(ip, ip->gateway);
    ip->address = address;
    ip->mask = mask;
    return kNxSuccess;
}

uint32_t _nx_ip_address_get(NxIpInstance *ip) {
    uint32_t a, m;
    if (pnet::net_if_get(ip->name, &a, &m) != 0) return kNxNotSuccessful;
    ip->address = a;
    ip->mask = m;
    return kNxSuccess;
}

uint32_t _nx_ip_gateway_address_set(NxIpInstance *ip, uint32_t gateway) {
    if (pnet::net_gateway(ip->name, gateway) != 0) return kNxNotSuccessful;
    ip->gateway = gateway;
    return kNxSuccess;
}

uint32_t _nx_ip_driver_direct_command(NxIpInstance *ip, uint32_t command, uint32_t *value) {
    if (!value) return kNxSuccess;
    *value = 0;
    if (ip->address == 0) return kNxSuccess;
    bool running = false, full = false;
    int speed = 0;
    pnet::net_if_link(ip->name, &running, &speed, &full);
    if (running) {
        uint32_t now = FPGA_GetFrt();
        bool read = false;
        if (!ip->link_up) {
            read = true; // the link has just come up
            g.speed_stamp = now;
            g.speed_pending = true;
        } else if (g.speed_pending && now - g.speed_stamp >= 100'001) {
            read = true;
            g.speed_pending = false;
        }
        if (read) {
            uint32_t code = speed == 100 ? 1 : speed == 1000 ? 2 : 0;
            ip->speed_duplex = code | (full ? 0x100 : 0);
        }
        ip->link_up = 1;
    } else {
        ip->link_up = 0;
    }
    switch (command) {
    case kNxLinkSpeed:
        *value = ip->speed_duplex & 0xFF;
        break;
    case kNxLinkDuplex:
        *value = (ip->speed_duplex & 0x100) ? 1 : 0;
        break;
    case kNxLinkRxCount:
        *value = ip->link_up ? ip->received : 0;
        break;
    case kNxLinkTxCount:
        *value = ip->link_up ? ip->sent : 0;
        break;
    default:
        break;
    }
    return kNxSuccess;
}

uint32_t _nx_arp_dynamic_entry_set(NxIpInstance *ip, uint32_t address, uint32_t mac_high,
                                   uint32_t mac_low) {
    uint8_t mac[6] = {uint8_t(mac_high >> 8), uint8_t(mac_high),     uint8_t(mac_low >> 24),
                      uint8_t(mac_low >> 16), uint8_t(mac_low >> 8), uint8_t(mac_low)};
    return pnet::net_arp(ip->name, address, mac) == 0 ? kNxSuccess : kNxNotSuccessful;
}

uint32_t _nx_igmp_multicast_join(NxIpInstance *ip, uint32_t group, NxUdpSocket *socket) {
    if (socket->fd < 0) return kNxNotSuccessful;
    // A refused join leaves the socket as it was: usable for unicast.
    if (pnet::net_multicast(socket->fd, group, ip->address, true) != 0) return kNxNotSuccessful;
    if (ip->mcast_count < 7) ip->mcast[ip->mcast_count++] = group;
    return kNxSuccess;
}

uint32_t _nx_igmp_multicast_leave(NxIpInstance *ip, uint32_t group, NxUdpSocket *socket) {
    if (socket->fd < 0 || !pnet::net_fd_open(socket->fd)) return kNxNotSuccessful;
    return pnet::net_multicast(socket->fd, group, ip->address, false) == 0 ? kNxSuccess
                                                                           : kNxNotSuccessful;
}

uint32_t _nx_icmp_enable(NxIpInstance *ip) {
    ip->ping_target = 0;
    ip->ping_outstanding = 0;
    ip->ping_sent_at = 0;
    ip->ping_elapsed = 0;
    if (ip->icmp_fd >= 0) close_fd(ip->icmp_fd);
    ip->icmp_fd = pnet::net_icmp_open(ip->name);
    if (ip->icmp_fd < 0) return kNxNotSuccessful;
    PassWait_Watch(ip->icmp_fd, POLLIN);
    return kNxSuccess;
}

uint32_t _nx_icmp_ping(NxIpInstance *ip, uint32_t target, const void *, uint32_t,
                       NxPacket **response, uint32_t wait_ms) {
    if (response) *response = nullptr;
    uint32_t now = FPGA_GetFrt();
    uint32_t waited = now - ip->ping_sent_at;
    if (ip->ping_outstanding && waited >= wait_ms * 10) {
        ip->ping_outstanding = 0;
        ip->ping_sent_at = now;
        return kNxNoResponse;
    }
    if (target == ip->ping_target && ip->ping_outstanding) {
        NxPacket *p = take(ip->pool);
        if (!p) return kNxNotSuccessful;
        if (room(p) < 28) {
            _nx_packet_release(p);
            return kNxNotSuccessful;
        }
        uint32_t from = 0;
        ssize_t r =
            ip->icmp_fd >= 0 ? pnet::net_icmp_recv(ip->icmp_fd, Nx_PacketData(p), 28, &from) : -1;
        uint32_t result = kNxNotSuccessful;
        if (r > 0 && from == target) {
            if (response) *response = p;
            ip->received++;
            result = kNxSuccess;
            ip->ping_elapsed = waited;
        }
        // The answer only tells that one came: the packet goes back at once.
        _nx_packet_release(p);
        if (result == kNxSuccess && waited >= wait_ms * 10) ip->ping_outstanding = 0;
        return result;
    }
    ip->ping_outstanding = 0;
    NxPacket *p = take(ip->pool);
    if (!p) return kNxNotSuccessful;
    if (room(p) < 28) {
        _nx_packet_release(p);
        return kNxNotSuccessful;
    }
    uint8_t *d = Nx_PacketData(p);
    std::memset(d, 0, 28);
    d[0] = 0x45;
    d[3] = 28;
    d[8] = 64;
    d[9] = 1;
    put_be32(d + 12, ip->address);
    put_be32(d + 16, target);
    g.ping_id = g.ping_id * 1103515245u + 12345u;
    uint16_t id = uint16_t(g.ping_id >> 16);
    d[20] = 8;
    d[24] = uint8_t(id >> 8);
    d[25] = uint8_t(id);
    uint16_t sum = checksum(d + 20, 8);
    d[22] = uint8_t(sum >> 8);
    d[23] = uint8_t(sum);
    p->length = 28;
    uint32_t result = kNxNotSuccessful;
    if (ip->icmp_fd >= 0 && pnet::net_icmp_send(ip->icmp_fd, d, 28, target) == 28) {
        result = kNxInProgress;
        ip->ping_outstanding = 1;
        ip->ping_target = target;
        ip->sent++;
    }
    _nx_packet_release(p);
    ip->ping_sent_at = now;
    return result;
}

uint32_t PortDisable(const char *ifname) {
    pnet::net_if_disable(ifname);
    return kNxSuccess;
}

uint32_t SetNonBlocking(int fd) {
    // Every descriptor the host layer hands out is non-blocking already.
    return pnet::net_fd_open(fd) ? kNxSuccess : kNxNotSuccessful;
}

namespace {
void write_mac_text(int port) {
    const uint8_t *m = tinyImage + 8 + 6 * port;
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4],
                  m[5]);
    std::memcpy(tinyImage + 32 + 18 * port, text, 18);
}
} // namespace

void Etn_GetMacId() {
    pnet::net_hwaddr_get("eth0", tinyImage + 8);
    pnet::net_hwaddr_get("eth1", tinyImage + 14);
}

void Etn_SetMacId(const uint8_t *mac, int port) {
    port = port ? 1 : 0;
    if (pnet::net_hwaddr(port ? "eth1" : "eth0", mac) != 0) std::perror("ioctl(SIOCSIFHWADDR)");
    write_mac_text(port);
}

uint32_t _nx_arp_enable(NxIpInstance *) {
    return kNxSuccess;
}
uint32_t _nx_igmp_enable(NxIpInstance *) {
    return kNxSuccess;
}
uint32_t _nx_udp_enable(NxIpInstance *) {
    return kNxSuccess;
}
uint32_t _nx_tcp_enable(NxIpInstance *) {
    return kNxSuccess;
}
uint32_t _nx_tcp_socket_transmit_configure(NxTcpSocket *, uint32_t, uint32_t, uint32_t, uint32_t) {
    return kNxSuccess;
}
void Etn_IrqInit() {}
void nx_application_define() {}
uint32_t Etn_Driver(uint32_t value) {
    return value;
}

// ---- TCP -----------------------------------------------------------------

uint32_t _nx_tcp_socket_create(NxIpInstance *ip, NxTcpSocket *s, const char *name, uint32_t tos,
                               uint32_t fragment, uint32_t ttl, uint32_t window,
                               NxTcpUrgentCallback urgent, NxTcpDisconnectCallback disconnect) {
    if (name && s->name && s->fd >= 0 && pnet::net_fd_open(s->fd)) close_fd(s->fd);
    if (name) s->ip = ip;
    s->fd = -1;
    if (create_fd(s, true) != kNxSuccess) return kNxNotSuccessful;
    if (name) {
        s->fragment = fragment & 0x4000;
        s->mss = 1536;
        s->writable = 1;
        s->tos = tos;
        s->ttl = ttl;
        s->window_initial = s->window_current = s->window_advertised = window;
        s->urgent = urgent;
        s->disconnect = disconnect;
        s->name = name;
        s->listen_cb = nullptr;
        s->transmit_blocked = 0;
    }
    s->accepted_fd = -1;
    s->state = kNxTcpCreated;
    s->own_fd = 1;
    s->receive_notify = nullptr;
    return kNxSuccess;
}

uint32_t _nx_tcp_client_socket_bind(NxTcpSocket *s, uint32_t port, uint32_t) {
    if (s->bound) return kNxAlreadyBound;
    // No socket ever holds descriptor 0: a record that was only zeroed has none.
    if (s->fd <= 0 &&
        _nx_tcp_socket_create(s->ip, s, nullptr, 0, 0, 0, 0, nullptr, nullptr) != kNxSuccess)
        return kNxNotSuccessful;
    if (port && pnet::net_bind(s->fd, uint16_t(port)) != 0) return kNxNotBound;
    s->bound = 1;
    s->local_port = port;
    return kNxSuccess;
}

uint32_t _nx_tcp_client_socket_unbind(NxTcpSocket *s) {
    if (!s->bound) return kNxNotBound;
    if (s->state != kNxTcpCreated) return kNxNotCreated;
    s->bound = 0;
    return kNxSuccess;
}

uint32_t _nx_tcp_server_socket_listen(NxIpInstance *, uint32_t port, NxTcpSocket *s, uint32_t,
                                      NxTcpListenCallback callback) {
    if (s->state != kNxTcpCreated) return kNxNotCreated;
    if (s->bound) return kNxAlreadyBound;
    uint32_t r = _nx_tcp_client_socket_bind(s, port, 0);
    if (r != kNxSuccess) return r == kNxNotSuccessful ? r : kNxNotBound;
    // Port 0 listens on a port the kernel picks (tests side by side).
    if (port == 0 && pnet::net_bind(s->fd, 0) != 0) {
        s->bound = 0;
        return kNxNotBound;
    }
    if (pnet::net_listen(s->fd, 16) != 0) return kNxNotSuccessful;
    s->state = kNxTcpListening;
    s->listen_queue = 16;
    s->own_fd = 0;
    if (callback) s->listen_cb = callback;
    PassWait_Watch(s->fd, POLLIN);
    enter(s);
    return kNxSuccess;
}

uint32_t _nx_tcp_server_socket_relisten(NxIpInstance *ip, uint32_t port, NxTcpSocket *s) {
    if (s->state != kNxTcpCreated) return kNxNotCreated;
    NxTcpSocket *found = nullptr;
    for (NxTcpSocket *c : ConnSock)
        if (c && c->fd >= 0 && pnet::net_fd_open(c->fd) && !c->own_fd && c->local_port == port &&
            c->ip == ip) {
            found = c;
            break;
        }
    if (found) {
        if (s->fd >= 0 && s->fd != found->fd) close_fd(s->fd);
        s->fd = found->fd;
        s->local_port = port;
        s->bound = 1;
        s->state = kNxTcpListening;
        s->listen_cb = found->listen_cb;
        s->own_fd = 0;
        s->listen_queue = 16;
        enter(s);
        return kNxSuccess;
    }
    uint32_t r = _nx_tcp_server_socket_listen(ip, port, s, 0, nullptr);
    if (r != kNxSuccess || !s->listen_cb) return kNxNotSuccessful;
    return kNxSuccess;
}

uint32_t _nx_tcp_server_socket_accept(NxTcpSocket *s, uint32_t wait) {
    if (s->state != kNxTcpListening) return kNxNotListening;
    uint32_t addr = 0;
    uint16_t raw_port = 0;
    int c = pnet::net_accept(s->fd, &addr, &raw_port);
    if (c < 0) return kNxNotSuccessful;
    if (s->accepted_fd >= 0) close_fd(s->accepted_fd);
    s->mss = uint32_t(pnet::net_maxseg(c));
    s->state = kNxTcpEstablished;
    s->accepted_fd = c;
    s->peer_addr = addr;
    s->peer_port = raw_port;
    s->writable = 1;
    s->transmit_blocked = 0;
    watch_data(s);
    return wait ? kNxSuccess : kNxInProgress;
}

uint32_t _nx_tcp_server_socket_unaccept(NxTcpSocket *s) {
    if (s->accepted_fd < 0) return kNxNotSuccessful;
    close_fd(s->accepted_fd);
    s->accepted_fd = -1;
    if (s->state != kNxTcpCreated) s->state = kNxTcpListening;
    return kNxSuccess;
}

uint32_t _nx_tcp_server_socket_unlisten(NxIpInstance *ip, uint32_t port) {
    for (NxTcpSocket *c : ConnSock)
        if (c && c->fd >= 0 && pnet::net_fd_open(c->fd) && !c->own_fd && c->local_port == port &&
            c->ip == ip)
            _nx_tcp_socket_delete(c);
    return kNxSuccess;
}

uint32_t _nx_tcp_client_socket_connect(NxTcpSocket *s, uint32_t address, uint32_t port,
                                       uint32_t wait) {
    if (!s->bound) return kNxNotBound;
    if (s->state == kNxTcpEstablished) return kNxSuccess;
    if (s->state == kNxTcpConnecting) return kNxInProgress;
    if (s->state != kNxTcpCreated) return kNxNotCreated;
    int r = pnet::net_connect(s->fd, address, uint16_t(port));
    if (r < 0) return kNxNotConnected;
    s->peer_port = port;
    s->peer_addr = address;
    s->own_fd = 1;
    if (r == 0) {
        s->state = kNxTcpEstablished;
        s->mss = uint32_t(pnet::net_maxseg(s->fd));
        watch_data(s);
        return kNxSuccess;
    }
    s->state = kNxTcpConnecting;
    PassWait_Watch(s->fd, POLLOUT);
    enter(s);
    if (wait == 0) return kNxInProgress;
    s->state = kNxTcpEstablished;
    return kNxSuccess;
}

uint32_t _nx_tcp_socket_send(NxTcpSocket *s, NxPacket *p, uint32_t) {
    if (!p || p->state != kNxPacketAllocated) return kNxInvalidPacket;
    uint32_t result = kNxSuccess;
    int fd = data_fd(s);
    if (!s->bound) {
        result = kNxNotBound;
    } else if (s->state != kNxTcpEstablished) {
        result = kNxNotConnected;
    } else if (!s->writable) {
        result = kNxTxQueueDepth;
    } else if (pnet::net_fd_open(fd)) {
        const char *data = reinterpret_cast<const char *>(Nx_PacketData(p));
        size_t n = p->length;
        auto it = g.unsent.find(fd);
        if (it != g.unsent.end() && !it->second.empty()) {
            // Bytes still wait: these go behind them, in order, while room is left.
            if (it->second.size() + n > kNxSendQueueMax) {
                result = kNxTxQueueDepth;
            } else {
                it->second.append(data, n);
                flush(fd);
                s->ip->sent++;
            }
        } else {
            ssize_t r = pnet::net_send(fd, data, n);
            if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                result = kNxNotSuccessful;
            } else {
                size_t done = r < 0 ? 0 : size_t(r);
                // The kernel took part: the rest is written first when the socket is writable.
                if (done < n) g.unsent[fd].assign(data + done, n - done);
                s->ip->sent++;
            }
        }
        watch_data(s);
    }
    _nx_packet_release(p);
    return result;
}

uint32_t _nx_tcp_socket_receive(NxTcpSocket *s, NxPacket **out, uint32_t) {
    *out = nullptr;
    if (!s->bound) return kNxNotBound;
    int fd = data_fd(s);
    if (fd < 0 || !s->ip) return kNxNoPacket;
    NxPacket *p = take(s->ip->pool);
    if (!p) return kNxNoPacket;
    ssize_t r = pnet::net_recv(fd, Nx_PacketData(p), room(p));
    if (r <= 0) {
        _nx_packet_release(p);
        return kNxNoPacket;
    }
    p->length = uint32_t(r);
    p->append = p->prepend + uint32_t(r);
    s->receive_pending = 0;
    s->ip->received++;
    *out = p;
    return kNxSuccess;
}

uint32_t _nx_tcp_socket_receive_notify(NxTcpSocket *s, NxTcpReceiveNotify callback) {
    s->receive_notify = callback;
    return kNxSuccess;
}

uint32_t _nx_tcp_socket_disconnect(NxTcpSocket *s, uint32_t) {
    return _nx_tcp_socket_delete(s);
}

uint32_t _nx_tcp_socket_delete(NxTcpSocket *s) {
    if (s->fd < 0) return kNxSuccess;
    if (!s->own_fd) {
        NxTcpSocket *sharer = nullptr;
        for (NxTcpSocket *&c : ConnSock) {
            if (c == s) {
                c = nullptr;
                continue;
            }
            if (c && c->fd == s->fd && pnet::net_fd_open(c->fd) && !c->own_fd &&
                c->local_port == s->local_port && c->ip == s->ip) {
                sharer = c;
                break;
            }
        }
        if (s->accepted_fd >= 0) close_fd(s->accepted_fd);
        s->accepted_fd = -1;
        if (!sharer) close_fd(s->fd);
    } else {
        close_fd(s->fd);
    }
    s->state = kNxTcpCreated;
    s->fd = -1;
    s->bound = 0;
    return kNxSuccess;
}

uint32_t Nx_TcpUnsent(const NxTcpSocket *s) {
    auto it = g.unsent.find(data_fd(s));
    return it == g.unsent.end() ? 0 : uint32_t(it->second.size());
}

namespace {

// The descriptor and events a record is polled for in its state; -1 none.
int poll_target(const NxTcpSocket *s, short *events) {
    switch (s->state) {
    case kNxTcpConnecting:
        *events = POLLOUT;
        return s->fd;
    case kNxTcpEstablished:
        *events = short(POLLIN | POLLOUT | POLLPRI | POLLRDHUP);
        return data_fd(s);
    case kNxTcpListening:
        *events = POLLIN;
        return s->fd;
    default:
        return -1;
    }
}

} // namespace

void EnetThread() {
    // One poll over every registered descriptor, then the slots in order. A
    // callback may change records after its own; those are polled again alone.
    g.fds.clear();
    g.polled.clear();
    for (NxTcpSocket *s : ConnSock) {
        if (!s) continue;
        short ev = 0;
        int fd = poll_target(s, &ev);
        if (fd < 0) continue;
        g.fds.push_back(pollfd{fd, ev, 0});
        g.polled.push_back(s);
    }
    if (!g.fds.empty()) pnet::net_poll(g.fds.data(), g.fds.size());
    size_t k = 0;
    std::vector<int> &listen_served = g.listen_served;
    listen_served.clear();
    for (NxTcpSocket *&slot : ConnSock) {
        NxTcpSocket *s = slot;
        if (!s) continue;
        if (s->fd < 0 || !pnet::net_fd_open(s->fd)) {
            slot = nullptr;
            continue;
        }
        short ev = 0;
        int fd = poll_target(s, &ev);
        if (fd < 0) continue;
        short rev;
        while (k < g.polled.size() && g.polled[k] != s)
            ++k;
        if (k < g.polled.size() && g.fds[k].fd == fd && g.fds[k].events == ev) {
            rev = g.fds[k].revents;
            ++k;
        } else {
            rev = pnet::net_poll1(fd, ev);
        }
        if (s->state == kNxTcpConnecting) {
            if ((rev & (POLLOUT | POLLERR | POLLHUP)) && pnet::net_so_error(fd) == 0 &&
                pnet::net_has_peer(fd)) {
                s->state = kNxTcpEstablished;
                s->mss = uint32_t(pnet::net_maxseg(fd));
                watch_data(s);
            }
            continue;
        }
        if (s->state == kNxTcpEstablished) {
            if (s->receive_notify && (rev & POLLIN) && pnet::net_pending_bytes(fd) > 0) {
                s->receive_pending = 1;
                s->receive_notify(s);
                continue;
            }
            if (rev & POLLOUT) {
                bool done = flush(fd);
                s->writable = 1;
                s->transmit_blocked = 0;
                if (done) watch_data(s);
            } else {
                s->writable = 0;
                s->transmit_blocked = 2;
            }
            if (rev & (POLLRDHUP | POLLHUP)) {
                s->state = kNxTcpPeerClosed;
                if (s->disconnect) s->disconnect(s);
            }
            continue;
        }
        if (s->state == kNxTcpListening) {
            // Records sharing one listening descriptor are each offered the
            // connection while one still waits.
            bool again = false;
            for (int f : listen_served)
                again = again || f == fd;
            if (again) rev = pnet::net_poll1(fd, POLLIN);
            if (rev & POLLIN) {
                s->peer_port = 1;
                listen_served.push_back(fd);
                if (s->listen_cb) s->listen_cb(s, s->local_port, 1);
            }
        }
    }
}

// ---- UDP -----------------------------------------------------------------

uint32_t _nx_udp_socket_create(NxIpInstance *ip, NxUdpSocket *s, const char *name, uint32_t tos,
                               uint32_t fragment, uint32_t ttl, uint32_t queue_max) {
    if (name) {
        std::memset(s, 0, sizeof *s);
        s->tos = tos;
        s->fragment = fragment & 0x4000;
        s->ttl = ttl;
        s->queue_max = queue_max;
        s->ip = ip;
        s->name = name;
    }
    s->fd = pnet::net_socket(false, s->ip && s->ip->name ? s->ip->name : nullptr);
    return s->fd < 0 ? kNxNotSuccessful : kNxSuccess;
}

uint32_t _nx_udp_socket_bind(NxUdpSocket *s, uint32_t port, uint32_t) {
    if (s->bound) return kNxAlreadyBound;
    if (s->fd <= 0 && _nx_udp_socket_create(s->ip, s, nullptr, 0, 0, 0, 0) != kNxSuccess)
        return kNxNotSuccessful;
    if (port && pnet::net_bind(s->fd, uint16_t(port)) != 0) return kNxNotBound;
    s->bound = 1;
    s->local_port = port;
    PassWait_Watch(s->fd, POLLIN);
    return kNxSuccess;
}

uint32_t _nx_udp_socket_unbind(NxUdpSocket *s) {
    if (!s->bound) return kNxNotBound;
    s->bound = 0;
    return kNxSuccess;
}

uint32_t _nx_udp_socket_delete(NxUdpSocket *s) {
    close_fd(s->fd);
    s->fd = -1;
    s->bound = 0;
    return kNxSuccess;
}

uint32_t _nx_udp_socket_send(NxUdpSocket *s, NxPacket *p, uint32_t address, uint32_t port) {
    if (!p || p->state != kNxPacketAllocated) return kNxInvalidPacket;
    if (!s->bound) {
        _nx_packet_release(p);
        return kNxNotBound;
    }
    ssize_t r = pnet::net_sendto(s->fd, Nx_PacketData(p), p->length, address, uint16_t(port));
    _nx_packet_release(p);
    if (r < 0) return kNxNotSuccessful;
    s->ip->sent++;
    return kNxSuccess;
}

uint32_t _nx_udp_socket_receive_port_detail(NxUdpSocket *s, NxPacket **out, uint32_t *address,
                                            uint32_t *port) {
    *out = nullptr;
    if (!s->bound) return kNxNotBound;
    if (s->fd < 0 || !s->ip) return kNxNoPacket;
    NxPacket *p = take(s->ip->pool);
    if (!p) return kNxNoPacket;
    uint32_t a = 0;
    uint16_t pt = 0;
    ssize_t r = pnet::net_recvfrom(s->fd, Nx_PacketData(p), room(p), &a, &pt);
    if (r <= 0) {
        _nx_packet_release(p);
        return kNxNoPacket;
    }
    p->length = uint32_t(r);
    p->append = p->prepend + uint32_t(r);
    s->ip->received++;
    if (address) *address = a;
    if (port) *port = pt;
    *out = p;
    return kNxSuccess;
}

uint32_t _nx_udp_socket_receive(NxUdpSocket *s, NxPacket **out, uint32_t) {
    return _nx_udp_socket_receive_port_detail(s, out, nullptr, nullptr);
}

void Nx_Reset() {
    g = State{};
    std::memset(ConnSock, 0, sizeof ConnSock);
}
