// Forwards the network subsystem's calls to the host's network backends.
#include "platform/netif.h"

#include "host/netsock.h"

namespace pnet {

bool net_kernel() {
    return host::net_kernel();
}
uint16_t net_map_port(uint16_t port) {
    return host::net_map_port(port);
}
int net_socket(bool stream, const char *ifname) {
    return host::net_socket(stream, ifname);
}
int net_bind(int fd, uint16_t port) {
    return host::net_bind(fd, port);
}
int net_listen(int fd, int backlog) {
    return host::net_listen(fd, backlog);
}
int net_accept(int fd, uint32_t *peer_addr, uint16_t *peer_port_raw) {
    return host::net_accept(fd, peer_addr, peer_port_raw);
}
int net_connect(int fd, uint32_t addr, uint16_t port) {
    return host::net_connect(fd, addr, port);
}
ssize_t net_send(int fd, const void *data, size_t n) {
    return host::net_send(fd, data, n);
}
ssize_t net_recv(int fd, void *buf, size_t n) {
    return host::net_recv(fd, buf, n);
}
ssize_t net_sendto(int fd, const void *data, size_t n, uint32_t addr, uint16_t port) {
    return host::net_sendto(fd, data, n, addr, port);
}
ssize_t net_recvfrom(int fd, void *buf, size_t n, uint32_t *addr, uint16_t *port) {
    return host::net_recvfrom(fd, buf, n, addr, port);
}
bool net_fd_open(int fd) {
    return host::net_fd_open(fd);
}
int net_poll(void *pollfds, size_t n) {
    return host::net_poll(pollfds, n);
}
short net_poll1(int fd, short events) {
    return host::net_poll1(fd, events);
}
int net_pending_bytes(int fd) {
    return host::net_pending_bytes(fd);
}
int net_so_error(int fd) {
    return host::net_so_error(fd);
}
bool net_has_peer(int fd) {
    return host::net_has_peer(fd);
}
int net_maxseg(int fd) {
    return host::net_maxseg(fd);
}
uint16_t net_local_port(int fd) {
    return host::net_local_port(fd);
}
void net_close(int fd) {
    host::net_close(fd);
}
int net_multicast(int fd, uint32_t group, uint32_t ifaddr, bool join) {
    return host::net_multicast(fd, group, ifaddr, join);
}
int net_if_set(const char *ifname, uint32_t addr, uint32_t mask) {
    return host::net_if_set(ifname, addr, mask);
}
int net_if_get(const char *ifname, uint32_t *addr, uint32_t *mask) {
    return host::net_if_get(ifname, addr, mask);
}
int net_if_disable(const char *ifname) {
    return host::net_if_disable(ifname);
}
int net_if_link(const char *ifname, bool *running, int *speed_mbit, bool *full) {
    return host::net_if_link(ifname, running, speed_mbit, full);
}
int net_gateway(const char *ifname, uint32_t gateway) {
    return host::net_gateway(ifname, gateway);
}
int net_arp(const char *ifname, uint32_t addr, const uint8_t mac[6]) {
    return host::net_arp(ifname, addr, mac);
}
int net_hwaddr(const char *ifname, const uint8_t mac[6]) {
    return host::net_hwaddr(ifname, mac);
}
int net_hwaddr_get(const char *ifname, uint8_t mac[6]) {
    return host::net_hwaddr_get(ifname, mac);
}
int net_icmp_open(const char *ifname) {
    return host::net_icmp_open(ifname);
}
ssize_t net_icmp_send(int fd, const uint8_t *pkt, size_t n, uint32_t dst) {
    return host::net_icmp_send(fd, pkt, n, dst);
}
ssize_t net_icmp_recv(int fd, uint8_t *buf, size_t n, uint32_t *from) {
    return host::net_icmp_recv(fd, buf, n, from);
}
void net_sim_link(const std::string &ifname, bool up) {
    host::net_sim_link(ifname, up);
}
std::vector<std::string> net_requests() {
    return host::net_requests();
}
std::string net_describe() {
    return host::net_describe();
}
std::string net_ip_text(uint32_t addr) {
    return host::net_ip_text(addr);
}
void net_reset() {
    host::net_reset();
}

} // namespace pnet
