// Cell-level physics of overland erosion: viscosity, settling velocity, the composition and median
// of the moving sediment, the six capacity forms, splash and flow detachment. The overland
// sediment step calls them cell by cell; the sediment set-up calls the first two per class.
#include "transport/sediment_kernels.h"

#include <cmath>
#include <initializer_list>

#include "transport/sediment_lanes.h"

namespace {

// Share `amount` of the loose deposit among the classes in proportion to their loose volumes
// (whose total is `loose`) and put it into suspension.
void resuspend_loose(const cell_sediment& cell, double amount, double loose) {
  for (int k = 1; k <= cell.n; ++k) {
    const double moved = amount * cell.vol[k][3] / loose;
    cell.vol[k][3] -= moved;
    cell.vol[k][2] += moved;
    cell.eroded[k] += moved;
    cell.eroded[0] += moved;
  }
}

// Put all of the loose deposit and `soil` of the parent soil (shared by the soil fractions) into
// suspension.
void resuspend_all(const cell_sediment& cell, double soil) {
  for (int k = 1; k <= cell.n; ++k) {
    const double from_soil = soil * cell.fract[k][1];
    const double moved = cell.vol[k][3] + from_soil;
    cell.vol[k][2] += moved;
    cell.vol[k][3] = 0.0;
    cell.vol[k][1] -= from_soil;
    cell.eroded[k] += moved;
    cell.eroded[0] += moved;
  }
}

double slot_total(const cell_sediment& cell, int slot) {
  double sum = 0.0;
  for (int k = 1; k <= cell.n; ++k) sum += cell.vol[k][slot];
  return sum;
}

}  // namespace

double kinematic_viscosity(double temp_c) {
  const double t = temp_c < 0.0 ? 0.0 : temp_c;
  return std::pow(6005.52, 1.6012) * 7.125025025025025e-10 / std::pow(t + 45.28, 1.6012) *
         std::pow(1.0 + t / 6005.52, 1.6012);
}

double settling_velocity(double spec_grav, double diam_mm, double nu) {
  const double d = diam_mm / 1000.0;
  const double submerged = (spec_grav - 1.0) * sed_gravity;
  if (d > 0.0001) {
    const double dstar = std::pow(submerged / (nu * nu), 0.3333333) * d;
    return 8.0 * nu / d * (std::sqrt(1.0 + 0.0139 * dstar * dstar * dstar) - 1.0);
  }
  return submerged * d * d / (18.0 * nu);
}

int moving_composition(const cell_sediment& cell) {
  for (int slot : {2, 3}) {
    const double sum = slot_total(cell, slot);
    if (sum < sed_tiny) continue;
    cell.vol[0][slot] = sum;
    for (int k = 1; k <= cell.n; ++k) cell.fract[k][slot] = cell.vol[k][slot] / sum;
    return slot;
  }
  return 1;
}

namespace {

// The natural logarithm of the median diameter in micrometres (the number median_diameter
// exponentiates) of n classes whose shares share(k) sum to 1: the forms that raise the median to
// a power take exp(power x this), one transcendental call where the median and its power would
// take two.
template <class Share>
double log_median_of(int n, Share share, const sediment_class_data& classes) {
  const double* d = classes.part_diam;
  const double log_1000 = 6.907755278982137;
  double sum = 0.0;
  for (int k = n; k >= 1; --k) {
    const double coarser = sum;  // fraction of the classes coarser than class k
    sum += share(k);
    if (sum < 0.5) continue;
    if (k == n) break;
    const double t = (0.5 - coarser) / (sum - coarser);
    const double step =
        classes.log_step != nullptr ? classes.log_step[k] : std::log(d[k] / d[k + 1]);
    const double base = classes.log_diam != nullptr ? classes.log_diam[k + 1] : std::log(d[k + 1]);
    return log_1000 + (step * t + base);
  }
  const int at = sum >= 0.5 ? n : 1;
  return log_1000 + (classes.log_diam != nullptr ? classes.log_diam[at] : std::log(d[at]));
}

// The same of the cell's moving material, its composition worked out first.
double log_median_um(const cell_sediment& cell, const sediment_class_data& classes) {
  const int slot = moving_composition(cell);
  return log_median_of(
      cell.n, [&](int k) { return cell.fract[k][slot]; }, classes);
}

}  // namespace

double sed_log_median_of_shares(const double* share, long stride,
                                const sediment_class_data& classes) {
  return log_median_of(
      classes.n, [=](int k) { return share[(k - 1) * stride]; }, classes);
}

double sed_log_median_um(const cell_sediment& cell, const sediment_class_data& classes) {
  return log_median_um(cell, classes);
}

double sed_stream_power_of_logs(int method, double log_term, double log_d, double h, double q,
                                double dt, double dx) {
  if (q < sed_tiny || h < sed_tiny) return 0.0;
  const double f = dt * dx / sed_particle_density;  // kg/(m s) to m3 in the step
  // The median enters as a power of itself: taken from its logarithm. 122 um is the switch.
  const bool coarse = log_d >= 4.804021044733257;  // log(122)
  // Form 4 is a rate per unit width like the other forms before their factor: it becomes the
  // volume of the step through the same factor. Its Pe^1.75 and Pe^1.044 of Pe = P^1.5 are
  // P^2.625 and P^1.566. The forms' coefficients carry the division by 10 of their rates.
  double scale, power, median;
  if (method == 3) {
    scale = coarse ? 0.0316227766 : 0.0006025596;
    power = coarse ? 2.59 : 1.52;
    median = coarse ? -0.39 : 0.59;
  } else {
    scale = coarse ? 4.6e-8 : 1.977e-7;
    power = coarse ? 2.625 : 1.566;
    median = coarse ? -0.56 : 0.478;
  }
  return scale * f * std::exp(power * log_term + median * log_d);
}

double sed_stream_power_capacity(int method, double log_term, double h, double q, double dt,
                                 double dx, const cell_sediment& cell,
                                 const sediment_class_data& classes) {
  if (q < sed_tiny || h < sed_tiny || cell.n < 1) return 0.0;
  return sed_stream_power_of_logs(method, log_term, log_median_um(cell, classes), h, q, dt, dx);
}

double median_diameter(const cell_sediment& cell, const sediment_class_data& classes) {
  const int n = cell.n;
  if (n < 1) return 0.0;
  const int slot = moving_composition(cell);
  const double* d = classes.part_diam;
  double sum = 0.0;
  for (int k = n; k >= 1; --k) {
    const double coarser = sum;  // fraction of the classes coarser than class k
    sum += cell.fract[k][slot];
    if (sum < 0.5) continue;
    if (k == n) return 1000.0 * d[n];
    const double t = (0.5 - coarser) / (sum - coarser);
    const double step =
        classes.log_step != nullptr ? classes.log_step[k] : std::log(d[k] / d[k + 1]);
    const double base = classes.log_diam != nullptr ? classes.log_diam[k + 1] : std::log(d[k + 1]);
    return 1000.0 * std::exp(step * t + base);
  }
  return 1000.0 * d[1];
}

double sed_transport_capacity(int method, double slope, double h, double q, double dt, double dx,
                              const cell_sediment& cell, const sediment_class_data& classes,
                              double sed_k) {
  if (q < sed_tiny || h < sed_tiny) return 0.0;
  if (method < 1 || method > 6) return q;
  const double v = q / h;
  const double f = dt * dx / sed_particle_density;  // kg/(m s) to m3 in the step
  switch (method) {
    case 1: {
      if (cell.n < 1) return 0.0;
      const int slot = moving_composition(cell);
      const double stress = 0.05 * v * v * std::pow(h * slope, 1.5) / std::sqrt(sed_gravity);
      double sum = 0.0;
      for (int k = 1; k <= cell.n; ++k) {
        const double s1 = classes.spec_grav[k] - 1.0;
        sum += cell.fract[k][slot] * stress / (s1 * s1 * (classes.part_diam[k] / 1000.0));
      }
      return sed_k * dt * dx * sum;
    }
    case 2:
      return 1.7e8 * std::pow(slope, 1.6667) * std::pow(q, 2.035) * sed_k * f;
    default:
      break;
  }
  if (method == 3 || method == 4)
    return sed_stream_power_capacity(method, sed_log_of_term(sed_water_term(method, slope, h, q)),
                                     h, q, dt, dx, cell, classes);
  const double dmed = median_diameter(cell, classes);
  if (method == 5) {
    const double qc = q * 10000.0;  // cm2/s
    double rate;
    if (dmed < 33.0)
      rate = 6.16595 * std::pow(slope, 1.9) * std::pow(qc, 1.1);
    else if (dmed < 61.0)
      rate = 10.96478 * std::pow(slope, 1.94) * std::pow(qc, 1.19);
    else if (dmed < 122.0)
      rate = 9.332543 * std::pow(slope, 1.77) * std::pow(qc, 1.79);
    else if (dmed < 190.0)
      rate = 64.56542 * std::pow(slope, 2.96) * std::pow(qc, 2.18);
    else
      rate = 20.41738 * std::pow(slope, 2.81) * std::pow(qc, 3.1);
    return rate / 10.0 * f;
  }
  // Form 6: excess shear velocity (cm/s) over a critical one that grows with the grain.
  const double u = std::sqrt(sed_unit_weight * h * slope / 998.2) * 100.0;
  double uc, c, m;
  if (dmed < 33.0) {
    uc = 1.4, c = 0.035, m = 2.88;
  } else if (dmed < 61.0) {
    uc = 1.4, c = 0.052, m = 2.95;
  } else if (dmed < 122.0) {
    uc = 1.45, c = 0.029, m = 3.74;
  } else if (dmed < 190.0) {
    uc = 1.55, c = 0.024, m = 4.14;
  } else {
    uc = 1.8, c = 0.0092, m = 5.06;
  }
  if (!(u > uc)) return 0.0;
  return c * std::pow(u - uc, m) / 10.0 * f;
}

void sediment_class_logs(int n, const double* part_diam, double* log_diam, double* log_step) {
  for (int k = 1; k <= n; ++k) {
    log_diam[k] = std::log(part_diam[k]);
    log_step[k] = k < n ? std::log(part_diam[k] / part_diam[k + 1]) : 0.0;
  }
}

void sed_splash_detach(const cell_sediment& cell, double r_mmh, double h, double dt, double dx,
                       double splash_k, double a, double b, bool channel_cell) {
  if (!(r_mmh > sed_tiny)) return;
  sed_splash_take(cell, sed_splash_volume(r_mmh, h, dt, dx, splash_k, a, b), channel_cell);
}

void sed_splash_take(const cell_sediment& cell, double splash, bool channel_cell) {
  const double loose = slot_total(cell, 3);
  if (loose > sed_tiny && loose > splash) {
    resuspend_loose(cell, splash, loose);
    return;
  }
  if (channel_cell) return;
  resuspend_all(cell, splash - loose);
}

void sed_flow_erode_deposit(const cell_sediment& cell, double slope, double h, double dt, double dx,
                            double coef, double expo, double crit, double cap, bool channel_cell) {
  if (!(h > sed_tiny) || !(slope > sed_tiny)) return;
  const double suspended = slot_total(cell, 2);
  if (!(cap > suspended)) return;
  const double room = 1.0 - suspended / cap;
  const double tau = sed_unit_weight * h * slope;  // Pa
  const double scale = room * dt * dx * dx / sed_particle_density;
  // The first power is the quantity itself (the default exponent): no power to take.
  auto power = [expo](double x) { return expo == 1.0 ? x : std::pow(x, expo); };
  const double shear_power = power(tau);
  const double potential = coef * shear_power * scale;
  // Without a critical shear the soil's excess shear is the shear itself: one power serves both.
  const double soil =
      tau > crit ? coef * (crit == 0.0 ? shear_power : power(tau - crit)) * scale : 0.0;
  const double loose = slot_total(cell, 3);
  if (loose > potential) {
    resuspend_loose(cell, potential, loose);
    return;
  }
  if (channel_cell || !(potential > 0.0)) return;
  resuspend_all(cell, (1.0 - loose / potential) * soil);
}

double lake_settled_fraction(double w, double dt, double area, double volume) {
  if (!(volume > sed_tiny) || !(w > 0.0) || !(area > 0.0)) return 0.0;
  const double cleared = w * dt * area;
  return cleared < volume ? cleared / volume : 1.0;
}
