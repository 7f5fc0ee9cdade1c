// The loopback CAN bus between processes and the text form of its frames.
#include "panel_fixture.h"

#include "base/le.h"
#include "host/canbus.h"
#include "host/config.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {
int member() {
    int fd = host::can_socket("can0");
    EXPECT_GT(fd, 0);
    EXPECT_EQ(host::can_set_nonblock(fd), 0);
    EXPECT_EQ(host::can_bind(fd), 0);
    return fd;
}

void send(int fd, const std::string &text) {
    uint8_t f[16];
    std::string err;
    ASSERT_TRUE(host::can_frame_parse(text, f, &err)) << err;
    ASSERT_EQ(host::can_write(fd, f, 16), 16);
}

std::vector<std::string> received(int fd) {
    std::vector<std::string> out;
    uint8_t f[16];
    while (host::can_read(fd, f, 16) == 16)
        out.push_back(host::can_frame_text(f));
    return out;
}

int member_files(const std::string &folder) {
    int n = 0;
    for (auto &e : std::filesystem::directory_iterator(folder))
        n += e.path().filename().string().find_first_not_of("0123456789") == std::string::npos;
    return n;
}
} // namespace

TEST(CanFrameText, ParsesAndPrintsTheFrameForms) {
    struct Row {
        const char *text;
        uint32_t id;
        uint8_t length;
        const char *printed;
    };
    // clang-format off
    const Row rows[] = {
        {"123#1122334455667788", 0x123,                   8, "123#1122334455667788"},
        {"7ff#11.22",            0x7FF,                   2, "7FF#1122"},
        {"000#",                 0,                       0, "000#"},
        {"1ABCDEF0#01",          0x1ABCDEF0 | 0x80000000, 1, "1ABCDEF0#01"},
        {"00000123#R",           0x123 | 0xC0000000,      0, "00000123#R"},
        {"123#r",                0x123 | 0x40000000,      0, "123#R"},
        {"ERR#busoff",           0x20000040,              8, "ERR#busoff"},
        {"ERR#ctrl=0c,busoff",   0x20000044,              8, "ERR#busoff,ctrl=0C"},
        {"ERR#class=00000001",   0x20000001,              8, "ERR#class=00000001"},
    };
    // clang-format on
    for (const Row &r : rows) {
        uint8_t f[16];
        std::string err;
        ASSERT_TRUE(host::can_frame_parse(r.text, f, &err)) << r.text << ": " << err;
        EXPECT_EQ(le32(f), r.id) << r.text;
        EXPECT_EQ(f[4], r.length) << r.text;
        EXPECT_EQ(host::can_frame_text(f), r.printed) << r.text;
    }
    for (const char *bad :
         {"123", "12#11", "800#", "20000000#", "123#112", "123#1122334455667788AA", "123#zz",
          "ERR#nothing", "ERR#ctrl=100", "#11", "0123456789#"}) {
        uint8_t f[16];
        std::string err;
        EXPECT_FALSE(host::can_frame_parse(bad, f, &err)) << bad;
        EXPECT_FALSE(err.empty()) << bad;
    }
}

class CanBusTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        host::config_set("can0", "shared/bus"); // relative to the root folder
        bus = root_dir + "/shared/bus";
    }
    std::string bus;
};

TEST_F(CanBusTest, EveryOtherMemberGetsEachFrameAndErrorFramesOnlyWhenAsked) {
    EXPECT_EQ(host::can_bus_folder("can0"), bus);
    int a = member(), b = member();
    send(a, "123#01");
    int c = member(); // joins later: gets what is sent from now on
    ASSERT_EQ(host::can_set_err_filter(c, 0x40), 0);
    send(b, "456#02");
    send(a, "ERR#busoff");
    EXPECT_EQ(received(a), (std::vector<std::string>{"456#02"}));
    EXPECT_EQ(received(b), (std::vector<std::string>{"123#01"}));
    EXPECT_EQ(received(c), (std::vector<std::string>{"456#02", "ERR#busoff"}));
    EXPECT_EQ(member_files(bus), 3);
    host::can_close(c);
    EXPECT_EQ(member_files(bus), 2);
    // A frame the socket of a CAN port would refuse is refused here too.
    uint8_t f[16] = {};
    f[4] = 9;
    EXPECT_EQ(host::can_write(a, f, 16), -1);
    EXPECT_EQ(host::can_write(a, f, 8), -1);
}

TEST_F(CanBusTest, AMemberKilledWithoutLeavingIsForgotten) {
    int a = member();
    pid_t child = fork();
    if (child == 0) {
        member();
        _exit(0); // no close: its file stays behind
    }
    int st;
    waitpid(child, &st, 0);
    EXPECT_EQ(member_files(bus), 2);
    send(a, "123#"); // lists the members again: the dead one's file goes
    EXPECT_EQ(member_files(bus), 1);
}
