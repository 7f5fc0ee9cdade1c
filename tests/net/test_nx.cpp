// The socket layer against real loopback peers (socat, plain client sockets).
#include "host/clock.h"
#include "host/config.h"
#include "host/netsock.h"
#include "net/framebuf.h"
#include "net/nx_api.h"
#include "panel_fixture.h"
#include "platform/pass_wait.h"
#include "plc/appblocks.h"
#include "process_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint8_t g_storage[312'800];

class NxTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_EQ(_nx_packet_pool_create(&pool, "Packet Pool", 1520, g_storage, sizeof g_storage),
                  kNxSuccess);
        ASSERT_EQ(pool.total, 200u);
        ASSERT_EQ(
            _nx_ip_create(&ip, "eth0", 0x7F000001, 0xFF000000, &pool, Etn_Driver, nullptr, 0, 0),
            kNxSuccess);
    }
    void TearDown() override {
        for (int fd : clients)
            close(fd);
        PanelTest::TearDown();
    }
    // A plain loopback client, connected (blocking connect, then non-blocking).
    int client(uint16_t real_port, int rcvbuf = 0) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (rcvbuf) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(real_port);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        clients.push_back(fd);
        return fd;
    }
    void create(NxTcpSocket &s, const char *name = "srv") {
        std::memset(&s, 0, sizeof s);
        ASSERT_EQ(_nx_tcp_socket_create(&ip, &s, name, 0, 0, 0x80, 8192, nullptr, nullptr),
                  kNxSuccess);
    }
    // Runs EnetThread until cond holds (at most ms of real time).
    template <class F> bool pump(F cond, int ms = 3000) {
        for (int i = 0; i < ms; ++i) {
            EnetThread();
            if (cond()) return true;
            usleep(1000);
        }
        return false;
    }
    NxPacket *packet(const std::string &data) {
        NxPacket *p = nullptr;
        EXPECT_EQ(_nx_packet_allocate(&pool, &p, 0, 0), kNxSuccess);
        EXPECT_EQ(_nx_packet_data_append(p, data.data(), uint32_t(data.size()), &pool, 0),
                  kNxSuccess);
        return p;
    }
    NxPacketPool pool;
    NxIpInstance ip;
    std::vector<int> clients;
};

// A server written only against the socket layer's calls: 16 records on one
// port, each accepting one connection, echoing what it gets in upper case
// and re-arming itself when the peer leaves.
constexpr int kRecords = 16;
NxTcpSocket g_srv[kRecords];
NxIpInstance *g_ip;
uint32_t g_port;
int g_served;

void on_receive(NxTcpSocket *s) {
    NxPacket *p;
    if (_nx_tcp_socket_receive(s, &p, 0) != kNxSuccess) return;
    uint8_t *d = Nx_PacketData(p);
    for (uint32_t i = 0; i < p->length; ++i)
        d[i] = uint8_t(toupper(d[i]));
    EXPECT_EQ(_nx_tcp_socket_send(s, p, 0), kNxSuccess);
}
void on_disconnect(NxTcpSocket *s) {
    _nx_tcp_socket_disconnect(s, 0);
    _nx_tcp_server_socket_unaccept(s);
    _nx_tcp_server_socket_relisten(g_ip, g_port, s);
}
void on_listen(NxTcpSocket *s, uint32_t, uint32_t) {
    if (_nx_tcp_server_socket_accept(s, 0) == kNxInProgress) {
        ++g_served;
        _nx_tcp_socket_receive_notify(s, on_receive);
    }
}

TEST_F(NxTest, ServerOnTheSocketCallsServesSixteenSocatClients) {
    g_ip = &ip;
    g_port = 0;
    g_served = 0;
    for (int i = 0; i < kRecords; ++i) {
        std::memset(&g_srv[i], 0, sizeof g_srv[i]);
        ASSERT_EQ(
            _nx_tcp_socket_create(&ip, &g_srv[i], "echo", 0, 0, 0x80, 8192, nullptr, on_disconnect),
            kNxSuccess);
    }
    ASSERT_EQ(_nx_tcp_server_socket_listen(&ip, 0, &g_srv[0], 5, on_listen), kNxSuccess);
    for (int i = 1; i < kRecords; ++i)
        ASSERT_EQ(_nx_tcp_server_socket_relisten(&ip, 0, &g_srv[i]), kNxSuccess);
    for (int i = 1; i < kRecords; ++i)
        EXPECT_EQ(g_srv[i].fd, g_srv[0].fd); // one shared listening descriptor
    uint16_t real = host::net_local_port(g_srv[0].fd);
    ASSERT_NE(real, 0);

    std::string dir = root_dir + "/socat";
    ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
    std::string cmd = "(for i in $(seq 1 16); do (echo client$i | socat -t 5 - TCP:127.0.0.1:" +
                      std::to_string(real) + " > " + dir + "/out$i) & done; wait) &";
    ASSERT_EQ(system(cmd.c_str()), 0);
    auto all_answered = [&] {
        for (int i = 1; i <= 16; ++i)
            if (slurp(dir + "/out" + std::to_string(i)) != "CLIENT" + std::to_string(i) + "\n")
                return false;
        return true;
    };
    EXPECT_TRUE(pump(all_answered, 8000));
    EXPECT_EQ(g_served, 16);
    // Every record went back to listening on the shared descriptor once its peer left.
    EXPECT_TRUE(pump([] {
        for (auto &s : g_srv)
            if (s.state != kNxTcpListening) return false;
        return true;
    }));
    for (auto &s : g_srv)
        _nx_tcp_socket_delete(&s);
}

TEST_F(NxTest, RelistenSharesOneDescriptorUntilTheLastRecordGoes) {
    NxTcpSocket a, b, c;
    create(a);
    create(b);
    create(c);
    ASSERT_EQ(_nx_tcp_server_socket_listen(&ip, 0, &a, 5, on_listen), kNxSuccess);
    int fd = a.fd;
    ASSERT_EQ(_nx_tcp_server_socket_relisten(&ip, 0, &b), kNxSuccess);
    EXPECT_EQ(b.fd, fd);
    EXPECT_EQ(b.listen_cb, on_listen);
    EXPECT_EQ(b.state, kNxTcpListening);
    int slots = 0;
    for (NxTcpSocket *s : ConnSock)
        slots += s == &a || s == &b;
    EXPECT_EQ(slots, 2);

    EXPECT_EQ(_nx_tcp_socket_delete(&a), kNxSuccess);
    EXPECT_NE(fcntl(fd, F_GETFL), -1) << "b still listens on it";
    EXPECT_EQ(_nx_tcp_socket_delete(&b), kNxSuccess);
    EXPECT_EQ(fcntl(fd, F_GETFL), -1) << "the last sharer closes it";

    // Without a sharer and without a listen callback of its own: 67, though it listens.
    EXPECT_EQ(_nx_tcp_server_socket_relisten(&ip, 0, &c), kNxNotSuccessful);
    EXPECT_EQ(c.state, kNxTcpListening);
    _nx_tcp_socket_delete(&c);
}

// The status numbers of single calls, each from its own starting point.
TEST_F(NxTest, StatusTable) {
    NxTcpSocket s, l;
    create(s);
    create(l);
    ASSERT_EQ(_nx_tcp_server_socket_listen(&ip, 0, &l, 5, nullptr), kNxSuccess);
    uint16_t real = host::net_local_port(l.fd);

    struct Case {
        const char *what;
        uint32_t got, want;
    };
    std::vector<Case> cases;
    cases.push_back({"accept on a created record", _nx_tcp_server_socket_accept(&s, 0), 54});
    cases.push_back({"accept with nothing waiting", _nx_tcp_server_socket_accept(&l, 0), 67});
    cases.push_back({"connect unbound", _nx_tcp_client_socket_connect(&s, 0x7F000001, 1, 0), 36});
    cases.push_back({"unbind unbound", _nx_tcp_client_socket_unbind(&s), 36});
    cases.push_back({"bind", _nx_tcp_client_socket_bind(&s, 0, 0), 0});
    cases.push_back({"bind twice", _nx_tcp_client_socket_bind(&s, 0, 0), 34});
    cases.push_back({"listen bound", _nx_tcp_server_socket_listen(&ip, 0, &s, 5, nullptr), 34});
    cases.push_back(
        {"listen not created", _nx_tcp_server_socket_listen(&ip, 0, &l, 5, nullptr), 53});
    cases.push_back({"relisten listening", _nx_tcp_server_socket_relisten(&ip, 0, &l), 53});
    NxPacket *p = packet("x");
    cases.push_back({"send before connect", _nx_tcp_socket_send(&s, p, 0), 56});
    cases.push_back({"send of a released packet", _nx_tcp_socket_send(&s, p, 0), 18});
    NxPacket *r;
    cases.push_back({"receive with nothing", _nx_tcp_socket_receive(&s, &r, 0), 1});
    cases.push_back({"connect outside loopback (sim)",
                     _nx_tcp_client_socket_connect(&s, 0x0A000001, 502, 0), 56});
    uint32_t c = _nx_tcp_client_socket_connect(&s, 0x7F000001, 0, 0);
    cases.push_back({"connect under way or done", c == 55 || c == 56 ? 55 : c, 55});
    for (const Case &k : cases)
        EXPECT_EQ(k.got, k.want) << k.what;
    _nx_tcp_socket_delete(&s);

    // Accept: 55 without a wait option, 0 with one; the peer port is in network order.
    NxTcpSocket t;
    create(t);
    ASSERT_EQ(_nx_tcp_server_socket_relisten(&ip, 0, &t), kNxSuccess);
    int c1 = client(real), c2 = client(real);
    (void)c2;
    ASSERT_TRUE(pump([&] { return l.peer_port == 1; }));
    EXPECT_EQ(_nx_tcp_server_socket_accept(&l, 0), kNxInProgress);
    EXPECT_EQ(_nx_tcp_server_socket_accept(&t, 100), kNxSuccess);
    sockaddr_in me{};
    socklen_t len = sizeof me;
    getsockname(c1, reinterpret_cast<sockaddr *>(&me), &len);
    EXPECT_EQ(l.peer_port, uint32_t(me.sin_port)); // as the socket address holds it
    EXPECT_EQ(l.peer_addr, 0x7F000001u);
    EXPECT_EQ(l.state, kNxTcpEstablished);

    // 57: a record whose last pass saw it not writable refuses, and the packet goes back.
    l.writable = 0;
    uint32_t before = pool.total;
    NxPacket *q = packet("y");
    EXPECT_EQ(_nx_tcp_socket_send(&l, q, 0), kNxTxQueueDepth);
    EXPECT_EQ(q->state, kNxPacketFree);
    (void)before;
    _nx_tcp_socket_delete(&l);
    _nx_tcp_socket_delete(&t);
}

TEST_F(NxTest, TwoThousandBytesArriveAsFifteenHundredThenFiveHundred) {
    NxTcpSocket l;
    create(l);
    ASSERT_EQ(_nx_tcp_server_socket_listen(&ip, 0, &l, 5, nullptr), kNxSuccess);
    int c = client(host::net_local_port(l.fd));
    ASSERT_TRUE(pump([&] { return l.peer_port == 1; }));
    ASSERT_EQ(_nx_tcp_server_socket_accept(&l, 1), kNxSuccess);
    static int notified;
    notified = 0;
    _nx_tcp_socket_receive_notify(&l, [](NxTcpSocket *) { ++notified; });
    std::string msg(2000, 'a');
    ASSERT_EQ(write(c, msg.data(), msg.size()), 2000);
    ASSERT_TRUE(pump([&] { return notified > 0; }));
    EXPECT_EQ(l.receive_pending, 1u);
    NxPacket *p;
    ASSERT_EQ(_nx_tcp_socket_receive(&l, &p, 0), kNxSuccess);
    EXPECT_EQ(p->length, 1500u);
    EXPECT_EQ(l.receive_pending, 0u);
    _nx_packet_release(p);
    ASSERT_EQ(_nx_tcp_socket_receive(&l, &p, 0), kNxSuccess);
    EXPECT_EQ(p->length, 500u);
    _nx_packet_release(p);
    EXPECT_EQ(_nx_tcp_socket_receive(&l, &p, 0), kNxNoPacket);
    EXPECT_EQ(ip.received, 2u);

    // The peer leaves: state 6 and the disconnect callback.
    static NxTcpSocket *gone;
    gone = nullptr;
    l.disconnect = [](NxTcpSocket *s) { gone = s; };
    close(c);
    clients.clear();
    ASSERT_TRUE(pump([&] { return gone == &l; }));
    EXPECT_EQ(l.state, kNxTcpPeerClosed);
    _nx_tcp_socket_delete(&l);
}

TEST_F(NxTest, PoolExhaustedReceivesGiveOneAllocateGivesSixtySeven) {
    std::vector<NxPacket *> held;
    NxPacket *p;
    while (_nx_packet_allocate(&pool, &p, 0, 0) == kNxSuccess)
        held.push_back(p);
    EXPECT_EQ(held.size(), 200u);
    EXPECT_EQ(p, nullptr);

    NxUdpSocket u;
    ASSERT_EQ(_nx_udp_socket_create(&ip, &u, "udp", 0, 0, 0x80, 5), kNxSuccess);
    ASSERT_EQ(_nx_udp_socket_bind(&u, 0, 0), kNxSuccess);
    EXPECT_EQ(_nx_udp_socket_receive(&u, &p, 0), kNxNoPacket);
    // Appending past the payload is refused; the packet is not chained.
    _nx_packet_release(held.back());
    std::string big(1521, 'z');
    EXPECT_EQ(_nx_packet_data_append(held.back(), big.data(), 1521, &pool, 0), kNxNotSuccessful);
    // Releasing a packet that was never handed out leaves the pool alone.
    EXPECT_EQ(_nx_packet_release(held.back()), kNxInvalidPacket);
    for (NxPacket *h : held)
        _nx_packet_release(h);
    EXPECT_EQ(_nx_packet_allocate(&pool, &p, 0, 0), kNxSuccess);
    EXPECT_EQ(pool.available, 200u);
    _nx_packet_release(p);
    _nx_udp_socket_delete(&u);
}

TEST_F(NxTest, UdpDatagramsWithSenderAndEmptyOnesCountAsNothing) {
    NxUdpSocket u, v;
    ASSERT_EQ(_nx_udp_socket_create(&ip, &u, "u", 0, 0, 0x80, 5), kNxSuccess);
    ASSERT_EQ(_nx_udp_socket_create(&ip, &v, "v", 0, 0, 0x80, 5), kNxSuccess);
    ASSERT_EQ(_nx_udp_socket_bind(&u, 0, 0), kNxSuccess);
    EXPECT_EQ(_nx_udp_socket_bind(&u, 0, 0), kNxAlreadyBound);
    ASSERT_EQ(host::net_bind(u.fd, 0), 0);
    uint16_t uport = host::net_local_port(u.fd);
    ASSERT_EQ(_nx_udp_socket_bind(&v, 0, 0), kNxSuccess);
    ASSERT_EQ(host::net_bind(v.fd, 0), 0);
    uint16_t vport = host::net_local_port(v.fd);

    EXPECT_EQ(_nx_udp_socket_send(&v, packet("hello"), 0x7F000001, uport), kNxSuccess);
    EXPECT_EQ(_nx_udp_socket_send(&v, packet("far"), 0x0A000001, uport), kNxNotSuccessful);
    NxPacket *p;
    uint32_t addr = 0, port = 0;
    ASSERT_TRUE(wait_for([&] { return host::net_poll1(u.fd, POLLIN) != 0; }, 2000));
    ASSERT_EQ(_nx_udp_socket_receive_port_detail(&u, &p, &addr, &port), kNxSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(Nx_PacketData(p)), p->length), "hello");
    EXPECT_EQ(addr, 0x7F000001u);
    EXPECT_EQ(port, vport);
    _nx_packet_release(p);

    NxPacket *e;
    ASSERT_EQ(_nx_packet_allocate(&pool, &e, 0, 0), kNxSuccess);
    EXPECT_EQ(_nx_udp_socket_send(&v, e, 0x7F000001, uport), kNxSuccess);
    usleep(20000);
    EXPECT_EQ(_nx_udp_socket_receive(&u, &p, 0), kNxNoPacket);
    // Multicast is refused on the sim host; the socket stays usable.
    EXPECT_EQ(_nx_igmp_multicast_join(&ip, 0xE0000701, &u), kNxNotSuccessful);
    EXPECT_EQ(_nx_udp_socket_send(&v, packet("again"), 0x7F000001, uport), kNxSuccess);
    _nx_udp_socket_delete(&u);
    _nx_udp_socket_delete(&v);
}

TEST_F(NxTest, SlowReaderGetsEveryByteInOrder) {
    NxTcpSocket l;
    create(l);
    ASSERT_EQ(_nx_tcp_server_socket_listen(&ip, 0, &l, 5, nullptr), kNxSuccess);
    int small = 4096;
    int c = client(host::net_local_port(l.fd), small);
    ASSERT_TRUE(pump([&] { return l.peer_port == 1; }));
    ASSERT_EQ(_nx_tcp_server_socket_accept(&l, 1), kNxSuccess);
    setsockopt(l.accepted_fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    // The server sends 2 MB in 1000-byte packets as fast as the layer takes
    // them; the reader takes 3000 bytes now and then.
    const size_t total = 2'000'000;
    size_t sent = 0, got = 0;
    bool in_order = true;
    int refusals = 0;
    fcntl(c, F_SETFL, fcntl(c, F_GETFL) | O_NONBLOCK);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (got < total && std::chrono::steady_clock::now() < deadline) {
        EnetThread();
        while (sent < total) {
            std::string chunk(std::min<size_t>(1000, total - sent), 0);
            for (size_t i = 0; i < chunk.size(); ++i)
                chunk[i] = char((sent + i) % 251);
            uint32_t r = _nx_tcp_socket_send(&l, packet(chunk), 0);
            if (r != kNxSuccess) {
                ASSERT_EQ(r, kNxTxQueueDepth);
                ++refusals;
                break;
            }
            sent += chunk.size();
        }
        char buf[3000];
        ssize_t n = read(c, buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i)
            in_order = in_order && uint8_t(buf[i]) == (got + size_t(i)) % 251;
        if (n > 0) got += size_t(n);
    }
    EXPECT_EQ(got, total) << "sent " << sent << " unsent " << Nx_TcpUnsent(&l) << " writable "
                          << l.writable << " state " << l.state << " poll "
                          << host::net_poll1(l.accepted_fd, POLLOUT);
    EXPECT_TRUE(in_order);
    EXPECT_GT(refusals, 0) << "the bounded queue pushed back at least once";
    EXPECT_EQ(Nx_TcpUnsent(&l), 0u);
    _nx_tcp_socket_delete(&l);
}

TEST_F(NxTest, ClientConnectCompletesInEnetThreadWithHostOrderPeerPort) {
    NxTcpSocket l, s;
    create(l);
    create(s, "cli");
    ASSERT_EQ(_nx_tcp_server_socket_listen(&ip, 0, &l, 5, nullptr), kNxSuccess);
    uint16_t real = host::net_local_port(l.fd);
    ASSERT_EQ(_nx_tcp_client_socket_bind(&s, 0, 0), kNxSuccess);
    uint32_t r = _nx_tcp_client_socket_connect(&s, 0x7F000001, real, 0);
    ASSERT_TRUE(r == kNxInProgress || r == kNxSuccess);
    EXPECT_EQ(s.peer_port, uint32_t(real));
    ASSERT_TRUE(pump([&] { return s.state == kNxTcpEstablished; }));
    EXPECT_EQ(_nx_tcp_client_socket_connect(&s, 0x7F000001, real, 0), kNxSuccess);
    EXPECT_GT(s.mss, 0u);
    _nx_tcp_socket_delete(&s);
    _nx_tcp_socket_delete(&l);
    // A record whose descriptor went away leaves the table on the next pass.
    EXPECT_TRUE(pump([&] {
        for (NxTcpSocket *c : ConnSock)
            if (c) return false;
        return true;
    }));
}

TEST_F(NxTest, InterfacesOnTheSimHost) {
    // mlan0 and uap0 are the Wi-Fi scripts' business: create never touches them.
    host::net_reset();
    NxIpInstance w;
    ASSERT_EQ(_nx_ip_create(&w, "mlan0", 0xC0A80101, 0xFFFFFF00, &pool, Etn_Driver, nullptr, 0, 0),
              kNxSuccess);
    EXPECT_EQ(w.index, 2u);
    EXPECT_TRUE(host::net_requests().empty());

    NxIpInstance e;
    ASSERT_EQ(_nx_ip_create(&e, "eth0", 0xC0A8010A, 0xFFFFFF00, &pool, Etn_Driver, nullptr, 0, 0),
              kNxSuccess);
    EXPECT_EQ(e.network, 0xC0A80100u);
    EXPECT_EQ(_nx_ip_gateway_address_set(&e, 0xC0A80101), kNxSuccess);
    EXPECT_EQ(_nx_arp_dynamic_entry_set(&e, 0xC0A80102, 0x0011, 0x22334455), kNxSuccess);
    std::vector<std::string> want = {"addr eth0 192.168.1.10/255.255.255.0",
                                     "gateway eth0 192.168.1.1",
                                     "arp eth0 192.168.1.2 00:11:22:33:44:55"};
    EXPECT_EQ(host::net_requests(), want);

    // Link, speed and duplex: read when the link comes up and once 10 s later.
    uint32_t v;
    host::config_set("net.eth0.speed", "1000");
    _nx_ip_driver_direct_command(&e, kNxLinkSpeed, &v);
    EXPECT_EQ(v, 2u);
    EXPECT_EQ(e.link_up, 1u);
    host::config_set("net.eth0.speed", "100");
    host::config_set("net.eth0.duplex", "half");
    _nx_ip_driver_direct_command(&e, kNxLinkSpeed, &v);
    EXPECT_EQ(v, 2u) << "not read again at once";
    host::clock_advance_ns(10'000'200'000ull);
    _nx_ip_driver_direct_command(&e, kNxLinkSpeed, &v);
    EXPECT_EQ(v, 1u);
    _nx_ip_driver_direct_command(&e, kNxLinkDuplex, &v);
    EXPECT_EQ(v, 0u);
    host::net_sim_link("eth0", false);
    _nx_ip_driver_direct_command(&e, kNxLinkTxCount, &v);
    EXPECT_EQ(e.link_up, 0u);
}

TEST_F(NxTest, PingAnswersFromLoopbackAndTimesOutElsewhere) {
    ASSERT_EQ(_nx_icmp_enable(&ip), kNxSuccess);
    NxPacket *resp;
    EXPECT_EQ(_nx_icmp_ping(&ip, 0x7F000001, nullptr, 0, &resp, 1000), kNxInProgress);
    EXPECT_EQ(_nx_icmp_ping(&ip, 0x7F000001, nullptr, 0, &resp, 1000), kNxSuccess);
    EXPECT_NE(resp, nullptr);
    EXPECT_EQ(ip.received, 1u);
    // Outside loopback the sim host cannot send at all.
    EXPECT_EQ(_nx_icmp_ping(&ip, 0x0A000001, nullptr, 0, &resp, 1000), kNxNotSuccessful);

    // A target that never answers: 55, then 67 until the wait is over, then 8, then 55 again.
    ASSERT_EQ(_nx_icmp_ping(&ip, 0x7F000002, nullptr, 0, &resp, 100), kNxInProgress);
    NxPacket *p;
    ASSERT_EQ(_nx_icmp_ping(&ip, 0x7F000002, nullptr, 0, &p, 100),
              kNxSuccess); // the loopback answer
    host::clock_advance_ns(50'000'000);
    EXPECT_EQ(_nx_icmp_ping(&ip, 0x7F000002, nullptr, 0, &resp, 100), kNxNotSuccessful);
    host::clock_advance_ns(60'000'000);
    EXPECT_EQ(_nx_icmp_ping(&ip, 0x7F000002, nullptr, 0, &resp, 100), kNxNoResponse);
    EXPECT_EQ(_nx_icmp_ping(&ip, 0x7F000002, nullptr, 0, &resp, 100), kNxInProgress);
}

TEST_F(NxTest, SetMacIdWritesTheMacText) {
    const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::memcpy(tinyImage + 14, mac, 6);
    Etn_SetMacId(mac, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(tinyImage) + 50), "00:1A:2B:3C:4D:5E");
    bool recorded = false;
    for (const std::string &r : host::net_requests())
        recorded = recorded || r == "mac eth1 00:1a:2b:3c:4d:5e";
    EXPECT_TRUE(recorded);
}

} // namespace

namespace {

// A frame: a 2-byte big-endian length of what follows, at most 100.
uint32_t frame_length(const uint8_t *d, uint32_t have) {
    if (have < 2) return 0;
    uint32_t n = uint32_t(d[0]) << 8 | d[1];
    return n > 100 ? kNxFrameBad : n + 2;
}

TEST_F(NxTest, FramesSplitAndBackToBackAreJoinedAndServedOneAPass) {
    NxTcpSocket l;
    create(l);
    ASSERT_EQ(_nx_tcp_server_socket_listen(&ip, 0, &l, 5, nullptr), kNxSuccess);
    int c = client(host::net_local_port(l.fd));
    ASSERT_TRUE(pump([&] { return l.peer_port == 1; }));
    ASSERT_EQ(_nx_tcp_server_socket_accept(&l, 1), kNxSuccess);
    NxFrameBuf b{};
    uint32_t len = 0;
    auto receive = [&] {
        int r = 0;
        wait_for([&] { return (r = Nx_FrameReceive(&l, &b, frame_length, &len)) != 0; }, 500);
        return r;
    };
    ASSERT_EQ(write(c,
                    "\x00\x03"
                    "a",
                    3),
              3); // split: the rest comes later
    EXPECT_EQ(receive(), 0);
    ASSERT_EQ(write(c, "bc\x00\x01z", 5), 5); // the rest, and a second frame behind it
    ASSERT_EQ(receive(), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b.data), len), std::string("\x00\x03"
                                                                              "abc",
                                                                              5));
    PassWait_TakePending();
    Nx_FrameConsume(&b, len, frame_length);
    EXPECT_TRUE(PassWait_TakePending()) << "the second frame asks for the next pass";
    ASSERT_EQ(Nx_FrameReceive(&l, &b, frame_length, &len), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b.data), len), std::string("\x00\x01z", 3));
    Nx_FrameConsume(&b, len, frame_length);
    EXPECT_EQ(b.have, 0u);
    ASSERT_EQ(write(c, "\xff\xff", 2), 2); // cannot be valid
    EXPECT_EQ(receive(), -1);
    _nx_tcp_socket_delete(&l);
}

} // namespace
