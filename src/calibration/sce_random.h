// Random numbers of the calibration drivers: the minimal standard generator (state times 16807
// modulo 2^31 - 1) behind a 32-entry shuffle table for the uniform deviates of SCE-UA, normal
// deviates by the polar method, and the small 15-bit generator that draws Monte Carlo values.
#pragma once

#include <cstdint>

// One stream of the shuffled minimal standard generator. `state` not above 0 (or `last` 0)
// makes the next draw fill the table again from the seed max(-state, 1).
struct shuffled_uniform {
  int32_t state = 0;        // generator state, 1 .. 2^31 - 2 once running
  int32_t table[32] = {};   // shuffle table
  int32_t last = 0;         // last output taken from the table
  bool has_cached = false;  // the second deviate of the last normal pair is waiting
  double cached = 0.0;      // that deviate
};

// One step of the minimal standard generator (Schrage's factorisation, no overflow): 16807 x
// state modulo 2147483647, for a state in 1 .. 2147483646.
int32_t minimal_standard_next(int32_t state);

// A uniform deviate in (0, 1), at most 0.99999988.
double sce_uniform_random(shuffled_uniform& s);

// A standard normal deviate (pairs by the polar method; the second of a pair is cached).
double sce_gauss_random(shuffled_uniform& s);

// The Monte Carlo draws: a linear congruential generator giving 0 .. 32767 per call
// (next = next x 1103515245 + 12345, value = next / 65536 modulo 32768), seeded like the C
// runtime's srand and the same on every platform.
struct draw_generator {
  uint32_t next = 1;
  void seed(uint32_t s) { next = s; }
  int draw() {
    next = next * 1103515245u + 12345u;
    return static_cast<int>((next / 65536u) % 32768u);
  }
};
