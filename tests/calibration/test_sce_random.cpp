// Random numbers of the calibration drivers: the minimal standard generator against its
// published check value, the shuffled uniform deviates against values worked out from the plain
// generator, the normal deviates of the polar method, and the Monte Carlo draws.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "calibration/sce_random.h"

namespace {

// The plain generator in 64-bit arithmetic, independent of the factorised form under test.
int64_t lehmer(int64_t x) {
  return x * 16807 % 2147483647;
}

}  // namespace

TEST(SceRandom, MinimalStandardGivesThePublishedTenThousandthValue) {
  int32_t x = 1;
  for (int k = 0; k < 10000; ++k) x = minimal_standard_next(x);
  EXPECT_EQ(x, 1043618065);
  // The factorised step agrees with the 64-bit product near the ends of the range too.
  for (int64_t s : {int64_t{1}, int64_t{127773}, int64_t{2147483646}, int64_t{1043618065}})
    EXPECT_EQ(minimal_standard_next(static_cast<int32_t>(s)), lehmer(s)) << s;
}

TEST(SceRandom, ShuffledDeviatesFollowTheTableFilledFromTheSeed) {
  // Seed 1: forty steps x1..x40; the last 32 fill the table from entry 31 down, so entry k holds
  // x(40 - k), and the first output is entry 0 (x40). A draw steps on to x41, takes entry
  // j = last / 67108864 as its output and puts x41 there.
  std::vector<int64_t> x(200, 0);
  x[0] = 1;
  for (int k = 1; k < 200; ++k) x[k] = lehmer(x[k - 1]);
  int64_t table[32];
  for (int k = 0; k < 32; ++k) table[k] = x[40 - k];
  int64_t last = table[0];
  shuffled_uniform s;
  s.state = -1;
  for (int draw = 1; draw <= 100; ++draw) {
    const int64_t next = x[40 + draw];
    const int j = static_cast<int>(last / 67108864);
    last = table[j];
    table[j] = next;
    const double expected = std::min(4.656612875245797e-10 * static_cast<double>(last), 0.99999988);
    ASSERT_EQ(sce_uniform_random(s), expected) << "draw " << draw;
  }
  // Worked by hand: x40 = 784558821, so the first draw takes entry 784558821 / 67108864 = 11,
  // which holds x29.
  EXPECT_EQ(x[40], 784558821);
  shuffled_uniform first;
  first.state = -1;
  EXPECT_EQ(sce_uniform_random(first), 4.656612875245797e-10 * static_cast<double>(x[29]));
}

TEST(SceRandom, SeedsOfTheSameSizeAndSignGiveTheSameStream) {
  shuffled_uniform a, b, c;
  a.state = -3737;
  b.state = 3737;  // a positive state with an empty table starts from max(-state, 1) = 1
  c.state = -3737;
  std::vector<double> sa, sc;
  for (int k = 0; k < 50; ++k) {
    sa.push_back(sce_uniform_random(a));
    sc.push_back(sce_uniform_random(c));
  }
  EXPECT_EQ(sa, sc);
  for (double u : sa) {
    EXPECT_GT(u, 0.0);
    EXPECT_LT(u, 1.0);
  }
  // A positive state that has not filled its table starts from seed 1.
  shuffled_uniform one;
  one.state = -1;
  EXPECT_EQ(sce_uniform_random(b), sce_uniform_random(one));
}

TEST(SceRandom, PolarNormalsComeInPairsFromTwoUniformsEach) {
  shuffled_uniform s, u;
  s.state = u.state = -42;
  // Worked from the uniform stream: the first pair with 0 < r < 1.
  double a = 0, b = 0, r = 0;
  do {
    a = 2.0 * sce_uniform_random(u) - 1.0;
    b = 2.0 * sce_uniform_random(u) - 1.0;
    r = a * a + b * b;
  } while (r >= 1.0 || r == 0.0);
  const double f = std::sqrt(-2.0 * std::log(r) / r);
  EXPECT_EQ(sce_gauss_random(s), b * f);
  EXPECT_EQ(sce_gauss_random(s), a * f);  // the cached half, with no draw
  EXPECT_EQ(sce_uniform_random(s), sce_uniform_random(u));
  // Moments of many deviates: mean near 0, variance near 1.
  double sum = 0.0, sq = 0.0;
  const int n = 20000;
  for (int k = 0; k < n; ++k) {
    const double g = sce_gauss_random(s);
    sum += g;
    sq += g * g;
  }
  EXPECT_NEAR(sum / n, 0.0, 0.03);
  EXPECT_NEAR(sq / n, 1.0, 0.05);
}

TEST(SceRandom, MonteCarloDrawsAreFifteenBitAndRepeatFromTheirSeed) {
  draw_generator g;
  g.seed(1);
  // The linear congruential recurrence worked by hand: 1 x 1103515245 + 12345 = 1103527590,
  // / 65536 = 16838, mod 32768 = 16838.
  EXPECT_EQ(g.draw(), 16838);
  draw_generator h;
  h.seed(12345);
  draw_generator k;
  k.seed(12345);
  for (int i = 0; i < 1000; ++i) {
    const int v = h.draw();
    EXPECT_EQ(v, k.draw());
    EXPECT_GE(v, 0);
    EXPECT_LE(v, 32767);
  }
}
