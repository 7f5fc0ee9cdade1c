// The ladder interpreter and the instructions of logic, program flow and
// screen requests, run as small assembled programs.
#include "base/trace.h"
#include "host/clock.h"
#include "iec/kernel/iec.h"
#include "ladder_fixture.h"
#include "plc/ladder_ops.h"
#include "plc/sysreg.h"

#include <algorithm>
#include <functional>

namespace {
size_t count(const std::vector<std::string> &calls, const std::string &name) {
    return size_t(std::count(calls.begin(), calls.end(), name));
}
} // namespace

// --------------------------------------------------------------------------
// Logic combination: every two-input operation against its truth table.

TEST_F(LadderTest, TwoInputLogicFollowsItsTruthTable) {
    struct Case {
        const char *op;
        std::function<bool(bool, bool)> expect; // a = first contact (deeper), b = second
    };
    const Case cases[] = {
        {"OR", [](bool a, bool b) { return a || b; }},
        {"AND", [](bool a, bool b) { return a && b; }},
        {"ANDN", [](bool a, bool b) { return a && !b; }},
        {"ORN", [](bool a, bool b) { return a || !b; }},
        {"NAND", [](bool a, bool b) { return !(a && b); }},
        {"NOR", [](bool a, bool b) { return !(a || b); }},
    };
    for (const Case &c : cases) {
        load(std::string("LD %M1\nLD %M2\n") + c.op + "\nOUT %Q1\nEND\n");
        for (int a = 0; a < 2; ++a)
            for (int b = 0; b < 2; ++b) {
                set_bit("%M1", a);
                set_bit("%M2", b);
                ASSERT_EQ(scan(), kLadderScanDone);
                EXPECT_EQ(bit("%Q1"), c.expect(a, b)) << c.op << " " << a << b;
            }
    }
}

TEST_F(LadderTest, ThreeInputCombinationsAndTheirPoppedSlots) {
    // ANDOR: c OR (a AND b), and the slot of b keeps a AND b; ORAND: c AND
    // (a OR b), the slot of b keeps a OR b. REPUSH brings that slot back.
    struct Case {
        const char *op;
        std::function<bool(bool, bool, bool)> top, slot;
    };
    const Case cases[] = {
        {"ANDOR", [](bool a, bool b, bool c) { return c || (a && b); },
         [](bool a, bool b, bool) { return a && b; }},
        {"ORAND", [](bool a, bool b, bool c) { return c && (a || b); },
         [](bool a, bool b, bool) { return a || b; }},
    };
    for (const Case &c : cases) {
        load(std::string("LD %M3\nLD %M1\nLD %M2\n") + c.op + "\nREPUSH\nOUT %Q2\nOUT %Q1\nEND\n");
        for (int v = 0; v < 8; ++v) {
            bool a = v & 1, b = v & 2, cc = v & 4;
            set_bit("%M1", a);
            set_bit("%M2", b);
            set_bit("%M3", cc);
            ASSERT_EQ(scan(), kLadderScanDone);
            EXPECT_EQ(bit("%Q1"), c.top(a, b, cc)) << c.op << v;
            EXPECT_EQ(bit("%Q2"), c.slot(a, b, cc)) << c.op << v;
        }
    }
}

TEST_F(LadderTest, NegationsLeaveZeroOrOne) {
    // The stack keeps popped bytes: after the program, entry 1 holds the
    // value the last instruction left there.
    struct Case {
        const char *src;
        int m1;
        uint8_t entry;
    };
    const Case cases[] = {
        {"LD %M1\nNOT\nPOP\nEND\n", 1, 0},     {"LD %M1\nNOT\nPOP\nEND\n", 0, 1},
        {"LD %M1\nTRUE\nPOP\nEND\n", 0, 0xFF}, {"LD %M1\nFALSE\nPOP\nEND\n", 1, 0},
        {"LD %M1\nPOP\nEND\n", 1, 0xFF},
    };
    for (const Case &c : cases) {
        load(c.src);
        set_bit("%M1", c.m1);
        ASSERT_EQ(scan(), kLadderScanDone) << c.src;
        EXPECT_EQ(l_stack[1], c.entry) << c.src << " with %M1 = " << c.m1;
    }
    load("LD %M2\nLD %M1\nORN\nREPUSH\nPOP\nEND\n");
    set_bit("%M1", 1);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(l_stack[2], 0) << "NOT of a contact's 0xFF is 0";
    set_bit("%M1", 0);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(l_stack[2], 1);
}

// --------------------------------------------------------------------------
// Coils.

TEST_F(LadderTest, CoilsWriteTheirBitByThePowerFlow) {
    struct Case {
        const char *coil;
        int power, before, after;
    };
    const Case cases[] = {
        {"OUT", 1, 0, 1}, {"OUT", 0, 1, 0}, {"OUTN", 1, 1, 0}, {"OUTN", 0, 0, 1}, {"SET", 1, 0, 1},
        {"SET", 0, 0, 0}, {"SET", 0, 1, 1}, {"RST", 1, 1, 0},  {"RST", 0, 1, 1},  {"RST", 0, 0, 0},
    };
    for (const Case &c : cases) {
        load(std::string("LD %M1\n") + c.coil + " %Q5\nEND\n");
        set_bit("%M1", c.power);
        set_bit("%Q5", c.before);
        ASSERT_EQ(scan(), kLadderScanDone);
        EXPECT_EQ(bit("%Q5"), c.after) << c.coil << " power " << c.power << " before " << c.before;
    }
}

TEST_F(LadderTest, TransitionCoilsAreOnForOneScanAtTheirEdge) {
    struct Case {
        const char *coil;
        std::vector<int> rung, out;
    };
    const Case cases[] = {
        {"PTC", {0, 1, 1, 1, 0, 1, 0}, {0, 1, 0, 0, 0, 1, 0}},
        {"NTC", {0, 1, 1, 0, 0, 1, 0}, {0, 0, 0, 1, 0, 0, 1}},
        {"NTC", {0, 0, 0}, {0, 0, 0}}, // never true: never on
    };
    for (const Case &c : cases) {
        PlcReg_Reset();
        load(std::string("LD %M1\n") + c.coil + " %M9\nEND\n");
        for (size_t i = 0; i < c.rung.size(); ++i) {
            set_bit("%M1", c.rung[i]);
            ASSERT_EQ(scan(), kLadderScanDone);
            EXPECT_EQ(bit("%M9"), c.out[i]) << c.coil << " scan " << i;
        }
    }
}

TEST_F(LadderTest, LongContactFormAndExtendedAreasIn32BitTokens) {
    // %ET1 lies above the one-word contact: the assembler writes the operand
    // form, whose 32-bit token 0x10008000 is folded into the image.
    load(".tokens 32\nLD %ET1\nOUT %Q1\nLD %M1\nOUT %EM3\nEND\n");
    ASSERT_EQ(le16(program.data()), 0x01F);
    ASSERT_EQ(le32(program.data() + 2), 0x10008000u);
    set_bit("%ET1", 1);
    set_bit("%M1", 1);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 1);
    EXPECT_EQ(plc_reg[reg::kEM] & 4, 4) << "%EM3 is bit 2 of the first %EM byte";
}

TEST_F(LadderTest, WordOperandEscapesIn16BitTokens) {
    // 0x06F0 n names 0x10000 + n, 0x06F1 n names 0x20000 + n.
    load(".tokens 16\nPUSHK 77\nPOPW @0x10010\nPUSHK 99\nPOPW @0x20020\nEND\n");
    ASSERT_EQ(le16(program.data() + 6), kLadEscape1);
    ASSERT_EQ(le16(program.data() + 8), 0x0010);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(le16(plc_reg + (0x10010 - 1024) / 16 * 2), 77);
    EXPECT_EQ(le16(plc_reg + (0x20020 - 1024) / 16 * 2), 99);
}

// --------------------------------------------------------------------------
// Program flow.

TEST_F(LadderTest, JumpsCallsAndSkips) {
    struct Case {
        const char *what, *src;
        int m1;
        int q1, q2;
    };
    const char *jump = "LD %M1\nJMPIF over\nTRUE\nLD %M2\nOUT %Q1\nover: LD %M3\nOUT %Q2\nEND\n";
    const char *jump16 = "LD %M1\nJMPIFS over\nLD %M2\nOUT %Q1\nover: LD %M3\nOUT %Q2\nEND\n";
    // A subroutine ends with a return whose condition is certainly true.
    const char *call = "LD %M1\nCALLIF sub\nLD %M3\nOUT %Q2\nEND\n"
                       "sub: LD %M2\nOUT %Q1\nLD %M2\nTRUE\nRETIF\n";
    const char *call16 = "LD %M1\nCALLIFS sub\nLD %M3\nOUT %Q2\nEND\n"
                         "sub: LD %M2\nOUT %Q1\nLD %M2\nTRUE\nRETIF\n";
    // Skip if false: the data instructions behind it are left out.
    const char *skip = "LD %M1\nSKIPF done\nPUSHK 1\nPOPW %R1\ndone: OUT %Q2\nEND\n";
    const Case cases[] = {
        {"jump taken", jump, 1, 0, 1},         {"jump not taken", jump, 0, 1, 1},
        {"short jump taken", jump16, 1, 0, 1}, {"short jump not taken", jump16, 0, 1, 1},
        {"call taken", call, 1, 1, 1},         {"call not taken", call, 0, 0, 1},
        {"short call taken", call16, 1, 1, 1}, {"short call not taken", call16, 0, 0, 1},
    };
    for (const Case &c : cases) {
        load(c.src);
        set_bit("%M1", c.m1);
        set_bit("%M2", 1);
        set_bit("%M3", 1);
        set_bit("%Q1", 0);
        set_bit("%Q2", 0);
        ASSERT_EQ(scan(), kLadderScanDone) << c.what;
        EXPECT_EQ(bit("%Q1"), c.q1) << c.what;
        EXPECT_EQ(bit("%Q2"), c.q2) << c.what;
    }
    for (int m1 = 0; m1 < 2; ++m1) {
        load(skip);
        set_word("%R1", 0);
        set_bit("%M1", m1);
        ASSERT_EQ(scan(), kLadderScanDone);
        EXPECT_EQ(word("%R1"), m1) << "skipped while the top is false";
        EXPECT_EQ(bit("%Q2"), m1) << "the top was not popped by the skip";
    }
}

TEST_F(LadderTest, ReturnStackLimitsStopTheScan) {
    // Eight nested calls are fine, a ninth stops at its last operand word.
    auto nested = [](int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i)
            s +=
                "s" + std::to_string(i) + ": TRUE\nLD %M1\nCALLIF s" + std::to_string(i + 1) + "\n";
        s += "s" + std::to_string(depth) + ": END\n";
        return s;
    };
    set_bit("%M1", 1);
    load(nested(8));
    EXPECT_EQ(scan(), kLadderScanDone);
    load(nested(9));
    // Each level: TRUE (1 word), LD (1), CALLIF (3): the ninth call ends at word 45.
    EXPECT_EQ(scan(), 45);
    // A false call with all eight positions in use goes on.
    std::string s = nested(8);
    s.replace(s.find("s8: END"), 7, "s8: LD %M2\nCALLIF s8\nEND");
    set_bit("%M2", 0);
    load(s);
    EXPECT_EQ(scan(), kLadderScanDone);
    // A return with no position in use stops at the RETIF.
    load("LD %M1\nRETIF\nEND\n");
    EXPECT_EQ(scan(), 2);
    load("LD %M2\nRETIF\nEND\n");
    EXPECT_EQ(scan(), kLadderScanDone) << "a false return does nothing";
}

// --------------------------------------------------------------------------
// Screen requests.

TEST_F(LadderTest, ForceAndChangeScreenAtTheEndOfScan) {
    load("LD %M1\nFSCR 7\nLD %M2\nCSCR 3\nLD %M3\nCSCR 4\nEND\n");
    set_bit("%M1", 1);
    set_bit("%M2", 1);
    set_bit("%M3", 1);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(2), 8) << "forced screen K16 + 1";
    EXPECT_EQ(sr_get(1), 4) << "the later change-screen wins";
    // The same request on the next scan is not written again: an operator's
    // change in between stays.
    sr_put(1, 11);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(1), 11);
    set_bit("%M1", 0);
    set_bit("%M3", 0);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(2), 0) << "no force request with power: %SR2 = 0";
    EXPECT_EQ(sr_get(1), 3) << "a different request is written";
    set_bit("%M2", 0);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(1), 3) << "a request of 0 writes nothing";
}

TEST_F(LadderTest, ScreenContactNamesTheScreenInForce) {
    struct Case {
        const char *what;
        uint16_t sr1, sr2, sr3;
        bool force; // a force request of screen 5 in the same scan, before the contact
        uint16_t k;
        int expect;
    };
    const Case cases[] = {
        {"user screen", 6, 0, 0, false, 5, 1},   {"other user screen", 6, 0, 0, false, 4, 0},
        {"forced screen", 1, 9, 0, false, 8, 1}, {"system screen", 6, 0, 21, false, 5, 0},
        {"latch wins", 6, 0, 0, true, 5, 1},     {"latch only", 3, 0, 0, true, 2, 0},
    };
    for (const Case &c : cases) {
        std::string src = c.force ? "TRUE\nLD %M1\nFSCR 5\n" : "";
        src += "SCR " + std::to_string(c.k) + "\nOUT %Q1\nEND\n";
        load(src);
        set_bit("%M1", 1);
        sr_put(1, c.sr1);
        sr_put(2, c.sr2);
        sr_put(3, c.sr3);
        ASSERT_EQ(scan(), kLadderScanDone) << c.what;
        EXPECT_EQ(bit("%Q1"), c.expect) << c.what;
    }
}

TEST_F(LadderTest, AlarmScreenSelectionFollowsActiveAlarms) {
    // Three alarm state words from %R10; the screens start at 20.
    load("LD %M1\nASCR 3, 20, 0, %R10, %R20, %M5, %M6, %M7, %M8\nPOP\nEND\n");
    set_bit("%M1", 1);
    set_word("%R11", 0x0200);
    set_word("%R12", 0x0200);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(2), 21) << "the first active alarm (index 1) selects screen 20 - 1 + 1";
    set_bit("%M5", 1); // next alarm
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(2), 22);
    set_word("%R12", 0);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(2), 22) << "a held selection stays";
    set_bit("%M7", 1); // release
    ASSERT_EQ(scan(), kLadderScanDone);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(2), 21) << "released: back to the first active alarm";
    set_word("%R11", 0);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sr_get(2), 0) << "no active alarm: no forced screen";
    set_bit("%M1", 0);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(alarm_screen_sel & 0x8000, 0);
}

// --------------------------------------------------------------------------
// The interpreter.

TEST_F(LadderTest, EndAloneStillEndsTheScan) {
    load("END\n");
    sbit_put(10, 1);
    sr_put(2, 5);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(sbit_get(1), 0) << "first scan cleared";
    EXPECT_EQ(sbit_get(10), 0);
    EXPECT_EQ(sr_get(2), 0);
}

TEST_F(LadderTest, UndefinedCodesStopOrAreSkipped) {
    struct Case {
        std::vector<uint16_t> words;
        int32_t result;
    };
    const Case cases[] = {
        {{0x0008, 0x0009}, 1},
        {{0x0042, 0x0009}, kLadderScanDone},
        {{0x0021, 0x0000}, 2},
        {{0x0025, 0x0009}, 1},
        {{0x00BD, 0x0009}, kLadderScanDone},
        {{0x00FF, 0x0009}, 1},
        {{0x0100, 0x0009}, 1},
        {{0x0191, 0x0009}, 1},
        {{0x01C0, 0x0009}, 1},
        {{0x0221, 0x0009}, 1},
        {{0x0240, 0x0009}, 1},
        {{0x03FF, 0x0009}, 1},
        {{0x0021, 0x0022}, 2}, // runs off the end: the last word read
        {{}, 0},               // no program at all
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes;
        for (uint16_t w : c.words) {
            bytes.push_back(uint8_t(w));
            bytes.push_back(uint8_t(w >> 8));
        }
        load_bytes(bytes);
        // The check refuses it before the first word runs; the interpreter
        // would stop at the same position.
        int32_t r = scan();
        EXPECT_EQ(r, c.result) << std::hex << (c.words.empty() ? 0 : c.words[0]);
        if (r != kLadderScanDone) {
            EXPECT_EQ(sbit_get(1), 1) << "a stopped scan does not end";
        }
    }
}

TEST_F(LadderTest, StacksAreBoundedAtRunTime) {
    // The load check knows the logic stack; the data stack and a loop that
    // never ends are bounded while running.
    std::string twenty_one;
    for (int i = 0; i < 21; ++i)
        twenty_one += "LD %M1\n";
    load(twenty_one + "END\n");
    EXPECT_EQ(scan(), 21);
    std::string pushes;
    for (int i = 0; i < 41; ++i)
        pushes += "PUSHK 1\n";
    load(pushes + "END\n");
    EXPECT_EQ(scan(), 82) << "the 41st 16-bit push overflows 80 bytes";
    load("POPW %R1\nEND\n");
    EXPECT_EQ(scan(), 3) << "a pop of an empty data stack, after its 32-bit operand";
    load("back: TRUE\nLD %M1\nJMPIF back\nEND\n");
    set_bit("%M1", 1);
    EXPECT_GT(scan(), 0) << "a loop that never reaches END stops";
}

TEST_F(LadderTest, LongLoopThatEndsRunsToEndInOneScan) {
    // 20,000 passes of a 10-instruction loop: a scan has no instruction limit.
    load("MOVKW %R1, 0\n"
         "loop: PUSHW %R1\nPUSHK 1\nADDW\nPOPW %R1\nMOVW %R2, %R1\n"
         "LD %M1\nPUSHW %R1\nPUSHK 20000\nLTW\nJMPIF loop\n"
         "END\n");
    EXPECT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(word("%R1"), 20000);
    EXPECT_EQ(word("%R2"), 20000);
}

TEST_F(LadderTest, IecApplicationRunsInPlaceOfTheLadder) {
    load("TRUE\nOUT %Q1\nEND\n");
    TrevantRuntime = 1;
    host::trace_start();
    EXPECT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(count(host::trace_calls(), "_VMThread"), 1u);
    EXPECT_EQ(bit("%Q1"), 0) << "no ladder instruction runs";
    EXPECT_EQ(sbit_get(1), 1) << "the end-of-scan steps are the runtime's";
    TrevantRuntime = 0;
}

TEST_F(LadderTest, FirstScanSetsTheTokenWidthAndResetsTheInstructionFamilies) {
    load(".tokens 16\nEND\n");
    host::trace_start();
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(RegTokLen_16b, 1);
    auto calls = host::trace_calls();
    EXPECT_EQ(count(calls, "TalkInit"), 1u);
    EXPECT_EQ(count(calls, "File_Init"), 1u);
    host::trace_start();
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(count(host::trace_calls(), "TalkInit"), 0u) << "only on the first scan";
}

TEST_F(LadderTest, ScanTimingOnTheVirtualClock) {
    load("END\n");
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(local_scan_time, 0u);
    host::clock_advance_ns(2'500'000); // 25 ticks
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(local_scan_time, 2u) << "milliseconds";
    EXPECT_EQ(local_scan_time_rm, 5u) << "ticks carried";
    host::clock_advance_ns(1'500'000); // 15 ticks + 5 carried
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(local_scan_time, 2u);
    EXPECT_EQ(local_scan_time_rm, 0u);
    EXPECT_EQ(sr_get32(149), local_frt_100us);
    EXPECT_EQ(time_frt_100us, local_frt_100us & 0x3FFF);
}

TEST_F(LadderTest, SixteenAndThirtyTwoBitAdditionsReportOverflow) {
    struct Case {
        const char *src;
        uint32_t result;
        int power;
    };
    const Case cases[] = {
        {"PUSHK 30000\nPUSHK 10000\nADDW\nPOPW %R1\n", uint16_t(-25536), 0},
        {"PUSHK 30000\nPUSHK 2767\nADDW\nPOPW %R1\n", 32767, 1},
        {"PUSHK -1\nPUSHK -32768\nADDW\nPOPW %R1\n", 32767, 0},
        {"PUSHKD 2147483647\nPUSHKS 1\nADDD\nPOPD %R1\n", 0x80000000u, 0},
        {"PUSHKD 100000\nPUSHKS -1\nADDD\nPOPD %R1\n", 99999, 1},
        {"PUSHWS %R5\nPUSHD %R5\nADDD\nPOPD %R1\n", 0xFFFE, 1}, // -1 + 65535
    };
    for (const Case &c : cases) {
        load(std::string("TRUE\nLD %M1\n") + c.src + "OUT %Q1\nEND\n");
        set_bit("%M1", 1);
        set_word("%R5", 0xFFFF);
        set_word("%R6", 0);
        ASSERT_EQ(scan(), kLadderScanDone) << c.src;
        uint32_t got = word("%R1") | (uint32_t(word("%R2")) << 16);
        if (std::string(c.src).find("POPW") != std::string::npos) got &= 0xFFFF;
        EXPECT_EQ(got, c.result) << c.src;
        EXPECT_EQ(bit("%Q1"), c.power) << c.src;
    }
}

TEST_F(LadderTest, EveryShapedHandlerConsumesExactlyItsOperands) {
    // The families that are not built yet skip their operands by the table's
    // shape; the scan must reach END whatever the instruction.
    for (uint16_t op = 0; op < kLadOpcodes; ++op) {
        const LadOp &o = Lad_Op(op);
        if (!o.name || std::string(o.shape).find('?') != std::string::npos) continue;
        if (o.flow != LadFlow::Next || o.pops != 0 || o.pushes != 0) continue;
        std::string ops;
        for (const char *s = o.shape; *s; ++s) {
            std::string v;
            switch (*s) {
            case 'b':
                v = "%M1";
                break;
            case 'w':
            case 'y':
            case 'd':
            case 'q':
            case 'r':
                v = "%R100";
                break;
            case 'L':
                continue;
            case 's':
                v = "\"abc\"";
                break;
            case 't':
                v = "\"%d\"";
                break;
            case 'v':
                v = "5";
                break;
            default:
                v = "1";
                break;
            }
            ops += (ops.empty() ? " " : ", ") + v;
        }
        // Enough on the data stack for the pops of the built data instructions.
        load(std::string("TRUE\nPUSHKD 0\nPUSHKD 0\nPUSHKD 0\n") + o.name + ops + "\nTRUE\nEND\n");
        int32_t r = scan();
        EXPECT_EQ(r, kLadderScanDone) << o.name;
    }
}

TEST(LadderTable, EveryCodeHasAHandlerAndEveryNameOneCode) {
    for (uint16_t op = 0; op < kLadContactMin; ++op) {
        const LadOp &o = Lad_Op(op);
        if (op != 0x009) {
            EXPECT_NE(o.handler, nullptr) << std::hex << op;
        }
        if (!o.name) continue;
        EXPECT_EQ(Lad_Opcode(o.name), op) << o.name;
        EXPECT_LT(op, kLadOpcodes) << o.name;
    }
}

// The rows of upper subsystems' families: start-up (here the fixture) sets
// every one of their handlers; without it the instruction stops the scan
// right after its opcode word.
TEST_F(LadderTest, ServiceRowsStopUntilTheirSubsystemSetsTheirHandler) {
    int rows = 0;
    for (uint16_t op = 0; op < kLadOpcodes; ++op) {
        const LadOp &o = Lad_Op(op);
        if (!o.service) continue;
        ++rows;
        LadHandler installed = o.handler;
        ASSERT_TRUE(Lad_SetHandler(op, nullptr)) << o.name;
        EXPECT_NE(o.handler, installed) << o.name << " is not installed at start-up";
        // TRUE, the instruction with two operand words, END.
        uint8_t words[10] = {};
        const uint16_t w[] = {kLadTrue, op, 1, 1, kLadEnd};
        for (int i = 0; i < 5; ++i)
            put_le16(words + 2 * i, w[i]);
        EXPECT_EQ(Ladder_RunUnchecked(words, sizeof words), 2) << o.name;
        Ladder_InstallServiceHandlers();
        EXPECT_EQ(o.handler, installed) << o.name;
    }
    EXPECT_GT(rows, 0);
}

TEST(LadderTable, OnlyServiceRowsTakeAHandlerFromOutside) {
    LadHandler h = [](uint16_t, uint8_t) {};
    // An engine row, a data row, a timer row, an undefined code, no row.
    const uint16_t codes[] = {kLadOr, 0x0078, 0x01CC, 0x0008, kLadContactMin, 0xFFFF};
    for (uint16_t op : codes) {
        LadHandler before = Lad_Op(op).handler;
        EXPECT_FALSE(Lad_SetHandler(op, h)) << std::hex << op;
        EXPECT_EQ(Lad_Op(op).handler, before) << std::hex << op;
    }
}

namespace {
uint16_t g_seen_op;
int g_service_resets;
} // namespace

// What a subsystem sets is what runs, with its code; Ladder_Reset reaches the
// state that the subsystem's handlers keep.
TEST_F(LadderTest, ASetHandlerRunsAndItsStateIsResetWithTheLadder) {
    uint16_t node = uint16_t(Lad_Opcode("NODEID"));
    g_seen_op = 0;
    ASSERT_TRUE(Lad_SetHandler(node, [](uint16_t op, uint8_t) {
        g_seen_op = op;
        Lad_Word(&lad_pc);
        Lad_Top() = 0;
    }));
    load("LDR %M9\nTRUE\nNODEID 5\nOUT %M1\nLDR %M9\nTRUE\nOUT %M2\nEND\n");
    EXPECT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(g_seen_op, node);
    EXPECT_EQ(bit("%M1"), 0);
    EXPECT_EQ(bit("%M2"), 1);

    g_service_resets = 0;
    Lad_SetServiceReset([] { ++g_service_resets; });
    Ladder_Reset();
    EXPECT_EQ(g_service_resets, 1);
    Ladder_InstallServiceHandlers();
}

// The commonest rung (two contacts, AND or OR, a coil) runs as one step once
// the program is checked. It must leave the registers and the logic stack as
// the words one by one do, also when a jump lands on it, and an edit of
// the program's words takes effect in the next scan.
TEST_F(LadderTest, RungGroupsRunAsTheirWordsOneByOne) {
    const std::string src = ".tokens 16\n"
                            "LD %M1\nLD %M2\nAND\nOUT %Q1\n"
                            "LD %M3\nLD %M4\nOR\nOUT %Q2\n"
                            "LD %M5\nJMPIF over\nTRUE\nLD %M2\nOUT %Q4\n"
                            "over: LD %M1\nLD %M3\nAND\nOUT %Q3\n"
                            "LD %M1\nLD %M2\nLD %M3\nLD %M4\nOR\nOUT %Q5\nAND\nOUT %Q6\n"
                            "END\n";
    load(src);
    auto outputs = [&] {
        std::string q;
        for (int i = 1; i <= 6; ++i)
            q += char('0' + bit("%Q" + std::to_string(i)));
        return q + std::string(reinterpret_cast<const char *>(l_stack), sizeof l_stack);
    };
    for (int m = 0; m < 32; ++m) {
        auto inputs = [&] {
            for (int i = 1; i <= 5; ++i)
                set_bit("%M" + std::to_string(i), (m >> (i - 1)) & 1);
            for (int i = 1; i <= 6; ++i)
                set_bit("%Q" + std::to_string(i), 1 - (m & 1));
            std::memset(l_stack, 0x5A, sizeof l_stack);
        };
        inputs();
        ASSERT_EQ(scan(), kLadderScanDone);
        const std::string grouped = outputs();
        inputs();
        ASSERT_EQ(Ladder_RunUnchecked(ladder_bl + 8, Ladder_Bytes()), kLadderScanDone);
        EXPECT_EQ(grouped, outputs()) << "inputs " << m;
    }

    // The first rung's AND made OR in place, as an online change writes the
    // block, without a word to the engine: the next scan runs the new rung.
    set_bit("%M1", 1);
    set_bit("%M2", 0);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 0);
    ASSERT_EQ(le16(ladder_bl + 8 + 4), 0x0024);
    put_le16(ladder_bl + 8 + 4, 0x0023);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 1);
}
