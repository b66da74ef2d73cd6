// Saturated groundwater: the set-up of the groundwater work at start-up (init_lake_and_soil_state
// calls groundwater_setup) and the time-loop step groundwater_step, which takes the vertical
// fluxes of its interval, solves the two-dimensional unconfined flow equation for the new heads
// (gw_solve: Picard passes over the line solver) and books every volume to the run's totals.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/core/block_sum.h"
#include "framework/core/error_state.h"
#include "framework/core/parallel_team.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
#include "subsurface/gw_line_sor.h"
#include "subsurface/gw_richards_coupling.h"
#include "subsurface/gw_soil_zone.h"
#include "subsurface/subsurface_steps.h"
#include "subsurface/well_levels.h"
#include "subsurface/wells.h"

namespace {

// Saturated thickness below which a cell keeps a token transmissivity and takes no sink (m).
constexpr double thin_aquifer = 0.001;
// Saturated thickness below which neither leakage nor pumping draws on a cell (m).
constexpr double dry_aquifer = 0.01;
// Picard passes from which each pass says the solve is slow, and at which it gives up.
constexpr int slow_passes = 49;
constexpr int most_passes = 1000;

// A head held in the solve: fixed heads (codes 2 and 5) and cells outside the aquifer (code 0).
bool held_code(int code) {
  return code == 0 || code == 2 || code == 5;
}

// Harmonic conductance of the face between cells of transmissivities ta and tb, both of side d,
// per area of a cell (1/s).
inline double face_coefficient(double ta, double tb, double d) {
  const double sum = tb * d + ta * d;
  return sum > 0.0 ? 2.0 * ta * tb / sum / d : 0.0;
}

int cell_team(const model_state& ms) {
  return team_size(ms.cell_count);
}

// True when the aquifer gives the ground surface the water its table raises above the ground:
// an aquifer whose storage is its porosity up to the ground, or the profile of a soil of zones
// (no Richards columns); a lake cell gives it to its lake.
bool exfiltration_built(const model_state& ms) {
  return !ms.subsurface.inf_richards;
}

bool lake_cell(const model_state& ms, int c) {
  const channel_state& ch = ms.channel;
  const overland_state& ov = ms.overland;
  return (ms.perennial_lakes && has(ch.lake_mask, c) && ch.lake_mask[c] > 0) ||
         (ov.overland_lake_map && has(ov.oland_lake_new, c) && ov.oland_lake_new[c] > 0);
}

// The storage coefficient of every cell for the step: 1 where the water table is at or above
// the ground (the aquifer's porosity where the surface takes the water above the ground); below it
// the soil's porosity inside the soil depth of the redistribution and layered soils, the aquifer's
// porosity deeper down (and everywhere without those soils).
void set_storage(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  const bool soil_zone = ss.inf_redist || ss.inf_layered_soil;
  const bool zone_profile = gw_soil_zone_on(ms);
  bool warned = false;
  for (int c = 1; c <= ms.cell_count; ++c) {
    const double d = ms.cell_elev[c] - ss.elevgw[c];
    double soil_depth = 0.0;  // cm
    double layer1 = 0.0;      // cm
    const soil_table_record* soil = nullptr;
    if (soil_zone && ss.inf_layered_soil && !ss.soiltype.empty()) {
      const int id = ss.soiltype[c];
      if (id >= 0 && id < max_soil_types) {
        soil = &ss.soil_types[id];
        layer1 = soil->layer_depth[0];
        soil_depth = soil->layer_depth[0] + soil->layer_depth[1];
      }
    } else if (soil_zone) {
      soil_depth = ss.init_unsat_depth_cm;
    }
    double sy = ss.gw_porosity[c];
    if (zone_profile) {
      // The layer the table is in, through the profile the books hold the aquifer's water by.
      sy = gw_profile_slope(gw_cell_profile(ms, c), ss.elevgw[c]);
    } else if (d <= 0.0 && !exfiltration_built(ms)) {
      // Where the surface takes the water above the ground, the table at the ground moves
      // through the aquifer's pores: it keeps the porosity.
      sy = 1.0;
    } else if (soil_zone && d <= soil_depth / 100.0) {
      if (ss.inf_redist) {
        sy = ss.porosity_cell.empty() ? ss.gw_porosity[c] : ss.porosity_cell[c];
      } else if (soil != nullptr) {
        const double wetted = ss.wetdep.empty() ? 0.0 : ss.wetdep[c];
        sy = layer1 > wetted ? soil->layer_porosity[0] : soil->layer_porosity[1];
      }
    }
    if (!(sy > 0.0)) {
      sy = ss.gw_porosity[c];
      if (!warned) printf("there is a problem with groundwater storage term");
      warned = true;
    }
    g.storage[c] = sy;
    g.head_step[c] = ss.elevgw[c];
  }
}

// The part `shortfall` (m/s) of a cell's draws that the aquifer could not give, taken off the
// draws it books itself: the pumping first, then the deep leakage, then the water the soil draws
// back from the table (a negative recharge depth, cm over dt). Returns what is left over, a draw
// another store has already taken (seepage to a channel or lake).
inline double take_less(double shortfall, double& pumping, double& leak, double* recharge_cm,
                        double dt) {
  const double pumped = std::min(shortfall, std::max(pumping, 0.0));
  pumping -= pumped;
  shortfall -= pumped;
  const double leaked = std::min(shortfall, std::max(leak, 0.0));
  leak -= leaked;
  shortfall -= leaked;
  if (recharge_cm != nullptr && *recharge_cm < 0.0) {
    const double drawn = std::min(shortfall, -*recharge_cm / 100.0 / dt);
    *recharge_cm += drawn * 100.0 * dt;
    shortfall -= drawn;
  }
  return std::max(shortfall, 0.0);
}

// Lowest cell of 1..n whose entry of `left` is above 0, 0 when none.
int first_positive(int n, const double* left) {
  return block_ordered_sum<1024, int>(
      n, 0,
      [&](int first, int last) {
        for (int c = first; c <= last; ++c)
          if (left[c] > 0.0) return c;
        return 0;
      },
      [](int& found, int part) {
        if (part != 0) found = part;
        return part == 0;
      });
}

// The volume the sinks of the cells put into the aquifer over dt (m3), summed in block order.
double source_volume(const model_state& ms, double dt) {
  const double area = ms.gridsize * ms.gridsize;
  const double* sink = ms.groundwater.sink.data();
  return block_ordered_sum<1024, double>(
      ms.cell_count, 0.0,
      [&](int first, int last) {
        double part = 0.0;
        for (int c = first; c <= last; ++c) part += -dt * sink[c] * area;
        return part;
      },
      [](double& total, double part) { total += part; });
}

// The net sink of every cell for the interval dt (m/s, positive out of the aquifer), with its
// leakage and pumping; the fluxes waiting for the step are taken and cleared. A sink cut back
// near a dry bottom books only what the aquifer gives: its pumping, leakage and the soil's draw
// on the table take less. What a cut leaves on draws already taken by another store goes into
// `left` (m/s per cell) for the step to refuse.
void take_sources(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  const double area = ms.gridsize * ms.gridsize;
  const double leakage_rate = ss.gw_leakage_rate / 100.0 / seconds_per_hour;
  const bool lakes = ms.perennial_lakes && ms.channel.lake_loss;
  const bool channel = ms.channel.chan_explic != 0;
  double* recharge = ss.recharge_inc.empty() ? nullptr : ss.recharge_inc.data();
  const int n = ms.cell_count;
  const double* head = ss.elevgw.data();
  const double* bottom = ss.bottom_elev.data();
  const unsigned char* held = g.held.data();
  double* lake = g.lake_seepage.data();
  double* chan = g.chan_seepage.data();
  double* extra = g.extra_sink.data();
  double* exchange = g.table_exchange.data();
  double* leakage = g.leakage.data();
  double* pumping = g.pumping.data();
  double* sink = g.sink.data();
  double* left = g.iterate_prev.data();
  const bool keep_exchange = ss.inf_richards != 0;
#pragma omp parallel for schedule(static) num_threads(cell_team(ms))
  for (int c = 1; c <= n; ++c) {
    left[c] = 0.0;
    if (held[c]) {
      sink[c] = 0.0;
      leakage[c] = 0.0;
      pumping[c] = 0.0;
      continue;
    }
    const double b = head[c] - bottom[c];
    const double rch = recharge != nullptr ? recharge[c] / 100.0 / dt : 0.0;
    double lake_rate = 0.0;
    if (lakes) {
      lake_rate = lake[c] / dt / area;
      if (lake_rate != 0.0) lake[c] = 0.0;
    }
    double chan_rate = 0.0;
    if (channel) {
      chan_rate = chan[c] / dt / area;
      chan[c] = 0.0;
    }
    const double further = extra[c] / dt;
    extra[c] = 0.0;
    const double exch = -exchange[c] / 100.0 / dt;
    if (!keep_exchange) exchange[c] = 0.0;
    double leak = leakage_rate;
    if (b < dry_aquifer) leak = 0.0;
    if (leak * dt > b) leak = b / dt;
    if (b < dry_aquifer && pumping[c] > 0.0) pumping[c] = 0.0;
    const double asked = pumping[c] - rch + leak + exch + further + chan_rate + lake_rate;
    double q = asked;
    if (b < thin_aquifer && q > 0.0) q = 0.0;
    if (b - q * dt < thin_aquifer && q > 0.0) q = (b - thin_aquifer) / dt;
    if (q < asked)
      left[c] =
          take_less(asked - q, pumping[c], leak, recharge != nullptr ? &recharge[c] : nullptr, dt);
    leakage[c] = leak;
    sink[c] = q;
  }
}

// After the solve: a cell whose head fell below the token thickness over its bottom is raised
// to it. The water raised is water the aquifer did not hold: the cell's sink takes that much
// less (its pumping, leakage and the soil's draw, as for a cut sink). What the sink cannot
// cover (the cell drained below its bottom into its neighbours, or its cut draws were already
// taken by another store) is the solve's own error while it raises the head by no more than
// the Picard tolerance the heads are solved to: the cell's sink then books it as a source, so
// the aquifer's books stay whole. Beyond that it goes into `left` (m/s) for the step to refuse.
void raise_dry_cells(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  double* h = ss.elevgw.data();
  const double* bottom = ss.bottom_elev.data();
  const double* sy = g.storage.data();
  const unsigned char* held = g.held.data();
  double* sink = g.sink.data();
  double* leakage = g.leakage.data();
  double* pumping = g.pumping.data();
  double* recharge = ss.recharge_inc.empty() ? nullptr : ss.recharge_inc.data();
  double* left = g.iterate_prev.data();
  const double solved_to = g.picard_tolerance;
  const int n = ms.cell_count;
#pragma omp parallel for schedule(static) num_threads(cell_team(ms))
  for (int c = 1; c <= n; ++c) {
    left[c] = 0.0;
    if (held[c] || !(h[c] - bottom[c] < thin_aquifer)) continue;
    const double floor = bottom[c] + thin_aquifer;
    double made = sy[c] * (floor - h[c]) / dt;  // m/s of water
    h[c] = floor;
    const double cut = std::min(made, std::max(sink[c], 0.0));
    sink[c] -= cut;
    made -= cut;
    made +=
        take_less(cut, pumping[c], leakage[c], recharge != nullptr ? &recharge[c] : nullptr, dt);
    if (made * dt <= sy[c] * solved_to) {
      sink[c] -= made;
      made = 0.0;
    }
    left[c] = made;
  }
}

// Lowest cell of 1..n (held cells left out when `skip_held`) whose head is not a number, 0
// when none.
int first_nan_head(const model_state& ms, const double* head, bool skip_code5) {
  const int* code = ms.subsurface.gwbound.data();
  return block_ordered_sum<1024, int>(
      ms.cell_count, 0,
      [&](int first, int last) {
        for (int c = first; c <= last; ++c) {
          if (skip_code5 && (code[c] == 2 || code[c] == 5)) continue;
          if (std::isnan(head[c])) return c;
        }
        return 0;
      },
      [](int& found, int part) {
        if (part != 0) found = part;
        return part == 0;
      });
}

// Exfiltration: every active cell whose table the solve raised above its ground gives the water
// above the ground onto its surface (overland depth) and its head comes back to the ground. The
// aquifer holds its water at its porosity up to the ground, so the water above it is the
// porosity times the head's rise over the ground; under a soil of zones the profile holds the
// water above the ground as open water, the rise itself. Returns the volume given (m3), in
// block order.
double exfiltrate_to_surface(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  const bool open_water = gw_soil_zone_on(ms);
  double* head = ss.elevgw.data();
  const double* ground = ms.cell_elev.data();
  const double* porosity = ss.gw_porosity.data();
  const unsigned char* held = ms.groundwater.held.data();
  double* depth = ms.overland.ov_depth.data();
  double* cum = has(ss.exfil_cum, ms.cell_count) ? ss.exfil_cum.data() : nullptr;
  const double area = ms.gridsize * ms.gridsize;
  return block_ordered_sum<1024, double>(
      ms.cell_count, 0.0,
      [&](int first, int last) {
        double part = 0.0;
        for (int c = first; c <= last; ++c) {
          if (held[c] || !(head[c] > ground[c]) || lake_cell(ms, c)) continue;
          const double e = (open_water ? 1.0 : porosity[c]) * (head[c] - ground[c]);  // m of water
          head[c] = ground[c];
          depth[c] += e;
          if (cum != nullptr) cum[c] += e;
          part += e * area;
        }
        return part;
      },
      [](double& total, double part) { total += part; });
}

// The water a lake cell's table stands above its ground goes into its lake (m3).
struct lake_exfiltration {
  double overland = 0.0;  // into overland lakes
  double channel = 0.0;   // into channel lakes
};

// Pours `volume` (m3) that cell c's table gives into the lake over it: a channel lake takes it
// into its volume and its inflow from the groundwater, as the lake bed's seepage does; an
// overland lake takes it with the step's other volume changes, which the overland lake step
// moves into its surface. False (nothing poured) when the cell has no lake to take it.
bool pour_into_lake(model_state& ms, int c, double volume, lake_exfiltration& given) {
  overland_state& ov = ms.overland;
  channel_state& ch = ms.channel;
  const int channel_lake = ms.perennial_lakes && has(ch.lake_mask, c) ? ch.lake_mask[c] : 0;
  const int overland_lake = has(ov.oland_lake_new, c) ? ov.oland_lake_new[c] : 0;
  if (channel_lake > 0 && has(ch.lake_volume, channel_lake)) {
    ch.lake_volume[channel_lake] += volume;
    if (has(ch.lake_in_dv, channel_lake)) ch.lake_in_dv[channel_lake] += volume;
    given.channel += volume;
    return true;
  }
  if (overland_lake > 0 && has(ov.ov_lakes, overland_lake)) {
    ov.ov_lakes[overland_lake].rain_volume += volume;
    ov.olake_changed = 1;
    given.overland += volume;
    return true;
  }
  return false;
}

// Exfiltration under the lakes: every active lake cell whose table the solve raised above its
// ground gives the water above the ground (as exfiltrate_to_surface measures it) to its lake and
// its head comes back to the ground. Serial: many cells give to one lake, in cell order.
lake_exfiltration exfiltrate_to_lakes(model_state& ms) {
  lake_exfiltration given;
  subsurface_state& ss = ms.subsurface;
  const bool open_water = gw_soil_zone_on(ms);
  const double area = ms.gridsize * ms.gridsize;
  const int n = ms.cell_count;
  for (int c = 1; c <= n; ++c) {
    if (ms.groundwater.held[c] || !(ss.elevgw[c] > ms.cell_elev[c]) || !lake_cell(ms, c)) continue;
    const double e = (open_water ? 1.0 : ss.gw_porosity[c]) * (ss.elevgw[c] - ms.cell_elev[c]);
    if (pour_into_lake(ms, c, e * area, given)) ss.elevgw[c] = ms.cell_elev[c];
  }
  return given;
}

// The water that the tables at the ground of lake cells under Richards columns gave beyond their
// full stores goes into the lakes, in cell order; a cell whose lake cannot take it gives it to
// its surface instead (into `surface`, m3).
lake_exfiltration column_water_to_lakes(model_state& ms, double& surface) {
  lake_exfiltration given;
  surface = 0.0;
  subsurface_state& ss = ms.subsurface;
  const groundwater_state& g = ms.groundwater;
  if (!has(g.column_to_lake, ms.cell_count)) return given;
  const double area = ms.gridsize * ms.gridsize;
  double* depth =
      ms.overland.ov_depth.count() >= ms.cell_count ? ms.overland.ov_depth.data() : nullptr;
  for (int c = 1; c <= ms.cell_count; ++c) {
    const double e = g.column_to_lake[c];  // m of water
    if (!(e > 0.0) || pour_into_lake(ms, c, e * area, given) || depth == nullptr) continue;
    depth[c] += e;
    if (has(ss.exfil_cum, c)) ss.exfil_cum[c] += e;
    surface += e * area;
  }
  return given;
}

// One Picard pass's transmissivities, from the current heads; the heads go back to the start
// of the sub-step and the iterates keep the current ones.
void pass_transmissivities(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  double* h = ss.elevgw.data();
  const double* bottom = ss.bottom_elev.data();
  const double* kx = ss.gw_cond_x.data();
  const double* ky = ss.gw_cond_y.data();
  const double* start = g.head_substep.data();
  double* it = g.iterate.data();
  double* prev = g.iterate_prev.data();
  double* tx = g.trans_x.data();
  double* ty = g.trans_y.data();
  const int n = ms.cell_count;
  team_for(cell_team(ms), 1, n, [&](int c) {
    it[c] = h[c];
    prev[c] = h[c];
    const double b = std::max(h[c] - bottom[c], thin_aquifer);
    tx[c] = b * kx[c];
    ty[c] = b * ky[c];
    h[c] = start[c];
  });
}

// The five-point coefficients of the sub-step dt: held cells keep their head, every other cell
// couples to its neighbours in the aquifer through the harmonic face conductances.
void assemble(model_state& ms, double dt) {
  groundwater_state& g = ms.groundwater;
  const overland_state& ov = ms.overland;
  const double d = ms.gridsize;
  const unsigned char* held = g.held.data();
  const int* code = ms.subsurface.gwbound.data();
  const int* above = ov.abovecon.data();
  const int* below = ov.belowcon.data();
  const int* left = ov.leftcon.data();
  const int* right = ov.rightcon.data();
  const double* tx = g.trans_x.data();
  const double* ty = g.trans_y.data();
  const double* sy = g.storage.data();
  const double* q = g.sink.data();
  const double* start = g.head_substep.data();
  double* cn = g.coef_n.data();
  double* cs = g.coef_s.data();
  double* cw = g.coef_w.data();
  double* ce = g.coef_e.data();
  double* cp = g.coef_p.data();
  double* cr = g.coef_r.data();
  const int n = ms.cell_count;
#pragma omp parallel for schedule(static) num_threads(cell_team(ms))
  for (int c = 1; c <= n; ++c) {
    if (held[c]) {
      cn[c] = cs[c] = cw[c] = ce[c] = 0.0;
      cp[c] = 1.0;
      cr[c] = start[c];
      continue;
    }
    // A neighbour outside the aquifer (code 0) passes no water.
    auto in_aquifer = [&](int nb) { return nb != 0 && code[nb] != 0; };
    cn[c] = in_aquifer(above[c]) ? face_coefficient(ty[c], ty[above[c]], d) : 0.0;
    cs[c] = in_aquifer(below[c]) ? face_coefficient(ty[c], ty[below[c]], d) : 0.0;
    cw[c] = in_aquifer(left[c]) ? face_coefficient(tx[c], tx[left[c]], d) : 0.0;
    ce[c] = in_aquifer(right[c]) ? face_coefficient(tx[c], tx[right[c]], d) : 0.0;
    const double s = sy[c] / dt;
    cp[c] = -(cn[c] + cs[c] + cw[c] + ce[c] + s);
    cr[c] = q[c] - s * start[c];
  }
}

// Largest |head - latest iterate| over the cells; the iterates move on by one.
double pass_change(model_state& ms) {
  groundwater_state& g = ms.groundwater;
  const double* h = ms.subsurface.elevgw.data();
  double* it = g.iterate.data();
  double* prev = g.iterate_prev.data();
  const int n = ms.cell_count;
  double largest = 0.0;
#pragma omp parallel for schedule(static) num_threads(cell_team(ms)) reduction(max : largest)
  for (int c = 1; c <= n; ++c) {
    largest = std::max(largest, std::fabs(h[c] - it[c]));
    prev[c] = it[c];
    it[c] = h[c];
  }
  return largest;
}

// Water that the held heads gave the aquifer over dt through the faces of the last pass (m3),
// into gw_flux of each held cell of code 2 or 5: the flux the solved system passed, so that the
// aquifer's books close to the solver's tolerance.
void held_head_fluxes(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  const overland_state& ov = ms.overland;
  const double d = ms.gridsize;
  const double area = d * d;
  const double* h = ss.elevgw.data();
  const int* code = ss.gwbound.data();
  const unsigned char* held = g.held.data();
  const double* tx = g.trans_x.data();
  const double* ty = g.trans_y.data();
  double* flux = ss.gw_flux.data();
  const int* nbs[4] = {ov.abovecon.data(), ov.belowcon.data(), ov.leftcon.data(),
                       ov.rightcon.data()};
  const double* trans[4] = {ty, ty, tx, tx};
  const int n = ms.cell_count;
#pragma omp parallel for schedule(static) num_threads(cell_team(ms))
  for (int c = 1; c <= n; ++c) {
    if (code[c] != 2 && code[c] != 5) continue;
    double sum = 0.0;
    for (int f = 0; f < 4; ++f) {
      const int nb = nbs[f][c];
      if (nb == 0 || held[nb]) continue;
      sum += face_coefficient(trans[f][c], trans[f][nb], d) * area * (h[c] - h[nb]) * dt;
    }
    flux[c] += sum;
  }
}

// Recharge of this step into cells whose head the solve holds (m3), in cell order.
double held_recharge(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const groundwater_state& g = ms.groundwater;
  if (ss.recharge_inc.count() < ms.cell_count) return 0.0;
  const double area = ms.gridsize * ms.gridsize;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c)
    if (g.held[c]) sum += ss.recharge_inc[c] / 100.0 * area;
  return sum;
}

// One sub-step of `dt` seconds from the heads at its start (head_substep): Picard passes over the
// line solver until the heads move by no more than the Picard tolerance, a cell drained to its
// bottom raised to a token thickness with water its sink gives up, and the held heads' fluxes
// booked. False (the run stopped with a message) when it cannot be solved.
bool solve_substep(model_state& ms, const gw_five_point& sys, double dt) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  const int n = ms.cell_count;
  double* h = ss.elevgw.data();
  for (int pass = 1;; ++pass) {
    if (pass >= slow_passes) printf("GW IS NOT CONVERGING \n");
    if (pass == most_passes) {
      printf("Error: Non-convergence in the groundwater after 1000 tries.\n");
      stop_now();
      return false;
    }
    pass_transmissivities(ms);
    assemble(ms, dt);
    const gw_sor_result r = gw_line_sor_solve(g.lines, g.work, sys, h, ss.gw_solve_factor,
                                              ss.gw_lsor_con, g.sweep_cap, ss.gw_sweep_parity);
    g.last_sweeps += r.sweeps;
    g.total_sweeps += r.sweeps;
    if (!r.converged) {
      printf(
          "Error: the groundwater line solver made %d sweeps without the largest head change of "
          "a sweep falling below GW_LSOR_CON (%g m): the last sweep still changed a head by %g "
          "m. Check GW_RELAX_COEFF (%g) and GW_LSOR_CON.\n",
          g.sweep_cap, ss.gw_lsor_con, r.largest_change, ss.gw_solve_factor);
      stop_now();
      return false;
    }
    g.last_passes = pass;
    if (!(pass_change(ms) > g.picard_tolerance)) break;
  }

  // A cell drained to its bottom keeps a token thickness, raised with water its sink gives up.
  raise_dry_cells(ms, dt);
  const int dry = first_positive(n, g.iterate_prev.data());
  if (dry != 0) {
    printf(
        "Error: the groundwater solve drained cell %d %g m below the least saturated thickness "
        "(%g m) over its bottom by more water than its own draws took (%g m of water over the "
        "groundwater step); raising it would make water. Shorten GW_TIMESTEP or check the "
        "aquifer bottom and its neighbours.\n",
        dry, g.iterate_prev[dry] * dt / g.storage[dry], thin_aquifer, g.iterate_prev[dry] * dt);
    stop_now();
    return false;
  }
  held_head_fluxes(ms, dt);
  return true;
}

}  // namespace

bool groundwater_setup(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  if (!ss.gw_simulation || ms.cell_count < 1) return true;
  const int n = ms.cell_count;
  raw_array1d<double>* cells[] = {
      &g.head_step,  &g.head_substep, &g.iterate,      &g.iterate_prev, &g.storage,
      &g.sink,       &g.leakage,      &g.pumping,      &g.trans_x,      &g.trans_y,
      &g.coef_n,     &g.coef_s,       &g.coef_w,       &g.coef_e,       &g.coef_p,
      &g.coef_r,     &g.chan_seepage, &g.lake_seepage, &g.extra_sink,   &g.table_exchange,
      &g.work.lower, &g.work.diag,    &g.work.upper,   &g.work.rhs};
  for (raw_array1d<double>* a : cells) {
    if (!a->allocate(n)) {
      raw_report_alloc_failure("groundwater work");
      return false;
    }
  }
  if (!g.held.allocate(n) ||
      !gw_build_lines(g.lines, ms.index_map, ms.rows, ms.cols, n, ss.gw_lsor_dir)) {
    raw_report_alloc_failure("groundwater lines");
    return false;
  }
  // Every per-cell input the solve reads must be there for every cell.
  const raw_array1d<double>* inputs[] = {&ss.elevgw,    &ss.bottom_elev, &ss.gw_porosity,
                                         &ss.gw_cond_x, &ss.gw_cond_y,   &ss.gw_flux};
  for (const raw_array1d<double>* a : inputs) {
    if (a->count() < n) {
      printf("Error: the groundwater inputs do not cover the %d cells of the watershed.\n", n);
      return false;
    }
  }
  if (ss.gwbound.count() < n) {
    printf("Error: the groundwater boundary types do not cover the %d cells of the watershed.\n",
           n);
    return false;
  }
  for (int c = 1; c <= n; ++c) {
    g.held[c] = held_code(ss.gwbound[c]) ? 1 : 0;
    if (!ss.gw_static_flux.empty() && c <= ss.gw_static_flux.count())
      g.pumping[c] = ss.gw_static_flux[c];
  }
  if (!read_well_level_locations(ms)) return false;
  if (!gw_richards_setup(ms)) return false;
  g.ready = 1;
  return true;
}

double gw_solve(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  const int n = ms.cell_count;
  // Pumping of the step: the wells, or the static flux of the flux table.
  if (active_well_list != nullptr) {
    well_fluxes(g.pumping, ms.current_time, ms.gridsize);
    if (run_error.error_fatal) return 0.0;
  } else if (!ss.gw_static_flux.empty()) {
    for (int c = 1; c <= n && c <= ss.gw_static_flux.count(); ++c)
      g.pumping[c] = ss.gw_static_flux[c];
  }
  take_sources(ms, dt);
  const int cut = first_positive(n, g.iterate_prev.data());
  if (cut != 0) {
    printf(
        "Error: the aquifer in cell %d is too near its bottom (head %g m, bottom %g m) to give "
        "the seepage a channel or lake already took from it (%g m of water over the "
        "groundwater step).\n",
        cut, ss.elevgw[cut], ss.bottom_elev[cut], g.iterate_prev[cut] * dt);
    stop_now();
    return 0.0;
  }
  if (dt <= 0.0) return source_volume(ms, dt);

  double* h = ss.elevgw.data();
  const int bad = first_nan_head(ms, h, false);
  if (bad != 0) {
    printf("elevgw NaN in main()- point 7, grid cell %d\n", bad);
    stop_now();
    return 0.0;
  }

  const overland_state& ov = ms.overland;
  gw_five_point sys;
  sys.n = g.coef_n.data();
  sys.s = g.coef_s.data();
  sys.w = g.coef_w.data();
  sys.e = g.coef_e.data();
  sys.p = g.coef_p.data();
  sys.r = g.coef_r.data();
  sys.above = ov.abovecon.data();
  sys.below = ov.belowcon.data();
  sys.left = ov.leftcon.data();
  sys.right = ov.rightcon.data();

  // Without Richards columns the interval is one sub-step. Under them each sub-step is the last
  // one's length, halved while a table would cross more than two nodes of its column in it, and
  // after each the columns follow their tables; what they owe the aquifer goes into the rest of
  // the interval.
  const bool columns = ss.inf_richards != 0;
  if (columns) gw_richards_step_start(ms);
  g.last_sweeps = 0;
  g.last_substeps = 0;
  double volume = 0.0;
  double remaining = dt;
  double length = dt;
  while (remaining > 0.0) {
    if (columns) length = gw_richards_substep(ms, length);
    double step = remaining;
    if (length < remaining) step = length;
    remaining = step < remaining ? remaining - step : 0.0;
    ++g.last_substeps;
    std::copy(h, h + n + 1, g.head_substep.data());
    if (!solve_substep(ms, sys, step)) return 0.0;
    volume += source_volume(ms, step);
    if (columns) {
      gw_richards_count_draws(ms, step);
      if (!gw_richards_place(ms)) return 0.0;
      if (remaining > 0.0) gw_richards_pass_owed(ms, remaining);
    }
  }
  if (columns && g.last_substeps > 1) gw_richards_mean_draws(ms, dt);
  return volume;
}

void groundwater_step(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  groundwater_state& g = ms.groundwater;
  process_clock& clock = ms.gw_clock;
  if (ss.gw_simulation != 1 || !g.ready || ms.overland.abovecon.count() < ms.cell_count) return;
  // Due at its next time, or at the first pass after it when the groundwater interval does not
  // fall on the loop's clock (a GW_TIMESTEP shorter than the loop's step would otherwise never
  // come due); the interval taken is the time since the last groundwater update.
  if (ms.current_time - clock.next <= -ms.time_tolerance) return;
  const double dt = (ms.current_time - clock.last) * seconds_per_day;
  const double area = ms.gridsize * ms.gridsize;
  run_totals& t = ms.output.totals;
  event_budget& b = ms.output.budget;
  const int n = ms.cell_count;

  // Heads held by the XY boundary points at this time.
  xy_input& xy = ms.cards.xy_input;
  if (xy.num_gwpts > 0) {
    double gain = 0.0;
    double loss = 0.0;
    apply_xy_gw_bdy(xy, ss.elevgw, ss.gw_porosity, ms.gridsize, gain, loss, ms.current_time);
    if (run_error.error_fatal) return;
    t.run_vol_xy_gain += gain;
    t.run_vol_xy_loss += loss;
    b.event_vol_xy_gw_gain += gain;
    b.event_vol_xy_gw_loss += loss;
  }

  set_storage(ms);
  if (ss.inf_richards) gw_richards_storage(ms);
  const double volume = gw_solve(ms, dt);
  if (run_error.error_fatal) return;
  gw_place_heads(ms);
  t.run_vol_gw_inputs += volume;
  if (ss.inf_richards) {
    // The columns followed their tables after every sub-step; the water they gave the aquifer is
    // its input, and what a step or sub-step before owed it (taken by this solve as a source) was
    // its water already.
    const gw_richards_books moved = gw_richards_step_books(ms);
    t.run_vol_gw_inputs -= moved.column_gain + moved.carried_in;
    t.run_vol_gw_unsat -= moved.column_gain;
    b.event_vol_gw_to_unsat += moved.column_gain;
    // A table at the ground gave the water above it onto the surface, or into the lake over it:
    // the overland lakes are surface water, what they take is exfiltration; a channel lake takes
    // it as groundwater into the lake.
    double surface = 0.0;
    const lake_exfiltration into = column_water_to_lakes(ms, surface);
    ss.exfil_volume += moved.exfiltration + surface + into.overland;
    t.run_vol_gw_exfil += moved.exfiltration + surface + into.overland + into.channel;
    t.run_vol_gw_to_lake += into.channel;
    b.event_vol_gw_to_lake += into.channel;
  }
  // The soil over a held head drains into it: the solve does not take that water, which leaves
  // the aquifer through the head.
  const double held = held_recharge(ms);
  t.run_vol_gw_inputs += held;
  t.run_vol_gw_head_flux -= held;

  // Recharge taken by the solve goes to the books; the heads must be numbers.
  const bool soil_account = gw_soil_zone_on(ms);
  for (int c = 1; c <= n; ++c) {
    if (!ss.recharge_inc.empty()) {
      const double depth = ss.recharge_inc[c];
      // The soil zones keep their own cumulative recharge as they drain (in a long-term run)
      // and as the table moves through them; the Richards columns keep theirs as they drain.
      if (!ss.recharge_cum.empty() && !soil_account && !ss.inf_richards)
        ss.recharge_cum[c] += depth;
      t.run_vol_gw_recharge += depth / 100.0 * area;
      b.event_vol_gw_recharge += depth / 100.0 * area;
      // The event's column books count the water the columns drained as the aquifer took it.
      if (ss.inf_richards) b.event_recharge_depth += depth;
      ss.recharge_inc[c] = 0.0;
    }
  }
  const int bad = first_nan_head(ms, ss.elevgw.data(), true);
  if (bad != 0) {
    printf(
        "A non-real value for the groudwater head was detected for in cell %d after running the "
        "groundwater flow routine.\n",
        bad);
    stop_now();
    return;
  }

  if (exfiltration_built(ms) && ms.overland.ov_depth.count() >= n) {
    const double given = exfiltrate_to_surface(ms);
    ss.exfil_volume += given;
    t.run_vol_gw_exfil += given;
    // The overland lakes are surface water: what they take is exfiltration; a channel lake takes
    // it as groundwater into the lake.
    const lake_exfiltration into = exfiltrate_to_lakes(ms);
    ss.exfil_volume += into.overland;
    t.run_vol_gw_exfil += into.overland + into.channel;
    t.run_vol_gw_to_lake += into.channel;
    b.event_vol_gw_to_lake += into.channel;
  }

  // The soil's wetted zone follows the table; what it gives or takes goes with the next step's
  // recharge.
  gw_reconcile_soil_zone(ms);

  // Bookkeeping of the step, in block order.
  struct step_sums {
    double leakage = 0.0, pumping = 0.0, head_flux = 0.0;
  };
  const double* leakage = g.leakage.data();
  const double* pumping = g.pumping.data();
  double* flux = ss.gw_flux.data();
  const double* head = ss.elevgw.data();
  const double* ground = ms.cell_elev.data();
  int* exfil = ss.yes_exfil.empty() ? nullptr : ss.yes_exfil.data();
  const step_sums sums = block_ordered_sum<1024, step_sums>(
      n, step_sums{},
      [&](int first, int last) {
        step_sums s;
        for (int c = first; c <= last; ++c) {
          s.leakage += dt * leakage[c] * area;
          s.pumping += dt * pumping[c] * area;
          s.head_flux += flux[c];
          flux[c] = 0.0;
          const bool at_surface = ground[c] - head[c] <= 1e-16;
          if (exfil != nullptr) exfil[c] = at_surface ? 1 : 0;
        }
        return s;
      },
      [](step_sums& total, const step_sums& part) {
        total.leakage += part.leakage;
        total.pumping += part.pumping;
        total.head_flux += part.head_flux;
      });
  t.run_vol_gw_leakage += sums.leakage;
  t.run_vol_gw_pumping += sums.pumping;
  t.run_vol_gw_head_flux += sums.head_flux;

  write_well_levels(ms);
  clock.last = ms.current_time;
  clock.next = ms.current_time + clock.interval_days;
}
