// The 3-D shade colours of raised and pressed controls and the bevelled
// control shapes drawn with them.
#include "gdi/gradient.h"
#include "gdi/shade_int.h"
#include "gdi/shapes.h"
#include "gdi/util.h"

#include <algorithm>

using shade::Keep;

namespace {

struct Fields {
    int r, g, b; // red 0-31, green 0-63, blue 0-31
};
Fields fields(COLOR c) {
    return {c >> 11, (c >> 5) & 63, c & 31};
}
COLOR pack(int r, int g, int b) {
    return COLOR((r & 31) << 11 | (g & 63) << 5 | (b & 31));
}

// Red and blue doubled, the top five green bits quadrupled, each kept in its
// field.
COLOR brightened(COLOR c) {
    const Fields f = fields(c);
    return pack(std::min(2 * f.r, 31), std::min(4 * (f.g >> 1), 63), std::min(2 * f.b, 31));
}
COLOR halved(COLOR c) {
    const Fields f = fields(c);
    return pack(f.r >> 1, f.g >> 1, f.b >> 1);
}

void hline(DC *dc, int y, int x1, int x2, COLOR c) {
    if (x1 <= x2) GDI_ScanLine(dc, y, x1, x2, c);
}
void vline(DC *dc, int x, int y1, int y2, COLOR c) {
    for (int y = y1; y <= y2; ++y)
        GDI_SetPixel(dc, x, y, c);
}

// A solid thin pen for pixel work, so that no pen style of the caller's
// (one that draws only over the fill colour) changes what is drawn.
void plain_pen(DC *dc) {
    GDI_SetPen(dc, kPenSolid, 1, dc->pen_colour);
}

// One row of a bevelled face between its black end pixels at L and R. The
// first three rows from the top and the bottom are the bevel (light above,
// dark below, the corners mitred); the rows between have three light pixels
// at the left, the face, and three dark pixels at the right.
void bevel_row(DC *dc, int y, int L, int R, bool upper, int i) {
    auto seg = [&](int x1, int x2, COLOR c) {
        hline(dc, y, std::max(x1, L + 1), std::min(x2, R - 1), c);
    };
    GDI_SetPixel(dc, L, y, kShadeBlack);
    GDI_SetPixel(dc, R, y, kShadeBlack);
    if (i < 3) {
        if (upper) {
            seg(L + 1, R - 2 - i, kShadeWhite);
            seg(std::max(R - 1 - i, L + 1), R - 1, kShadeMid);
        } else {
            seg(L + 1, std::min(L + 1 + i, R - 1), kShadeWhite);
            seg(L + 2 + i, R - 1, kShadeMid);
        }
        return;
    }
    seg(L + 1, L + 3, kShadeWhite);
    seg(L + 4, R - 4, kShadeLight);
    seg(R - 3, R - 1, kShadeMid);
}

// Rows from the top and the bottom inward until they meet; ends(i) gives the
// end columns of row pair i.
template <class Ends> void bevelled(DC *dc, int top, int bottom, Ends &&ends) {
    for (int y1 = top, y2 = bottom, i = 0; y1 <= y2; ++y1, --y2, ++i) {
        int L = 0, R = 0;
        ends(i, L, R);
        bevel_row(dc, y1, L, R, true, i);
        if (y2 != y1) bevel_row(dc, y2, L, R, false, i);
    }
}

} // namespace

int UTIL_IsBright(COLOR colour) {
    const Fields f = fields(colour);
    return std::max(f.r, f.g) > 21 ? 1 : 0;
}

COLOR UTIL_InvertIntensity(COLOR colour) {
    const Fields f = fields(colour);
    const int m = std::max({f.g, f.b, f.r});
    if (m < 9) return kShadeLight;
    if (m < 22) return pack(std::min(2 * f.r, 31), std::min(2 * f.g, 31), std::min(2 * f.b, 31));
    return halved(colour);
}

void UTIL_3DShades(int pressed, COLOR colour, COLOR *light, COLOR *dark) {
    const Fields f = fields(colour);
    const int g5 = f.g >> 1, m = std::max({f.r, g5, f.b});
    COLOR hi, lo; // the raised control's light and dark edges
    if (f.r + g5 + f.b >= 84) {
        hi = kShadeLight;
        lo = kShadeMid;
    } else if (m >= 22) {
        hi = kShadeWhite;
        lo = halved(colour);
    } else if (m > 8) {
        hi = brightened(colour);
        lo = kShadeBlack;
    } else {
        hi = kShadeWhite;
        lo = kShadeMid;
    }
    // A pressed control swaps its edges.
    if (light) *light = pressed ? lo : hi;
    if (dark) *dark = pressed ? hi : lo;
}

void UTIL_ShadeRect(DC *dc, const RECT *rect, COLOR light, COLOR dark, int inset) {
    if (!dc || !rect) return;
    Keep keep(dc);
    plain_pen(dc);
    const int d = inset ? 1 : 0;
    const int L = rect->left + d, T = rect->top + d, R = rect->right - 1 - d,
              B = rect->bottom - 1 - d;
    // A frame narrower than the bevel nests only as far as it has room.
    for (int k = 0; k < 3 && L + k <= R - k && T + k <= B - k; ++k) {
        // Light owns the bottom-left corner, dark the top-right one.
        vline(dc, L + k, T + k, B - k, light);
        hline(dc, T + k, L + k, R - k - 1, light);
        vline(dc, R - k, T + k, B - k - 1, dark);
        hline(dc, B - k, L + k + 1, R - k, dark);
    }
}

void UTIL_Button(DC *dc, const RECT *rect, int pressed) {
    if (!dc || !rect) return;
    GDI_Rectangle(dc, rect->left, rect->top, rect->right, rect->bottom);
    COLOR light = 0, dark = 0;
    UTIL_3DShades(pressed, dc->fill_colour, &light, &dark);
    UTIL_ShadeRect(dc, rect, light, dark, 1);
}

void UTIL_3DEtch(DC *dc, const RECT *rect, COLOR light, COLOR dark) {
    if (!dc || !rect) return;
    Keep keep(dc);
    plain_pen(dc);
    const int l = rect->left, t = rect->top, r = rect->right, b = rect->bottom;
    // A dark frame and a light one a pixel further right and down.
    vline(dc, l, t, b - 2, dark);
    hline(dc, t, l, r - 2, dark);
    vline(dc, l + 1, t + 1, b - 3, light);
    hline(dc, t + 1, l + 1, r - 3, light);
    vline(dc, r - 2, t, b - 2, dark);
    hline(dc, b - 2, l, r - 2, dark);
    vline(dc, r - 1, t, b - 1, light);
    hline(dc, b - 1, l, r - 1, light);
}

void UTIL_Bezel(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    plain_pen(dc);
    const int l = rect->left, t = rect->top, r = rect->right, b = rect->bottom;
    if (r <= l || b <= t) return;
    hline(dc, t, l, r - 1, kShadeBlack);
    hline(dc, b - 1, l, r - 1, kShadeBlack);
    bevelled(dc, t + 1, b - 2, [&](int, int &L, int &R) {
        L = l;
        R = r - 1;
    });
}

void UTIL_HexNut(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    plain_pen(dc);
    const int l = rect->left, t = rect->top, r = rect->right, b = rect->bottom;
    if (r <= l || b <= t) return;
    const int c = (r - l) * 29 / 100;
    hline(dc, t, l + c, r - 1 - c, kShadeBlack);
    hline(dc, b - 1, l + c, r - 1 - c, kShadeBlack);
    // The slanted sides: the ends move out a pixel a row while c lasts.
    bevelled(dc, t + 1, b - 2, [&](int i, int &L, int &R) {
        const int out = std::min(i + 1, c);
        L = l + c - out;
        R = r - 1 - c + out;
    });
}

void UTIL_RoundButton(DC *dc, const RECT *rect, int pressed) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const int l = rect->left, t = rect->top, r = rect->right, b = rect->bottom;
    const int q = (r - l) * 7 / 10;
    const COLOR face = keep.fill();
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_Ellipse(dc, l, t, r, b);

    // The highlight: the ellipse in the light shade inside the upper-left
    // square, covered by the face colour of an ellipse moved down and right,
    // which leaves a crescent.
    const RECT clip = dc->clip;
    RECT square{int16_t(std::max<int>(clip.left, l)), int16_t(std::max<int>(clip.top, t)),
                int16_t(std::min<int>(clip.right, l + q - 1)),
                int16_t(std::min<int>(clip.bottom, t + q - 1))};
    if (square.left <= square.right && square.top <= square.bottom) {
        COLOR light = 0;
        UTIL_3DShades(pressed, face, &light, nullptr);
        dc->clip = square;
        dc->fill_colour = light;
        GDI_Ellipse(dc, l, t, r, b);
        GDI_SetPen(dc, kPenNone, 1, 0);
        dc->fill_colour = face;
        GDI_Ellipse(dc, l + 3, t + 3, r + 4, b + 4);
        dc->clip = clip;
    }
    // The outline once more where the lower-right part is visible.
    if (r - q <= clip.right && r - 1 >= clip.left && b - q <= clip.bottom && b - 1 >= clip.top) {
        GDI_SetPen(dc, kPenSolid, 1, 0);
        dc->fill_colour = kColorNone;
        GDI_Ellipse(dc, l, t, r, b);
    }
}

void UTIL_GradButton(DC *dc, int header, int footer, const RECT *rect, int) {
    if (!dc || !rect) return;
    GDI_GradientRect(dc, header, footer, rect->left, rect->top, rect->right, rect->bottom);
}
