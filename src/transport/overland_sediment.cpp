// The overland sediment step, called by the overland flow step once it has moved the water: rain
// splash and flow detach soil into suspension, the suspended sediment of every size class follows
// the face discharges from cell to cell and out through the outlet, and part of it settles back as
// loose deposit. Detachment is per cell (parallel); the transport moves sediment in place in cell
// order, cell after cell, each cell settling as soon as its own moves are done. Without lakes it
// runs on many threads through the tiles of the sediment sweep, whose levels keep every cell's
// moves in that order, so the result is the single pass's on any thread count; with lakes (whose
// stores every shore cell shares) it runs on one thread. With SEDIMENT_CONTAM the constituents
// bound to the fine sediment are taken up, carried and settled with it, share for share.
#include <cmath>
#include <cstdio>

#include "framework/core/parallel_team.h"
#include "framework/model_state.h"
#include "transport/contaminants/sed_contam.h"
#include "transport/sediment_kernels.h"
#include "transport/sediment_lanes.h"
#include "transport/sediment_sweep.h"
#include "transport/transport_steps.h"

namespace {

// Everything the step reads and writes, unpacked from the model state.
struct sediment_views {
  int cells = 0;
  int classes = 0;
  int method = 0;
  double dt = 0.0;
  double dx = 0.0;
  const double* depth = nullptr;
  const double* elev = nullptr;
  double* adjusted_elev = nullptr;  // ADJUST_ELEV: the ground elevations that follow the sediment
  const double* flux_x = nullptr;   // m3/s across the right face
  const double* flux_y = nullptr;   // m3/s across the lower face
  const double* rain = nullptr;     // mm/h
  const int* right = nullptr;
  const int* below = nullptr;
  const int* left = nullptr;
  const int* above = nullptr;
  int outlet = 0;             // outlet cell draining over the grid's edge, 0 none
  double outlet_slope = 0.0;  // bed slope at the outlet
  double outlet_q = 0.0;      // m3/s leaving the outlet cell in the step
  ov_sediment_obj* sed = nullptr;
  sediment_class_data class_data;
  // The water pass's results: the logarithms of the water terms of forms 3 and 4 (null for the
  // other forms) and per class the rows of the settled shares.
  bool stream_power = false;
  const double* log_cell = nullptr;
  const double* log_x = nullptr;
  const double* log_y = nullptr;
  double* const* settle_share = nullptr;
  // Channel lakes: the lake of each cell (none when null), and the lakes' suspended wash load.
  const int* lake = nullptr;
  int lakes = 0;
  const double* lake_volume = nullptr;  // per lake: water volume (m3)
  transport_state* tr = nullptr;
  // Overland lakes: the overland lake of each cell (none when null), the lakes' records and
  // their sediment (olake_sed, olake_sed_in, olake_sed_settled of the transport record).
  const int* olake = nullptr;
  int olakes = 0;
  const lake_record* olake_records = nullptr;
  double* const* olake_sed = nullptr;
  double* const* olake_in = nullptr;
  double* const* olake_settled = nullptr;
  // SEDIMENT_CONTAM: the constituents bound to the fine sediment move with it (inactive when
  // bound.bound is null).
  bound_payload bound;
};

int lake_at(const sediment_views& v, int c) {
  if (v.lake == nullptr || c < 1) return 0;
  const int id = v.lake[c];
  return id >= 1 && id <= v.lakes ? id : 0;
}

// The overland lake of cell c, 0 for none (a cell of a channel lake belongs to that lake).
int olake_at(const sediment_views& v, int c) {
  if (v.olake == nullptr || c < 1 || lake_at(v, c) != 0) return 0;
  const int id = v.olake[c];
  return id >= 1 && id <= v.olakes ? id : 0;
}

cell_sediment cell_view(const sediment_views& v, int c) {
  ov_sediment_obj& s = *v.sed;
  return {v.classes, s.vol_sed.plane_table()[c], s.sed_fract.plane_table()[c], s.sed_vol_eroded[c]};
}

// Phase 1, one cell, after the water pass: splash, then flow detachment. A cell of a lake
// detaches nothing and its water is still: all it holds settles.
void erode_cell(const sediment_views& v, int c) {
  ov_sediment_obj& s = *v.sed;
  if (lake_at(v, c) != 0 || olake_at(v, c) != 0) {
    s.cell_discharge[c] = 0.0;
    for (int k = 1; k <= v.classes; ++k) v.settle_share[k][c] = 1.0;
    return;
  }
  const double slope = std::sqrt(s.slope_x[c] * s.slope_x[c] + s.slope_y[c] * s.slope_y[c]);
  const cell_sediment cell = cell_view(v, c);
  const bool channel = s.channel_cells[c] != 0;
  const double h = v.depth[c];
  // The water pass worked out the splash volume of the cell's rain.
  if (v.rain != nullptr && v.rain[c] > sed_tiny) sed_splash_take(cell, s.splash_volume[c], channel);

  const double coef = s.detach_coef[c] > 0.0 ? s.detach_coef[c] : 2e-05;
  const double crit = s.detach_crit[c] > 0.0 ? s.detach_crit[c] : 0.0;
  const double expo = s.detach_exp[c] > 0.0 ? s.detach_exp[c] : 1.0;
  const double q = s.cell_discharge[c] / v.dx;
  const double cap = v.stream_power ? sed_stream_power_capacity(v.method, v.log_cell[c], h, q, v.dt,
                                                                v.dx, cell, v.class_data)
                                    : sed_transport_capacity(v.method, slope, h, q, v.dt, v.dx,
                                                             cell, v.class_data, s.sed_K[c]);
  if (q > sed_tiny)
    sed_flow_erode_deposit(cell, slope, h, v.dt, v.dx, coef, expo, crit, cap, channel);
}

// Phase 2, a lake's shore cell giving water to a cell outside the lake: the water carries the
// lake's suspended wash load at the lake's concentration, never more than the lake holds.
double lake_gives(const sediment_views& v, int lake, int giver, int receiver, double q) {
  ov_sediment_obj& s = *v.sed;
  transport_state& tr = *v.tr;
  double* store = tr.ch_wash_vol[tr.lake_row0 + lake];
  const double volume = v.lake_volume[lake];
  if (!(volume > sed_tiny)) return 0.0;
  const bool flux = !s.ov_qsmax.empty();
  double out = 0.0;
  for (int i = 1; i <= tr.num_fine_classes; ++i) {
    const int k = s.sed_class[i];
    double m = store[i] / volume * std::fabs(q) * v.dt;
    if (m > store[i]) m = store[i];
    if (!(m > 0.0)) continue;
    if (v.bound.bound != nullptr) bound_from_lake(v.bound, lake, receiver, k, m / store[i]);
    store[i] -= m;
    store[0] -= m;
    tr.sed_to_lakes[k] -= m;
    tr.lake_sed_books[lake][3] -= m;
    if (receiver != 0) {
      s.vol_sed[receiver][k][2] += m;
    } else {
      s.vol_sed[giver][k][4] += m;
      s.vol_sed[giver][0][4] += m;
      out += m;
    }
    if (flux) s.ov_qsmax[giver][k] += m / v.dt;
  }
  return out;
}

// Phase 2, an overland lake's shore cell giving water to a cell outside the lake (or, at the
// outlet, out of the grid): the water carries every class the lake holds in suspension at the
// lake's concentration, never more than the lake holds. Returns the volume handed out of the
// grid.
double olake_gives(const sediment_views& v, int lake, int giver, int receiver, double q) {
  ov_sediment_obj& s = *v.sed;
  const double volume = v.olake_records[lake].volume;
  if (!(volume > sed_tiny)) return 0.0;
  double* store = v.olake_sed[lake];
  double* in = v.olake_in[lake];
  const bool flux = !s.ov_qsmax.empty();
  double out = 0.0;
  for (int k = 1; k <= v.classes; ++k) {
    double m = store[k] / volume * std::fabs(q) * v.dt;
    if (m > store[k]) m = store[k];
    if (!(m > 0.0)) continue;
    if (v.bound.bound != nullptr) bound_from_olake(v.bound, lake, receiver, k, m / store[k]);
    store[k] -= m;
    store[0] -= m;
    in[k] -= m;
    if (receiver != 0) {
      s.vol_sed[receiver][k][2] += m;
    } else {
      s.vol_sed[giver][k][4] += m;
      s.vol_sed[giver][0][4] += m;
      out += m;
    }
    if (flux) s.ov_qsmax[giver][k] += m / v.dt;
  }
  return out;
}

// Phase 2, one face: the giver hands the receiver what its capacity carries of its suspension.
// receiver 0 is the outside of the grid past the outlet cell. Returns the volume handed out of
// the grid. Into a lake the sand settles on the shore cell and the fine classes join the lake's
// wash load; out of a lake the water carries the lake's wash load; between two cells of lakes
// nothing moves.
double move_across(const sediment_views& v, int giver, int receiver, double q, double slope,
                   double log_term, const double* given_cap, double* capacity) {
  ov_sediment_obj& s = *v.sed;
  const int from_lake = lake_at(v, giver), into_lake = lake_at(v, receiver);
  const int from_olake = olake_at(v, giver), into_olake = olake_at(v, receiver);
  if (from_lake != 0) {
    capacity[giver] = 0.0;
    return into_lake != 0 || into_olake != 0 ? 0.0 : lake_gives(v, from_lake, giver, receiver, q);
  }
  if (from_olake != 0) {
    capacity[giver] = 0.0;
    return into_lake != 0 || into_olake != 0 ? 0.0 : olake_gives(v, from_olake, giver, receiver, q);
  }
  const cell_sediment from = cell_view(v, giver);
  const double h = v.depth[giver], unit_q = std::fabs(q) / v.dx;
  double cap =
      given_cap != nullptr ? *given_cap
      : v.stream_power
          ? sed_stream_power_capacity(v.method, log_term, h, unit_q, v.dt, v.dx, from, v.class_data)
          : sed_transport_capacity(v.method, std::fabs(slope), h, unit_q, v.dt, v.dx, from,
                                   v.class_data, s.sed_K[giver]);
  if (cap < -sed_tiny) cap = -cap;
  capacity[giver] = cap;
  double suspended = 0.0;
  for (int k = 1; k <= v.classes; ++k) suspended += from.vol[k][2];
  if (!(cap > sed_tiny) || !(suspended > sed_tiny)) return 0.0;
  const double carried = cap < suspended ? cap : suspended;
  double out = 0.0;
  const bool flux = !s.ov_qsmax.empty();
  for (int k = 1; k <= v.classes; ++k) {
    const double f = from.vol[k][2] / suspended;
    from.fract[k][2] = f;
    const double m = f * carried;
    if (v.bound.bound != nullptr && from.vol[k][2] > 0.0) {
      const double share = m / from.vol[k][2];
      if (into_lake != 0)
        bound_into_lake(v.bound, giver, into_lake, k, share);
      else if (into_olake != 0)
        bound_into_olake(v.bound, giver, into_olake, k, share);
      else
        bound_move(v.bound, giver, receiver, k, share);
    }
    from.vol[k][2] -= m;
    if (into_lake != 0) {
      transport_state& tr = *v.tr;
      if (s.sand[k] != 0) {
        s.vol_sed[receiver][k][3] += m;
        tr.lake_sed_books[into_lake][5] += m;
      } else {
        double* store = tr.ch_wash_vol[tr.lake_row0 + into_lake];
        store[tr.fine_position[k]] += m;
        store[0] += m;
        tr.sed_to_lakes[k] += m;
        tr.lake_sed_books[into_lake][3] += m;
      }
    } else if (into_olake != 0) {
      // Every class joins the overland lake's suspension; its settling takes it to the bed.
      v.olake_sed[into_olake][k] += m;
      v.olake_sed[into_olake][0] += m;
      v.olake_in[into_olake][k] += m;
    } else if (receiver != 0) {
      s.vol_sed[receiver][k][2] += m;
    } else {
      s.vol_sed[giver][k][4] += m;
      s.vol_sed[giver][0][4] += m;
      out += m;
    }
    if (flux) s.ov_qsmax[giver][k] += m / v.dt;
  }
  return out;
}

// Before the step, the suspension of a cell an overland lake has taken in joins the lake's.
void gather_olake_cells(const sediment_views& v) {
  ov_sediment_obj& s = *v.sed;
  for (int c = 1; c <= v.cells; ++c) {
    const int lake = olake_at(v, c);
    if (lake == 0) continue;
    for (int k = 1; k <= v.classes; ++k) {
      const double m = s.vol_sed[c][k][2];
      if (!(m > 0.0)) continue;
      if (v.bound.bound != nullptr) bound_into_olake(v.bound, c, lake, k, 1.0);
      s.vol_sed[c][k][2] = 0.0;
      v.olake_sed[lake][k] += m;
      v.olake_sed[lake][0] += m;
      v.olake_in[lake][k] += m;
    }
  }
}

// Settling in the overland lakes over the step: each class settles out of the lake's water
// column at its settling velocity over the lake's cells, onto the lake bed.
void settle_olakes(const sediment_views& v) {
  const ov_sediment_obj& s = *v.sed;
  for (int lake = 1; lake <= v.olakes; ++lake) {
    const lake_record& r = v.olake_records[lake];
    const double area = r.num_cells * v.dx * v.dx;
    double* store = v.olake_sed[lake];
    double total = 0.0;
    for (int k = 1; k <= v.classes; ++k) {
      const double share = lake_settled_fraction(s.settling_vel[k], v.dt, area, r.volume);
      const double settled = share * store[k];
      if (v.bound.bound != nullptr && store[k] > 0.0) bound_settle_olake(v.bound, lake, k, share);
      store[k] -= settled;
      v.olake_settled[lake][k] += settled;
      total += store[k];
    }
    store[0] = total;
  }
}

// Phase 2, one cell: across its right face, then across its lower face, each moving sediment
// from whichever side the water leaves. Touches only the cell, its right neighbour and the cell
// below (and with lakes the lakes' stores). Returns the volume handed out of the grid.
double move_from_cell(const sediment_views& v, int c, int drains_y) {
  ov_sediment_obj& s = *v.sed;
  const bool outlet = c == v.outlet;
  int next[2];
  bool active[2];
  double q[2], log_term[2] = {0.0, 0.0};
  for (int dir = 0; dir < 2; ++dir) {
    next[dir] = dir == 0 ? v.right[c] : v.below[c];
    const bool edge = outlet && (dir == 1) == (drains_y != 0);
    active[dir] = next[dir] != 0 || edge;
    if (edge) next[dir] = 0;
    q[dir] = edge ? v.outlet_q : (dir == 0 ? v.flux_x[c] : v.flux_y[c]);
    if (v.stream_power) log_term[dir] = dir == 0 ? v.log_x[c] : v.log_y[c];
  }
  // A cell that gives across both faces carries off a suspension of one composition (what
  // leaves across the first face leaves every class in proportion): both capacities take the
  // one median, worked out before anything moves.
  double cap[2];
  const double* given[2] = {nullptr, nullptr};
  if (v.stream_power && active[0] && active[1] && q[0] >= 0.0 && q[1] >= 0.0 &&
      lake_at(v, c) == 0 && olake_at(v, c) == 0) {
    const double log_d = sed_log_median_um(cell_view(v, c), v.class_data);
    for (int dir = 0; dir < 2; ++dir) {
      cap[dir] = sed_stream_power_of_logs(v.method, log_term[dir], log_d, v.depth[c],
                                          std::fabs(q[dir]) / v.dx, v.dt, v.dx);
      given[dir] = &cap[dir];
    }
  }
  double out = 0.0;
  for (int dir = 0; dir < 2; ++dir) {
    if (!active[dir]) continue;
    const double slope = dir == 0 ? s.slope_x[c] : s.slope_y[c];
    double* capacity = dir == 0 ? s.qsx.data() : s.qsy.data();
    if (q[dir] >= 0.0)
      out += move_across(v, c, next[dir], q[dir], slope, log_term[dir], given[dir], capacity);
    else if (next[dir] != 0)
      move_across(v, next[dir], c, q[dir], slope, log_term[dir], nullptr, capacity);
  }
  return out;
}

// Phase 3 and 4, one cell: settling of every class, then the output arrays. Returns 1 when a
// volume of the cell is not a number. Every move that touches a cell is made by the cell itself,
// by its left neighbour or by the cell above, all of which come before it in cell order: once
// the cell has moved its own sediment it is settled at once, in the same pass.
int settle_cell(const sediment_views& v, int c) {
  ov_sediment_obj& s = *v.sed;
  double* const* vol = s.vol_sed.plane_table()[c];
  double* deposited = s.sed_vol_deposited[c];
  double* eroded = s.sed_vol_eroded[c];
  double* qsvol = s.ov_qsvol[c];
  int not_finite = 0;
  for (int k = 1; k <= v.classes; ++k) {
    const double trap = v.settle_share[k][c];
    double* slot = vol[k];
    const double settled = trap * slot[2];
    if (v.bound.bound != nullptr) bound_settle(v.bound, c, k, trap);
    slot[2] -= settled;
    slot[3] += settled;
    deposited[k] += settled;
    deposited[0] += settled;
    not_finite |= !std::isfinite(slot[1]) || !std::isfinite(slot[2]) || !std::isfinite(slot[3]);
  }
  if (!s.ov_qsmax.empty()) {
    double sum = 0.0;
    for (int k = 1; k <= v.classes; ++k) sum += s.ov_qsmax[c][k];
    s.ov_qsmax[c][0] = sum;
  }
  if (!s.ov_qsconc.empty()) {
    double sum = 0.0;
    for (int k = 1; k <= v.classes; ++k) sum += s.ov_qsconc[c][k] = vol[k][2];
    s.ov_qsconc[c][0] = sum;
  }
  // The step's net deposit joins the run's; the step's accumulators start again at 0.
  double net = 0.0;
  for (int k = 1; k <= v.classes; ++k) {
    qsvol[k] += deposited[k] - eroded[k];
    net += qsvol[k];
    deposited[k] = 0.0;
    eroded[k] = 0.0;
  }
  if (!s.ov_net_sed.empty()) s.ov_net_sed[c] = net;
  // The ground rises by what the step left on the cell and falls by what it took up.
  if (v.adjusted_elev != nullptr) v.adjusted_elev[c] += (deposited[0] - eroded[0]) / (v.dx * v.dx);
  deposited[0] = 0.0;
  eroded[0] = 0.0;
  return not_finite;
}

// The plain case: no lakes of either kind, no bound constituents, no flux or concentration
// maps. Its cells reach their rows in the blocks of the volumes, compositions and step books by
// index arithmetic instead of through the blocks' pointer tables (a load each, most of them
// missing the cache on a large grid), and skip the branches only the other cases need. A giver's
// composition is worked out once per move, for its median and the shares that leave, and the
// settled volumes go straight into the run's deposit. It makes the same moves in the same order
// with the same arithmetic, so its results are the general path's bit for bit.
constexpr int plain_max_classes = 16;
// How many cells ahead the plain path asks for the rows it will touch.
constexpr int plain_ahead = 8;

struct cell_blocks {
  int classes = 0;
  double* vol = nullptr;  // vol_sed: cell c, class k, slot at c * vol_plane + k * vol_row + slot
  long vol_plane = 0, vol_row = 0;
  double* fract = nullptr;  // sed_fract, the same way
  long fract_plane = 0, fract_row = 0;
  double* eroded = nullptr;  // sed_vol_eroded: cell c at c * eroded_row
  long eroded_row = 0;
  double* qsvol = nullptr;  // ov_qsvol
  long qsvol_row = 0;
};

// The blocks of the plain case; false when the run is not plain or a block is not laid out as
// the plain case reads it.
bool plain_blocks(const sediment_views& v, cell_blocks& b) {
  ov_sediment_obj& s = *v.sed;
  if (v.lake != nullptr || v.olake != nullptr || v.bound.bound != nullptr || !s.ov_qsmax.empty() ||
      !s.ov_qsconc.empty() || v.classes > plain_max_classes)
    return false;
  if (s.vol_sed.row_count() < v.classes || s.vol_sed.col_count() < 4 ||
      s.sed_fract.row_count() < v.classes || s.sed_fract.col_count() < 3 ||
      s.sed_vol_eroded.col_count() < v.classes || s.ov_qsvol.col_count() < v.classes)
    return false;
  b.classes = v.classes;
  b.vol = s.vol_sed.data();
  b.vol_row = s.vol_sed.col_count() + 1L;
  b.vol_plane = (s.vol_sed.row_count() + 1L) * b.vol_row;
  b.fract = s.sed_fract.data();
  b.fract_row = s.sed_fract.col_count() + 1L;
  b.fract_plane = (s.sed_fract.row_count() + 1L) * b.fract_row;
  b.eroded = s.sed_vol_eroded.data();
  b.eroded_row = s.sed_vol_eroded.col_count() + 1L;
  b.qsvol = s.ov_qsvol.data();
  b.qsvol_row = s.ov_qsvol.col_count() + 1L;
  return true;
}

// A cell's view for the kernels, its row tables on the stack.
struct plain_cell {
  double* vol[plain_max_classes + 1];
  double* fract[plain_max_classes + 1];
  cell_sediment view;
  plain_cell(const cell_blocks& b, int c) {
    double* vp = b.vol + c * b.vol_plane;
    double* fp = b.fract + c * b.fract_plane;
    for (int k = 0; k <= b.classes; ++k) {
      vol[k] = vp + k * b.vol_row;
      fract[k] = fp + k * b.fract_row;
    }
    view = {b.classes, vol, fract, b.eroded + c * b.eroded_row};
  }
};

// Asks for the lines of cell c's rows the plain move and settling will touch, and the volumes of
// the cell below it, into which its lower face moves sediment: on a large grid each of those
// rows lies in its own stream through memory, more streams than the processor follows by itself.
// Touches nothing, so the results do not depend on it.
void plain_prefetch(const sediment_views& v, const cell_blocks& b, int c) {
  auto lines = [](const double* p, long count) {
    const char* first = reinterpret_cast<const char*>(p);
    const char* last = reinterpret_cast<const char*>(p + count - 1);
    for (const char* line = first; line <= last; line += 64) __builtin_prefetch(line, 1, 3);
    __builtin_prefetch(last, 1, 3);
  };
  lines(b.vol + c * b.vol_plane, b.vol_plane);
  lines(b.fract + c * b.fract_plane, b.fract_plane);
  lines(b.eroded + c * b.eroded_row, b.classes + 1L);
  lines(b.qsvol + c * b.qsvol_row, b.classes + 1L);
  if (v.below[c] != 0) lines(b.vol + v.below[c] * b.vol_plane, b.vol_plane);
  for (int k = 1; k <= b.classes; ++k) __builtin_prefetch(v.settle_share[k] + c, 1, 3);
}

// The composition of a plain giver's suspension of total `suspended` (at least sed_tiny), worked
// out as moving_composition does: the total into vol[0][2], each class's share into fract[k][2].
// Returns the logarithm of its median diameter in micrometres.
double plain_compose(const sediment_views& v, const cell_blocks& b, int c, double suspended) {
  double* vp = b.vol + c * b.vol_plane;
  double* fp = b.fract + c * b.fract_plane;
  vp[2] = suspended;
  for (int k = 1; k <= b.classes; ++k) fp[k * b.fract_row + 2] = vp[k * b.vol_row + 2] / suspended;
  return sed_log_median_of_shares(fp + b.fract_row + 2, b.fract_row, v.class_data);
}

// The suspended volume of a plain cell, summed over the classes in class order.
double plain_suspended(const cell_blocks& b, int c) {
  const double* vp = b.vol + c * b.vol_plane + 2;
  double suspended = 0.0;
  for (int k = 1; k <= b.classes; ++k) suspended += vp[k * b.vol_row];
  return suspended;
}

// move_across of the plain case: the giver hands the receiver (0: the outside of the grid past
// the outlet) what its capacity carries of its suspension. `composed` says that the giver's
// composition (fract[k][2]) already holds the shares of its present suspension. Returns the
// volume handed out.
double plain_move_across(const sediment_views& v, const cell_blocks& b, int giver, int receiver,
                         double q, double slope, double log_term, const double* given_cap,
                         bool composed, double* capacity) {
  const int n = b.classes;
  double* vp = b.vol + giver * b.vol_plane;
  double* fp = b.fract + giver * b.fract_plane;
  const double h = v.depth[giver], unit_q = std::fabs(q) / v.dx;
  const double suspended = plain_suspended(b, giver);
  double cap;
  if (given_cap != nullptr) {
    cap = *given_cap;
  } else if (v.stream_power && !(suspended < sed_tiny)) {
    // The stream-power forms of a suspension: the median of its composition, worked out here
    // once for the capacity and the shares of the move.
    cap = 0.0;
    if (!(unit_q < sed_tiny) && !(h < sed_tiny)) {
      const double log_d = plain_compose(v, b, giver, suspended);
      composed = true;
      cap = sed_stream_power_of_logs(v.method, log_term, log_d, h, unit_q, v.dt, v.dx);
    }
  } else {
    const plain_cell from(b, giver);
    cap = v.stream_power ? sed_stream_power_capacity(v.method, log_term, h, unit_q, v.dt, v.dx,
                                                     from.view, v.class_data)
                         : sed_transport_capacity(v.method, std::fabs(slope), h, unit_q, v.dt, v.dx,
                                                  from.view, v.class_data, v.sed->sed_K[giver]);
  }
  if (cap < -sed_tiny) cap = -cap;
  capacity[giver] = cap;
  if (!(cap > sed_tiny) || !(suspended > sed_tiny)) return 0.0;
  const double carried = cap < suspended ? cap : suspended;
  // Each class leaves in its share of the suspension.
  double m[plain_max_classes + 1];
  if (composed) {
    for (int k = 1; k <= n; ++k) m[k] = fp[k * b.fract_row + 2] * carried;
  } else {
    for (int k = 1; k <= n; ++k) {
      const double f = vp[k * b.vol_row + 2] / suspended;
      fp[k * b.fract_row + 2] = f;
      m[k] = f * carried;
    }
  }
  if (receiver != 0) {
    double* into = b.vol + receiver * b.vol_plane + 2;
    for (int k = 1; k <= n; ++k) {
      vp[k * b.vol_row + 2] -= m[k];
      into[k * b.vol_row] += m[k];
    }
    return 0.0;
  }
  double out = 0.0;
  for (int k = 1; k <= n; ++k) {
    double* slot = vp + k * b.vol_row;
    slot[2] -= m[k];
    slot[4] += m[k];
    vp[4] += m[k];
    out += m[k];
  }
  return out;
}

// move_from_cell of the plain case.
double plain_move_from_cell(const sediment_views& v, const cell_blocks& b, int c, int drains_y) {
  const bool outlet = c == v.outlet;
  const bool edge_x = outlet && drains_y == 0, edge_y = outlet && drains_y != 0;
  const int next_x = edge_x ? 0 : v.right[c], next_y = edge_y ? 0 : v.below[c];
  const bool active_x = next_x != 0 || edge_x, active_y = next_y != 0 || edge_y;
  const double q_x = edge_x ? v.outlet_q : v.flux_x[c];
  const double q_y = edge_y ? v.outlet_q : v.flux_y[c];
  const double log_x = v.stream_power ? v.log_x[c] : 0.0;
  const double log_y = v.stream_power ? v.log_y[c] : 0.0;
  double cap[2];
  const double* given[2] = {nullptr, nullptr};
  bool composed = false;
  if (v.stream_power && active_x && active_y && q_x >= 0.0 && q_y >= 0.0) {
    const double suspended = plain_suspended(b, c);
    double log_d;
    if (!(suspended < sed_tiny)) {
      log_d = plain_compose(v, b, c, suspended);
      composed = true;
    } else {
      log_d = sed_log_median_um(plain_cell(b, c).view, v.class_data);
    }
    const double h = v.depth[c];
    cap[0] = sed_stream_power_of_logs(v.method, log_x, log_d, h, std::fabs(q_x) / v.dx, v.dt, v.dx);
    cap[1] = sed_stream_power_of_logs(v.method, log_y, log_d, h, std::fabs(q_y) / v.dx, v.dt, v.dx);
    given[0] = &cap[0];
    given[1] = &cap[1];
  }
  ov_sediment_obj& s = *v.sed;
  double out = 0.0;
  if (active_x) {
    if (q_x >= 0.0)
      out += plain_move_across(v, b, c, next_x, q_x, s.slope_x[c], log_x, given[0], composed,
                               s.qsx.data());
    else if (next_x != 0)
      plain_move_across(v, b, next_x, c, q_x, s.slope_x[c], log_x, nullptr, false, s.qsx.data());
  }
  if (active_y) {
    if (q_y >= 0.0)
      out += plain_move_across(v, b, c, next_y, q_y, s.slope_y[c], log_y, given[1], false,
                               s.qsy.data());
    else if (next_y != 0)
      plain_move_across(v, b, next_y, c, q_y, s.slope_y[c], log_y, nullptr, false, s.qsy.data());
  }
  return out;
}

// settle_cell of the plain case. The step's deposit book of the cell is 0 when the cell settles
// (every settling leaves it so) and 0 after it: the settled volumes go straight into the run's
// deposit, added to 0 as the book would hold them, and the book itself is left untouched.
int plain_settle_cell(const sediment_views& v, const cell_blocks& b, int c) {
  const int n = b.classes;
  double* vol = b.vol + c * b.vol_plane;
  double* eroded = b.eroded + c * b.eroded_row;
  double* qsvol = b.qsvol + c * b.qsvol_row;
  int not_finite = 0;
  double deposited_total = 0.0, net = 0.0;
  for (int k = 1; k <= n; ++k) {
    const double trap = v.settle_share[k][c];
    double* slot = vol + k * b.vol_row;
    const double settled = trap * slot[2];
    slot[2] -= settled;
    slot[3] += settled;
    const double deposited = 0.0 + settled;
    deposited_total += settled;
    not_finite |= !std::isfinite(slot[1]) || !std::isfinite(slot[2]) || !std::isfinite(slot[3]);
    qsvol[k] += deposited - eroded[k];
    net += qsvol[k];
    eroded[k] = 0.0;
  }
  ov_sediment_obj& s = *v.sed;
  if (!s.ov_net_sed.empty()) s.ov_net_sed[c] = net;
  if (v.adjusted_elev != nullptr)
    v.adjusted_elev[c] += (deposited_total - eroded[0]) / (v.dx * v.dx);
  eroded[0] = 0.0;
  return not_finite;
}

}  // namespace

void overland_sediment_step(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  ov_sediment_obj* sed = tr.ov_sed.get();
  if (!tr.sediment.soil_erosion || tr.sediment.sed_constituents != 1 || sed == nullptr ||
      sed->num_sed_classes < 1 || !(dt > 0.0))
    return;
  const overland_state& ov = ms.overland;
  sediment_views v;
  v.cells = ms.cell_count;
  v.classes = sed->num_sed_classes;
  v.method = tr.sediment.erosion_method;
  v.dt = dt;
  v.dx = ms.gridsize;
  v.depth = ov.ov_depth.data();
  v.elev = ms.cell_elev.data();
  if (tr.sediment.adjust_elev) v.adjusted_elev = ms.cell_elev.data();
  // The explicit scheme's faces carry their mean discharge of the step, so that each face moves
  // sediment with the water it moved; its discharges are those of its last sub-step.
  const bool means = ov.explicit_mean_ready != 0 && ov.ovx_mean_flux_x.count() >= v.cells &&
                     ov.ovx_mean_flux_y.count() >= v.cells;
  v.flux_x = means ? ov.ovx_mean_flux_x.data() : ov.ov_flux_x.data();
  v.flux_y = means ? ov.ovx_mean_flux_y.data() : ov.ov_flux_y.data();
  const raw_array1d<double>& rain = ov.interception_on ? ov.net_rain_cell : ov.rain_cell;
  v.rain = rain.count() >= v.cells ? rain.data() : nullptr;
  v.right = ov.rightcon.data();
  v.below = ov.belowcon.data();
  v.left = ov.leftcon.data();
  v.above = ov.abovecon.data();
  // With channels the outlet cell drains into its channel node; without them over its edge.
  v.outlet = ms.channel.chan_explic ? 0 : ms.outlet_cell;
  v.outlet_slope = ms.outlet_slope;
  v.outlet_q = ms.outlet_q;
  v.sed = sed;
  v.class_data = {v.classes, sed->part_diam.data(), sed->spec_grav.data()};
  if (sed->class_log_diam.count() >= v.classes && sed->class_log_step.count() >= v.classes) {
    v.class_data.log_diam = sed->class_log_diam.data();
    v.class_data.log_step = sed->class_log_step.data();
  }
  const channel_state& ch = ms.channel;
  if (ms.perennial_lakes && ch.num_lakes >= 1 && ch.lake_mask.count() >= v.cells &&
      !tr.lake_sed_books.empty() && tr.lake_sed_books.row_count() >= ch.num_lakes) {
    v.lake = ch.lake_mask.data();
    v.lakes = ch.num_lakes;
    v.lake_volume = ch.lake_volume.data();
    v.tr = &tr;
  }
  // Bound constituents ride on the fine sediment, into the lakes and out of them too.
  v.bound = sed_contam_payload(ms);
  if (ov.overland_lake_map && ov.olake_count >= 1 && ov.oland_lake_new.count() >= v.cells &&
      ov.ov_lakes.count() >= ov.olake_count && tr.olake_sed.row_count() >= ov.olake_count) {
    v.olake = ov.oland_lake_new.data();
    v.olakes = ov.olake_count;
    v.olake_records = ov.ov_lakes.data();
    v.olake_sed = tr.olake_sed.row_table();
    v.olake_in = tr.olake_sed_in.row_table();
    v.olake_settled = tr.olake_sed_settled.row_table();
    gather_olake_cells(v);
  }
  // The outlet drains through its right side when it has no right neighbour, else through its
  // lower side when it has no neighbour below.
  int drains_y = 0;
  if (v.outlet >= 1 && v.outlet <= v.cells && v.right[v.outlet] != 0) {
    if (v.below[v.outlet] == 0)
      drains_y = 1;
    else
      v.outlet = 0;
  }
  sed->outlet_drains_y = drains_y;

  const int n = v.cells;
  if (sed->settle_share.row_count() < v.classes || sed->settle_share.col_count() < n ||
      sed->log_water_cell.count() < n || sed->log_water_x.count() < n ||
      sed->log_water_y.count() < n || sed->splash_volume.count() < n)
    return;  // the set-up made no work arrays for this grid
  sed_water_view water;
  water.cell_count = n;
  water.dx = v.dx;
  water.depth = v.depth;
  water.elev = v.elev;
  water.flux_x = v.flux_x;
  water.flux_y = v.flux_y;
  water.right = v.right;
  water.below = v.below;
  water.left = v.left;
  water.above = v.above;
  water.outlet = v.outlet;
  water.outlet_drains_y = drains_y;
  water.outlet_slope = v.outlet_slope;
  water.outlet_q = v.outlet_q;
  water.method = v.method;
  water.classes = v.classes;
  water.settling_vel = sed->settling_vel.data();
  water.dt = dt;
  water.rain = v.rain;
  water.splash_k = sed->splash_K.data();
  water.splash = sed->splash_volume.data();
  water.slope_x = sed->slope_x.data();
  water.slope_y = sed->slope_y.data();
  water.cell_discharge = sed->cell_discharge.data();
  water.settle_share = sed->settle_share.row_table();
  water.log_cell = sed->log_water_cell.data();
  water.log_x = sed->log_water_x.data();
  water.log_y = sed->log_water_y.data();
  v.stream_power = v.method == 3 || v.method == 4;
  v.log_cell = water.log_cell;
  v.log_x = water.log_x;
  v.log_y = water.log_y;
  v.settle_share = water.settle_share;

  // Blocks of cells: the water pass of a block, eight cells at a time, then its cells' splash
  // and flow detachment while the block's water is at hand.
  constexpr int block = 512;
  const int blocks = (n + block - 1) / block;
  team_for(team_size(n), 0, blocks - 1, [&](int b) {
    const int lo = 1 + b * block, hi = lo + block - 1 < n ? lo + block - 1 : n;
    sed_water_pass_wide(water, lo, hi);
    for (int c = lo; c <= hi; ++c) {
      erode_cell(v, c);
      if (v.bound.bound != nullptr) bound_pickup(v.bound, c, sed->sed_vol_eroded[c]);
    }
  });

  if (!sed->ov_qsmax.empty()) {
    // Rows 1..n of the flux block, every class and the total.
    const long width = sed->ov_qsmax.col_count() + 1L;
    double* flux = sed->ov_qsmax.data() + width;
    const long values = static_cast<long>(n) * width;
    team_for(team_size(n), 0L, values - 1, [&](long i) { flux[i] = 0.0; });
  }
  // Each cell moves its sediment and then settles (the settling reads nothing of the lakes'
  // stores, so the lakes settle after the pass with the same result). Cells whose volumes are
  // not numbers are flagged as they settle; the messages, when there is one, are printed in cell
  // order on the main thread.
  double out = 0.0;
  int not_finite = 0;
  const sediment_sweep& sweep = sed->sweep;
  const int team = team_size(n);
  cell_blocks rows;
  const bool plain = plain_blocks(v, rows);
  if (team > 1 && v.lake == nullptr && v.olake == nullptr && sweep.levels >= 1 &&
      sweep.cells.count() == n) {
    // Tiles of a level run side by side; a level starts when the one before it has ended.
    const int* level_start = sweep.level_start.data();
    const int* tile_start = sweep.tile_start.data();
    const int* order = sweep.cells.data();
    const int levels = sweep.levels;
#pragma omp parallel num_threads(team)
    for (int level = 1; level <= levels; ++level) {
#pragma omp for schedule(static) reduction(| : not_finite)
      for (int t = level_start[level]; t < level_start[level + 1]; ++t) {
        if (plain) {
          for (int i = tile_start[t]; i < tile_start[t + 1]; ++i) {
            const int c = order[i];
            if (i + plain_ahead < tile_start[t + 1])
              plain_prefetch(v, rows, order[i + plain_ahead]);
            const double moved = plain_move_from_cell(v, rows, c, drains_y);
            if (c == v.outlet) out = moved;  // only the outlet hands sediment out of the grid
            not_finite |= plain_settle_cell(v, rows, c);
          }
          continue;
        }
        for (int i = tile_start[t]; i < tile_start[t + 1]; ++i) {
          const int c = order[i];
          const double moved = move_from_cell(v, c, drains_y);
          if (c == v.outlet) out = moved;
          not_finite |= settle_cell(v, c);
        }
      }
    }
  } else if (plain) {
    for (int c = 1; c <= n; ++c) {
      if (c + plain_ahead <= n) plain_prefetch(v, rows, c + plain_ahead);
      out += plain_move_from_cell(v, rows, c, drains_y);
      not_finite |= plain_settle_cell(v, rows, c);
    }
  } else {
    for (int c = 1; c <= n; ++c) {
      out += move_from_cell(v, c, drains_y);
      not_finite |= settle_cell(v, c);
    }
  }
  sed->outlet_volume = out;
  tr.ov_outlet_sed_vol = out;
  if (v.olake != nullptr) settle_olakes(v);
  if (not_finite == 0) return;
  for (int c = 1; c <= n; ++c) {
    for (int k = 1; k <= v.classes; ++k) {
      const double* slot = sed->vol_sed[c][k];
      if (!std::isfinite(slot[2]))
        printf("PT 3 suspended soil particle %2d=Nan at grid %d\n", k, c);
      if (!std::isfinite(slot[1])) printf("PT 3 eroded soil particle %2d=Nan at grid %d\n", k, c);
      if (!std::isfinite(slot[3]))
        printf("PT 3 deposited soil particle %2d=Nan at grid %d\n", k, c);
    }
  }
}
