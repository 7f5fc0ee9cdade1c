// The code image's check and accessors, the database sized and linked from
// it, and location words decoded against it. Images are made from text by
// the assembler.
#include "base/le.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trcode.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trheap.h"
#include "panel_fixture.h"
#include "regs/plc_reg.h"
#include "tools/lib/iecasm.h"

#include <cstring>
#include <memory>

namespace {

std::vector<uint8_t> assemble(const std::string &src) {
    IecAsmOutput out;
    std::string error;
    EXPECT_TRUE(Iecasm_Assemble(src, &out, &error)) << error << "\n" << src;
    return out.image;
}

const std::string kBase = ".app T\n.program p\n END\n";

TrCodeImage image_of(const std::vector<uint8_t> &b) {
    return TrCodeImage{b.data(), uint32_t(b.size())};
}

// A database sized, allocated (zero-filled) and linked from an image.
struct Db {
    std::vector<uint8_t> bytes;
    uint8_t *p() { return bytes.data(); }
    uint32_t size() const { return uint32_t(bytes.size()); }
    VmDbSegment seg(uint32_t k) { return TrDB_GetSegment(bytes.data(), k); }
};
Db make_db(const std::vector<uint8_t> &image) {
    Db db;
    uint8_t header[trdb::kHeaderSize] = {};
    EXPECT_EQ(TrVM_GetDBSize(image_of(image), header), 0);
    db.bytes.assign(TrVM_GetTotalDBSize(header), 0);
    std::memcpy(db.p(), header, sizeof header);
    TrVM_BuildDBMainLinks(db.p());
    return db;
}

class IecImageTest : public PanelTest {};

TEST_F(IecImageTest, CheckCodeAnswersByFormatIdentificationAndVersion) {
    std::vector<uint8_t> good = assemble(kBase);
    uint32_t ident = le32(&good[4]);
    struct Case {
        const char *what;
        uint32_t at;
        std::vector<uint8_t> bytes;
        int code;
    };
    const Case cases[] = {
        {"format 0x11", 0, {0x11}, 0},
        {"format 0x12", 0, {0x12}, 2},
        {"format 0x21", 0, {0x21}, 0},
        {"identification", ident + 4, {'J'}, 3},
        {"identification's zero", ident + 5, {'X'}, 3},
        {"version", ident + 18, {'1'}, 4},
        {"identification offset past the end", 4, {0xF0, 0xFF, 0, 0}, 3},
        {"sizing offset past the end", 32, {0xFC, 0xFF, 0xFF, 0xFF}, 2},
        {"no sizing block", 32, {0, 0, 0, 0}, 2},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> img = good;
        std::copy(c.bytes.begin(), c.bytes.end(), img.begin() + c.at);
        EXPECT_EQ(TrVMCode_CheckCode(image_of(img)), c.code) << c.what;
    }
}

TEST_F(IecImageTest, TruncatedImagesAreRefusedWithoutReadingPastTheirEnd) {
    std::vector<uint8_t> good = assemble(".app T period=5 stamp=9\n.ext 24 f18=64\n"
                                         ".var DINT a = 1 public\n.var STRING(4) s = \"ab\"\n"
                                         ".task MAIN p\n.program p\n JMP x\nx: END\n");
    uint32_t sizing_end = le32(&good[32]) + trcode::kSizingSize;
    for (size_t n = 0; n < good.size(); ++n) {
        // Exactly n bytes on the heap: a read past them is caught.
        std::unique_ptr<uint8_t[]> cut(new uint8_t[n ? n : 1]);
        std::memcpy(cut.get(), good.data(), n);
        TrCodeImage c{cut.get(), uint32_t(n)};
        int check = TrVMCode_CheckCode(c);
        if (n < sizing_end) {
            EXPECT_EQ(check, 2) << n;
        }
        uint8_t header[trdb::kHeaderSize] = {};
        int sized = TrVM_GetDBSize(c, header);
        if (check != 0) {
            EXPECT_EQ(sized, 1) << n;
        }
        TrVMCode_GetAppName(c);
        TrVMCode_GetInfoIdentity(c);
        TrVMCode_GetNbProgWithStack(c);
        TrVMCode_GetNbString(c, nullptr);
        TrVMCode_GetHeapSize(c);
        TrVMCode_GetStringTable(c, 1);
        TrVMCode_CanHOTBuildTaskList(c);
        Iecasm_Disassemble(cut.get(), n);
    }
}

TEST_F(IecImageTest, InformationWordSevenBelowFourReadsNoIdentity) {
    std::vector<uint8_t> img = assemble(kBase);
    uint32_t info = le32(&img[8]);
    for (uint32_t at : {0u, 1u, 3u}) {
        put_le32(&img[info + 28], at);
        EXPECT_EQ(TrVMCode_GetInfoIdentity(image_of(img)), 0u) << at;
    }
    put_le32(&img[info + 28], 8);
    EXPECT_EQ(TrVMCode_GetInfoIdentity(image_of(img)), le32(&img[4]));
}

TEST_F(IecImageTest, SizingAndBuildStepsFailWithTheirKindsCode) {
    struct Case {
        const char *src;
        int (*step)(const TrCodeImage &, uint8_t *);
        int code;
    };
    const Case cases[] = {
        {".var USINT a\n.room data8 -1\n", TrVMCode_GetData8Sizing, 9},
        {".var INT a\n.room data16 -1\n", TrVMCode_GetData16Sizing, 10},
        {".var DINT a\n.var DINT b\n.room data32 -1\n", TrVMCode_GetData32Sizing, 11},
        {".var LREAL a\n.room data64 -1\n", TrVMCode_GetData64Sizing, 19},
        {".var TIME a\n.room time -1\n", TrVMCode_GetTimeSizing, 13},
        {".var STRING(3) a\n.room string -1\n", TrVMCode_GetStringSizing, 20},
        {".xv DINT 1\n.room xv -1\n", TrVMCode_GetXVSizing, 34},
        {".var USINT a\n", TrVMCode_GetData8Sizing, 0},
        {".var LREAL a\n", TrVMCode_GetData64Sizing, 0},
        {"", TrVMCode_GetData64Sizing, 0}, // nothing of the kind in use
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> img = assemble(".app T\n" + std::string(c.src) + ".program p\n END\n");
        Db db = make_db(img);
        EXPECT_EQ(c.step(image_of(img), db.p()), c.code) << c.src;
    }
    // A ninth task.
    std::string src = ".app T\n";
    for (int i = 0; i < 9; ++i)
        src += ".task T" + std::to_string(i) + " p\n";
    std::vector<uint8_t> img = assemble(src + ".program p\n END\n");
    Db db = make_db(img);
    EXPECT_EQ(TrVMCode_CanHOTBuildTaskList(image_of(img)), 36);
    EXPECT_EQ(TrVMCode_BuildTaskList(image_of(img), db.p(), db.size()), 36);
    img = assemble(".app T\n.task MAIN p\n.task @@B p\n.program p\n END\n");
    db = make_db(img);
    EXPECT_EQ(TrVMCode_BuildTaskList(image_of(img), db.p(), db.size()), 0);
    EXPECT_EQ(db.seg(28).count_b, 2);
    uint32_t name = le32(db.p() + db.seg(28).pointer + 8);
    EXPECT_STREQ(reinterpret_cast<const char *>(img.data() + name), "@@B");
}

TEST_F(IecImageTest, KindSizingSetsTheWorkingCounts) {
    std::vector<uint8_t> img = assemble(".app T\n.var INT a[3]\n.prev data16 2\n.room data16 5\n"
                                        ".program p\n END\n");
    Db db = make_db(img);
    EXPECT_EQ(db.seg(7).allocated, 9); // highest 3 + room 5, plus index 0
    EXPECT_EQ(TrVMCode_GetData16Sizing(image_of(img), db.p()), 0);
    EXPECT_EQ(db.seg(7).count_b, 4);
    EXPECT_EQ(db.seg(7).count_a, 3);
}

TEST_F(IecImageTest, SegmentsAreRoundedAndFollowEachOther) {
    std::vector<uint8_t> img =
        assemble(".app T\n.var DINT a\n.var STRING(10) s\n.program p\n END\n");
    Db db = make_db(img);
    // No 64-bit data: segment 9 is empty and TIME data starts where it would.
    EXPECT_EQ(TrDB_SegmentSize(db.seg(9)), 0u);
    EXPECT_EQ(db.seg(10).pointer, db.seg(9).pointer);
    // One STRING of capacity 10: 13 bytes of buffers occupy 16.
    EXPECT_EQ(db.seg(18).raw_size, 13u);
    EXPECT_EQ(db.seg(19).pointer - db.seg(18).pointer, 16u);
    // 49 hash heads of 4 bytes occupy 200.
    EXPECT_EQ(db.seg(26).pointer - db.seg(25).pointer, 200u);
    EXPECT_EQ(db.seg(0).pointer, 640u);
    EXPECT_EQ(TrVM_GetTotalDBSize(db.p()), db.size());
    // Capacities 10 and 20 take 13 + 23 bytes.
    img = assemble(".app T\n.var STRING(10) a\n.var STRING(20) b\n.program p\n END\n");
    uint64_t bytes = 0;
    EXPECT_EQ(TrVMCode_GetNbString(image_of(img), &bytes), 3u);
    EXPECT_EQ(bytes, 36u);
    db = make_db(img);
    EXPECT_EQ(db.seg(18).raw_size, 36u);
    ASSERT_EQ(TrVMCode_SetStringPointers(image_of(img), db.p(), db.size()), 0);
    uint32_t s2 = le32(db.p() + db.seg(17).pointer + 8);
    EXPECT_EQ(s2, db.seg(18).pointer + 13);
    EXPECT_EQ(db.p()[s2], 20);
}

TEST_F(IecImageTest, ExtensionFieldsExistFromTheirVersion) {
    std::vector<uint8_t> img =
        assemble(".app T\n.ext 13\n.raw e13 01 02\n.raw e14 03 04\n.program p\n END\n");
    uint32_t ext = le32(&img[40]);
    for (uint32_t v : {11u, 12u, 13u}) {
        put_le32(&img[ext], v);
        EXPECT_EQ(TrVMCode_GetRecipes(image_of(img)) != 0, v >= 12) << v;
        EXPECT_EQ(TrVMCode_GetVLsts(image_of(img)) != 0, v >= 13) << v;
    }
    // A field whose offset points outside the image reads as absent.
    put_le32(&img[ext + 4 * 13], uint32_t(img.size()));
    EXPECT_EQ(TrVMCode_GetRecipes(image_of(img)), 0u);
}

TEST_F(IecImageTest, CallStackSizes) {
    std::vector<uint8_t> img =
        assemble(".app T\n.program a\n END\n.program b nostack\n END\n.program c\n END\n");
    EXPECT_EQ(TrVMCode_GetCallStackSize(image_of(img)), 16u);
    EXPECT_EQ(TrVMCode_GetNbProgWithStack(image_of(img)), 2u);
    EXPECT_EQ(TrVMCode_GetCallStackAllocSize(image_of(img)), 48u);
    img = assemble(".app T stack=5\n.program a\n END\n");
    EXPECT_EQ(TrVMCode_GetCallStackSize(image_of(img)), 5u);
    // A call stack beyond 16 bits of entries is refused, not cut.
    img = assemble(".app T stack=40000\n.program a\n END\n");
    uint8_t header[trdb::kHeaderSize] = {};
    EXPECT_EQ(TrVM_GetDBSize(image_of(img), header), 1);
}

TEST_F(IecImageTest, SizesFromTheImageAreSummedWithoutWrapping) {
    uint8_t header[trdb::kHeaderSize] = {};
    // A heap of 2 GiB, and sizes that wrap 32 bits when summed.
    for (const char *ext :
         {".ext 16 f18=0x7FFFFFFF\n", ".ext 16 f18=0x7FFFFF90\n", ".ext 16 f18=268435456\n"}) {
        std::vector<uint8_t> img = assemble(std::string(".app T\n") + ext + ".program p\n END\n");
        EXPECT_EQ(TrVM_GetDBSize(image_of(img), header), 1) << ext;
    }
    std::vector<uint8_t> img = assemble(".app T\n.ext 16 f18=1000\n.program p\n END\n");
    EXPECT_EQ(TrVM_GetDBSize(image_of(img), header), 0);
    EXPECT_EQ(TrDB_GetSegment(header, 3).raw_size, 1112u);
    // A STRING minimum that alone is beyond the limit.
    img = assemble(kBase);
    put_le32(&img[le32(&img[32]) + 92], 0xFFFFFFF0u);
    EXPECT_EQ(TrVM_GetDBSize(image_of(img), header), 1);
}

TEST_F(IecImageTest, SizingRefusesAMissingEmptyOrUnmarkedPublicTable) {
    std::vector<uint8_t> good = assemble(kBase);
    uint8_t header[trdb::kHeaderSize] = {};
    ASSERT_EQ(TrVM_GetDBSize(image_of(good), header), 0);
    EXPECT_EQ(TrDB_GetSegment(header, 24).allocated, 1); // room for one entry
    EXPECT_EQ(TrDB_GetSegment(header, 24).element_size, 24);
    uint32_t t = le32(&good[64]);
    struct Case {
        const char *what;
        uint32_t at;
        uint16_t value;
    };
    const Case cases[] = {{"missing", 64, 0}, {"empty", t + 2, 0}, {"unmarked", t + 14, 0x4000}};
    for (const Case &c : cases) {
        std::vector<uint8_t> img = good;
        if (c.at == 64)
            put_le32(&img[64], 0);
        else
            put_le16(&img[c.at], c.value);
        EXPECT_EQ(TrVM_GetDBSize(image_of(img), header), 1) << c.what;
    }
    std::vector<uint8_t> img = good;
    put_le16(&img[t + 6], 0x200);
    ASSERT_EQ(TrVM_GetDBSize(image_of(img), header), 0);
    EXPECT_EQ(TrDB_GetSegment(header, 24).element_size, 40);
}

TEST_F(IecImageTest, ExternalVariablesMustNameAllocatedElements) {
    std::vector<uint8_t> img =
        assemble(".app T\n.var DINT a[2]\n.var STRING(4) s\n.xv DINT 2\n.xv STRING 1\n"
                 ".program p\n END\n");
    Db db = make_db(img);
    ASSERT_EQ(TrVMCode_SetStringPointers(image_of(img), db.p(), db.size()), 0);
    ASSERT_EQ(TrVMCode_SetXVPointers(image_of(img), db.p(), db.size()), 0);
    uint8_t *xv = db.p() + db.seg(26).pointer;
    EXPECT_EQ(le32(xv + 4), db.seg(8).pointer + 8);
    EXPECT_EQ(le32(xv + 8), le32(db.p() + db.seg(17).pointer + 4));
    for (const char *bad : {".xv DINT 3\n", ".xv LINT 1\n", ".xv 99 1\n"}) {
        img = assemble(std::string(".app T\n.var DINT a[2]\n") + bad + ".program p\n END\n");
        db = make_db(img);
        EXPECT_EQ(TrVMCode_SetXVPointers(image_of(img), db.p(), db.size()), 1) << bad;
    }
}

TEST_F(IecImageTest, ComplexTypeInitialRecordsStayInsideTheirSegment) {
    // Segment definition: allocated 8, used 8, then records (L, offset, data).
    const std::string head = ".app T\n.ext 7\n.raw e9 08 00 00 00 08 00 00 00 ";
    std::vector<uint8_t> img = assemble(head + "02 06 00 00 00 aa bb 00\n.program p\n END\n");
    Db db = make_db(img);
    EXPECT_EQ(TrDB_SegmentSize(db.seg(35)), 8u);
    ASSERT_EQ(TrVMCode_ApplyCTSegInit(image_of(img), db.p(), db.size(), 0), 0);
    EXPECT_EQ(db.p()[db.seg(35).pointer + 6], 0xaa);
    EXPECT_EQ(db.p()[db.seg(35).pointer + 7], 0xbb);
    for (const char *rec : {"02 07 00 00 00 aa bb 00", "01 ff ff ff ff aa 00"}) {
        img = assemble(head + rec + "\n.program p\n END\n");
        db = make_db(img);
        EXPECT_EQ(TrVMCode_ApplyCTSegInit(image_of(img), db.p(), db.size(), 0), 1) << rec;
    }
}

TEST_F(IecImageTest, RelinkRefusesADatabaseOfAnotherSize) {
    Db db = make_db(assemble(".app T\n.var DINT a[40]\n.program p\n END\n"));
    std::vector<uint8_t> copy = db.bytes;
    for (uint32_t k = 0; k < trdb::kSegments; ++k)
        put_le32(copy.data() + 16 * k, 0);
    EXPECT_EQ(TrVM_RelinkDB(copy.data(), copy.size() - 8), 1);
    EXPECT_EQ(TrVM_RelinkDB(copy.data(), copy.size() + 8), 1);
    EXPECT_EQ(TrVM_RelinkDB(copy.data(), 100), 1);
    EXPECT_EQ(le32(copy.data() + 16 * 8), 0u); // nothing changed
    EXPECT_EQ(TrVM_RelinkDB(copy.data(), copy.size()), 0);
    EXPECT_EQ(copy, db.bytes);
}

TEST_F(IecImageTest, LocationWordsDecodeInsideTheirSegments) {
    std::vector<uint8_t> img =
        assemble(".app T\n.ext 7\n.raw e9 10 00 00 00 00 00 00 00 00\n"
                 ".var BOOL b[4]\n.var INT i[2]\n.var DINT d\n.var LINT l\n.var TIME t[2]\n"
                 ".var STRING(5) s\n.room string 1\n.program p\n END\n");
    Db db = make_db(img);
    ASSERT_EQ(TrVMCode_SetStringPointers(image_of(img), db.p(), db.size()), 0);
    EXPECT_EQ(TrevantCalculateVmDbAddress(0, 8), nullptr); // no database yet
    pDB = db.p();
    pDBSize = db.size();
    auto at = [&](uint32_t k, uint32_t off) { return db.p() + db.seg(k).pointer + off; };
    struct Case {
        const char *what;
        uint32_t ref, bits;
        uint8_t *want;
    };
    const Case cases[] = {
        {"8-bit", (0u << 26) | 2, 8, at(6, 2)},
        {"BOOL", (6u << 26) | 1, 1, at(6, 1)},
        {"BOOL, 4 booleans", (6u << 26) | 1, 4, at(6, 1)},
        {"BOOL, 5 booleans past the end", (6u << 26) | 1, 5, nullptr},
        {"16-bit", (1u << 26) | 2, 16, at(7, 4)},
        {"16-bit, 32 bits past the end", (1u << 26) | 2, 32, nullptr},
        {"16-bit bit 3 of 2 elements", (1u << 26) | (3u << 20) | 1, 16, at(7, 2)},
        {"16-bit bit 3 of 3 elements", (1u << 26) | (3u << 20) | 1, 24, nullptr},
        {"32-bit", (2u << 26) | 1, 32, at(8, 4)},
        {"64-bit", (3u << 26) | 1, 64, at(9, 8)},
        {"TIME byte offset", (5u << 26) | 8, 32, at(10, 8)},
        {"TIME past the end", (5u << 26) | 12, 32, nullptr},
        {"STRING", (4u << 26) | 1, 40, at(18, 2)},
        {"STRING with a null pointer", (4u << 26) | 2, 8, nullptr},
        {"STRING beyond the count", (4u << 26) | 3, 8, nullptr},
        {"kind 7", (7u << 26) | 1, 8, nullptr},
        {"bit 29, any kind bits", (1u << 29) | (7u << 26) | 4, 8, at(35, 4)},
        {"bit 29 at the end", (1u << 29) | (2u << 26) | 12, 32, at(35, 12)},
        {"bit 29 past the end", (1u << 29) | (2u << 26) | 13, 32, nullptr},
        {"index far out", (2u << 26) | 0xFFFFF, 32, nullptr},
        {"top bits ignored", 0xC0000000u | (2u << 26) | 1, 32, at(8, 4)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TrevantCalculateVmDbAddress(c.ref, c.bits), c.want) << c.what;
    // A STRING pointer that leaves its segment is not followed.
    put_le32(at(17, 4), db.seg(18).pointer + TrDB_SegmentSize(db.seg(18)) - 2);
    EXPECT_EQ(TrevantCalculateVmDbAddress((4u << 26) | 1, 8), nullptr);
    put_le32(at(17, 4), 3);
    EXPECT_EQ(TrevantCalculateVmDbAddress((4u << 26) | 1, 8), nullptr);
}

TEST_F(IecImageTest, RegistersReachIecVariablesThroughTheGate) {
    std::vector<uint8_t> img = assemble(".app T\n.var INT a[2]\n.program p\n END\n");
    Db db = make_db(img);
    pDB = db.p();
    pDBSize = db.size();
    TrevantRuntime = 1;
    trevant_variables_enumerateded = 1;
    uint32_t ref = 0xC0000000u | (1u << 26) | 2;
    uint8_t v[2] = {0x34, 0x12};
    PlcReg_Set(ref, v, 16);
    EXPECT_EQ(le16(db.p() + db.seg(7).pointer + 4), 0x1234);
    uint8_t four[4] = {1, 2, 3, 4};
    PlcReg_Set(ref, four, 32); // would reach past the segment: refused
    EXPECT_EQ(le16(db.p() + db.seg(7).pointer + 4), 0x1234);
}

} // namespace

namespace {
TEST_F(IecImageTest, TheHeapLivesBehindTheApplicationRecordAndSurvivesACopy) {
    std::vector<uint8_t> img = assemble(".app T\n.ext 16 f18=256\n.program p\n END\n");
    Db db = make_db(img);
    ASSERT_EQ(TrVMCode_AllocHeap(image_of(img), db.p(), db.size(), false), 0);
    uint8_t *heap = TrVM_GetHeap(db.p(), db.size());
    ASSERT_EQ(heap, db.p() + db.seg(3).pointer + 112 + 256 - 24);
    uint32_t h = TrHeap_Alloc(heap, 10);
    TrHeap_Lock(heap, h)[0] = 'q';
    TrHeap_Unlock(heap, h);
    // Written to a file and read back elsewhere: relinked and taken back.
    std::vector<uint8_t> copy = db.bytes;
    ASSERT_EQ(TrVM_RelinkDB(copy.data(), copy.size()), 0);
    ASSERT_EQ(TrVMCode_AllocHeap(image_of(img), copy.data(), uint32_t(copy.size()), true), 0);
    uint8_t *again = TrVM_GetHeap(copy.data(), uint32_t(copy.size()));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(TrHeap_Lock(again, h)[0], 'q');
    // A damaged heap is not taken back.
    std::memset(copy.data() + db.seg(3).pointer + 112, 0, 4);
    EXPECT_EQ(TrVMCode_AllocHeap(image_of(img), copy.data(), uint32_t(copy.size()), true), 71);
    // A heap of its own: cold only.
    img = assemble(".app T\n.ext 16 f18=-1\n.program p\n END\n");
    db = make_db(img);
    EXPECT_EQ(TrVMCode_AllocHeap(image_of(img), db.p(), db.size(), true), 71);
    ASSERT_EQ(TrVMCode_AllocHeap(image_of(img), db.p(), db.size(), false), 0);
    EXPECT_EQ(TrHeap_GetFreeSpace(TrVM_GetHeap(db.p(), db.size())), -1);
}
} // namespace
