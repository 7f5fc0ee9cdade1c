// The check of a control program before it runs, and its refusal at load.
#include "ladder_fixture.h"
#include "plc/sysreg.h"
#include "system/appfile.h"
#include "system/run_ctrl.h"

namespace {
// Positions count words from 1; the verdicts name the last word read at the
// stop, as the interpreter would.
struct Case {
    const char *what;
    const char *source;
    int32_t verdict;
};
// clang-format off
const Case kCases[] = {
    {"straight program",          "LD %M1\nOUT %Q1\nEND\n",                               kLadderScanDone},
    {"undefined opcode",          "LD %M1\n.word 0x0025\nEND\n",                         2},
    {"undefined after END",       "END\n.word 0x0025\n",                                  kLadderScanDone},
    {"ignored code",              ".word 0x0042\nEND\n",                                  kLadderScanDone},
    {"no END",                    ".notrailer\nLD %M1\nOUT %Q1\n",                        4},
    {"truncated operand",         ".notrailer\nLD %M1\n.word 0x0026, 0x2800\n",          3},
    {"pop of an empty stack",     "OUT %Q1\nEND\n",                                       3},
    {"AND-then-OR pops two",      "LD %M1\nANDOR\nEND\n",                                2},
    {"contact 21 overflows",      "LD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\n"
                                  "LD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\n"
                                  "LD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nEND\n", 21},
    {"REPUSH on a full stack",    "LD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\n"
                                  "LD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\n"
                                  "LD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nLD %M1\nREPUSH\nEND\n", 21},
    {"jump outside",              "LD %M1\nJMPIF #100\nEND\n",                            4},
    {"jump backwards outside",    "LD %M1\nJMPIFS #-5\nEND\n",                            3},
    {"jump into an operand",      "LD %M1\nLD %M1\nJMPIF #1\nOUT %Q1\nEND\n",             7},
    {"skip past the end",         ".notrailer\nLD %M1\nSKIPF #9\nEND\n",                 4},
    {"bit below the image",       ".tokens 16\nLD %M1\nOUT @0x0010\nEND\n",               3},
    {"reference past the image",  "PUSHW @0x00D60000\nEND\n",                             3},
    {"a subroutine after END",    "LD %M1\nCALLIF s\nEND\ns: LD %M2\nOUT %Q1\nLD %M2\nTRUE\nRETIF\n",
                                  kLadderScanDone},
    {"a return that may fall through", ".notrailer\nLD %M1\nCALLIF s\nEND\ns: LD %M2\nRETIF\n", 7},
    {"jump over a data table",    "LD %M1\nTRUE\nJMPIF go\n.word 0x0001, 0x0002\ngo: LD %M1\nOUT %Q1\nEND\n",
                                  kLadderScanDone},
    {"depths differ at a join",   "LD %M1\nLD %M2\nJMPIF j\nLD %M3\nj: OUT %Q1\nEND\n",   kLadderScanDone},
    {"a join that leaves one too many", "LD %M1\nLD %M2\nJMPIF j\nLD %M3\nLD %M3\nj: OUT %Q1\nOUT %Q2\nOUT %Q3\nEND\n", 13},
    {"handler-read operands",     "LD %M1\nMSHIFT 1, 2, 3\nOUT %Q1\nEND\n",               kLadderScanDone},
};
// clang-format on
} // namespace

TEST_F(LadderTest, LoadCheckCases) {
    for (const Case &c : kCases) {
        std::vector<uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(Ladasm_Assemble(c.source, &bytes, &error)) << c.what << ": " << error;
        bool t16 = Ladder_Tokens16(Ladder_Features(bytes.data(), uint32_t(bytes.size())));
        EXPECT_EQ(Ladder_Check(bytes.data(), uint32_t(bytes.size()), t16), c.verdict) << c.what;
    }
}

TEST_F(LadderTest, ProgramRefusedAtLoadNeverRuns) {
    // A program that would write %Q1 before reaching its undefined opcode.
    load("TRUE\nLD %M1\nOUT %Q1\n.word 0x0100\nEND\n");
    set_bit("%M1", 1);
    sr_put(4, 0);
    EXPECT_EQ(Ladder_Load(), 0);
    EXPECT_EQ(sr_get(4) & sr4::kLogicFault, sr4::kLogicFault);
    EXPECT_EQ(sr_get32(53), 6u) << "the position of the undefined opcode";
    SetPlcMode(2);
    EXPECT_EQ(sr_get(5), 0) << "the fault bit keeps the controller idle";
    // Mode 3 is accepted with fault bits, but the program still does not run.
    SetPlcMode(3);
    ASSERT_EQ(sr_get(5), 3);
    PlcScan();
    EXPECT_EQ(bit("%Q1"), 0) << "not one instruction ran";
    EXPECT_EQ(sr_get(5), 0) << "the refused program stops the controller";
    EXPECT_EQ(sr_get32(53), 6u);
}

TEST_F(LadderTest, GoodProgramPassesTheLoadCheck) {
    load("LD %M1\nOUT %Q1\nEND\n");
    sr_put(4, 0);
    EXPECT_EQ(Ladder_Load(), 1);
    EXPECT_EQ(sr_get(4), 0);
}
