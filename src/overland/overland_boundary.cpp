// Overland boundary cells and XY depth points, applied by the overland flow step before routing
// when OV_BOUNDARY is on. Each cell changes only its own depth; the four volume sums are formed
// per fixed block of cells and the blocks added in order, so they are the same on any thread
// count.
#include "overland/overland_boundary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/core/block_sum.h"
#include "framework/core/error_state.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "input/input_steps.h"

namespace {

constexpr double cubic_metres_per_cubic_foot = 0.0283168466;

// The series registered under `index` in the time series table, or none.
const time_series* series_of_index(double index) {
  if (!std::isfinite(index) || std::fabs(index) > 2.0e9) return nullptr;
  const int wanted = static_cast<int>(index);
  for (const ts_index_entry* e = ts_index_head; e != nullptr; e = e->next)
    if (e->index == wanted) return e->series;
  return nullptr;
}

// Adds an inflow cell's rise (m) and volume (m3) of one step to its depth h and to the inflow
// sum. A negative series value withdraws water, but never more than the cell holds: a
// withdrawal beyond it empties the cell and books only the water that was there, so the series
// cannot leave a negative depth on the cell.
void add_inflow(double& h, double rise, double volume, double area, double sums[4]) {
  if (rise < 0.0 && h + rise < 0.0) {
    const double held = std::fmax(h, 0.0);
    rise = -held;
    volume = -held * area;
  }
  h += rise;
  sums[3] += volume;
}

// The boundary exchange of cell c over dt seconds; adds what it moved to the four sums.
void boundary_cell(const ov_boundary_view& v, int c, double dt, double sums[4]) {
  const double area = v.dx * v.dx;
  double& h = v.depth[c];
  const double value = v.value[c];
  switch (v.type[c]) {
    case ov_bdy_normal_depth: {
      const int open = (v.right[c] == 0) + (v.left[c] == 0) + (v.above[c] == 0) + (v.below[c] == 0);
      if (open == 0 || !(h > 0.0)) return;
      const double q = std::pow(h, 1.666667) * std::sqrt(value) * v.dx / v.roughness[c];
      const double loss = q * dt / area;
      if (open * loss > h) {
        sums[0] += h * area;
        h = 0.0;
      } else {
        h -= loss;
        sums[0] += loss * area;
      }
      return;
    }
    case ov_bdy_fixed_stage:
    case ov_bdy_stage_series: {
      const double held = std::fmax(0.0, value - v.elev[c]);
      const double change = (held - h) * area;
      if (change > 0.0) sums[2] += change;
      if (change < 0.0) sums[1] += -change;
      h = held;
      return;
    }
    case ov_bdy_inflow_cfs:
      add_inflow(h, value * dt / area * cubic_metres_per_cubic_foot,
                 value * dt * cubic_metres_per_cubic_foot, area, sums);
      return;
    case ov_bdy_inflow_cms:
      add_inflow(h, value * dt / area, value * dt, area, sums);
      return;
    default:
      return;
  }
}

}  // namespace

ov_boundary_sums ov_boundary_cells(const ov_boundary_view& v, double dt) {
  const auto block = [&](int first, int last) {
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    for (int c = first; c <= last; ++c)
      if (v.type[c] != 0) boundary_cell(v, c, dt, sums);
    return ov_boundary_sums{sums[0], sums[1], sums[2], sums[3]};
  };
  return block_ordered_sum<ov_boundary_block_cells, ov_boundary_sums>(
      v.cell_count, ov_boundary_sums{}, block,
      [](ov_boundary_sums& total, const ov_boundary_sums& part) {
        total.normal_out += part.normal_out;
        total.head_out += part.head_out;
        total.head_in += part.head_in;
        total.flow_in += part.flow_in;
      });
}

void ov_boundary_setup(model_state& ms) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  if (!ov.ov_boundary || n < 1) return;
  if (ov.boundary_type.count() < n || ov.boundary_param.count() < n ||
      ov.boundary_value.count() < n) {
    stop_with_message("Error: the overland boundary cells of %d cells were not read.\n", n);
    return;
  }
  for (int c = 1; c <= n; ++c) {
    const double p = ov.boundary_param[c];
    switch (ov.boundary_type[c]) {
      case ov_bdy_normal_depth:
        if (!(std::isfinite(p) && p >= 0.0)) {
          stop_with_message(
              "Error: the normal-depth overland boundary of cell %d has the slope %g; the slope "
              "must be a number of at least 0.\n",
              c, p);
          return;
        }
        break;
      case ov_bdy_fixed_stage:
        if (!std::isfinite(p)) {
          stop_with_message(
              "Error: the fixed-stage overland boundary of cell %d has the stage %g m; the stage "
              "must be a number.\n",
              c, p);
          return;
        }
        break;
      case ov_bdy_stage_series:
      case ov_bdy_inflow_cfs:
      case ov_bdy_inflow_cms: {
        const time_series* s = series_of_index(p);
        if (s == nullptr || s->count < 1) {
          stop_with_message(
              "Error: the overland boundary of cell %d takes its values from time series %g, "
              "which is not a series with rows in the time series table.\n",
              c, p);
          return;
        }
        break;
      }
      default:
        break;
    }
  }
}

void ov_boundary_update_values(model_state& ms) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  if (ov.boundary_type.count() < n || ov.boundary_value.count() < n) return;
  const int* type = ov.boundary_type.data();
  const double* param = ov.boundary_param.data();
  double* value = ov.boundary_value.data();
  const double t = ms.current_time;
  loop_fault fault;
  team_for(team_size(n), 1, n, [&](int c) {
    switch (type[c]) {
      case ov_bdy_normal_depth:
      case ov_bdy_fixed_stage:
        value[c] = param[c];
        break;
      case ov_bdy_stage_series:
      case ov_bdy_inflow_cfs:
      case ov_bdy_inflow_cms:
        value[c] = ts_table_value(static_cast<int>(param[c]), t, &fault, c);
        break;
      default:
        value[c] = 0.0;
    }
  });
  if (fault.raise()) error_report(run_error);
}

void ov_boundary_outflow(model_state& ms, double dt) {
  overland_state& ov = ms.overland;
  if (!ov.ov_boundary) return;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  double xy_in = 0.0, xy_out = 0.0;
  xy_input& xy = ms.cards.xy_input;
  if (xy.num_ovpts > 0) {
    apply_xy_ov_bdy(xy, ov.ov_depth, dx, xy_in, xy_out, ms.current_time);
    if (run_error.error_fatal) return;
  }
  if (ov.boundary_type.count() < n) {
    stop_with_message("Error: the overland boundary cells of %d cells were not set up.\n", n);
    return;
  }
  ov_boundary_view v;
  v.cell_count = n;
  v.dx = dx;
  v.depth = ov.ov_depth.data();
  v.elev = ms.cell_elev.data();
  v.roughness = ov.ov_roughness.data();
  v.right = ov.rightcon.data();
  v.left = ov.leftcon.data();
  v.above = ov.abovecon.data();
  v.below = ov.belowcon.data();
  v.type = ov.boundary_type.data();
  v.value = ov.boundary_value.data();
  const ov_boundary_sums s = ov_boundary_cells(v, dt);
  ov.bdy_normal_out += s.normal_out;
  ov.bdy_head_in += xy_in + s.head_in;
  ov.bdy_head_out += xy_out + s.head_out;
  ov.bdy_flow_in += s.flow_in;
}
