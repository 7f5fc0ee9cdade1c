// The ladder's data instructions: arithmetic, logic, comparisons, moves,
// typed loads, indexed and pointer access, as small programs checked against
// tables whose expected results gen_ladder_cases.py computes.
#include "ladder_case.h"
#include "plc/ladder_num.h"
#include "plc/sysreg.h"
#include "system/reginit.h"

#include <cstring>
#include <string_view>

namespace {
#include "ladder_cases_arith.inc"
#include "ladder_cases_data.inc"
} // namespace

class LadderMathTest : public LadderCaseTest {
protected:
    void run_group(std::string_view group) {
        int n = 0;
        for (const ArithCase &c : kArithCases)
            if (c.group == group) {
                run(c);
                ++n;
            }
        EXPECT_GT(n, 0) << group;
    }
};

TEST_F(LadderMathTest, SignedArithmeticReportsOverflowAndDivisionByZero) {
    run_group("signed");
}
TEST_F(LadderMathTest, ByteAndUnsignedArithmetic) {
    run_group("small");
}
TEST_F(LadderMathTest, FloatArithmeticAndFunctions) {
    run_group("float");
}
TEST_F(LadderMathTest, BitwiseLogicShiftsAndRotations) {
    run_group("logic");
}
TEST_F(LadderMathTest, ComparisonsSetOrClearThePowerFlow) {
    run_group("compare");
}
TEST_F(LadderMathTest, RangeTestsWrapWhenLowIsNotBelowHigh) {
    run_group("range");
}

TEST_F(LadderMathTest, MovesTypedLoadsIndexedAndPointerAccess) {
    for (const RegCase &c : kDataCases)
        run(c);
}

TEST_F(LadderMathTest, SixteenBitTokensReachTheSameRegisters) {
    // Word operands above 0xFFFF take the escape form in 16-bit tokens.
    load(".tokens 16\nTRUE\nLD %M1\nPUSHW %R5000\nPUSHW %R5001\nMULW\nPOPW %R5002\n"
         "MOVW %R5003, %R5002\nOUT %Q1\nEND\n");
    set_bit("%M1", 1);
    set_word("%R5000", 300);
    set_word("%R5001", 100);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(word("%R5003"), uint16_t(30000));
    EXPECT_EQ(bit("%Q1"), 1);
    set_word("%R5001", 200);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(word("%R5003"), uint16_t(60000));
    EXPECT_EQ(bit("%Q1"), 0) << "60000 does not fit a signed 16-bit value";
}

TEST_F(LadderMathTest, IndexedStoresPassTheSystemRegisterChecks) {
    // %SR1 + 4 = %SR5, the run mode: a value above 4 is refused, and the
    // instruction itself still passes power (the register's own rule).
    load("TRUE\nLD %M1\nPUSHK 9\nSTIXW %SR1, %R5\nOUT %Q1\nEND\n");
    set_bit("%M1", 1);
    set_word("%R5", 5);
    sr_put(5, 0);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(5), 0) << "refused by the system register's limits";
    EXPECT_EQ(bit("%Q1"), 1);
}

TEST_F(LadderMathTest, PointersNeverReachBeyondTheRegisterAreas) {
    // The controller data and the battery marker follow %ESR; a pointer to
    // them is refused and leaves them as they are.
    PlcRegInit(1);
    ASSERT_EQ(PlcBatCheck(), 1);
    for (uint32_t p :
         {uint32_t(reg::kCtlData), uint32_t(reg::kMarker), uint32_t(reg::kESR + 0x1FF)}) {
        load("TRUE\nLD %M1\nPUSHKD 0\nSTPD %R20, 0\nOUT %Q1\nEND\n");
        set_bit("%M1", 1);
        put_le32(plc_reg + reg::kR + 38, p);
        ASSERT_EQ(scan(), kLadderScanDone);
        EXPECT_EQ(bit("%Q1"), 0) << std::hex << p;
    }
    EXPECT_EQ(PlcBatCheck(), 1);
    // The last four bytes of %ESR are still reached.
    put_le32(plc_reg + reg::kR + 38, kLadAreaEnd - 4);
    load("TRUE\nLD %M1\nPUSHKD 0x11223344\nSTPD %R20, 0\nOUT %Q1\nEND\n");
    set_bit("%M1", 1);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 1);
    EXPECT_EQ(le32(plc_reg + kLadAreaEnd - 4), 0x11223344u);
}

TEST_F(LadderMathTest, AnUnknownUnsignedTypeLeavesTheStackAlone) {
    load("TRUE\nLD %M1\nPUSHK 5\nPUSHK 7\nADDU 0x10\nPOPW %R1\nPOPW %R2\nOUT %Q1\nEND\n");
    set_bit("%M1", 1);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(word("%R1"), 7);
    EXPECT_EQ(word("%R2"), 5);
    EXPECT_EQ(bit("%Q1"), 1);
}

// Register arithmetic in its usual form (two pushes, the operation, a pop)
// runs as one step once the program is checked. Every operation so run must
// leave the result, the power flow and the data stack exactly as its words
// one by one do, at the edges of its type too; a full data stack or an edit
// of the program's words makes the words run one by one again.
TEST_F(LadderMathTest, ArithmeticGroupsRunAsTheirWordsOneByOne) {
    const uint32_t kWords[] = {0, 1, 2, 7, 0x7FFF, 0x8000, 0x8001, 0xFFFF, 0xFFFE, 100, 0xFF9C};
    const uint32_t kDwords[] = {0,           1,          7,          0xFFFFFFFF, 0x7FFFFFFF,
                                0x80000000u, 0x80000001, 0x00010000, 0xFFFF0000, 46341};
    const uint32_t kFloats[] = {0x00000000, 0x80000000, 0x3F800000, 0xBF800000, 0x7F7FFFFF,
                                0xFF7FFFFF, 0x7F800000, 0x7FC00000, 0x00000001, 0x40490FDB};
    struct Op {
        const char *name;
        int kind; // 0 words, 1 dwords, 2 floats
    };
    const Op kOps[] = {{"ADDW", 0}, {"SUBW", 0}, {"MULW", 0}, {"DIVW", 0},
                       {"ADDD", 1}, {"SUBD", 1}, {"MULD", 1}, {"DIVD", 1},
                       {"ADDF", 2}, {"SUBF", 2}, {"MULF", 2}, {"DIVF", 2}};
    for (const Op &op : kOps) {
        const bool wide = op.kind != 0;
        const std::string push = wide ? "PUSHD" : "PUSHW", pop = wide ? "POPD" : "POPW";
        load(".tokens 16\nTRUE\n" + push + " %R1\n" + push + " %R3\n" + op.name + "\n" + pop +
             " %R5\n" + push + " %R5\n" + push + " %R5\n" + op.name + "\n" + pop + " %R7\nEND\n");
        const uint32_t *values = op.kind == 0 ? kWords : op.kind == 1 ? kDwords : kFloats;
        const size_t n = op.kind == 0 ? std::size(kWords) : 10;
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < n; ++j) {
                auto inputs = [&] {
                    std::memset(plc_reg + reg::kR, 0, 16);
                    put_le32(plc_reg + reg::kR, values[i]);
                    put_le32(plc_reg + reg::kR + 4, values[j]);
                    std::memset(l_stack, 0x5A, sizeof l_stack);
                    std::memset(w_stack, 0xA5, sizeof w_stack);
                    cmd_group = 0;
                };
                auto state = [&] {
                    std::string s(reinterpret_cast<const char *>(plc_reg + reg::kR), 16);
                    s.append(reinterpret_cast<const char *>(l_stack), sizeof l_stack);
                    s.append(reinterpret_cast<const char *>(w_stack), sizeof w_stack);
                    return s + char(w_sp) + char(cmd_group);
                };
                inputs();
                ASSERT_EQ(scan(), kLadderScanDone);
                const std::string grouped = state();
                inputs();
                ASSERT_EQ(Ladder_RunUnchecked(ladder_bl + 8, Ladder_Bytes()), kLadderScanDone);
                EXPECT_EQ(grouped, state())
                    << op.name << " " << std::hex << values[i] << ", " << values[j];
            }
    }

    // Nineteen dwords fill the data stack to 76 bytes: the group's pushes no
    // longer fit, and the words one by one stop the scan at the second push.
    std::string src = ".tokens 16\nTRUE\n";
    for (int i = 0; i < 19; ++i)
        src += "PUSHKD 1\n";
    src += "PUSHD %R1\nPUSHD %R3\nADDD\nPOPD %R5\nEND\n";
    load(src);
    const int32_t stopped = scan();
    EXPECT_NE(stopped, kLadderScanDone);
    EXPECT_EQ(Ladder_RunUnchecked(ladder_bl + 8, Ladder_Bytes()), stopped);

    // ADDW made SUBW in place, as an online change writes the block: the next
    // scan subtracts.
    load(".tokens 16\nTRUE\nPUSHW %R1\nPUSHW %R2\nADDW\nPOPW %R3\nEND\n");
    set_word("%R1", 9);
    set_word("%R2", 4);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(word("%R3"), 13);
    ASSERT_EQ(le16(ladder_bl + 8 + 2 * 5), 0x078);
    put_le16(ladder_bl + 8 + 2 * 5, 0x079);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(word("%R3"), 5);
}
