// mkapp's pictures: PNG files turned into the panel's pixels at each depth,
// placed behind their prefixes in the bitmap area and its map, a bitmap's
// frame table written from their names, and the mistakes refused.
#include "base/le.h"
#include "objects/records.h"
#include "panel_fixture.h"
#include "plc/appblocks.h"
#include "regs/plc_reg.h"
#include "tools/lib/appbuild.h"

#include <png.h>

#include <string>
#include <vector>

namespace {

class MkappPictures : public PanelTest {
protected:
    // A PNG of RGBA pixels in the test's root folder; returns its path.
    std::string png(const std::string &name, int w, int h, const std::vector<uint32_t> &rgba) {
        std::vector<uint8_t> px;
        for (uint32_t c : rgba)
            for (int s : {24, 16, 8, 0})
                px.push_back(uint8_t(c >> s));
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = uint32_t(w);
        image.height = uint32_t(h);
        image.format = PNG_FORMAT_RGBA;
        const std::string path = root_dir + "/" + name + ".png";
        EXPECT_NE(png_image_write_to_file(&image, path.c_str(), 0, px.data(), 0, nullptr), 0);
        return path;
    }
};

struct Area {
    std::vector<uint8_t> map, data; // the 520-byte map; the area after its 8-byte head
};

Area bitmaps(const appbuild::Built &b) {
    appbuild::Placed at;
    EXPECT_TRUE(appbuild::find_part(b.manifest, "bitmaps", &at));
    Area a;
    const uint8_t *p = b.config.data() + at.offset;
    a.map.assign(p, p + app::kRomMapSize);
    a.data.assign(p + app::kRomMapSize + 8, p + at.size);
    return a;
}

TEST_F(MkappPictures, DepthsCodingsAndTheFrameTable) {
    // White, black (transparent where keyed: alpha 0), red.
    const std::string file = png("p", 3, 1, {0xFFFFFFFF, 0x00000000, 0xFF0000FF});
    const std::string desc = R"({"pictures": {
        "d16": {"png": ")" + file +
                             R"("},
        "d8": {"png": ")" + file +
                             R"(", "depth": 8},
        "d4": {"png": ")" + file +
                             R"(", "depth": 4},
        "d1": {"png": ")" + file +
                             R"(", "depth": 1},
        "runs": {"png": ")" + file +
                             R"(", "coding": 2, "depth": 8},
        "keyed": {"png": ")" +
                             file + R"(", "transparent": "0xF81F"}},
      "kesta_pgm": {"screens": {"pages": [{"screen": 1, "objects": [
        {"type": "BMP", "rect": [0, 0, 2, 0], "pictures": ["d16", "keyed"]}]}]}}})";
    appbuild::Built b;
    std::string error;
    ASSERT_TRUE(appbuild::build_text(desc, "", &b, &error)) << error;
    const Area a = bitmaps(b);
    EXPECT_EQ(le32(a.map.data() + 516), a.data.size() + 8) << "the area's whole size";
    EXPECT_EQ(le32(a.map.data() + 4), a.data.size() + 8) << "all in slot 0";
    // Pictures in name order, each behind its prefix (coding, 0, coded length).
    struct Expect {
        uint8_t coding;
        std::vector<uint8_t> bytes;
    } expect[] = {
        {0, {0x00}},                               // d1: white set, black and red clear
        {0, {0x00, 0x00, 0xFF, 0xFF, 0x00, 0xF8}}, // d16
        {0, {0xFC}},                               // d4: white 15, black 0, then red 12
        {0, {0xFF, 0x00, 0xE0}},                   // d8: RRRGGGBB
        {0, {0xFF, 0xFF, 0x1F, 0xF8, 0x00, 0xF8}}, // keyed: black is see-through
        {2, {0x02, 0xFF, 0x00, 0xE0, 0xFF}},       // runs: 3 literals, the end
    };
    expect[0].bytes = {0x80};
    expect[1].bytes = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0xF8};
    expect[2].bytes = {0xF0, 0xC0};
    size_t at = 0;
    std::vector<uint32_t> offsets;
    for (const Expect &e : expect) {
        ASSERT_LE(at + 6 + e.bytes.size(), a.data.size());
        EXPECT_EQ(a.data[at], e.coding) << at;
        EXPECT_EQ(le32(a.data.data() + at + 2), e.bytes.size()) << at;
        EXPECT_EQ(std::vector<uint8_t>(a.data.begin() + long(at + 6),
                                       a.data.begin() + long(at + 6 + e.bytes.size())),
                  e.bytes)
            << at;
        offsets.push_back(uint32_t(at + 6));
        at += 6 + e.bytes.size();
    }
    EXPECT_EQ(at, a.data.size());
    // The bitmap: two frames of 8-byte entries (one is keyed), 16 bits a pixel.
    appbuild::Placed pgm;
    ASSERT_TRUE(appbuild::find_part(b.manifest, "kesta_pgm", &pgm));
    // The record: its type word, rectangle and own length.
    const uint8_t *r = nullptr;
    for (size_t i = 0; i + 58 <= pgm.size; ++i) {
        const uint8_t *p = b.config.data() + pgm.offset + i;
        if (le16(p) == 8 && le16(p + 14) == 2 && le16(p + 30) == 58) r = p;
    }
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[rec::bmp::kFrames], 2);
    EXPECT_EQ(r[rec::bmp::kBitsPerPixel], 16);
    EXPECT_EQ(r[rec::bmp::kRowBytes], 6);
    EXPECT_EQ(le32(r + 42), offsets[1]);
    EXPECT_EQ(le16(r + 46), 0xFFFF);
    EXPECT_EQ(le16(r + 48), 0);
    EXPECT_EQ(le32(r + 50), offsets[4]);
    EXPECT_EQ(le16(r + 54), 0xF81F);
    EXPECT_EQ(le16(r + 56), 1);
}

// The record of type `type` whose own length is `length`.
const uint8_t *record(const appbuild::Built &b, int type, int length) {
    appbuild::Placed pgm;
    if (!appbuild::find_part(b.manifest, "kesta_pgm", &pgm)) return nullptr;
    for (size_t i = 0; i + size_t(length) <= pgm.size; ++i) {
        const uint8_t *p = b.config.data() + pgm.offset + i;
        if (le16(p) == type && (le32(p + 2) & 0x1000) && le16(p + 30) == length) return p;
    }
    return nullptr;
}

TEST_F(MkappPictures, DialsShapesLabelsAndAngles) {
    const std::string file = png("g", 2, 2, {0xFF, 0xFF, 0xFF, 0xFF});
    const std::string desc = R"({"pictures": {"g": {"png": ")" + file +
                             R"(", "transparent": "0xF81F"}},
      "kesta_pgm": {"screens": {"pages": [{"screen": 1, "objects": [
        {"type": "METER", "rect": [0, 0, 1, 1], "dial": {"picture": "g"}},
        {"type": "ROT", "rect": [0, 0, 1, 1], "shape": 2,
         "dial": {"picture": "g", "kind": 2, "counter": true, "counter_colour": "0x07E0"},
         "fields": {"start_angle": 1.5, "end_angle": -0.25, "length_register": "%R3"}},
        {"type": "ROT", "rect": [0, 0, 1, 1], "shape": 1, "fields": {"length": 80}},
        {"type": "SELCT", "rect": [0, 0, 1, 1], "labels": ["Off", "Low", "High"]}]}]}}})";
    appbuild::Built b;
    std::string error;
    ASSERT_TRUE(appbuild::build_text(desc, "", &b, &error)) << error;
    // The meter: its 20-byte picture extension after its 56 bytes.
    const uint8_t *m = record(b, 9, 76);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(le16(m + 56 + rec::meter::kExtPresent), 1);
    EXPECT_EQ(le16(m + 56 + rec::meter::kExtTransparent), 0xF81F);
    EXPECT_EQ(m[56 + rec::meter::kExtDepth], 16);
    EXPECT_EQ(le32(m + 56 + rec::meter::kExtPicture), 6u); // behind the first prefix
    // The pointer: the 56-byte dial extension after its 68 bytes.
    const uint8_t *p = record(b, 24, 124);
    ASSERT_NE(p, nullptr);
    const uint8_t *x = p + 68;
    EXPECT_EQ(le16(x + rec::rot::kDialKind), 2);
    EXPECT_EQ(le16(x + rec::rot::kDialCounter), 1);
    EXPECT_EQ(le16(x + rec::rot::kDialCounterColour), 0x07E0);
    EXPECT_EQ(le32(x + rec::rot::kDialPicture), 6u);
    EXPECT_EQ(x[rec::rot::kDialShape], 2);
    EXPECT_EQ(le32(p + rec::rot::kStart), 0x3FC00000u); // 1.5f
    EXPECT_EQ(le32(p + rec::rot::kEnd), 0xBE800000u);   // -0.25f
    EXPECT_EQ(le32(p + rec::rot::kPercent), reg::kRefR + 32u);
    // Without a dial the shape stands 8 bytes from the end.
    const uint8_t *q = record(b, 24, 76);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q[68], 1);
    EXPECT_EQ(le32(q + rec::rot::kPercent), 80u);
    // The selector: N, the first label in its record, the others after it.
    const uint8_t *s = record(b, 11, 60);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[rec::selct::kPositions], 3);
    EXPECT_NE(le32(s + 48), le32(s + 52));
    EXPECT_NE(le32(s + 52), le32(s + 56));
}

TEST_F(MkappPictures, MistakesAreRefused) {
    const std::string file = png("q", 2, 2, {0xFFFFFFFF, 0xFF, 0xFF, 0xFF});
    const std::string pic = R"({"a": {"png": ")" + file + R"("}})";
    auto bmp = [](const std::string &type, const std::string &names) {
        return R"(, "kesta_pgm": {"screens": {"pages": [{"screen": 1, "objects": [{"type": ")" +
               type + R"(", "pictures": )" + names + "}]}]}}";
    };
    struct Case {
        std::string desc, message;
    } cases[] = {
        {R"({"pictures": )" + pic + bmp("BMP", R"(["b"])") + "}",
         "objects[0].pictures: names no picture"},
        {R"({"pictures": )" + pic + bmp("PAGE", R"(["a"])") + "}",
         "only a bitmap (type 8) has a frame table"},
        {R"({"pictures": )" + pic + bmp("BMP", "[]") + "}", "a list of 1 to 255 picture names"},
        {R"({"pictures": )" + pic + R"(, "bitmaps": "empty"})", "give no \"bitmaps\""},
        {R"({"pictures": )" + pic + R"(, "kesta_pgm": {"screens": {"pages": [{"screen": 1, )" +
             R"("objects": [{"type": "TEXT", "dial": {"picture": "a"}}]}]}}})",
         "only meters (METER) and pointers (ROT) have a dial"},
        {R"({"pictures": )" + pic + R"(, "kesta_pgm": {"screens": {"pages": [{"screen": 1, )" +
             R"("objects": [{"type": "METER", "dial": {"picture": "b"}}]}]}}})",
         "dial.picture: names no picture"},
        {std::string(R"({"kesta_pgm": {"screens": {"pages": [{"screen": 1, )") +
             R"("objects": [{"type": "BAR", "labels": ["x"]}]}]}}})",
         "only a selector (SELCT) has position labels"},
        {R"({"pictures": {"a": {"png": ")" + file + R"(", "depth": 12}}})", "is 16, 8, 4 or 1"},
        {R"({"pictures": {"a": {"png": ")" + file + R"(", "coding": 3}}})",
         "pictures.a.coding: number 3 too large"},
        {R"({"pictures": {"a": {"png": ")" + file + R"(", "depth": 8, "transparent": 1}}})",
         "a transparent colour needs depth 16"},
        {R"({"pictures": {"a": {"png": "/nonexistent.png"}}})", "cannot read the PNG file"},
        {R"({"pictures": {"a": {"png": ")" + root_dir + R"("}}})", "cannot read the PNG file"},
    };
    for (const Case &c : cases) {
        appbuild::Built b;
        std::string error;
        EXPECT_FALSE(appbuild::build_text(c.desc, "", &b, &error)) << c.desc;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.desc << ": " << error;
    }
}

} // namespace
