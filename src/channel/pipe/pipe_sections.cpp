// Section hydraulics of the pipe network: area, perimeter and top width of circular, arch and
// box pipes, and their critical and normal depths. Called by the network solve for every segment
// and at both ends of every superlink.
#include "channel/pipe/pipe_sections.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double g = 9.81;
constexpr double pi_full = 3.1415926;  // the full-pipe area and perimeter

// Circular segment of a pipe of diameter D at depth 0 <= y < D.
void circular_segment(double D, double y, double& area, double& perimeter, double& top_width) {
  const double r = 0.5 * D;
  const double theta = std::acos((r - y) / r);
  area = r * r * theta - (r - y) * r * std::sin(theta);
  perimeter = theta * D;
  top_width = D * std::sin(theta);
}

// Relative area, hydraulic radius and top width of the arch section at relative depth x.
double arch_area(double x, double D, double W) {
  return (0.450552317 * x * x + 0.850625935 * x - 0.0265118802 - 0.48046422 * x * x * x) * D * W;
}

double manning_flow(int type, double D, double W, double n, double S, double y) {
  double A = 0.0, P = 0.0, T = 0.0;
  superlink_xsec_props(D, y, W, type, A, P, T);
  if (A <= 0.0 || P <= 0.0) return 0.0;
  return A * std::pow(A / P, 2.0 / 3.0) * std::sqrt(S) / n;
}

// The depth in (0, D] at which f rises through 0, by bisection; f(0) <= 0 < f(D) expected.
template <class F>
double bisect_depth(double D, F f) {
  double lo = 0.0, hi = D;
  for (int i = 0; i < 200 && hi - lo > 1e-13 * D; ++i) {
    const double mid = 0.5 * (lo + hi);
    if (f(mid) > 0.0)
      hi = mid;
    else
      lo = mid;
  }
  return 0.5 * (lo + hi);
}

}  // namespace

void superlink_xsec_props(double D, double y, double W, int type, double& area, double& perimeter,
                          double& top_width) {
  switch (type) {
    case pipe_circular:
      if (y < 0.0) {
        area = perimeter = top_width = 0.0;
      } else if (y < D) {
        circular_segment(D, y, area, perimeter, top_width);
      } else {
        area = pi_full * D * D * 0.25;
        perimeter = pi_full * D;
        top_width = 0.0;
      }
      return;
    case pipe_arch: {
      if (y <= 0.0) {
        area = perimeter = top_width = 0.0;
        return;
      }
      const double x = y >= D ? 1.0 : y / D;
      area = arch_area(x, D, W);
      const double R = D * (1.1666329 * x - 0.0382820242 - 1.32389992 * x * x +
                            1.04200851 * x * x * x - 0.526837711 * x * x * x * x);
      perimeter = R > 0.0 ? area / R : 0.0;
      top_width = W * (3.13077957 * x + 0.656758295 - 9.66782176 * x * x + 11.9256017 * x * x * x -
                       5.88560436 * x * x * x * x);
      // Near the invert the fitted polynomials turn negative: no water, no section.
      if (area <= 0.0 || R <= 0.0) area = perimeter = 0.0;
      return;
    }
    case pipe_box:
      if (y < 0.0) {
        area = 0.0;
        perimeter = top_width = W;
      } else if (y < D) {
        area = y * W;
        perimeter = 2.0 * y + W;
        top_width = W;
      } else {
        area = D * W;
        perimeter = 2.0 * D + 2.0 * W;
        top_width = 0.0;
      }
      return;
    default:
      return;
  }
}

double superlink_xsec_area(int type, double D, double W, double y) {
  if (type == pipe_box) return W * y;
  if (type != pipe_circular) return 0.0;
  double A = 0.0, P = 0.0, T = 0.0;
  superlink_xsec_props(D, y, W, type, A, P, T);
  return A;
}

int superlink_crit_calc(int type, double D, double W, double Q, double& yc) {
  Q = std::fabs(Q);
  if (type == pipe_box) {
    yc = std::pow((Q / W) * (Q / W) / g, 0.3333333333333);
    return 0;
  }
  if (type == pipe_arch) {
    double A = 0.0, P = 0.0, T = 0.0;
    superlink_xsec_props(D, D, W, type, A, P, T);
    if (T <= 0.0 || A * A * A / T <= Q * Q / g) {
      yc = D;
      return 0;
    }
    yc = bisect_depth(D, [&](double y) {
      double a = 0.0, p = 0.0, t = 0.0;
      superlink_xsec_props(D, y, W, type, a, p, t);
      return t > 0.0 ? a * a * a / t - Q * Q / g : -Q * Q / g;
    });
    return 0;
  }
  if (type != pipe_circular) return 0;
  // Newton's method on z = r - y, the height of the centre above the water surface.
  const double r = 0.5 * D;
  const double target = Q / std::sqrt(g);
  double z = 0.001;
  for (int step = 0; step < 10000; ++step) {
    const double y = r - z;
    const double A = superlink_xsec_area(type, D, W, y);
    const double T = 2.0 * std::sqrt(r * r - z * z);
    const double f = std::sqrt(A / T) * A - target;
    const double df = -1.5 * std::sqrt(A * T) + 2.0 * z * A * std::sqrt(A) / (T * T * std::sqrt(T));
    double zn = z - f / df;
    if (!(zn >= -r)) zn = 0.001 - r;
    if (zn > r) zn = r - 0.001;
    if (std::fabs(zn - z) <= 1e-8) {
      yc = r - zn;
      return 0;
    }
    z = zn;
  }
  printf("no convergence in culvert critical depth routine\n");
  printf("program terminated.\n");
  return -1;
}

int superlink_norm_calc(int type, double D, double W, double n, double Q, double S, double& yn) {
  Q = std::fabs(Q);
  S = std::fabs(S);
  if (type < 1 || type > 3) return 0;
  const double capacity = manning_flow(type, D, W, n, S, type == pipe_circular ? 0.9381 * D : D);
  if (S <= 0.0 || n <= 0.0 || Q >= capacity) {
    yn = D;
    return 0;
  }
  if (Q <= 0.0) {
    yn = 0.0;
    return 0;
  }
  if (type == pipe_arch) {
    yn = bisect_depth(D, [&](double y) { return manning_flow(type, D, W, n, S, y) - Q; });
    return 0;
  }
  const double k = std::sqrt(S) / n;
  // A circular pipe carries the most a little below its crown: the normal depth is the root
  // below that depth.
  const double top = type == pipe_circular ? 0.9381 * D : D;
  double y = type == pipe_circular ? 0.25 * D : 0.5 * D;
  const int limit = type == pipe_circular ? 1000 : 250;
  for (int step = 0; step <= limit; ++step) {
    double A = 0.0, P = 0.0, T = 0.0;
    superlink_xsec_props(D, y, W, type, A, P, T);
    const double R = A / P;
    // dP/dy: D / sqrt(y (D - y)) for the circle (P = theta D), 2 for the box.
    const double dP = type == pipe_circular ? D / std::sqrt(y * (D - y)) : 2.0;
    const double dR = (T * P - A * dP) / (P * P);
    const double dQ =
        k * (T * std::pow(R, 2.0 / 3.0) + A * (2.0 / 3.0) * std::pow(R, -1.0 / 3.0) * dR);
    const double Qm = k * A * std::pow(R, 2.0 / 3.0);
    double next = y + (Q - Qm) / dQ;
    if (next >= top) next = 0.5 * (y + top);
    if (!(next > 0.0)) next = 0.5 * y;
    if (std::fabs(next - y) <= 1e-8) {
      yn = next;
      return 0;
    }
    y = next;
  }
  if (type == pipe_circular) {
    printf("no convergence in culvert normal depth routine\n");
    printf("program terminated.\n");
  } else {
    printf("WARNING NO CONVERGENCE IN NORMCALC!!!\n");
    printf("AFTER 250 ITERATIONS.  PROGRAM WILL\n");
    printf("FAIL.  CHECK OUTLET SLOPE.  MUST BE\n");
    printf("POSITIVE AND SUBCRITICAL.\n");
  }
  return -1;
}
