// Volume correction for temperature and pressure, and the ladder's flow
// instruction (operand layout in plc/flow.h).
#include "plc/flow.h"
#include "plc/ladder.h"
#include "plc/ladder_fam.h"
#include "plc/ladder_num.h"

#include <cmath>

namespace {

// The standard computes its exponentials from this value of e.
constexpr double kE = 2.718281828459;
// Half the difference of 60 degrees F between the two temperature scales,
// and the IPTS-68 equivalent of 60 degrees F.
constexpr double kHalfDelta60 = 0.006874897735;
constexpr double kDelta60 = 2 * kHalfDelta60;
constexpr double kBaseTempF68 = 60.0068749;

// ITS-90 to IPTS-68: coefficients a1..a8 of the correction polynomial.
constexpr double kA[8] = {-0.148759, -0.267408, 1.080760, 1.269056,
                          -4.089591, -1.871251, 7.438081, -3.536296};

bool is_finite(double v) {
    return LadNum_Finite(v);
}
// NaN fails every range.
bool within(double v, double lo, double hi) {
    return v >= lo && v <= hi;
}

void coefficients(const FlowCommodity &c, double *k0, double *k1, double *k2) {
    if (c.given_alpha) {
        *k0 = 0;
        *k1 = 0;
        *k2 = c.alpha60;
    } else {
        *k0 = c.k0;
        *k1 = c.k1;
        *k2 = c.k2;
    }
}

} // namespace

void Flow_Ipts68(double t, bool fahrenheit, double *celsius, double *fahrenheit_out) {
    double c = fahrenheit ? (t - 32.0) / 1.8 : t;
    double tau = c / 630.0;
    double sum = kA[7];
    for (int i = 6; i >= 0; --i)
        sum = kA[i] + tau * sum;
    double c68 = c - tau * sum;
    *celsius = c68;
    *fahrenheit_out = c68 * 1.8 + 32.0;
}

bool Flow_Factors(double t, double p, double rho60, const FlowCommodity &c, FlowFactors *out) {
    if (!within(t, flow::kTempMin, flow::kTempMax) || !within(p, flow::kPressMin, flow::kPressMax))
        return false;
    double k0, k1, k2;
    coefficients(c, &k0, &k1, &k2);
    // A density of 0 or below has no correction (it would divide by zero).
    if (!(rho60 > 0) || !is_finite(rho60) || !is_finite(k0) || !is_finite(k1) || !is_finite(k2))
        return false;
    double c68, t68;
    Flow_Ipts68(t, true, &c68, &t68);

    // The base density on the IPTS-68 basis.
    double alpha = (k0 / rho60 + k1) / rho60 + k2;
    double a = kHalfDelta60 * alpha;
    // The denominator is alpha x rho^2: zero only with alpha (and so A) zero,
    // when there is nothing to shift.
    double den = k0 + (k1 + k2 * rho60) * rho60;
    double b = den != 0 ? (2 * k0 + k1 * rho60) / den : 0;
    double rho68 = rho60;
    if (a != 0)
        rho68 = rho60 * (1 + (std::pow(kE, a * (1 + 0.8 * a)) - 1) / (1 + a * (1 + 1.6 * a) * b));
    if (!(rho68 > 0) || !is_finite(rho68)) return false;

    double alpha60 = c.given_alpha ? c.alpha60 : (k0 / rho68 + k1) / rho68 + k2;
    double dt = t68 - kBaseTempF68;
    double ctl = std::pow(kE, -alpha60 * dt * (1 + 0.8 * alpha60 * (dt + kDelta60)));
    double fp = std::exp(-1.9947 + 0.00013427 * t68 + (793920.0 + 2326.0 * t68) / (rho68 * rho68));
    // A compressibility that would reach 1 / P gives no factor.
    double squeeze = 1 - 0.00001 * fp * p;
    if (!(squeeze > 0)) return false;
    double cpl = 1 / squeeze;
    FlowFactors f{ctl, fp, cpl, ctl * cpl, alpha60};
    if (!is_finite(f.ctl) || !is_finite(f.fp) || !is_finite(f.cpl) || !is_finite(f.ctpl) ||
        !is_finite(f.alpha60))
        return false;
    *out = f;
    return true;
}

bool Flow_11_1_7_1(double t, double p, double rho_obs, const FlowCommodity &c, double *rho60,
                   FlowFactors *out, int *rounds) {
    if (rounds) *rounds = 0;
    if (!within(t, flow::kTempMin, flow::kTempMax) ||
        !within(p, flow::kPressMin, flow::kPressMax) ||
        !within(rho_obs, flow::kObservedMin, flow::kObservedMax))
        return false;
    double c68, t68;
    Flow_Ipts68(t, true, &c68, &t68);
    const double dt = t68 - kBaseTempF68;
    // Newton's method on rho60 x CTL x CPL = observed density, with the
    // standard's approximations of the derivatives of CTL and CPL.
    double rho = std::fmin(std::fmax(rho_obs, flow::kBaseMin), flow::kBaseMax);
    for (int m = 1; m <= flow::kMaxRounds; ++m) {
        if (rounds) *rounds = m;
        FlowFactors f;
        if (!Flow_Factors(t, p, rho, c, &f)) return false;
        double e = rho_obs / (f.ctl * f.cpl) - rho;
        double dtm = 2 * f.alpha60 * dt * (1 + 1.6 * f.alpha60 * dt);
        double dpm = 2 * f.cpl * p * f.fp * (7.93920 + 0.02326 * t68) / (rho * rho);
        double step = e / (1 + dtm + dpm);
        if (!is_finite(step)) return false;
        double next = rho + step;
        if (std::fabs(step) < flow::kTolerance) {
            // Converged; a root outside the base range is no answer (the
            // search only came to rest at its edge).
            if (!within(next, flow::kBaseMin, flow::kBaseMax)) return false;
            FlowFactors done;
            if (!Flow_Factors(t, p, next, c, &done)) return false;
            *rho60 = next;
            *out = done;
            return true;
        }
        rho = std::fmin(std::fmax(next, flow::kBaseMin), flow::kBaseMax);
    }
    return false;
}

double Flow_Round(double v, int decimals) {
    double k = std::pow(10.0, decimals);
    double x = v * k;
    double f = std::floor(x);
    double frac = (x - f) * 1000;
    // Truncated thousandths; the fraction lies in [0, 1) for finite x.
    if (is_finite(frac) && int(frac) > 500) f += 1;
    return f / k;
}

// ---------------------------------------------------------------------------
// The ladder instruction.

namespace {

// Values in consecutive registers: REALs (4 bytes) or LREALs (8 bytes).
struct Values {
    uint8_t *p = nullptr;
    bool real = false;
    double get(int i) const {
        return real ? double(std::bit_cast<float>(le32(p + 4 * i)))
                    : std::bit_cast<double>(le64(p + 8 * i));
    }
};
// The block of `n` values at an operand; null (the scan stops) when it leaves
// its register area.
Values values_at(uint32_t ref, bool real, int n) {
    return {LadNum_AtWord(ref, uint64_t(n) * (real ? 4 : 8)), real};
}

// Writes `n` results, all or none: false when one of them is not finite in
// the output's type.
bool store(uint32_t ref, bool real, const double *v, int n) {
    for (int i = 0; i < n; ++i)
        if (!is_finite(v[i]) || (real && !LadNum_FiniteF(LadNum_ToFloat(v[i])))) return false;
    Values out = values_at(ref, real, n);
    if (!out.p) return false;
    for (int i = 0; i < n; ++i) {
        if (real)
            put_le32(out.p + 4 * i, std::bit_cast<uint32_t>(float(v[i])));
        else
            put_le64(out.p + 8 * i, std::bit_cast<uint64_t>(v[i]));
    }
    return true;
}

bool low(uint16_t w) {
    return (w & 0xFF) != 0;
}

// Operands of each operation, read whether or not it acts.
struct Operands {
    uint32_t in = 0, out = 0;
    uint16_t w1 = 0, w2 = 0, w3 = 0;
};
bool read_operands(uint16_t op, uint32_t *pc, Operands *o) {
    switch (op) {
    case 0:
        o->in = Lad_WordRef(pc);
        o->w1 = Lad_Word(pc);
        o->w2 = Lad_Word(pc);
        o->out = Lad_WordRef(pc);
        return true;
    case 1:
        o->w1 = Lad_Word(pc);
        o->in = Lad_WordRef(pc);
        o->w2 = Lad_Word(pc);
        o->w3 = Lad_Word(pc);
        o->out = Lad_WordRef(pc);
        return true;
    case 2:
    case 3:
        o->in = Lad_WordRef(pc);
        o->out = Lad_WordRef(pc);
        return true;
    case 4:
    case 5:
        o->in = Lad_WordRef(pc);
        o->w1 = Lad_Word(pc);
        o->w2 = Lad_Word(pc);
        o->out = Lad_WordRef(pc);
        return true;
    case 6:
        o->in = Lad_WordRef(pc);
        o->w1 = Lad_Word(pc);
        o->out = Lad_WordRef(pc);
        return true;
    case 7:
        o->in = Lad_WordRef(pc);
        o->w1 = Lad_Word(pc);
        o->out = Lad_WordRef(pc);
        return true;
    default:
        return false;
    }
}

bool run(uint16_t op, const Operands &o) {
    switch (op) {
    case 0: {
        Values in = values_at(o.in, false, 1);
        if (!in.p) return false;
        double r[2];
        Flow_Ipts68(in.get(0), low(o.w1), &r[0], &r[1]);
        return store(o.out, low(o.w2), r, 2);
    }
    case 1: {
        Values in = values_at(o.in, low(o.w1), 8);
        if (!in.p) return false;
        FlowCommodity c{!low(o.w2), in.get(4), in.get(5), in.get(6), in.get(7)};
        double rho60 = in.get(2), volume = in.get(3);
        FlowFactors f;
        if (!Flow_Factors(in.get(0), in.get(1), rho60, c, &f)) return false;
        double r[7] = {
            f.ctl, f.fp, f.cpl, f.ctpl, rho60 * f.ctpl, volume * double(float(f.ctpl)), f.alpha60};
        return store(o.out, low(o.w3), r, 7);
    }
    case 2:
    case 3: {
        Values in = values_at(o.in, op == 3, 1);
        if (!in.p) return false;
        double r = in.get(0);
        return store(o.out, op == 2, &r, 1);
    }
    case 4:
    case 5: {
        Values in = values_at(o.in, low(o.w1), 2);
        if (!in.p) return false;
        double a = in.get(0), b = in.get(1);
        if (op == 4 && b == 0) return false;
        double r = op == 4 ? a / b : a * b;
        return store(o.out, low(o.w2), &r, 1);
    }
    case 6: {
        Values in = values_at(o.in, false, 7);
        if (!in.p) return false;
        FlowCommodity c{!low(o.w1), in.get(3), in.get(4), in.get(5), in.get(6)};
        double rho60;
        FlowFactors f;
        if (!Flow_11_1_7_1(in.get(0), in.get(1), in.get(2), c, &rho60, &f)) return false;
        double r[6] = {rho60, f.ctl, f.fp, f.cpl, f.ctpl, f.alpha60};
        return store(o.out, false, r, 6);
    }
    default: { // 7
        Values in = values_at(o.in, false, 1);
        if (!in.p) return false;
        double v = in.get(0);
        if (!is_finite(v)) return false;
        double r = Flow_Round(v, int16_t(o.w1));
        return store(o.out, true, &r, 1);
    }
    }
}

} // namespace

uint8_t Flow_Funs(uint32_t *pc, uint8_t power) {
    uint16_t op = Lad_Word(pc);
    Operands o;
    // An operation word beyond the table: its operands are unknown, the power
    // flow drops.
    if (!read_operands(op, pc, &o)) return 0;
    if (lad_fault) return 0;
    // A rung that is off stays off: nothing is computed or written.
    if (!power) return 0;
    return run(op, o) && !lad_fault ? power : 0;
}
