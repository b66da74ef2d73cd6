// Tests of the lane math (lane_math-inl.h) on every instruction set the processor runs: the
// depth powers' and the logarithm's error in ulps against a long-double reference over dense
// sweeps (the model's depths 1e-6 to 100 m, the whole range 1e-300 to 1e300, subnormals, both
// sides of every power of two, random bit patterns), every target giving the scalar functions'
// bits (lane_math.h), exact cubes, and lanes the callers mask off.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "framework/core/lane_math.h"
#include "support/vector_target_loop.h"

void lane_math_of(const double* x, double* two_thirds, double* five_thirds, double* log, long n);
void lane_exponentials_of(const double* x, double y, double* exp, double* pow, long n);

namespace {

void vector_powers_of(const double* d, double* two_thirds, double* five_thirds, long n) {
  std::vector<double> log(static_cast<size_t>(n));
  lane_math_of(d, two_thirds, five_thirds, log.data(), n);
}

void vector_powers_of_lanes(const double d[8], double two_thirds[8], double five_thirds[8]) {
  vector_powers_of(d, two_thirds, five_thirds, 8);
}

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The spacing of doubles at |v| (v exact in long double): 2^-1074 among subnormals.
long double ulp_at(long double v) {
  v = fabsl(v);
  if (v < DBL_MIN) return std::ldexp(1.0L, -1074);
  int e = 0;
  frexpl(v, &e);  // v = f 2^e, f in [1/2, 1)
  return ldexpl(1.0L, e - 53);
}

// The error of `got` in ulps of the exact value `exact`; 0 for +inf when the exact value lies
// beyond the largest double, infinite for any other +inf or a NaN.
double ulps(double got, long double exact) {
  if (std::isinf(got)) return got > 0 && exact > DBL_MAX ? 0.0 : HUGE_VAL;
  if (std::isnan(got)) return HUGE_VAL;
  return static_cast<double>(fabsl(got - exact) / ulp_at(exact));
}

struct worst_error {
  double two_thirds = 0.0, two_thirds_at = 0.0;
  double five_thirds = 0.0, five_thirds_at = 0.0;  // normal or overflowing results
  double five_thirds_subnormal = 0.0, five_thirds_subnormal_at = 0.0;
  double log = 0.0, log_at = 0.0;
  long differ_from_scalar = 0;  // results whose bits are not the scalar functions'
  double differ_at = 0.0;
};

// The worst errors of both powers over the depths d. The reference is the long-double cube root
// squared (within a few long-double ulps: below 1/500 of a double's ulp), times d for d^(5/3).
worst_error worst_over(const std::vector<double>& d) {
  const long n = static_cast<long>(d.size());
  std::vector<double> p2(d.size()), p5(d.size()), ln(d.size());
  lane_math_of(d.data(), p2.data(), p5.data(), ln.data(), n);
  worst_error w;
  for (long i = 0; i < n; ++i) {
    if (!same_bits(p2[i], lane_pow_two_thirds(d[i])) ||
        !same_bits(p5[i], lane_pow_five_thirds(d[i])) ||
        (d[i] >= DBL_MIN && !same_bits(ln[i], lane_log(d[i])))) {
      if (w.differ_from_scalar++ == 0) w.differ_at = d[i];
    }
    if (d[i] >= DBL_MIN) {
      const double el = ulps(ln[i], logl(static_cast<long double>(d[i])));
      if (!(el <= w.log)) w.log = el, w.log_at = d[i];
    }
    const long double root = cbrtl(static_cast<long double>(d[i]));
    const long double exact2 = root * root, exact5 = exact2 * d[i];
    const double e2 = ulps(p2[i], exact2), e5 = ulps(p5[i], exact5);
    if (!(e2 <= w.two_thirds)) w.two_thirds = e2, w.two_thirds_at = d[i];
    if (exact5 < DBL_MIN) {
      if (!(e5 <= w.five_thirds_subnormal))
        w.five_thirds_subnormal = e5, w.five_thirds_subnormal_at = d[i];
    } else if (!(e5 <= w.five_thirds)) {
      w.five_thirds = e5, w.five_thirds_at = d[i];
    }
  }
  return w;
}

// Depths spread evenly on a log scale from lo to hi.
std::vector<double> log_sweep(double lo, double hi, long n) {
  std::vector<double> d(static_cast<size_t>(n));
  const double first = std::log(lo), step = (std::log(hi) - first) / static_cast<double>(n - 1);
  for (long i = 0; i < n; ++i) d[static_cast<size_t>(i)] = std::exp(first + step * i);
  d.front() = lo;
  d.back() = hi;
  return d;
}

// Positive finite doubles from random bit patterns (normal and subnormal alike), and random
// subnormals alone.
std::vector<double> random_depths(long n, bool subnormal_only) {
  std::vector<double> d;
  std::uint64_t s = 0x9E3779B97F4A7C15ULL;
  while (static_cast<long>(d.size()) < n) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    const std::uint64_t bits = s & (subnormal_only ? 0x000FFFFFFFFFFFFFULL : 0x7FEFFFFFFFFFFFFFULL);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (v > 0.0) d.push_back(v);
  }
  return d;
}

// Every power of two from 2^-1074 to 2^1023 and the four doubles on either side of it: the split
// of the exponent by three changes there.
std::vector<double> around_powers_of_two() {
  std::vector<double> d;
  for (int e = -1074; e <= 1023; ++e) {
    const double p = std::ldexp(1.0, e);
    double below = p, above = p;
    d.push_back(p);
    for (int i = 0; i < 4; ++i) {
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, HUGE_VAL);
      if (below > 0.0) d.push_back(below);
      if (std::isfinite(above)) d.push_back(above);
    }
  }
  return d;
}

}  // namespace

TEST(LaneMath, OnEveryTargetTheScalarBitsWithinHalfAnUlpOverDenseSweeps) {
  struct sweep {
    const char* name;
    std::vector<double> depths;
  };
  const sweep sweeps[] = {
      {"depths 1e-6 to 100 m", log_sweep(1e-6, 100.0, 3000001)},
      {"1e-300 to 1e300", log_sweep(1e-300, 1e300, 1000001)},
      {"subnormals", random_depths(200000, true)},
      {"both sides of every power of two", around_powers_of_two()},
      {"random positive doubles", random_depths(1000000, false)},
  };
  for_every_vector_target([&](const std::string& target) {
    for (const sweep& s : sweeps) {
      const worst_error w = worst_over(s.depths);
      EXPECT_EQ(w.differ_from_scalar, 0) << s.name << ": first at " << w.differ_at;
      // ln within one ulp (the reference's own error is below 1/2000 of one).
      EXPECT_LE(w.log, 1.0) << s.name << " at " << w.log_at;
      std::printf("[ %-8s ] %-34s ln %.4f ulp;", target.c_str(), s.name, w.log);
      std::printf(" d^(2/3) %.4f ulp at %.17g", w.two_thirds, w.two_thirds_at);
      if (w.five_thirds_at != 0.0)
        std::printf("; d^(5/3) %.4f ulp at %.17g", w.five_thirds, w.five_thirds_at);
      if (w.five_thirds_subnormal_at != 0.0)
        std::printf("; d^(5/3) subnormal %.4f ulp at %.17g", w.five_thirds_subnormal,
                    w.five_thirds_subnormal_at);
      std::printf("\n");
      // The roundings before the last are below 1/1000 ulp; the reference adds below 1/500.
      EXPECT_LE(w.two_thirds, 0.505) << s.name << " at " << w.two_thirds_at;
      EXPECT_LE(w.five_thirds, 0.52) << s.name << " at " << w.five_thirds_at;
      // A subnormal d^(5/3) (d below about 1e-185) is rounded once more.
      EXPECT_LE(w.five_thirds_subnormal, 1.0) << s.name << " at " << w.five_thirds_subnormal_at;
    }
  });
}

TEST(LaneMath, ExactCubesGiveExactPowersOnEveryTarget) {
  for_every_vector_target([&](const std::string&) {
    const double inf = std::numeric_limits<double>::infinity();
    struct exact_case {
      double d, two_thirds, five_thirds;
    };
    const exact_case cases[] = {
        {1.0, 1.0, 1.0},
        {8.0, 4.0, 32.0},
        {0.125, 0.25, 0.03125},
        {27.0, 9.0, 243.0},
        {3.375, 2.25, 7.59375},  // (3/2)^3
        {1.0 / 64.0, 1.0 / 16.0, 1.0 / 1024.0},
        {125.0, 25.0, 3125.0},
        {1000.0, 100.0, 100000.0},
        {27.0 * std::ldexp(1.0, -21), 9.0 * std::ldexp(1.0, -14), 243.0 * std::ldexp(1.0, -35)},
        {std::ldexp(1.0, -633), std::ldexp(1.0, -422), std::ldexp(1.0, -1055)},  // subnormal power
        {std::ldexp(1.0, -1074), std::ldexp(1.0, -716), 0.0},  // the least double; 2^-1790 is 0
        {std::ldexp(1.0, 1023), std::ldexp(1.0, 682), inf},
    };
    std::vector<double> d, p2(std::size(cases)), p5(std::size(cases));
    for (const exact_case& c : cases) d.push_back(c.d);
    vector_powers_of(d.data(), p2.data(), p5.data(), static_cast<long>(d.size()));
    for (size_t i = 0; i < d.size(); ++i) {
      EXPECT_EQ(p2[i], cases[i].two_thirds) << "d^(2/3) of " << cases[i].d;
      EXPECT_EQ(p5[i], cases[i].five_thirds) << "d^(5/3) of " << cases[i].d;
    }
  });
}

TEST(LaneMath, LanesOfDryOrBrokenDepthsLeaveTheOthersAlone) {
  for_every_vector_target([&](const std::string&) {
    // Callers mask off depths <= 0, NaN and infinite ones; the call must still return, and the
    // other lanes must hold their powers.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double d[8] = {0.0, 8.0, -1.0, nan, 27.0, inf, -0.0, 0.125};
    double p2[8], p5[8];
    vector_powers_of_lanes(d, p2, p5);
    EXPECT_EQ(p2[1], 4.0);
    EXPECT_EQ(p5[1], 32.0);
    EXPECT_EQ(p2[4], 9.0);
    EXPECT_EQ(p5[4], 243.0);
    EXPECT_EQ(p2[7], 0.25);
    EXPECT_EQ(p5[7], 0.03125);
  });
}

// e^x over the whole range of arguments whose result is a double (normal and subnormal, both
// ends and random arguments), and x^y = e^(y ln x) for the exponents the soil functions take
// (pore-size indices and their reciprocals, conductivity exponents) over contents and heads from
// subnormal to large: every target gives the scalar functions' bits; e^x within one ulp of the
// long-double reference where it is normal, x^y within (1 + 3 |y ln x|) ulp (the logarithm's
// error and the product's rounding, scaled by |y ln x|, pass into the exponential).
TEST(LaneMath, ExponentialAndPowersOnEveryTargetTheScalarBitsWithinTheirBounds) {
  std::vector<double> args = log_sweep(1e-12, 709.0, 50001);
  const size_t positive = args.size();
  for (size_t i = 0; i < positive; ++i) args.push_back(-args[i]);
  for (const double a : {0.0, -0.0, 1e-300, 0.5 * 0.6931471805599453, -745.0, -744.44, -708.4,
                         709.78, 709.7827128933840})
    args.push_back(a);
  std::uint64_t s = 0x2545F4914F6CDD1DULL;
  for (int i = 0; i < 50000; ++i) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    args.push_back(-745.0 + 1455.0 * static_cast<double>(s >> 11) * 0x1p-53);
  }
  std::vector<double> bases = log_sweep(1e-300, 1e6, 50001);
  for (const double b : {0.0, 1.0, std::ldexp(1.0, -1074), 3e-310, 0.5, 0.9999999999999999})
    bases.push_back(b);
  const double exponents[] = {0.4, 2.5, 3.2, 1.0 / 0.4, 3.0 + 2.0 / 0.4, 1.7, 0.05};
  for_every_vector_target([&](const std::string& target) {
    const long n = static_cast<long>(args.size());
    std::vector<double> e(args.size()), unused(args.size());
    lane_exponentials_of(args.data(), 1.0, e.data(), unused.data(), n);
    double worst = 0.0, worst_at = 0.0;
    long differ = 0;
    for (long i = 0; i < n; ++i) {
      const double x = args[static_cast<size_t>(i)];
      if (!same_bits(e[static_cast<size_t>(i)], lane_exp(x))) ++differ;
      const long double exact = expl(static_cast<long double>(x));
      if (exact < DBL_MIN) {
        // Subnormal results round once more: within one subnormal spacing.
        EXPECT_LE(fabsl(e[static_cast<size_t>(i)] - exact), std::ldexp(1.0L, -1074)) << "e^" << x;
        continue;
      }
      const double err = ulps(e[static_cast<size_t>(i)], exact);
      if (!(err <= worst)) worst = err, worst_at = x;
    }
    EXPECT_EQ(differ, 0);
    EXPECT_LE(worst, 1.0) << "at " << worst_at;
    std::printf("[ %-8s ] e^x %.4f ulp at %.17g\n", target.c_str(), worst, worst_at);
    // The ends and the special arguments.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double special[] = {0.0, -800.0, 800.0, nan, -std::numeric_limits<double>::infinity()};
    double se[5], sp[5];
    lane_exponentials_of(special, 2.0, se, sp, 5);
    EXPECT_EQ(se[0], 1.0);
    EXPECT_EQ(se[1], 0.0);
    EXPECT_EQ(se[2], std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(se[3]));
    EXPECT_EQ(se[4], 0.0);
    const long m = static_cast<long>(bases.size());
    for (const double y : exponents) {
      std::vector<double> unused_e(bases.size()), p(bases.size());
      lane_exponentials_of(bases.data(), y, unused_e.data(), p.data(), m);
      double worst_pow = 0.0, worst_pow_at = 0.0;
      long pow_differ = 0;
      for (long i = 0; i < m; ++i) {
        const double b = bases[static_cast<size_t>(i)];
        const double got = p[static_cast<size_t>(i)];
        if (!same_bits(got, lane_pow_positive(b, y))) ++pow_differ;
        if (b == 0.0) {
          EXPECT_EQ(got, 0.0);
          continue;
        }
        if (b == 1.0) {
          EXPECT_EQ(got, 1.0);
        }
        const long double exact = powl(static_cast<long double>(b), static_cast<long double>(y));
        if (exact < DBL_MIN || exact > DBL_MAX) continue;
        const double allowed = 1.0 + 3.0 * std::fabs(y * std::log(b));
        const double err = ulps(got, exact) / allowed;
        if (!(err <= worst_pow)) worst_pow = err, worst_pow_at = b;
      }
      EXPECT_EQ(pow_differ, 0) << "x^" << y;
      EXPECT_LE(worst_pow, 1.0) << "x^" << y << " at " << worst_pow_at;
    }
  });
}
