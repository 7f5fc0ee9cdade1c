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
