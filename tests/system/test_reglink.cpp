// Register control blocks: pools, page links, size codes, sign extension,
// the pseudo-references 992-1023 and the numbered system registers.
#include "base/le.h"
#include "net/net.h"
#include "platform/rtc.h"
#include "regs/plc_reg.h"
#include "serial/serial.h"
#include "support/block_poison.h"
#include "support/panel_fixture.h"
#include "system/appfile.h"
#include "system/reglink.h"
#include "system/sys.h"
#include "web/web.h"

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kR1 = reg::kRefR; // %R1
uint32_t r_ref(int n) {
    return reg::kRefR + 16u * uint32_t(n - 1);
}
uint8_t *r_ptr(int n) {
    return plc_reg + reg::kR + 2u * uint32_t(n - 1);
}

class RegLinkTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        links.assign(1022 * 8, 0);
        pPGM_ExtRef = links.data();
        SYS_ResetRCBs(0);
    }
    void TearDown() override {
        pPGM_ExtRef = nullptr;
        PanelTest::TearDown();
    }
    void set_link(uint32_t n, uint32_t ref, uint32_t ext = 0) {
        put_le32(&links[(n - 2) * 8], ref);
        put_le32(&links[(n - 2) * 8 + 4], ext);
    }
    std::vector<uint8_t> links;
};

TEST_F(RegLinkTest, SizeCodesGiveWidthAndSign) {
    struct Row {
        uint32_t code;
        bool wide_call; // SYS_32LinkReg
        uint16_t bits;
        uint8_t bytes;
    };
    // clang-format off
    const Row rows[] = {
        {16,     false, 16, 2 | rcb::kSigned},   // bits 6-7 = 00: signed bit count
        {1,      false, 1,  1 | rcb::kSigned},
        {12,     false, 12, 2 | rcb::kSigned},
        {63,     false, 63, 8 | rcb::kSigned},
        {0x50,   false, 16, 2},                  // 01: unsigned bit count
        {0x90,   false, 16, 2},                  // 10: unsigned bit count
        {0xC4,   false, 32, 4},                  // 11: byte count
        {206,    false, 112, 14},                // the clock registers
        {222,    false, 240, 30},
        {0x8000 | 100, false, 800, 100},         // byte count in 7 bits
        {0x8000 | 0x7F, false, 1016, 127},
        {0x8000 | 16, true, 16, 2 | rcb::kSigned}, // no byte form for 32-bit links
        {0xC4,   true,  32, 4},
    };
    // clang-format on
    for (const Row &r : rows) {
        RCB *b = r.wide_call ? SYS_32LinkReg(kR1, r.code) : SYS_LinkReg(kR1, r.code);
        ASSERT_NE(b, nullptr) << r.code;
        EXPECT_EQ(b->ref, kR1);
        EXPECT_EQ(b->rref, kR1);
        EXPECT_EQ(b->bits, r.bits) << r.code;
        EXPECT_EQ(b->bytes, r.bytes) << r.code;
        EXPECT_EQ(b->fixed, 0);
    }
}

TEST_F(RegLinkTest, ReadSignExtendsSignedOperands) {
    struct Row {
        uint32_t code;
        int32_t value; // stored in %R1.. little-endian
        uint32_t read; // bytes asked for
    };
    const Row rows[] = {
        {16, -2, 4},  {16, 32767, 4}, {16, -32768, 4}, {16, 1, 4},  {0x90, -2, 4}, {8, -1, 4},
        {8, 0x7F, 2}, {32, -5, 8},    {0xC2, -2, 4},   {16, -2, 1}, // fewer bytes than the operand
    };
    for (const Row &r : rows) {
        SYS_ResetRCBs(0);
        std::memset(r_ptr(1), 0, 8);
        put_le32(r_ptr(1), uint32_t(r.value));
        RCB *b = SYS_LinkReg(kR1, r.code);
        ASSERT_NE(b, nullptr);
        uint8_t out[8];
        std::memset(out, 0xAA, sizeof out);
        SYS_ReadReg(out, b, r.read);
        // Expected: the operand's bytes, then the sign of its top byte when
        // the size code is signed (bits 6-7 clear), else zeros.
        uint32_t n = b->bytes & 0x7F;
        bool sign = (r.code & 0xC0) == 0 && (r_ptr(1)[n - 1] & 0x80);
        for (uint32_t i = 0; i < sizeof out; ++i) {
            uint8_t want = i >= r.read ? 0xAA : i < n ? r_ptr(1)[i] : sign ? 0xFF : 0x00;
            EXPECT_EQ(out[i], want) << "code " << r.code << " value " << r.value << " byte " << i;
        }
    }
    // The edge case in words: -1 in a 16-bit signed operand reads as 32-bit -1.
    put_le16(r_ptr(1), 0xFFFF);
    uint32_t v = 0;
    SYS_ReadReg(&v, SYS_LinkReg(kR1, 16), 4);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    put_le16(r_ptr(1), 0x7FFF);
    SYS_ReadReg(&v, SYS_LinkReg(kR1, 16), 4);
    EXPECT_EQ(v, 0x00007FFFu);
}

TEST_F(RegLinkTest, WriteFillsMissingBytesFromTheLastSourceByte) {
    struct Row {
        uint32_t code;
        std::vector<uint8_t> src;
        std::vector<uint8_t> stored; // %R1.. afterwards
    };
    const std::vector<Row> rows = {
        {32, {0xFE}, {0xFE, 0xFF, 0xFF, 0xFF}}, // signed: extended
        {32, {0x7E}, {0x7E, 0x00, 0x00, 0x00}},
        {0xA0, {0xFE}, {0xFE, 0x00, 0x00, 0x00}},                 // unsigned: zeros
        {16, {0x34, 0x12, 0x99, 0x99}, {0x34, 0x12, 0x00, 0x00}}, // only the operand
        {0xC4, {}, {0x00, 0x00, 0x00, 0x00}},
    };
    for (const Row &r : rows) {
        SYS_ResetRCBs(0);
        std::memset(r_ptr(1), 0, 8);
        RCB *b = SYS_LinkReg(kR1, r.code);
        SYS_WriteReg(b, r.src.data(), uint32_t(r.src.size()));
        EXPECT_EQ(std::vector<uint8_t>(r_ptr(1), r_ptr(1) + r.stored.size()), r.stored) << r.code;
    }
}

TEST_F(RegLinkTest, PoolsHoldTheirSizeAndThenRefuse) {
    struct Row {
        int mode, size;
    };
    const Row rows[] = {{0, rcb::kDynamic},
                        {1, rcb::kStatic},
                        {2, rcb::kSystem},
                        {7, rcb::kSystem},
                        {rcb::kUserPool, rcb::kUsers}};
    for (const Row &r : rows) {
        SYS_ResetRCBs(r.mode);
        std::vector<RCB *> got;
        for (int i = 0; i < r.size; ++i)
            got.push_back(SYS_LinkReg(r_ref(1 + i % 100), 16));
        for (RCB *b : got)
            ASSERT_NE(b, nullptr);
        EXPECT_EQ(SYS_LinkReg(kR1, 16), nullptr) << "pool " << r.mode;
        // Emptying the pool hands out its first block again.
        SYS_ResetRCBs(r.mode);
        EXPECT_EQ(SYS_LinkReg(kR1, 16), got[0]);
    }
    // Selecting a pool keeps what it handed out; another pool's links do not
    // take its blocks.
    SYS_ResetRCBs(1);
    RCB *first = SYS_LinkReg(kR1, 16);
    SYS_ResetRCBs(rcb::kUserPool);
    ASSERT_NE(SYS_LinkReg(kR1, 16), nullptr);
    SYS_SelectRCBs(1);
    EXPECT_EQ(SYS_LinkReg(kR1, 16), first + 1);
    // A null block neither reads nor writes.
    put_le16(r_ptr(1), 77);
    uint32_t v = 0x55555555;
    SYS_ReadReg(&v, nullptr, 4);
    EXPECT_EQ(v, 0x55555555u);
    SYS_WriteReg(nullptr, &v, 4);
    SYS_ModLink(nullptr, 4);
    SYS_ChgLink(nullptr, kR1, 16);
    EXPECT_EQ(le16(r_ptr(1)), 77);
}

TEST_F(RegLinkTest, ReferencesOutsideTheRegistersAreRefused) {
    const uint32_t bad[] = {
        0, 500, 1024 - 1, reg::kRefDirectEnd, reg::kRefDirectEnd - 8, reg::kRefETEnd, 0x0FFFFFFF};
    for (uint32_t ref : bad)
        EXPECT_EQ(SYS_32LinkReg(ref, 16), nullptr) << ref;
    EXPECT_NE(SYS_32LinkReg(reg::kRefDirectEnd - 16, 16), nullptr);
    // A page link without an entry table.
    pPGM_ExtRef = nullptr;
    SYS_ResetRCBs(0);
    EXPECT_EQ(SYS_LinkReg(5, 16), nullptr);
    // Re-targeting outside the registers leaves a block that reads zeros and writes nothing.
    RCB *b = SYS_32LinkReg(kR1, 16);
    SYS_ChgLink(b, 700, 16);
    EXPECT_EQ(b->ref, 0u);
    uint32_t v = 0x1234;
    SYS_WriteReg(b, &v, 4);
    SYS_ReadReg(&v, b, 4);
    EXPECT_EQ(v, 0u);
}

TEST_F(RegLinkTest, PageLinksResolveThroughTheOpenPage) {
    set_link(5, r_ref(3));
    put_le16(r_ptr(3), 4321);
    SYS_ResetRCBs(0);
    uint16_t v = 0;
    RCB *b = SYS_LinkReg(5, 16);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->ref, r_ref(3));
    SYS_ReadReg(&v, b, 2);
    EXPECT_EQ(v, 4321);
    // Only the low 16 bits decide for SYS_LinkReg, the whole value for SYS_32LinkReg.
    EXPECT_EQ(SYS_LinkReg(0x10005, 16)->ref, r_ref(3));
    EXPECT_EQ(SYS_32LinkReg(0x10005, 16)->ref, 0x10005u);
    EXPECT_EQ(SYS_32LinkReg(5, 16)->ref, r_ref(3));
    // Link value 1 makes a fixed placeholder block.
    RCB *f = SYS_LinkReg(1, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->fixed, 1);
    EXPECT_EQ(f->ref, 1u);
}

// A link table inside the screen program block, the block cut short at
// several points (the rest of its buffer poisoned): only the entries wholly
// inside the block's data resolve.
TEST_F(RegLinkTest, PageLinkTableCutByTheProgramEndResolvesOnlyWholeEntries) {
    uint8_t *table = kesta_pgm_bl + 8 + 100;
    for (uint32_t n = 2; n < 6; ++n) {
        put_le32(table + (n - 2) * 8, r_ref(int(n)));
        put_le32(table + (n - 2) * 8 + 4, 0);
    }
    pPGM_ExtRef = table;
    struct Row {
        uint32_t length; // of the block's data
        uint32_t link;
        bool resolves;
    };
    // clang-format off
    const Row rows[] = {
        {100 + 32, 5, true},  // the table whole
        {100 + 31, 5, false}, // the last entry cut by one byte
        {100 + 28, 5, false}, // its extension word missing
        {100 + 24, 4, true},
        {100 + 3,  2, false},
    };
    // clang-format on
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.length << " link " << r.link);
        put_le32(kesta_pgm_bl + 4, r.length);
        PoisonPast past(kesta_pgm_bl + 8, app::kConfigParts[3].capacity - 8, r.length);
        SYS_ResetRCBs(0);
        RCB *b = SYS_LinkReg(r.link, 16);
        if (r.resolves) {
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->ref, r_ref(int(r.link)));
        } else {
            EXPECT_EQ(b, nullptr);
        }
    }
}

TEST_F(RegLinkTest, ChangeAndOffsetRetargetABlock) {
    set_link(994, r_ref(9));
    SYS_ResetRCBs(0);
    RCB *fixed = SYS_LinkReg(1, 0);
    RCB *plain = SYS_LinkReg(kR1, 16);
    // A pseudo-reference stays a pseudo-reference in a fixed block ...
    SYS_ChgLink(fixed, 994, 0xC4);
    EXPECT_EQ(fixed->ref, 994u);
    EXPECT_EQ(fixed->rref, 994u);
    EXPECT_EQ(fixed->bytes, 4);
    // ... and goes through the page link table otherwise.
    SYS_ChgLink(plain, 994, 0x90);
    EXPECT_EQ(plain->ref, r_ref(9));
    EXPECT_EQ(plain->fixed, 0);
    SYS_ModLink(plain, 32);
    EXPECT_EQ(plain->rref, r_ref(11));
    EXPECT_EQ(plain->ref, r_ref(9));
    put_le16(r_ptr(11), 606);
    uint16_t v = 0;
    SYS_ReadReg(&v, plain, 2);
    EXPECT_EQ(v, 606);
    // A slot handed out again after the pool was emptied is not fixed.
    SYS_ResetRCBs(0);
    RCB *again = SYS_LinkReg(kR1, 16);
    EXPECT_EQ(again, fixed);
    EXPECT_EQ(again->fixed, 0);
    SYS_ChgLink(again, 994, 16);
    EXPECT_EQ(again->ref, r_ref(9));
}

TEST_F(RegLinkTest, ExternalObjectLinksRebuildTheReferenceAndPostTheStatus) {
    struct Row {
        uint32_t ext;
        uint8_t status;
    };
    // status s = bits 25-28 (high nibble) | bits 0-3; above 3 the high nibble picks an offset.
    const Row rows[] = {
        {0x00000002, 2},                       // s = 2
        {0x00000005, 5},                       // no high flag: stays
        {(0x2u << 25) | 0x4, 4 + 3},           // 0x20
        {(0x4u << 25) | 0x6, 6 + 7},           // 0x40
        {(0x8u << 25) | 0x1, 1 + 9},           // 0x80
        {(0x6u << 25) | 0x1, 1 + 3},           // 0x20 wins over 0x40
        {(0x2u << 25) | 0x0, 0x20 + 3 - 0x20}, // s = 0x20 > 3: (low nibble 0) + 3
        {(0xFFu << 17) | 0x3, 3},
    };
    for (const Row &r : rows) {
        uint32_t ref = 0x80000000u | 0x07;
        uint32_t ext = r.ext | (0x123u << 4); // bits 4-16 -> reference bits 12-24
        set_link(7, ref, ext);
        SYS_ResetRCBs(0);
        std::memset(Ext_Obj_Comm_Status, 0, sizeof Ext_Obj_Comm_Status);
        RCB *b = SYS_LinkReg(7, 16);
        ASSERT_NE(b, nullptr);
        uint32_t want = (ref & 0x80000FFFu) | ((ext << 8) & 0x01FFF000u);
        EXPECT_EQ(b->ref, want);
        EXPECT_EQ(Ext_Obj_Comm_Status[7][0], r.status) << std::hex << r.ext;
        EXPECT_EQ(Ext_Obj_Comm_Status[7][1], uint8_t(ext >> 17));
    }
    // With bit 24 set no status is posted; an object index past the status
    // table posts nothing.
    set_link(7, 0x80000007u, 0x00010002u);
    set_link(8, 0x80000FFFu, 0x00000002u);
    SYS_ResetRCBs(0);
    std::memset(Ext_Obj_Comm_Status, 0, sizeof Ext_Obj_Comm_Status);
    EXPECT_NE(SYS_LinkReg(7, 16), nullptr);
    EXPECT_EQ(Ext_Obj_Comm_Status[7][0], 0);
    EXPECT_NE(SYS_LinkReg(8, 16), nullptr);
}

TEST_F(RegLinkTest, PseudoReferencesRead) {
    put_le32(Dpr_Configuration[0] + 4, 0xC0A80001);
    put_le32(Dpr_Configuration[0] + 8, 0xFFFFFF00);
    put_le32(Dpr_Configuration[0] + 12, 0xC0A800FE);
    put_le32(Dpr_Configuration[0] + 16, 0x08080808);
    Dpr_Configuration[0][56] = 1;
    Dpr_Configuration[0][57] = 0x7F; // the byte after the DHCP flag
    sr_put(208, 3);
    sr_put(209, 4);
    sr_put(210, uint16_t(-150));
    sr_put(211, 1);
    for (int n = 212; n <= 217; ++n)
        sr_put(n, uint16_t(n));
    for (int n = 195; n <= 198; ++n)
        sr_put(n, uint16_t(n * 3));
    ParviServerState = 4;
    user_details_list[152] = 1;
    std::memcpy(tinyImage + 32, "00:11:22:33:44:55", 18);
    std::strcpy(KernelRev, "2.6.35");
    InitRdVer = 1552;
    struct Row {
        uint32_t ref;
        uint32_t code;
        std::vector<uint32_t> words; // 16-bit words expected
    };
    const std::vector<Row> rows = {
        {992, 0x90, {1}}, // the DHCP flag only
        {994, 0xC4, {0x0808, 0x0808}},
        {996, 0xC4, {3, 4}},
        {1002, 16, {1}},
        {1003, 16, {1}},
        {1005, 0xC4, {uint16_t(-30), uint16_t(-2)}},
        {1006, 0xC4, {1, 0}},
        {1007, 0xC6, {212, 213, 214}},
        {1008, 0xC6, {215, 216, 217}},
        {1010, 0xC4, {195 * 3, 196 * 3}},
        {1013, 16, {198 * 3}},
        {1015, 0xC4, {0x0001, 0xC0A8}},
        {1016, 0xC4, {0xFF00, 0xFFFF}},
        {1017, 0xC4, {0x00FE, 0xC0A8}},
        {1014, 0xC4, {'0' | '0' << 8, ':' | '1' << 8}},
        {1022, 0xC4, {'2' | '.' << 8, '6' | '.' << 8}},
        {1023, 0xC4, {1552, 0}},
        {993, 0xC4, {0, 0}},
        {1009, 0xC4, {0, 0}},
        {1020, 0xC4, {0, 0}},
    };
    for (const Row &r : rows) {
        RCB *b = SYS_LinkReg(1, 0);
        SYS_ChgLink(b, r.ref, r.code);
        std::vector<uint8_t> out(2 * r.words.size() + 2, 0xAA);
        SYS_ReadReg(out.data(), b, uint32_t(2 * r.words.size()));
        for (size_t i = 0; i < r.words.size(); ++i)
            EXPECT_EQ(le16(&out[2 * i]), r.words[i]) << r.ref << " word " << i;
        EXPECT_EQ(out[2 * r.words.size()], 0xAA) << r.ref;
    }
    ParviServerState = 3;
    user_details_list[152] = 0;
    RCB *b = SYS_LinkReg(1, 0);
    uint16_t v = 9;
    SYS_ChgLink(b, 1002, 16);
    SYS_ReadReg(&v, b, 2);
    EXPECT_EQ(v, 0);
    SYS_ChgLink(b, 1003, 16);
    SYS_ReadReg(&v, b, 2);
    EXPECT_EQ(v, 0);
}

TEST_F(RegLinkTest, PseudoReferencesWrite) {
    auto link = [](uint32_t ref, uint32_t code) {
        RCB *b = SYS_LinkReg(1, 0);
        SYS_ChgLink(b, ref, code);
        return b;
    };
    // 90 minutes: minutes word 30, hours word 1.
    uint16_t hm[2] = {30, 1};
    UtcUpdated = 0;
    SYS_WriteReg(link(1005, 0xC4), hm, 4);
    EXPECT_EQ(sr_get(210), 90);
    EXPECT_EQ(UtcUpdated, 1);
    int16_t neg[2] = {-30, -1};
    SYS_WriteReg(link(1005, 0xC4), neg, 4);
    EXPECT_EQ(int16_t(sr_get(210)), -90);

    uint16_t dst = 1;
    SYS_WriteReg(link(1006, 16), &dst, 2);
    EXPECT_EQ(sr_get(211), 1);

    // The UTC calendar takes the bytes but never runs past %SR217.
    UtcUpdated = 0;
    sr_put(218, 0x5A5A);
    uint16_t cal[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SYS_WriteReg(link(1007, 0xC0 | 16), cal, 16);
    for (int n = 212; n <= 217; ++n)
        EXPECT_EQ(sr_get(n), n - 211);
    EXPECT_EQ(sr_get(218), 0x5A5A);
    EXPECT_EQ(UtcUpdated, 1);
    SYS_WriteReg(link(1008, 0xC0 | 16), cal, 16);
    EXPECT_EQ(sr_get(215), 1);
    EXPECT_EQ(sr_get(217), 3);
    EXPECT_EQ(sr_get(218), 0x5A5A);

    // Network items; the DHCP flag takes one byte, whatever the width.
    uint32_t ip = 0x0A000002;
    SYS_WriteReg(link(1015, 0xC4), &ip, 4);
    EXPECT_EQ(le32(Dpr_Configuration[0] + 4), ip);
    SYS_WriteReg(link(994, 0xC4), &ip, 4);
    EXPECT_EQ(le32(Dpr_Configuration[0] + 16), ip);
    Dpr_Configuration[0][57] = 0x42;
    uint16_t on = 0x0101;
    SYS_WriteReg(link(992, 16), &on, 2);
    EXPECT_EQ(Dpr_Configuration[0][56], 1);
    EXPECT_EQ(Dpr_Configuration[0][57], 0x42);

    // 1009-1013 go through the ordinary register write (%SR194-%SR198).
    uint16_t w = 0x1234;
    SYS_WriteReg(link(1009, 16), &w, 2);
    EXPECT_EQ(sr_get(194), 0x1234);
    SYS_WriteReg(link(1012, 16), &w, 2);
    EXPECT_EQ(sr_get(197), 0x1234);

    // Read-only pseudo-references change nothing.
    std::vector<uint8_t> before(plc_reg, plc_reg + reg::kImageSize);
    for (uint32_t ref : {996u, 1002u, 1003u, 1014u, 1020u, 1022u, 1023u})
        SYS_WriteReg(link(ref, 0xC4), &ip, 4);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), plc_reg));
}

TEST_F(RegLinkTest, SystemRegistersAndProgramSegment) {
    EXPECT_EQ(SYS_WriteSys(1, 7), 1);
    EXPECT_EQ(SYS_ReadSys(1), 7);
    EXPECT_EQ(SYS_lastLocalUser, 7);
    EXPECT_EQ(SYS_WriteSys(5, 9), 0); // run mode above 4 refused
    EXPECT_NE(SYS_ReadSys(5), 9);
    EXPECT_EQ(SYS_WriteSys(0, 1), 0);
    EXPECT_EQ(SYS_WriteSys(449, 1), 0);
    EXPECT_EQ(SYS_WriteSys(300, 0xBEEF), 1);
    EXPECT_EQ(sr_get(300), 0xBEEF);

    put_le32(kesta_pgm_bl + 4, 1234);
    put_le16(kesta_pgm_bl + 8 + 10, 3);
    EXPECT_EQ(SYS_ReadSeg(2, 0), 1234u);
    EXPECT_EQ(SYS_ReadSeg(1, 9), 3u);
    EXPECT_EQ(SYS_ReadSeg(3, 0), 0u);
    EXPECT_EQ(SYS_ReadSeg(1, 0xFFFFFFFF), 0u); // past the block
    EXPECT_EQ(SYS_ReadSeg(2, 0xFFFFFFFF), 0u);
    SYS_WriteSeg(1, 5, 0xABCD);
    EXPECT_EQ(SYS_ReadSeg(1, 5), 0xABCDu);
    SYS_WriteSeg(2, 6, 1);
    EXPECT_EQ(SYS_ReadSeg(2, 6), 0u);
    EXPECT_EQ(SYS_PackRegs(1), 0);
    EXPECT_EQ(SYS_PackRegs(0), 1);
}

TEST_F(RegLinkTest, RogueAlarmTouchAndClockLinks) {
    set_link(12, r_ref(20));
    SYS_ResetRCBs(0);
    uint32_t cell = 0;
    SYS_InitRogueRCB(&cell, 12);
    EXPECT_EQ(cell, r_ref(20));
    SYS_InitRogueRCB(&cell, r_ref(2));
    EXPECT_EQ(cell, r_ref(2));
    uint8_t src[3] = {1, 2, 3};
    SYS_WriteRogueRCB(&cell, 16, 20, src); // 3 bytes at %R3
    EXPECT_EQ(r_ptr(3)[0], 1);
    EXPECT_EQ(r_ptr(3)[2], 3);
    uint32_t bad = reg::kRefDirectEnd - 8;
    SYS_WriteRogueRCB(&bad, 0, 16, src); // would run past the registers
    SYS_WriteRogueRCB(nullptr, 0, 8, src);

    SYS_LoadAlarmRcb(12, 13);
    EXPECT_EQ(le16(dpram + 4), uint16_t(r_ref(20)));
    EXPECT_EQ(le16(dpram + 6), uint16_t(r_ref(20) >> 16));
    EXPECT_EQ(le16(dpram + 8), 16);
    EXPECT_EQ(le16(dpram + 10), 0);

    SYS_InitTchSen(r_ref(4));
    ASSERT_NE(pTchSenRcb, nullptr);
    EXPECT_EQ(pTchSenRcb->bits, 16);
    SYS_InitTchSen(0);
    EXPECT_EQ(pTchSenRcb, nullptr);
    RCB *d = SYS_InitRTC();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d, pDateRcb);
    EXPECT_EQ(d->ref, sr_ref(44));
    EXPECT_EQ(d->bytes, 14);
}

} // namespace
