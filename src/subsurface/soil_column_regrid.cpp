// The Richards soil column of a cell at a moving water table: rebuilds the nodes down to the
// table, moves the water onto them and reports the change of the column's water. Called per
// cell by the groundwater step once the table has moved.
#include "subsurface/soil_column_regrid.h"

#include <algorithm>
#include <cmath>

namespace {

richards_column_view view_of(const regrid_column& c) {
  richards_column_view v;
  v.phead = c.phead;
  v.theta = c.theta;
  v.dz = c.dz;
  v.ks = c.ks;
  v.thetas = c.thetas;
  v.thetar = c.thetar;
  v.thetawp = c.thetawp;
  v.thetafc = c.thetafc;
  v.thehac = c.thehac;
  v.bchc = c.bchc;
  v.bp = c.bp;
  v.lam = c.lam;
  v.alpha = c.alpha;
  v.beta = c.beta;
  v.ahav = c.ahav;
  v.bhav = c.bhav;
  return v;
}

// Soil layer (0..2, 3 below the soil) at depth z (cm) and the depth where it ends.
int layer_at(const soil_table_record& s, double z, double& layer_end) {
  double end = 0.0;
  for (int L = 0; L < 3; ++L) {
    end += s.layer_depth[L];
    if (z < end) {
      layer_end = end;
      return L;
    }
  }
  layer_end = 1e300;
  return 3;
}

// Water of nodes 1..n-1 (cm).
double column_water(const double* theta, const double* dz, int n) {
  double sum = 0.0;
  for (int j = 1; j <= n - 1; ++j) sum += theta[j] * dz[j];
  return sum;
}

}  // namespace

void set_node_layer(const regrid_column& col, int k, const soil_table_record& s, int L, int model) {
  col.ks[k] = s.layer_hyd_cond[L];
  col.thetas[k] = s.layer_porosity[L];
  col.thetar[k] = s.layer_residual_moisture[L];
  col.thetawp[k] = s.layer_wilting_point[L];
  col.thetafc[k] = s.layer_field_capacity[L];
  if (model == soil_model_brooks_corey) {
    col.lam[k] = s.layer_pore_index[L];
    col.bp[k] = s.layer_bubbling_pressure[L];
    col.thehac[k] = brooks_corey_transition_theta(s.layer_porosity[L], s.layer_residual_moisture[L],
                                                  s.layer_pore_index[L]);
    col.bchc[k] = brooks_corey_transition_head(s.layer_bubbling_pressure[L], s.layer_pore_index[L]);
  } else {
    col.alpha[k] = s.layer_hav_alpha[L];
    col.beta[k] = s.layer_hav_beta[L];
    col.ahav[k] = s.layer_hav_a[L];
    col.bhav[k] = s.layer_hav_b[L];
  }
}

regrid_result gw_soil_column_regrid(const regrid_column& col, int old_nodes,
                                    const soil_table_record& s, int model, double ground,
                                    double head, double aquifer_dz, double* work) {
  regrid_result out;
  const int cap = col.capacity;
  double* old_dz = work;
  double* old_theta = work + cap + 1;
  const int n_old = std::clamp(old_nodes, 0, cap);
  for (int k = 0; k <= cap; ++k) {
    old_dz[k] = k <= n_old ? col.dz[k] : 0.0;
    old_theta[k] = k <= n_old ? col.theta[k] : 0.0;
  }
  const double water_before = n_old >= 2 ? column_water(old_theta, old_dz, n_old) : 0.0;
  const richards_column_view v = view_of(col);

  // The table at or above the ground: one saturated node under the ponded head.
  if (head >= ground) {
    set_node_layer(col, 1, s, 0, model);
    col.dz[1] = s.layer_node_spacing[0];
    col.phead[1] = (head - ground) * 100.0 + 0.5 * col.dz[1];
    col.theta[1] = col.thetas[1];
    col.theta[0] = col.theta[1];
    out.nodes = 1;
    out.yes_exfil = 1;
    out.gained = -water_before;
    return out;
  }

  // The new layout: nodes of their layer's nominal thickness from the ground down, cut at the
  // layer ends and at the table; a sliver thinner than a ten-thousandth of its nominal
  // thickness joins the node above.
  const double table = (ground - head) * 100.0;  // cm below the ground
  auto layout = [&](bool write) {
    int count = 0;
    double z = 0.0;
    while (z < table) {
      double layer_end = 0.0;
      const int L = layer_at(s, z, layer_end);
      const double nominal = L < 3 ? s.layer_node_spacing[L] : aquifer_dz * 100.0;
      const double d = std::min({nominal, layer_end - z, table - z});
      z += d;
      if (d < nominal / 10000.0 && count >= 1) {
        if (write) col.dz[count] += d;
        continue;
      }
      ++count;
      if (write && count < cap) {
        set_node_layer(col, count, s, std::min(L, 2), model);
        col.dz[count] = d;
      }
    }
    return count;
  };
  if (!(aquifer_dz > 0.0) || layout(false) + 1 > cap) {
    out.fits = false;
    out.nodes = n_old;
    return out;
  }
  int n = layout(true);
  // The saturated node at the table.
  {
    double layer_end = 0.0;
    const int L = layer_at(s, table, layer_end);
    ++n;
    set_node_layer(col, n, s, std::min(L, 2), model);
    col.dz[n] = L < 3 ? s.layer_node_spacing[L] : aquifer_dz * 100.0;
    col.phead[n] = 0.5 * col.dz[n];
    col.theta[n] = col.thetas[n];
  }
  col.dz[0] = col.dz[1];

  // The water onto the new nodes: each takes the old water over its own depth; soil the table
  // has left (below the old unsaturated column) is still full, at its saturated content.
  const double old_depth = [&] {
    double d = 0.0;
    for (int k = 1; k <= n_old - 1; ++k) d += old_dz[k];
    return d;
  }();
  double top = 0.0;
  int k_old = 1;
  double k_old_top = 0.0;
  for (int j = 1; j <= n - 1; ++j) {
    const double bottom = top + col.dz[j];
    double water = 0.0;
    // Old nodes overlapping [top, bottom).
    while (k_old <= n_old - 1 && k_old_top + old_dz[k_old] <= top) {
      k_old_top += old_dz[k_old];
      ++k_old;
    }
    int k = k_old;
    double k_top = k_old_top;
    while (k <= n_old - 1 && k_top < bottom) {
      const double a = std::max(top, k_top), b = std::min(bottom, k_top + old_dz[k]);
      if (b > a) water += (b - a) * old_theta[k];
      k_top += old_dz[k];
      ++k;
    }
    if (bottom > old_depth) water += (bottom - std::max(top, old_depth)) * col.thetas[j];
    col.theta[j] = std::min(water / col.dz[j], col.thetas[j]);
    top = bottom;
  }

  // Heads: the saturated nodes above the table hydrostatic from the saturated node up; the
  // others from their contents.
  for (int j = 1; j <= n - 1; ++j)
    if (col.theta[j] < col.thetas[j]) col.phead[j] = soil_psi_from_theta(v, model, j, col.theta[j]);
  for (int j = n - 1; j >= 1 && col.theta[j] >= col.thetas[j]; --j)
    col.phead[j] = col.phead[j + 1] - 0.5 * col.dz[j + 1] - 0.5 * col.dz[j];
  col.theta[0] = col.theta[1];
  col.phead[0] = 0.0;
  out.nodes = n;
  out.gained = column_water(col.theta, col.dz, n) - water_before;
  return out;
}
