// Dissolved constituents in the channel lakes: the set-up of the lake tables at the end of the
// channel constituent set-up, the decay gathered on the channel decay schedule, and the lakes'
// side of every channel constituent routing (the nodes a rising lake takes or gives back, the
// lakes' net sources and their books). Each lake is one fully mixed store.
#include "transport/contaminants/lake_contam.h"

#include <algorithm>
#include <cmath>

#include "framework/core/block_sum.h"
#include "framework/core/error_state.h"
#include "framework/core/parallel_team.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "transport/contaminants/lake_event_books.h"

namespace {

constexpr double tiny = 1e-16;
// s: a pending amount is applied whole unless the routing step is shorter than its interval by
// more than this.
constexpr double share_tolerance = 0.5;

int flat(const transport_state& tr, int link, int node) {
  return link * tr.con_node_stride + node;
}

bool table(raw_array2d<double>& t, int rows, int cols, const char* name) {
  alloc_2d_double_named(rows, cols, t, name);
  return !t.empty();
}

bool vec(raw_array1d<double>& a, int n, const char* name) {
  alloc_1d_double(a, n, name);
  return !a.empty();
}

// The lake that holds the nodes of link l beyond its routed ones: its own when a lake has
// captured the whole link, else that of the link below.
int lake_of_link(const channel_state& ch, int lakes, int l) {
  int lake = ch.lake2link[l];
  if (lake < 1) {
    const int d = ch.dslink[l];
    lake = d >= 1 && d <= ch.chan_link_count ? ch.lake2link[d] : 0;
  }
  return lake >= 1 && lake <= lakes ? lake : 0;
}

}  // namespace

bool init_lake_contaminants(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  const channel_state& ch = ms.channel;
  if (!ms.perennial_lakes || ch.num_lakes < 1) return true;
  const int nc = tr.num_contaminants;
  const int lakes = ch.num_lakes;
  const int nodes = (ch.chan_link_count + 1) * tr.con_node_stride + 1;
  if (!table(tr.lake_mass, nc, lakes, "lake_mass") ||
      !table(cc.lake_conc, nc, lakes, "lake_conc") ||
      !table(cc.lake_decay_coef, nc, lakes, "lake_decay_coef") ||
      !table(cc.lake_decay_mass, nc, lakes, "lake_decay_mass") ||
      !table(cc.lake_ov_inflow_mass, nc, lakes, "lake_ov_inflow_mass")) {
    stop_now();
    return false;
  }
  raw_array1d<double>* work[] = {&cc.lake_acc_mass,   &cc.lake_acc_conc,     &cc.lake_start_mass,
                                 &cc.lake_start_conc, &cc.lake_source,       &cc.lake_vol,
                                 &cc.lake_vol_last,   &ms.lake_constit_water};
  for (raw_array1d<double>* a : work)
    if (!vec(*a, lakes, "lake constituent work")) {
      stop_now();
      return false;
    }
  raw_array1d<double>* books[] = {
      &cc.lake_init_total,  &cc.lake_from_chan,    &cc.lake_to_chan,     &cc.lake_out_total,
      &cc.lake_ov_total,    &cc.lake_precip_total, &cc.lake_decay_total, &cc.lake_nodes_total,
      &cc.lake_restored,    &cc.ov_to_lakes,       &cc.lake_pump_total,  &cc.lake_bed_out_total,
      &cc.lake_bed_in_total};
  for (raw_array1d<double>* a : books)
    if (!vec(*a, nc, "lake constituent totals")) {
      stop_now();
      return false;
    }
  if (!table(cc.lake_event_start, nc, lake_event_term_count, "lake_event_start")) {
    stop_now();
    return false;
  }
  // The water the lake pumps and the leaking beds move is kept by the channel step for the
  // routing, which moves the lakes' constituents with it.
  channel_state& chw = ms.channel;
  if (!ch.lake_pumps.empty() && !vec(chw.lake_pump_water, lakes, "lake_pump_water")) {
    stop_now();
    return false;
  }
  if (ch.lake_loss) {
    alloc_1d_int(chw.lake_bed_in_lake, ms.cell_count, "lake_bed_in_lake");
    if (!vec(chw.lake_bed_out_water, lakes, "lake_bed_out_water") ||
        !vec(chw.lake_bed_in_water, ms.cell_count, "lake_bed_in_water") ||
        !vec(cc.lake_bed_gain, lakes, "lake_bed_gain") || chw.lake_bed_in_lake.empty()) {
      stop_now();
      return false;
    }
  }
  alloc_1d_int(cc.node_in_lake, nodes, "node_in_lake");
  alloc_1d_int(cc.link_handover, ch.chan_link_count, "link_handover");
  raw_array1d<double>& held = tr.olake_contam.held;
  if (held.empty()) alloc_1d_double(held, ms.cell_count, "ov_lake_held");
  if (cc.node_in_lake.empty() || cc.link_handover.empty() || held.empty()) {
    stop_now();
    return false;
  }
  // Every lake starts at INIT_CHAN_CONC over its starting water (the contaminants; the nutrient
  // species start clean), decaying at CHAN_DECAY_COEF.
  const double decay = tr.chan_decay_coef / seconds_per_day;
  for (int lake = 1; lake <= lakes; ++lake) cc.lake_vol_last[lake] = ch.lake_volume[lake];
  for (int c = 1; c <= nc; ++c) {
    const double init = tr.constituent_type[c] == 1 ? tr.init_chan_conc : 0.0;
    for (int lake = 1; lake <= lakes; ++lake) {
      const double volume = std::max(ch.lake_volume[lake], 0.0);
      cc.lake_decay_coef[c][lake] = decay;
      cc.lake_conc[c][lake] = volume > tiny ? init : 0.0;
      tr.lake_mass[c][lake] = cc.lake_conc[c][lake] * volume;
      cc.lake_init_total[c] += tr.lake_mass[c][lake] / 1000.0;
    }
    tr.GLOBAL_MASS_INIT[c] += cc.lake_init_total[c];
  }
  cc.lakes = lakes;
  return true;
}

void lake_contam_decay(model_state& ms, double interval) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  const channel_state& ch = ms.channel;
  for (int c = 1; c <= tr.num_contaminants; ++c) {
    if (tr.constituent_type[c] != 1) continue;
    for (int lake = 1; lake <= cc.lakes; ++lake) {
      const double volume = ch.lake_volume[lake];
      if (volume >= tiny)
        cc.lake_decay_mass[c][lake] +=
            cc.lake_conc[c][lake] * volume * cc.lake_decay_coef[c][lake] * interval;
    }
  }
}

void lake_contam_prepare(model_state& ms, int c, double dt) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  channel_state& ch = ms.channel;
  if (cc.lakes < 1) return;
  // Nodes taken or given back since the last routing: the links are looked at in parallel, and
  // only those with a node changing hands are visited again, in link order, to move the masses
  // (a lake's mass then takes its nodes in the same order on any number of threads).
  const int links = ch.chan_link_count;
  const double* const node_mass = tr.chan_con_mass[c];
  const int* const in_lake = cc.node_in_lake.data();
  int* const handover = cc.link_handover.data();
#pragma omp parallel for schedule(static) \
    num_threads(team_size(static_cast <long>(links) * tr.con_node_stride))
  for (int l = 1; l <= links; ++l) {
    int changes = 0;
    if ((ch.ltype[l] & (32 | 64)) == 0)
      for (int j = 1; j <= ch.status_node.node_count(l) && changes == 0; ++j) {
        const int k = flat(tr, l, j);
        const bool held = ch.status_node(l, j) == 1;
        changes = (held && (in_lake[k] == 0 || node_mass[k] != 0.0)) || (!held && in_lake[k] == 1);
      }
    handover[l] = changes;
  }
  double handed = 0.0;
  for (int l = 1; l <= links; ++l) {
    if (handover[l] == 0) continue;
    const int lake = lake_of_link(ch, cc.lakes, l);
    for (int j = 1; j <= ch.status_node.node_count(l); ++j) {
      const int k = flat(tr, l, j);
      const bool held = ch.status_node(l, j) == 1;
      if (held && (cc.node_in_lake[k] == 0 || tr.chan_con_mass[c][k] != 0.0)) {
        // Taken: the node's mass and what waited for it join the lake.
        double m = tr.chan_con_mass[c][k] + cc.chan_qlat_mass[c][k];
        if (!cc.chan_gw_mass.empty()) {
          m += cc.chan_gw_mass[c][k];
          cc.chan_gw_mass[c][k] = 0.0;
        }
        if (lake != 0) {
          tr.lake_mass[c][lake] += m;
          handed += m;
        }
        tr.chan_con_mass[c][k] = tr.chan_con_conc[c][k] = 0.0;
        cc.chan_qlat_mass[c][k] = cc.chan_mass[c][k] = 0.0;
      } else if (!held && cc.node_in_lake[k] == 1) {
        // Given back: the node's water left the lake with the lake's concentration.
        if (lake != 0 && ch.area.has(l, j)) {
          const double a = ch.area_old(l, j) > tiny ? ch.area_old(l, j) : ch.area(l, j);
          const double m = std::min(std::max(a, 0.0) * ch.dx[l] * cc.lake_conc[c][lake],
                                    std::max(tr.lake_mass[c][lake], 0.0));
          tr.lake_mass[c][lake] -= m;
          handed -= m;
          tr.chan_con_mass[c][k] = m;
          tr.chan_con_conc[c][k] = a > tiny ? m / (a * ch.dx[l]) : 0.0;
        }
      }
    }
  }
  cc.lake_nodes_total[c] += handed / 1000.0;

  // What the ground's water brought up through the lakes' beds: each cell's water at the
  // cell's groundwater concentration.
  const bool beds = !cc.lake_bed_gain.empty() && ch.lake_bed_in_water.count() >= ms.cell_count;
  if (beds) {
    for (int lake = 1; lake <= cc.lakes; ++lake) cc.lake_bed_gain[lake] = 0.0;
    const contam_tables& ct = tr.contam;
    const bool gw_conc = c <= ct.gw_contam_conc.row_count() && !ct.gw_contam_conc.empty();
    if (gw_conc) {
      // Few cells lie under the lakes: the threads find, block by block of cells, the first and
      // last cell that brings water up, and only those stretches are added, block after block
      // on this thread, so each lake's gain takes its cells in cell order on any team.
      const double* const in_water = ch.lake_bed_in_water.data();
      const int* const in_lake = ch.lake_bed_in_lake.data();
      const double* const gw = ct.gw_contam_conc[c];
      const int lakes = cc.lakes;
      auto brings = [&](int cell) {
        return in_water[cell] > 0.0 && in_lake[cell] >= 1 && in_lake[cell] <= lakes;
      };
      struct stretch {
        int first = 0, last = -1;  // cells first..last hold every cell of the block that brings
      };
      block_ordered_sum<1024, stretch>(
          ms.cell_count, 0,
          [&](int lo, int hi) {
            stretch s;
            for (int cell = lo; cell <= hi; ++cell)
              if (brings(cell)) {
                if (s.first == 0) s.first = cell;
                s.last = cell;
              }
            return s;
          },
          [&](int, const stretch& s) {
            for (int cell = s.first; cell <= s.last; ++cell)
              if (brings(cell)) cc.lake_bed_gain[in_lake[cell]] += in_water[cell] * gw[cell];
          });
    }
  }
  const bool pumps = ch.lake_pump_water.count() >= cc.lakes;

  // The lakes' net sources: rain, the overland water over the shores, the ground's water through
  // the beds, decay, and the water the pumps and the beds took at the lake's concentration.
  const double pc = c <= tr.precip_conc.upper() ? tr.precip_conc[c] : 0.0;
  const bool decays = tr.contam.contam_table_read != 0 && tr.constituent_type[c] == 1;
  double rain = 0.0, shores = 0.0, decayed = 0.0, pumped = 0.0, bed_out = 0.0, bed_in = 0.0;
  for (int lake = 1; lake <= cc.lakes; ++lake) {
    const double m0 = tr.lake_mass[c][lake];
    double m = m0;
    const double r = ms.lake_constit_water[lake] * pc;
    m += r;
    rain += r;
    if (beds) {
      m += cc.lake_bed_gain[lake];
      bed_in += cc.lake_bed_gain[lake];
    }
    // The pumps and the beds drew their water from the lake as it stood at the last routing:
    // at that concentration, never more than the lake holds.
    const double v0 = cc.lake_vol_last[lake];
    const double c0 = v0 > tiny && m0 > 0.0 ? m0 / v0 : 0.0;
    if (pumps) {
      const double p = std::min(c0 * ch.lake_pump_water[lake], std::max(m, 0.0));
      m -= p;
      pumped += p;
    }
    if (beds) {
      const double b = std::min(c0 * ch.lake_bed_out_water[lake], std::max(m, 0.0));
      m -= b;
      bed_out += b;
    }
    // The overland water's hand-over is applied whole: a lake it would take below empty is
    // emptied by the routing, which books what that takes.
    double& ov = cc.lake_ov_inflow_mass[c][lake];
    m += ov;
    shores += ov;
    ov = 0.0;
    if (decays)
      decayed += apply_pending_term(m, cc.lake_decay_mass[c][lake], dt, cc.decay_interval,
                                    share_tolerance, -1.0);
    cc.lake_acc_mass[lake] = m0;
    const double v = cc.lake_vol_last[lake];
    cc.lake_acc_conc[lake] = v > tiny && m0 > 0.0 ? m0 / v : 0.0;
    cc.lake_source[lake] = (m - m0) / dt;
  }
  cc.lake_precip_total[c] += rain / 1000.0;
  cc.lake_ov_total[c] += shores / 1000.0;
  cc.lake_decay_total[c] += decayed / 1000.0;
  cc.lake_pump_total[c] += pumped / 1000.0;
  cc.lake_bed_out_total[c] += bed_out / 1000.0;
  cc.lake_bed_in_total[c] += bed_in / 1000.0;
  tr.contam.global_precip_mass[c] += rain / 1000.0;
  tr.GLOBAL_MASS_DECAY[c] += decayed / 1000.0;
}

void lake_contam_finish(model_state& ms, int c, const chan_lake_work& w) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  if (cc.lakes < 1) return;
  double restored = 0.0;
  for (int lake = 1; lake <= cc.lakes; ++lake) {
    double m = w.mass[lake];
    double conc = w.conc[lake];
    if (m < 0.0) {
      restored -= m;
      m = conc = 0.0;
    }
    tr.lake_mass[c][lake] = m;
    cc.lake_conc[c][lake] = conc;
  }
  cc.lake_restored[c] += restored / 1000.0;
  cc.lake_from_chan[c] += w.from_links / 1000.0;
  cc.lake_to_chan[c] += w.to_links / 1000.0;
  cc.lake_out_total[c] += w.out_of_network / 1000.0;
}

void lake_contam_end_routing(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  const channel_state& ch = ms.channel;
  if (cc.lakes < 1) return;
  channel_state& chw = ms.channel;
  for (int lake = 1; lake <= cc.lakes; ++lake) {
    ms.lake_constit_water[lake] = 0.0;
    cc.lake_vol_last[lake] = ch.lake_volume[lake];
    if (chw.lake_pump_water.count() >= lake) chw.lake_pump_water[lake] = 0.0;
    if (chw.lake_bed_out_water.count() >= lake) chw.lake_bed_out_water[lake] = 0.0;
  }
  if (chw.lake_bed_in_water.count() >= ms.cell_count) {
    double* const in_water = chw.lake_bed_in_water.data();
    int* const in_lake = chw.lake_bed_in_lake.data();
    const int cells = ms.cell_count;
#pragma omp parallel for schedule(static) num_threads(team_size(cells))
    for (int cell = 1; cell <= cells; ++cell) {
      in_water[cell] = 0.0;
      in_lake[cell] = 0;
    }
  }
  // Each link's own nodes: the links are shared among the threads.
  const int links = ch.chan_link_count;
  int* const in_lake = cc.node_in_lake.data();
#pragma omp parallel for schedule(static) \
    num_threads(team_size(static_cast <long>(links) * tr.con_node_stride))
  for (int l = 1; l <= links; ++l) {
    if ((ch.ltype[l] & (32 | 64)) != 0) continue;
    for (int j = 1; j <= ch.status_node.node_count(l); ++j)
      in_lake[flat(tr, l, j)] = ch.status_node(l, j) == 1 ? 1 : 0;
  }
}

chan_lake_work lake_route_work(model_state& ms) {
  chan_contam_tables& cc = ms.transport.chan_contam;
  chan_lake_work w;
  if (cc.lakes < 1) return w;
  w.count = cc.lakes;
  w.lake2link = ms.channel.lake2link.data();
  w.vol_start = cc.lake_vol_last.data();
  w.vol_end = ms.channel.lake_volume.data();
  w.mass = cc.lake_acc_mass.data();
  w.conc = cc.lake_acc_conc.data();
  w.start_mass = cc.lake_start_mass.data();
  w.start_conc = cc.lake_start_conc.data();
  w.source = cc.lake_source.data();
  w.vol = cc.lake_vol.data();
  return w;
}

int contam_lake_of_cell(const model_state& ms, int cell) {
  const chan_contam_tables& cc = ms.transport.chan_contam;
  if (cc.lakes < 1 || !has(ms.channel.lake_mask, cell)) return 0;
  const int lake = ms.channel.lake_mask[cell];
  return lake >= 1 && lake <= cc.lakes ? lake : 0;
}
