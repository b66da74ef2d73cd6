// Culvert hydraulics, called by the link-end flows of the channel routing for each culvert
// element of a hydraulic-structure link: the flow type of the barrel from its headwater,
// tailwater, slope and length, and that type's discharge; the short circular barrel under inlet
// control is solved for its discharge by Brent's method on a critical-depth energy balance.
#include "channel/culverts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"

namespace {

constexpr double two_g = 19.62;                        // m/s2
constexpr double gravity = 9.81;                       // m/s2
constexpr double one_over_two_g = 0.0509683995922528;  // s2/m: 1 / 19.62
constexpr double brent_accuracy = 3.0e-8;              // machine accuracy of the root finder
constexpr int brent_iterations = 100;                  // most iterations of the root finder
constexpr int newton_iterations = 1000;                // most iterations of the critical depth

// Area and hydraulic radius of the full barrel, by shape.
void full_barrel(int shape, double D, double W, double& A, double& R) {
  switch (shape) {
    case culvert_oval:
      A = 0.788 * W * D;
      R = 0.299 * D;
      return;
    case culvert_box:
      A = W * D;
      R = W * D / (2.0 * W + 2.0 * D);
      return;
    default:
      A = 3.1415926 * D * D / 4.0;
      R = D / 4.0;
  }
}

// Discharge of a long mild barrel flowing part full at depth y under the head drop `drop`:
// Manning friction over the barrel plus one velocity head. A depth that wets no perimeter
// passes nothing.
double long_barrel_flow(const culvert_barrel& b, double y, double drop) {
  double A = 0.0, P = 0.0, T = 0.0;
  culv_circ_geometry(b.rise, y, b.span, b.shape, A, P, T);
  if (!(A > 0.0) || !(P > 0.0)) return 0.0;
  const double R = A / P;
  const double n = b.rough_coeff, L = b.length;
  return A * std::sqrt(drop / (n * n * L * L / std::pow(R, 4.0 / 3.0) + one_over_two_g));
}

// Circular segment: flow area, wetted perimeter and top width at depth y (0 < y < D).
void circle_segment(double D, double y, double& A, double& P, double& T) {
  const double r = D / 2.0;
  const double theta = std::acos((r - y) / r);
  A = r * r * theta - (r - y) * r * std::sin(theta);
  P = theta * D;
  T = D * std::sin(theta);
}

}  // namespace

void culv_circ_geometry(double D, double y, double W, int shape, double& A, double& P, double& T) {
  switch (shape) {
    case culvert_circular:
      if (y < 0.0) {
        A = P = T = 0.0;
      } else if (y >= D) {
        A = 3.1415926 * D * D / 4.0;
        P = 3.1415926 * D;
        T = 0.0;
      } else {
        circle_segment(D, y, A, P, T);
      }
      return;
    case culvert_oval: {
      if (y <= 0.0) {
        A = P = T = 0.0;
        return;
      }
      const double e = std::min(y / D, 1.0);
      const double e2 = e * e, e3 = e2 * e, e4 = e3 * e;
      A = (0.450552317 * e2 + 0.850625935 * e - 0.0265118802 - 0.48046422 * e3) * D * W;
      P = A /
          ((1.1666329 * e - 0.0382820242 - 1.32389992 * e2 + 1.04200851 * e3 - 0.526837711 * e4) *
           D);
      T = (3.13077957 * e + 0.656758295 - 9.66782176 * e2 + 11.9256017 * e3 - 5.88560436 * e4) * W;
      return;
    }
    case culvert_box:
      if (y < 0.0) {
        A = 0.0;
        P = W;
        T = W;
      } else if (y >= D) {
        A = D * W;
        P = 2.0 * D + 2.0 * W;
        T = 0.0;
      } else {
        A = y * W;
        P = 2.0 * y + W;
        T = W;
      }
      return;
    default:
      A = P = T = 0.0;
  }
}

double culv_flow_area(int shape, double D, double W, double y) {
  if (shape == culvert_box) return std::max(W * y, 0.0);
  const double r = D / 2.0;
  const double theta = std::acos((r - y) / r);
  return r * r * theta - std::sin(theta) * (r - y) * r;
}

void culv_crit_depth(int shape, double D, double W, double Q, double& yc) {
  if (shape == culvert_box) {
    yc = std::cbrt((Q / W) * (Q / W) / gravity);
    return;
  }
  if (shape != culvert_circular) {
    raise_error(err_arch_culvert_unsupported);
    return;
  }
  // Newton's method on f = A sqrt(A / T) - Q / sqrt(g) in e = D/2 - y, the distance of the
  // surface below the centre: dA/dy = T and dT/dy = 2 e / sqrt(r^2 - e^2).
  const double r = D / 2.0;
  const double target = Q / std::sqrt(gravity);
  const double lowest = 0.001 - r, highest = r - 0.001;
  double e = 0.001;
  for (int it = 1; it <= newton_iterations; ++it) {
    const double half_chord = std::sqrt(r * r - e * e);
    const double theta = std::acos(e / r);
    const double A = r * r * theta - e * half_chord;
    const double T = 2.0 * half_chord;
    const double f = A * std::sqrt(A / T) - target;
    const double dT_dy = 2.0 * e / half_chord;
    const double df_dy = 1.5 * std::sqrt(A / T) * T - 0.5 * std::pow(A / T, 1.5) * dT_dy;
    // y rises as e falls: de = -dy.
    double next = e + f / df_dy;
    next = std::clamp(next, lowest, highest);
    const double step = next - e;
    e = next;
    if (std::fabs(step) <= 1e-8) {
      yc = r - e;
      return;
    }
  }
  raise_error(err_culvert_critical_depth_no_convergence);
}

double culv_energy_residual(int shape, double D, double W, double Cb, double H, double Q) {
  double yc = 0.0;
  culv_crit_depth(shape, D, W, Q, yc);
  const double A = culv_flow_area(culvert_circular, D, W, yc);
  return Q - A * Cb * std::sqrt(two_g) * std::sqrt(std::max(H - yc, 0.0));
}

double zbrent(int shape, double D, double W, double Cb, double H, double x1, double x2, double tol,
              int& iterations) {
  auto f = [&](double q) { return culv_energy_residual(shape, D, W, Cb, H, q); };
  double a = x1, b = x2, c = x2, d = 0.0, e = 0.0;
  double fa = f(a), fb = f(b);
  if (fa * fb > 0.0) {
    printf("Problem in ZBRENT root finder\n");
    printf("Root must be bracketed\n");
    return culvert_failure;
  }
  double fc = fb;
  for (int it = 1; it <= brent_iterations; ++it) {
    iterations = it;
    if ((fb > 0.0 && fc > 0.0) || (fb < 0.0 && fc < 0.0)) {
      c = a;
      fc = fa;
      e = d = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const double tol1 = 2.0 * brent_accuracy * std::fabs(b) + 0.5 * tol;
    const double xm = 0.5 * (c - b);
    if (std::fabs(xm) <= tol1 || fb == 0.0) return b;
    if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
      // Inverse quadratic interpolation, or the secant when only two points are distinct.
      const double s = fb / fa;
      double p = 0.0, q = 0.0;
      if (a == c) {
        p = 2.0 * xm * s;
        q = 1.0 - s;
      } else {
        const double qa = fa / fc, rb = fb / fc;
        p = s * (2.0 * xm * qa * (qa - rb) - (b - a) * (rb - 1.0));
        q = (qa - 1.0) * (rb - 1.0) * (s - 1.0);
      }
      if (p > 0.0) q = -q;
      p = std::fabs(p);
      const double min1 = 3.0 * xm * q - std::fabs(tol1 * q);
      const double min2 = std::fabs(e * q);
      if (2.0 * p < std::min(min1, min2)) {
        e = d;
        d = p / q;
      } else {
        d = xm;
        e = d;
      }
    } else {
      // Bisection.
      d = xm;
      e = d;
    }
    a = b;
    fa = fb;
    b += std::fabs(d) > tol1 ? d : (xm >= 0.0 ? std::fabs(tol1) : -std::fabs(tol1));
    fb = f(b);
  }
  printf("Maximum number of iterations exceeded in ZBRENT\n");
  return culvert_failure;
}

culvert_flow culv_flow(const culvert_barrel& b, int element, double h1, double h2) {
  culvert_flow out;
  const double D = b.rise, W = b.span, n = b.rough_coeff, Lb = b.length;
  out.ref_depth = D;
  out.flow_area = D * D * 3.14 * 0.5;
  if (Lb < 0.0001) {
    printf("Problem in culv_flow (ex_flow_route).  The culvert barrel length\n");
    printf("in culvert number %d is 0.0.  This is not possible. Program terminated.\n", element);
    out.q = culvert_failure;
    return out;
  }
  const double zu = b.upinvert;
  double zd = b.downinvert, S0 = b.slope;
  if (zd < 0.0001)
    zd = zu - Lb * S0;
  else
    S0 = (zu - zd) / Lb;

  // Equal levels count as reverse flow.
  const bool reverse = h2 >= h1;
  const double zi = reverse ? zd : zu;  // inlet invert
  const double zo = reverse ? zu : zd;  // outlet invert
  const double sign = reverse ? -1.0 : 1.0;
  const double S = reverse ? -S0 : S0;
  const double Cd = h1 > h2 ? b.inlet_disch_coeff : b.rev_flow_disch_coeff;
  const double HW = std::max(h1, h2), TW = std::min(h1, h2), drop = HW - TW;

  // A headwater that does not stand above the inlet invert, or stands below the outlet invert,
  // has no water to pass: no flow, rather than the 0/0 of an empty section.
  if (!(HW > zi) || zo > HW) return out;

  const bool steep = S > 0.01;
  const double r = steep ? (HW - zi) / D : (HW - zo) / D;
  double Q = 0.0;
  int type = 0;
  bool full_flow = false;

  if (Lb > 40.0 * D && S < 0.01) {
    // Long mild barrel: friction over its length controls.
    if (r < 1.5) {
      if (D > TW - zo && TW > zo) {
        Q = long_barrel_flow(b, 0.5 * (0.7 * (HW - zi) + (TW - zo)), drop);
        type = 3;
      }
      if (zo + 1e-6 >= TW) {
        Q = long_barrel_flow(b, 0.5 * (HW - zi), drop);
        type = 2;
      }
    } else {
      const double full = 3.14159 * D * D / 4.0;
      const double friction = n * n * Lb * Lb / std::pow(D / 4.0, 4.0 / 3.0) + one_over_two_g;
      if (TW > zo + 0.5 * D) {
        Q = full * std::sqrt(drop / friction);
        type = 4;
      } else {
        Q = full * std::sqrt((HW - (zo + 0.5 * D)) / friction);
        type = 6;
      }
    }
  } else if (r < 1.5) {
    if (0.7 * (HW - zi) + zo > TW) {
      // Inlet control.
      type = steep ? 1 : 2;
      const double h = steep ? HW - zi : HW - zo;
      if (h < 0.01) {
        type = 0;
      } else if (b.shape == culvert_circular) {
        const double Ci = b.inlet_coeff;
        const double Cb = Ci >= 0.01 ? (1.0 - r / 1.5) * Cd + (r / 1.5) * Ci : Cd;
        double estimate = 0.0;
        if (D > h) {
          estimate = culv_flow_area(culvert_circular, D, W, h) * Cb * std::sqrt(two_g) *
                     std::sqrt(h / 3.0);
        } else {
          double A = 0.0, R = 0.0;
          full_barrel(culvert_circular, D, W, A, R);
          estimate = A * Cb * std::sqrt(two_g) * std::sqrt(0.4 * h);
        }
        double yc = 0.0;
        culv_crit_depth(culvert_circular, D, W, estimate, yc);
        out.flow_area = culv_flow_area(culvert_circular, D, W, yc);
        int iterations = 0;
        // A head of a centimetre or so over the invert cannot pass even the finder's lowest
        // discharge (0.0001 m3/s, its tolerance): the barrel passes nothing yet, rather than the
        // run stopping on a root below the bracket.
        if (!(culv_energy_residual(culvert_circular, D, W, Cb, h, 0.0001) > 0.0))
          Q = zbrent(culvert_circular, D, W, Cb, h, 0.0001, estimate, 0.0001, iterations);
        if (Q == culvert_failure) {
          printf("Problem in zbrent (ex_flow_route). Hydraulic short culvert routine \n");
          printf("The flow cannot be determine in culvert number %d\n", element);
          out.q = culvert_failure;
          out.flow_type = type;
          return out;
        }
        if (Q > 0.0) culv_crit_depth(culvert_circular, D, W, Q, yc);
        out.ref_depth = Q > 0.0 ? yc : 0.0;
      } else if (b.shape == culvert_box) {
        const double yc = 2.0 / 3.0 * h;
        out.flow_area = yc * W;
        out.ref_depth = yc;
        Q = std::sqrt(h / 3.0) * yc * W * b.inlet_coeff * std::sqrt(two_g);
      }
      // An oval barrel under inlet control passes no flow.
    } else if (zo + D > TW) {
      // Outlet control, the barrel part full at the tailwater.
      double A = 0.0, P = 0.0, T = 0.0;
      culv_circ_geometry(D, TW - zo, W, b.shape, A, P, T);
      Q = Cd * A * std::sqrt(two_g * drop);
      type = 3;
    } else {
      full_flow = true;
    }
  } else {
    full_flow = true;
  }

  if (full_flow) {
    double A = 0.0, R = 0.0;
    full_barrel(b.shape, D, W, A, R);
    if (r >= 1.0 && TW - zo >= D) {
      // Outlet submerged: the full barrel with its friction and entrance losses.
      const double K = Lb > 15.0 ? 29.0 * Cd * Cd * n * n * Lb / std::pow(R, 4.0 / 3.0) + 1.0 : 1.0;
      Q = Cd * A * std::sqrt(2.0 * gravity * drop / K);
      type = 4;
    } else if (r >= 1.5 && zo + D > TW) {
      // Orifice flow at the inlet, or the barrel flowing full to a free outlet.
      const double qa = Cd * A * std::sqrt(two_g) * std::sqrt(HW - zi);
      const double qb = Cd * A * std::sqrt(two_g * (HW - (zo + D)));
      if (qb > qa) {
        Q = qa;
        type = 5;
      } else {
        Q = qb;
        type = 6;
      }
    } else {
      Q = 0.0;
      type = 0;
    }
  }

  out.q = sign * Q;
  out.flow_type = static_cast<int>(sign) * type;
  return out;
}
