// Channel lakes: the extent of each lake along its search list as its volume changes, its
// evaporation and its depths for the depth map; and the routing's side of the lakes, which lets
// rising lakes take over channel nodes and give them back and books the water the links carry
// into and out of each lake. The channel step and the routing call them every channel step, the
// end-of-event accounting and the map output through the lake step header.
#include "channel/channel_lakes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "channel/channel_lake_steps.h"
#include "channel/channel_state.h"
#include "channel/link_flows.h"
#include "channel/sections.h"
#include "framework/core/error_state.h"
#include "framework/core/units.h"
#include "framework/model_state.h"

namespace {

// The warning that a lake has reached the end of its search list is given once per process.
bool lake_adjust_warned = false;

constexpr int bit_captured = 128;

// Cells of the grid hold `n` cells; a cell number outside 1..n is none.
bool cell_in(int cell, int n) {
  return cell >= 1 && cell <= n;
}

// A lake that is falling gives back its last cells while the fall exceeds their water.
void lake_fall(lake_extent_view& v, int lake, double& d, double& w, int& n, double& area) {
  const double cell_area = v.dx * v.dx;
  while (n >= 1) {
    const int c = lake_search_cell(v, lake, n);
    const double column = cell_in(c, v.cell_count) ? w - (*v.cell_elev)[c] : 0.0;
    if (column > std::fabs(d) / area) {
      w -= std::fabs(d) / area;
      d = 0.0;
      return;
    }
    n -= 1;
    d += column * area;
    w -= column;
    area = n * cell_area;
    if (cell_in(c, v.cell_count)) {
      (*v.lake_mask)[c] = 0;
      (*v.new_flooded_grid)[c] = -1;
      printf("Removing cell %d from lake\n", c);
      (*v.depth)[c] = 0.0;
      if (v.gw_on && v.gwbound != nullptr && v.og_gwbound_type != nullptr &&
          c <= v.gwbound->count() && c <= v.og_gwbound_type->count())
        (*v.gwbound)[c] = (*v.og_gwbound_type)[c];
    }
    if (!(d < 0.0)) return;
  }
}

// A lake that is rising takes in its next listed cells while the rise reaches their ground.
// False after a cell that already belongs to a lake.
bool lake_rise(lake_extent_view& v, int lake, double& d, double& w, int& n, double& area,
               double& volume) {
  const double cell_area = v.dx * v.dx;
  const int listed = (*v.numpts)[lake];
  while (d > 0.0) {
    const bool exhausted = n >= listed;
    if (exhausted) {
      if (!lake_adjust_warned) {
        lake_adjust_warned = true;
        const int last = std::max(listed, 1);
        printf("Warning: Lake #%d has reached your specified maximum areal extent\n", lake);
        printf("This likely means you should increase the maximum water surface elevation\n");
        printf("The last grid cell coordinates defined in your input file are: [%d][%d] \n",
               (*v.lake_search)[lake][1][last], (*v.lake_search)[lake][2][last]);
      }
      // Nothing left to take: the surface rises over the area the lake has, at least one
      // cell's, so that a lake holding no cell never divides by zero.
      w += d / std::max(area, cell_area);
      d = 0.0;
      return true;
    }
    const int c = lake_search_cell(v, lake, n + 1);
    const double to_ground = (*v.cell_elev)[c] - w;
    // The rise over the present area; a lake without area reaches any ground.
    if (area > 0.0 && to_ground + 1e-7 > d / area) {
      w += d / area;
      d = 0.0;
      return true;
    }
    n += 1;
    w += to_ground;
    d -= to_ground * area;
    if ((*v.lake_mask)[c] != 0) {
      printf("Your lake has potentially merged with another lake.....\n");
      printf("Current TORVA formulation is not up for this. Will be soon.\n");
      printf("TORVA Terminating.\n");
      return false;
    }
    (*v.lake_mask)[c] = lake;
    (*v.new_flooded_grid)[c] = 1;
    if (v.gw_on && v.gwbound != nullptr && c <= v.gwbound->count()) (*v.gwbound)[c] = 7;
    area = n * cell_area;
    const double h = (*v.depth)[c];
    if (h > 0.0) {
      const double water = h * cell_area;
      volume += water;
      d += water;
      (*v.lake_in_dv)[lake] += water;
      // The cell's dissolved constituents follow its water into the lake at the next
      // constituent step, which finds the cell taken.
    }
    printf("Lake %d is taking cell %d with depth %lf\n", lake, c, h);
    (*v.depth)[c] = 0.0;
  }
  return true;
}

// The link's lake: its own when a lake has captured it, else that of its downstream link.
int lake_of_link(const channel_state& ch, int link) {
  if (ch.lake2link[link] > 0) return ch.lake2link[link];
  const int down = ch.dslink[link];
  return down >= 1 && down <= ch.chan_link_count ? ch.lake2link[down] : 0;
}

bool lake_in_range(const channel_state& ch, int lake) {
  return lake >= 1 && lake <= ch.num_lakes;
}

// The share of every node's stream cells that lies under a lake.
void flooded_shares(model_state& ms) {
  channel_state& ch = ms.channel;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const int type = ch.ltype[link];
    if (link_is_lake(type) || link_is_structure(type)) continue;
    const int nodes = std::min(ch.og_nx1[link], ch.pct_flooded.node_count(link));
    double* p = ch.pct_flooded.link_nodes(link);
    for (int j = 1; j <= nodes; ++j) p[j] = 0.0;
  }
  for (int c = 1; c <= ch.gst_stream_cells; ++c) {
    for (int k = 1; k <= ch.gst_ncellsingrid[c] && k <= ch.gst_width; ++k) {
      const int link = ch.gst_link[c][k];
      const int node = ch.gst_node[c][k];
      const int cell = ch.gst_gnum[c][k];
      if (link < 1 || link > ch.chan_link_count) continue;
      const int type = ch.ltype[link];
      if (link_is_lake(type) || link_is_structure(type)) continue;
      if (node < 1 || node > ch.pct_flooded.node_count(link)) continue;
      if (!cell_in(cell, ch.lake_mask.count()) || ch.lake_mask[cell] < 1) continue;
      double& p = ch.pct_flooded(link, node);
      p += ch.gst_pct[c][k];
      if (p > 1.001)
        printf("Problem with the stream capturing routine, verify channel setup [%d][%d]:%.10lf\n",
               node, link, p);
    }
  }
}

// Rising lakes take over the nodes of the links that drain into them, from the downstream end.
void capture_nodes(channel_state& ch) {
  for (int link = ch.chan_link_count - 1; link >= 1; --link) {
    const int type = ch.ltype[link];
    if (link_is_structure(type) || link_is_lake(type) || link_is_captured(type)) continue;
    const int down = ch.dslink[link];
    if (down < 1 || down > ch.chan_link_count) continue;
    for (int j = ch.nx[link]; j >= 1; --j) {
      const double p = ch.pct_flooded(link, j);
      if (!(p > 0.999 && p < 1.001) || ch.status_node(link, j) != 0) continue;
      bool held_below = false;
      if (j == ch.nx[link]) {
        const int dtype = ch.ltype[down];
        held_below = ch.status_node(down, 1) == 1 || link_is_captured(dtype) || link_is_lake(dtype);
      } else {
        held_below = ch.status_node(link, j + 1) == 1;
      }
      if (!held_below) continue;
      const int lake = ch.lake2link[down];
      if (!lake_in_range(ch, lake)) continue;
      ch.status_node(link, j) = 1;
      const double water = ch.dx[link] * ch.area(link, j);
      ch.lake_volume[lake] += water;
      ch.lake_in_dv[lake] += water;
      ch.area(link, j) = 0.0;
      ch.qp(link, j) = 0.0;
      ch.yp(link, j) = 0.0;
      ch.chan_depth(link, j) = 0.0;
      ch.nx[link] -= 1;
      printf("node taken: [%d][%d] lake_elev: %7.2lf, dslink:%d nx: %d\n", j, link,
             ch.lake_elev[lake], down, ch.nx[link]);
      if (ch.nx[link] == 0) {
        printf("***TORVA  has overtaken link: %d***\n", link);
        ch.ltype[link] |= bit_captured;
        ch.lake2link[link] = lake;
      }
    }
  }
}

// Lakes that have fallen give back the nodes they left, from the upstream end. -1 after a depth
// that is not a number.
int release_nodes(model_state& ms) {
  channel_state& ch = ms.channel;
  for (int link = 1; link <= ch.chan_link_count - 1; ++link) {
    const int type = ch.ltype[link];
    if (link_is_lake(type) || link_is_structure(type)) continue;
    if (link_is_captured(type) && !(ch.pct_flooded(link, 1) <= 1e-16)) continue;
    const int lake = lake_of_link(ch, link);
    const int first = ch.nx[link] + 1;
    for (int j = first; j <= ch.og_nx1[link]; ++j) {
      if (ch.status_node(link, j) != 1 || ch.pct_flooded(link, j) != 0.0) continue;
      if (j > 1 && ch.status_node(link, j - 1) == 1) continue;
      if (!lake_in_range(ch, lake)) continue;
      ch.status_node(link, j) = 0;
      if (ch.nx[link] < ch.og_nx1[link]) {
        ch.nx[link] += 1;
        if (ch.nx[link] == 1) {
          ch.lake2link[link] = 0;
          ch.ltype[link] &= ~bit_captured;
        }
      }
      const int node = ch.nx[link];
      const double bel = ch.bel(link, node);
      double depth = ch.lake_elev[lake] - bel;
      if (depth < 0.0) {
        depth = j < 2 ? 0.01 : ch.yp(link, node - 1) - bel;
        if (depth < 0.0) depth = 0.01;
      }
      if (std::isnan(depth)) {
        printf("In ex_flow_route A:  Channel depth is not a number at link %d node %d\n", link,
               node);
        stop_now();
        return -1;
      }
      ch.chan_depth(link, node) = depth;
      ch.yp(link, node) = bel + depth;
      if (!section_from_stage(ms, link, node)) return -1;
      const double water = ch.area(link, node) * ch.dx[link];
      ch.lake_volume[lake] -= water;
      ch.lake_out_dv[lake] += water;
      printf(
          "node released:[%d][%d], elev:%.1lf, depth:%.3lf, lakeelev:%.1lf, dslink:%d,nx: %d, "
          "nx1_og: %d\n",
          node, link, bel, depth, ch.lake_elev[lake], ch.dslink[link], ch.nx[link],
          ch.og_nx1[link]);
    }
  }
  return 0;
}

// Water h * q delivered into (q > 0) or drawn from (q < 0) a lake.
void book_inflow(channel_state& ch, int lake, double volume) {
  ch.lake_volume[lake] += volume;
  if (volume >= 0.0)
    ch.lake_in_dv[lake] += volume;
  else
    ch.lake_out_dv[lake] -= volume;
}

}  // namespace

int lake_search_cell(const lake_extent_view& v, int lake, int entry) {
  const int row = (*v.lake_search)[lake][1][entry];
  const int col = (*v.lake_search)[lake][2][entry];
  const raw_array2d<int>& map = *v.index_map;
  if (row < 1 || row > map.row_count() || col < 1 || col > map.col_count()) return 0;
  const int cell = map[row][col];
  return cell_in(cell, v.cell_count) ? cell : 0;
}

bool lake_adjust_cells(lake_extent_view& v, bool& changed) {
  changed = false;
  for (int c = 1; c <= v.cell_count; ++c) (*v.new_flooded_grid)[c] = 0;
  const double cell_area = v.dx * v.dx;
  bool ok = true;
  for (int lake = 1; lake <= v.lake_count && ok; ++lake) {
    double volume = (*v.lake_volume)[lake];
    double d = volume - (*v.prevlake_volume)[lake];
    double w = (*v.lake_elev)[lake];
    int n = (*v.lake_cells)[lake];
    double area = n * cell_area;
    const int n_before = n;
    if (d < 0.0)
      lake_fall(v, lake, d, w, n, area);
    else if (d > 0.0)
      ok = lake_rise(v, lake, d, w, n, area, volume);
    if (!ok) {
      stop_now();
      break;
    }
    if (n != n_before) changed = true;
    (*v.lake_volume)[lake] = volume;
    (*v.prevlake_volume)[lake] = volume;
    (*v.lake_area)[lake] = n * cell_area;
    (*v.lake_elev)[lake] = w;
    (*v.lake_cells)[lake] = n;
  }
  return ok;
}

double lake_evaporation_volume(double area, double wind_speed, double air_temp,
                               double relative_humidity) {
  const double size = std::max(area / 1e6, 1e-6);
  return std::pow(size, -0.05) * 0.000169 * (wind_speed * 0.001 * seconds_per_day) *
         (1.0 - relative_humidity / 100.0) * 6.11 * std::exp(17.3 * air_temp / (air_temp + 273.3)) /
         24.0 * area / 100.0;
}

bool lake_evaporation(lake_extent_view& v, double wind_speed, double air_temp,
                      double relative_humidity, double& lake_evap_total,
                      raw_array1d<double>& cumulative_lake_evap) {
  for (int lake = 1; lake <= v.lake_count; ++lake) {
    double& volume = (*v.lake_volume)[lake];
    const double e =
        lake_evaporation_volume((*v.lake_area)[lake], wind_speed, air_temp, relative_humidity);
    const double taken = volume > e ? e : volume;
    volume -= taken;
    cumulative_lake_evap[lake] += taken;
    lake_evap_total += taken;
  }
  bool changed = false;
  return lake_adjust_cells(v, changed);
}

void lake_set_cell_depths(const lake_extent_view& v, const double* source, double* out,
                          int perennial_lakes) {
  for (int c = 1; c <= v.cell_count; ++c) out[c] = source[c];
  if (!perennial_lakes) return;
  for (int lake = 1; lake <= v.lake_count; ++lake) {
    const double w = (*v.lake_elev)[lake];
    for (int k = 1; k <= (*v.lake_cells)[lake]; ++k) {
      const int c = lake_search_cell(v, lake, k);
      if (c != 0) out[c] = w - (*v.cell_elev)[c];
    }
  }
}

lake_extent_view lake_view(model_state& ms) {
  channel_state& ch = ms.channel;
  lake_extent_view v;
  v.lake_count = ch.num_lakes;
  v.cell_count = ms.cell_count;
  v.dx = ms.gridsize;
  v.numpts = &ch.numpts;
  v.lake_search = &ch.lake_search;
  v.index_map = &ms.index_map;
  v.cell_elev = &ms.cell_elev;
  v.lake_volume = &ch.lake_volume;
  v.lake_elev = &ch.lake_elev;
  v.lake_area = &ch.lake_area;
  v.prevlake_volume = &ch.prevlake_volume;
  v.lake_cells = &ch.lake_cells;
  v.lake_in_dv = &ch.lake_in_dv;
  v.lake_mask = &ch.lake_mask;
  v.depth = &ms.overland.ov_depth;
  v.new_flooded_grid = &ch.new_flooded_grid;
  v.gw_on = ms.subsurface.gw_simulation;
  v.gwbound = &ms.subsurface.gwbound;
  v.og_gwbound_type = &ch.og_gwbound_type;
  return v;
}

bool channel_lakes_setup(model_state& ms) {
  channel_state& ch = ms.channel;
  if (ch.num_lakes < 1) return true;
  lake_extent_view v = lake_view(ms);
  for (int lake = 1; lake <= ch.num_lakes; ++lake) {
    for (int k = 1; k <= ch.numpts[lake]; ++k) {
      if (lake_search_cell(v, lake, k) != 0) continue;
      stop_with_message(
          "Error: search cell %d of lake %d (row %d, column %d) lies outside the watershed.\n", k,
          lake, ch.lake_search[lake][1][k], ch.lake_search[lake][2][k]);
      return false;
    }
  }
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!link_is_lake(ch.ltype[link])) continue;
    const int down = ch.dslink[link];
    if (down == 0 && link == ch.chan_link_count) continue;
    if (down >= 1 && down <= ch.chan_link_count && link_is_structure(ch.ltype[down])) continue;
    stop_with_message(
        "Error: lake link %d drains into link %d, which is not a hydraulic structure link; a "
        "channel lake empties through a structure (weir, culvert, rating curve, rule curve or "
        "scheduled release).\n",
        link, down);
    return false;
  }
  if (!ch.new_flooded_grid.allocate(ms.cell_count) ||
      !ch.status_node.allocate(ch.chan_link_count, &ch.og_nx1[0])) {
    raw_report_alloc_failure("status_node");
    stop_now();
    return false;
  }
  if (ch.pct_flooded.empty() && !ch.pct_flooded.allocate(ch.chan_link_count, &ch.og_nx1[0])) {
    raw_report_alloc_failure("pct_flooded");
    stop_now();
    return false;
  }
  ms.perennial_lakes = 1;
  return true;
}

int lake_capture_release(model_state& ms) {
  channel_state& ch = ms.channel;
  flooded_shares(ms);
  capture_nodes(ch);
  return release_nodes(ms);
}

void lake_book_substep(channel_state& ch, double h) {
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const int type = ch.ltype[link];
    const int lake = ch.lake2link[link];
    if (!lake_in_range(ch, lake)) continue;
    if (link_is_lake(type) && !link_is_captured(type)) {
      const int down = ch.dslink[link];
      if (down >= 1 && down <= ch.chan_link_count) {
        const double out = h * ch.qp(down, 1);
        ch.lake_volume[lake] -= out;
        if (out > 0.0)
          ch.lake_out_dv[lake] += out;
        else
          ch.lake_in_dv[lake] -= out;
      }
      for (int k = 1; k <= ch.ndep[link]; ++k) {
        const int up = ch.uslinks[link][k];
        if (link_is_captured(ch.ltype[up])) continue;
        book_inflow(ch, lake, h * ch.qp(up, ch.nx[up]));
      }
    } else if (link_is_captured(type)) {
      for (int k = 1; k <= ch.ndep[link]; ++k) {
        const int up = ch.uslinks[link][k];
        const int utype = ch.ltype[up];
        if (link_is_captured(utype) || link_is_lake(utype)) continue;
        book_inflow(ch, lake, h * ch.qp(up, ch.nx[up]));
      }
    }
  }
}

void adjust_channel_lakes(model_state& ms) {
  if (!ms.perennial_lakes || ms.channel.num_lakes < 1) return;
  lake_extent_view v = lake_view(ms);
  bool changed = false;
  lake_adjust_cells(v, changed);
}

bool evaporate_channel_lakes(model_state& ms, double wind_speed, double air_temp,
                             double relative_humidity, double& evaporated) {
  if (!ms.perennial_lakes || ms.channel.num_lakes < 1) return true;
  lake_extent_view v = lake_view(ms);
  return lake_evaporation(v, wind_speed, air_temp, relative_humidity, evaporated,
                          ms.channel.cumulative_lake_evap);
}

void channel_lake_depths(model_state& ms, const double* source, double* out) {
  lake_extent_view v = lake_view(ms);
  if (ms.channel.num_lakes < 1) v.lake_count = 0;
  lake_set_cell_depths(v, source, out, ms.perennial_lakes);
}
