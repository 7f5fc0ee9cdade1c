#!/usr/bin/env python3
"""Writes platform/io_tc_table.cpp: the thermocouple linearisation tables and
cold-junction constants of the analog inputs.

Channel modes 24-31 are the thermocouple types J, R, K, T, S, E, N, B. The
input of a type is its emf at a fixed number of counts per millivolt, set by
the mode's row of the channel mode table (ad5t in io_analog.cpp): 256 counts
per millivolt at shift 15 and converter gain 1, doubled for converter gain 2
(ADC byte bits 0-1) and again for shift 14. The compensated input is 16 bits
with 0x8000 at 0 mV; the table has 513 entries, one every 128 counts.

An entry is the temperature in twentieths of a degree Celsius plus 5600
(5600 = -280 C), found by bisection on the reference function of the type
(ITS-90 thermocouple reference functions, as published in IEC 60584-1).
Inputs beyond the type's range are held at its range limits. Type B's emf is
not monotonic below about 42 C (it dips to -2.6 uV near 21 C): its table
shows 0 mV as 0 C and holds negative inputs at -10 C.

The cold-junction term of a type is its emf at the junction temperature, in
counts of the type's input, as the quadratic the conversion evaluates:
  comp = t * cjy / 65536 + (t * t / 16) / cjysq    (t in 1/40 C)
  comp = (t * t / 64) / cjysq                      (B: no linear term)
fitted by least squares over a junction temperature of 0 to 60 C.

Usage: tools/gen_tc_table.py > platform/io_tc_table.cpp
"""

import math

# Reference functions: emf in mV of temperature t in C, one polynomial per
# temperature range (upper bound inclusive), coefficients c0, c1, ...
REF = {
    "J": [
        (760.0, [0.0, 5.0381187815e-2, 3.0475836930e-5, -8.5681065720e-8, 1.3228195295e-10,
                 -1.7052958337e-13, 2.0948090697e-16, -1.2538395336e-19, 1.5631725697e-23]),
        (1200.0, [2.9645625681e2, -1.4976127786, 3.1787103924e-3, -3.1847686701e-6,
                  1.5720819004e-9, -3.0691369056e-13]),
    ],
    "K": [
        (0.0, [0.0, 3.9450128025e-2, 2.3622373598e-5, -3.2858906784e-7, -4.9904828777e-9,
               -6.7509059173e-11, -5.7410327428e-13, -3.1088872894e-15, -1.0451609365e-17,
               -1.9889266878e-20, -1.6322697486e-23]),
        (1372.0, [-1.7600413686e-2, 3.8921204975e-2, 1.8558770032e-5, -9.9457592874e-8,
                  3.1840945719e-10, -5.6072844889e-13, 5.6075059059e-16, -3.2020720003e-19,
                  9.7151147152e-23, -1.2104721275e-26]),
    ],
    "T": [
        (0.0, [0.0, 3.8748106364e-2, 4.4194434347e-5, 1.1844323105e-7, 2.0032973554e-8,
               9.0138019559e-10, 2.2651156593e-11, 3.6071154205e-13, 3.8493939883e-15,
               2.8213521925e-17, 1.4251594779e-19, 4.8768662286e-22, 1.0795539270e-24,
               1.3945027062e-27, 7.9795153927e-31]),
        (400.0, [0.0, 3.8748106364e-2, 3.3292227880e-5, 2.0618243404e-7, -2.1882256846e-9,
                 1.0996880928e-11, -3.0815758772e-14, 4.5479135290e-17, -2.7512901673e-20]),
    ],
    "E": [
        (0.0, [0.0, 5.8665508708e-2, 4.5410977124e-5, -7.7998048686e-7, -2.5800160843e-8,
               -5.9452583057e-10, -9.3214058667e-12, -1.0287605534e-13, -8.0370123621e-16,
               -4.3979497391e-18, -1.6414776355e-20, -3.9673619516e-23, -5.5827328721e-26,
               -3.4657842013e-29]),
        (1000.0, [0.0, 5.8665508710e-2, 4.5032275582e-5, 2.8908407212e-8, -3.3056896652e-10,
                  6.5024403270e-13, -1.9197495504e-16, -1.2536600497e-18, 2.1489217569e-21,
                  -1.4388041782e-24, 3.5960899481e-28]),
    ],
    "N": [
        (0.0, [0.0, 2.6159105962e-2, 1.0957484228e-5, -9.3841111554e-8, -4.6412039759e-11,
               -2.6303357716e-12, -2.2653438003e-14, -7.6089300791e-17, -9.3419667835e-20]),
        (1300.0, [0.0, 2.5929394601e-2, 1.5710141880e-5, 4.3825627237e-8, -2.5261169794e-10,
                  6.4311819339e-13, -1.0063471519e-15, 9.9745338992e-19, -6.0863245607e-22,
                  2.0849229339e-25, -3.0682196151e-29]),
    ],
    "R": [
        (1064.18, [0.0, 5.28961729765e-3, 1.39166589782e-5, -2.38855693017e-8,
                   3.56916001063e-11, -4.62347666298e-14, 5.00777441034e-17,
                   -3.73105886191e-20, 1.57716482367e-23, -2.81038625251e-27]),
        (1664.5, [2.95157925316, -2.52061251332e-3, 1.59564501865e-5, -7.64085947576e-9,
                  2.05305291024e-12, -2.93359668173e-16]),
        (1768.1, [1.52232118209e2, -2.68819888545e-1, 1.71280280471e-4, -3.45895706453e-8,
                  -9.34633971046e-15]),
    ],
    "S": [
        (1064.18, [0.0, 5.40313308631e-3, 1.25934289740e-5, -2.32477968689e-8,
                   3.22028823036e-11, -3.31465196389e-14, 2.55744251786e-17,
                   -1.25068871393e-20, 2.71443176145e-24]),
        (1664.5, [1.32900444085, 3.34509311344e-3, 6.54805192818e-6, -1.64856259209e-9,
                  1.29989605174e-14]),
        (1768.1, [1.46628232636e2, -2.58430516752e-1, 1.63693574641e-4, -3.30439046987e-8,
                  -9.43223690612e-15]),
    ],
    "B": [
        (630.615, [0.0, -2.4650818346e-4, 5.9040421171e-6, -1.3257931636e-9, 1.5668291901e-12,
                   -1.6944529240e-15, 6.2290347094e-19]),
        (1820.0, [-3.8938168621, 2.8571747470e-2, -8.4885104785e-5, 1.5785280164e-7,
                  -1.6835344864e-10, 1.1109794013e-13, -4.4515431033e-17, 9.8975640821e-21,
                  -9.3791330289e-25]),
    ],
}
# Type K adds a0 exp(a1 (t - a2)^2) above 0 C.
K_EXP = (1.185976e-1, -1.183432e-4, 1.269686e2)

# Range of each type's reference function, and the value its table holds
# below the range.
RANGE = {"J": (-210.0, 1200.0), "K": (-270.0, 1372.0), "T": (-270.0, 400.0),
         "E": (-270.0, 1000.0), "N": (-270.0, 1300.0), "R": (-50.0, 1768.1),
         "S": (-50.0, 1768.1), "B": (0.0, 1820.0)}
HOLD_LOW = {"B": -10.0}

# Channel modes 24-31: type, shift and ADC byte of the mode's ad5t row.
MODES = [("J", 15, 0x0D), ("R", 15, 0x0D), ("K", 15, 0x0D), ("T", 14, 0x0D),
         ("S", 15, 0x0C), ("E", 14, 0x0D), ("N", 14, 0x0D), ("B", 14, 0x0D)]

ENTRIES = 513
STEP = 128  # counts per entry
CJ_FIT = (0.0, 60.0)

# Values of the standard's printed tables (mV), to catch a mistyped coefficient.
CHECK = {
    "J": [(-210, -8.095), (-100, -4.633), (100, 5.269), (500, 27.393), (1000, 57.953),
          (1200, 69.553)],
    "K": [(-270, -6.458), (-100, -3.554), (100, 4.096), (500, 20.644), (1000, 41.276),
          (1372, 54.886)],
    "T": [(-270, -6.258), (-200, -5.603), (-100, -3.379), (100, 4.279), (400, 20.872)],
    "E": [(-270, -9.835), (-100, -5.237), (100, 6.319), (500, 37.005), (1000, 76.373)],
    "N": [(-270, -4.345), (-100, -2.407), (100, 2.774), (500, 16.748), (1300, 47.513)],
    "R": [(-50, -0.226), (100, 0.647), (1000, 10.506), (1200, 13.228), (1700, 20.222),
          (1768, 21.101)],
    "S": [(-50, -0.236), (100, 0.646), (1000, 9.587), (1200, 11.951), (1700, 17.947),
          (1768, 18.693)],
    "B": [(250, 0.291), (500, 1.242), (1000, 4.834), (1820, 13.820)],
}


def emf(tc, t):
    for hi, c in REF[tc]:
        if t <= hi or hi == REF[tc][-1][0]:
            v = sum(ci * t ** i for i, ci in enumerate(c))
            if tc == "K" and t > 0:
                a0, a1, a2 = K_EXP
                v += a0 * math.exp(a1 * (t - a2) ** 2)
            return v


def counts_per_mv(shift, adc):
    return (256 << (15 - shift)) * (1 << (adc & 3))


def temperature(tc, e):
    lo, hi = RANGE[tc]
    if e <= emf(tc, lo):
        return lo if e == emf(tc, lo) else HOLD_LOW.get(tc, lo)
    if e >= emf(tc, hi):
        return hi
    for _ in range(60):
        mid = (lo + hi) / 2
        if emf(tc, mid) < e:
            lo = mid
        else:
            hi = mid
    return (lo + hi) / 2


def table(tc, cpm):
    return [int(math.floor(temperature(tc, (i - 256) * STEP / cpm) * 20 + 0.5)) + 5600
            for i in range(ENTRIES)]


def cold_junction(tc, cpm):
    ts = [CJ_FIT[0] + (CJ_FIT[1] - CJ_FIT[0]) * i / 240 for i in range(241)]
    ys = [emf(tc, t) * cpm for t in ts]
    if tc == "B":  # quadratic term only
        b = sum(y * t * t for y, t in zip(ys, ts)) / sum(t ** 4 for t in ts)
        return 0, round(25 / b)
    s11 = sum(t * t for t in ts)
    s12 = sum(t ** 3 for t in ts)
    s22 = sum(t ** 4 for t in ts)
    r1 = sum(y * t for y, t in zip(ys, ts))
    r2 = sum(y * t * t for y, t in zip(ys, ts))
    det = s11 * s22 - s12 * s12
    a = (r1 * s22 - r2 * s12) / det
    b = (s11 * r2 - s12 * r1) / det
    # counts = a T + b T^2 with T = t / 40
    return round(a * 65536 / 40), round(100 / b)


def main():
    for tc, points in CHECK.items():
        for t, mv in points:
            assert abs(emf(tc, t) - mv) < 0.0015, (tc, t, emf(tc, t), mv)
    print("// Generated by tools/gen_tc_table.py: do not edit.")
    print('#include "platform/io_analog.h"')
    print()
    print('const char kTcTypes[9] = "' + "".join(m[0] for m in MODES) + '";')
    cpms = [counts_per_mv(shift, adc) for _, shift, adc in MODES]
    print("const uint16_t kTcCountsPerMv[8] = {" + ", ".join(str(c) for c in cpms) + "};")
    cj = [cold_junction(tc, cpm) for (tc, _, _), cpm in zip(MODES, cpms)]
    print("const int32_t cjy[8] = {" + ", ".join(str(c[0]) for c in cj) + "};")
    print("const int32_t cjysq[8] = {" + ", ".join(str(c[1]) for c in cj) + "};")
    print()
    print("// clang-format off")
    print("const uint16_t tctbl[8][kTcEntries] = {")
    for (tc, _, _), cpm in zip(MODES, cpms):
        rows = table(tc, cpm)
        print(f"    {{ // {tc}: {cpm} counts per mV")
        for k in range(0, ENTRIES, 12):
            print("        " + " ".join(f"{v}," for v in rows[k:k + 12]))
        print("    },")
    print("};")
    print("// clang-format on")


if __name__ == "__main__":
    main()
