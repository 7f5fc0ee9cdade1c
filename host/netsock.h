// The host's network: IPv4 sockets and the panel's four interfaces.
//
// Two backends. "sim" (the default) keeps eth0, eth1, mlan0 and uap0 as
// records: link, speed and duplex come from host.conf ("net.eth0.link = down",
// "net.eth0.speed = 1000", "net.eth0.duplex = half") or from `net_sim_link`;
// address, route, ARP and MAC requests are recorded and never applied; sockets
// bind 127.0.0.1; connections, datagrams and pings to anything outside
// 127.0.0.0/8 fail as unreachable; multicast is refused. "kernel" ("net.backend
// = kernel") applies the requests to the real interfaces and sends real ICMP,
// and is taken only inside a network namespace other than pid 1's.
//
// Every port bound or connected to passes through one mapping taken from
// PANEL_PORTS: "+N" adds N, "502:15020,80:8080" maps single ports; port 0
// stays 0 (the kernel picks one). A datagram's sender port is given back
// through the inverse mapping, so a reply sent to it arrives.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

bool net_kernel(); // the kernel backend is in force
uint16_t net_map_port(uint16_t port);

// Sockets. Descriptors are non-blocking and never 0; -1 on failure.
int net_socket(bool stream, const char *ifname);
int net_bind(int fd, uint16_t port); // 0 or -1
int net_listen(int fd, int backlog);
// Addresses and ports in host order, except *peer_port_raw: the 16 bits as
// the socket address holds them (network order).
int net_accept(int fd, uint32_t *peer_addr, uint16_t *peer_port_raw);
// 0 connected, 1 under way, -1 refused or unreachable.
int net_connect(int fd, uint32_t addr, uint16_t port);
ssize_t net_send(int fd, const void *data, size_t n);
ssize_t net_recv(int fd, void *buf, size_t n);
ssize_t net_sendto(int fd, const void *data, size_t n, uint32_t addr, uint16_t port);
ssize_t net_recvfrom(int fd, void *buf, size_t n, uint32_t *addr, uint16_t *port);
bool net_fd_open(int fd);
// Zero-time-out poll of many descriptors at once (pollfd array); returns the
// ready count or -1.
int net_poll(void *pollfds, size_t n);
short net_poll1(int fd, short events);
int net_pending_bytes(int fd); // FIONREAD
int net_so_error(int fd);
bool net_has_peer(int fd);
int net_maxseg(int fd);
uint16_t net_local_port(int fd); // the real port
void net_close(int fd);
int net_multicast(int fd, uint32_t group, uint32_t ifaddr, bool join);

// Interfaces, by name. All return 0 or -1.
int net_if_set(const char *ifname, uint32_t addr, uint32_t mask);
int net_if_get(const char *ifname, uint32_t *addr, uint32_t *mask);
int net_if_disable(const char *ifname);
// running: link up; speed_mbit 0 unknown; full duplex.
int net_if_link(const char *ifname, bool *running, int *speed_mbit, bool *full);
int net_gateway(const char *ifname, uint32_t gateway);
int net_arp(const char *ifname, uint32_t addr, const uint8_t mac[6]);
int net_hwaddr(const char *ifname, const uint8_t mac[6]);
int net_hwaddr_get(const char *ifname, uint8_t mac[6]);

// ICMP echo: a raw descriptor per interface (kernel), or a loopback stand-in
// that answers requests to 127.0.0.0/8 (sim).
int net_icmp_open(const char *ifname);
ssize_t net_icmp_send(int fd, const uint8_t *pkt, size_t n, uint32_t dst);
ssize_t net_icmp_recv(int fd, uint8_t *buf, size_t n, uint32_t *from);

// The sim backend's knobs and record.
void net_sim_link(const std::string &ifname, bool up);
std::vector<std::string> net_requests(); // "addr eth0 192.168.1.10/255.255.255.0", ...
std::string net_describe();              // interfaces and their settings, one per line
std::string net_ip_text(uint32_t addr);
void net_reset();

} // namespace host
