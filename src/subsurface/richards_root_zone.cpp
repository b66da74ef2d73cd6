// The root zone of the Richards soil columns: its mean moisture, which the columns hand VOLP at
// an event's end, and the replacement of its nodes' contents and heads by the moisture VOLP
// hands back between two events (write_volp_exchange_end calls both through volp_exchange.cpp).
#include "subsurface/richards_root_zone.h"

#include <algorithm>

#include "framework/model_state.h"
#include "subsurface/subsurface_steps.h"

double richards_root_zone_depth(const subsurface_state& ss, int c) {
  const int id = ss.soiltype[c];
  if (id < 0 || id >= max_soil_types) return 0.0;
  return std::max(ss.soil_types[id].layer_depth[0], 0.0);
}

int richards_root_zone_nodes(const richards_column_view& v, int n, double root_depth) {
  double left = root_depth;
  int k = 0;
  for (int j = 1; j <= n - 1 && left > 1e-16; ++j) {
    left -= v.dz[j];
    k = j;
  }
  return k;
}

double richards_root_zone_moisture(const richards_column_view& v, int n, double root_depth) {
  const int k = richards_root_zone_nodes(v, n, root_depth);
  double water = 0.0, thickness = 0.0;
  for (int j = 1; j <= k; ++j) {
    water += v.theta[j] * v.dz[j];
    thickness += v.dz[j];
  }
  return thickness > 0.0 ? water / thickness : v.theta[1];
}

double richards_root_zone_take_moisture(const richards_column_view& v, int n, int model,
                                        double root_depth, double theta,
                                        double (*bound)(double theta, double thetas,
                                                        double thetar)) {
  const int k = richards_root_zone_nodes(v, n, root_depth);
  if (k < 1) return 0.0;
  double change = 0.0;
  for (int j = 1; j <= k; ++j) {
    const double content = bound(theta, v.thetas[j], v.thetar[j]);
    change += (content - v.theta[j]) * v.dz[j];
    v.theta[j] = content;
    v.phead[j] = soil_psi_from_theta(v, model, j, content);
  }
  v.theta[0] = v.theta[1];
  soil_props(v, model, n);
  return change;
}

namespace {

// A column whose water table stands at the surface is one saturated node, with no root zone to
// solve; so is a cell without a column.
bool column_solved(const subsurface_state& ss, int c) {
  return ss.numcells[c] >= 2 && !(has(ss.yes_exfil, c) && ss.yes_exfil[c] == 1);
}

bool columns_held(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  return holds(ss.numcells, ms.cell_count) && holds(ss.soiltype, ms.cell_count) &&
         !ss.THETA.empty() && ss.THETA.row_count() >= ms.cell_count;
}

}  // namespace

void richards_root_zone_moisture_of_cells(model_state& ms, raw_array1d<double>& moisture) {
  subsurface_state& ss = ms.subsurface;
  if (!columns_held(ms) || !holds(moisture, ms.cell_count)) return;
  for (int c = 1; c <= ms.cell_count; ++c) {
    const richards_column_view v = richards_column_of(ss, c);
    moisture[c] = column_solved(ss, c) ? richards_root_zone_moisture(
                                             v, ss.numcells[c], richards_root_zone_depth(ss, c))
                                       : v.theta[1];
  }
}

double richards_root_zones_take_moisture(model_state& ms, const raw_array1d<double>& moisture,
                                         double (*bound)(double theta, double thetas,
                                                         double thetar)) {
  subsurface_state& ss = ms.subsurface;
  if (!columns_held(ms) || !holds(moisture, ms.cell_count)) return 0.0;
  const double area = ms.gridsize * ms.gridsize;
  double gained = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    if (!column_solved(ss, c)) continue;
    const double change = richards_root_zone_take_moisture(
        richards_column_of(ss, c), ss.numcells[c], ss.richards_c_option,
        richards_root_zone_depth(ss, c), moisture[c], bound);
    gained += change / 100.0 * area;
  }
  return gained;
}
