// The programming protocol in process: packets through the serial and USB
// ports in intercept mode, the link between hosts, the dispatcher and its
// relay to another node over a fake network transport, and the commands.
#include "base/crc16.h"
#include "base/le.h"
#include "base/trace.h"
#include "host/clock.h"
#include "panel_fixture.h"
#include "platform/unit.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "regs/sr.h"
#include "serial/command.h"
#include "serial/vcomm.h"
#include "tools/lib/cmdframe.h"

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kSeed = 5, kOwnId = 1, kOtherNode = 7;

// A packet as the tool writes it (short form unless `long_form`).
Bytes packet(uint8_t op, const Bytes &data, bool long_form = false, uint8_t seed = kSeed) {
    return cmdframe::frame(seed, op, data, long_form);
}
Bytes cmd(uint8_t op, Bytes args, uint8_t target = kOwnId) {
    args.insert(args.begin(), target);
    return packet(op, args);
}
Bytes data_packet(const Bytes &d) {
    return packet(0xFF, d);
}

// The other node of the network: what the panel sent it, and what it answers.
struct FakeNode {
    Bytes to_node;
    std::deque<uint8_t> from_node;
    int status = 0; // Net_Test (2): bit 2 = this node is off the network
};
FakeNode *g_node;
std::vector<uint8_t> g_etn_tx;

class CommandTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        crc_header[3] = kSeed;
        sr_put(sr::kNetId, kOwnId);
        Vcomm_Init();
        SCI2_Init(0);
        SCI4_Init(3);
        Vcomm_Drv[0].SetIntrcpt(1);
        SCI4_SetIntrcpt(1);
        g_node = &node;
        g_etn_tx.clear();
        CmdHooks h = Cmd_Hooks();
        h.net_check_rx = [] { return g_node->from_node.empty() ? 0 : 1; };
        h.net_get_rx = [] {
            uint8_t b = g_node->from_node.front();
            g_node->from_node.pop_front();
            return b;
        };
        h.net_flush_rx = [] {};
        h.net_put_tx = [](uint8_t b) {
            g_node->to_node.push_back(b);
            return 1;
        };
        h.net_putn_tx = [](const uint8_t *p, uint32_t n) {
            g_node->to_node.insert(g_node->to_node.end(), p, p + n);
        };
        h.net_test = [](int) { return g_node->status; };
        h.net_chk_busy = nullptr;
        h.etn_check_rx = nullptr;
        h.etn_put_tx = [](uint8_t b) { g_etn_tx.push_back(b); };
        h.warm_reset = nullptr;
        Cmd_SetHooks(h);
        Cmd_Init();
        ASSERT_EQ(Vcomm_Drv[0].mode[5] & 0xF, 1);
    }

    void serial_in(const Bytes &b) {
        for (uint8_t c : b)
            Vcomm_Drv[0].StuffRx(c);
    }
    void usb_in(const Bytes &b) {
        for (uint8_t c : b)
            SCI4_StuffRx(c);
    }
    Bytes serial_out() {
        Bytes out;
        uint8_t b;
        while (Vcomm_Drv[0].DrainTx(&b))
            out.push_back(b);
        return out;
    }
    Bytes usb_out() {
        Bytes out;
        uint8_t b;
        while (SCI4_DrainTx(&b))
            out.push_back(b);
        return out;
    }
    void passes(int n = 3) {
        for (int i = 0; i < n; ++i)
            Cmd_Check();
    }
    // One command from the serial host and the panel's answer.
    Bytes exchange(const Bytes &request, int n = 3) {
        serial_in(request);
        passes(n);
        return serial_out();
    }
    // A download or verify: command, then the data packets, each answered.
    Bytes stream_in(const Bytes &command, const std::vector<Bytes> &chunks) {
        Bytes answers = exchange(command);
        for (const Bytes &c : chunks)
            for (uint8_t b : exchange(data_packet(c)))
                answers.push_back(b);
        return answers;
    }
    // An upload: command, then every data packet acknowledged; returns the data.
    Bytes upload(const Bytes &command, Bytes *first_answer = nullptr) {
        Bytes a = exchange(command);
        if (first_answer) *first_answer = a;
        Bytes data;
        for (int guard = 0; guard < 10000; ++guard) {
            host::clock_advance_ms(300);
            passes(2);
            Bytes p = serial_out();
            if (p.size() < 3 || p[0] != 0xFF) break;
            data.insert(data.end(), p.begin() + 2, p.end() - 1);
            serial_in({kAck});
            if (p[1] == 0) {
                passes(2);
                break;
            }
        }
        return data;
    }
    FakeNode node;
};

// ---- framing

TEST_F(CommandTest, PacketChecksumLongFormAndNegotiationEnd) {
    // Seed 5: 5 + 8 + 1 + 0 + 0xF2 = 0x100.
    Bytes v = cmd(8, {});
    ASSERT_EQ(v, (Bytes{8, 1, kOwnId, 0xF1}));
    EXPECT_EQ(packet(8, {0}).back(), 0xF2);
    sr_put(sr::kProduct, 7);
    sr_put(sr::kFirmwareMajor, 102);
    EXPECT_EQ(exchange(v), (Bytes{0xFF, 3, 7, 1, 2, uint8_t(-(kSeed + 0xFF + 3 + 7 + 1 + 2))}));

    // A long packet of 1100 bytes keeps 1024 of them and is still checked whole.
    Bytes big(1100);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7);
    CmdBuf.await = 0;
    CmdHost = 0;
    serial_in(packet(0xFF, big, true));
    ASSERT_EQ(get_packet(), 1);
    EXPECT_EQ(CmdBuf.length, 1100);
    EXPECT_EQ(CmdBuf.data[1023], big[1023]);
    EXPECT_TRUE(serial_out().empty());
    // As a command it is refused: its data was not kept whole.
    big[0] = kOwnId;
    EXPECT_EQ(exchange(packet(24, big)), Bytes{kRefused});

    // An empty packet, short or long, ends the negotiation.
    for (bool long_form : {false, true}) {
        NegotiationFlag = 1;
        CmdDataMax = 512;
        serial_in(packet(0xFF, {}, long_form));
        ASSERT_EQ(get_packet(), 1);
        EXPECT_EQ(NegotiationFlag, 0);
        EXPECT_EQ(CmdDataMax, 64);
    }
}

TEST_F(CommandTest, BadChecksumAnswersOnceAndRunsNothing) {
    Bytes w = cmd(24, {16, 0x00, 0x80, 0x34, 0x12}); // %R1 = 0x1234
    w.back() ^= 1;
    EXPECT_EQ(exchange(w), Bytes{kBadSum});
    EXPECT_EQ(sr_get(0), 0);
    EXPECT_EQ(le16(plc_reg + reg::kR), 0);
    // The reader waits for the next opcode: a good packet after it is served.
    w.back() ^= 1;
    EXPECT_EQ(exchange(w), Bytes{kAck});
    EXPECT_EQ(le16(plc_reg + reg::kR), 0x1234);
}

TEST_F(CommandTest, PutPacketSendsNothingWhileThePortCarriesAnotherProtocol) {
    Vcomm_Drv[0].mode[5] = 3;
    put_packet(0xFF, 2, Bytes{1, 2}.data());
    Vcomm_Drv[0].mode[5] = 1;
    EXPECT_TRUE(serial_out().empty());
}

// ---- arbitration

TEST_F(CommandTest, SecondHostGetsOneRefusalPerPollAndLosesItsBytes) {
    // The serial host holds the link with a download under way.
    EXPECT_EQ(exchange(cmd(4, {7})), Bytes{kAck});
    ASSERT_EQ(Vcomm_Host, kHostSerial);
    for (int poll = 0; poll < 2; ++poll) {
        usb_in(cmd(1, {}));
        Cmd_Check();
        EXPECT_EQ(usb_out(), Bytes{kLinkHeld});
        Cmd_Check(); // its bytes are gone: nothing more
        EXPECT_TRUE(usb_out().empty());
    }
    // Once the link timer runs out the link is free for the other host.
    host::clock_advance_ms(501);
    Cmd_Check();
    EXPECT_EQ(Vcomm_Lock, 0u);
    usb_in(cmd(1, {}));
    passes();
    EXPECT_EQ(usb_out().size(), 4u);
    EXPECT_EQ(Vcomm_Host, kHostUsb);
}

TEST_F(CommandTest, CommLockBeatsAForcedClaimAndKeepsAnIdleLink) {
    EXPECT_EQ(exchange(cmd(25, {1})), Bytes{kAck});
    EXPECT_EQ(Vcomm_Lock & kLockComm, kLockComm);
    Vcomm_ModeSet(1, kHostUsb, kModeLocal, 3);
    EXPECT_EQ(Vcomm_Host, kHostSerial);
    host::clock_advance_ms(60000);
    passes();
    EXPECT_NE(Vcomm_Lock, 0u);
    // Its owner still gets through, and clears it.
    EXPECT_EQ(exchange(cmd(25, {0})), Bytes{kAck});
    EXPECT_EQ(Vcomm_Lock & kLockComm, 0u);
}

TEST_F(CommandTest, AHostThatGoesQuietMidPacketLosesTheLink) {
    serial_in({8, 1});
    passes();
    EXPECT_NE(Vcomm_Lock, 0u);
    host::clock_advance_ms(600);
    passes();
    EXPECT_EQ(Vcomm_Lock, 0u);
    usb_in(cmd(9, {}));
    passes();
    EXPECT_EQ(usb_out(), (Bytes{0xFF, 1, kOwnId, uint8_t(-(kSeed + 0xFF + 1 + kOwnId))}));
}

TEST_F(CommandTest, ReleasesCountAndTellTheEthernetChannel) {
    Vcomm_LockSet(0);
    EXPECT_EQ(Vcomm_Idle, 0);
    Vcomm_ModeSet(0, kHostSerial, kModeLocal, kOwnId);
    Vcomm_LockSet(2);
    Vcomm_LockSet(9); // changes nothing
    Vcomm_LockSet(0);
    EXPECT_EQ(Vcomm_Idle, 1);
    Cmd_Check();
    EXPECT_EQ(g_etn_tx, Bytes{kLinkReleased});
    Cmd_Check();
    EXPECT_EQ(g_etn_tx.size(), 1u);
}

// ---- dispatcher

TEST_F(CommandTest, AddressedToAllNodes) {
    node.status = 4; // no network to pass anything on to
    EXPECT_EQ(exchange(cmd(200, {})), Bytes{kRefused});
    EXPECT_TRUE(exchange(cmd(12, {0x34, 0x12, 0, 0}, 255)).empty());
    sr_put(sr::kRunMode, 0);
    EXPECT_TRUE(exchange(cmd(2, {1}, 255)).empty());
    EXPECT_EQ(sr_get(sr::kRunMode), 1);
    EXPECT_EQ(exchange(cmd(24, {16, 0x00, 0x80, 0x22, 0x11}, 255)), Bytes{kAck});
    EXPECT_EQ(le16(plc_reg + reg::kR), 0x1122);
    EXPECT_EQ(exchange(cmd(9, {}, 255)).size(), 4u);
    // Values missing from the packet never reach the registers.
    EXPECT_EQ(exchange(cmd(24, {16, 0x00, 0x80, 0x33})), Bytes{kRefused});
    EXPECT_TRUE(exchange(cmd(24, {16, 0x00, 0x80, 0x33}, 255)).empty());
    EXPECT_EQ(le16(plc_reg + reg::kR), 0x1122);
    // Another node, while this one is off the network: no answer at all.
    EXPECT_TRUE(exchange(cmd(1, {}, kOtherNode)).empty());
}

TEST_F(CommandTest, RelaysEachClassToAnotherNode) {
    // Class 0: one byte back.
    EXPECT_TRUE(exchange(cmd(2, {2}, kOtherNode)).empty());
    EXPECT_EQ(node.to_node, cmd(2, {2}, kOtherNode));
    EXPECT_EQ(Vcomm_Mode, kModePassThrough);
    EXPECT_EQ(Vcomm_ConnectId, kOtherNode);
    node.from_node = {kAck};
    passes();
    EXPECT_EQ(serial_out(), Bytes{kAck});
    EXPECT_EQ(CmdRun, 0xFF);

    // Class 1: one packet back, forwarded whole.
    node.to_node.clear();
    Bytes version = data_packet({9, 1, 2});
    exchange(cmd(8, {}, kOtherNode));
    EXPECT_EQ(node.to_node, cmd(8, {}, kOtherNode));
    node.from_node.assign(version.begin(), version.end());
    passes();
    EXPECT_EQ(serial_out(), version);

    // Class 2: the host streams to the node, each packet answered by the node.
    node.to_node.clear();
    exchange(cmd(4, {7}, kOtherNode));
    node.from_node = {kAck};
    EXPECT_EQ(exchange(data_packet({1, 2, 3})), Bytes{kAck});
    EXPECT_TRUE(serial_out().empty());
    node.from_node = {kAck};
    passes();
    EXPECT_EQ(serial_out(), Bytes{kAck});
    exchange(data_packet({}));
    node.from_node = {kAck};
    passes();
    EXPECT_EQ(serial_out(), Bytes{kAck});
    EXPECT_EQ(CmdRun, 0xFF); // ended after the node acknowledged the empty packet
    Bytes expect = cmd(4, {7}, kOtherNode);
    for (const Bytes &p : {data_packet({1, 2, 3}), data_packet({})})
        expect.insert(expect.end(), p.begin(), p.end());
    EXPECT_EQ(node.to_node, expect);

    // Class 3: the node streams to the host, each packet answered by the host.
    node.to_node.clear();
    exchange(cmd(5, {7}, kOtherNode));
    node.from_node = {kAck};
    passes();
    EXPECT_EQ(serial_out(), Bytes{kAck});
    Bytes d1 = data_packet({4, 5}), d2 = data_packet({});
    node.from_node.assign(d1.begin(), d1.end());
    passes();
    EXPECT_EQ(serial_out(), d1);
    EXPECT_EQ(exchange({kAck}), Bytes{});
    node.from_node.assign(d2.begin(), d2.end());
    passes();
    EXPECT_EQ(serial_out(), d2);
    exchange({kAck});
    EXPECT_EQ(CmdRun, 0xFF);
    EXPECT_EQ(node.to_node,
              (Bytes{5, 2, kOtherNode, 7, uint8_t(-(kSeed + 5 + 2 + kOtherNode + 7)), kAck, kAck}));
}

// ---- register, mode and link commands

TEST_F(CommandTest, RegisterModeAndLinkCommands) {
    auto answer = [](std::initializer_list<uint8_t> d) {
        Bytes p = {0xFF, uint8_t(d.size())};
        p.insert(p.end(), d);
        uint8_t sum = kSeed;
        for (uint8_t b : p)
            sum = uint8_t(sum + b);
        p.push_back(uint8_t(-sum));
        return p;
    };
    sr_put(sr::kProduct, 300);
    sr_put(sr::kFirmwareMajor, 1234);
    EXPECT_EQ(exchange(cmd(8, {})), answer({0xFF, 12, 34, 0x2C, 0x01}));

    // The network id: only a new id from 1 to 253 is taken.
    for (uint8_t id : {0, 254, 1})
        EXPECT_EQ(exchange(packet(10, {id})), Bytes{kAck}) << int(id);
    EXPECT_EQ(sr_get(sr::kNetId), kOwnId);

    // Packet size: 1025 refused, 512 taken (long form), 64 the short form again.
    EXPECT_EQ(exchange(cmd(35, {0x01, 0x04})), Bytes{kRefused});
    EXPECT_EQ(CmdDataMax, 64);
    EXPECT_EQ(exchange(cmd(35, {0x00, 0x02})), Bytes{kAck});
    EXPECT_EQ(NegotiationFlag, 1);
    EXPECT_EQ(CmdDataMax, 512);
    EXPECT_EQ(exchange(cmd(35, {64, 0})), Bytes{kAck});
    EXPECT_EQ(NegotiationFlag, 0);

    // Registers by reference: %R1 written and read back; %SR5 in online edit.
    EXPECT_EQ(exchange(cmd(24, {16, 0x00, 0x80, 0x05, 0x00})), Bytes{kAck});
    EXPECT_EQ(exchange(cmd(22, {16, 0x00, 0x80})), answer({5, 0}));
    EXPECT_EQ(exchange(cmd(2, {3})), Bytes{kAck});
    EXPECT_EQ(exchange(cmd(1, {})), answer({3}));
    EXPECT_EQ(exchange(cmd(22, {16, 0x40, 0x0C})), answer({3, 0}));
    EXPECT_EQ(exchange(cmd(2, {1})), Bytes{kAck});
    EXPECT_EQ(sr_get(sr::kRunMode), 1);
    // A read reaching past the register image is refused, not copied.
    uint32_t last = reg::kRefR + (reg::kDirectEnd - reg::kR) * 8 - 16;
    EXPECT_EQ(
        exchange(cmd(22, {16, 0, 0, uint8_t(last), uint8_t(last >> 8), uint8_t(last >> 16), 0})),
        answer({0, 0}));
    EXPECT_EQ(
        exchange(cmd(22, {255, 0, 0, uint8_t(last), uint8_t(last >> 8), uint8_t(last >> 16), 0})),
        Bytes{kBadSum});
    EXPECT_EQ(exchange(cmd(22, {16, 0x01, 0x00})), Bytes{kBadSum});

    // Global words of a node: the record's own words only.
    uint8_t *rec = Cmd_Hooks().net_data(253);
    EXPECT_EQ(exchange(packet(12, {253, 0x34, 0x12, 0, 3})), Bytes{kAck});
    EXPECT_EQ(le16(rec + 12 + 6), 0x1234);
    for (const Bytes &bad :
         {Bytes{254, 0x34, 0x12, 0, 0}, Bytes{3, 0x34, 0x12, 0, 4}, Bytes{3, 0x34, 0x12, 1, 32}})
        EXPECT_EQ(exchange(packet(12, bad)), Bytes{kRefused});
    for (const Bytes &bad : {Bytes{254, 1, 0, 1, 0}, Bytes{3, 1, 0, 2, 3}, Bytes{3, 1, 1, 1, 32},
                             Bytes{3, 2, 0, 1, 0}})
        EXPECT_EQ(exchange(packet(11, bad)), Bytes{kRefused});
    Bytes stream = {kAck};
    for (uint8_t b : answer({0x34, 0x12}))
        stream.push_back(b);
    EXPECT_EQ(exchange(packet(11, {253, 1, 0, 1, 3})), stream);
    EXPECT_EQ(exchange({kAck}), answer({}));
    EXPECT_EQ(exchange({kAck}), Bytes{});
    EXPECT_EQ(CmdRun, 0xFF);

    // The calibration exchange reads a one-byte length.
    Bytes cal(300, 0);
    cal[0] = kOwnId;
    EXPECT_EQ(exchange(packet(23, cal)), Bytes{kRefused});
    EXPECT_EQ(exchange(cmd(36, {})), Bytes{kRefused});
}

TEST_F(CommandTest, PortSettingsAnswerBeforeThePortChanges) {
    // %SR34 reopens the port at the default setting: the answer leaves first.
    bool answered_first = false;
    host::trace_start();
    host::trace_set_hook([&](const char *name) {
        if (std::string(name) == "Cmd_PortInit") answered_first = Vcomm_Drv[0].DrainTx(nullptr);
    });
    serial_in(cmd(24, {16, 0x10, 0x0E, 1, 0}));
    passes();
    host::trace_set_hook(nullptr);
    EXPECT_TRUE(answered_first);

    // A new baud: the answer, then the port at index 7 and the fall-back timer.
    EXPECT_EQ(exchange(cmd(27, {7})), Bytes{kAck});
    passes(); // once the answer has left
    EXPECT_EQ(Vcomm_Drv[0].mode[0], 7);
    EXPECT_EQ(exchange(cmd(26, {})), (Bytes{0xFF, 1, 7, uint8_t(-(kSeed + 0xFF + 1 + 7))}));
    // A tool that lost the new speed finds the panel at 9600 again.
    host::clock_advance_ms(9001);
    passes();
    EXPECT_EQ(Vcomm_Drv[0].mode[0], 5);
}

// ---- memory commands

TEST_F(CommandTest, DownloadUploadVerifyTheLogicProgram) {
    host::trace_start();
    Bytes prog;
    for (int i = 0; i < 150; ++i)
        prog.push_back(uint8_t(i * 3 + 1));
    std::vector<Bytes> chunks = {Bytes(prog.begin(), prog.begin() + 64),
                                 Bytes(prog.begin() + 64, prog.begin() + 128),
                                 Bytes(prog.begin() + 128, prog.end()), Bytes{}};
    EXPECT_EQ(stream_in(cmd(4, {0}), chunks), Bytes(5, kAck));
    EXPECT_EQ(sr_get(sr::kLadderCrc), crc16(prog.data(), uint32_t(prog.size())));
    EXPECT_EQ(sr_get32(sr::kLadderLength), prog.size());
    EXPECT_EQ(Cmd_Downloading, 0);
    auto calls = host::trace_calls();
    for (const char *c : {"PGM_Destroy", "SystemMsg", "PGM_Create"})
        EXPECT_NE(std::find(calls.begin(), calls.end(), c), calls.end()) << c;

    EXPECT_EQ(upload(cmd(5, {0})), prog);
    EXPECT_EQ(stream_in(cmd(3, {0}), chunks), Bytes(5, kAck));
    Bytes changed = chunks[1];
    changed[5] ^= 1;
    EXPECT_EQ(stream_in(cmd(3, {0}), {chunks[0], changed}), (Bytes{kAck, kAck, kRefused}));
    EXPECT_EQ(CmdRun, 0xFF);
}

TEST_F(CommandTest, UploadPacketAnsweredBadSumComesAgain) {
    std::memcpy(tinyImage + 8, "identity", 8);
    put_le32(tinyImage + 4, 8);
    exchange(cmd(5, {19}));
    host::clock_advance_ms(300);
    passes();
    Bytes first = serial_out();
    EXPECT_EQ(first, data_packet(Bytes{'i', 'd', 'e', 'n', 't', 'i', 't', 'y'}));
    EXPECT_EQ(exchange({kBadSum}), first);
    EXPECT_EQ(exchange({kAck}), data_packet({}));
    EXPECT_TRUE(exchange({kAck}).empty());
    EXPECT_EQ(CmdRun, 0xFF);
    // The slot identities are read-only.
    EXPECT_EQ(exchange(cmd(4, {17})), Bytes{kRefused});
    Bytes ss;
    EXPECT_EQ(upload(cmd(5, {17}), &ss).size(), 98u);
    EXPECT_EQ(ss, Bytes{kAck});
}

TEST_F(CommandTest, DataNeverLandsPastABlock) {
    host::trace_start();
    struct Case {
        const char *what;
        Bytes command;
        std::vector<Bytes> chunks;
        Bytes answers;
    };
    std::memcpy(plc_reg + reg::kMarker, "WATCHBAT", 8);
    Bytes slot_start = {9, 0, 0, 4, 0}; // offset 262144, slot 1
    const Case cases[] = {
        {"security record holds 80 bytes",
         cmd(4, {4}),
         {Bytes(60), Bytes(21)},
         {kAck, kAck, kRefused}},
        {"bitmap offset inside a slot", cmd(4, {9, 1, 0, 4, 0}), {}, {kRefused}},
        {"bitmap offset past the last slot", cmd(4, {9, 0, 0, 0, 1}), {}, {kRefused}},
        {"bitmap slot holds 256 KB",
         cmd(4, slot_start),
         std::vector<Bytes>(257, Bytes(1024, 0x5A)),
         {}},
        {"force table holds 256 bytes",
         cmd(4, {2}),
         {Bytes(200), Bytes(57)},
         {kAck, kAck, kRefused}},
    };
    for (const Case &c : cases) {
        Bytes a = stream_in(c.command, c.chunks);
        if (c.answers.empty()) {
            ASSERT_EQ(a.size(), 258u) << c.what;
            EXPECT_EQ(a.back(), kRefused) << c.what;
            EXPECT_EQ(std::count(a.begin(), a.end(), kAck), 257) << c.what;
        } else {
            EXPECT_EQ(a, c.answers) << c.what;
        }
        EXPECT_EQ(CmdRun, 0xFF) << c.what;
    }
    // The security record never reaches the image's marker.
    EXPECT_EQ(std::string(reinterpret_cast<char *>(plc_reg + reg::kMarker), 8), "WATCHBAT");
    // A bitmap upload is refused past the table, and capped to the block otherwise.
    EXPECT_EQ(exchange(cmd(5, {9, 0, 0, 0, 1, 1, 0, 0, 0})), Bytes{kRefused});
    EXPECT_EQ(exchange(cmd(5, {9, 0xFF, 0xFF, 0xFF, 0x00, 0x02, 0, 0, 0x01})), Bytes{kRefused});
    put_le32(net_config_bl + 4, 0x7FFFFFFF);
    EXPECT_EQ(upload(cmd(5, {6})).size(), app::kConfigParts[1].capacity - 8);
    auto calls = host::trace_calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "nvram_init"), calls.end());
}

TEST_F(CommandTest, LinkTimerExpiryAbortsADownload) {
    host::trace_start();
    EXPECT_EQ(stream_in(cmd(4, {7}), {Bytes(100, 1)}), Bytes(2, kAck));
    EXPECT_EQ(Cmd_Downloading, 1);
    host::clock_advance_ms(600);
    passes();
    EXPECT_EQ(Cmd_Downloading, 0);
    EXPECT_EQ(Vcomm_Lock, 0u);
    EXPECT_EQ(CmdRun, 0xFF);
    auto calls = host::trace_calls();
    for (const char *c : {"nvram_init", "PGM_Create"})
        EXPECT_NE(std::find(calls.begin(), calls.end(), c), calls.end()) << c;
}

TEST_F(CommandTest, BitmapSlotsAndDirectory) {
    Bytes pic(1000);
    for (size_t i = 0; i < pic.size(); ++i)
        pic[i] = uint8_t(i);
    Bytes slot2 = {9, 0, 0, 8, 0};
    EXPECT_EQ(stream_in(cmd(4, slot2), {pic, {}}), Bytes(3, kAck));
    EXPECT_EQ(le32(ram_map_tbl + 16 + 4), pic.size());
    EXPECT_EQ(le16(ram_map_tbl + 16), crc16(pic.data(), uint32_t(pic.size())));
    Bytes directory(ram_map_tbl, ram_map_tbl + 512);
    // Only slot 2 stays: the others become empty 8-byte pictures.
    Bytes whole = {9, 0xFF, 0xFF, 0xFF, 0xFF, 0x04};
    EXPECT_EQ(stream_in(cmd(4, whole), {directory, {}}), Bytes(3, kAck));
    EXPECT_EQ(sr_get32(sr::kBitmapsLength), pic.size());
    EXPECT_EQ(std::memcmp(rom_map_tbl, ram_map_tbl, app::kRomMapSize), 0);
    EXPECT_EQ(le32(rom_map_tbl + 4), 8u);
    Bytes up = upload(cmd(5, {9, 0, 0, 8, 0, 0xE8, 0x03, 0, 0}));
    EXPECT_EQ(up, pic);
}

} // namespace
