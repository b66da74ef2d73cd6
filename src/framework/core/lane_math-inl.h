// The model's own math for vectors of doubles of any width, written once for every instruction
// set Highway compiles (x86-64 SSE4, AVX2 and AVX-512, 64-bit Arm, and the one- and two-lane
// emulation that serves as the scalar path): the depth powers d^(2/3) and d^(5/3) of Manning's
// law, the natural logarithm of the Green and Ampt solve, and the fused multiply-add they rest
// on. Every operation here rounds as IEEE 754 prescribes whatever the width (add, multiply,
// divide, square root, and a fused multiply-add rounded once), so a lane gives the same bits on
// every processor and at every vector width; the scalar wrappers of lane_math.h are these same
// functions on one lane.
//
// Include after hwy/highway.h (or from a file run through hwy/foreach_target.h): this header is
// compiled once per target.
#if defined(TORVA_LANE_MATH_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef TORVA_LANE_MATH_INL_H_
#undef TORVA_LANE_MATH_INL_H_
#else
#define TORVA_LANE_MATH_INL_H_
#endif

#include <hwy/highway.h>

#include <cmath>
#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace torva_lanes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// True on targets whose multiply-add is one fused operation rounded once.
#undef TORVA_LANES_FUSED
#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL || \
    (HWY_ARCH_ARM_A64 &&                                                             \
     (HWY_TARGET == HWY_NEON || HWY_TARGET == HWY_SVE || HWY_TARGET == HWY_SVE2 ||   \
      HWY_TARGET == HWY_SVE_256 || HWY_TARGET == HWY_SVE2_128))
#define TORVA_LANES_FUSED 1
#else
#define TORVA_LANES_FUSED 0
#endif

// a b + c rounded once, on every target: the processor's fused multiply-add where it has one,
// else the C library's fma lane by lane (exact, slower; only targets without one take it).
template <class D>
HWY_INLINE hn::Vec<D> Fma(D d, hn::Vec<D> a, hn::Vec<D> b, hn::Vec<D> c) {
#if TORVA_LANES_FUSED
  (void)d;
  return hn::MulAdd(a, b, c);
#elif HWY_TARGET == HWY_SCALAR
  return hn::Set(d, std::fma(hn::GetLane(a), hn::GetLane(b), hn::GetLane(c)));
#else
  constexpr size_t kMax = hn::MaxLanes(D());
  HWY_ALIGN double pa[kMax], pb[kMax], pc[kMax];
  hn::Store(a, d, pa);
  hn::Store(b, d, pb);
  hn::Store(c, d, pc);
  const size_t n = hn::Lanes(d);
  for (size_t i = 0; i < n; ++i) pa[i] = std::fma(pa[i], pb[i], pc[i]);
  return hn::Load(d, pa);
#endif
}

// -(a b) + c and a b - c rounded once: the same as Fma with a negated a or c (negation is exact),
// in one instruction where the multiply-add is fused.
template <class D>
HWY_INLINE hn::Vec<D> NegFma(D d, hn::Vec<D> a, hn::Vec<D> b, hn::Vec<D> c) {
#if TORVA_LANES_FUSED
  (void)d;
  return hn::NegMulAdd(a, b, c);
#else
  return Fma(d, hn::Neg(a), b, c);
#endif
}

template <class D>
HWY_INLINE hn::Vec<D> FmaLess(D d, hn::Vec<D> a, hn::Vec<D> b, hn::Vec<D> c) {
#if TORVA_LANES_FUSED
  (void)d;
  return hn::MulSub(a, b, c);
#else
  return Fma(d, a, b, hn::Neg(c));
#endif
}

// 2^n for whole numbers n held in doubles, -1022 <= n <= 1023: built from its bits (exact).
// Adding 1.5 2^52 + 1023 leaves n + 1023, 1 to 2046, in the low twelve bits of the sum, which
// the shift moves into the exponent field (the bits above them fall out).
template <class D>
HWY_INLINE hn::Vec<D> PowerOfTwo(D d, hn::Vec<D> n) {
  const hn::RebindToUnsigned<D> du;
  const hn::Vec<D> magic = hn::Set(d, 0x1.8p52 + 1023.0);
  return hn::BitCast(d, hn::ShiftLeft<52>(hn::BitCast(du, hn::Add(n, magic))));
}

// The exponent field of x less its bias (-1023 to 1024) as a double, exact: the field placed in
// the mantissa of 2^52, less 2^52 + 1023 (no integer conversion, which some targets lack).
template <class D>
HWY_INLINE hn::Vec<D> UnbiasedExponent(D d, hn::Vec<hn::RebindToUnsigned<D>> bits) {
  const hn::RebindToUnsigned<D> du;
  const auto field = hn::And(hn::ShiftRight<52>(bits), hn::Set(du, 0x7FF));
  return hn::Sub(hn::BitCast(d, hn::Or(field, hn::BitCast(du, hn::Set(d, 0x1p52)))),
                 hn::Set(d, 0x1p52 + 1023.0));
}

// x^(2/3) of the reduced depth x = d 2^(-3k) in [1, 8) as hi + lo (|lo| <= ulp(hi) / 2), with
// x and k.
template <class D>
struct ReducedPower {
  hn::Vec<D> hi, lo, x, k;
};

// The way. Split d = m 2^e (m in [1, 2), also for subnormal d) and e = 3k + j (j = 0, 1, 2), so
// that d = x 2^(3k) with x = m 2^j in [1, 8) exactly and d^(2/3) = x^(2/3) 2^(2k). A first
// guess y of x^(-1/3) is a polynomial of degree 4 in m times a quadratic in j through 1,
// 2^(-1/3), 2^(-2/3): relative error below 4.5e-5 (2^-14.4). Then, with a = x y and
// u = 1 - x y^3 (|u| < 1.4e-4), x^(2/3) = x y (1 - u)^(-1/3) and (1 - u)^(-1/3) = 1 + u/3 +
// 2u^2/9 + 14u^3/81 + 35u^4/243 + ... One correction, no Newton iteration.
//
// Error budget, relative to the result (an ulp of a double is 2^-52 to 2^-53 relative):
// - u is formed from a and y^2 split into head and tail by fused multiply-adds (each product is
//   exact as head + tail), then 1 - a b rounded once: |u| < 2^-12.8, so its rounding is below
//   2^-65 and the dropped product of the two tails below 2^-104; u/3 carries a third.
// - The series stops after u^4: the next term, 91u^5/729, is below 2^-67.
// - The correction a (u/3 + ...) + tail(x y) is below 2^-12 of the result, so its own roundings
//   are below 2^-64; the tail of x y is kept in it.
// - Everything before the last addition is thus within about 2^-64 of the exact value, 1/2000
//   ulp, and the last addition rounds once: d^(2/3) is within 0.501 ulp, exact when the result
//   is a double (d = 1, 8, 27, 1/8, ...). Scaling by 2^(2k) is exact: d^(2/3) is never
//   subnormal.
// - d^(5/3) = x^(5/3) 2^(5k) takes x^(2/3) as head + tail and multiplies by x with one fused
//   multiply-add: within about 0.51 ulp again, and one more rounding only when the result is
//   subnormal (d below about 1e-185). Above about 1.3e184 the power overflows to +inf.
// Lanes with d <= 0, NaN or infinite give some value and raise no trap (exceptions stay
// masked); callers mask them off.
template <class D>
HWY_INLINE ReducedPower<D> TwoThirdsOfReduced(D d, hn::Vec<D> depth) {
  using V = hn::Vec<D>;
  const hn::RebindToUnsigned<D> du;
  const V one = hn::Set(d, 1.0);
  // Subnormal depths are first scaled by 2^54 (exact), their exponent lowered to match; a
  // vector without one skips that.
  const auto tiny = hn::Lt(depth, hn::Set(d, 0x1p-1022));
  auto bits = hn::BitCast(du, depth);
  V e;
  if (HWY_UNLIKELY(!hn::AllFalse(d, tiny))) {
    bits = hn::BitCast(du, hn::IfThenElse(tiny, hn::Mul(depth, hn::Set(d, 0x1p54)), depth));
    e = hn::Sub(UnbiasedExponent(d, bits), hn::IfThenElseZero(tiny, hn::Set(d, 54.0)));
  } else {
    e = UnbiasedExponent(d, bits);
  }
  const V m = hn::BitCast(d, hn::Or(hn::And(bits, hn::Set(du, 0x000FFFFFFFFFFFFFULL)),
                                    hn::Set(du, 0x3FF0000000000000ULL)));
  // k = floor((e + 1/2) / 3), j = e - 3k = 0, 1 or 2 (exact: (e + 1/2) / 3 lies at least 1/6
  // from an integer, far beyond its rounding).
  const V k = hn::Floor(Fma(d, e, hn::Set(d, 1.0 / 3.0), hn::Set(d, 0.5 / 3.0)));
  const V j = NegFma(d, hn::Set(d, 3.0), k, e);
  const V x = hn::Mul(m, PowerOfTwo(d, j));
  // First guess of x^(-1/3): m^(-1/3) on [1, 2) by a polynomial fitted at Chebyshev nodes, times
  // 2^(-j/3) by the quadratic through j = 0, 1, 2.
  V p = hn::Set(d, 0.02778280101858424);
  p = Fma(d, p, m, hn::Set(d, -0.21636185469244387));
  p = Fma(d, p, m, hn::Set(d, 0.6846527077322325));
  p = Fma(d, p, m, hn::Set(d, -1.1623973573078166));
  p = Fma(d, p, m, hn::Set(d, 1.6662787377309156));
  const V third_root_of_two_to_j =
      Fma(d, Fma(d, hn::Set(d, 0.021279736489618555), j, hn::Set(d, -0.22757921050551883)), j, one);
  const V y = hn::Mul(p, third_root_of_two_to_j);
  // a + a_lo = x y and b + b_lo = y^2 exactly; u = 1 - x y^3 from them.
  const V a = hn::Mul(x, y);
  const V a_lo = FmaLess(d, x, y, a);
  const V b = hn::Mul(y, y);
  const V b_lo = FmaLess(d, y, y, b);
  const V u = NegFma(d, a_lo, b, NegFma(d, a, b_lo, NegFma(d, a, b, one)));
  // (1 - u)^(-1/3) - 1 through u^4.
  V s = Fma(d, hn::Set(d, 35.0 / 243.0), u, hn::Set(d, 14.0 / 81.0));
  s = Fma(d, s, u, hn::Set(d, 2.0 / 9.0));
  s = Fma(d, s, u, hn::Set(d, 1.0 / 3.0));
  s = hn::Mul(s, u);
  // x^(2/3) = (a + a_lo)(1 + s): the head a, the small rest, one rounding; the rounding's error
  // kept as lo (exact: |a| > |rest|).
  const V rest = Fma(d, a, s, a_lo);
  const V hi = hn::Add(a, rest);
  const V lo = hn::Sub(rest, hn::Sub(hi, a));
  return {hi, lo, x, k};
}

// d^(2/3) of every lane with d finite and > 0 (normal or subnormal), within 0.501 ulp; 1 for
// d = 1. Other lanes give anything.
template <class D>
HWY_INLINE hn::Vec<D> DepthPowTwoThirds(D d, hn::Vec<D> depth) {
  const ReducedPower<D> r = TwoThirdsOfReduced(d, depth);
  return hn::Mul(r.hi, PowerOfTwo(d, hn::Add(r.k, r.k)));
}

// d^(5/3) = d^(2/3) d of the same lanes, within about 0.51 ulp (+inf above about 1.3e184; one
// more rounding where the result is subnormal). Other lanes give anything. The scaling by
// 2^(5k) goes in two factors, each a double: the first product stays normal and exact, the
// second rounds once.
template <class D>
HWY_INLINE hn::Vec<D> DepthPowFiveThirds(D d, hn::Vec<D> depth) {
  const ReducedPower<D> r = TwoThirdsOfReduced(d, depth);
  const hn::Vec<D> x53 = Fma(d, r.hi, r.x, hn::Mul(r.lo, r.x));
  const hn::Vec<D> k5 = hn::Mul(r.k, hn::Set(d, 5.0));
  // Where 2^(5k) is itself a normal double (|k| <= 204: depths within about 2^(+-612)), the one
  // product rounds the same exact value once: the same bits.
  if (HWY_LIKELY(hn::AllTrue(d, hn::Le(hn::Abs(r.k), hn::Set(d, 204.0)))))
    return hn::Mul(x53, PowerOfTwo(d, k5));
  const hn::Vec<D> first = hn::Floor(hn::Mul(k5, hn::Set(d, 0.5)));
  return hn::Mul(hn::Mul(x53, PowerOfTwo(d, first)), PowerOfTwo(d, hn::Sub(k5, first)));
}

// ln(x) of every lane with x normal, finite and > 0, within one ulp. Split x = m 2^k with m in
// [sqrt(1/2), sqrt(2)); with f = m - 1 and s = f / (2 + f), ln(m) = 2 atanh(s) = f - f^2/2 +
// s (f^2/2 + R(s^2)), R an odd series fitted over |s| < 0.1716 (error below 2^-58.45), and
// ln(x) = k ln2_hi + (k ln2_lo + ln(m)), ln2_hi holding few enough bits that k ln2_hi is exact.
// No fused operation: plain products and sums, the same on every target. Other lanes give
// anything.
template <class D>
HWY_INLINE hn::Vec<D> Log(D d, hn::Vec<D> x) {
  using V = hn::Vec<D>;
  const hn::RebindToUnsigned<D> du;
  const auto bits = hn::BitCast(du, x);
  V k = UnbiasedExponent(d, bits);
  V m = hn::BitCast(d, hn::Or(hn::And(bits, hn::Set(du, 0x000FFFFFFFFFFFFFULL)),
                              hn::Set(du, 0x3FF0000000000000ULL)));
  const auto high = hn::Gt(m, hn::Set(d, 1.4142135623730951));
  m = hn::IfThenElse(high, hn::Mul(m, hn::Set(d, 0.5)), m);
  k = hn::IfThenElse(high, hn::Add(k, hn::Set(d, 1.0)), k);
  const V f = hn::Sub(m, hn::Set(d, 1.0));
  const V s = hn::Div(f, hn::Add(hn::Set(d, 2.0), f));
  const V z = hn::Mul(s, s);
  const V w = hn::Mul(z, z);
  const V t1 =
      hn::Mul(w, hn::Add(hn::Set(d, 3.999999999940941908e-01),
                         hn::Mul(w, hn::Add(hn::Set(d, 2.222219843214978396e-01),
                                            hn::Mul(w, hn::Set(d, 1.531383769920937332e-01))))));
  const V t2 = hn::Mul(
      z,
      hn::Add(
          hn::Set(d, 6.666666666666735130e-01),
          hn::Mul(w,
                  hn::Add(hn::Set(d, 2.857142874366239149e-01),
                          hn::Mul(w, hn::Add(hn::Set(d, 1.818357216161805012e-01),
                                             hn::Mul(w, hn::Set(d, 1.479819860511658591e-01))))))));
  const V r = hn::Add(t2, t1);
  const V half_f2 = hn::Mul(hn::Mul(hn::Set(d, 0.5), f), f);
  const V ln2_hi = hn::Set(d, 6.93147180369123816490e-01);
  const V ln2_lo = hn::Set(d, 1.90821492927058770002e-10);
  const V tail = hn::Add(hn::Mul(s, hn::Add(half_f2, r)), hn::Mul(k, ln2_lo));
  return hn::Sub(hn::Mul(k, ln2_hi), hn::Sub(hn::Sub(half_f2, tail), f));
}

// e^x of every lane, within one ulp where the result is a normal double. Split x = k ln2 + r
// with k = round(x / ln2) and |r| <= ln2 / 2, ln2 in two parts (ln2_hi holding few enough bits
// that k ln2_hi is exact, so hi = x - k ln2_hi is exact too); e^r = 1 + r + r c / (2 - c) with
// c = r - r^2 P(r^2), P a fitted series of degree 5 (error below 2^-59), and
// e^x = e^r 2^k. The scaling goes in two factors, each a double: the first product stays normal
// and exact, the second rounds once (subnormal results and overflow to +inf round there).
// Arguments below -746 give 0, above 710 +inf, NaN gives NaN. No fused operation: plain
// products and sums, the same on every target.
template <class D>
HWY_INLINE hn::Vec<D> Exp(D d, hn::Vec<D> x) {
  using V = hn::Vec<D>;
  const V xc = hn::Min(hn::Max(x, hn::Set(d, -746.0)), hn::Set(d, 710.0));
  const V k = hn::Round(hn::Mul(xc, hn::Set(d, 1.44269504088896338700e+00)));
  const V hi = hn::Sub(xc, hn::Mul(k, hn::Set(d, 6.93147180369123816490e-01)));
  const V lo = hn::Mul(k, hn::Set(d, 1.90821492927058770002e-10));
  const V r = hn::Sub(hi, lo);
  const V t = hn::Mul(r, r);
  V p = hn::Set(d, 4.13813679705723846039e-08);
  p = hn::Add(hn::Set(d, -1.65339022054652515390e-06), hn::Mul(t, p));
  p = hn::Add(hn::Set(d, 6.61375632143793436117e-05), hn::Mul(t, p));
  p = hn::Add(hn::Set(d, -2.77777777770155933842e-03), hn::Mul(t, p));
  p = hn::Add(hn::Set(d, 1.66666666666666019037e-01), hn::Mul(t, p));
  const V c = hn::Sub(r, hn::Mul(t, p));
  const V rc = hn::Div(hn::Mul(r, c), hn::Sub(hn::Set(d, 2.0), c));
  const V y = hn::Sub(hn::Set(d, 1.0), hn::Sub(hn::Sub(lo, rc), hi));
  const V first = hn::Floor(hn::Mul(k, hn::Set(d, 0.5)));
  const V e = hn::Mul(hn::Mul(y, PowerOfTwo(d, first)), PowerOfTwo(d, hn::Sub(k, first)));
  return hn::IfThenElse(hn::IsNaN(x), x, e);
}

// x^y for lanes with x finite and >= 0 and y finite and > 0, as e^(y ln x): 0 for x = 0,
// exactly 1 for x = 1, subnormal x scaled into the normal range first. The error grows with
// |y ln x|: within (1 + 3 |y ln x|) ulp. Other lanes give anything.
template <class D>
HWY_INLINE hn::Vec<D> PowPositive(D d, hn::Vec<D> x, hn::Vec<D> y) {
  using V = hn::Vec<D>;
  const auto tiny = hn::Lt(x, hn::Set(d, 0x1p-1022));
  const V scaled = hn::IfThenElse(tiny, hn::Mul(x, hn::Set(d, 0x1p54)), x);
  // ln(2^54) in two parts: 54 ln2_hi is exact, the small part then added.
  const V shift_hi = hn::IfThenElseZero(tiny, hn::Set(d, 54.0 * 6.93147180369123816490e-01));
  const V shift_lo = hn::IfThenElseZero(tiny, hn::Set(d, 54.0 * 1.90821492927058770002e-10));
  const V ln = hn::Sub(hn::Sub(Log(d, scaled), shift_hi), shift_lo);
  const V p = Exp(d, hn::Mul(y, ln));
  return hn::IfThenElseZero(hn::Gt(x, hn::Zero(d)), p);
}

// ln(1 + u) of every lane with 1 + u normal, finite and > 0, to about one ulp of the result
// also where u is small: with w = 1 + u rounded, ln(1 + u) = ln(w) + ln(1 + (1 + u - w) / w)
// and the rounding's error u - (w - 1) is exact (w - 1 is, for w within a factor two of 1), so
// ln(w) + (u - (w - 1)) / w misses only the square of a rounding's relative size.
template <class D>
HWY_INLINE hn::Vec<D> Log1p(D d, hn::Vec<D> u) {
  const hn::Vec<D> w = hn::Add(hn::Set(d, 1.0), u);
  const hn::Vec<D> lost = hn::Sub(u, hn::Sub(w, hn::Set(d, 1.0)));
  return hn::Add(Log(d, w), hn::Div(lost, w));
}

// Loads and stores of the first `count` lanes of a chunk (count may exceed the lane count),
// reading and writing nothing past them; the other lanes load as 0.
template <class D, typename T>
HWY_INLINE hn::Vec<D> LoadFirst(D d, const T* p, int count) {
  const int n = static_cast<int>(hn::Lanes(d));
  if (count >= n) return hn::LoadU(d, p);
  if (count <= 0) return hn::Zero(d);
#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  // The processor's masked loads of 4- and 8-byte lanes read nothing past the lanes set.
  if constexpr (sizeof(T) >= 4)
    return hn::MaskedLoad(hn::FirstN(d, static_cast<size_t>(count)), d, p);
#endif
  HWY_ALIGN T buffer[hn::MaxLanes(D())] = {};
  for (int i = 0; i < count; ++i) buffer[i] = p[i];
  return hn::Load(d, buffer);
}

template <class D, typename T>
HWY_INLINE void StoreFirst(D d, hn::Vec<D> v, T* p, int count) {
  const int n = static_cast<int>(hn::Lanes(d));
  if (count >= n) {
    hn::StoreU(v, d, p);
  } else if (count > 0) {
    hn::BlendedStore(v, hn::FirstN(d, static_cast<size_t>(count)), d, p);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace torva_lanes
HWY_AFTER_NAMESPACE();

#endif  // include guard toggled per target
