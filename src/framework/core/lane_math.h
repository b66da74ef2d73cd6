// The model's own depth powers and logarithm for single numbers: the lane functions of
// lane_math-inl.h on one lane, so a scalar kernel and every vector target give the same bits for
// the same argument on every processor. The arguments are as there: depths finite and > 0, a
// logarithm's argument normal, finite and > 0 (lane_log falls back to the C library's log for
// any other).
#pragma once

// d^(2/3), within 0.501 ulp.
double lane_pow_two_thirds(double d);
// d^(5/3), within about 0.51 ulp.
double lane_pow_five_thirds(double d);
// ln(x), within one ulp.
double lane_log(double x);
// ln(1 + u), within about one ulp of the result also for small u (u > -1; the C library's
// log1p for any other).
double lane_log1p(double u);
// e^x, within one ulp where the result is a normal double (0 below -746, +inf above 710).
double lane_exp(double x);
// x^y for x finite and >= 0, y finite and > 0, as e^(y ln x): within (1 + 3 |y ln x|) ulp.
double lane_pow_positive(double x, double y);
