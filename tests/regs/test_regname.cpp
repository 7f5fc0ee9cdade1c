// Register names as typed by people, and their echo.
#include "regs/plc_reg.h"
#include "regs/regname.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Good {
    const char *text;
    uint32_t ref;
    uint32_t bits;
    const char *echo;
};

// clang-format off
const Good kGood[] = {
    {"%I1",       8192,                 1,  "%I1"},
    {"%i2048",    8192 + 2047,          1,  "%I2048"},
    {"%Q12",      10240 + 11,           1,  "%Q12"},
    {"%M5",       14336 + 4,            1,  "%M5"},
    {"%T2048",    12288 + 2047,         1,  "%T2048"},
    {"%S7",       1536 + 6,             1,  "%S7"},
    {"%K256",     1792 + 255,           1,  "%K256"},
    {"%IG1",      1024,                 1,  "%IG1"},
    {"%qg256",    1280 + 255,           1,  "%QG256"},
    {"%AI1",      16384,                16, "%AI1"},
    {"%AQ512",    24576 + 16 * 511,     16, "%AQ512"},
    {"%AIG32",    2048 + 16 * 31,       16, "%AIG32"},
    {"%AQG1",     2560,                 16, "%AQG1"},
    {"%R1",       32768,                16, "%R1"},
    {" %r50240 ", 32768 + 16 * 50239,   16, "%R50240"},
    {"R100",      32768 + 16 * 99,      16, "%R100"},
    {"%SR1",      3072,                 16, "%SR1"},
    {"%sr192",    3072 + 16 * 191,      16, "%SR192"},
    {"%SR193",    0x10030000,           16, "%SR193"},
    {"%SR448",    0x10030FF0,           16, "%SR448"},
    {"%ESR1",     0x10030000,           16, "%SR193"},
    {"%ESR256",   0x10030FF0,           16, "%SR448"},
    {"%ET1",      0x10008000,           1,  "%ET1"},
    {"%et16384",  0x1000BFFF,           1,  "%ET16384"},
    {"%EM1",      0x1001C000,           1,  "%EM1"},
    {"%EM16384",  0x1001FFFF,           1,  "%EM16384"},
    {"%R0007",    32768 + 16 * 6,       16, "%R7"},
};
// clang-format on

TEST(RegName, KnownNamesParseAndEchoBack) {
    for (const Good &g : kGood) {
        SCOPED_TRACE(g.text);
        uint32_t ref = 0, bits = 0;
        std::string error = "stale";
        ASSERT_TRUE(RegName_Parse(g.text, &ref, &bits, &error)) << error;
        EXPECT_EQ(ref, g.ref);
        EXPECT_EQ(bits, g.bits);
        EXPECT_TRUE(error.empty());
        EXPECT_EQ(RegName_Format(ref, bits), g.echo);
    }
}

struct Bad {
    const char *text;
    const char *error;
};

// clang-format off
const Bad kBad[] = {
    {"",            "unknown register name"},
    {"%",           "unknown register name"},
    {"%X1",         "unknown register name"},
    {"%RR1",        "unknown register name"},
    {"%F1",         "unknown register name"},
    {"12",          "unknown register name"},
    {"%R",          "missing register number"},
    {"%R1x",        "invalid register number"},
    {"%R-1",        "invalid register number"},
    {"%R 1",        "invalid register number"},
    {"%R0",         "register number out of range"},
    {"%R50241",     "register number out of range"},
    {"%I2049",      "register number out of range"},
    {"%S257",       "register number out of range"},
    {"%AIG33",      "register number out of range"},
    {"%AQ513",      "register number out of range"},
    {"%SR449",      "register number out of range"},
    {"%ESR257",     "register number out of range"},
    {"%ET16385",    "register number out of range"},
    {"%R4294967297", "register number out of range"},
    {"%R99999999999999999999999", "register number out of range"},
};
// clang-format on

TEST(RegName, BadNamesAreRefusedWithAReason) {
    for (const Bad &b : kBad) {
        SCOPED_TRACE(b.text);
        uint32_t ref = 77, bits = 77;
        std::string error;
        EXPECT_FALSE(RegName_Parse(b.text, &ref, &bits, &error));
        EXPECT_EQ(error, b.error);
        EXPECT_EQ(ref, 77u);
        EXPECT_EQ(bits, 77u);
    }
}

TEST(RegName, ReferencesWithoutANameEchoInHex) {
    EXPECT_EQ(RegName_Format(32768 + 3, 1), "0x00008003"); // a bit inside %R1
    EXPECT_EQ(RegName_Format(6144, 16), "0x00001800");     // force table
    EXPECT_EQ(RegName_Format(0x80000005, 16), "0x80000005");
    EXPECT_EQ(RegName_Format(0xCC400, 16), "0x000CC400");
    EXPECT_EQ(RegName_Format(0x10031000, 16), "0x10031000");
    EXPECT_EQ(RegName_Format(3072 + 4, 1), "0x00000C04");
}

} // namespace
