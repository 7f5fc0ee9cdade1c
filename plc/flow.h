// Petroleum measurement: volume correction of crude oils, refined products
// and lubricating oils for temperature and pressure after the published
// standard API MPMS Chapter 11.1 (2004), and the ladder instruction around it
// (Flow_Funs in plc/ladder_fam.h).
//
// Units: temperatures in degrees Fahrenheit (ITS-90, as a thermometer reads
// them), pressures in psig, densities in kg/m3.
//
// Ladder operands (opcode 0x17D, then the operation word). R is a register
// operand naming the first register of its values, K a plain program word
// (only its low byte counts where it is a type, unit or commodity word).
// An LREAL takes four registers, a REAL two; a block of values is that many
// values one after the other.
//   0  R in (LREAL t), K fahrenheit, K real_out, R out
//        out: IPTS-68 temperature in degrees Celsius, then in Fahrenheit
//   1  K real_in, R in, K commodity, K real_out, R out
//        in:  t, P, base density, observed volume, alpha60, K0, K1, K2
//        out: CTL, Fp, CPL, CTPL, density at t and P, volume x CTPL, alpha60
//   2  R in (LREAL), R out (REAL)       3  R in (REAL), R out (LREAL)
//   4  R in (a, b), K real_in, K real_out, R out      a / b
//   5  as 4                                           a x b
//   6  R in (LREALs), K commodity, R out (LREALs)     base density from an
//        observed density
//        in:  t, P, observed density, alpha60, K0, K1, K2
//        out: base density, CTL, Fp, CPL, CTPL, alpha60
//   7  R in (LREAL), K decimals (signed), R out (REAL)   rounding
// A commodity byte of 0 uses the given alpha60 (the standard's special
// application); any other value the coefficients K0, K1 and K2.
//
// With the power flow off an operation reads its operands and changes
// nothing; the power flow stays off. A failed operation writes nothing and
// turns the power flow off: an input outside its limits, a search that does
// not converge, and any result that is not a finite number (division by
// zero, overflow, a value beyond the REAL range).
#pragma once
#include <cstdint>

namespace flow {
// Limits of the inputs, tested before computing.
constexpr double kTempMin = -58.0, kTempMax = 302.0;          // degrees F
constexpr double kPressMin = 0.0, kPressMax = 1500.0;         // psig
constexpr double kObservedMin = 470.5, kObservedMax = 1201.8; // kg/m3
// The base densities the search of an observed density moves between.
constexpr double kBaseMin = 610.6, kBaseMax = 1163.5;
constexpr int kMaxRounds = 15;
constexpr double kTolerance = 1e-6;
} // namespace flow

// Coefficients of a commodity: the given alpha60 (per degree F) when
// `given_alpha`, else alpha60 = (K0 / rho + K1) / rho + K2.
struct FlowCommodity {
    bool given_alpha;
    double alpha60, k0, k1, k2;
};

struct FlowFactors {
    double ctl, fp, cpl, ctpl;
    double alpha60; // on the IPTS-68 basis, as used
};

// An ITS-90 temperature (degrees F when `fahrenheit`, else C) on the IPTS-68
// basis, in degrees Celsius and Fahrenheit.
void Flow_Ipts68(double t, bool fahrenheit, double *celsius, double *fahrenheit_out);

// Correction factors of a base density at temperature t and pressure p.
// False when an input lies outside its limits or a factor is not finite.
bool Flow_Factors(double t, double p, double rho60, const FlowCommodity &c, FlowFactors *out);

// Base density from a density observed at t and p: the standard's iteration
// of at most flow::kMaxRounds rounds. False when an input lies outside its
// limits, the search does not converge, or it converges outside the base
// density range. *rounds (when given) receives the rounds it took.
bool Flow_11_1_7_1(double t, double p, double rho_obs, const FlowCommodity &c, double *rho60,
                   FlowFactors *out, int *rounds = nullptr);

// The rounding of operation 7: a fraction above 0.5 of the last decimal
// (judged in thousandths, truncated) rounds up, anything else down.
double Flow_Round(double v, int decimals);
