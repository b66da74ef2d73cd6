// Dissolved constituents in the overland lakes: the set-up of the lake tables at the start of
// the soil-layer set-up, the rain load on the lakes (overland constituent processes), and the
// lakes' side of the overland transport step: the spilled water's mass handed to the cells it
// went to before the move, and the lakes' net gain, decay and concentration after it.
#include "transport/contaminants/olake_contam.h"

#include <algorithm>
#include <cmath>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "transport/contaminants/lake_event_books.h"

namespace {

constexpr double tiny = 1e-16;

bool table(raw_array2d<double>& t, int rows, int cols, const char* name) {
  alloc_2d_double_named(rows, cols, t, name);
  return !t.empty();
}

}  // namespace

void init_olake_contaminants(model_state& ms) {
  transport_state& tr = ms.transport;
  olake_contam_tables& oc = tr.olake_contam;
  const overland_state& ov = ms.overland;
  if (!tr.ov_con_trans || !ov.overland_lake_map || ov.olake_count < 1 || oc.lakes >= 1) return;
  const int nc = tr.num_contaminants;
  const int lakes = ov.olake_count;
  if (!table(oc.mass, nc, lakes, "olake_contam_mass") ||
      !table(oc.conc, nc, lakes, "olake_contam_conc") ||
      !table(oc.pending, nc, lakes, "olake_contam_pending"))
    return stop_now();
  raw_array1d<double>* books[] = {&oc.init_total,  &oc.from_ov_total, &oc.precip_total,
                                  &oc.spill_total, &oc.decay_total,   &oc.restored};
  for (raw_array1d<double>* a : books) {
    alloc_1d_double(*a, nc, "overland lake constituent totals");
    if (a->empty()) return stop_now();
  }
  if (oc.held.empty()) alloc_1d_double(oc.held, ms.cell_count, "ov_lake_held");
  if (oc.held.empty()) return stop_now();
  alloc_1d_double(oc.decay_weight, lakes, "olake_decay_weight");
  if (oc.decay_weight.empty()) return stop_now();
  if (!table(oc.event_start, nc, olake_event_term_count, "olake_event_start")) return stop_now();
  // A lake's starting water holds the initial concentration of the cells it stands over.
  const double area = ms.gridsize * ms.gridsize;
  for (int c = 1; c <= nc; ++c) {
    for (int cell = 1; cell <= ms.cell_count; ++cell) {
      const int lake = has(ov.oland_lake_mask, cell) ? ov.oland_lake_mask[cell] : 0;
      if (lake < 1 || lake > lakes) continue;
      const double water = std::max(ov.ov_lakes[lake].surface_elev - ms.cell_elev[cell], 0.0);
      oc.mass[c][lake] += tr.ov_contam_conc[c][cell] * water * area;
    }
    for (int lake = 1; lake <= lakes; ++lake) {
      const double v = ov.ov_lakes[lake].volume;
      oc.conc[c][lake] = v > tiny ? oc.mass[c][lake] / v : 0.0;
      oc.init_total[c] += oc.mass[c][lake] / 1000.0;
    }
    tr.GLOBAL_MASS_INIT[c] += oc.init_total[c];
  }
  oc.lakes = lakes;
}

int olake_of_cell(const model_state& ms, int cell) {
  const olake_contam_tables& oc = ms.transport.olake_contam;
  if (oc.lakes < 1 || !has(ms.overland.oland_lake_new, cell)) return 0;
  const int lake = ms.overland.oland_lake_new[cell];
  return lake >= 1 && lake <= oc.lakes ? lake : 0;
}

void olake_rain_load(model_state& ms, int c, double dt, double pc, const double* rain) {
  transport_state& tr = ms.transport;
  olake_contam_tables& oc = tr.olake_contam;
  if (oc.lakes < 1) return;
  const double area = ms.gridsize * ms.gridsize;
  double added = 0.0;
  for (int cell = 1; cell <= ms.cell_count; ++cell) {
    const int lake = olake_of_cell(ms, cell);
    if (lake == 0) continue;
    const double m = rain[cell] / 3.6e6 * pc * area * dt;
    oc.mass[c][lake] += m;
    added += m;
  }
  oc.precip_total[c] += added / 1000.0;
  tr.contam.global_precip_mass[c] += added / 1000.0;
}

void olake_spill(model_state& ms, int c) {
  transport_state& tr = ms.transport;
  olake_contam_tables& oc = tr.olake_contam;
  const overland_state& ov = ms.overland;
  if (oc.lakes < 1) return;
  const double area = ms.gridsize * ms.gridsize;
  double spilled = 0.0;
  for (int lake = 1; lake <= oc.lakes; ++lake) {
    const lake_record& r = ov.ov_lakes[lake];
    const int cell = r.spill_cell;
    if (!(r.spilled > 0.0) || cell < 1 || cell > ms.cell_count) continue;
    double& m = oc.mass[c][lake];
    const double given = std::min(r.spilled * std::max(oc.conc[c][lake], 0.0), std::max(m, 0.0));
    m -= given;
    spilled += given;
    tr.ov_contam_mass[c][cell] += given;
    const double h = ov.ov_depth[cell];
    if (h > tiny) tr.ov_contam_conc[c][cell] = tr.ov_contam_mass[c][cell] / (h * area);
  }
  oc.spill_total[c] += spilled / 1000.0;
}

void olake_update(model_state& ms, int c, double dt) {
  transport_state& tr = ms.transport;
  olake_contam_tables& oc = tr.olake_contam;
  const overland_state& ov = ms.overland;
  if (oc.lakes < 1) return;
  const double area = ms.gridsize * ms.gridsize;
  const bool decays = tr.contam.contam_table_read != 0 && tr.constituent_type[c] == 1;
  double from_ov = 0.0, decayed = 0.0, restored = 0.0;
  // Each lake cell's water decays at its cell's coefficient: the lake's loss is its
  // concentration times the sum of k x water over its cells, over the step, summed for every
  // lake in one pass over the cells.
  if (decays) {
    for (int lake = 1; lake <= oc.lakes; ++lake) oc.decay_weight[lake] = 0.0;
    for (int cell = 1; cell <= ms.cell_count; ++cell) {
      const int lake = olake_of_cell(ms, cell);
      if (lake == 0) continue;
      oc.decay_weight[lake] += tr.contam.ov_decay_coef[c][cell] *
                               std::max(ov.ov_lakes[lake].surface_elev - ms.cell_elev[cell], 0.0) *
                               area;
    }
  }
  for (int lake = 1; lake <= oc.lakes; ++lake) {
    double& m = oc.mass[c][lake];
    m += oc.pending[c][lake];
    from_ov += oc.pending[c][lake];
    oc.pending[c][lake] = 0.0;
    if (decays && m > 0.0) {
      const double kv = oc.decay_weight[lake];
      const double v = ov.ov_lakes[lake].volume;
      const double loss = v > tiny ? std::min(m * kv / v * dt, m) : 0.0;
      m -= loss;
      decayed += loss;
    }
    if (m < 0.0) {
      restored -= m;
      m = 0.0;
    }
    const double v = ov.ov_lakes[lake].volume;
    oc.conc[c][lake] = v > tiny ? m / v : 0.0;
  }
  oc.from_ov_total[c] += from_ov / 1000.0;
  oc.decay_total[c] += decayed / 1000.0;
  oc.restored[c] += restored / 1000.0;
  tr.GLOBAL_MASS_DECAY[c] += decayed / 1000.0;
}

void olake_spill_done(model_state& ms) {
  overland_state& ov = ms.overland;
  if (ms.transport.olake_contam.lakes < 1) return;
  for (int lake = 1; lake <= ms.transport.olake_contam.lakes; ++lake)
    ov.ov_lakes[lake].spilled = 0.0;
}
