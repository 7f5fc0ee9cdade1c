// The LREAL instructions: comparisons, arithmetic, functions, conversions and
// text, against the results gen_ladder_cases.py computes.
#include "ladder_case.h"
#include "plc/ladder_fam.h"

namespace {
#include "ladder_cases_lreal.inc"
} // namespace

class LadderLrealTest : public LadderCaseTest {};

TEST_F(LadderLrealTest, EveryOperationAgainstItsReference) {
    for (const RegCase &c : kLrealCases)
        run(c);
}

TEST_F(LadderLrealTest, TheDataStackIsNeverLeft) {
    // Too few entries for the operation, and a push onto a full stack, stop
    // the scan with the position instead of reaching outside the stack.
    load("TRUE\nPUSHKQ 1\nLREAL 16\nEND\n");
    EXPECT_GT(scan(), 0);
    std::string full = "TRUE\n";
    for (int i = 0; i < 10; ++i)
        full += "PUSHKQ 1\n";
    load(full + "LREAL 32, %R1\nEND\n");
    EXPECT_GT(scan(), 0);
    EXPECT_LE(w_sp, kDataStackSize);
}
