// The kernel backend of the host network, inside network namespaces the test
// makes: the panel's side holds eth0, a veth whose peer lives in a second
// namespace with 10.29.0.2. Skipped where namespaces cannot be made.
#include "host/clock.h"
#include "host/config.h"
#include "host/netsock.h"
#include "net/nx_api.h"
#include "panel_fixture.h"
#include "process_util.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

uint8_t g_storage[312'800];

class NxKernelTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        ns = "t29panel" + std::to_string(getpid());
        peer = "t29peer" + std::to_string(getpid());
        int rc = 0;
        run("ip netns add " + ns + " && ip netns add " + peer + " && ip -n " + ns +
                " link add eth0 type veth peer name p0 netns " + peer + " && ip -n " + peer +
                " addr add 10.29.0.2/24 dev p0 && ip -n " + peer + " link set p0 up && ip -n " +
                ns + " link set lo up",
            &rc);
        if (rc != 0) {
            made = false;
            GTEST_SKIP() << "network namespaces cannot be made here";
        }
        made = true;
        home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        int fd = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(setns(fd, CLONE_NEWNET), 0);
        close(fd);
        host::config_set("net.backend", "kernel");
        host::net_reset();
        ASSERT_TRUE(host::net_kernel());
        _nx_packet_pool_create(&pool, "Packet Pool", 1520, g_storage, sizeof g_storage);
    }
    void TearDown() override {
        if (made) {
            if (home >= 0) {
                setns(home, CLONE_NEWNET);
                close(home);
            }
            run("ip netns del " + ns + "; ip netns del " + peer);
        }
        host::net_reset();
        PanelTest::TearDown();
    }
    std::string ip_n(const std::string &args) { return run("ip -n " + ns + " " + args); }
    std::string ns, peer;
    bool made = false;
    int home = -1;
    NxPacketPool pool;
};

TEST_F(NxKernelTest, AddressGatewayArpMulticastAndPing) {
    NxIpInstance ip;
    ASSERT_EQ(_nx_ip_create(&ip, "eth0", 0x0A1D0001, 0xFFFFFF00, &pool, Etn_Driver, nullptr, 0, 0),
              kNxSuccess);
    EXPECT_NE(ip_n("addr show eth0").find("inet 10.29.0.1/24"), std::string::npos)
        << ip_n("addr show eth0");
    EXPECT_EQ(_nx_ip_gateway_address_set(&ip, 0x0A1D00FE), kNxSuccess);
    EXPECT_NE(ip_n("route").find("default via 10.29.0.254 dev eth0"), std::string::npos)
        << ip_n("route");
    EXPECT_EQ(_nx_arp_dynamic_entry_set(&ip, 0x0A1D0007, 0x0211, 0x22334455), kNxSuccess);
    EXPECT_NE(ip_n("neigh show dev eth0").find("10.29.0.7 lladdr 02:11:22:33:44:55 PERMANENT"),
              std::string::npos)
        << ip_n("neigh show dev eth0");

    NxUdpSocket u;
    ASSERT_EQ(_nx_udp_socket_create(&ip, &u, "egd", 0, 0, 0x80, 5), kNxSuccess);
    ASSERT_EQ(_nx_udp_socket_bind(&u, 18246, 0), kNxSuccess);
    EXPECT_EQ(_nx_igmp_multicast_join(&ip, 0xE0000701, &u), kNxSuccess);
    EXPECT_NE(ip_n("maddr show dev eth0").find("224.0.7.1"), std::string::npos)
        << ip_n("maddr show dev eth0");
    EXPECT_EQ(ip.mcast_count, 1u);
    _nx_udp_socket_delete(&u);

    // Ping: 55 when sent, 0 when the answer came; a silent target gives 8
    // once the wait is over.
    ASSERT_EQ(_nx_icmp_enable(&ip), kNxSuccess);
    NxPacket *resp;
    uint32_t r = 0;
    for (int i = 0; i < 50 && ip.link_up == 0; ++i) {
        uint32_t v;
        _nx_ip_driver_direct_command(&ip, kNxLinkQuery, &v);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(_nx_icmp_ping(&ip, 0x0A1D0002, nullptr, 0, &resp, 60000), kNxInProgress);
    bool answered = wait_for(
        [&] {
            r = _nx_icmp_ping(&ip, 0x0A1D0002, nullptr, 0, &resp, 60000);
            return r == kNxSuccess;
        },
        3000);
    EXPECT_TRUE(answered) << r;
    EXPECT_EQ(_nx_icmp_ping(&ip, 0x0A1D0009, nullptr, 0, &resp, 100), kNxInProgress);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    bool timed_out = wait_for(
        [&] {
            host::clock_advance_ns(20'000'000);
            return _nx_icmp_ping(&ip, 0x0A1D0009, nullptr, 0, &resp, 100) == kNxNoResponse;
        },
        3000);
    EXPECT_TRUE(timed_out);
    host::net_close(ip.icmp_fd);
}

} // namespace
