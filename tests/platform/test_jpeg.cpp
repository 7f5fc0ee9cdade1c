// JPEG decoding: pictures made by cjpeg against djpeg's own decode, limits,
// damaged input and the see-through pixel value.
#include "host/jpegd.h"
#include "platform/jpeg.h"
#include "video_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
};

std::string slurp(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_ppm(const std::string &file, const Picture &p) {
    std::ofstream out(file, std::ios::binary);
    out << "P6\n" << p.w << " " << p.h << "\n255\n";
    out.write(reinterpret_cast<const char *>(p.rgb.data()), std::streamsize(p.rgb.size()));
}

Picture read_ppm(const std::string &file) {
    Picture p;
    std::string data = slurp(file);
    int kind = 0, maxval = 0, used = 0;
    if (std::sscanf(data.c_str(), "P%d %d %d %d%n", &kind, &p.w, &p.h, &maxval, &used) != 4)
        return p;
    const uint8_t *px = reinterpret_cast<const uint8_t *>(data.data()) + used + 1;
    const size_t n = size_t(p.w) * size_t(p.h);
    if (kind == 5) { // grey
        for (size_t i = 0; i < n; ++i)
            p.rgb.insert(p.rgb.end(), {px[i], px[i], px[i]});
    } else {
        p.rgb.assign(px, px + n * 3);
    }
    return p;
}

// A picture with smooth gradients, hard edges and flat areas.
Picture test_picture(int w, int h) {
    Picture p{w, h, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool box = x > w / 3 && x < w / 2 && y > h / 4 && y < h / 2;
            p.rgb.push_back(uint8_t(box ? 250 : x * 255 / (w - 1)));
            p.rgb.push_back(uint8_t(box ? 20 : y * 255 / (h - 1)));
            p.rgb.push_back(uint8_t(((x / 8 + y / 8) & 1) ? 200 : 40));
        }
    return p;
}

Picture flat(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    Picture p{w, h, {}};
    for (int i = 0; i < w * h; ++i)
        p.rgb.insert(p.rgb.end(), {r, g, b});
    return p;
}
} // namespace

class JpegTest : public VideoTest {
protected:
    // Encodes with cjpeg; returns the JPEG and djpeg's decode of it.
    std::string encode(const Picture &p, const std::string &options, Picture *decoded) {
        const std::string ppm = root_dir + "/in.ppm", jpg = root_dir + "/pic.jpg",
                          out = root_dir + "/out.ppm";
        write_ppm(ppm, p);
        EXPECT_EQ(std::system(("cjpeg " + options + " -outfile " + jpg + " " + ppm).c_str()), 0);
        EXPECT_EQ(std::system(("djpeg -ppm -outfile " + out + " " + jpg).c_str()), 0);
        if (decoded) *decoded = read_ppm(out);
        return slurp(jpg);
    }
    static std::vector<uint8_t> bytes(const std::string &s) { return {s.begin(), s.end()}; }
};

TEST_F(JpegTest, DecodesToWithinRgb565RoundingOfDjpeg) {
    for (const char *options :
         {"-quality 90", "-quality 75 -sample 1x1", "-grayscale", "-progressive"}) {
        SCOPED_TRACE(options);
        Picture ref;
        std::vector<uint8_t> jpg = bytes(encode(test_picture(120, 88), options, &ref));
        ASSERT_EQ(ref.w, 120);
        int w = 800, h = 480;
        std::vector<uint8_t> out(800 * 480 * 2);
        ASSERT_EQ(JpegDecompress(out.data(), jpg.data(), uint32_t(jpg.size()), &w, &h, 0), 0);
        ASSERT_EQ(w, 120);
        ASSERT_EQ(h, 88);
        int worst = 0;
        for (int i = 0; i < w * h; ++i) {
            const uint16_t p = uint16_t(out[2 * i] | out[2 * i + 1] << 8);
            const uint8_t *c = &ref.rgb[size_t(i) * 3];
            const int want[3] = {c[0] >> 3, c[1] >> 2, c[2] >> 3};
            const int got[3] = {p >> 11, p >> 5 & 0x3F, p & 0x1F};
            for (int k = 0; k < 3; ++k)
                worst = std::max(worst, std::abs(got[k] - want[k]));
            ASSERT_NE(p, 1) << i;
        }
        EXPECT_LE(worst, 1) << "channels of 5 and 6 bits from djpeg's 8";
    }
}

TEST_F(JpegTest, NoDecodedPixelIsTheSeeThroughValue) {
    Picture ref;
    std::vector<uint8_t> jpg = bytes(encode(flat(16, 16, 0, 0, 12), "-quality 100", &ref));
    int w = 16, h = 16;
    std::vector<uint8_t> out(16 * 16 * 2);
    ASSERT_EQ(JpegDecompress(out.data(), jpg.data(), uint32_t(jpg.size()), &w, &h, 0), 0);
    int twos = 0;
    for (int i = 0; i < 256; ++i) {
        const uint8_t *c = &ref.rgb[size_t(i) * 3];
        const bool one = (c[0] >> 3) == 0 && (c[1] >> 2) == 0 && (c[2] >> 3) == 1;
        const uint16_t p = uint16_t(out[2 * i] | out[2 * i + 1] << 8);
        EXPECT_NE(p, 1);
        if (one) twos += p == 2;
    }
    EXPECT_GT(twos, 200) << "djpeg's blue 8..15 pixels decode as 1 and become 2";
}

TEST_F(JpegTest, LargerPicturesAreScaledDownToFit) {
    std::vector<uint8_t> jpg = bytes(encode(test_picture(130, 70), "-quality 80", nullptr));
    struct Case {
        int w, h;
        int rc, out_w, out_h;
    };
    // clang-format off
    const Case cases[] = {
        {130, 70, 0, 130, 70},
        {200, 69, 0, 65, 35},  // a half fits
        {40, 40, 0, 33, 18},   // a quarter
        {17, 9, 0, 17, 9},     // an eighth
        {16, 100, JPEGD_ERR_TOO_LARGE, 16, 100},
    };
    // clang-format on
    for (const Case &c : cases) {
        int w = c.w, h = c.h;
        std::vector<uint8_t> out(size_t(w) * size_t(h) * 2 + 2, 0xEE);
        EXPECT_EQ(JpegDecompress(out.data(), jpg.data(), uint32_t(jpg.size()), &w, &h, 0), c.rc)
            << c.w << "x" << c.h;
        EXPECT_EQ(w, c.out_w);
        EXPECT_EQ(h, c.out_h);
        EXPECT_EQ(out[out.size() - 1], 0xEE) << "nothing written past the room given";
    }
}

TEST_F(JpegTest, DamagedInputIsRefused) {
    std::string good = encode(test_picture(200, 150), "-quality 80", nullptr);
    struct Case {
        const char *name;
        std::string data;
    };
    const Case cases[] = {
        {"empty", ""},
        {"not a JPEG", "GIF89a this is not a picture at all"},
        {"header cut short", good.substr(0, 40)},
    };
    for (const Case &c : cases) {
        // The input in a buffer of its own exact size: nothing past it is read.
        std::vector<uint8_t> in(c.data.begin(), c.data.end());
        int w = 200, h = 150;
        std::vector<uint8_t> out(200 * 150 * 2);
        EXPECT_NE(JpegDecompress(out.data(),
                                 in.empty() ? reinterpret_cast<uint8_t *>(&w) : in.data(),
                                 uint32_t(in.size()), &w, &h, 0),
                  0)
            << c.name;
    }
    // Data cut in the middle of the picture still decodes what is there.
    std::vector<uint8_t> half(good.begin(), good.begin() + long(good.size() / 2));
    int w = 200, h = 150;
    std::vector<uint8_t> out(200 * 150 * 2);
    EXPECT_EQ(JpegDecompress(out.data(), half.data(), uint32_t(half.size()), &w, &h, 0), 0);
    EXPECT_EQ(JpegDecompress(nullptr, half.data(), uint32_t(half.size()), &w, &h, 0),
              JPEGD_ERR_ARGUMENT);
    w = 0;
    EXPECT_EQ(JpegDecompress(out.data(), half.data(), uint32_t(half.size()), &w, &h, 0),
              JPEGD_ERR_ARGUMENT);
}

TEST_F(JpegTest, DecoderCallsOutOfOrderAreRefused) {
    JpegdObject dec;
    uint32_t size = 0;
    EXPECT_EQ(jpegd_get_file_info(&dec), JPEGD_ERR_NO_DATA);
    EXPECT_EQ(jpegd_query_dec_mem(&dec, &size), JPEGD_ERR_SEQUENCE);
    EXPECT_EQ(jpegd_decoder_init(&dec, &size, 4), JPEGD_ERR_SEQUENCE);
    uint8_t out[4];
    EXPECT_EQ(jpegd_decode_frame(&dec, out, 4), JPEGD_ERR_SEQUENCE);
    EXPECT_EQ(jpegd_register_jpegd_get_new_data(&dec, nullptr), JPEGD_ERR_ARGUMENT);
}

TEST_F(JpegTest, JpegBitmapsUnpackIntoTheWorkingMemory) {
    DC *dc = start(true, "480x272");
    Picture ref;
    std::vector<uint8_t> jpg = bytes(encode(test_picture(40, 30), "-quality 95", &ref));
    DIB d{};
    d.width = 40;
    d.height = 30;
    d.coding = 4;
    d.bits_per_pixel = 16;
    d.bytes_per_row = 80;
    d.data_length = uint32_t(jpg.size());
    d.pixels = jpg.data();
    d.record_bytes = uint32_t(jpg.size());
    VDR_BmpClrMem();
    uint8_t *mem = VDR_BmpGetMem(40 * 30 * 2);
    DIB small = d;
    EXPECT_EQ(VDR_BmpUnpack(&small, mem, 100), jpg.data()) << "no room: left coded";
    EXPECT_EQ(small.coding, 4);
    EXPECT_EQ(VDR_BmpUnpack(&d, mem, 40 * 30 * 2), mem);
    EXPECT_EQ(d.coding, 0);
    EXPECT_EQ(d.pixels, mem);
    VDR_WriteDIB(dc, 100, 100, 40, 30, 0, 0, &d);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const uint8_t *c = &ref.rgb[size_t(y * 40 + x) * 3];
            COLOR p = px(dc, 100 + x, 100 + y);
            ASSERT_LE(std::abs((p >> 11) - (c[0] >> 3)), 1);
            ASSERT_LE(std::abs((p >> 5 & 0x3F) - (c[1] >> 2)), 1);
            ASSERT_LE(std::abs((p & 0x1F) - (c[2] >> 3)), 1);
        }
    // A JPEG that does not decode stays coded.
    std::vector<uint8_t> junk(100, 0x42);
    DIB bad = d;
    bad.coding = 4;
    bad.pixels = junk.data();
    bad.data_length = 100;
    bad.record_bytes = 100;
    EXPECT_EQ(VDR_BmpUnpack(&bad, mem, 40 * 30 * 2), junk.data());
    EXPECT_EQ(bad.coding, 4);
    EXPECT_EQ(VDR_WriteDIB(dc, 0, 0, 40, 30, 0, 0, &bad), 0);
}
