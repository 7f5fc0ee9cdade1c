// The host network as the network subsystem reaches it (host/netsock.h has
// what each call does); platform/ is the one way from there to the host.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pnet {

bool net_kernel();
uint16_t net_map_port(uint16_t port);
int net_socket(bool stream, const char *ifname);
int net_bind(int fd, uint16_t port);
int net_listen(int fd, int backlog);
int net_accept(int fd, uint32_t *peer_addr, uint16_t *peer_port_raw);
int net_connect(int fd, uint32_t addr, uint16_t port);
ssize_t net_send(int fd, const void *data, size_t n);
ssize_t net_recv(int fd, void *buf, size_t n);
ssize_t net_sendto(int fd, const void *data, size_t n, uint32_t addr, uint16_t port);
ssize_t net_recvfrom(int fd, void *buf, size_t n, uint32_t *addr, uint16_t *port);
bool net_fd_open(int fd);
int net_poll(void *pollfds, size_t n);
short net_poll1(int fd, short events);
int net_pending_bytes(int fd);
int net_so_error(int fd);
bool net_has_peer(int fd);
int net_maxseg(int fd);
uint16_t net_local_port(int fd);
void net_close(int fd);
int net_multicast(int fd, uint32_t group, uint32_t ifaddr, bool join);
int net_if_set(const char *ifname, uint32_t addr, uint32_t mask);
int net_if_get(const char *ifname, uint32_t *addr, uint32_t *mask);
int net_if_disable(const char *ifname);
int net_if_link(const char *ifname, bool *running, int *speed_mbit, bool *full);
int net_gateway(const char *ifname, uint32_t gateway);
int net_arp(const char *ifname, uint32_t addr, const uint8_t mac[6]);
int net_hwaddr(const char *ifname, const uint8_t mac[6]);
int net_hwaddr_get(const char *ifname, uint8_t mac[6]);
int net_icmp_open(const char *ifname);
ssize_t net_icmp_send(int fd, const uint8_t *pkt, size_t n, uint32_t dst);
ssize_t net_icmp_recv(int fd, uint8_t *buf, size_t n, uint32_t *from);
void net_sim_link(const std::string &ifname, bool up);
std::vector<std::string> net_requests();
std::string net_describe();
std::string net_ip_text(uint32_t addr);
void net_reset();

} // namespace pnet
