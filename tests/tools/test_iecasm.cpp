// The IEC assembler and disassembler: texts that give byte-identical images
// back, the opcode table's shapes, the database an independent reader
// computes, refused texts, and an IEC application built by mkapp.
#include "base/le.h"
#include "iec/kernel/iec.h"
#include "iec/kernel/trcode.h"
#include "iec/kernel/tropcodes.h"
#include "panel_fixture.h"
#include "plc/appblocks.h"
#include "system/appfile.h"
#include "tools/lib/appbuild.h"
#include "tools/lib/iecasm.h"

#include <dirent.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {
std::string bin(const std::string &name) {
    const char *dir = std::getenv("PANEL_BIN");
    return std::string(dir ? dir : "build/bin") + "/" + name;
}
std::string source_dir() {
    return PANEL_SOURCE_DIR;
}
std::vector<uint8_t> assemble(const std::string &src) {
    IecAsmOutput out;
    std::string error;
    EXPECT_TRUE(Iecasm_Assemble(src, &out, &error)) << error << "\n" << src;
    return out.image;
}
std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}
std::string run(const std::string &cmd, int *status = nullptr) {
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int st = pclose(p);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

// Sources that use every directive.
const char *const kSources[] = {
    ".app A\n.program p\n END\n",
    ".app COUNTER period=10000 paused stamp=77 options=5 stack=9\n"
    ".ext 24 f1=1234 f8=16 f12=1 f18=-1 f19=4 f21=3\n"
    ".var BOOL run = TRUE retain public tag=1\n"
    ".var SINT s = -5\n.var USINT u[3] = 1, _, 3 public\n"
    ".var INT i = -300 public\n.var UINT w = 65535\n"
    ".var DINT d[2] = 100000, -1 retain public tag=9\n.var REAL r = 1.5 public\n"
    ".var LINT big = -9000000000\n.var LREAL x = 2.25 public\n"
    ".var TIME t = 5000 public\n.var STRING(10) msg = \"hi \\\"you\\\"\" public\n"
    ".var STRING(3) a[2] = \"ab\", \"c\"\n"
    ".room data8 3\n.room step 4\n.room trans 2\n.room timers 5\n.prev data32 2\n"
    ".xv DINT 1\n.xv STRING 2\n.fb TON id=5 required\n.fb CTU id=6\n"
    ".inst 5 std word=7\n.inst 6\n.wished 64\n.func MYFN\n"
    ".task MAIN p1, p2\n.task @@B p2\n"
    ".raw e2 01 02 03\n.raw e17 00 00 01 00 00 00 02 00 01 00 03 00\n.raw h11 aa bb\n"
    ".program p1 kind=1\n"
    "top:    ADD_DINT d, d[1], d\n"
    "        JMPF run, top\n"
    "        JMPTAB d, top, out\n"
    "        LDK_DINT d, 0x12345678\n"
    "        LDK_LWORD big, 0x1122334455667788\n"
    "        LDK_STRING msg, \"abc\"\n"
    "        CALL_STF 12, 7, 8\n"
    "        CALL_FUNC 1, 2, 3\n"
    "        SFC_TRANS 1, out, 2, 3\n"
    "        SFC_END p1, p2\n"
    "        PRG_START p2\n"
    "        JMP #2\n"
    "        .word 9999, 7\n"
    "out:    END\n"
    ".program p2 kind=0x30002 nostack\n"
    "        END\n",
    ".app EMPTY\n",
};

TEST(IecasmTest, TextsGiveTheirImagesBackByteForByte) {
    for (const char *src : kSources) {
        std::vector<uint8_t> image = assemble(src);
        std::string text = Iecasm_Disassemble(image.data(), image.size());
        EXPECT_EQ(text.find(".image"), std::string::npos) << text;
        EXPECT_EQ(assemble(text), image) << text;
    }
}

TEST(IecasmTest, EveryOpcodeAssemblesAndComesBack) {
    uint32_t n = 0;
    const TrOpcode *ops = TrVM_Opcodes(&n);
    ASSERT_GT(n, 400u);
    std::string src = ".app OPS\n.var BOOL b\n.var INT w\n.var DINT d\n.var LINT l\n"
                      ".var TIME t\n.var STRING(8) s\n.program p\nhere:\n";
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(TrVM_Opcode(ops[i].number), &ops[i]);
        ASSERT_EQ(TrVM_OpcodeByName(ops[i].mnemonic), &ops[i]);
        src += std::string("        ") + ops[i].mnemonic;
        bool first = true;
        for (const char *sh = ops[i].operands; *sh; ++sh) {
            std::string a;
            switch (*sh) {
            case 'b':
            case 'w':
            case 'd':
            case 'l':
            case 't':
            case 's':
                a = std::string(1, *sh);
                break;
            case 'p':
                a = "p";
                break;
            case 'K':
                a = "0x12345678";
                break;
            case 'Q':
                a = "0x1122334455667788";
                break;
            case 'r':
            case 'a':
                a = "here";
                break;
            case '$':
                a = "\"hi\"";
                break;
            case 'N':
                a = "here, here";
                break;
            case 'n':
            case 'M':
            case 'P':
                a = "1, 2";
                break;
            case 'o':
                a = "1, 2, 3";
                break;
            default:
                a = "3";
                break;
            }
            src += (first ? " " : ", ") + a;
            first = false;
        }
        src += "\n";
    }
    std::vector<uint8_t> image = assemble(src);
    std::string text = Iecasm_Disassemble(image.data(), image.size());
    EXPECT_EQ(text.find(".image"), std::string::npos);
    EXPECT_EQ(assemble(text), image);
    // Numbers without a row are not instructions: they come back as words.
    for (uint32_t bad : {0u, 15u, 298u, 570u, 0xFFFFu})
        EXPECT_EQ(TrVM_Opcode(bad), nullptr) << bad;
    image = assemble(".app X\n.program p\n .word 298, 68\n END\n");
    text = Iecasm_Disassemble(image.data(), image.size());
    EXPECT_NE(text.find(".word 298"), std::string::npos) << text;
    EXPECT_EQ(assemble(text), image);
}

TEST(IecasmTest, JumpOffsetsCountFromBehindTheInstruction) {
    std::vector<uint8_t> image =
        assemble(".app J\n.var BOOL b\n.program p\n JMPF b, next\nnext: JMP back\nback: END\n"
                 " JMPA next\n");
    uint32_t code = le32(image.data() + le32(image.data() + 56));
    EXPECT_EQ(le16(&image[code]), 66);
    EXPECT_EQ(le16(&image[code + 2]), 1);          // the BOOL first
    EXPECT_EQ(int16_t(le16(&image[code + 4])), 0); // offset 0: the next instruction
    EXPECT_EQ(int16_t(le16(&image[code + 8])), 0);
    EXPECT_EQ(le16(&image[code + 14]), 6); // absolute: from the program's start
}

TEST(IecasmTest, ImagesTheDirectivesCannotSayComeBackAsBytes) {
    std::vector<uint8_t> image = assemble(kSources[1]);
    image.push_back(0x42); // an odd byte behind the last program
    std::string text = Iecasm_Disassemble(image.data(), image.size());
    EXPECT_NE(text.find(".image"), std::string::npos);
    EXPECT_EQ(assemble(text), image);
    std::vector<uint8_t> junk = {1, 2, 3};
    EXPECT_EQ(assemble(Iecasm_Disassemble(junk.data(), junk.size())), junk);
    EXPECT_TRUE(assemble(Iecasm_Disassemble(junk.data(), 0)).empty());
}

TEST(IecasmTest, WrongTextsAreRefusedWithTheirLine) {
    struct Case {
        const char *src, *message;
    };
    const Case cases[] = {
        {".app A\n.var FOO x\n", "line 2: unknown type FOO"},
        {".app A\n.var INT x\n.var DINT x\n", "line 3: \"x\" declared twice"},
        {".app A\n.var INT x = 70000\n", "line 2: value out of range"},
        {".app A\n.var STRING(2) s = \"abc\"\n", "longer than the STRING's capacity"},
        {".app A\n.var INT x[2] = 1, 2, 3\n", "more values than elements"},
        {".app A\n.program p\n NOPE\n", "line 3: unknown mnemonic NOPE"},
        {".app A\n.program p\n JMP nowhere\n", "line 3: unknown label nowhere"},
        {".app A\n.var DINT d\n.program p\n ADD_INT d, d, d\n", "not of the kind"},
        {".app A\n.program p\n ADD_DINT 1, 2\n", "too few operands"},
        {".app A\n.program p\n END 1\n", "too many operands"},
        {".app A\n.ext 11 f13=1\n", "needs a later version"},
        {".app A\n.raw e13 01\n", "needs an extension block"},
        {".app A\n.var INT a retain\n.var INT b\n.var INT c retain\n", "must follow each other"},
        {".app A\n.bind %XX1 a\n.var INT a\n", "no register-location entry"},
        {".app A\n.bind %AQ1 nothing\n", "unknown variable nothing"},
        {"END\n", "line 1: instruction outside a program"},
        {".app ABCDEFGHIJKLMNOPQ\n", "longer than 15"},
        {".app A\n.var DINT d vsi\n", "vsi needs public"},
        {".app A\n.type S struct a:INT\n", ".type needs .ext 8"},
        {".app A\n.ext 8\n.type S struct a:S\n.var S s\n", "contains itself"},
        {".app A\n.ext 8\n.type S struct a:STRING\n", "unsupported member type"},
        {".app A\n.ext 8\n.type A array INT 2,2,2,2\n", "1 to 3 dimensions"},
    };
    for (const Case &c : cases) {
        IecAsmOutput out;
        std::string error;
        EXPECT_FALSE(Iecasm_Assemble(c.src, &out, &error)) << c.src;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(IecasmTest, BindLinesFillTheRegisterLocationTable) {
    IecAsmOutput out;
    std::string error;
    ASSERT_TRUE(Iecasm_Assemble(".app B\n.var BOOL b\n.var USINT u\n.var INT i[3]\n.var TIME t[2]\n"
                                ".var STRING(4) s\n.bind %I1 b\n.bind %QG2 u\n.bind %AQ512 i[2]\n"
                                ".bind %SR193 t[1]\n.bind %AIG1 s\n",
                                &out, &error))
        << error;
    ASSERT_EQ(out.varloc.size(), 6464u);
    EXPECT_EQ(out.varloc[1344], (6u << 26) | 1);
    EXPECT_EQ(out.varloc[257], 2u);
    EXPECT_EQ(out.varloc[6463], (1u << 26) | 3);
    EXPECT_EQ(out.varloc[1280], (5u << 26) | 8); // TIME: a byte offset
    EXPECT_EQ(out.varloc[1024], (4u << 26) | 1);
}

TEST(IecasmTest, CommandsRoundTripAndAnIndependentReaderAgreesOnTheDatabase) {
    char dir_tmpl[] = "/tmp/iecasm-XXXXXX";
    std::string dir = mkdtemp(dir_tmpl);
    std::vector<std::string> sources;
    DIR *d = opendir((source_dir() + "/examples/iec").c_str());
    ASSERT_NE(d, nullptr);
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 4 && n.substr(n.size() - 4) == ".iec")
            sources.push_back(source_dir() + "/examples/iec/" + n);
    }
    closedir(d);
    ASSERT_FALSE(sources.empty());
    for (size_t i = 0; i < std::size(kSources); ++i) {
        std::string p = dir + "/s" + std::to_string(i) + ".iec";
        std::ofstream(p) << kSources[i];
        sources.push_back(p);
    }
    for (const std::string &src : sources) {
        std::string cod = dir + "/tr.cod", again = dir + "/again.cod", text = dir + "/dis.iec";
        int st;
        run(bin("iecasm") + " -o " + cod + " " + src, &st);
        ASSERT_EQ(st, 0) << src;
        run(bin("iecdis") + " " + cod + " > " + text, &st);
        ASSERT_EQ(st, 0);
        run(bin("iecasm") + " -o " + again + " " + text, &st);
        ASSERT_EQ(st, 0);
        EXPECT_EQ(slurp(cod), slurp(again)) << src;
        std::string db = run(bin("iecdis") + " --db " + cod, &st);
        EXPECT_EQ(st, 0);
        size_t segments = 0;
        for (size_t at = db.find("\nsegment "); at != std::string::npos;
             at = db.find("\nsegment ", at + 1))
            ++segments;
        EXPECT_EQ(segments, 40u) << db;
        std::string reader =
            run("python3 " + source_dir() + "/tests/tools/iec_image_reader.py " + cod);
        EXPECT_EQ(db, "check 0\n" + reader) << src;
    }
    // A truncated image is refused with 2.
    std::string cod = slurp(dir + "/tr.cod");
    std::ofstream(dir + "/short.cod", std::ios::binary) << cod.substr(0, 100);
    int st;
    run(bin("iecdis") + " --db " + dir + "/short.cod", &st);
    EXPECT_EQ(st, 2);
    std::system(("rm -rf " + dir).c_str());
}

using IecAppTest = PanelTest;

TEST_F(IecAppTest, MkappAssemblesTheImageAndItsLocationTable) {
    const std::string src = ".app M\n.var INT a\n.var BOOL b\n.bind %AQ1 a\n.bind %Q3 b\n"
                            ".program p\n END\n";
    IecAsmOutput want;
    ASSERT_TRUE(Iecasm_Assemble(src, &want, nullptr));
    nlohmann::json desc = {{"ladder", {{"xti", {{"iecasm", {{"text", src}}}}}}}};
    appbuild::Built b;
    std::string error;
    ASSERT_TRUE(appbuild::build(desc, "", &b, &error)) << error;
    write_file("/mnt/cfg/config.pgm", std::string(b.config.begin(), b.config.end()));
    write_file("/mnt/cfg/ladder.pgm", std::string(b.ladder.begin(), b.ladder.end()));
    ASSERT_EQ(LoadProgram(), 1);
    EXPECT_EQ(read_file("/mnt/cfg/tr.cod"), std::string(want.image.begin(), want.image.end()));
    ASSERT_NE(TrevantI0_VarLoc, nullptr);
    EXPECT_EQ(le32(TrevantI0_VarLoc + 4 * 5952), (1u << 26) | 1);
    EXPECT_EQ(le32(TrevantI0_VarLoc + 4 * (3392 + 2)), (6u << 26) | 1);
    EXPECT_EQ(le32(TrevantI0_VarLoc + 4 * 5953), 0u);
}

} // namespace

TEST(IecasmTest, StatusInformationAndComplexTypesRoundTrip) {
    for (const char *src : {".app V\n.var DINT a public vsi tag=3\n.var DINT b public\n"
                            ".program p kind=0\n END\n",
                            ".app T\n.ext 8\n.type S struct a:INT, b:DINT\n.type R array S 2\n"
                            ".var R r public\n.program p kind=0\n END\n"}) {
        IecAsmOutput out;
        std::string error;
        ASSERT_TRUE(Iecasm_Assemble(src, &out, &error)) << error;
        std::string text = Iecasm_Disassemble(out.image.data(), out.image.size());
        IecAsmOutput again;
        ASSERT_TRUE(Iecasm_Assemble(text, &again, &error)) << error << "\n" << text;
        EXPECT_EQ(again.image, out.image) << text;
    }
    IecAsmOutput out;
    ASSERT_TRUE(Iecasm_Assemble(".app V\n.var DINT a public vsi\n.program p kind=0\n END\n", &out,
                                nullptr));
    EXPECT_NE(Iecasm_Disassemble(out.image.data(), out.image.size()).find(" public vsi"),
              std::string::npos);
}
