// Constituents carried up by exfiltration, a part of the overland constituent processes: the
// water the aquifer raised above a cell's ground since the last run comes up through the soil
// column's mixing layer onto the surface. It pushes the layer's pore water ahead of it into the
// overland water and leaves the aquifer's water (at the groundwater concentration of the
// constituent table) in its place; without the soil column it carries the groundwater
// concentration straight onto the surface. Through the layered soil's carrier layers it rises
// layer by layer: each layer's pore water goes up into the layer above (the top one's into the
// overland water) and the aquifer's water enters the bottom one. The nutrient species come up at
// their groundwater concentrations (the NSM_GW tables): the soil pools give the water only what
// they release. A held table under the Richards columns also takes surface water back: the water
// going down carries the overland concentration out of the surface.
#include <algorithm>

#include "framework/model_state.h"
#include "transport/contaminants/contam_kernels.h"
#include "transport/transport_steps.h"

namespace {

constexpr double tiny = 1e-16;

// The water e (m) rising through one cell's carrier layers 1..layers (top first): each layer's
// pore water it pushes up, never more than the layer holds in solution, moves into the layer
// above, and the top layer's into the overland water; the aquifer's mass `gw_in` (g) enters the
// bottom layer. Held at fixed concentrations the layers keep their masses. Returns the mass that
// reached the surface (g).
double rise_through_layers(double* mass, int layers, const double* theta, const double* thickness,
                           double kd, double e, double gw_in, bool fixed) {
  double up[4] = {};
  for (int l = 1; l <= layers; ++l) {
    const double water = theta[l] * thickness[l];  // m
    const double dissolved = mass[l] > 0.0 ? soil_dissolved_fraction(theta[l], kd) * mass[l] : 0.0;
    up[l] = water > tiny ? std::min(dissolved * e / water, dissolved) : 0.0;
  }
  if (!fixed) {
    mass[layers] += gw_in;
    for (int l = 1; l <= layers; ++l) {
      mass[l] -= up[l];
      if (l >= 2) mass[l - 1] += up[l];
    }
  }
  return up[1];
}

// The water `down` (m) that went from cell's surface into a held table carries the overland
// concentration of every constituent out of the surface books, never more than the cell holds; a
// surface left dry gives all it held.
void take_down(model_state& ms, int cell, double down) {
  transport_state& tr = ms.transport;
  const double area = ms.gridsize * ms.gridsize;
  const double depth = ms.overland.ov_depth[cell];
  for (int c = 1; c <= tr.num_contaminants; ++c) {
    const int type = tr.constituent_type[c];
    if (type != 1 && type != 2) continue;
    double& mass = tr.ov_contam_mass[c][cell];
    if (!(mass > 0.0)) continue;
    const double gone =
        depth > tiny ? std::min(tr.ov_contam_conc[c][cell] * down * area, mass) : mass;
    mass -= gone;
    tr.ov_contam_conc[c][cell] = depth > tiny ? mass / (depth * area) : 0.0;
    tr.OV_EXFIL_MASS[c] -= gone / 1000.0;
    tr.event_ov_exfil_mass[c] -= gone / 1000.0;
  }
}

}  // namespace

bool exfiltration_exchanges(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  // The layered and the redistribution soils exfiltrate over a held water table as well as over
  // a simulated aquifer; a held table under the Richards columns exchanges water both ways.
  const bool two_way = ss.inf_richards && !ss.gw_simulation && ss.water_table_on;
  const bool rising =
      ss.gw_simulation || two_way || ((ss.inf_layered_soil || ss.inf_redist) && ss.water_table_on);
  return rising && holds(ss.exfil_cum, n) && holds(ms.transport.contam.exfil_seen, n);
}

void exfiltration_mass(model_state& ms) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  const subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  const bool soil = tr.soil_con_trans != 0;
  // The layered soil's cells carry their own carrier layers.
  const bool layered = !ct.carrier_layers.empty();
  // A held table under the Richards columns exchanges water both ways with the surface.
  const bool two_way = ss.inf_richards && !ss.gw_simulation && ss.water_table_on;
  if (!exfiltration_exchanges(ms)) return;
  const double area = ms.gridsize * ms.gridsize;
  const double* depth = ms.overland.ov_depth.data();
  const double thickness =
      soil && has(ct.soil_layer_thickness, 1) ? ct.soil_layer_thickness[1] : 0.0;
  for (int cell = 1; cell <= n; ++cell) {
    // The run's exfiltrated depth starts again from 0 when the soil is set up afresh; where the
    // exchange goes both ways a smaller total is water that went down.
    const double cum = ss.exfil_cum[cell];
    const double seen = ct.exfil_seen[cell];
    const double e = two_way || cum >= seen ? cum - seen : cum;
    ct.exfil_seen[cell] = cum;
    if (e < -tiny) {
      take_down(ms, cell, -e);
      continue;
    }
    if (!(e > tiny)) continue;
    // The mixing layer's water content, as the soil constituents' step takes it.
    const raw_array1d<double>& moisture =
        ss.inf_redist && has(ss.surf_moist, cell) ? ss.surf_moist : ss.theta_init;
    const double theta = has(moisture, cell) ? moisture[cell] : 0.0;
    const double pore_water = theta * thickness;  // m of water in the mixing layer
    for (int c = 1; c <= tr.num_contaminants; ++c) {
      const int type = tr.constituent_type[c];
      if (type != 1 && type != 2) continue;
      const double gw_in = ct.gw_contam_conc[c][cell] * e * area;  // g
      double up = gw_in;
      if (soil && type == 1 && layered) {
        up = rise_through_layers(tr.soil_mass.plane(c)[cell], ct.carrier_layers[cell],
                                 ct.theta[cell], ct.carrier_thickness[cell],
                                 ct.contam_partition_coef[c][cell], e, gw_in,
                                 tr.soil_static_conc != 0);
        ct.soil_seep_up_total[c] += gw_in / 1000.0;
        ct.soil_exfil_total[c] += up / 1000.0;
      } else if (soil && type == 1) {
        // The pore water the aquifer's water pushes out of the layer, never more than the
        // layer holds in solution; the aquifer's water takes its place.
        double& layer = tr.soil_mass.plane(c)[cell][1];
        const double dissolved =
            layer > 0.0 ? soil_dissolved_fraction(theta, ct.contam_partition_coef[c][cell]) * layer
                        : 0.0;
        up = pore_water > tiny ? std::min(dissolved * e / pore_water, dissolved) : 0.0;
        // Held at fixed concentrations the layer only books what came and went.
        if (!tr.soil_static_conc) layer += gw_in - up;
        ct.soil_seep_up_total[c] += gw_in / 1000.0;
        ct.soil_exfil_total[c] += up / 1000.0;
      }
      double& mass = tr.ov_contam_mass[c][cell];
      mass += up;
      if (depth[cell] > tiny) tr.ov_contam_conc[c][cell] = mass / (depth[cell] * area);
      tr.OV_EXFIL_MASS[c] += up / 1000.0;
      tr.event_ov_exfil_mass[c] += up / 1000.0;
    }
  }
}
