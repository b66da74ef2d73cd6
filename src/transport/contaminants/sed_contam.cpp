// Sediment-bound constituents on the overland plane (SEDIMENT_CONTAM). The overland sediment step
// carries the bound mass through the payload of this file: erosion takes the sorbed mass of the
// eroded soil from the soil column, each move of suspended sediment takes the same share of its
// bound mass along, settling gives it back to the soil column; the overland constituent transport
// step then shares every wet cell's constituent between its water and its suspended fine
// sediment by linear equilibrium partitioning. Mass only moves between stores, so the books close.
#include "transport/contaminants/sed_contam.h"

#include <algorithm>

#include "framework/core/error_state.h"
#include "framework/core/parallel_team.h"
#include "framework/model_state.h"
#include "transport/contaminants/contam_kernels.h"

namespace {

constexpr double tiny = 1e-16;

double clamp_share(double share) {
  return share < 0.0 ? 0.0 : (share > 1.0 ? 1.0 : share);
}

}  // namespace

void bound_pickup(const bound_payload& p, int cell, const double* eroded_volume) {
  double fine_fraction = 0.0;
  for (int k = 1; k <= p.classes; ++k)
    if (p.sand[k] == 0) fine_fraction += p.fract[cell][k][1];
  // The eroded soil is the top of the column: the single-layer soil's mixing layer, or the
  // layered soil's first carrier layer of the cell, each with its own porosity.
  const bool layered = p.carrier_thickness != nullptr;
  const double thickness = layered ? p.carrier_thickness[cell][1] : p.layer_thickness;
  const double porosity = layered ? p.carrier_porosity[cell][1] : p.porosity[cell];
  const double solids = thickness * p.area * (1.0 - porosity) * fine_fraction;  // m3
  if (!(solids > tiny)) return;
  for (int c = 1; c <= p.constituents; ++c) {
    double& layer = p.soil[c][cell][1];
    if (!(layer > tiny)) continue;
    double sorbed_share = 1.0 - soil_dissolved_fraction(p.theta[cell][1], p.soil_kd[c][cell]);
    sorbed_share = clamp_share(sorbed_share);
    const double sorbed = layer * sorbed_share;  // g
    const double per_volume = sorbed / solids;   // g per m3 of fine solids
    double taken = 0.0;
    for (int k = 1; k <= p.classes; ++k) {
      if (p.sand[k] != 0 || !(eroded_volume[k] > 0.0)) continue;
      double m = per_volume * eroded_volume[k];
      if (m > sorbed - taken) m = sorbed - taken;
      if (!(m > tiny)) continue;
      p.bound[c][cell][k] += m;
      taken += m;
    }
    layer -= taken;
    p.land[c][cell] -= taken;
    p.eroded[c][cell] += taken;
  }
}

void bound_move(const bound_payload& p, int giver, int receiver, int k, double share) {
  if (p.sand[k] != 0) return;
  share = clamp_share(share);
  for (int c = 1; c <= p.constituents; ++c) {
    double& from = p.bound[c][giver][k];
    const double m = from * share;
    from -= m;
    if (receiver != 0)
      p.bound[c][receiver][k] += m;
    else
      p.outlet[c] += m;
  }
}

void bound_into_lake(const bound_payload& p, int giver, int lake, int k, double share) {
  if (p.sand[k] != 0) return;
  share = clamp_share(share);
  for (int c = 1; c <= p.constituents; ++c) {
    double& from = p.bound[c][giver][k];
    const double m = from * share;
    from -= m;
    if (p.lake_bound != nullptr) {
      p.lake_bound[c][p.lake_row0 + lake][p.fine_position[k]] += m;
      p.to_lakes[c] += m;
    } else if (p.untracked != nullptr) {
      p.untracked[c] += m;
    }
  }
}

void bound_from_lake(const bound_payload& p, int lake, int receiver, int k, double share) {
  if (p.sand[k] != 0 || p.lake_bound == nullptr) return;
  share = clamp_share(share);
  for (int c = 1; c <= p.constituents; ++c) {
    double& from = p.lake_bound[c][p.lake_row0 + lake][p.fine_position[k]];
    const double m = from * share;
    from -= m;
    p.to_lakes[c] -= m;
    if (receiver != 0)
      p.bound[c][receiver][k] += m;
    else
      p.outlet[c] += m;
  }
}

void bound_into_olake(const bound_payload& p, int giver, int lake, int k, double share) {
  if (p.sand[k] != 0 || p.olake_bound == nullptr) return;
  share = clamp_share(share);
  for (int c = 1; c <= p.constituents; ++c) {
    double& from = p.bound[c][giver][k];
    const double m = from * share;
    from -= m;
    p.olake_bound[c][lake][k] += m;
    p.to_olakes[c] += m;
  }
}

void bound_from_olake(const bound_payload& p, int lake, int receiver, int k, double share) {
  if (p.sand[k] != 0 || p.olake_bound == nullptr) return;
  share = clamp_share(share);
  for (int c = 1; c <= p.constituents; ++c) {
    double& from = p.olake_bound[c][lake][k];
    const double m = from * share;
    from -= m;
    p.to_olakes[c] -= m;
    if (receiver != 0)
      p.bound[c][receiver][k] += m;
    else
      p.outlet[c] += m;
  }
}

void bound_settle_olake(const bound_payload& p, int lake, int k, double share) {
  if (p.sand[k] != 0 || p.olake_bound == nullptr) return;
  share = clamp_share(share);
  for (int c = 1; c <= p.constituents; ++c) {
    double& held = p.olake_bound[c][lake][k];
    const double m = held * share;
    held -= m;
    p.olake_settled[c] += m;
  }
}

void bound_settle(const bound_payload& p, int cell, int k, double share) {
  if (p.sand[k] != 0) return;
  share = clamp_share(share);
  for (int c = 1; c <= p.constituents; ++c) {
    double& held = p.bound[c][cell][k];
    const double m = held * share;
    held -= m;
    p.soil[c][cell][1] += m;
    p.land[c][cell] += m;
    p.deposited[c][cell] += m;
  }
}

double partition_cell(double kd, int classes, const int* sand, const double* particle_density,
                      const double* const* volume, int slot, double water, double dissolved,
                      double* bound) {
  if (!(water > tiny)) return dissolved;
  const double K = kd / 1.0e6;
  double total = dissolved;
  double s = 0.0;
  for (int k = 1; k <= classes; ++k) {
    if (sand[k] != 0) continue;
    total += bound[k];
    s += K * particle_density[k] * volume[k][slot] / water;
  }
  const double share = total / (1.0 + s);
  for (int k = 1; k <= classes; ++k) {
    if (sand[k] != 0) continue;
    bound[k] = share * K * particle_density[k] * volume[k][slot] / water;
  }
  return share;
}

bound_payload sed_contam_payload(model_state& ms) {
  bound_payload p;
  transport_state& tr = ms.transport;
  sed_contam_tables& sc = tr.sed_contam;
  if (!sc.ready || tr.ov_sed == nullptr) return p;
  contam_tables& ct = tr.contam;
  // The contaminants of the table (numbered first) bind to the sediment; the nutrient species
  // after them do not.
  p.constituents = std::min(ct.num_table_contaminants, tr.num_contaminants);
  p.classes = sc.classes;
  p.sand = tr.ov_sed->sand.data();
  p.bound = sc.bound_mass.plane_table();
  p.eroded = sc.eroded.row_table();
  p.deposited = sc.deposited.row_table();
  p.outlet = sc.outlet.data();
  p.soil = sc.soil_planes.data();
  p.land = tr.ov_land_mass.row_table();
  p.soil_kd = ct.contam_partition_coef.row_table();
  p.theta = ct.theta.row_table();
  p.porosity = ms.subsurface.porosity_cell.data();
  p.fract = tr.ov_sed->sed_fract.plane_table();
  p.layer_thickness = ct.soil_layer_thickness[1];
  if (!ct.carrier_layers.empty()) {
    p.carrier_thickness = ct.carrier_thickness.row_table();
    p.carrier_porosity = ct.carrier_porosity.row_table();
  }
  p.area = ms.gridsize * ms.gridsize;
  if (sc.chan_ready && !sc.to_lakes.empty()) {
    p.lake_bound = sc.chan_bound.plane_table();
    p.lake_row0 = tr.lake_row0;
    p.fine_position = tr.fine_position.data();
    p.to_lakes = sc.to_lakes.data();
  }
  if (sc.chan_untracked) p.untracked = sc.to_channels.data();
  if (!sc.olake_bound.empty()) {
    p.olake_bound = sc.olake_bound.plane_table();
    p.to_olakes = sc.to_olakes.data();
    p.olake_settled = sc.olake_settled.data();
  }
  return p;
}

void sed_contam_init(model_state& ms) {
  transport_state& tr = ms.transport;
  sed_contam_tables& sc = tr.sed_contam;
  if (!tr.sediment_contam || !tr.ov_con_trans || !tr.soil_con_trans || tr.ov_sed == nullptr ||
      tr.num_contaminants <= 0)
    return;
  const int nc = tr.num_contaminants;
  const int n = ms.cell_count;
  sc.classes = tr.ov_sed->num_sed_classes;
  if (!sc.bound_mass.allocate(nc, n, sc.classes) || !sc.eroded.allocate(nc, n) ||
      !sc.deposited.allocate(nc, n) || !sc.released.allocate(nc, n) || !sc.outlet.allocate(nc) ||
      !sc.soil_planes.allocate(nc)) {
    stop_with_message("Error: not enough memory for the sediment-bound constituents.\n");
    return;
  }
  for (int c = 1; c <= nc; ++c) sc.soil_planes[c] = tr.soil_mass.plane(c);
  sc.ready = 1;
  // Overland lakes hold the bound mass of the sediment they take in.
  const int olakes = ms.overland.olake_count;
  if (olakes >= 1 && !tr.olake_sed.empty() &&
      (!sc.olake_bound.allocate(nc, olakes, sc.classes) || !sc.to_olakes.allocate(nc) ||
       !sc.olake_settled.allocate(nc) || !sc.olake_released.allocate(nc))) {
    stop_with_message("Error: not enough memory for the sediment-bound constituents.\n");
    return;
  }
  if (!tr.chan_sediment || tr.sediment.sed_constituents != 1) return;
  // A channel network without channel constituents: the bound mass handed to it with the stream
  // cells' suspended sediment is lost to the stream, as the dissolved mass the water hands it.
  if (!tr.chan_contam.ready && ms.channel.chan_explic != 0) {
    if (!sc.to_channels.allocate(nc) || !sc.handed_deposit.allocate(sc.classes)) {
      stop_with_message("Error: not enough memory for the sediment-bound constituents.\n");
      return;
    }
    sc.chan_untracked = 1;
    return;
  }
  // With channel constituents and the wash load carried through the channels, the bound mass
  // follows the suspended sediment of the stream cells into their nodes.
  if (!tr.chan_contam.ready || tr.ch_wash_vol.empty()) return;
  sc.fine = tr.num_fine_classes;
  const int rows = tr.ch_wash_vol.row_count();
  if (sc.fine >= 1 && (!sc.chan_bound.allocate(nc, rows, sc.fine) || !sc.to_channels.allocate(nc) ||
                       !sc.chan_outlet.allocate(nc) || !sc.chan_released.allocate(nc) ||
                       !sc.handed_deposit.allocate(sc.classes))) {
    stop_with_message("Error: not enough memory for the sediment-bound constituents.\n");
    return;
  }
  // The channel lakes' rows of chan_bound hold their wash load's bound mass.
  if (sc.fine >= 1 && ms.perennial_lakes && ms.channel.num_lakes >= 1 &&
      (!sc.to_lakes.allocate(nc) || !sc.lake_settled.allocate(nc) ||
       !sc.lake_released.allocate(nc) || !sc.chan_to_lakes.allocate(nc))) {
    stop_with_message("Error: not enough memory for the sediment-bound constituents.\n");
    return;
  }
  sc.chan_ready = 1;
}

void sed_contam_partition(model_state& ms) {
  transport_state& tr = ms.transport;
  sed_contam_tables& sc = tr.sed_contam;
  if (!sc.ready || tr.ov_sed == nullptr) return;
  const int n = ms.cell_count;
  const double area = ms.gridsize * ms.gridsize;
  const double* depth = ms.overland.ov_depth.data();
  ov_sediment_obj& sed = *tr.ov_sed;
  const int classes = sc.classes;
  const int* sand = sed.sand.data();
  const double* density = sed.particle_density.data();
  double*** vol = sed.vol_sed.plane_table();
  for (int c = 1; c <= tr.num_contaminants; ++c) {
    if (tr.constituent_type[c] != 1) continue;
    const double kd =
        c <= tr.water_soil_partition_coef.upper() ? tr.water_soil_partition_coef[c] : 0.0;
    double* mass = tr.ov_contam_mass[c];
    double* conc = tr.ov_contam_conc[c];
    double** bound = sc.bound_mass.plane_table()[c];
    double* released = sc.released[c];
#pragma omp parallel for schedule(static) num_threads(team_size(n))
    for (int cell = 1; cell <= n; ++cell) {
      const double water = depth[cell] * area;
      if (!(water > tiny)) continue;
      // Slot 2 of the sediment volumes: the suspended sediment.
      const double before = mass[cell];
      mass[cell] =
          partition_cell(kd, classes, sand, density, vol[cell], 2, water, mass[cell], bound[cell]);
      released[cell] += mass[cell] - before;
      conc[cell] = mass[cell] / water;
    }
  }
}

namespace {

// Shares one store's constituent between its water (m3) and the fine classes of its sediment:
// volume[i] (m3) of class cls[i] (class i itself when cls is null) for i = 1..n, bound[i] their
// bound masses (g, overwritten); dissolved (g) in, the new dissolved mass out.
double partition_store(double kd, int n, const int* cls, const int* sand, const double* density,
                       const double* volume, double water, double dissolved, double* bound) {
  const double K = kd / 1.0e6;
  double total = dissolved, s = 0.0;
  for (int i = 1; i <= n; ++i) {
    const int k = cls != nullptr ? cls[i] : i;
    if (sand[k] != 0) continue;
    total += bound[i];
    s += K * density[k] * volume[i] / water;
  }
  const double share = total / (1.0 + s);
  for (int i = 1; i <= n; ++i) {
    const int k = cls != nullptr ? cls[i] : i;
    if (sand[k] == 0) bound[i] = share * K * density[k] * volume[i] / water;
  }
  return share;
}

double kd_of(const transport_state& tr, int c) {
  return c <= tr.water_soil_partition_coef.upper() ? tr.water_soil_partition_coef[c] : 0.0;
}

}  // namespace

double sed_contam_partition_lakes(model_state& ms, int c) {
  transport_state& tr = ms.transport;
  sed_contam_tables& sc = tr.sed_contam;
  const channel_state& ch = ms.channel;
  if (!sc.chan_ready || sc.to_lakes.empty() || tr.ov_sed == nullptr ||
      c > sc.chan_bound.plane_count() || tr.constituent_type[c] != 1)
    return 0.0;
  const ov_sediment_obj& sed = *tr.ov_sed;
  chan_contam_tables& cc = tr.chan_contam;
  double released = 0.0;
  for (int lake = 1; lake <= cc.lakes; ++lake) {
    const double water = ch.lake_volume[lake];
    if (!(water > tiny)) continue;
    const long row = tr.lake_row0 + lake;
    const double before = tr.lake_mass[c][lake];
    const double after = partition_store(kd_of(tr, c), sc.fine, sed.sed_class.data(),
                                         sed.sand.data(), sed.particle_density.data(),
                                         tr.ch_wash_vol[row], water, before, sc.chan_bound[c][row]);
    tr.lake_mass[c][lake] = after;
    cc.lake_conc[c][lake] = after / water;
    released += after - before;
  }
  sc.lake_released[c] += released;
  return released;
}

void sed_contam_partition_olakes(model_state& ms, int c) {
  transport_state& tr = ms.transport;
  sed_contam_tables& sc = tr.sed_contam;
  olake_contam_tables& oc = tr.olake_contam;
  if (sc.olake_bound.empty() || tr.ov_sed == nullptr || oc.lakes < 1 ||
      c > sc.olake_bound.plane_count() || tr.constituent_type[c] != 1)
    return;
  const ov_sediment_obj& sed = *tr.ov_sed;
  double released = 0.0;
  for (int lake = 1; lake <= oc.lakes; ++lake) {
    const double water = ms.overland.ov_lakes[lake].volume;
    if (!(water > tiny)) continue;
    const double before = oc.mass[c][lake];
    // The overland lakes hold every class by its own number.
    const double after = partition_store(kd_of(tr, c), sc.classes, nullptr, sed.sand.data(),
                                         sed.particle_density.data(), tr.olake_sed[lake], water,
                                         before, sc.olake_bound[c][lake]);
    oc.mass[c][lake] = after;
    oc.conc[c][lake] = after / water;
    released += after - before;
  }
  sc.olake_released[c] += released;
}
