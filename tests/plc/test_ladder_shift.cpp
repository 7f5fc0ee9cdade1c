// Multi-element shift and rotate instructions on bit, byte, word and double
// word blocks, against the results gen_ladder_cases.py computes.
#include "ladder_case.h"

namespace {
#include "ladder_cases_shift.inc"
} // namespace

class LadderShiftTest : public LadderCaseTest {};

TEST_F(LadderShiftTest, ShiftAndRotateByZeroOneNMinusOneNAndMore) {
    for (const RegCase &c : kShiftCases)
        run(c);
}

TEST_F(LadderShiftTest, ACountOfZeroReadsNothingBeyondTheBlock) {
    // The block ends at the last word of %ESR: with a count of 0 nothing is
    // read beyond it and the shift-out register keeps its value.
    // The rung's power flow (%R31.0 off) plays no part.
    load("LD %R31.0\nMSHIFT 2, %SR447, K32 2, K32 0, %R30.0, %R40, %R50\nOUT %Q1\n"
         "LD %R31.0\nMROT 2, %SR447, K32 2, K32 0, %R30.0\nOUT %Q2\nEND\n");
    set_word("%R40", 0x1234);
    sr_put(447, 7);
    sr_put(448, 8);
    for (int direction : {0, 1}) {
        set_word("%R30", uint16_t(direction));
        ASSERT_EQ(scan(), kLadderScanDone);
        EXPECT_EQ(word("%R40"), 0x1234);
        EXPECT_EQ(sr_get(447), 7);
        EXPECT_EQ(sr_get(448), 8);
        EXPECT_EQ(bit("%Q1"), 1);
        EXPECT_EQ(bit("%Q2"), 1);
    }
}

TEST_F(LadderShiftTest, ABlockThatLeavesItsAreaIsRefused) {
    // %R50239 + 3 words would run into %ET.
    load("LD %R31.0\nMROT 2, %R50239, K32 3, K32 1, %R30.0\nOUT %Q1\nEND\n");
    set_word("%R50239", 1);
    set_word("%R50240", 2);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 0);
    EXPECT_EQ(word("%R50239"), 1);
    EXPECT_EQ(word("%R50240"), 2);
}
