// The variable map, status information and symbol paths over databases
// built from assembled images.
#include "iec/kernel/trmap.h"
#include "iec/kernel/trsyb.h"
#include "panel_fixture.h"
#include "vm_db.h"

#include <string>
#include <vector>

namespace {

class Map : public PanelTest {
protected:
    VmDb v;
    uint8_t *db() { return v.db(); }
    uint8_t *sym(const char *name) { return TrMap_GetBySymbol(db(), name); }
    uint32_t position(const uint8_t *entry) {
        uint32_t pos = 0;
        for (uint8_t *e = TrMap_GetFirst(db(), &pos); e; e = TrMap_GetNext(db(), &pos))
            if (e == entry) return pos;
        ADD_FAILURE() << "no such entry";
        return 0;
    }
};

const char kVars[] = R"(.app MAP stamp=5
.ext 8
.type S struct a:INT, b:DINT
.type ROW array INT 10
.type M2 array INT 3,4
.type NEST struct s:S, r:ROW
.var INT Level public
.var UINT u public
.var DINT d public tag=7
.var DINT locked public
.var STRING(10) txt public
.var BOOL flag public
.var REAL r public
.var LINT big public
.var INT arr[10] public
.var DINT hidden
.var S s public
.var M2 m public
.var NEST n public
.var ROW row public
.program main kind=0
        END
)";

TEST_F(Map, LookupsByEveryKey) {
    ASSERT_EQ(v.build(kVars), 0);
    EXPECT_EQ(TrMap_GetCount(db()), 13u);
    // Symbols are case-blind in a-z only.
    uint8_t *level = sym("Level");
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(sym("LEVEL"), level);
    EXPECT_EQ(sym("level"), level);
    EXPECT_EQ(sym("hidden"), nullptr);
    EXPECT_EQ(sym("Leve"), nullptr);
    // INT and UINT share a kind: either code finds either.
    uint8_t *u = sym("u");
    EXPECT_EQ(TrMap_GetByIndex(db(), 11, 1), level);
    EXPECT_EQ(TrMap_GetByIndex(db(), 15, 1), level);
    EXPECT_EQ(TrMap_GetByIndex(db(), 11, 2), u);
    EXPECT_EQ(TrMap_GetByIndex(db(), 15, 2), u);
    EXPECT_EQ(TrMap_GetByIndex(db(), 2, 2), sym("locked"));
    EXPECT_EQ(TrMap_GetByIndex(db(), 2, 9), nullptr);
    EXPECT_EQ(TrMap_GetByNumTag(db(), 7), sym("d"));
    EXPECT_EQ(TrMap_GetByNumTag(db(), 8), nullptr);
    EXPECT_EQ(TrMap_GetByData(db(), v.var(2, 1)), sym("d"));
    EXPECT_EQ(TrMap_GetData(db(), level), v.var(11, 1));
    EXPECT_EQ(TrMap_GetData(db(), sym("txt")), v.var(5, 1));
    // Handles are database offsets: never 0, checked exactly.
    uint32_t h = TrMap_Handle(db(), level);
    EXPECT_NE(h, 0u);
    EXPECT_EQ(TrMap_CheckPointer(db(), h), 1);
    EXPECT_EQ(TrMap_CheckPointer(db(), h + 4), 0);
    EXPECT_EQ(TrMap_CheckPointer(db(), 0), 0);
    EXPECT_EQ(TrMap_FromHandle(db(), h), level);
    // Enumeration in table order.
    uint32_t pos = 0, n = 0;
    for (uint8_t *e = TrMap_GetFirst(db(), &pos); e; e = TrMap_GetNext(db(), &pos))
        ++n;
    EXPECT_EQ(n, 13u);
    EXPECT_STREQ(TrMap_GetTypeName(db(), sym("s")), "S");
    EXPECT_STREQ(TrMap_GetTypeName(db(), sym("r")), "REAL");
    EXPECT_EQ(TrMap_GetDim(db(), sym("arr")), 10u);
    EXPECT_EQ(TrMap_GetDim(db(), level), 0u);
    EXPECT_EQ(TrMap_GetStringLenth(db(), sym("txt")), 10u);
}

TEST_F(Map, ATableWithoutRecordsBuildsAnEmptyMap) {
    ASSERT_EQ(v.build(iec_app()), 0);
    uint32_t pos = 0;
    EXPECT_EQ(TrMap_GetFirst(db(), &pos), nullptr);
    EXPECT_EQ(TrMap_GetBySymbol(db(), "b"), nullptr);
    uint8_t desc[16];
    EXPECT_EQ(TrMap_GetDesc(db(), 0, desc), 12u);
    EXPECT_EQ(std::vector<uint8_t>(desc, desc + 12), std::vector<uint8_t>(12, 0));
}

TEST_F(Map, ValuesByTypeAndLocks) {
    ASSERT_EQ(v.build(kVars), 0);
    uint8_t *d = sym("d"), *lk = sym("locked"), *r = sym("r"), *flag = sym("flag");
    EXPECT_EQ(TrMap_SetLongValue(db(), d, -5), 0);
    EXPECT_EQ(v.dint(1), -5);
    EXPECT_EQ(TrMap_GetLongValue(db(), d), -5);
    EXPECT_EQ(TrMap_GetDWordValue(db(), d), 0xFFFFFFFBu);
    EXPECT_EQ(TrMap_SetLongValue(db(), flag, 9), 0);
    EXPECT_EQ(v.get(1, 1), 1u) << "BOOL stored as 0 or 1";
    EXPECT_EQ(TrMap_SetRealValue(db(), r, 2.5f), 0);
    EXPECT_EQ(TrMap_GetLongValue(db(), r), 2);
    EXPECT_DOUBLE_EQ(TrMap_GetLRealValue(db(), r), 2.5);
    // A float far beyond an integer's range is saturated, not undefined.
    EXPECT_EQ(TrMap_SetRealValue(db(), d, 1e20f), 0);
    EXPECT_EQ(v.dint(1), INT32_MAX);
    EXPECT_EQ(TrMap_SetLongValue(db(), sym("big"), -1), 0);
    EXPECT_EQ(TrMap_GetLIntValue(db(), sym("big")), -1) << "sign-extended to 64 bits";
    EXPECT_EQ(TrMap_SetStringValue(db(), sym("txt"), "hello world!", 0), 0);
    uint32_t len = 0;
    const char *text = TrMap_GetStringValue(db(), sym("txt"), &len);
    EXPECT_EQ(std::string(text, len), "hello worl");
    EXPECT_EQ(TrMap_SetLongValue(db(), sym("txt"), 1), 1) << "a STRING has no number";
    // A locked DINT refuses and keeps its value.
    v.set(2, 2, 42);
    v.lock(2, 0x04);
    EXPECT_EQ(TrMap_IsLocked(db(), lk), 1);
    EXPECT_EQ(TrMap_SetLongValue(db(), lk, 1), 1);
    EXPECT_EQ(v.dint(2), 42);
    EXPECT_EQ(TrMap_IsLocked(db(), d), 0) << "the lock bits are per kind";
}

TEST_F(Map, StatusInformation) {
    ASSERT_EQ(v.build(".app V\n.var DINT a public vsi\n.var DINT b public\n"
                      ".program main kind=0\n        END\n"),
              0);
    EXPECT_NE(TrMap_GetVSI(db(), sym("a")), nullptr);
    EXPECT_EQ(TrMap_SetVSIBit(db(), 2, 1, 40, 1), 1);
    uint8_t *vsi = TrMap_GetVSI(db(), sym("a"));
    EXPECT_EQ(le32(vsi), 0x100u) << "bit 40 is bit 8 of the word of bits 32-63";
    EXPECT_EQ(le32(vsi + 4), 0u);
    EXPECT_EQ(TrMap_GetVSIBit(db(), 2, 1, 40), 1);
    EXPECT_EQ(TrMap_SetVSIBit(db(), 2, 1, 64, 1), 0);
    EXPECT_EQ(TrMap_SetVSIDate(db(), 2, 1, (2026 << 16) | (12 << 8) | 11), 1);
    EXPECT_EQ(TrMap_CopyVSI(db(), 2, 2, 1, 1, 1), 1);
    EXPECT_EQ(TrMap_GetVSIBit(db(), 2, 2, 40), 1);
    EXPECT_EQ(TrMap_GetVSIDate(db(), 2, 2), (2026u << 16) | (12 << 8) | 11);
    EXPECT_EQ(TrMap_ResetSetVSIBits(db(), 2, 1), 1);
    EXPECT_EQ(TrMap_GetVSIBit(db(), 2, 1, 40), 0);
    EXPECT_EQ(TrMap_GetVSIBit(db(), 2, 7, 1), 0) << "no such variable";

    // Without status information every call answers 0.
    VmDb plain;
    ASSERT_EQ(plain.build(kVars), 0);
    EXPECT_EQ(TrMap_GetVSI(plain.db(), TrMap_GetBySymbol(plain.db(), "d")), nullptr);
    EXPECT_EQ(TrMap_SetVSIBit(plain.db(), 2, 1, 3, 1), 0);
}

TEST_F(Map, Description) {
    ASSERT_EQ(v.build(kVars), 0);
    uint8_t buf[300];
    // The DINT d (index 1, numeric tag 7: flags 3).
    uint32_t at = position(sym("d"));
    uint32_t n = TrMap_GetDesc(db(), at, buf);
    const uint8_t want[] = {0, 2, 0, 1, 0, 0, 0, 1, 0, 3, 1, 'd', 0};
    ASSERT_EQ(n, 13u);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 13), std::vector<uint8_t>(want, want + 13));
    EXPECT_EQ(TrMap_GetDescLength(db(), at), 13u);
    // A complex variable gives its type information instead.
    n = TrMap_GetDesc(db(), position(sym("s")), buf);
    EXPECT_EQ(n, 13u);
    EXPECT_EQ(buf[1], 127);
    EXPECT_EQ(buf[7], 1) << "definition 1, S";
    EXPECT_EQ(buf[9], 0x01);
    EXPECT_EQ(buf[8], 0x01) << "type information flag";
    EXPECT_EQ(TrMap_GetDesc(db(), 99, buf), 12u);
}

TEST_F(Map, Paths) {
    ASSERT_EQ(v.build(kVars), 0);
    uint16_t type = 0;
    struct Case {
        const char *path;
        bool found;
        uint16_t type;
    } cases[] = {
        {"arr[9]", true, 11},  {"arr[10]", false, 0}, {"arr", false, 0},    {"arr[9]x", false, 0},
        {"s.A", true, 11},     {"s.b", true, 2},      {"s.ab", false, 0},   {"s", false, 0},
        {"m[1]", false, 0},    {"m[2,3]", true, 11},  {"m[3,0]", false, 0}, {"n.s.b", true, 2},
        {"n.r[9]", true, 11},  {"n.r[10]", false, 0}, {"LEVEL", true, 11},  {"Level.x", false, 0},
        {"nothing", false, 0}, {"row[0]", true, 11},
    };
    for (const Case &c : cases) {
        uint8_t *p = TrVmSyb_ParseSingle(db(), c.path, &type);
        EXPECT_EQ(p != nullptr, c.found) << c.path;
        EXPECT_EQ(type, c.type) << c.path;
    }
    // Addresses: elements apart by their size; members at their offsets.
    EXPECT_EQ(TrVmSyb_ParseSingle(db(), "arr[9]", &type), v.var(11, 3) + 18);
    uint8_t *s0 = TrMap_GetData(db(), sym("s"));
    EXPECT_EQ(TrVmSyb_ParseSingle(db(), "s.b", &type), s0 + 2);
    uint8_t *m0 = TrMap_GetData(db(), sym("m"));
    EXPECT_EQ(TrVmSyb_ParseSingle(db(), "m[2,3]", &type), m0 + 2 * (2 * 4 + 3));
    // With the type name asked for, a complex value is named too.
    const char *name = nullptr;
    EXPECT_EQ(TrVmSyb_Parse(db(), "n.s", &type, &name), TrMap_GetData(db(), sym("n")));
    EXPECT_EQ(type, 127);
    EXPECT_STREQ(name, "S");
    EXPECT_NE(TrVmSyb_Parse(db(), "d", &type, &name), nullptr);
    EXPECT_STREQ(name, "DINT");
    // The web's dotted lookup leaves the cursor behind the name.
    const char *cur = "s.a";
    EXPECT_EQ(Velmor_TrVmSyb_GetMapItem(db(), &cur), sym("s"));
    EXPECT_STREQ(cur, ".a");
}

int collect(const char *path, uint16_t type, void *user) {
    static_cast<std::vector<std::string> *>(user)->push_back(std::string(path) + ":" +
                                                             std::to_string(type));
    return 1;
}

TEST_F(Map, MemberEnumeration) {
    ASSERT_EQ(v.build(kVars), 0);
    std::vector<std::string> got;
    char path[64];
    EXPECT_EQ(TrVmSyb_EnumCTMembers(db(), sym("s"), path, sizeof path, collect, &got), 1);
    EXPECT_EQ(got, (std::vector<std::string>{"s.a:11", "s.b:2"}));
    got.clear();
    EXPECT_EQ(TrVmSyb_EnumCTMembers(db(), sym("m"), path, sizeof path, collect, &got), 1);
    ASSERT_EQ(got.size(), 12u);
    EXPECT_EQ(got[0], "m[0,0]:11");
    EXPECT_EQ(got[11], "m[2,3]:11");
    // A short buffer: a structure member that does not fit is skipped, the
    // others still visited; an array suffix that does not fit stops.
    got.clear();
    char shorter[6]; // "n.s.a" fits, "n.r[0]" does not
    EXPECT_EQ(TrVmSyb_EnumCTMembers(db(), sym("n"), shorter, sizeof shorter, collect, &got), 0);
    EXPECT_EQ(got, (std::vector<std::string>{"n.s.a:11", "n.s.b:2"}));
    got.clear();
    EXPECT_EQ(TrVmSyb_EnumCTMembers(db(), sym("d"), path, sizeof path, collect, &got), 0);
    EXPECT_TRUE(got.empty());
}

TEST_F(Map, ASelfReferencingTypeGivesNothing) {
    std::string src = ".app T\n.ext 8\n.type S struct b:INT, a:INT\n.var S s public\n"
                      ".program main kind=0\n        END\n";
    IecAsmOutput out;
    std::string error;
    ASSERT_TRUE(Iecasm_Assemble(src, &out, &error)) << error;
    // Member b of S (definition 1, at offset 0) made to be an S itself.
    std::string image(out.image.begin(), out.image.end());
    size_t b = image.find(std::string("b\0\x06", 3));
    ASSERT_NE(b, std::string::npos);
    out.image[b + 3] = 1;
    out.image[b + 4] = 0;
    v.image = out.image;
    v.code = TrCodeImage{v.image.data(), uint32_t(v.image.size())};
    uint8_t header[trdb::kHeaderSize] = {};
    ASSERT_EQ(TrVM_GetDBSize(v.code, header), 0);
    v.mem.assign(TrVM_GetTotalDBSize(header), 0);
    std::copy(header, header + sizeof header, v.mem.begin());
    TrVM_BuildDBMainLinks(v.mem.data());
    ASSERT_EQ(TrVM_BuildEx(v.code, v.mem.data(), 0, 0), 0);
    uint16_t type = 0;
    EXPECT_EQ(TrVmSyb_ParseSingle(db(),
                                  "s.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b.b."
                                  "b.b.b.b.b.b.b.b.a",
                                  &type),
              nullptr);
    EXPECT_NE(TrVmSyb_ParseSingle(db(), "s.a", &type), nullptr);
    std::vector<std::string> got;
    char path[4096];
    EXPECT_EQ(TrVmSyb_EnumCTMembers(db(), sym("s"), path, sizeof path, collect, &got), 0);
}

} // namespace
