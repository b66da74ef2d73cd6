// Sacramento soil-moisture accounting of the lumped basin: the land phase of one hourly step,
// the topographic index and the channel weights of the set-up, the time-loop step (after the
// infiltration step) and the channel step's share of the basin's inflow.
#include "subsurface/sacramento.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "subsurface/sacramento_steps.h"
#include "subsurface/subsurface_steps.h"

namespace {

// The lower-zone stores of one step, moved together by percolation.
struct lower_zone {
  double tw, fs, fp;  // tension, supplementary free, primary free contents (mm)
};

// Puts percolated water `free_part` into the lower-zone free stores. The primary store takes
// its share by the two stores' relative deficits (at most the whole), the supplementary store
// the rest; what a full store cannot hold goes to the other free store, then to the tension
// store. The caller has made sure the lower zone as a whole has room for it.
void fill_free_stores(const sac_basin_params& p, lower_zone& lz, double free_part) {
  if (!(free_part > 0.0)) return;
  const double deficit_p = 1.0 - lz.fp / p.lzfpm;
  const double deficit_s = 1.0 - lz.fs / p.lzfsm;
  double share_p = 0.0;
  if (deficit_p + deficit_s > 0.0)
    share_p = 2.0 * p.lzfpm / (p.lzfpm + p.lzfsm) * deficit_p / (deficit_p + deficit_s);
  share_p = std::clamp(share_p, 0.0, 1.0);
  double to_p = free_part * share_p;
  double to_s = free_part - to_p;
  lz.fs += to_s;
  if (lz.fs > p.lzfsm) {
    to_p += lz.fs - p.lzfsm;
    lz.fs = p.lzfsm;
  }
  lz.fp += to_p;
  if (lz.fp > p.lzfpm) {
    double spill = lz.fp - p.lzfpm;
    lz.fp = p.lzfpm;
    const double room_s = p.lzfsm - lz.fs;
    const double to_s_again = std::min(spill, room_s);
    lz.fs += to_s_again;
    spill -= to_s_again;
    lz.tw += spill;
  }
}

}  // namespace

sac_phase_result sac_land_phase(sac_basin_params& p, double& et_mm, double input_mm) {
  sac_phase_result r;
  const double initial = p.uztwc + p.uzfwc + p.lztwc + p.lzfsc + p.lzfpc;
  double uztwc = p.uztwc, uzfwc = p.uzfwc;
  lower_zone lz{p.lztwc, p.lzfsc, p.lzfpc};
  const double demand = et_mm > 0.0 ? et_mm : 0.0;
  const double input = input_mm > 0.0 ? input_mm : 0.0;

  // 1. Evapotranspiration from the upper-zone tension store, then its free store.
  double e1 = demand * uztwc / p.uztwm;
  double e2 = 0.0;
  uztwc -= e1;
  if (uztwc < 0.0) {
    e1 += uztwc;
    uztwc = 0.0;
    e2 = demand - e1;
    if (uzfwc < e2) {
      e2 = uzfwc;
      uzfwc = 0.0;
    } else {
      uzfwc -= e2;
    }
  }

  // 2. Free water drier than tension water evens the two upper stores out.
  if (uzfwc / p.uzfwm > uztwc / p.uztwm) {
    const double ratio = (uztwc + uzfwc) / (p.uztwm + p.uzfwm);
    uztwc = p.uztwm * ratio;
    uzfwc = p.uzfwm * ratio;
  }

  // 3. Lower-zone tension water drier than the lower zone as a whole draws on its free water.
  const double lz_ratio =
      (lz.fp + lz.fs + lz.tw - p.saved) / (p.lzfpm + p.lzfsm + p.lztwm - p.saved);
  if (lz_ratio > lz.tw / p.lztwm) {
    const double resupply = std::min((lz_ratio - lz.tw / p.lztwm) * p.lztwm, lz.fs + lz.fp);
    lz.tw += resupply;
    lz.fs -= resupply;
    if (lz.fs < 0.0) {
      lz.fp += lz.fs;
      lz.fs = 0.0;
    }
  }

  // 4. The input fills the upper tension store first.
  double twx = input - (p.uztwm - uztwc);
  if (twx < 0.0) {
    uztwc += input;
    twx = 0.0;
  } else {
    uztwc = p.uztwm;
  }

  // 5. The rest is worked in increments of at most about 5 mm (of more beyond 50 m of water).
  const int ninc = static_cast<int>(std::min(std::floor((twx + uzfwc) / 5.0 + 1.00001), 10000.0));
  const double dinc = 1.0 / ninc;
  const double pinc = twx * dinc;
  double duz = p.uzk, dlzs = p.lzsk, dlzp = p.lzpk;
  if (ninc > 1) {
    duz = 1.0 - std::pow(1.0 - p.uzk, dinc);
    dlzs = 1.0 - std::pow(1.0 - p.lzsk, dinc);
    dlzp = 1.0 - std::pow(1.0 - p.lzpk, dinc);
  }
  const double lz_capacity = p.lztwm + p.lzfsm + p.lzfpm;

  // 6. Each increment: baseflow, percolation, interflow, then the increment's input.
  for (int i = 0; i < ninc; ++i) {
    const double bf_p = lz.fp * dlzp;
    const double bf_s = lz.fs * dlzs;
    lz.fp -= bf_p;
    lz.fs -= bf_s;
    r.baseflow += bf_p + bf_s;

    if (pinc + uzfwc > 0.01) {
      const double defr = 1.0 - (lz.tw + lz.fs + lz.fp) / lz_capacity;
      double perc = p.pbase * dinc * uzfwc / p.uzfwm * (1.0 + p.zperc * std::pow(defr, p.rexp));
      if (perc >= uzfwc) perc = uzfwc;
      uzfwc -= perc;
      // The lower zone takes no more than its room; the excess stays in the upper free store.
      const double excess = lz.tw + lz.fs + lz.fp + perc - lz_capacity;
      if (excess > 0.0) {
        perc -= excess;
        uzfwc += excess;
      }
      const double interflow = duz * uzfwc;
      r.interflow += interflow;
      uzfwc -= interflow;

      const double to_tension = perc * (1.0 - p.pfree);
      double free_part = perc * p.pfree;
      if (to_tension + lz.tw <= p.lztwm) {
        lz.tw += to_tension;
      } else {
        free_part += to_tension + lz.tw - p.lztwm;
        lz.tw = p.lztwm;
      }
      fill_free_stores(p, lz, free_part);
    }
    // The increment's input fills the upper free store; the rest runs off the surface.
    if (pinc + uzfwc <= p.uzfwm) {
      uzfwc += pinc;
    } else {
      r.surface += pinc + uzfwc - p.uzfwm;
      uzfwc = p.uzfwm;
    }
  }

  // 7. Channel inflow, new states and the step's balance.
  r.total = r.surface + r.interflow + r.baseflow;
  r.increments = ninc;
  p.uztwc = uztwc;
  p.uzfwc = uzfwc;
  p.lztwc = lz.tw;
  p.lzfsc = lz.fs;
  p.lzfpc = lz.fp;
  const double final_storage = p.uztwc + p.uzfwc + p.lztwc + p.lzfsc + p.lzfpc;
  et_mm = e1 + e2;
  p.residual += initial - final_storage + input - et_mm - r.total;
  p.last_inflow = r.total;
  return r;
}

topodex_status topodex(const raw_array1d<double>& cell_elev, const raw_array2d<int>& index_map,
                       int rows, int cols, double dx, raw_array1d<double>& out_by_cell) {
  const auto at = [cols](int row, int col) {
    return static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(cols) +
           static_cast<std::size_t>(col - 1);
  };
  const std::size_t size = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
  std::vector<double> area(size, dx * dx);
  std::vector<double> index(size, -1.0);
  std::vector<std::size_t> order;
  for (int row = 1; row <= rows; ++row)
    for (int col = 1; col <= cols; ++col)
      if (index_map[row][col] > 0) order.push_back(at(row, col));
  const auto elevation = [&](std::size_t k) {
    return cell_elev[index_map[static_cast<int>(k / cols) + 1][static_cast<int>(k % cols) + 1]];
  };
  // Highest first, ties in grid order: every higher neighbour has passed its area on before a
  // cell passes on its own, whichever way the flow runs across the grid.
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return elevation(a) > elevation(b); });

  const double root2 = std::sqrt(2.0);
  constexpr int dr[8] = {-1, 0, 1, 0, -1, -1, 1, 1};
  constexpr int dc[8] = {0, 1, 0, -1, -1, 1, -1, 1};
  for (const std::size_t k : order) {
    const int row = static_cast<int>(k / cols) + 1;
    const int col = static_cast<int>(k % cols) + 1;
    const double z = elevation(k);
    double w[8] = {};
    double sum_w = 0.0;
    double slope_sum = 0.0;
    int inside = 0;
    for (int n = 0; n < 8; ++n) {
      const int r2 = row + dr[n], c2 = col + dc[n];
      if (r2 < 1 || r2 > rows || c2 < 1 || c2 > cols || index_map[r2][c2] <= 0) continue;
      const double zn = cell_elev[index_map[r2][c2]];
      const bool corner = n >= 4;
      const double distance = corner ? root2 * dx : dx;
      ++inside;
      slope_sum += (zn - z) / distance;
      if (zn < z) {
        // Flow width: half the side towards an edge neighbour, a quarter of the diagonal
        // towards a corner neighbour.
        w[n] = (z - zn) / distance * (corner ? 0.25 * root2 * dx : 0.5 * dx);
        sum_w += w[n];
      }
    }
    const double a = area[k];
    if (sum_w > 0.0) {
      index[k] = std::log(a / sum_w);
      for (int n = 0; n < 8; ++n)
        if (w[n] > 0.0) area[at(row + dr[n], col + dc[n])] += a * w[n] / sum_w;
    } else {
      // A pit or a flat: the mean slope up to its neighbours stands in (none: a flat).
      const double s = inside > 0 ? slope_sum / inside : 0.0;
      if (s > 1e-8) {
        index[k] = std::log(a / (2.0 * dx * s));
        if (s < 1e-6) printf("sslope<1.0e-6 in read_sacramento : %.10lf\n", s);
      } else {
        index[k] = topodex_flat_index;
      }
    }
  }

  bool negative = false;
  for (int row = 1; row <= rows; ++row)
    for (int col = 1; col <= cols; ++col) {
      const int cell = index_map[row][col];
      if (cell <= 0) continue;
      out_by_cell[cell] = index[at(row, col)];
      if (out_by_cell[cell] < 0.0) negative = true;
    }
  return negative ? topodex_status::negative_index : topodex_status::ok;
}

namespace {

void weights_fail(const char* first, const char* last) {
  printf("%s", first);
  printf("%s", last);
  raise_own_message();
}

}  // namespace

void init_sacramento_weights(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  channel_state& ch = ms.channel;
  if (!ss.sacramento || !ch.chan_explic) return;
  raw_array1d<double>& cell_index = ss.sac_cell_index;
  if (cell_index.empty()) {
    printf("Error: the Sacramento channel-cell index array was not allocated.\n");
    raise_own_message();
    return;
  }
  std::fill(cell_index.data(), cell_index.data() + cell_index.count() + 1, 0.0);

  // 1. Channel cells, the sum of their indices and the channel length.
  std::vector<char> seen(static_cast<std::size_t>(ms.cell_count) + 1, 0);
  double index_sum = 0.0;
  double length = 0.0;
  for (int c = 1; c <= ch.gst_stream_cells; ++c) {
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
      const int cell = ch.gst_gnum[c][k];
      const int link = ch.gst_link[c][k];
      if (!seen[cell]) {
        seen[cell] = 1;
        // Without TOPO_INDEX every channel cell carries the same index.
        cell_index[cell] = ss.topo_index ? ss.topo_dex_values[cell] : 1.0;
        index_sum += cell_index[cell];
      }
      length += ch.dx[link] * ch.gst_pct[c][k];
    }
  }

  // 2. The indices normalised.
  if (index_sum < 1e-10) {
    weights_fail(
        "Problem, sum of the topographic indices in all channel-containing grids is <=0.0\n",
        "Program terminated\n");
    return;
  }
  for (int cell = 1; cell <= ms.cell_count; ++cell)
    if (cell_index[cell] > 0.0) cell_index[cell] /= index_sum;

  if (!(length > 0.0)) {
    weights_fail("Problem, the channel cells of the grid-stream file hold no channel length\n",
                 "Program terminated\n");
    return;
  }

  // 3. The entries' weights by channel length and index, normalised to a sum of 1. An entry
  // without channel length in its cell takes no share.
  double weight_sum = 0.0;
  for (int c = 1; c <= ch.gst_stream_cells; ++c) {
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
      const int link = ch.gst_link[c][k];
      double& w = ch.gst_sac_weight[c][k];
      const double reach = ch.dx[link] * ch.gst_pct[c][k];
      w = reach / length * cell_index[ch.gst_gnum[c][k]];
      if (!(w > 0.0) && reach > 0.0) {
        weights_fail("Problem, gst_sac_weight <=0.0\n", "Program terminated\n");
        return;
      }
      weight_sum += w;
    }
  }
  double check = 0.0;
  for (int c = 1; c <= ch.gst_stream_cells; ++c)
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
      ch.gst_sac_weight[c][k] /= weight_sum;
      check += ch.gst_sac_weight[c][k];
    }
  if (!ms.quiet) printf("Sac Weights: %lf\n", check);
  if (!(std::fabs(check - 1.0) <= 1e-9)) {
    weights_fail("Problem, summation of the Sacramento weights is not equal to 1.0.\n",
                 "Program terminated.\n");
  }
}

namespace {

// An entry whose node takes no lateral water this step: a lake (type bit 32), a structure (64)
// or a sectioned link (4, 8 or 16) a lake has captured (128), or, with channel lakes, a cell a
// lake holds or a node a lake has taken.
bool entry_closed(const model_state& ms, int link, int node, int cell) {
  const channel_state& ch = ms.channel;
  const int type = ch.ltype[link];
  if ((type & (32 | 64)) != 0 || ((type & 128) != 0 && (type & (4 | 8 | 16)) != 0)) return true;
  return ms.perennial_lakes &&
         ((!ch.lake_mask.empty() && ch.lake_mask[cell] > 0) || node > ch.nx[link]);
}

}  // namespace

double sacramento_channel_inflow(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  channel_state& ch = ms.channel;
  if (!ss.sacramento || !(ss.sac_outflow_left > 0.0) || !(ss.sac_discharge > 0.0)) return 0.0;
  // The entries that take water this step share the whole of it by their weights.
  double open_weight = 0.0;
  for (int c = 1; c <= ch.gst_stream_cells; ++c)
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k)
      if (!entry_closed(ms, ch.gst_link[c][k], ch.gst_node[c][k], ch.gst_gnum[c][k]))
        open_weight += ch.gst_sac_weight[c][k];
  if (!(open_weight > 0.0)) return 0.0;
  // Never more than the basin has released: the hour's volume ends with the hour.
  const double volume = std::min(ss.sac_discharge * dt, ss.sac_outflow_left);
  const double q = volume / dt;
  for (int c = 1; c <= ch.gst_stream_cells; ++c)
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
      const int link = ch.gst_link[c][k];
      const int node = ch.gst_node[c][k];
      if (entry_closed(ms, link, node, ch.gst_gnum[c][k])) continue;
      ch.qlat(link, node) += q * (ch.gst_sac_weight[c][k] / open_weight) / ch.dx[link];
    }
  ss.sac_outflow_left -= volume;
  ss.sac_vol_delivered += volume;
  return volume;
}

double sacramento_outlet_outflow(model_state& ms, double dt) {
  subsurface_state& ss = ms.subsurface;
  if (!ss.sacramento || ms.channel.chan_explic || !(dt > 0.0) || !(ss.sac_outflow_left > 0.0) ||
      !(ss.sac_discharge > 0.0))
    return 0.0;
  // As at the channel nodes: never more than the basin has released.
  const double volume = std::min(ss.sac_discharge * dt, ss.sac_outflow_left);
  ss.sac_outflow_left -= volume;
  ss.sac_vol_delivered += volume;
  return volume;
}

double sacramento_water_in_transit(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  double pending = 0.0;
  if (!ss.sac_inf_depth.empty())
    for (int c = 1; c <= ms.cell_count; ++c) pending += ss.sac_inf_depth[c];
  return pending * ms.gridsize * ms.gridsize + ss.sac_outflow_left;
}

double sacramento_storage_volume(const model_state& ms) {
  const sac_basin_params& p = ms.subsurface.sac_params;
  const double stores = p.uztwc + p.uzfwc + p.lztwc + p.lzfsc + p.lzfpc;
  return stores * ms.subsurface.sac_basin_area / 1000.0 + sacramento_water_in_transit(ms);
}

void sacramento_step(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  if (!ss.sacramento) return;
  process_clock& clock = ms.sac_clock;
  if (!(std::fabs(clock.next - ms.current_time) < ms.time_tolerance)) return;
  sac_basin_params& p = ss.sac_params;
  sac_run_books& b = ss.sac_books;

  // 1. The first step keeps the starting stores; the starting baseflow is the last inflow.
  ++ss.sac_call_count;
  if (ss.sac_call_count == 1) {
    b.uztwc0 = p.uztwc;
    b.uzfwc0 = p.uzfwc;
    b.lztwc0 = p.lztwc;
    b.lzfpc0 = p.lzfpc;
    b.lzfsc0 = p.lzfsc;
    p.last_inflow = p.lzfpc * p.lzpk + p.lzfsc * p.lzsk;
    ss.sac_inflow_mean = p.last_inflow;
  }

  // 2. The input: the mean depth infiltrated since the last step (mm); the demand: the hour's
  // potential evapotranspiration (mm).
  double depth_sum = 0.0;
  if (!ss.sac_inf_depth.empty()) {
    for (int c = 1; c <= ms.cell_count; ++c) {
      depth_sum += ss.sac_inf_depth[c];
      ss.sac_inf_depth[c] = 0.0;
    }
  }
  const double input_mm = ms.cell_count > 0 ? depth_sum / ms.cell_count * 1000.0 : 0.0;
  const double pet_mm = ss.sac_pet_cm * 10.0;
  double et_mm = pet_mm;
  clock.last = ms.current_time;
  clock.next = ms.current_time + clock.interval_days;

  // 3. The land phase; its inflow leaves for the channel over the coming hour.
  const double previous = p.last_inflow;
  const sac_phase_result r = sac_land_phase(p, et_mm, input_mm);
  const double to_m3 = ss.sac_basin_area / 1000.0;
  ss.sac_input_mm = input_mm;
  ss.sac_et_mm = et_mm;
  ss.sac_inflow_mean = (r.total + previous) * 0.5;
  // What the nodes have not yet taken of the last hour goes with this hour's inflow.
  ss.sac_outflow_left += r.total * to_m3;
  ss.sac_discharge = ss.sac_outflow_left / seconds_per_hour;

  b.rain += input_mm;
  b.pet += pet_mm;
  b.aet += et_mm;
  b.runoff += r.total;
  ss.sac_vol_input += input_mm * to_m3;
  ss.sac_vol_et += et_mm * to_m3;
  ss.sac_vol_inflow += r.total * to_m3;
  ss.sac_event_input += input_mm * to_m3;
  ss.sac_event_et += et_mm * to_m3;
  ss.sac_event_inflow += r.total * to_m3;
}
