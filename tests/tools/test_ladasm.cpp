// The ladder assembler and disassembler: the text they share with the engine
// and the bytes of the program file.
#include "base/crc16.h"
#include "base/le.h"
#include "panel_fixture.h"
#include "plc/ladder.h"
#include "plc/ladder_ops.h"
#include "tools/lib/ladasm.h"

#include <random>

namespace {
std::vector<uint8_t> assemble(const std::string &src) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(Ladasm_Assemble(src, &out, &error)) << error << "\n" << src;
    return out;
}
std::string assemble_error(const std::string &src) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(Ladasm_Assemble(src, &out, &error)) << src;
    return error;
}
std::vector<uint16_t> words_of(const std::vector<uint8_t> &b, size_t n) {
    std::vector<uint16_t> w;
    for (size_t i = 0; i + 1 < b.size() && w.size() < n; i += 2)
        w.push_back(le16(b.data() + i));
    return w;
}
std::vector<uint8_t> roundtrip(const std::vector<uint8_t> &bytes, std::string *text) {
    *text = Ladasm_Disassemble(bytes.data(), bytes.size());
    std::vector<uint8_t> again;
    std::string error;
    EXPECT_TRUE(Ladasm_Assemble(*text, &again, &error)) << error << "\n" << *text;
    return again;
}

// Every opcode whose operands the table knows, with operands of its shape.
std::string every_shaped_opcode(bool tokens16) {
    std::string src = tokens16 ? ".tokens 16\n" : ".tokens 32\n";
    int label = 0;
    for (uint16_t op = 0; op < kLadOpcodes; ++op) {
        const LadOp &o = Lad_Op(op);
        if (!o.name || std::string(o.shape).find('?') != std::string::npos) continue;
        std::string ops;
        for (const char *s = o.shape; *s; ++s) {
            std::string v;
            switch (*s) {
            case 'b':
                v = "%M17";
                break;
            case 'w':
                v = tokens16 ? "%R4000" : "%ESR3";
                break;
            case 'y':
                v = "%R12";
                break;
            case 'd':
                v = "%R100";
                break;
            case 'q':
                v = "%R200";
                break;
            case 'r':
                v = "%R7";
                break;
            case 'k':
                v = "-5";
                break;
            case 'K':
                v = "K32 100000";
                break;
            case 'Q':
                v = "0x0123456789ABCDEF";
                break;
            case 'x':
                v = "0xBEEF";
                break;
            case 'v':
                v = "%R3";
                break;
            case 'V':
                v = "%R9";
                break;
            case 'j':
            case 'J':
            case 'n':
                v = "l" + std::to_string(label);
                break;
            case 'L':
                continue;
            case 's':
                v = "\"odd\"";
                break;
            case 't':
                v = "\"%5.2f\\x00\\\"\\\\\"";
                break;
            }
            ops += (ops.empty() ? " " : ", ") + v;
        }
        src += std::string(o.name) + ops + "\n";
        if (std::string(o.shape).find_first_of("jJn") != std::string::npos)
            src += "l" + std::to_string(label++) + ":\n";
    }
    return src + (tokens16 ? "" : "LD %ET1\n") + "LD %M1\nLD @0x1800\nLDR %M2\nEND\n";
}
} // namespace

TEST(LadasmTest, EncodingsOfTheOperandForms) {
    struct Case {
        const char *what, *src;
        std::vector<uint16_t> words;
    };
    // clang-format off
    const Case cases[] = {
        {"contact", "LD %M1\n", {0x3800}},
        {"contact of a bit in a word", "LD %R5.3\n", {uint16_t(0x8000 + 4 * 16 + 3)}},
        {"contact beyond 16 bits", ".tokens 32\nLD %R3000\n", {0x001F, 0x3B70, 0x0001}},
        {"explicit long form", ".tokens 16\nLDR %M1\n", {0x001F, 0x3800}},
        {"32-bit token", ".tokens 32\nOUT %Q1\n", {0x0026, 0x2800, 0x0000}},
        {"extended area token", ".tokens 32\nOUT %EM1\n", {0x0026, 0xC000, 0x1001}},
        {"16-bit word token", ".tokens 16\nPUSHW %R1\n", {0x0050, 0x8000}},
        {"first escape", ".tokens 16\nPUSHW %R2049\n", {0x0050, 0x06F0, 0x0000}},
        {"second escape", ".tokens 16\nPUSHW %R6145\n", {0x0050, 0x06F1, 0x0000}},
        {"raw token", ".tokens 32\nPUSHW @0x000CC400\n", {0x0050, 0xC400, 0x000C}},
        {"constants", "MOVKD %R1, -2\nPUSHK 0xFFFF\n", {0x0060, 0x8000, 0, 0xFFFE, 0xFFFF, 0x0051, 0xFFFF}},
        {"forward jump", "JMPIF x\nx: END\n", {0x0044, 0, 0, 0x0009}},
        {"backward short jump", "x: JMPIFS x\n", {0x0047, 0xFFFE}},
        {"skip", "SKIPF x\nTRUE\nx: END\n", {0x0046, 1, 0x0021, 0x0009}},
        {"inline bytes", "CPYBK %R1, \"abc\"\n", {0x00B7, 3, 0x8000, 0, 0x6261, 0x0063}},
        {"screen instructions", "FSCR 7\nASCR 2, 10, 1, %R1, %R2, %M1, %M2, %M3, %M4\n",
         {0x0027, 7, 0x0029, 2, 10, 1, 0x8000, 0x8010, 0x3800, 0, 0x3801, 0, 0x3802, 0, 0x3803, 0}},
        {"handler-read operands", "TOPEN 1, %R1, K32 70000, %M2\n", {0x0084, 1, 0x8000, 0, 0x1170, 1, 0x3801, 0}},
        {"raw words", ".word 0x1234, -1\n", {0x1234, 0xFFFF}},
    };
    // clang-format on
    for (const Case &c : cases) {
        std::vector<uint8_t> b = assemble(std::string(c.src) + ".notrailer\n");
        EXPECT_EQ(words_of(b, 64), c.words) << c.what;
    }
}

TEST(LadasmTest, TrailerCarriesTheFeatureWordTheStartUpReads) {
    std::vector<uint8_t> b = assemble(".tokens 16\n.features 0x90\nEND\n");
    ASSERT_EQ(b.size(), 2u + 9u);
    EXPECT_EQ(Ladder_Features(b.data(), uint32_t(b.size())), 0x8090u);
    b = assemble("END\n");
    EXPECT_EQ(Ladder_Features(b.data(), uint32_t(b.size())), 0u) << "32-bit tokens by default";
    // The file: CRC-16 and length in front.
    std::vector<uint8_t> file = Ladasm_Block(b);
    EXPECT_EQ(le32(file.data()), crc16(b.data(), b.size()));
    EXPECT_EQ(le32(file.data() + 4), b.size());
    EXPECT_EQ(Ladasm_ProgramOf(file), b);
    EXPECT_EQ(Ladasm_ProgramOf(b), b) << "program bytes alone pass through";
}

TEST(LadasmTest, MistakesAreReportedWithTheirLine) {
    struct Case {
        const char *src, *error;
    };
    // clang-format off
    const Case cases[] = {
        {"END\nFROB %M1\n",                 "line 2: unknown instruction FROB"},
        {"OUT %Z1\n",                       "line 1: %Z1: unknown register name"},
        {"OUT %M99999\n",                   "line 1: %M99999: register number out of range"},
        {"JMPIF nowhere\n",                 "line 1: unknown label nowhere"},
        {"a: END\na: END\n",                "line 2: label defined twice: a"},
        {"OUT %Q1, %Q2\n",                  "line 1: OUT takes fewer operands"},
        {"FSCR\n",                          "line 1: FSCR needs a value"},
        {"PUSHK 70000\n",                   "line 1: value 70000 out of range"},
        {".tokens 16\nLDR %ET1\n",          "line 2: reference 0x10008000 does not fit a 16-bit token"},
        {".tokens 16\nPUSHW %R10241\n",     "line 2: reference 0x00030000 does not fit a 16-bit token"},
        {"CPYBK %R1, \"a\\q\"\n",           "line 1: unknown escape \\q"},
        {"CPYBK %R1, \"abc\n",              "line 1: unterminated string"},
        {".byte 1\nEND\n",                  "line 2: .byte must come last"},
        {"x: SKIPF x\n",                    "line 1: skip to x must go forward"},
        {"FMT %R1, %R2, 0, 0, 4, \"123456789012345678901\"\n", "line 1: text longer than 20 bytes"},
        {"OUT %R5.16\n",                    "line 1: value 16 out of range"},
        {"OUT %M1.1\n",                     "line 1: %M1.1: a bit number needs a word register"},
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(assemble_error(c.src), c.error) << c.src;
}

TEST(LadasmTest, DisassemblyAssemblesToTheSameBytes) {
    for (bool t16 : {false, true}) {
        std::vector<uint8_t> b = assemble(every_shaped_opcode(t16));
        std::string text;
        EXPECT_EQ(roundtrip(b, &text), b) << text;
        EXPECT_NE(text.find("LDR     %M2"), std::string::npos) << "the long contact stays long";
        EXPECT_EQ(text.find(".word"), std::string::npos) << "every instruction decoded:\n" << text;
    }
    // Any bytes at all: what does not decode is written as raw words.
    std::mt19937 rng(7);
    for (int n = 0; n < 300; ++n) {
        std::vector<uint8_t> b(rng() % 64);
        for (uint8_t &x : b)
            x = uint8_t(rng() % 4 == 0 ? rng() % 0x60 : rng());
        std::string text;
        EXPECT_EQ(roundtrip(b, &text), b) << text;
    }
}

TEST(LadasmTest, ToolsWriteAndReadTheProgramFile) {
    const char *bin = std::getenv("PANEL_BIN");
    ASSERT_NE(bin, nullptr);
    char dir[] = "/tmp/ladasm-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string d = dir;
    std::string src = "; scan counter\n.tokens 16\nLD %M1\nOUT %Q1\nPUSHW %R1\nPUSHK 1\nADDW\n"
                      "POPW %R1\nEND\n";
    FILE *f = std::fopen((d + "/p.lad").c_str(), "w");
    std::fputs(src.c_str(), f);
    std::fclose(f);
    std::string b = bin;
    ASSERT_EQ(
        std::system((b + "/ladasm -o " + d + "/ladder.pgm " + d + "/p.lad >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((b + "/laddis " + d + "/ladder.pgm > " + d + "/back.lad").c_str()), 0);
    ASSERT_EQ(
        std::system((b + "/ladasm -o " + d + "/again.pgm " + d + "/back.lad >/dev/null").c_str()),
        0);
    EXPECT_EQ(std::system(("cmp -s " + d + "/ladder.pgm " + d + "/again.pgm").c_str()), 0);
    // A mistake: the line and a non-zero exit.
    f = std::fopen((d + "/bad.lad").c_str(), "w");
    std::fputs("END\nOUT\n", f);
    std::fclose(f);
    EXPECT_NE(std::system((b + "/ladasm -o " + d + "/x.pgm " + d + "/bad.lad 2>/dev/null").c_str()),
              0);
    std::system(("rm -rf " + d).c_str());
}
