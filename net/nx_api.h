// The socket layer: the calling form of a compact embedded TCP/IP stack over
// non-blocking host sockets, polled once per pass by EnetThread.
//
// Records live only in memory and hold native pointers; packets are laid out
// in the pool's storage with a header of eleven 32-bit words whose positions
// are offsets from the packet's own header.
#pragma once
#include <cstdint>

// Status numbers.
// clang-format off
constexpr uint32_t kNxSuccess       = 0;
constexpr uint32_t kNxNoPacket      = 1;
constexpr uint32_t kNxNoResponse    = 8;
constexpr uint32_t kNxInvalidPacket = 18;
constexpr uint32_t kNxAlreadyBound  = 34;
constexpr uint32_t kNxNotBound      = 36;
constexpr uint32_t kNxNotCreated    = 53;
constexpr uint32_t kNxNotListening  = 54;
constexpr uint32_t kNxInProgress    = 55;
constexpr uint32_t kNxNotConnected  = 56;
constexpr uint32_t kNxTxQueueDepth  = 57;
constexpr uint32_t kNxNotSuccessful = 67;

constexpr uint32_t kNxPacketAllocated = 0xAAAAAAAAu;
constexpr uint32_t kNxPacketFree      = 0xFFFFFFFFu;
constexpr uint32_t kNxPacketHeader    = 44;
constexpr uint32_t kNxReceiveMax      = 1500; // bytes one receive moves

// TCP record states.
constexpr uint32_t kNxTcpCreated     = 1;
constexpr uint32_t kNxTcpListening   = 2;
constexpr uint32_t kNxTcpConnecting  = 3;
constexpr uint32_t kNxTcpEstablished = 5;
constexpr uint32_t kNxTcpPeerClosed  = 6;

// Link queries of _nx_ip_driver_direct_command.
constexpr uint32_t kNxLinkQuery    = 0;
constexpr uint32_t kNxLinkSpeed    = 11;
constexpr uint32_t kNxLinkDuplex   = 12;
constexpr uint32_t kNxLinkRxCount  = 14;
constexpr uint32_t kNxLinkTxCount  = 15;

constexpr int kConnSockSlots = 660;
constexpr uint32_t kNxSendQueueMax = 64 * 1024; // unsent bytes kept per connection
// clang-format on

struct NxPacket {
    uint32_t owner;
    uint32_t queue_next;
    uint32_t state; // kNxPacketAllocated / kNxPacketFree
    uint32_t next;  // byte offset of the next packet from the pool's storage start
    uint32_t last;
    uint32_t fragment;
    uint32_t length;
    uint32_t data_start; // the positions below: byte offsets from this header
    uint32_t data_end;
    uint32_t prepend; // first byte of data
    uint32_t append;  // where the next appended byte goes
};
static_assert(sizeof(NxPacket) == kNxPacketHeader);

inline uint8_t *Nx_PacketData(NxPacket *p) {
    return reinterpret_cast<uint8_t *>(p) + p->prepend;
}

struct NxPacketPool {
    const char *name;
    uint32_t available; // an estimate, see _nx_packet_allocate
    uint32_t total;
    uint8_t *start;
    NxPacket *first;
    uint32_t size;
    uint32_t payload;
    uint32_t reserved;
};

struct NxIpInstance {
    uint32_t index; // 0 eth0, 1 eth1, 2 mlan0, 3 uap0
    const char *name;
    uint32_t address, mask, network, gateway, dns;
    uint8_t fallback_in_force, fallback_tried, to_be_cleared, dhcp_active;
    uint32_t sent;
    uint32_t ping_target;
    int32_t icmp_fd;
    uint32_t ping_outstanding;
    uint32_t ping_sent_at; // FPGA_GetFrt
    uint32_t ping_elapsed;
    uint32_t mcast_count;
    uint32_t created;
    NxPacketPool *pool;
    uint32_t link_up;
    uint32_t speed_duplex; // low byte 1 100 Mbit/s, 2 1000 Mbit/s; bit 8 full duplex
    uint32_t received;
    uint32_t mcast[7];
};

struct NxTcpSocket;
using NxTcpListenCallback = void (*)(NxTcpSocket *, uint32_t port, uint32_t one);
using NxTcpReceiveNotify = void (*)(NxTcpSocket *);
using NxTcpDisconnectCallback = void (*)(NxTcpSocket *);
using NxTcpUrgentCallback = void (*)(NxTcpSocket *);

struct NxTcpSocket {
    int32_t fd;
    const char *name;
    uint32_t own_fd; // 1 data on fd (created/client); 0 server record (data on accepted_fd)
    uint32_t local_port;
    uint32_t writable;
    uint32_t peer_addr;
    uint32_t peer_port; // accepted: network order as received
    uint32_t mss;
    uint32_t state;
    uint32_t window_initial, window_current, window_advertised;
    NxIpInstance *ip;
    uint32_t tos, ttl, fragment;
    uint32_t receive_pending;
    uint32_t transmit_blocked; // 0 writable, 2 not
    uint32_t bound;
    uint32_t listen_queue;
    NxTcpUrgentCallback urgent;
    NxTcpDisconnectCallback disconnect;
    NxTcpReceiveNotify receive_notify;
    NxTcpListenCallback listen_cb;
    int32_t accepted_fd;
};

struct NxUdpSocket {
    int32_t fd;
    const char *name;
    uint32_t local_port;
    NxIpInstance *ip;
    uint32_t tos, ttl, fragment;
    uint32_t queue_max;
    uint32_t bound;
    uint32_t reserved;
};

extern NxTcpSocket *ConnSock[kConnSockSlots];

// Pool and interfaces.
uint32_t _nx_system_initialize();
uint32_t _nx_packet_pool_create(NxPacketPool *pool, const char *name, uint32_t payload,
                                void *storage, uint32_t storage_size);
uint32_t _nx_packet_allocate(NxPacketPool *pool, NxPacket **out, uint32_t type, uint32_t wait);
uint32_t _nx_packet_release(NxPacket *packet);
uint32_t _nx_packet_data_append(NxPacket *packet, const void *data, uint32_t size,
                                NxPacketPool *pool, uint32_t wait);
uint32_t _nx_packet_copy(NxPacket *packet, NxPacket **out, NxPacketPool *pool, uint32_t wait);
uint32_t _nx_ip_create(NxIpInstance *ip, const char *name, uint32_t address, uint32_t mask,
                       NxPacketPool *pool, uint32_t (*driver)(uint32_t), void *stack,
                       uint32_t stack_size, uint32_t priority);
uint32_t _nx_ip_address_set(NxIpInstance *ip, uint32_t address, uint32_t mask);
uint32_t _nx_ip_address_get(NxIpInstance *ip);
uint32_t _nx_ip_gateway_address_set(NxIpInstance *ip, uint32_t gateway);
uint32_t _nx_ip_driver_direct_command(NxIpInstance *ip, uint32_t command, uint32_t *value);
uint32_t _nx_arp_dynamic_entry_set(NxIpInstance *ip, uint32_t address, uint32_t mac_high,
                                   uint32_t mac_low);
uint32_t _nx_igmp_multicast_join(NxIpInstance *ip, uint32_t group, NxUdpSocket *socket);
uint32_t _nx_igmp_multicast_leave(NxIpInstance *ip, uint32_t group, NxUdpSocket *socket);
uint32_t _nx_icmp_enable(NxIpInstance *ip);
uint32_t _nx_icmp_ping(NxIpInstance *ip, uint32_t target, const void *data, uint32_t size,
                       NxPacket **response, uint32_t wait_ms);
uint32_t PortDisable(const char *ifname);
uint32_t SetNonBlocking(int fd);
void Etn_GetMacId();
void Etn_SetMacId(const uint8_t *mac, int port);
uint32_t _nx_arp_enable(NxIpInstance *ip);
uint32_t _nx_igmp_enable(NxIpInstance *ip);
uint32_t _nx_udp_enable(NxIpInstance *ip);
uint32_t _nx_tcp_enable(NxIpInstance *ip);
uint32_t _nx_tcp_socket_transmit_configure(NxTcpSocket *socket, uint32_t depth, uint32_t timeout,
                                           uint32_t retries, uint32_t shift);
void Etn_IrqInit();
void nx_application_define();
uint32_t Etn_Driver(uint32_t value);

// TCP.
uint32_t _nx_tcp_socket_create(NxIpInstance *ip, NxTcpSocket *socket, const char *name,
                               uint32_t tos, uint32_t fragment, uint32_t ttl, uint32_t window,
                               NxTcpUrgentCallback urgent, NxTcpDisconnectCallback disconnect);
uint32_t _nx_tcp_client_socket_bind(NxTcpSocket *socket, uint32_t port, uint32_t wait);
uint32_t _nx_tcp_client_socket_unbind(NxTcpSocket *socket);
uint32_t _nx_tcp_server_socket_listen(NxIpInstance *ip, uint32_t port, NxTcpSocket *socket,
                                      uint32_t queue, NxTcpListenCallback callback);
uint32_t _nx_tcp_server_socket_relisten(NxIpInstance *ip, uint32_t port, NxTcpSocket *socket);
uint32_t _nx_tcp_server_socket_accept(NxTcpSocket *socket, uint32_t wait);
uint32_t _nx_tcp_server_socket_unaccept(NxTcpSocket *socket);
uint32_t _nx_tcp_server_socket_unlisten(NxIpInstance *ip, uint32_t port);
uint32_t _nx_tcp_client_socket_connect(NxTcpSocket *socket, uint32_t address, uint32_t port,
                                       uint32_t wait);
uint32_t _nx_tcp_socket_send(NxTcpSocket *socket, NxPacket *packet, uint32_t wait);
uint32_t _nx_tcp_socket_receive(NxTcpSocket *socket, NxPacket **out, uint32_t wait);
uint32_t _nx_tcp_socket_receive_notify(NxTcpSocket *socket, NxTcpReceiveNotify callback);
uint32_t _nx_tcp_socket_disconnect(NxTcpSocket *socket, uint32_t wait);
uint32_t _nx_tcp_socket_delete(NxTcpSocket *socket);
void EnetThread();
// Bytes accepted by send and not yet taken by the kernel (the slow reader's queue).
uint32_t Nx_TcpUnsent(const NxTcpSocket *socket);

// UDP.
uint32_t _nx_udp_socket_create(NxIpInstance *ip, NxUdpSocket *socket, const char *name,
                               uint32_t tos, uint32_t fragment, uint32_t ttl, uint32_t queue_max);
uint32_t _nx_udp_socket_bind(NxUdpSocket *socket, uint32_t port, uint32_t wait);
uint32_t _nx_udp_socket_unbind(NxUdpSocket *socket);
uint32_t _nx_udp_socket_delete(NxUdpSocket *socket);
uint32_t _nx_udp_socket_send(NxUdpSocket *socket, NxPacket *packet, uint32_t address,
                             uint32_t port);
uint32_t _nx_udp_socket_receive(NxUdpSocket *socket, NxPacket **out, uint32_t wait);
uint32_t _nx_udp_socket_receive_port_detail(NxUdpSocket *socket, NxPacket **out, uint32_t *address,
                                            uint32_t *port);

// Closes every descriptor the layer holds and empties its tables (tests, restarts).
void Nx_Reset();
