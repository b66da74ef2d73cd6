// The water of the layered soil as the soil constituents' carrier layers see it: the water held
// in the soil type's layers 1 and 2 and what has drained out of each since the run began, from
// the two-zone soil account in a long-term run and from the water the layered Green and Ampt
// soil has taken in otherwise, and the water content of each carrier layer from the two layer
// waters. Called by the soil constituent step and the nutrient soil layers' moisture.
#include <algorithm>

#include "framework/model_state.h"
#include "subsurface/subsurface_steps.h"

namespace {

constexpr double tiny = 1e-16;

}  // namespace

void soil_layer_water_content(double upper, double lower, double table_depth,
                              const double thickness[4], int layers, double phi1, double phi2,
                              double theta[4]) {
  const double d = table_depth;
  const double T1 = thickness[1] * 100.0;
  const double T2 = thickness[2] * 100.0;
  const double T3 = layers == 3 ? thickness[3] * 100.0 : 0.0;
  if (d <= tiny) {
    theta[1] = phi1;
    theta[2] = layers == 3 ? phi1 : phi2;
    if (layers == 3) theta[3] = phi2;
    return;
  }
  if (layers == 2) {
    theta[1] = (upper + (d < T1 ? (T1 - d) * phi1 : 0.0)) / T1;
    if (d < T1)
      theta[2] = phi2;
    else if (d < T1 + T2)
      theta[2] = (lower + (T1 + T2 - d) * phi2) / T2;
    else
      theta[2] = lower / T2;
    return;
  }
  // Three carrier layers: the soil's layer 1 is split into the mixing layer and the rest of it,
  // which share its water; the soil's layer 2 is the third carrier.
  if (d > T1 + T2)
    theta[1] = upper / (T1 + T2);
  else if (d < T1)
    theta[1] = ((T1 - d) * phi1 + upper) / T1;
  else
    theta[1] = upper / d;
  if (d < T1)
    theta[2] = phi1;
  else if (d < T1 + T2)
    theta[2] = ((T1 + T2 - d) * phi1 + (d - T1) * upper / d) / T2;
  else
    theta[2] = upper / (T1 + T2);
  if (d < T1 + T2)
    theta[3] = phi2;
  else if (d < T1 + T2 + T3)
    theta[3] = ((T1 + T2 + T3 - d) * phi2 + lower) / T3;
  else
    theta[3] = lower / T3;
}

layered_soil_water layered_soil_water_of(const model_state& ms, int cell) {
  const subsurface_state& ss = ms.subsurface;
  layered_soil_water w;
  if (!has(ss.soiltype, cell)) return w;
  const soil_table_record& r = ss.soil_types[ss.soiltype[cell]];
  const double H1 = r.layer_depth[0];
  const double H2 = r.layer_depth[1];
  // Below a water table the layers are full; without one the table lies below them.
  w.table_depth_cm = H1 + H2 + 1.0;
  if ((ss.water_table_on || ss.gw_simulation) && has(ss.elevgw, cell) && has(ms.cell_elev, cell))
    w.table_depth_cm = (ms.cell_elev[cell] - ss.elevgw[cell]) * 100.0;
  const soil_account_state& acc = ss.soil_account;
  if (ms.long_term && has(ss.zone_water_upper, cell) && has(ss.zone_water_lower, cell) &&
      has(acc.drain_upper_cum, cell) && has(acc.drain_lower_cum, cell)) {
    // The soil account holds the water of the two zones between and during the storms.
    w.upper_cm = ss.zone_water_upper[cell];
    w.lower_cm = ss.zone_water_lower[cell];
    w.drained_top_cm = acc.drain_upper_cum[cell];
    w.drained_bottom_cm = acc.drain_lower_cum[cell];
    return w;
  }
  // The layered Green and Ampt soil in an event: the water it took in fills the deficits of its
  // layers from the top (the deficit the infiltration takes, 1 % of the porosity for a layer
  // already full), and what the layers above cannot hold has drained out of them. Taking the
  // depth infiltrated (rather than the front's depth, which the scheme moves by its own rule)
  // keeps the layers' water equal to the water that came in.
  if (ss.THETA_ML.empty() || cell > ss.THETA_ML.row_count() || !has(ss.inf_depth_cum, cell))
    return w;
  double deficit[3];
  for (int k = 0; k < 3; ++k) {
    deficit[k] = r.layer_porosity[k] - ss.THETA_ML[cell][k + 1];
    if (deficit[k] <= 0.0) deficit[k] = r.layer_porosity[k] * 0.01;
  }
  const double F = std::max(ss.inf_depth_cum[cell] * 100.0, 0.0);
  const double room1 = H1 * deficit[0];
  const double room2 = H2 * deficit[1];
  w.upper_cm = ss.THETA_ML[cell][1] * H1 + std::min(F, room1);
  w.lower_cm = ss.THETA_ML[cell][2] * H2 + std::clamp(F - room1, 0.0, room2);
  w.drained_top_cm = std::max(F - room1, 0.0);
  w.drained_bottom_cm = std::max(F - room1 - room2, 0.0);
  return w;
}
