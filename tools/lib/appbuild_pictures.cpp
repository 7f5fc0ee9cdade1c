// The application builder's pictures: PNG files read with libpng, turned
// into the panel's pixels (RGB565, or the 8-bit, 4-bit and one-bit
// palettes), coded (raw, zero-escaped runs, literal/run), and laid out in
// the bitmap area behind their 6-byte prefixes, where objects find them by
// name.
#include "tools/lib/appbuild_pictures.h"
#include "platform/video.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace appbuild::detail {

const std::map<std::string, PictureInfo> *g_pictures = nullptr;

namespace {

using json = nlohmann::json;

constexpr uint32_t kAreaHead = 8; // u32 CRC of the data, u32 data length
constexpr int kMaxSide = 4096;

struct Rgba {
    int width = 0, height = 0;
    std::vector<uint8_t> px; // 4 bytes a pixel
};

Rgba read_png(const std::string &file, const std::string &where) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str()))
        fail(where, "cannot read the PNG file " + file);
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide ||
        image.height > kMaxSide) {
        png_image_free(&image);
        fail(where, "a picture is 1 to " + std::to_string(kMaxSide) + " pixels a side");
    }
    image.format = PNG_FORMAT_RGBA;
    Rgba out;
    out.width = int(image.width);
    out.height = int(image.height);
    out.px.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.px.data(), 0, nullptr)) {
        png_image_free(&image);
        fail(where, "cannot decode the PNG file " + file);
    }
    return out;
}

uint16_t rgb565(const uint8_t *p) {
    return uint16_t((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3);
}

int distance(uint16_t a, uint16_t b) {
    const int dr = (a >> 11) - (b >> 11), dg = ((a >> 5) & 63) - ((b >> 5) & 63),
              db = (a & 31) - (b & 31);
    return 4 * dr * dr + dg * dg + 4 * db * db;
}

// The palette index nearest to `c`.
template <typename F> int nearest(uint16_t c, int n, F colour_of) {
    int best = 0, best_d = 1 << 30;
    for (int i = 0; i < n; ++i) {
        const int d = distance(c, colour_of(i));
        if (d < best_d) {
            best = i;
            best_d = d;
        }
    }
    return best;
}

// The pixels in rows of the panel's layout for the depth.
Bytes pixels(const Rgba &img, int depth, bool keyed, uint16_t key) {
    const int w = img.width, h = img.height;
    const uint32_t row = depth == 16  ? uint32_t(w) * 2
                         : depth == 8 ? uint32_t(w)
                         : depth == 4 ? uint32_t(w + 1) / 2
                                      : uint32_t(w + 7) / 8;
    Bytes out(size_t(row) * size_t(h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t *p = img.px.data() + 4 * (size_t(y) * size_t(w) + size_t(x));
            const uint16_t c = keyed && p[3] < 128 ? key : rgb565(p);
            uint8_t *r = out.data() + size_t(y) * row;
            switch (depth) {
            case 16:
                r[2 * x] = uint8_t(c);
                r[2 * x + 1] = uint8_t(c >> 8);
                break;
            case 8:
                r[x] = uint8_t(nearest(c, 256, [](int i) { return convert8to16(uint8_t(i)); }));
                break;
            case 4: {
                const int i = nearest(c, 16, [](int n) { return convert[n]; });
                r[x / 2] = uint8_t(r[x / 2] | ((x & 1) ? i : i << 4));
                break;
            }
            default:
                // One bit a pixel: bright pixels are set (the foreground).
                if (p[3] >= 128 && p[0] + p[1] + p[2] >= 384) r[x / 8] |= uint8_t(0x80 >> (x & 7));
                break;
            }
        }
    return out;
}

// Zero-escaped runs: 0, n for n zero bytes, 0, 0x80 | n for n 0xFF bytes
// (n 1 to 127); every other byte as it is.
Bytes code_runs(const Bytes &in) {
    Bytes out;
    for (size_t i = 0; i < in.size();) {
        const uint8_t b = in[i];
        size_t n = 1;
        while (i + n < in.size() && in[i + n] == b && n < 127)
            ++n;
        if (b == 0 || (b == 0xFF && n >= 3)) {
            out.push_back(0);
            out.push_back(uint8_t(b ? 0x80 | n : n));
            i += n;
        } else {
            out.push_back(b);
            ++i;
        }
    }
    return out;
}

// Literal/run coding: c < 128 and c + 1 literal bytes; 0x80 | (n - 3) and a
// byte for a run of n (3 to 129); 255 ends.
Bytes code_literal_runs(const Bytes &in) {
    Bytes out;
    size_t lit = 0; // start of the literals not written yet
    auto flush = [&](size_t end) {
        while (lit < end) {
            const size_t k = std::min<size_t>(128, end - lit);
            out.push_back(uint8_t(k - 1));
            out.insert(out.end(), in.begin() + long(lit), in.begin() + long(lit + k));
            lit += k;
        }
    };
    for (size_t i = 0; i < in.size();) {
        size_t n = 1;
        while (i + n < in.size() && in[i + n] == in[i] && n < 129)
            ++n;
        if (n >= 3) {
            flush(i);
            out.push_back(uint8_t(0x80 | (n - 3)));
            out.push_back(in[i]);
            i += n;
            lit = i;
        } else {
            i += n;
        }
    }
    flush(in.size());
    out.push_back(255);
    return out;
}

} // namespace

Bytes pictures_area(const json &p, const std::string &base_dir,
                    std::map<std::string, PictureInfo> *names) {
    if (!p.is_object()) fail("pictures", "expected an object of named pictures");
    Bytes data;
    for (auto it = p.begin(); it != p.end(); ++it) {
        const std::string where = "pictures." + it.key();
        const json &d = it.value();
        if (!d.is_object()) fail(where, "expected {\"png\": file, ...}");
        only_keys(d, where, {"png", "coding", "depth", "transparent"});
        if (!d.contains("png") || !d["png"].is_string()) fail(where, "needs \"png\": a file name");
        std::string file = d["png"].get<std::string>();
        if (!file.empty() && file[0] != '/' && !base_dir.empty()) file = base_dir + "/" + file;
        const uint64_t coding = number_or(d, "coding", 0, where, 2);
        const uint64_t depth = number_or(d, "depth", 16, where, 16);
        if (depth != 16 && depth != 8 && depth != 4 && depth != 1)
            fail(where + ".depth", "is 16, 8, 4 or 1");
        const bool keyed = d.contains("transparent");
        const uint16_t key = uint16_t(colour_or(d, "transparent", 0xFFFF, where));
        if (keyed && depth != 16) fail(where, "a transparent colour needs depth 16");
        const Rgba img = read_png(file, where);
        const Bytes raw = pixels(img, int(depth), keyed, key);
        const Bytes coded = coding == 1   ? code_runs(raw)
                            : coding == 2 ? code_literal_runs(raw)
                                          : raw;
        data.push_back(uint8_t(coding));
        data.push_back(0);
        append_le(data, coded.size(), 4);
        PictureInfo info;
        info.offset = uint32_t(data.size());
        info.width = img.width;
        info.height = img.height;
        info.depth = int(depth);
        info.row_bytes = uint32_t(raw.size() / size_t(img.height));
        info.transparent = keyed;
        info.colour = key;
        data.insert(data.end(), coded.begin(), coded.end());
        (*names)[it.key()] = info;
    }
    Bytes area;
    append_le(area, kAreaHead + data.size(), 4);
    append_le(area, data.size(), 4);
    area.insert(area.end(), data.begin(), data.end());
    return area;
}

} // namespace appbuild::detail
