// The interpreter on programs written with iecasm: typed operations of every
// family, locks, jumps, the loop guard, external variables, the
// complex-type segment, calls and the fatal stops.
#include "iec/kernel/tropcodes.h"
#include "iec/kernel/trvmtic.h"
#include "panel_fixture.h"
#include "vm_db.h"

#include <bit>
#include <cstdint>
#include <limits>

namespace {

class Interp : public PanelTest {
protected:
    // An application of the given variables and one program.
    int build(const std::string &vars, const std::string &code, const std::string &app = ".app T") {
        return vm.build(app + "\n" + vars + "\n.program main kind=0\n" + code + "\n        END\n");
    }
    VmDb vm;
};

uint64_t f32(float f) {
    return std::bit_cast<uint32_t>(f);
}
uint64_t f64(double d) {
    return std::bit_cast<uint64_t>(d);
}
uint16_t type_code(const std::string &t) {
    const std::pair<const char *, uint16_t> types[] = {
        {"BOOL", 1},  {"DINT", 2},   {"REAL", 3},   {"TIME", 4},  {"SINT", 10},  {"INT", 11},
        {"LINT", 12}, {"LREAL", 13}, {"USINT", 14}, {"UINT", 15}, {"UDINT", 16}, {"ULINT", 17}};
    for (auto &[n, c] : types)
        if (t == n) return c;
    return 0;
}

// One instruction on variables a and b of a type (r := a op b, or the BOOL q
// for a comparison); the division-by-zero log names the divisor b.
TEST_F(Interp, TypedOperations) {
    struct Case {
        const char *type, *op;
        uint64_t a, b, want;
        uint16_t log;
    };
    constexpr uint64_t kMin32 = 0x80000000u, kMin64 = 0x8000000000000000ull;
    const Case cases[] = {
        {"DINT", "ADD_DINT", 7, 5, 12, 0},
        {"DINT", "SUB_DINT", 5, 7, uint32_t(-2), 0},
        {"DINT", "MUL_DINT", 0x7FFFFFFF, 2, uint32_t(-2), 0},
        {"DINT", "DIV_DINT", 7, 0, 2147483647, 12},
        {"DINT", "DIV_DINT", kMin32, 0xFFFFFFFF, kMin32, 0},
        {"DINT", "DIV_DINT", uint32_t(-7), 2, uint32_t(-3), 0},
        {"DINT", "GT_DINT", uint32_t(-1), 1, 0, 0},
        {"DINT", "GE_DINT", 2, 2, 1, 0},
        {"DINT", "NE_DINT", 1, 2, 1, 0},
        {"REAL", "ADD_REAL", f32(1.5f), f32(2.25f), f32(3.75f), 0},
        {"REAL", "DIV_REAL", f32(1.0f), f32(0.0f), 0x7CF0BDC2, 12},
        {"REAL", "DIV_REAL", f32(1.0f), f32(-0.0f), 0x7CF0BDC2, 12},
        {"REAL", "GT_REAL", f32(2.5f), f32(-1.0f), 1, 0},
        {"TIME", "SUB_TIME", 5, 7, 0, 0},
        {"TIME", "ADD_TIME", 0xFFFFFFFF, 2, 1, 0},
        {"TIME", "GE_TIME", 0x80000000, 1, 1, 0},
        {"LINT", "MUL_LINT", 1ull << 40, 4, 1ull << 42, 0},
        {"LINT", "DIV_LINT", 5, 0, 0x7FFFFFFFFFFFFFFF, 18},
        {"LINT", "DIV_LINT", kMin64, ~0ull, kMin64, 0},
        {"LINT", "GT_LINT", ~0ull, 1, 0, 0},
        {"LREAL", "DIV_LREAL", f64(1.0), f64(0.0), 0x7FAC7B1F3CAC7433, 18},
        {"LREAL", "SUB_LREAL", f64(0.5), f64(2.0), f64(-1.5), 0},
        {"INT", "DIV_INT", 5, 0, 32767, 22},
        {"INT", "ADD_INT", 32767, 1, 0x8000, 0},
        {"INT", "DIV_INT", 0x8000, 0xFFFF, 0x8000, 0},
        {"INT", "GT_INT", 0xFFFF, 1, 0, 0},
        {"SINT", "GT_SINT", 0xFF, 1, 0, 0},
        {"SINT", "DIV_SINT", uint8_t(-8), 2, uint8_t(-4), 0},
        {"SINT", "DIV_SINT", 1, 0, 127, 21},
        {"SINT", "ADD_SINT", 127, 1, 0x80, 0},
        {"USINT", "GT_USINT", 255, 1, 1, 0},
        {"USINT", "DIV_USINT", 7, 0, 127, 21},
        {"USINT", "MUL_USINT", 16, 16, 0, 0},
        {"UINT", "DIV_UINT", 7, 0, 32767, 22},
        {"UINT", "GE_UINT", 65535, 1, 1, 0},
        {"UDINT", "DIV_UDINT", 7, 0, 2147483647, 12},
        {"UDINT", "GT_UDINT", 0xFFFFFFFF, 1, 1, 0},
        {"UDINT", "DIV_UDINT", 0xFFFFFFFF, 2, 0x7FFFFFFF, 0},
        {"ULINT", "GT_ULINT", kMin64, 1, 1, 0},
        {"ULINT", "DIV_ULINT", 7, 0, 0x7FFFFFFFFFFFFFFF, 18},
        {"ULINT", "SUB_ULINT", 0, 1, ~0ull, 0},
        {"BOOL", "XOR_BOOL", 1, 1, 0, 0},
        {"BOOL", "OR_BOOL", 0, 1, 1, 0},
        {"BOOL", "EQ_BOOL", 1, 1, 1, 0},
        {"BOOL", "ANDTEST_BYTE", 6, 3, 1, 0},
        {"DINT", "ANDTEST_DINT", 4, 3, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.op) + " " + c.type);
        std::string op = c.op;
        bool cmp = op.rfind("GT", 0) == 0 || op.rfind("GE", 0) == 0 || op.rfind("EQ", 0) == 0 ||
                   op.rfind("NE", 0) == 0 || op.rfind("ANDTEST", 0) == 0;
        std::string t = c.type;
        ASSERT_EQ(build(".var BOOL q\n.var " + t + " a\n.var " + t + " b\n.var " + t + " r",
                        "        " + op + (cmp ? " q" : " r") + ", a, b"),
                  0);
        uint16_t code = type_code(t);
        uint32_t base = vm.bytes(code) == 1 ? 1 : 0; // q shares the 8-bit table
        vm.set(code, base + 1, c.a);
        vm.set(code, base + 2, c.b);
        EXPECT_EQ(vm.run(), 1);
        EXPECT_EQ(cmp ? vm.get(1, 1) : vm.get(code, base + 3), c.want);
        std::vector<VmDb::Log> want;
        if (c.log) want.push_back({c.log, uint16_t(base + 2), 1u | (2u << 16)});
        EXPECT_EQ(vm.log(), want);
        EXPECT_EQ(vm.flags() & 0xF, trst::kRunning) << "the program goes on";
    }
}

TEST_F(Interp, UnaryOperationsAndConstants) {
    ASSERT_EQ(build(".var BOOL b1\n.var BOOL b2\n.var DINT d1\n.var DINT d2\n.var REAL r1\n"
                    ".var REAL r2\n.var LREAL l1\n.var LREAL l2\n.var STRING(5) s",
                    "        NOT_BOOL b2, b1\n        NEG_DINT d2, d1\n        NEG_REAL r2, r1\n"
                    "        NEG_LREAL l2, l1\n        LDK_STRING s, \"abcdefgh\"\n"
                    "        LDK_LWORD l1, -2.5"),
              0);
    vm.set(1, 1, 2); // a BOOL above 1 is not TRUE
    vm.set(2, 1, 0x80000000u);
    vm.set(3, 3, f32(0.0f));
    EXPECT_EQ(vm.run(), 1);
    EXPECT_EQ(vm.get(1, 2), 0u);
    EXPECT_EQ(vm.get(2, 2), 0x80000000u) << "the most negative DINT negated";
    EXPECT_EQ(vm.get(3, 4), 0x80000000u) << "a REAL's negation flips the sign bit";
    EXPECT_EQ(vm.get(13, 2), 0x8000000000000000u);
    EXPECT_EQ(vm.string(1), "abcde") << "a constant truncated to the capacity";
    EXPECT_EQ(vm.get(13, 1), f64(-2.5));
}

// A lock-checked form skips the whole instruction on a locked destination,
// even operands that would stop the VM; its BOOL result tests the 8-bit lock.
TEST_F(Interp, LockCheckedForms) {
    ASSERT_EQ(build(".var DINT d\n.var DINT one\n.var INT i\n.var INT j\n.var BOOL q\n.var BOOL x",
                    "        .word 117, 1, 999, 999\n" // LK_ADD_DINT d, <out of range>
                    "        LK_ADD_DINT one, one, one\n"
                    "        LK_GT_INT q, i, j\n"
                    "        LK_GT_INT x, i, j\n"
                    "        LK_SET_BOOL x"),
              0);
    vm.set(2, 1, 5);
    vm.set(2, 2, 1);
    vm.set(11, 1, 360);
    vm.lock(1, trlock::k32);
    vm.lock(1, trlock::k16); // the INT sharing the BOOL's index
    vm.lock(2, trlock::k8);  // x
    EXPECT_EQ(vm.run(), 1);
    EXPECT_EQ(vm.dint(1), 5) << "locked DINT keeps its value";
    EXPECT_EQ(vm.dint(2), 2);
    EXPECT_EQ(vm.get(1, 1), 1u) << "INT compare 360 > 0 written to the unlocked BOOL";
    EXPECT_EQ(vm.get(1, 2), 0u) << "locked BOOL untouched";
    EXPECT_TRUE(vm.log().empty());
}

TEST_F(Interp, LocksAndTheirCount) {
    ASSERT_EQ(build(".var DINT d\n.var STRING(4) s",
                    "        LOCK_DINT d\n        LOCK_DINT d\n        LOCK_STRING s\n"
                    "        LDK_DINT d, 7\n        LK_LDK_DINT d, 9\n        UNLOCK_DINT d"),
              0);
    EXPECT_EQ(vm.run(), 1);
    EXPECT_EQ(vm.dint(1), 7);
    EXPECT_EQ(le32(vm.st() + trst::kLockCount), 1u) << "the STRING's lock is left";
    EXPECT_TRUE(vm.flags() & trlock::kRunFlagLocks);
    TrVMTic_UnlockAllVars(vm.db());
    EXPECT_EQ(le32(vm.st() + trst::kLockCount), 0u);
    EXPECT_FALSE(vm.flags() & trlock::kRunFlagLocks);
}

TEST_F(Interp, JumpsArraysAndLoopGuard) {
    ASSERT_EQ(build(".var BOOL go\n.var DINT n\n.var DINT one\n.var DINT g\n.var DINT k\n"
                    ".var DINT t[3]\n.var DINT x\n.var DINT hit",
                    "        LDK_DINT one, 1\n"
                    "        JMP #0\n" // continues with the next instruction
                    "        SET_BOOL go\n"
                    "        LDK_DINT g, 1\n"
                    "        LOOP_INIT g\n"
                    "top:    JMPF go, out\n"
                    "        ADD_DINT n, n, one\n"
                    "        LOOP_NEXT g\n"
                    "out:    LDK_DINT k, 2\n"
                    "        WRARR_DINT t, k, one\n"
                    "        RDARR_DINT x, t, k\n"
                    "        JMPTAB k, a, b, c\n"
                    "        JMPA c\n"
                    "a:      JMPA c\n"
                    "b:      JMPA c\n"
                    "c:      LDK_DINT hit, 3"),
              0);
    EXPECT_EQ(vm.run(), 1);
    EXPECT_EQ(vm.dint(1), 1000000) << "the guarded loop ran its million turns";
    EXPECT_EQ(vm.dint(3), 0) << "then the guard variable is cleared";
    EXPECT_EQ(vm.dint(8), 1) << "t[2] written and read back through x";
    EXPECT_EQ(vm.dint(9), 3);
}

// Each fatal stop logs its code with the program and the place behind the
// opcode, stops the VM (run flags' low four bits 2) and ends the run.
TEST_F(Interp, FatalStops) {
    struct Case {
        const char *code;
        VmDb::Log log;
    };
    const Case cases[] = {
        {"        .word 15", {8, 15, 1 | 2 << 16}},   // no such opcode
        {"        .word 600", {8, 600, 1 | 2 << 16}}, // beyond the table
        {"        ADD_DINT d, d, d\n        .word 8, 1, 1, 999", {32, 999, 1 | 10 << 16}},
        {"        JMP #100", {8, 67, 1 | 2 << 16}}, // jump past the end
        {"        JMP #-6", {8, 67, 1 | 2 << 16}},  // before the start
        {"        LDK_DINT d, 5\n        RANGE_CHECK d, 0, 4", {32, 1, 1 | 10 << 16}},
        {"        LDK_DINT d, 3\n        RDARR_DINT d, t, d", {32, 2, 1 | 10 << 16}},
        {"        LDK_DINT d, -3\n        WRARR_DINT t, d, d", {32, 2, 1 | 10 << 16}},
        {"        CALL_PRG 9", {32, 9, 1 | 2 << 16}},
        {"        SFC_STEP 7, x, x, x\nx:      END", {32, 7, 1 | 2 << 16}},
        {"        CT_GET 2, 1, d", {32, 1, 1 | 2 << 16}},     // no complex-type segment
        {"        CONVERT 1, 9, 2, 2", {32, 9, 1 | 2 << 16}}, // no DINT 9
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_EQ(build(".var DINT d\n.var DINT t[3]", c.code), 0);
        EXPECT_EQ(vm.run(), 0);
        EXPECT_EQ(vm.log(), std::vector<VmDb::Log>{c.log});
        EXPECT_EQ(vm.flags(), 0x8402);
    }
    // An instruction cut by the program's end.
    ASSERT_EQ(vm.build(".app T\n.var DINT d\n.program main kind=0\n        .word 8, 1\n"), 0);
    EXPECT_EQ(vm.run(), 0);
    EXPECT_EQ(vm.log(), (std::vector<VmDb::Log>{{8, 8, 1 | 2 << 16}}));
}

TEST_F(Interp, ExecutionBufferInvalidWordLeavesTheVmRunning) {
    ASSERT_EQ(build(".var DINT d", ""), 0);
    uint32_t n = 0;
    uint8_t *buf = TrDB_Segment(vm.db(), uint32_t(vm.mem.size()), 2, &n);
    // d := 42, then a word that is no instruction.
    const uint16_t words[] = {271, 1, 0, 42, 15, 68};
    for (size_t i = 0; i < 6; ++i)
        put_le16(buf + 2 * i, words[i]);
    put_le16(vm.st() + trst::kExecFill, 10);
    TrVMPrg_ProcessExecBuffer(vm.db());
    EXPECT_EQ(vm.dint(1), 42);
    EXPECT_EQ(vm.log(), (std::vector<VmDb::Log>{{8, 15, 0 | 10 << 16}}));
    EXPECT_EQ(vm.flags(), 0x8401);
    EXPECT_EQ(le16(vm.st() + trst::kExecFill), 0u) << "emptied";
}

TEST_F(Interp, ExternalVariablesAndTheirLock) {
    ASSERT_EQ(build(".var DINT d\n.var DINT src\n.var DINT back\n.var DINT i\n.var DINT arr[2]\n"
                    ".xv DINT 1\n.xv DINT 5",
                    "        XV_PUT_DINT 1, src\n"
                    "        XV_GET_DINT 1, back\n"
                    "        XV_LOCK 2\n"
                    "        LK_XV_PUT_DINT 2, src\n" // external 2 is locked
                    "        LDK_DINT i, 1\n"
                    "        XV_WRARR_DINT 2, src, i\n" // arr[1] through external 2 (arr[0])
                    "        XV_LDK_DINT 1, 77\n"
                    "        XV_RDARR_DINT 1, d, i"),
              0);
    vm.set(2, 2, 1234);
    EXPECT_EQ(vm.run(), 1);
    EXPECT_EQ(vm.dint(3), 1234);
    EXPECT_EQ(vm.dint(5), 0) << "the locked external variable kept its value";
    EXPECT_EQ(vm.dint(6), 1234);
    EXPECT_EQ(vm.dint(1), 1234) << "external 1's element 1 is DINT 2";
    EXPECT_TRUE(vm.log().empty());
    // An element beyond the 32-bit table stops the VM.
    ASSERT_EQ(build(".var DINT d\n.var DINT i\n.xv DINT 1",
                    "        LDK_DINT i, 5\n        XV_RDARR_DINT 1, d, i"),
              0);
    EXPECT_EQ(vm.run(), 0);
    EXPECT_EQ(vm.log().at(0).code, 32);
}

TEST_F(Interp, ComplexTypeGetSetAndCopy) {
    // A complex-type segment of 32 bytes.
    const std::string app = ".app T\n.ext 16\n.raw e9 20 00 00 00 08 00 00 00 00";
    ASSERT_EQ(build(".var DINT v\n.var DINT off\n.var DINT off2\n.var DINT n\n.var DINT w\n"
                    ".var DINT ctx\n.var STRING(4) s\n.var STRING(4) t",
                    "        LDK_DINT off, 4\n"
                    "        CT_SET 2, 1, off\n"
                    "        LDK_DINT off2, 12\n"
                    "        LDK_DINT n, 4\n"
                    "        CT_MEMCPY off2, off, n\n"
                    "        CT_GET 2, 5, off2\n"
                    "        LDK_DINT ctx, 20\n"
                    "        LOCK_CONTEXT ctx\n"
                    "        .word 271, 0, 0, 99\n"
                    "        LDK_DINT ctx, 40\n"
                    "        LOCK_CONTEXT ctx\n"
                    "        .word 271, 0, 0, 1",
                    app),
              0);
    vm.set(2, 1, 0x11223344);
    EXPECT_EQ(vm.run(), 0) << "the last constant's offset lies past the segment";
    uint32_t n = 0;
    uint8_t *ct = TrDB_Segment(vm.db(), uint32_t(vm.mem.size()), 35, &n);
    ASSERT_EQ(n, 32u);
    EXPECT_EQ(le32(ct + 4), 0x11223344u);
    EXPECT_EQ(vm.dint(5), 0x11223344) << "copied within the segment and read back";
    EXPECT_EQ(le32(ct + 20), 99u) << "destination 0 writes at the lock context";
    std::vector<VmDb::Log> log = vm.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, 32);
    EXPECT_EQ(log[0].arg, 40);
}

// Calls: the called program runs and returns behind the call; a depth equal
// to the call-stack size stops the VM with 38; a program being called
// through the program layer is not entered again (33).
TEST_F(Interp, ProgramCalls) {
    ASSERT_EQ(vm.build(".app T stack=4\n.var DINT a\n.var DINT b\n.var DINT one\n"
                       ".program main kind=0\n        LDK_DINT one, 1\n        CALL_PRG sub\n"
                       "        ADD_DINT a, a, one\n        END\n"
                       ".program sub kind=3\n        ADD_DINT b, b, one\n        END\n"
                       ".program deep kind=3\n        CALL_PRG deep\n        END\n"),
              0);
    EXPECT_EQ(vm.run(1), 1);
    EXPECT_EQ(vm.dint(1), 1);
    EXPECT_EQ(vm.dint(2), 1);
    EXPECT_EQ(TrDB_GetSegment(vm.db(), 29).count_b, 0u);
    EXPECT_EQ(vm.run(3), 0);
    EXPECT_EQ(vm.log(), (std::vector<VmDb::Log>{{38, 3, 3 | 2 << 16}}));
    vm.set_flags(0x8401);
    put_le16(vm.entry(2) + trprg::kFlags, trprg::kBeingCalled);
    EXPECT_EQ(TrVMPrg_Call(vm.db(), 2), 0);
    EXPECT_EQ(vm.log(), (std::vector<VmDb::Log>{{33, 2, 2}}));
    put_le16(vm.entry(2) + trprg::kFlags, 0);
    pCode = vm.code;
    EXPECT_EQ(TrVMPrg_Call(vm.db(), 2), 1);
    EXPECT_EQ(vm.dint(2), 2);
    EXPECT_EQ(vm.prg_flags(2), 0) << "no longer being called";
}

TEST_F(Interp, ProgramControlAndCycleDivider) {
    ASSERT_EQ(vm.build(".app T\n.var DINT st\n.var DINT n\n.var DINT one\n"
                       ".program main kind=0\n        PRG_START child\n        PRG_START chart\n"
                       "        PRG_STATUS st, child\n        END\n"
                       ".program child kind=3\n        END\n"
                       ".program chart kind=2\n        END\n"
                       ".program div kind=0\n        LDK_DINT one, 1\n        CYCLE_DIV 3, 1\n"
                       "        ADD_DINT n, n, one\n        END\n"),
              0);
    EXPECT_EQ(vm.prg_flags(2), 0) << "kind 3 starts inactive";
    EXPECT_EQ(vm.run(1), 1);
    EXPECT_EQ(vm.prg_flags(2), trprg::kActive);
    EXPECT_EQ(vm.prg_flags(3), trprg::kSfcFirstRun) << "an SFC program starts at its first run";
    EXPECT_EQ(vm.dint(1), 1);
    for (int i = 0; i < 6; ++i)
        vm.run(4);
    EXPECT_EQ(vm.dint(2), 2) << "one cycle in three, in phase 1";
}

TEST_F(Interp, EveryRowOfTheOpcodeTableHasAHandler) {
    for (uint32_t n = 0; n < 600; ++n)
        EXPECT_EQ(TrVMTic_HasHandler(n), TrVM_Opcode(n) != nullptr) << n;
}

} // namespace
