// Dissolved constituents on the overland plane, two steps of the time loop that follow the
// overland water step: overland_contam_processes gathers, each on its schedule, the mass the
// water of every cell gains or loses by rain, infiltration, exchange with the soil, decay and
// outflow at the outlet; overland_contam_mass_update applies what was gathered, moves the mass
// between cells by advection and dispersion and books the step into the run and event totals.
#include <algorithm>
#include <cmath>
#include <utility>

#include "framework/core/block_sum.h"
#include "framework/core/parallel_team.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "transport/contaminants/chan_contam.h"
#include "transport/contaminants/contam_kernels.h"
#include "transport/contaminants/contam_source_lanes.h"
#include "transport/contaminants/lake_contam.h"
#include "transport/contaminants/olake_contam.h"
#include "transport/contaminants/sed_contam.h"
#include "transport/transport_steps.h"

namespace {

constexpr double tiny = 1e-16;
constexpr int book_block_cells = 1024;

bool due(double next, const model_state& ms) {
  return std::fabs(next - ms.current_time) < ms.time_tolerance;
}

// Per-cell pointers of row c of a constituent x cell table.
inline double* row(raw_array2d<double>& t, int c) {
  return t[c];
}

ov_rain_infil_view rain_infil_of(model_state& ms, int c, double rain_dt) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  const overland_state& ov = ms.overland;
  ov_rain_infil_view r;
  r.rain = ov.interception_on ? ov.net_rain_cell.data() : ov.rain_cell.data();
  // (Read through the plain block: the sweep of blocks calls this on every thread.)
  r.pc = c <= tr.precip_conc.upper() ? tr.precip_conc.data()[c] : 0.0;
  r.area = ms.gridsize * ms.gridsize;
  r.rain_dt = rain_dt;
  r.mass = row(tr.ov_contam_mass, c);
  r.conc = row(tr.ov_contam_conc, c);
  r.rain_acc = row(ct.ov_precip_acc, c);
  r.prev = ct.ov_depth_prev.data();
  r.lake_cell = tr.chan_contam.lakes >= 1 ? ms.channel.lake_mask.data() : nullptr;
  r.olake_cell = tr.olake_contam.lakes >= 1 ? ms.overland.oland_lake_new.data() : nullptr;
  r.soil = tr.soil_con_trans != 0;
  r.infil_acc = row(ct.ov_infil_acc, c);
  r.soil_infil = r.soil ? row(ct.soil_infil_mass, c) : nullptr;
  r.water = ct.ov_infil_water.data();
  r.depth = ms.overland.ov_depth.data();
  return r;
}

// The rainfall load and the infiltration mass of constituent c, in one sweep of the cells (a
// cell's rain load comes before its infiltration). Returns the mass the dried cells gave (g),
// summed in blocks of book_block_cells in block order.
double rain_and_infiltration(model_state& ms, int c, bool raining, double rain_dt) {
  const ov_rain_infil_view r = rain_infil_of(ms, c, rain_dt);
  if (raining) olake_rain_load(ms, c, rain_dt, r.pc, r.rain);
  return block_ordered_sum<book_block_cells, double>(
      ms.cell_count, 0.0,
      [&](int first, int last) {
        return ov_rain_infil_wide(r, raining, first, last, r.water + first);
      },
      [](double& total, double part) { total += part; });
}

// What the exchange with the soil and the decay of constituent c need of the cells.
struct exchange_decay_cells {
  double area = 0.0;
  double dt = 0.0;
  bool soil = false;
  bool layered = false;
  double thickness = 0.0;
  const double* depth = nullptr;
  const double* k = nullptr;
  const double* cw = nullptr;
  const double* water_mass = nullptr;
  const double* land_conc = nullptr;
  double* land = nullptr;
  double* acc = nullptr;
  double** soil_mass = nullptr;
  raw_array3d<double>::plane_ref<const double> frac_dissolved{nullptr, 0};
  const raw_array2d<double>* theta = nullptr;
  const raw_array2d<double>* carrier_thickness = nullptr;
  const double* prev = nullptr;
  const double* kd = nullptr;
  double* decay_acc = nullptr;
};

exchange_decay_cells exchange_decay_of(model_state& ms, int c, double dt) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  exchange_decay_cells e;
  e.area = ms.gridsize * ms.gridsize;
  e.dt = dt;
  e.soil = tr.soil_con_trans != 0;
  // The layered soil's mixing layer is each cell's own first carrier layer.
  e.layered = e.soil && !ct.carrier_layers.empty();
  e.thickness = e.soil ? ct.soil_layer_thickness[1] : 0.0;
  e.depth = ms.overland.ov_depth.data();
  e.k = row(ct.ov_uptake_rate, c);
  e.cw = row(tr.ov_contam_conc, c);
  e.water_mass = row(tr.ov_contam_mass, c);
  e.land_conc = row(ct.ov_land_conc, c);
  e.land = row(tr.ov_land_mass, c);
  e.acc = row(ct.ov_exchange_acc, c);
  if (e.soil) {
    e.soil_mass = tr.soil_mass.plane(c);
    e.frac_dissolved = std::as_const(ct.soil_frac_dissolved)[c];
    e.theta = &ct.theta;
    e.carrier_thickness = &ct.carrier_thickness;
  }
  e.prev = ct.ov_depth_prev.data();
  e.kd = row(ct.ov_decay_coef, c);
  e.decay_acc = row(ct.ov_decay_acc, c);
  return e;
}

// The exchange of the constituent between the water and the soil (or the land store) over dt
// seconds in cells first..last, then its first-order decay over dt on the mean of the depths
// at the start and the end of the interval; what the decay gathers never exceeds the mass the
// shallower depth holds.
void exchange_decay_block(const exchange_decay_cells& e, int first, int last) {
  // Local copies of the arrays, which do not overlap: the stores into the books then leave the
  // pointers in registers.
  const double area = e.area;
  const double dt = e.dt;
  const bool soil = e.soil;
  const bool layered = e.layered;
  const double thickness = e.thickness;
  const double* __restrict depth = e.depth;
  const double* __restrict k = e.k;
  const double* __restrict cw = e.cw;
  const double* __restrict water_mass = e.water_mass;
  const double* __restrict land_conc = e.land_conc;
  double* __restrict land = e.land;
  double* __restrict acc = e.acc;
  double** soil_mass = e.soil_mass;
  const raw_array3d<double>::plane_ref<const double> frac = e.frac_dissolved;
  const double* __restrict prev = e.prev;
  const double* __restrict kd = e.kd;
  double* __restrict decay_acc = e.decay_acc;
  const double* theta = soil ? (*e.theta)[0] : nullptr;
  const std::ptrdiff_t theta_stride = soil && e.theta->row_count() >= 1 ? (*e.theta)[1] - theta : 0;
  const double* carrier = layered ? (*e.carrier_thickness)[0] : nullptr;
  const std::ptrdiff_t carrier_stride =
      layered && e.carrier_thickness->row_count() >= 1 ? (*e.carrier_thickness)[1] - carrier : 0;
  for (int cell = first; cell <= last; ++cell) {
    const double h = depth[cell];
    const double c = cw[cell];
    if (h >= tiny && land[cell] >= tiny) {
      double flux = 0.0;
      if (soil) {
        const double layer_thickness = layered ? carrier[cell * carrier_stride + 1] : thickness;
        const double pore = theta[cell * theta_stride + 1] * layer_thickness * area;
        const double layer = soil_mass[cell][1];
        const double pore_conc = pore > tiny ? layer * frac[cell][1] / pore : 0.0;
        flux = (pore_conc - c) * k[cell] * area * dt;
        if (flux <= 0.0) {
          if (flux < -water_mass[cell]) flux = -water_mass[cell];
        } else if (flux > layer) {
          flux = layer;
        }
      } else {
        flux = (land_conc[cell] - c) * k[cell] * area * dt;
        if (flux > land[cell]) flux = land[cell];
        if (flux < 0.0) flux = 0.0;
      }
      acc[cell] += flux;
      land[cell] -= flux;
    }
    if (!(h >= tiny && c >= tiny)) continue;
    const double h0 = prev[cell];
    double gathered = decay_acc[cell] + c * kd[cell] * (h0 + h) * 0.5 * area * dt;
    // Both depths are at least 0 and h is wet, so the lesser is taken without a call.
    const double cap = c * (h0 < h ? h0 : h) * area;
    if (gathered > cap) gathered = cap;
    decay_acc[cell] = gathered;
  }
}

// The exchange and the decay of constituent c over dt seconds in every cell.
void exchange_and_decay(model_state& ms, int c, double dt) {
  const exchange_decay_cells e = exchange_decay_of(ms, c, dt);
  const int n = ms.cell_count;
  const int blocks = (n + book_block_cells - 1) / book_block_cells;
#pragma omp parallel for schedule(static) num_threads(team_size(n))
  for (int b = 0; b < blocks; ++b)
    exchange_decay_block(e, 1 + b * book_block_cells, std::min(n, (b + 1) * book_block_cells));
}

// What one block of cells applied of each process in a transport step (g).
struct applied_terms {
  double precip;
  double uptake;
  double decay;
  double infil;
  double to_land;
};

// What the net sources of constituent c in a transport step of dt seconds need of the cells,
// into `source`; with `copies`, the cells' values are copied for the passes on the way.
ov_source_view sources_of(model_state& ms, int c, double dt, double* source, bool copies) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  ov_source_view s;
  s.dt = dt;
  s.kinetics_elapsed = ct.kinetics_elapsed;
  s.infil_elapsed = ct.infil_elapsed;
  s.soil = tr.soil_con_trans != 0;
  const int type = tr.constituent_type[c];
  s.table_terms = type == 1 && ct.contam_table_read;
  // The nutrient species take up what the soil pools release; they do not decay here.
  s.exchange_terms = s.table_terms || type == 2;
  s.mass = row(tr.ov_contam_mass, c);
  s.conc = row(tr.ov_contam_conc, c);
  if (copies) {
    s.work_mass = ct.work_mass.data();
    s.work_conc = ct.work_conc.data();
  }
  s.precip_acc = row(ct.ov_precip_acc, c);
  s.exchange_acc = row(ct.ov_exchange_acc, c);
  s.decay_acc = row(ct.ov_decay_acc, c);
  s.infil_acc = row(ct.ov_infil_acc, c);
  s.soil_uptake = s.soil ? row(ct.soil_uptake_mass, c) : nullptr;
  s.soil_infil = s.soil ? row(ct.soil_infil_mass, c) : nullptr;
  s.source = source;
  return s;
}

// Where the mass a lake cell gathers goes: the pending hand-over of its channel lake or of its
// overland lake; null off the lakes.
double* lake_pending(model_state& ms, int c, int cell) {
  transport_state& tr = ms.transport;
  if (const int lake = contam_lake_of_cell(ms, cell); lake != 0)
    return &tr.chan_contam.lake_ov_inflow_mass[c][lake];
  if (const int lake = olake_of_cell(ms, cell); lake != 0) return &tr.olake_contam.pending[c][lake];
  return nullptr;
}

// The concentration a lake cell lends the water leaving it (g/m3).
double lake_conc_of_cell(const model_state& ms, int c, int cell) {
  const transport_state& tr = ms.transport;
  if (const int lake = contam_lake_of_cell(ms, cell); lake != 0)
    return std::max(tr.chan_contam.lake_conc[c][lake], 0.0);
  if (const int lake = olake_of_cell(ms, cell); lake != 0)
    return std::max(tr.olake_contam.conc[c][lake], 0.0);
  return 0.0;
}

}  // namespace

void overland_contam_processes(model_state& ms) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  if (!tr.ov_con_trans || tr.num_contaminants <= 0) return;
  const process_clock& tc = tr.ov_con_clock;
  if (!due(tc.next, ms)) return;
  const double now = ms.current_time;
  if (!ct.clocks_ready) {
    ct.rain_clock.last = ct.infil_clock.last = ct.kinetics_clock.last = ct.outlet_last = tc.last;
    ct.kinetics_clock.next = tc.next;
    ct.clocks_ready = 1;
  }
  // Between two events the transport clock jumps to the next event's start: the processes
  // start again from there rather than gathering over the time without water.
  const double tol = ms.time_tolerance;
  for (double* last : {&ct.rain_clock.last, &ct.infil_clock.last, &ct.outlet_last})
    if (*last < tc.last - tol) *last = tc.last;
  if (ct.kinetics_clock.next < now - tol) {
    ct.kinetics_clock.last = tc.last;
    ct.kinetics_clock.next = now;
  }
  const int n = ms.cell_count;
  const int nc = tr.num_contaminants;
  const overland_state& ov = ms.overland;

  // 1. Rainfall load.
  ct.rain_elapsed = (now - ct.rain_clock.last) * seconds_per_day;
  ct.rain_clock.last = now;
  // Below freezing a long-term run stores the precipitation as snow, which no input gives a
  // concentration: the snow is clean, and the precipitation brings the water no load.
  const bool snowing = ms.long_term && ms.air_temp < 0.0;
  const bool raining = ov.rain_event_state == 1 && !snowing && holds(ov.rain_cell, n) &&
                       (!ov.interception_on || holds(ov.net_rain_cell, n));

  // 2. Infiltration mass: the water each cell infiltrated since the last run.
  ct.infil_elapsed = (now - ct.infil_clock.last) * seconds_per_day;
  ct.infil_clock.last = now;
  const raw_array1d<double>& total = ms.subsurface.inf_depth_total;
  const double area = ms.gridsize * ms.gridsize;
  double* infil_water = ct.ov_infil_water.data();
  const bool counting = holds(total, n);
  const bool kinetics_due = due(ct.kinetics_clock.next, ms);
  if (kinetics_due) ct.kinetics_elapsed = (now - ct.kinetics_clock.last) * seconds_per_day;
  const int blocks = (n + book_block_cells - 1) / book_block_cells;
  // Unless the aquifer's water comes up between them, each block of cells takes, in one sweep,
  // the infiltrated water, every constituent's rain load and infiltration mass, and then the
  // exchange and decay when due: each cell meets its processes in the same order as in separate
  // sweeps, and the blocks' parts are added in block order, so the sums are the same bits.
  const bool one_sweep =
      !exfiltration_exchanges(ms) &&
      ((ct.block_dried.row_count() >= blocks && ct.block_dried.col_count() >= nc) ||
       ct.block_dried.allocate(blocks, nc));
  if (one_sweep) {
    if (raining) {
      for (int c = 1; c <= nc; ++c) {
        const double pc = c <= tr.precip_conc.upper() ? tr.precip_conc[c] : 0.0;
        olake_rain_load(ms, c, ct.rain_elapsed, pc,
                        ov.interception_on ? ov.net_rain_cell.data() : ov.rain_cell.data());
      }
    }
    const bool kinetics_run = kinetics_due && ct.contam_table_read;
    double* seen = ct.infil_seen.data();
    const double* infiltrated = counting ? total.data() : nullptr;
    raw_array2d<double>& parts = ct.block_dried;
    // (The constituents' kinds read through the plain block, on every thread.)
    const int* type = tr.constituent_type.data();
    model_state& cells = ms;
    // The water each cell infiltrated since the last run lives only while its block is worked
    // (the cells' array of it stays empty between the runs), so it is neither stored for the
    // whole grid nor cleared afterwards.
#pragma omp parallel for schedule(static) num_threads(team_size(n))
    for (int b = 0; b < blocks; ++b) {
      const int first = 1 + b * book_block_cells;
      const int last = std::min(n, (b + 1) * book_block_cells);
      double block_water[book_block_cells];
      if (counting) {
        for (int cell = first; cell <= last; ++cell) {
          block_water[cell - first] = (infiltrated[cell] - seen[cell]) * area;
          seen[cell] = infiltrated[cell];
        }
      } else {
        for (int cell = first; cell <= last; ++cell) block_water[cell - first] = 0.0;
      }
      for (int c = 1; c <= nc; ++c)
        parts[b][c] = ov_rain_infil_wide(rain_infil_of(cells, c, ct.rain_elapsed), raining, first,
                                         last, block_water);
      if (kinetics_run) {
        for (int c = 1; c <= nc; ++c)
          if (type[c] == 1)
            exchange_decay_block(exchange_decay_of(cells, c, ct.kinetics_elapsed), first, last);
      }
    }
    for (int c = 1; c <= nc; ++c) {
      double dried = 0.0;
      for (int b = 0; b < blocks; ++b) dried += parts[b][c];
      tr.ov_infil_dmt[c] += dried;
    }
  } else {
    if (counting) {
      double* seen = ct.infil_seen.data();
      const double* infiltrated = total.data();
#pragma omp parallel for schedule(static) num_threads(team_size(n))
      for (int cell = 1; cell <= n; ++cell) {
        infil_water[cell] = (infiltrated[cell] - seen[cell]) * area;
        seen[cell] = infiltrated[cell];
      }
    }
    // Each constituent's rain load and infiltration mass in one sweep (a cell's rain load comes
    // before its infiltration, each cell on its own).
    for (int c = 1; c <= nc; ++c)
      tr.ov_infil_dmt[c] += rain_and_infiltration(ms, c, raining, ct.rain_elapsed);
#pragma omp parallel for schedule(static) num_threads(team_size(n))
    for (int cell = 1; cell <= n; ++cell) infil_water[cell] = 0.0;
    exfiltration_mass(ms);
    // 3. and 4. Water-soil exchange and decay, every KINETICS_TIMESTEP_FACTOR intervals.
    if (kinetics_due && ct.contam_table_read) {
      for (int c = 1; c <= nc; ++c) {
        if (tr.constituent_type[c] != 1) continue;
        exchange_and_decay(ms, c, ct.kinetics_elapsed);
      }
    }
  }
  if (kinetics_due) {
    if (tr.nutrients) nsm_overland_step(ms, ct.kinetics_elapsed);
    ct.kinetics_clock.last = now;
    ct.kinetics_clock.next = now + ct.kinetics_timestep_factor * tc.interval_days;
  }

  // 7. Outlet mass: the water that left through the outlet cell at the cell's concentration.
  ct.outlet_elapsed = (now - ct.outlet_last) * seconds_per_day;
  ct.outlet_last = now;
  const int o = ms.outlet_cell;
  if (ms.channel.chan_explic == 0 && o >= 1 && o <= n) {
    for (int c = 1; c <= nc; ++c)
      tr.ov_exit_mass[c] += tr.ov_contam_conc[c][o] * ct.ov_outlet_volume;
  }
  ct.ov_outlet_volume = 0.0;

  // 8. With the channel network, the water the channel's lateral flow carried.
  if (ms.channel.chan_explic != 0) ov_chan_contam_exchange(ms);
}

// The step's terms of constituent c into the run and event totals (kg), and the step's
// gatherings cleared; the mass out through the outlet cell counts only when the outlet lies on the
// plane (no channel network takes it).
static void book_overland_step_terms(transport_state& tr, contam_tables& ct, int c,
                                     bool outlet_on_plane) {
  if (outlet_on_plane) {
    tr.OV_MASS_OUT[c] += tr.ov_out_dmt[c] / 1000.0;
    tr.GLOBAL_MASS_OUT[c] += tr.ov_out_dmt[c] / 1000.0;
    tr.event_ov_mass_out[c] += tr.ov_out_dmt[c] / 1000.0;
  }
  tr.OV_MASS_DECAY[c] += tr.ov_decay_dmt[c] / 1000.0;
  tr.event_ov_decay_mass[c] += tr.ov_decay_dmt[c] / 1000.0;
  tr.GLOBAL_MASS_DECAY[c] += tr.ov_decay_dmt[c] / 1000.0;
  tr.OV_INFIL_MASS[c] += tr.ov_infil_dmt[c] / 1000.0;
  tr.event_ov_infil_mass[c] += tr.ov_infil_dmt[c] / 1000.0;
  tr.OV_UPTAKE_MASS[c] += tr.ov_uptake_dmt[c] / 1000.0;
  tr.event_ov_uptake_mass[c] += tr.ov_uptake_dmt[c] / 1000.0;
  tr.OV_PRECIP_MASS[c] += tr.ov_precip_dmt[c] / 1000.0;
  ct.global_precip_mass[c] += tr.ov_precip_dmt[c] / 1000.0;
  tr.event_ov_precip_mass[c] += tr.ov_precip_dmt[c] / 1000.0;
  tr.OV_LAND_MASS[c] += ct.ov_land_dmt[c] / 1000.0;
  tr.event_ov_land_mass[c] += ct.ov_land_dmt[c] / 1000.0;
  tr.ov_out_dmt[c] = tr.ov_decay_dmt[c] = tr.ov_infil_dmt[c] = 0.0;
  tr.ov_uptake_dmt[c] = tr.ov_precip_dmt[c] = 0.0;
  ct.ov_land_dmt[c] = 0.0;
}

void overland_contam_mass_update(model_state& ms) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  if (!tr.ov_con_trans) return;
  process_clock& tc = tr.ov_con_clock;
  if (!due(tc.next, ms)) return;
  const double dt = (tc.next - tc.last) * seconds_per_day;
  const int n = ms.cell_count;
  const double area = ms.gridsize * ms.gridsize;
  const bool soil = tr.soil_con_trans != 0;
  overland_state& ov = ms.overland;
  const double* depth = ov.ov_depth.data();

  for (int c = 1; c <= tr.num_contaminants && dt > 0.0; ++c) {
    if (tr.constituent_type[c] == 3) continue;
    olake_spill(ms, c);
    double* mass = row(tr.ov_contam_mass, c);
    double* conc = row(tr.ov_contam_conc, c);
    const double* disp = row(ct.ov_disp_coef, c);
    double* soil_infil = soil ? row(ct.soil_infil_mass, c) : nullptr;
    // With lakes the passes work on copies, since the lakes' cells hand over what the passes
    // left them after their own values are cleared; without, on the cells' values themselves.
    const bool lakes_here = tr.chan_contam.lakes >= 1 || tr.olake_contam.lakes >= 1;
    double* wm = lakes_here ? ct.work_mass.data() : mass;
    double* wc = lakes_here ? ct.work_conc.data() : conc;
    double* ws = ct.work_source.data();

    // 1. The work copies and each cell's net source from the processes' accumulators.
    const ov_source_view sc = sources_of(ms, c, dt, ws, lakes_here);
    const ov_source_applied applied = block_ordered_sum<book_block_cells, ov_source_applied>(
        n, ov_source_applied{},
        [&](int first, int last) { return ov_sources_wide(sc, first, last); },
        [](ov_source_applied& t, const ov_source_applied& p) {
          t.precip += p.precip;
          t.uptake += p.uptake;
          t.decay += p.decay;
          t.infil += p.infil;
        });
    tr.ov_precip_dmt[c] += applied.precip;
    tr.ov_uptake_dmt[c] += applied.uptake;
    tr.ov_decay_dmt[c] += applied.decay;
    tr.ov_infil_dmt[c] += applied.infil;
    // 8. Without the channel network, the outlet cell loses the mass gathered as leaving it.
    const int o = ms.outlet_cell;
    if (ms.channel.chan_explic == 0 && o >= 1 && o <= n) {
      double m = wm[o] + ws[o] * dt;
      double& exit = tr.ov_exit_mass[c];
      const double out = apply_cell_term(m, exit, dt, dt, -1.0);
      ws[o] -= out / dt;
      tr.ov_out_dmt[c] += out;
    }

    // 2. Advection and dispersion.
    ov_constit_view v;
    v.cell_count = n;
    v.dt = dt;
    v.area = area;
    v.abovecon = ov.abovecon.data();
    v.belowcon = ov.belowcon.data();
    v.leftcon = ov.leftcon.data();
    v.rightcon = ov.rightcon.data();
    v.depth = depth;
    // The explicit scheme's faces carry their mean discharge of the step, so that each face
    // moves the mass of the water it moved; its discharges are those of its last sub-step.
    const bool means = ov.explicit_mean_ready != 0;
    v.flux_x = means ? ov.ovx_mean_flux_x.data() : ov.ov_flux_x.data();
    v.flux_y = means ? ov.ovx_mean_flux_y.data() : ov.ov_flux_y.data();
    v.disp = disp;
    v.source = ws;
    v.mass = wm;
    v.conc = wc;
    v.face = ct.face_flux.data();
    v.face_corr = ct.face_flux_corr.data();
    v.pred_conc = ct.pred_conc.data();
    v.sweep = tr.ov_contam_sweep_parity;
    if (ct.ov_link_reach == 0) ct.ov_link_reach = ov_constit_reach(v);
    v.reach = ct.ov_link_reach;
    // The cells under a channel lake lend the lake's concentration to the water leaving them
    // over the shore and gather, for the lake, what the water brings them.
    chan_contam_tables& cc = tr.chan_contam;
    olake_contam_tables& oc = tr.olake_contam;
    if (cc.lakes >= 1 || oc.lakes >= 1) {
      double* held = oc.held.data();
      // Each cell finds its lake on its own thread: a lake's cell lends the lake's concentration
      // (never -1) and sets aside, in the face array the passes fill later, the mass that water
      // a rising lake took brought along; then the lakes gather those masses on this thread in
      // cell order, so their sums are the same bits on any thread count.
      double* brought = ct.face_flux.data();
      const model_state& lookup = ms;
#pragma omp parallel for schedule(static) num_threads(team_size(n))
      for (int cell = 1; cell <= n; ++cell) {
        const bool lake =
            contam_lake_of_cell(lookup, cell) != 0 || olake_of_cell(lookup, cell) != 0;
        held[cell] = lake ? lake_conc_of_cell(lookup, c, cell) : -1.0;
        if (lake) {
          brought[cell] = wm[cell] + ws[cell] * dt;
          wm[cell] = 0.0;
          wc[cell] = held[cell];
          ws[cell] = 0.0;
        }
      }
      for (int cell = 1; cell <= n; ++cell) {
        if (held[cell] == -1.0) continue;
        *lake_pending(ms, c, cell) += brought[cell];
        if (contam_lake_of_cell(ms, cell) != 0) cc.ov_to_lakes[c] += brought[cell] / 1000.0;
      }
      v.held_conc = held;
    }
    const double missing = ov_constit_flux(v);
    tr.event_ov_neg_mass[c] += missing / 1000.0;
    ct.neg_mass_total[c] += missing / 1000.0;

    // 3. The work values back; a cell that ran dry hands its mass to the soil or the land.
    double* land = row(tr.ov_land_mass, c);
    const applied_terms handed = block_ordered_sum<book_block_cells, applied_terms>(
        n, applied_terms{},
        [&](int first, int last) {
          applied_terms part{};
          double unused = 0.0;
          for (int cell = first; cell <= last; ++cell) {
            double m = wm[cell];
            double cw = wc[cell];
            if (v.held_conc != nullptr && v.held_conc[cell] >= 0.0) {
              // What the lake's cell gathered (net) is the lake's: handed over below.
              mass[cell] = conc[cell] = 0.0;
              continue;
            }
            // Without lakes the passes worked on the cells' values themselves: only a cell
            // whose values change here is written back.
            bool changed = lakes_here;
            if (m < 0.0) {
              m = cw = 0.0;
              changed = true;
            }
            // Only a dry cell that holds mass hands it over: the wet cells, nearly all of
            // them, pass without the call.
            if (depth[cell] < tiny && m >= tiny &&
                dry_cell_handoff(depth[cell], m, cw, soil, soil ? soil_infil[cell] : unused,
                                 land[cell], part.infil, part.to_land))
              changed = true;
            if (changed) {
              mass[cell] = m;
              conc[cell] = cw;
            }
          }
          return part;
        },
        [](applied_terms& t, const applied_terms& p) {
          t.infil += p.infil;
          t.to_land += p.to_land;
        });
    tr.ov_infil_dmt[c] += handed.infil;
    ct.ov_land_dmt[c] += handed.to_land;
    if (cc.lakes >= 1 || oc.lakes >= 1) {
      double to_chan_lakes = 0.0;
      // The lakes' cells alone, in cell order: those lending a concentration.
      const double* held = v.held_conc;
      for (int cell = 1; cell <= n; ++cell) {
        if (held[cell] == -1.0) continue;
        double* into = lake_pending(ms, c, cell);
        *into += wm[cell];
        if (contam_lake_of_cell(ms, cell) != 0) to_chan_lakes += wm[cell];
      }
      if (cc.lakes >= 1) cc.ov_to_lakes[c] += to_chan_lakes / 1000.0;
    }
    olake_update(ms, c, dt);
    // The overland lakes' water and their suspended sediment share the lakes' constituent.
    sed_contam_partition_olakes(ms, c);

    book_overland_step_terms(tr, ct, c, ms.channel.chan_explic == 0);
  }

  olake_spill_done(ms);
  // With SEDIMENT_CONTAM the moved water and the moved sediment share each cell's mass again.
  sed_contam_partition(ms);
  tc.last = ms.current_time;
  tc.next = ms.current_time + tc.interval_days;
  // A long-term run's overland schedule that jumped a dry spell takes the constituents with it:
  // they start again with the surface at the next event.
  const process_clock& ovc = ms.ov_clock;
  if (ov.dry_skip_pending && ovc.next > tc.next + ms.time_tolerance) {
    tc.next = ovc.next;
    tc.last = ovc.last;
  }
  tr.ov_contam_sweep_parity = tr.ov_contam_sweep_parity == 1 ? 2 : 1;
  double* prev = ct.ov_depth_prev.data();
#pragma omp parallel for schedule(static) num_threads(team_size(n))
  for (int cell = 1; cell <= n; ++cell) prev[cell] = depth[cell];
}
