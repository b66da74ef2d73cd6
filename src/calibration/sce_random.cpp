// Random numbers of the calibration drivers: the shuffled minimal standard generator that draws
// the SCE-UA population, sub-complexes and mutations, and its normal deviates.
#include "calibration/sce_random.h"

#include <cmath>

namespace {

constexpr int32_t ia = 16807;
constexpr int32_t im = 2147483647;
constexpr int32_t iq = 127773;      // im / ia
constexpr int32_t ir = 2836;        // im % ia
constexpr int32_t ndiv = 67108864;  // 1 + (im - 1) / 32
constexpr double am = 4.656612875245797e-10;
constexpr double rnmx = 0.99999988;

}  // namespace

int32_t minimal_standard_next(int32_t state) {
  const int32_t k = state / iq;
  int32_t next = ia * (state - k * iq) - ir * k;
  if (next < 0) next += im;
  return next;
}

double sce_uniform_random(shuffled_uniform& s) {
  if (s.state <= 0 || s.last == 0) {
    // The seed is max(-state, 1), kept inside the generator's range 1 .. 2^31 - 2.
    int64_t seed = -static_cast<int64_t>(s.state);
    seed %= im;
    s.state = seed < 1 ? 1 : static_cast<int32_t>(seed);
    // Forty steps; the last 32 fill the table from its top entry down.
    for (int j = 39; j >= 0; --j) {
      s.state = minimal_standard_next(s.state);
      if (j < 32) s.table[j] = s.state;
    }
    s.last = s.table[0];
  }
  s.state = minimal_standard_next(s.state);
  const int j = s.last / ndiv;
  s.last = s.table[j];
  s.table[j] = s.state;
  const double u = am * s.last;
  return u > rnmx ? rnmx : u;
}

double sce_gauss_random(shuffled_uniform& s) {
  if (s.has_cached) {
    s.has_cached = false;
    return s.cached;
  }
  double a = 0.0, b = 0.0, r = 0.0;
  do {
    a = 2.0 * sce_uniform_random(s) - 1.0;
    b = 2.0 * sce_uniform_random(s) - 1.0;
    r = a * a + b * b;
  } while (r >= 1.0 || r == 0.0);
  const double f = std::sqrt(-2.0 * std::log(r) / r);
  s.cached = a * f;
  s.has_cached = true;
  return b * f;
}
