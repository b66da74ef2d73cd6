// Infiltration kernels: the single-layer, three-layer and redistribution Green and Ampt schemes,
// the exfiltration of a shallow water table and the water contents of the soil transport
// layers; and infiltration_step, the time-loop step that runs them on the infiltration
// schedule and books the infiltrated depths and volumes.
#include "subsurface/infiltration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/core/block_sum.h"
#include "framework/core/error_state.h"
#include "framework/core/lane_math.h"
#include "framework/core/process_info.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "subsurface/green_ampt_wide.h"
#include "subsurface/subsurface_steps.h"

namespace {

// Floor of every denominator of the redistribution formulas.
constexpr double tiny_denominator = 1e-20;

double positive(double x) {
  return x > tiny_denominator ? x : tiny_denominator;
}

double clamp_unit(double x) {
  return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x);
}

bool skipped(int flag, std::span<const int> cells, int c) {
  return flag != 0 && !cells.empty() && cells[c] > 0;
}

// Green and Ampt capillary term of the wetting front: G = (Se^a - Sei^a) Hc / (1 - Sei^a),
// G = Hc when the soil below the front starts saturated.
double front_capillary_term(double sei, double se, double a, double hc) {
  if (sei >= 1.0) return hc;
  const double sei_a = std::pow(sei, a);
  return (std::pow(se, a) - sei_a) * hc / positive(1.0 - sei_a);
}

}  // namespace

double green_ampt_implicit_depth(double G, double K, double dt, double F, double first_guess,
                                 double tolerance) {
  const double supply = K * dt;
  if (!(supply > 0.0)) return F;
  if (!(G > 0.0)) return F + supply;  // no moisture deficit: the soil takes K dt
  // ln((G + x) / (G + F)) taken as ln(1 + u) of the growth u = (x - F) / (G + F) itself: near
  // the root u is small, and the quotient's rounding would cost its logarithm most of its digits.
  const auto residual = [&](double x) {
    return G * lane_log1p((x - F) / (G + F)) + supply - x + F;
  };

  double x = first_guess > F ? first_guess : F + supply;
  double r = residual(x);
  for (int it = 0; it < green_ampt_newton_cap; ++it) {
    if (it > 0 && std::fabs(r) <= tolerance) return x;
    const double slope = G / (G + x) - 1.0;
    if (!(slope < 0.0)) break;
    const double next = x - r / slope;
    if (!std::isfinite(next) || !(next > F)) break;
    // The residual at next is then surely within the tolerance: the next pass would return
    // next, so the logarithm it takes is spared.
    if (green_ampt_step_lands(G, supply, F, x, r, next, tolerance)) return next;
    x = next;
    r = residual(x);
  }
  if (std::isfinite(r) && std::fabs(r) <= tolerance) return x;

  // Bisection between F (residual K dt > 0) and a depth whose residual is negative.
  double lo = F;
  double hi = F + supply;
  for (int k = 0; k < 200 && residual(hi) > 0.0; ++k) hi = F + 2.0 * (hi - F);
  for (int k = 0; k < 200; ++k) {
    const double mid = 0.5 * (lo + hi);
    const double rm = residual(mid);
    if (std::fabs(rm) <= tolerance * 1e-3 || hi - lo <= 1e-15 * (1.0 + hi)) return mid;
    if (rm > 0.0)
      lo = mid;
    else
      hi = mid;
  }
  return 0.5 * (lo + hi);
}

void green_ampt_build_g(int cell_count, std::span<const double> porosity,
                        std::span<const double> theta_init, std::span<const double> hc,
                        std::span<double> G) {
  team_for(team_size(cell_count), 1, cell_count, [&](int c) {
    const double g = (porosity[c] - theta_init[c]) * hc[c];
    G[c] = g > 0.0 ? g : 0.0;
  });
}

namespace {

// One step of the single-layer scheme for the cells first .. first + count - 1 of a group, with
// the scalar solve.
void green_ampt_group_scalar(const green_ampt_views& v, int first, int count) {
  const double dt = v.dt;
  unsigned ponded = 0;
  for (int l = 0; l < count; ++l) {
    const int c = first + l;
    if (skipped(v.lake_flag, v.lake_cells, c)) continue;
    if (!v.exfil_cells.empty() && v.exfil_cells[c] == 1) continue;
    if (v.ov_depth[c] < 1e-16) {
      v.inf_rate[c] = 0.0;
      v.ov_depth[c] = 0.0;
      continue;
    }
    ponded |= 1u << l;
  }
  if (ponded == 0) return;
  // Newton on the implicit equation, started 1 mm past F, to a residual of 1e-6 m; a cell
  // whose depth is at most K dt (times its infiltrating fraction) gives all of it whatever the
  // solve returns (its rate is never below K), and is spared the solve.
  double depth[green_ampt_group_cells];
  for (int l = 0; l < count; ++l) {
    if (!(ponded >> l & 1u)) continue;
    const int c = first + l;
    const double K = v.ks[c];
    const double a = v.area_reduction ? v.area_reduction_cell[c] : 1.0;
    const double least_rate = v.area_reduction ? K * a : K;
    if (K >= 0.0 && v.G[c] >= 0.0 && a >= 0.0 && v.ov_depth[c] <= least_rate * dt) {
      depth[l] = 1.0;
      continue;
    }
    const double F = v.inf_depth_cum[c];
    depth[l] = green_ampt_implicit_depth(v.G[c], K, dt, F, F + 0.001, 1e-6);
  }
  for (int l = 0; l < count; ++l) {
    if (!(ponded >> l & 1u)) continue;
    const int c = first + l;
    const double h = v.ov_depth[c];
    const double K = v.ks[c];
    const double G = v.G[c];
    const double Fn = depth[l];
    double f = Fn > 1e-16 ? K * (G / Fn + 1.0) : K;
    if (v.area_reduction) f *= v.area_reduction_cell[c];
    if (f * dt >= h) {
      f = h / dt;
      v.ov_depth[c] = 0.0;
    } else {
      v.ov_depth[c] -= f * dt;
    }
    v.inf_depth_cum[c] += f * dt;
    v.inf_rate[c] = f * cm_per_h_in_m_per_s;
  }
}

// What one block of the single-layer pass gathered: its booked volume and, when the pass takes
// the rain, the rain's sums and depth flags. Plain data: the pass's array of them is not
// zeroed, each block sets what it gathers.
struct green_ampt_block_part {
  double volume;
  green_ampt_rain_part rain;
};

static_assert(infiltration_sum_block_cells % green_ampt_group_cells == 0,
              "a block of the booking holds whole groups of the solve");

// The booking of cells first..last with the Sacramento and long-term totals present or not,
// each case a loop of its own.
template <bool Sac, bool Longterm>
double book_cells(const double* __restrict cum, double* __restrict prev, double* __restrict total,
                  double* __restrict sac, double* __restrict longterm, double area, int first,
                  int last) {
  double sum[infiltration_sum_lanes] = {};
  const auto book = [&](int c, int lane) {
    const double d = cum[c] - prev[c];
    sum[lane] += d * area;
    total[c] += d;
    if constexpr (Sac) sac[c] += d;
    if constexpr (Longterm) longterm[c] += d;
    prev[c] = cum[c];
  };
  int c = first;
  for (; c + (infiltration_sum_lanes - 1) <= last; c += infiltration_sum_lanes)
    for (int l = 0; l < infiltration_sum_lanes; ++l) book(c + l, l);
  for (int l = 0; c <= last; ++c, ++l) book(c, l);
  return infiltration_lane_total(sum);
}

}  // namespace

double book_infiltration_block(const double* cum, double* prev, double* total, double* sac,
                               double* longterm, double area, int first, int last) {
  if (sac && longterm)
    return book_cells<true, true>(cum, prev, total, sac, longterm, area, first, last);
  if (sac) return book_cells<true, false>(cum, prev, total, sac, longterm, area, first, last);
  if (longterm) return book_cells<false, true>(cum, prev, total, sac, longterm, area, first, last);
  return book_cells<false, false>(cum, prev, total, sac, longterm, area, first, last);
}

bool green_ampt_takes_rain() {
  return true;
}

double green_ampt_cells(const green_ampt_views& v) {
  return green_ampt_pass(v).volume;
}

green_ampt_pass_result green_ampt_pass(const green_ampt_views& v) {
  const bool wide = v.wide_vectors != 0 && green_ampt_takes_rain();
  const bool book = !v.inf_depth_prev.empty();
  const bool rained = !v.rain_intensity.empty();
  green_ampt_pass_result result;
  // Rain is taken only with wide vectors and without channel lakes; otherwise nothing is done
  // and rain_taken stays false.
  if (rained && (!wide || v.lake_flag != 0)) return result;
  result.rain_taken = rained;
  double* const sac = v.sac_inf_depth.empty() ? nullptr : v.sac_inf_depth.data();
  double* const longterm = v.inf_depth_longterm.empty() ? nullptr : v.inf_depth_longterm.data();
  // Groups of neighbouring cells counted from cell 1, whole within the blocks of the booking: a
  // cell falls in the same group, and so takes the same arithmetic, whatever the number of
  // threads; each block is booked as soon as it is solved, while its cells are at hand.
  const auto block = [&](int first, int last) {
    green_ampt_block_part part;
    if (wide) {
      // Each group booked in vector lanes as it is solved.
      double sums[infiltration_sum_lanes] = {};
      green_ampt_rain_part* rain = nullptr;
      if (rained) {
        rain = &part.rain;
        *rain = green_ampt_rain_part{};
      }
      for (int g = first; g <= last; g += green_ampt_group_cells)
        green_ampt_group_wide(v, g, std::min(green_ampt_group_cells, last - g + 1),
                              book ? sums : nullptr, rain);
      if (book) part.volume = infiltration_lane_total(sums);
      return part;
    }
    for (int g = first; g <= last; g += green_ampt_group_cells)
      green_ampt_group_scalar(v, g, std::min(green_ampt_group_cells, last - g + 1));
    if (book)
      part.volume = book_infiltration_block(v.inf_depth_cum.data(), v.inf_depth_prev.data(),
                                            v.inf_depth_total.data(), sac, longterm, v.cell_area,
                                            first, last);
    return part;
  };
  return block_ordered_sum<infiltration_sum_block_cells, green_ampt_block_part>(
      v.cell_count, result, block,
      [book, rained](green_ampt_pass_result& total, const green_ampt_block_part& part) {
        if (book) total.volume += part.volume;
        if (!rained) return;
        const green_ampt_rain_part& p = part.rain;
        total.rain_volume += p.volume;
        total.rain_rate_sum += infiltration_lane_total(p.rate);
        if (total.rain_nan_cell == 0) total.rain_nan_cell = p.rain_nan_cell;
        if (p.any_depth) total.any_depth = 1;
        if (total.nan_cell == 0) total.nan_cell = p.nan_cell;
      });
}

void green_ampt_multilayer_cells(const green_ampt_layered_views& v) {
  const double dt = v.dt / seconds_per_hour;  // h
#pragma omp parallel for schedule(static) num_threads(team_size(v.cell_count))
  for (int c = 1; c <= v.cell_count; ++c) {
    if (skipped(v.lake_flag, v.lake_cells, c)) continue;
    // A soil whose water table stands at the ground is full: it takes no water.
    if (v.ov_depth[c] < 1e-16 || (!v.exfil_cells.empty() && v.exfil_cells[c] == 1)) {
      v.inf_rate[c] = 0.0;
      continue;
    }
    const soil_table_record& s = v.soil_types[v.soiltype[c]];
    double deficit[3];
    for (int k = 0; k < 3; ++k) {
      deficit[k] = s.layer_porosity[k] - v.theta_ml[c][k + 1];
      // A layer at (or above) its porosity keeps 1 % of the porosity as its deficit.
      if (deficit[k] <= 0.0) deficit[k] = s.layer_porosity[k] * 0.01;
      deficit[k] = positive(deficit[k]);
    }
    const double h = v.ov_depth[c] * 100.0;
    const double F = v.inf_depth_cum[c] * 100.0;
    const double w = v.wetdep[c];
    const double H1 = s.layer_depth[0];
    const double H2 = s.layer_depth[1];
    const double K1 = s.layer_hyd_cond[0];
    const double K2 = s.layer_hyd_cond[1];
    const double K3 = s.layer_hyd_cond[2];
    double keff = K1;
    double psi = s.layer_capillary_head[0];
    double delta = deficit[0];
    if (w > H1 + H2) {
      const double z = (F - (H2 * deficit[1] + H1 * deficit[0])) / deficit[2];
      keff = (z + H1 + H2) / (H2 / K2 + H1 / K1 + z / K3);
      psi = s.layer_capillary_head[2];
      delta = deficit[2];
    } else if (w > H1) {
      const double z = (F - H1 * deficit[0]) / deficit[1];
      keff = (z + H1) / (z / K2 + H1 / K1);
      psi = s.layer_capillary_head[1];
      delta = deficit[1];
    }
    if (!std::isfinite(keff) || keff < 0.0) keff = 0.0;
    const double M = delta * psi;
    const double Fn = green_ampt_implicit_depth(M, keff, dt, F, F + 0.1, 0.0001);
    double f = Fn > 1e-16 && M > 0.0 ? (M / Fn + 1.0) * keff : keff;
    double front = Fn / deficit[0];
    if (front > H1) {
      front = (Fn - H1 * deficit[0]) / deficit[1] + H1;
      if (front > H1 + H2)
        front = (Fn - (H2 * deficit[1] + H1 * deficit[0])) / deficit[2] + H1 + H2;
    }
    if (v.area_reduction && v.area_reduction_cell[c] < 1.0) f *= v.area_reduction_cell[c];
    if (f * dt > h) {
      const double rate = h / dt;
      v.inf_rate[c] = rate;
      v.ov_depth[c] = 0.0;
      v.inf_depth_cum[c] += dt * rate / 100.0;
      v.wetdep[c] += dt * rate / delta;
    } else {
      v.inf_rate[c] = f;
      v.ov_depth[c] -= f * dt / 100.0;
      v.inf_depth_cum[c] += f * dt / 100.0;
      v.wetdep[c] = front;
    }
  }
}

void green_ampt_redist_cells(const green_ampt_redist_views& v) {
  const int n = v.call_count;
  const double dt = v.dt;
  // Weights of the ponded loss and of the capillary term; 1 in this model.
  constexpr double c0 = 1.0;
  constexpr double c1 = 1.0;
  constexpr double c2 = 1.0;
#pragma omp parallel for schedule(static) num_threads(team_size(v.cell_count))
  for (int c = 1; c <= v.cell_count; ++c) {
    if (skipped(v.oland_lake_flag, v.oland_lake, c)) continue;
    if (skipped(v.lake_flag, v.lake_cells, c)) continue;
    if (!v.frozen_index.empty() && v.frozen_index[c] > frozen_ground_index) continue;
    const double Ks = v.ks[c];
    const double Hc = v.hc[c];
    const double ts = v.porosity[c];
    const double lambda = positive(v.pore_index[c]);
    const double tr = v.residual[c];
    const double ti = v.theta_init[c];
    double& tf = v.front_theta[c];
    double& Ff = v.front_depth[c];
    double& F = v.inf_depth_cum[c];
    double& ov = v.ov_depth[c];
    if (n < 2) {
      tf = ti;
      v.surf_moist[c] = ti;
    }
    if (v.yes_exfil[c] == 1) {
      tf = ts;
      continue;
    }
    const double keff = v.area_reduction ? Ks * v.area_reduction_cell[c] : Ks;
    const double r = ov / dt;
    if (v.iter_i_less_k[c] == n - 1 && keff >= r) {
      v.inf_rate[c] = r * cm_per_h_in_m_per_s;
      F += ov;
      ov = 0.0;
      v.iter_i_less_k[c] = n;
      v.surf_moist[c] = ti;
      continue;
    }
    const double span = positive(ts - tr);
    const double sei = clamp_unit((ti - tr) / span);
    const double a = 1.0 / lambda + 3.0;
    const double b = 2.0 / lambda + 3.0;
    const double k_sei = Ks * std::pow(sei, b);
    int& state = v.no_wat_prof[c];

    if (keff > r) {
      // Supply below capacity: all surface water enters and the front redistributes.
      if (state == 1) {
        tf = ts;
        state = 0;
      }
      if (state == 2) {
        tf = ((tf + ts - 2.0 * ti) * (F - Ff) + (tf - ti) * Ff) / positive(F) + ti;
        if (tf > ts) tf = ts;
        state = 0;
      }
      v.inf_rate[c] = ov > 0.0 ? r * cm_per_h_in_m_per_s : 0.0;
      const double Fnew = F + ov;
      if (Fnew < 0.0) {
        F = Ff = ov = 0.0;
        v.surf_moist[c] = ti;
        continue;
      }
      F = Ff = Fnew;
      if (tf == ti) {
        v.iter_n[c] = n;
        v.surf_moist[c] = tf;
        ov = 0.0;
        continue;
      }
      const double se = clamp_unit((tf - tr) / span);
      const double G = front_capillary_term(sei, se, a, Hc);
      const double ff = positive(Ff);
      tf += ((r - k_sei - Ks * std::pow(se, b)) - G * c1 * c2 * Ks * (tf - ti) / ff) * (tf - ti) *
            dt / ff;
      tf = std::clamp(tf, std::min(ti, ts), std::max(ti, ts));
      v.iter_n[c] = n;
      v.surf_moist[c] = tf;
      ov = 0.0;
      continue;
    }

    // Supply at or above capacity.
    double Fp = F;
    double dtheta = ts - ti;
    if (v.iter_n[c] >= 1 && state != 1) {
      state = 1;
      const double gap = positive(ts - tf);
      if (Ff / positive(tf) > (F - Ff) / gap) {
        // The new front is still above the old one, which redistributes without supply.
        state = 2;
        const double se = clamp_unit((tf - tr) / span);
        const double G = front_capillary_term(sei, se, a, Hc);
        const double ff = positive(Ff);
        tf += (-k_sei - Ks * std::pow(se, b) - c1 * c2 * Ks * G * (tf - ti) / ff) * (tf - ti) * dt /
              ff;
        tf = std::clamp(tf, std::min(ti, ts), std::max(ti, ts));
        Fp = F - Ff;
        dtheta = ts - tf;
      }
    }
    if (dtheta < 0.0) dtheta = 0.0;
    if (Fp < 0.0) Fp = 0.0;
    const double kdt = Ks * dt;
    double f = ((kdt - 2.0 * Fp) +
                std::sqrt((kdt - 2.0 * Fp) * (kdt - 2.0 * Fp) + 8.0 * kdt * (dtheta * Hc + Fp))) /
               (2.0 * dt);
    if (v.area_reduction) f *= v.area_reduction_cell[c];
    v.inf_rate[c] = f * cm_per_h_in_m_per_s;
    if (f >= r) {
      f = r;
      v.inf_rate[c] = r * cm_per_h_in_m_per_s;
      if (v.iter_pond_1[c] == 0 && v.iter_n[c] == 0) {
        // The front wets up towards saturation before ponding.
        if (f - Ks < 1e-6) {
          tf += (ts - tf) * dt / 100000.0;
        } else {
          const double tau = (ts - tf) * Hc * Ks / ((f - Ks) * f);
          tf = tau == 0.0 ? ts : tf + (ts - tf) * dt / tau;
        }
        if (tf > ts) {
          tf = ts;
          v.iter_pond_1[c] = n;
        }
      }
      ov = 0.0;
    } else {
      ov -= f * dt * c0;
      if (v.iter_pond_1[c] == 0) {
        v.iter_pond_1[c] = n;
        if (v.iter_n[c] == 0) tf = ts;
      }
    }
    F += f * dt;
    if (state == 1) tf = ts;
    v.surf_moist[c] = state == 2 ? ts : tf;
  }
}

exfil_result exfiltrate_cells(const exfil_views& v) {
  exfil_result out;
  const double dt = v.dt;
  const double area = v.dx * v.dx;
  for (int c = 1; c <= v.cell_count; ++c) {
    const int yes = v.yes_exfil[c];
    if (v.variant == exfil_variant::richards ? yes != 1 : yes < 1) continue;
    if (skipped(v.oland_lake_flag, v.oland_lake, c)) continue;
    if (skipped(v.lake_flag, v.lake_cells, c)) continue;
    const double dh = v.elevgw[c] - (v.cell_elev[c] + v.ov_depth[c]);
    const double loss = -v.exfil_loss_rate / cm_per_h_in_m_per_s * dt;
    double e = 0.0;
    switch (v.variant) {
      case exfil_variant::redistribution: {
        // A soil depth of 0 gives no gradient to drive the exchange.
        const double up =
            v.exfil_soil_depth > 0.0 ? dh * v.ks[c] / (v.exfil_soil_depth / 100.0) * dt : 0.0;
        if (v.gw_simulation)
          e = dh > 0.0 ? up : loss;
        else
          e = up > 0.0 ? up : 0.0;
        break;
      }
      case exfil_variant::layered: {
        const soil_table_record& s = v.soil_types[v.soiltype[c]];
        const double depth = s.layer_depth[0] + s.layer_depth[1];
        out.soil_depth = depth;
        const double up =
            depth > 0.0 ? dh * s.layer_hyd_cond[0] / depth * dt / seconds_per_hour : 0.0;
        if (v.gw_simulation)
          e = dh > 0.0 ? up : loss;
        else
          e = up > 0.0 ? up : 0.0;
        break;
      }
      case exfil_variant::richards:
        if (v.gw_simulation) {
          e = dh > 0.0 && v.gw_time_step > 0.0 ? dh * dt / v.gw_time_step * v.gw_exfil_coef[c]
                                               : (dh > 0.0 ? 0.0 : loss);
        } else {
          e = v.totaldz[c] > 0.0 ? dh * v.avgks[c] / v.totaldz[c] * dt / seconds_per_hour : 0.0;
        }
        break;
    }
    if (-e > v.ov_depth[c]) {
      e = -v.ov_depth[c];
      v.ov_depth[c] = 0.0;
    } else {
      v.ov_depth[c] += e;
    }
    v.exfil_cum[c] += e;
    out.volume += e * area;
  }
  return out;
}

double layer_water_fraction(int layer, int layer_count, double wup, double wlow, double d1,
                            double porosity, double d, double d3, double head, double cell_elev,
                            const double* thick, int water_table) {
  double result = 0.0;
  if (!water_table) {
    if (layer == 1)
      result = wup / positive(d1);
    else if (layer == 2)
      result = (layer_count == 3 || d - d1 < 1e-16) ? wup / positive(d1) : wlow / positive(d - d1);
    else
      result = wlow / positive(d - d1);
  } else {
    const double w = cell_elev - head;  // m: depth of the table
    if (w <= 1e-16) return porosity;
    if (layer == 1) {
      const double top = d3 / 100.0;
      result = (d3 / positive(d1) * wup / 100.0 + (top > w ? (top - w) * porosity : 0.0)) /
               positive(top);
    } else if (layer == 2) {
      const double top = d3 / 100.0;
      const double bottom = top + thick[2];
      const bool upper_part = layer_count == 3 || d1 - d3 > 1e-16;
      const double water = upper_part ? (d1 - d3) * wup / positive(d1) / 100.0 : wlow / 100.0;
      if (top > w)
        result = porosity;
      else
        result = (water + (bottom > w ? (bottom - w) * porosity : 0.0)) / positive(thick[2]);
    } else {
      if (d1 / 100.0 > w)
        result = porosity;
      else
        result = (wlow / 100.0 + (d / 100.0 > w ? (d / 100.0 - w) * porosity : 0.0)) /
                 positive(thick[3]);
    }
  }
  if (result > 1.0) printf("oy");
  return result;
}

void soil_layer_water_content(double wup, double wlow, double head, double cell_elev,
                              const double* thick, int water_table, const soil_table_record& soil,
                              int layer_count, double* out) {
  const double d =
      water_table ? (cell_elev - head) * 100.0 : soil.layer_depth[0] + soil.layer_depth[1] + 1.0;
  const double T1 = 100.0 * thick[1];
  const double T2 = 100.0 * thick[2];
  const double T3 = 100.0 * thick[3];
  const double p1 = soil.layer_porosity[0];
  const double p2 = soil.layer_porosity[1];
  if (d <= 1e-16) {
    out[1] = p1;
    out[2] = layer_count == 3 ? p1 : p2;
    if (layer_count == 3) out[3] = p2;
    return;
  }
  if (layer_count == 2) {
    out[1] = (wup + (d < T1 ? (T1 - d) * p1 : 0.0)) / positive(T1);
    if (d < T1)
      out[2] = p2;
    else if (d < T1 + T2)
      out[2] = (wlow + (T1 + T2 - d) * p2) / positive(T2);
    else
      out[2] = wlow / positive(T2);
    return;
  }
  if (d > T1 + T2)
    out[1] = wup / positive(T1 + T2);
  else if (d < T1)
    out[1] = ((T1 - d) * p1 + wup) / positive(T1);
  else
    out[1] = wup / d;
  if (d < T1)
    out[2] = p1;
  else if (d < T1 + T2)
    out[2] = ((T1 + T2 - d) * p1 + (d - T1) * wup / d) / positive(T2);
  else
    out[2] = wup / positive(T1 + T2);
  if (d < T1 + T2)
    out[3] = p2;
  else if (d < T1 + T2 + T3)
    out[3] = ((T1 + T2 + T3 - d) * p2 + wlow) / positive(T3);
  else
    out[3] = wlow / positive(T3);
}

// --- The step ------------------------------------------------------------------------------

namespace {

template <class T>
std::span<T> cells(raw_array1d<T>& a) {
  return {a.data(), a.element_count()};
}

template <class T>
std::span<const T> cells_const(const raw_array1d<T>& a) {
  return {a.data(), a.element_count()};
}

// Books the step's increment of every cell (inf_depth_cum - inf_depth_prev) into the run's
// per-cell totals and returns the infiltrated volume, summed over fixed blocks of cells in
// block order so that it does not depend on the number of threads.
double book_increments(subsurface_state& ss, int cell_count, double area, int long_term) {
  const bool sac = ss.sacramento && holds(ss.sac_inf_depth, cell_count);
  const bool longterm = long_term && holds(ss.inf_depth_longterm, cell_count);
  return block_ordered_sum<infiltration_sum_block_cells, double>(
      cell_count, 0.0,
      [&](int first, int last) {
        return book_infiltration_block(
            ss.inf_depth_cum.data(), ss.inf_depth_prev.data(), ss.inf_depth_total.data(),
            sac ? ss.sac_inf_depth.data() : nullptr,
            longterm ? ss.inf_depth_longterm.data() : nullptr, area, first, last);
      },
      [](double& total, double part) { total += part; });
}

exfil_views exfil_setup(model_state& ms, exfil_variant variant, double dt) {
  subsurface_state& ss = ms.subsurface;
  overland_state& ov = ms.overland;
  exfil_views e;
  e.variant = variant;
  e.cell_count = ms.cell_count;
  e.dt = dt;
  e.dx = ms.gridsize;
  e.gw_simulation = ss.gw_simulation;
  e.exfil_soil_depth = ss.exfil_soil_depth;
  e.exfil_loss_rate = ss.exfil_loss_rate;
  e.gw_time_step = ss.gw_time_step;
  e.yes_exfil = cells_const(ss.yes_exfil);
  e.elevgw = cells_const(ss.elevgw);
  e.cell_elev = cells_const(ms.cell_elev);
  e.ks = cells_const(ss.ks_cell);
  e.soil_types = ss.soil_types;
  e.soiltype = cells_const(ss.soiltype);
  e.gw_exfil_coef = cells_const(ss.gw_exfil_coef);
  e.avgks = cells_const(ss.avgks);
  e.totaldz = cells_const(ss.totaldz);
  e.oland_lake_flag = ov.overland_lake_map && !ov.oland_lake_new.empty();
  e.oland_lake = cells_const(ov.oland_lake_new);
  e.lake_flag = ms.perennial_lakes && !ms.channel.lake_mask.empty();
  e.lake_cells = cells_const(ms.channel.lake_mask);
  e.ov_depth = cells(ov.ov_depth);
  e.exfil_cum = cells(ss.exfil_cum);
  return e;
}

// Exfiltration runs while some cell's water table reaches the surface, and needs the heads. Over
// the saturated groundwater the aquifer's own step gives the surface the water its table raises
// above the ground, taken from the aquifer: the redistribution and layered soils add none here,
// which would be water no store gave (or take surface water into none).
void exfiltrate(model_state& ms, exfil_variant variant, double dt) {
  subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  if (!ms.gw_at_surface) return;
  if (ss.gw_simulation && variant != exfil_variant::richards) return;
  if (!holds(ss.yes_exfil, n) || !holds(ss.elevgw, n) || !holds(ms.cell_elev, n) ||
      !holds(ss.exfil_cum, n))
    return;
  if (variant == exfil_variant::redistribution && !holds(ss.ks_cell, n)) return;
  if (variant == exfil_variant::layered && !holds(ss.soiltype, n)) return;
  if (variant == exfil_variant::richards &&
      (ss.gw_simulation ? !holds(ss.gw_exfil_coef, n)
                        : !holds(ss.avgks, n) || !holds(ss.totaldz, n)))
    return;
  const exfil_result r = exfiltrate_cells(exfil_setup(ms, variant, dt));
  ss.exfil_volume += r.volume;
  if (variant == exfil_variant::layered && r.soil_depth > 0.0) ss.exfil_soil_depth = r.soil_depth;
}

// The views of one step of the single-layer scheme, its G built at the run's first update; the
// booking's arrays when the run keeps the totals it books into.
green_ampt_views green_ampt_step_views(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  overland_state& ov = ms.overland;
  if (!ss.green_ampt_g_ready) {
    green_ampt_build_g(ms.cell_count, cells_const(ss.porosity_cell), cells_const(ss.theta_init),
                       cells_const(ss.hc_cell), cells(ss.green_ampt_g));
    ss.green_ampt_g_ready = 1;
  }
  green_ampt_views v;
  v.cell_count = ms.cell_count;
  v.dt = dt;
  v.ks = cells_const(ss.ks_cell);
  v.G = cells_const(ss.green_ampt_g);
  v.lake_flag = ms.perennial_lakes && !ms.channel.lake_mask.empty();
  v.lake_cells = cells_const(ms.channel.lake_mask);
  // The saturated groundwater marks the cells whose table stands at the ground.
  if (ss.gw_simulation && holds(ss.yes_exfil, ms.cell_count))
    v.exfil_cells = cells_const(ss.yes_exfil);
  v.area_reduction = ov.area_reduction && !ov.area_reduction_cell.empty();
  v.area_reduction_cell = cells_const(ov.area_reduction_cell);
  v.ov_depth = cells(ov.ov_depth);
  v.inf_depth_cum = cells(ss.inf_depth_cum);
  v.inf_rate = cells(ss.inf_rate);
  // The step's booking in the same pass, when the run keeps the totals it books into.
  const int n = ms.cell_count;
  if (holds(ss.inf_depth_prev, n) && holds(ss.inf_depth_total, n)) {
    v.inf_depth_prev = cells(ss.inf_depth_prev);
    v.inf_depth_total = cells(ss.inf_depth_total);
    if (ss.sacramento && holds(ss.sac_inf_depth, n)) v.sac_inf_depth = cells(ss.sac_inf_depth);
    if (ms.long_term && holds(ss.inf_depth_longterm, n))
      v.inf_depth_longterm = cells(ss.inf_depth_longterm);
    v.cell_area = ms.gridsize * ms.gridsize;
  }
  return v;
}

// One step of the single-layer scheme; true when it booked the step's increments too.
bool run_green_ampt(model_state& ms, double dt) {
  const green_ampt_views v = green_ampt_step_views(ms, dt);
  const bool book = !v.inf_depth_prev.empty();
  const double volume = green_ampt_cells(v);
  if (book) ms.subsurface.inf_volume_total += volume;
  return book;
}

void run_layered(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  overland_state& ov = ms.overland;
  green_ampt_layered_views v;
  v.cell_count = ms.cell_count;
  v.dt = dt;
  v.soil_types = ss.soil_types;
  v.soiltype = cells_const(ss.soiltype);
  v.lake_flag = ms.perennial_lakes && !ms.channel.lake_mask.empty();
  v.lake_cells = cells_const(ms.channel.lake_mask);
  // The saturated groundwater marks the cells whose table stands at the ground.
  if (ss.gw_simulation && holds(ss.yes_exfil, ms.cell_count))
    v.exfil_cells = cells_const(ss.yes_exfil);
  v.area_reduction = ov.area_reduction && !ov.area_reduction_cell.empty();
  v.area_reduction_cell = cells_const(ov.area_reduction_cell);
  v.theta_ml = ss.THETA_ML.row_table();
  v.ov_depth = cells(ov.ov_depth);
  v.inf_depth_cum = cells(ss.inf_depth_cum);
  v.inf_rate = cells(ss.inf_rate);
  v.wetdep = cells(ss.wetdep);
  green_ampt_multilayer_cells(v);
}

void run_redistribution(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  overland_state& ov = ms.overland;
  green_ampt_redist_views v;
  v.cell_count = ms.cell_count;
  v.dt = dt;
  v.call_count = ss.inf_call_count;
  v.ks = cells_const(ss.ks_cell);
  v.hc = cells_const(ss.hc_cell);
  v.porosity = cells_const(ss.porosity_cell);
  v.pore_index = cells_const(ss.pore_index_cell);
  v.residual = cells_const(ss.residual_cell);
  v.theta_init = cells_const(ss.theta_init);
  v.yes_exfil = cells_const(ss.yes_exfil);
  v.oland_lake_flag = ov.overland_lake_map && !ov.oland_lake_new.empty();
  v.oland_lake = cells_const(ov.oland_lake_new);
  v.lake_flag = ms.perennial_lakes && !ms.channel.lake_mask.empty();
  v.lake_cells = cells_const(ms.channel.lake_mask);
  v.area_reduction = ov.area_reduction && !ov.area_reduction_cell.empty();
  v.area_reduction_cell = cells_const(ov.area_reduction_cell);
  if (ms.long_term && ms.weather.cfgi.count() >= ms.cell_count)
    v.frozen_index = cells_const(ms.weather.cfgi);
  v.ov_depth = cells(ov.ov_depth);
  v.inf_depth_cum = cells(ss.inf_depth_cum);
  v.inf_rate = cells(ss.inf_rate);
  v.front_theta = cells(ss.redist_front_theta);
  v.front_depth = cells(ss.redist_front_depth);
  v.surf_moist = cells(ss.surf_moist);
  v.iter_pond_1 = cells(ss.iter_pond_1);
  v.iter_n = cells(ss.iter_n);
  v.iter_i_less_k = cells(ss.iter_i_less_k);
  v.no_wat_prof = cells(ss.no_wat_prof);
  green_ampt_redist_cells(v);
}

void run_richards(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  exfiltrate(ms, exfil_variant::richards, dt);
  ss.et_depth_step = richards_infiltration(ms, dt);
  const double area = ms.gridsize * ms.gridsize;
  ss.richards_et_total += ss.et_depth_step * area;
  ss.evap_total += ss.et_depth_step * area;
  const int n = ms.cell_count;
  if (!holds(ss.surf_theta, n) || ss.THETA.empty() || ss.THETA.row_count() < n) return;
  const overland_state& ov = ms.overland;
  const bool oland = ov.overland_lake_map && holds(ov.oland_lake_new, n);
  for (int c = 1; c <= n; ++c)
    if (!(oland && ov.oland_lake_new[c] > 0)) ss.surf_theta[c] = ss.THETA[c][1];
}

// A per-cell array the scheme reads: missing, it stops the run naming what is missing.
bool needs(const raw_array1d<double>& a, int n, const char* what) {
  if (holds(a, n)) return true;
  stop_with_message(
      "Error: Green and Ampt infiltration needs the %s of every cell, and the project gives none "
      "(its map card or the GREEN_AMPT_INFILTRATION table)\n",
      what);
  return false;
}

}  // namespace

void infiltration_setup(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  if (n <= 0 || !ss.green_ampt || ss.inf_redist) return;
  ss.green_ampt_g.reset();
  alloc_1d_double(ss.green_ampt_g, n, "green_ampt_g");
  if (ss.green_ampt_g.empty()) {
    stop_now();
    return;
  }
  ss.green_ampt_g_ready = 0;
}

// The parameters the chosen scheme reads; a missing one stops the run naming it.
bool scheme_can_run(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  if (ss.inf_redist)
    return needs(ss.ks_cell, n, "saturated hydraulic conductivity") &&
           needs(ss.hc_cell, n, "capillary head") && needs(ss.porosity_cell, n, "porosity") &&
           needs(ss.pore_index_cell, n, "pore-size distribution index") &&
           needs(ss.residual_cell, n, "residual saturation") &&
           needs(ss.theta_init, n, "initial soil moisture") &&
           needs(ss.redist_front_theta, n, "wetting-front moisture") &&
           needs(ss.redist_front_depth, n, "wetting-front depth") &&
           needs(ss.surf_moist, n, "surface moisture");
  if (ss.green_ampt) {
    if (!needs(ss.ks_cell, n, "saturated hydraulic conductivity") ||
        !needs(ss.hc_cell, n, "capillary head") || !needs(ss.porosity_cell, n, "porosity") ||
        !needs(ss.theta_init, n, "initial soil moisture"))
      return false;
    if (!holds(ss.green_ampt_g, n)) {
      stop_with_message("Error: Green and Ampt infiltration was not set up for this run\n");
      return false;
    }
    return true;
  }
  if (ss.inf_layered_soil &&
      (!holds(ss.soiltype, n) || ss.THETA_ML.empty() || ss.THETA_ML.row_count() < n ||
       ss.THETA_ML.col_count() < 3 || !holds(ss.wetdep, n))) {
    stop_with_message("Error: layered soil infiltration has no soil layers for its cells\n");
    return false;
  }
  return true;
}

namespace {

// The infiltration of this pass: due, with dt its length.
bool infiltration_due(const model_state& ms, double& dt) {
  if (std::fabs(ms.infil_clock.next - ms.current_time) >= ms.time_tolerance) return false;
  dt = (ms.current_time - ms.infil_clock.last) * seconds_per_day;
  return true;
}

// The soil state the schemes work on is there and the step has a length.
bool soil_ready(const model_state& ms, double dt) {
  const subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  return holds(ss.inf_depth_cum, n) && holds(ss.inf_rate, n) && holds(ms.overland.ov_depth, n) &&
         dt > 0.0;
}

}  // namespace

bool infiltration_takes_rain(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  double dt = 0.0;
  // What infiltration_step would run: the single-layer scheme with every parameter and its
  // booking (a missing parameter is left to the step, which names it).
  return infiltration_due(ms, dt) && soil_ready(ms, dt) && !ss.inf_redist && ss.green_ampt &&
         holds(ss.ks_cell, n) && holds(ss.hc_cell, n) && holds(ss.porosity_cell, n) &&
         holds(ss.theta_init, n) && holds(ss.green_ampt_g, n) && holds(ss.inf_depth_prev, n) &&
         holds(ss.inf_depth_total, n) && !(ms.perennial_lakes && !ms.channel.lake_mask.empty()) &&
         green_ampt_takes_rain();
}

infiltration_rain_result infiltration_with_rain(model_state& ms,
                                                const raw_array1d<double>& intensity,
                                                double rain_dt) {
  infiltration_rain_result result;
  double dt = 0.0;
  if (!infiltration_takes_rain(ms) || !holds(intensity, ms.cell_count) || !infiltration_due(ms, dt))
    return result;
  green_ampt_views v = green_ampt_step_views(ms, dt);
  v.rain_intensity = cells_const(intensity);
  v.rain_dt = rain_dt;
  const green_ampt_pass_result r = green_ampt_pass(v);
  if (!r.rain_taken) return result;
  ms.subsurface.inf_volume_total += r.volume;
  ms.subsurface.infiltration_taken = 1;
  result.taken = true;
  result.rain_volume = r.rain_volume;
  result.rain_rate_sum = r.rain_rate_sum;
  result.rain_nan_cell = r.rain_nan_cell;
  result.any_depth = r.any_depth;
  result.nan_cell = r.nan_cell;
  return result;
}

void infiltration_step(model_state& ms) {
  double dt = 0.0;
  if (!infiltration_due(ms, dt)) return;
  subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  const bool soil = soil_ready(ms, dt);
  // The rainfall step took this pass's infiltration with its rain, and booked it.
  const bool taken = ss.infiltration_taken != 0;
  ss.infiltration_taken = 0;
  if (soil && !taken && !scheme_can_run(ms)) return;
  bool booked = taken;
  if (!taken) {
    if (soil && ss.inf_redist) {
      run_redistribution(ms, dt);
      ss.inf_call_count += 1;
      exfiltrate(ms, exfil_variant::redistribution, dt);
    } else if (soil && ss.green_ampt) {
      booked = run_green_ampt(ms, dt);
    } else if (soil && ss.inf_layered_soil) {
      run_layered(ms, dt);
      exfiltrate(ms, exfil_variant::layered, dt);
    } else if (ss.inf_richards && dt > 0.0) {
      run_richards(ms, dt);
    }
  }

  if (!booked && holds(ss.inf_depth_cum, n) && holds(ss.inf_depth_prev, n) &&
      holds(ss.inf_depth_total, n))
    ss.inf_volume_total += book_increments(ss, n, ms.gridsize * ms.gridsize, ms.long_term);

  process_clock& clock = ms.infil_clock;
  clock.last = ms.current_time;
  clock.next = ms.current_time + clock.interval_days;
  // A long-term run with dry surface and no rain parks the schedule until the next event; water
  // still ponded on some cell (as the overland step last saw it) goes on soaking in. The
  // Richards columns go on between events: they drain and give the weather its
  // evapotranspiration hour by hour.
  const overland_state& ov = ms.overland;
  if (ms.long_term && !ss.inf_richards && !ms.ov_water_present && !ov.ov_any_depth &&
      !ms.gw_at_surface && !ov.rain_active) {
    if (ss.inf_redist) ss.inf_active = 0;
    const int e = ms.event_number + 1;
    if (e >= 1 && e <= ov.num_events && e <= max_precip_events &&
        ms.event_start_jday[e] > ms.current_time) {
      clock.next = ms.event_start_jday[e] + ms.ov_clock.interval_days;
      transport_state& tr = ms.transport;
      if (tr.ov_con_trans) {
        tr.ov_con_clock.next = clock.next;
        tr.ov_con_infil_clock.next = clock.next;
        if (tr.soil_con_trans) {
          tr.soil_con_clock.next = clock.next;
          tr.nsm_clock.next = clock.next;
        }
      }
    }
  }
}

void book_gap_water(model_state& ms, int cell) {
  subsurface_state& ss = ms.subsurface;
  const double area = ms.gridsize * ms.gridsize;
  if (!ss.gw_simulation && !ss.recharge_inc.empty() && cell <= ss.recharge_inc.count()) {
    ss.recharge_volume += ss.recharge_inc[cell] * area / 100.0;
    ss.recharge_inc[cell] = 0.0;
  }
  if (!ss.et_cum_cell.empty() && cell <= ss.et_cum_cell.count()) {
    const double volume = ss.et_cum_cell[cell] * area / 100.0;
    ss.et_cell_volume += volume;
    ms.output.totals.run_vol_direct_evap += volume;
    ss.et_cum_cell[cell] = 0.0;
  }
}

void restart_wetting_fronts(model_state& ms, const wetting_front_restart& how) {
  subsurface_state& ss = ms.subsurface;
  ss.inf_active = 1;
  if (how.average_saturation) ms.avg_saturation = 0.0;
  auto clear = [](auto& a, int c) {
    if (!a.empty() && c <= a.count()) a[c] = {};
  };
  auto value = [](const raw_array1d<double>& a, int c) {
    return !a.empty() && c <= a.count() ? a[c] : 0.0;
  };
  for (int c = 1; c <= ms.cell_count; ++c) {
    clear(ss.iter_pond_1, c);
    clear(ss.iter_n, c);
    clear(ss.no_wat_prof, c);
    clear(ss.iter_i_less_k, c);
    clear(ss.redist_front_depth, c);
    clear(ss.inf_depth_cum, c);
    clear(ss.inf_depth_prev, c);
    if (ss.theta_init.empty() || c > ss.theta_init.count()) continue;
    double& theta = ss.theta_init[c];
    if (ms.long_term) {
      const double phi = value(ss.porosity_cell, c);
      const double thr = value(ss.residual_cell, c);
      const double unsat = value(ss.wt_depth_cm, c);
      if (unsat > 1e-16)
        theta = value(ss.zone_water_upper, c) / std::min(unsat, ss.zone_depth_upper);
      else
        theta = phi;
      if (theta < thr || theta > phi)
        printf("cell: %d  thi: %lf  thr: %lf   phi: %lf\n", c, theta, thr, phi);
      // Raised above the residual content first, then kept below the porosity, so that the
      // front always starts with a moisture deficit even on a soil whose residual content lies
      // within 0.01 of its porosity.
      if (theta < thr) {
        theta = thr + 0.01;
        printf(
            "Problem initializing inf_redist in main loop, thi<thr at grid cell %d, increasing "
            "it to %lf\n",
            c, theta);
      }
      if (theta > phi) {
        theta = phi - 0.01;
        printf(
            "Problem initializing inf_redist in main loop, thi>phi at grid cell %d, decreasing "
            "it to %lf\n",
            c, theta);
      }
      if (how.average_saturation) {
        const double saturation = theta / phi;
        if (std::isnan(saturation))
          printf("bad initial value of soil moisture cell %d\n", c);
        else
          ms.avg_saturation += saturation;
      }
    }
    if (ms.long_term || how.book_gap_water_every_run) book_gap_water(ms, c);
    if (!ss.redist_front_theta.empty() && c <= ss.redist_front_theta.count())
      ss.redist_front_theta[c] = theta;
    if (!ss.surf_moist.empty() && c <= ss.surf_moist.count()) ss.surf_moist[c] = theta;
  }
  if (how.average_saturation && ms.cell_count > 0) ms.avg_saturation /= ms.cell_count;
}
