// The register bridge on a running application: binding tables built from
// the register-location table, the six updates in the order of the control
// scan, the first scan, %S9, a stopped VM, and a stop and start that frees
// the database the tables pointed into.
#include "base/le.h"
#include "host/root.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trbridge.h"
#include "iec/kernel/trdb.h"
#include "iec/kernel/trglue.h"
#include "iec/kernel/tros.h"
#include "iec/kernel/trparts.h"
#include "iec_app.h"
#include "panel_fixture.h"
#include "plc/appblocks.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "regs/regname.h"

#include <cstring>

namespace {

class Bridge : public PanelTest {
protected:
    std::vector<uint8_t> varloc;

    void SetUp() override {
        PanelTest::SetUp();
        host::make_dirs("/mnt/cfg");
    }
    void TearDown() override {
        testing::internal::CaptureStdout();
        __Exit();
        testing::internal::GetCapturedStdout();
        TrevantI0_VarLoc = nullptr;
        PanelTest::TearDown();
    }
    // Assembles the application, puts its location table where the panel
    // program would and starts the runtime. `patch` changes table entries.
    void start(const std::string &source,
               const std::vector<std::pair<uint32_t, uint32_t>> &patch = {}) {
        IecAsmOutput out;
        std::string error;
        ASSERT_TRUE(Iecasm_Assemble(source, &out, &error)) << error;
        for (auto &[i, w] : patch)
            out.varloc[i] = w;
        write_file("/mnt/cfg/tr.cod", as_text(out.image));
        varloc.assign(4 * out.varloc.size(), 0);
        for (size_t i = 0; i < out.varloc.size(); ++i)
            put_le32(&varloc[4 * i], out.varloc[i]);
        TrevantI0_VarLoc = varloc.data();
        TrevantRuntime = 1;
        testing::internal::CaptureStdout();
        Trevant_init();
        testing::internal::GetCapturedStdout();
        ASSERT_NE(pDB, nullptr);
    }
    // One control scan's share of the bridge, in the scan's order.
    static void scan() {
        TrevantUpdateWordSRRegs();
        TrevantUpdateBitSysRegs();
        TrevantUpdateBitInputRegs();
        TrevantUpdateWordInputRegs();
        testing::internal::CaptureStdout();
        _VMThread();
        testing::internal::GetCapturedStdout();
        TrevantUpdateBitOutputRegs();
        TrevantUpdateWordOutputRegs();
    }
    static uint32_t ref(const std::string &name) {
        uint32_t r = 0, bits = 0;
        std::string error;
        EXPECT_TRUE(RegName_Parse(name, &r, &bits, &error)) << name << ": " << error;
        return r;
    }
    static uint8_t *reg(const std::string &name) { return PlcReg_Ptr(ref(name), 16); }
    static int bit(const std::string &name) {
        uint8_t v = 0;
        PlcReg_Get(&v, ref(name), 1);
        return v;
    }
    static void set_bit(const std::string &name, int on) {
        uint8_t v = uint8_t(on);
        PlcReg_Store(ref(name), &v, 1);
    }
    static uint16_t word(const std::string &name) { return le16(reg(name)); }
    static void set_word(const std::string &name, uint16_t v) { put_le16(reg(name), v); }
    static uint8_t *var(uint16_t type, uint32_t index) {
        uint32_t size = 0;
        uint8_t *p = TrTools_GetAnyParam(pDB, type, index, nullptr, &size);
        EXPECT_NE(p, nullptr);
        return p;
    }
};

const char kMixed[] = R"(.app BRIDGE
.var BOOL ig1
.var BOOL ig3
.var BOOL i5
.var BOOL qg2
.var BOOL q1
.var BOOL s4
.var BOOL k2
.var INT aig1
.var INT ai3
.var INT aqg1
.var INT aq1
.var INT aq2
.var INT sr1
.var INT sr4
.var INT sr200
.bind %IG1 ig1
.bind %IG3 ig3
.bind %I5 i5
.bind %QG2 qg2
.bind %Q1 q1
.bind %S4 s4
.bind %K2 k2
.bind %AIG1 aig1
.bind %AI3 ai3
.bind %AQG1 aqg1
.bind %AQ1 aq1
.bind %AQ2 aq2
.bind %SR1 sr1
.bind %SR4 sr4
.bind %SR200 sr200
.program main kind=0
        END
)";

TEST_F(Bridge, TablesFollowTheLocationTableInItsOrder) {
    // %AQ3's word names an INT beyond the data: it keeps its place unbound.
    start(kMixed, {{5952 + 2, (1u << 26) | 0xFFFF}});
    struct Row {
        const char *what;
        uint32_t count;
        std::vector<uint32_t> refs;
        std::vector<uint32_t> got;
    };
    auto refs = [](auto *t, uint32_t n) {
        std::vector<uint32_t> r;
        for (uint32_t k = 0; k < n; ++k)
            r.push_back(t[k].ref);
        return r;
    };
    Row rows[] = {
        {"bit input",
         BoolInputEntries,
         {ref("%IG1"), ref("%IG3"), ref("%I5")},
         refs(VmDbBitInput_ptr, BoolInputEntries)},
        {"bit output",
         BoolOutputEntries,
         {ref("%QG2"), ref("%Q1")},
         refs(VmDbBitOutput_ptr, BoolOutputEntries)},
        {"system bits",
         BoolSysEntries,
         {ref("%S4"), ref("%K2")},
         refs(VmDbBitSys_ptr, BoolSysEntries)},
        {"word input",
         WordInputEntries,
         {ref("%AIG1"), ref("%AI3")},
         refs(VmDbWordInput_ptr, WordInputEntries)},
        {"word output",
         WordOutputEntries,
         {ref("%AQG1"), ref("%AQ1"), ref("%AQ2"), ref("%AQ3")},
         refs(VmDbWordOutput_ptr, WordOutputEntries)},
        {"system words",
         WordSREntries,
         {ref("%SR1"), ref("%SR4"), 0x10030000u + 16 * 7},
         refs(VmDbWordSR_ptr, WordSREntries)},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(r.count, r.refs.size()) << r.what;
        EXPECT_EQ(r.got, r.refs) << r.what;
    }
    EXPECT_EQ(VmDbBitSys_ptr[0].flags, 3) << "%S4: bit 3, one-way";
    EXPECT_EQ(VmDbBitSys_ptr[1].flags, trbridge::kTwoWay | 1) << "%K2: bit 1, two-way";
    EXPECT_EQ(VmDbWordOutput_ptr[3].iec, nullptr);
    EXPECT_EQ(VmDbWordSR_ptr[0].flags, 1) << "%SR1 is written back";
    EXPECT_EQ(VmDbWordSR_ptr[1].flags, 0) << "%SR4 is not";
    EXPECT_EQ(VmDbWordSR_ptr[2].reg, PlcReg_Ptr(0x10030000u + 16 * 7, 16));
    // The unbound entry is skipped by every update.
    set_word("%AQ3", 77);
    scan();
    scan();
    EXPECT_EQ(word("%AQ3"), 77);
}

TEST_F(Bridge, TheChangedSideWins) {
    start(kMixed);
    scan();
    // Bits: the side that changed is copied to the other.
    *var(1, 5) = 1; // q1 by the application
    scan();
    EXPECT_EQ(bit("%Q1"), 1);
    set_bit("%Q1", 0); // by the register
    scan();
    EXPECT_EQ(*var(1, 5), 0);
    set_bit("%I5", 1);
    scan();
    EXPECT_EQ(*var(1, 3), 1);
    *var(1, 3) = 0;
    scan();
    EXPECT_EQ(bit("%I5"), 0);
    // Words: one side changed is copied; both changed, the register wins.
    struct Case {
        const char *reg;
        uint32_t index;
    } words[] = {{"%AQ1", 4}, {"%AI3", 2}};
    for (const Case &c : words) {
        put_le16(var(11, c.index), 11);
        scan();
        EXPECT_EQ(word(c.reg), 11) << c.reg;
        set_word(c.reg, 12);
        scan();
        EXPECT_EQ(le16(var(11, c.index)), 12) << c.reg;
        set_word(c.reg, 13);
        put_le16(var(11, c.index), 14);
        scan();
        EXPECT_EQ(word(c.reg), 13) << c.reg;
        EXPECT_EQ(le16(var(11, c.index)), 13) << c.reg;
    }
}

TEST_F(Bridge, SystemWordsInRangeAndListedOnly) {
    start(kMixed);
    uint16_t min = 0, max = 0;
    VmDbWordSR_MinMax(&min, &max, 0);
    set_word("%SR1", 3);
    scan();
    EXPECT_EQ(le16(var(11, 6)), 3) << "the first scan copies the register";
    put_le16(var(11, 6), uint16_t(max + 1));
    scan();
    EXPECT_EQ(word("%SR1"), 3) << "out of its limits: not written";
    EXPECT_EQ(le16(var(11, 6)), 3) << "and overwritten in the same scan";
    put_le16(var(11, 6), max);
    scan();
    EXPECT_EQ(word("%SR1"), max);
    // %SR4 and the extended words are copied to the application only.
    uint16_t status = word("%SR4");
    put_le16(var(11, 7), 0x1234);
    put_le16(var(11, 8), 0x4321);
    scan();
    EXPECT_EQ(word("%SR4"), status);
    EXPECT_EQ(le16(var(11, 7)), status);
    EXPECT_EQ(le16(var(11, 8)), le16(PlcReg_Ptr(0x10030000u + 16 * 7, 16)));
}

TEST_F(Bridge, FirstScanCopiesRegistersAndS9SetsSystemBits) {
    start(kMixed);
    *var(1, 7) = 1; // k2 set by the application before the first scan
    set_bit("%K2", 0);
    set_bit("%S4", 1);
    scan();
    EXPECT_EQ(*var(1, 7), 0) << "the first scan gives %K2's value";
    EXPECT_EQ(*var(1, 6), 1);
    *var(1, 7) = 1;
    scan();
    EXPECT_EQ(bit("%K2"), 1) << "two-way afterwards";
    *var(1, 6) = 0;
    scan();
    EXPECT_EQ(*var(1, 6), 1) << "%S4 is one-way";

    // %S9 seen on: the first cycle after a start sets every system-bit
    // variable.
    testing::internal::CaptureStdout();
    _Stop();
    _VMThread();
    _Start("tr", 1, 0);
    testing::internal::GetCapturedStdout();
    set_bit("%S4", 0);
    set_bit("%K2", 0);
    TrevantS9 = 1;
    scan();
    EXPECT_EQ(*var(1, 6), 1);
    EXPECT_EQ(*var(1, 7), 1);
    EXPECT_EQ(TrevantS9, 0);
}

TEST_F(Bridge, AStoppedVmExchangesOnlySystemRegisters) {
    start(kMixed);
    scan();
    for (uint8_t alive : {0, 2}) {
        iVmAlive = alive;
        put_le16(var(11, 4), 99);
        set_bit("%I5", 1);
        set_word("%SR1", 9);
        TrevantUpdateWordSRRegs();
        TrevantUpdateBitInputRegs();
        TrevantUpdateWordOutputRegs();
        EXPECT_EQ(word("%AQ1"), 0) << int(alive);
        EXPECT_EQ(*var(1, 3), 0) << int(alive);
        EXPECT_EQ(le16(var(11, 6)), 9) << int(alive);
    }
}

TEST_F(Bridge, StopAndStartLeaveNoPointerIntoTheFreedDatabase) {
    start(kMixed);
    scan();
    testing::internal::CaptureStdout();
    ASSERT_EQ(_Stop(), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(pDB, nullptr);
    for (uint32_t k = 0; k < WordOutputEntries; ++k)
        EXPECT_EQ(VmDbWordOutput_ptr[k].iec, nullptr);
    EXPECT_EQ(WordOutputEntries, 3u) << "entries keep their places";
    scan(); // the system tables run with nothing to reach
    testing::internal::CaptureStdout();
    ASSERT_EQ(_Start("tr", 1, 0), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(FistScanRegFlag, 3);
    auto inside = [](const uint8_t *p) { return p >= pDB && p < pDB + pDBSize; };
    for (uint32_t k = 0; k < WordOutputEntries; ++k)
        EXPECT_TRUE(inside(VmDbWordOutput_ptr[k].iec)) << k;
    for (uint32_t k = 0; k < BoolSysEntries; ++k)
        EXPECT_TRUE(inside(VmDbBitSys_ptr[k].iec)) << k;
    scan();
    put_le16(var(11, 4), 21);
    scan();
    EXPECT_EQ(word("%AQ1"), 21);
}

TEST_F(Bridge, RegisterGateReachesVariablesByLocation) {
    start(".app GATE\n.var BOOL f[8]\n.var INT i\n.var LINT l\n.var STRING(8) t\n"
          ".program main kind=0\n        END\n");
    ASSERT_EQ(trevant_variables_enumerateded, 1);
    auto at = [](uint32_t kind, uint32_t index) { return 0xC0000000u | (kind << 26) | index; };
    // The application's locks bind its own code only: the gate still writes.
    uint32_t n5 = 0;
    uint8_t *locks = TrDB_Segment(pDB, pDBSize, 5, &n5);
    ASSERT_GE(n5, 2u);
    locks[1] = 0xFF;
    uint8_t one = 1, got = 0;
    PlcReg_Set(at(6, 2), &one, 1);
    EXPECT_EQ(*var(1, 2), 1);
    EXPECT_EQ(PlcReg_Get(&got, at(6, 2), 1), 1);
    EXPECT_EQ(got, 1);
    // Eight booleans as one packed byte, both ways.
    uint8_t packed = 0xA5;
    PlcReg_Set(at(6, 1), &packed, 8);
    EXPECT_EQ(*var(1, 1), 1);
    EXPECT_EQ(*var(1, 2), 0);
    EXPECT_EQ(*var(1, 8), 1);
    packed = 0;
    EXPECT_EQ(PlcReg_Get(&packed, at(6, 1), 8), 1);
    EXPECT_EQ(packed, 0xA5);
    uint8_t w[8];
    put_le16(w, 0xBEEF);
    PlcReg_Set(at(1, 1), w, 16);
    EXPECT_EQ(le16(var(11, 1)), 0xBEEF);
    put_le64(w, 0x0123456789ABCDEFull);
    PlcReg_Set(at(3, 1), w, 64);
    std::memset(w, 0, sizeof w);
    EXPECT_EQ(PlcReg_Get(w, at(3, 1), 64), 1);
    EXPECT_EQ(le64(w), 0x0123456789ABCDEFull);
    PlcReg_Set(at(4, 1), "hello", 48);
    char text[9] = {};
    EXPECT_EQ(PlcReg_Get(text, at(4, 1), 64), 1);
    EXPECT_STREQ(text, "hello");
    PlcReg_Set(at(4, 1), "too long!", 80); // beyond its 8 characters: refused
    EXPECT_EQ(PlcReg_Get(text, at(4, 1), 64), 1);
    EXPECT_STREQ(text, "hello");
}

TEST(BridgeBits, PackAndUnpackNineBits) {
    const uint8_t packed[2] = {0xA5, 0x01};
    uint8_t bytes[10];
    std::memset(bytes, 0xEE, sizeof bytes);
    Trevant_Bit_To_Byte(packed, bytes, 9);
    const uint8_t want[9] = {1, 0, 1, 0, 0, 1, 0, 1, 1};
    EXPECT_EQ(std::memcmp(bytes, want, 9), 0);
    EXPECT_EQ(bytes[9], 0xEE);
    uint8_t back[2] = {0xFF, 0xFF};
    bytes[2] = 7; // any non-zero BOOL is TRUE and stays in its bit
    Trevant_Byte_To_Bit(bytes, back, 9);
    EXPECT_EQ(back[0], 0xA5);
    EXPECT_EQ(back[1], 0x01);
}

} // namespace
