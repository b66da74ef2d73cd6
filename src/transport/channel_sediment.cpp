// Channel sediment: the set-up of the channel sediment arrays and bed stocks at start-up, and the
// channel step's sediment pass, called by the channel routing step after its hydraulics. The
// sediment the overland step left in stream cells goes to their nodes; the sand classes move
// from node to node by the sand capacity of the flow over erodible beds, whose elevations follow
// what erodes and deposits; the fine classes travel with the water as wash load.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "transport/sediment_kernels.h"
#include "transport/transport_steps.h"

namespace {

constexpr int bit_erodible = 2, bit_trapezoid = 4, bit_breakpoint = 8, bit_other = 16,
              bit_lake = 32, bit_structure = 64;

long flat(const transport_state& tr, int link, int node) {
  return static_cast<long>(link) * tr.sed_node_stride + node;
}

bool erodible_trapezoid(const channel_state& ch, int link) {
  const int t = ch.ltype[link];
  return (t & bit_erodible) && (t & bit_trapezoid);
}

// The node's bed stock of sand: (1 - porosity) x erodible depth x bottom width x node spacing.
double bed_stock(const model_state& ms, int link, int node) {
  const channel_state& ch = ms.channel;
  return (1.0 - ms.transport.sediment.sed_porosity) * ch.max_eros(link, node) *
         ch.bottom(link, node) * ch.dx[link];
}

// The water volume of a node (m3).
double water_volume(const channel_state& ch, int link, int node) {
  return ch.area(link, node) * ch.dx[link];
}

// The friction slope at a node: the fall of the water surface to the next node, or to the first
// node of the link below, or along the bed between the last two nodes at the outlet.
double friction_slope(const channel_state& ch, int link, int node) {
  const int n = ch.nx[link];
  auto surface = [&](int l, int j) { return ch.bel(l, j) + ch.chan_depth(l, j); };
  if (node < n) return std::fabs(surface(link, node) - surface(link, node + 1)) / ch.dx[link];
  const int ds = ch.dslink[link];
  if (ds >= 1)
    return std::fabs(surface(link, node) - surface(ds, 1)) / (0.5 * (ch.dx[link] + ch.dx[ds]));
  if (n >= 2) return std::fabs(ch.bel(link, n - 1) - ch.bel(link, n)) / ch.dx[link];
  return 0.0;
}

template <class T>
bool allocate_1d(raw_array1d<T>& a, int n, const char* name) {
  if (a.allocate(n)) return true;
  std::printf("Error allocating memory for variable %s\n", name);
  return false;
}

bool allocate_2d(raw_array2d<double>& a, int rows, int cols, const char* name) {
  if (a.allocate(rows, cols)) return true;
  std::printf("Error allocating memory for variable %s\n", name);
  return false;
}

// Hands the suspended and loose sediment of every stream cell to the node of its first entry.
bool hand_off_stream_cells(model_state& ms) {
  transport_state& tr = ms.transport;
  ov_sediment_obj& sed = *tr.ov_sed;
  const channel_state& ch = ms.channel;
  const int classes = sed.num_sed_classes;
  for (int c = 1; c <= ch.gst_stream_cells; ++c) {
    if (ch.gst_ncellsingrid[c] < 1) continue;
    const int cell = ch.gst_gnum[c][1];
    const long f = flat(tr, ch.gst_link[c][1], ch.gst_node[c][1]);
    for (int k = 1; k <= classes; ++k) {
      const double m = sed.vol_sed[cell][k][2] + sed.vol_sed[cell][k][3];
      if (!std::isfinite(m)) {
        printf("qlat_sed is not a number, exiting.\n");
        stop_now();
        return false;
      }
      sed.vol_sed[cell][k][2] = 0.0;
      sed.vol_sed[cell][k][3] = 0.0;
      tr.qlat_sed[f][k] += m;
      tr.sed_to_chan[k] += m;
    }
  }
  return true;
}

// Moves `volume` of sand from node `from` to node `to` (0: out of the network), mobile positions
// in class order before the bed stock; returns what each position gave through `given`.
void move_sand(transport_state& tr, long from, long to, double volume, double* given) {
  const int positions = tr.num_sand_classes + 1;
  double left = volume;
  for (int i = 1; i <= positions; ++i) {
    const double take = tr.ch_sand_vol[from][i] < left ? tr.ch_sand_vol[from][i] : left;
    given[i] = take;
    left -= take;
    tr.ch_sand_vol[from][i] -= take;
    // Bed stock moved on travels as mobile sand of the first sand class.
    const int into = i <= tr.num_sand_classes ? i : 1;
    if (to != 0) tr.ch_sand_vol[to][into] += take;
  }
}

void sand_step(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  channel_state& ch = ms.channel;
  const ov_sediment_obj& sed = *tr.ov_sed;
  const sediment_member& sm = tr.sediment;
  const int nfine = tr.num_fine_classes, nsand = tr.num_sand_classes;
  const double nu = sm.kin_viscosity, d = sm.sand_size / 1000.0;
  const double w = yang_fall_velocity(d, nu);
  const int links = ch.chan_link_count;
  // Lateral sand joins the node's store whether or not the node holds water, so that every
  // volume the overland plane handed over stays on the books.
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      for (int i = 1; i <= nsand; ++i) {
        const double m = tr.qlat_sed[f][sed.sed_class[nfine + i]];
        tr.ch_sand_vol[f][i] += m;
      }
    }
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      double cap = 0.0;
      const double y = ch.chan_depth(l, j);
      if (erodible_trapezoid(ch, l) && y >= sed_tiny) {
        const double b = ch.bottom(l, j), z = ch.sslope(l, j);
        const double area = z * y * y + b * y;
        const double perim = b + 2.0 * y * std::sqrt(1.0 + z * z);
        cap = yang_sand_capacity(ch.qp(l, j), area, perim, friction_slope(ch, l, j), d, nu, w);
        if (!std::isfinite(cap)) printf("bed load NaN\n");
      }
      tr.sand_capacity[f] = cap;
    }
  double given[64] = {};
  const int last = links;
  for (int i = 0; i <= nsand + 1; ++i) tr.outlet_sand_flux[i] = 0.0;
  for (int l = 1; l <= links; ++l) {
    if (!erodible_trapezoid(ch, l)) continue;
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      const double k = tr.sand_capacity[f];
      for (int i = 1; i <= nsand + 1; ++i) tr.qsmax[f][nfine + i] = 0.0;
      if (!(std::fabs(k) > sed_tiny)) continue;
      const bool at_end = j == ch.nx[l];
      const bool outlet = at_end && l == last;
      long next = 0;
      if (!at_end)
        next = flat(tr, l, j + 1);
      else if (ch.dslink[l] >= 1)
        next = flat(tr, ch.dslink[l], 1);
      if (k > 0.0) {
        move_sand(tr, f, next, k * dt, given);
        for (int i = 1; i <= nsand + 1; ++i) {
          tr.qsmax[f][nfine + i] = given[i] / dt;
          if (outlet) {
            tr.outlet_sand_flux[i] = ch.qp(l, j) < 0.0 ? 0.0 : given[i] / dt;
            const int cls = sed.sed_class[nfine + (i <= nsand ? i : 1)];
            tr.sand_out[cls] += given[i];
          }
        }
      } else if (next != 0) {
        const int nl = at_end ? ch.dslink[l] : l, nj = at_end ? 1 : j + 1;
        if (ch.chan_depth(nl, nj) < sed_tiny) continue;
        move_sand(tr, next, f, -k * dt, given);
        for (int i = 1; i <= nsand + 1; ++i) tr.qsmax[f][nfine + i] = -given[i] / dt;
      }
    }
  }
  // Totals, and the beds of erodible trapezoidal links: they rise by a layer of what the node
  // gained over its start-up sand and fall by what it lost, never below its erodible depth.
  const double porosity = sm.sed_porosity;
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      double total = 0.0;
      for (int i = 1; i <= nsand + 1; ++i) total += tr.ch_sand_vol[f][i];
      tr.ch_sand_vol[f][0] = total;
      if (!erodible_trapezoid(ch, l)) continue;
      const double change = (total - tr.stock_start(l, j)) / (ch.dx[l] * (1.0 - porosity));
      ch.new_bel(l, j) =
          tr.org_bel(l, j) + bed_rise(change, ch.bottom(l, j), ch.sslope(l, j), ch.max_eros(l, j));
    }
}

void wash_fluxes_limit(model_state& ms, raw_array2d<double>& vol, raw_array2d<double>& flux);

// Face fluxes of the wash load from the concentrations `conc` and the volumes `vol`: flux[f][k]
// crosses the downstream face of node f (positive downstream), limited so that no node gives
// more than it holds.
void wash_fluxes(model_state& ms, double dt, raw_array2d<double>& conc, raw_array2d<double>& vol,
                 raw_array2d<double>& flux) {
  transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  const int nfine = tr.num_fine_classes, links = ch.chan_link_count;
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      const double v = ch.qp(l, j) * dt;
      long donor = f;
      if (v < 0.0) {
        if (j < ch.nx[l])
          donor = flat(tr, l, j + 1);
        else if (ch.dslink[l] >= 1)
          donor = flat(tr, ch.dslink[l], 1);
        else
          donor = 0;  // no backflow through the outlet
      }
      for (int k = 1; k <= nfine; ++k) flux[f][k] = donor == 0 ? 0.0 : conc[donor][k] * v;
    }
  wash_fluxes_limit(ms, vol, flux);
}

// Each node gives at most what it holds: its downstream face and the faces it feeds upstream
// (backflow) are cut in proportion.
void wash_fluxes_limit(model_state& ms, raw_array2d<double>& vol, raw_array2d<double>& flux) {
  transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  const int nfine = tr.num_fine_classes, links = ch.chan_link_count;
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      for (int k = 1; k <= nfine; ++k) {
        double out = flux[f][k] > 0.0 ? flux[f][k] : 0.0;
        if (j > 1) {
          const long up = flat(tr, l, j - 1);
          if (flux[up][k] < 0.0) out -= flux[up][k];
        } else {
          for (int u = 1; u <= ch.ndep[l]; ++u) {
            const int ul = ch.uslinks[l][u];
            const long up = flat(tr, ul, ch.nx[ul]);
            if (flux[up][k] < 0.0) out -= flux[up][k];
          }
        }
        if (!(out > vol[f][k])) continue;
        const double scale = vol[f][k] > 0.0 ? vol[f][k] / out : 0.0;
        if (flux[f][k] > 0.0) flux[f][k] *= scale;
        if (j > 1) {
          const long up = flat(tr, l, j - 1);
          if (flux[up][k] < 0.0) flux[up][k] *= scale;
        } else {
          for (int u = 1; u <= ch.ndep[l]; ++u) {
            const int ul = ch.uslinks[l][u];
            const long up = flat(tr, ul, ch.nx[ul]);
            if (flux[up][k] < 0.0) flux[up][k] *= scale;
          }
        }
      }
    }
}

// Applies the face fluxes to the volumes and refreshes the volume concentrations. A node without
// water keeps its wash load (at concentration 0) until water comes to carry it.
void wash_apply(model_state& ms, raw_array2d<double>& flux, raw_array2d<double>& vol,
                raw_array2d<double>& conc) {
  transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  const int nfine = tr.num_fine_classes;
  for (int l = 1; l <= ch.chan_link_count; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      const double water = water_volume(ch, l, j);
      vol[f][0] = 0.0;
      conc[f][0] = 0.0;
      for (int k = 1; k <= nfine; ++k) {
        double in = 0.0;
        if (j > 1) {
          in = flux[flat(tr, l, j - 1)][k];
        } else {
          for (int u = 1; u <= ch.ndep[l]; ++u) {
            const int ul = ch.uslinks[l][u];
            in += flux[flat(tr, ul, ch.nx[ul])][k];
          }
        }
        double v = vol[f][k] + in - flux[f][k];
        if (v < 0.0) v = 0.0;  // rounding only: no node gives more than it holds
        vol[f][k] = v;
        conc[f][k] = water > sed_tiny ? v / water : 0.0;
        vol[f][0] += v;
        conc[f][0] += conc[f][k];
      }
    }
}

void wash_step(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  const ov_sediment_obj& sed = *tr.ov_sed;
  const int nfine = tr.num_fine_classes, links = ch.chan_link_count;
  if (nfine < 1) return;
  raw_array2d<double>& saved_vol = tr.wash_work[0];
  raw_array2d<double>& saved_conc = tr.wash_work[1];
  raw_array2d<double>& predicted = tr.wash_work[2];
  raw_array2d<double>& corrected = tr.wash_work[3];
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      const double water = water_volume(ch, l, j);
      for (int k = 1; k <= nfine; ++k) {
        tr.ch_wash_vol[f][k] += tr.qlat_sed[f][sed.sed_class[k]];
        tr.wash_conc[f][k] = water > sed_tiny ? tr.ch_wash_vol[f][k] / water : 0.0;
        saved_vol[f][k] = tr.ch_wash_vol[f][k];
        saved_conc[f][k] = tr.wash_conc[f][k];
      }
    }
  // Predictor from the concentrations at the start, corrector from the predicted state, and the
  // average of the two carried.
  wash_fluxes(ms, dt, tr.wash_conc, tr.ch_wash_vol, predicted);
  wash_apply(ms, predicted, saved_vol, saved_conc);
  wash_fluxes(ms, dt, saved_conc, saved_vol, corrected);
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      for (int k = 1; k <= nfine; ++k) corrected[f][k] = 0.5 * (predicted[f][k] + corrected[f][k]);
    }
  // The average may ask a node for more than it holds: cut it again against the real volumes.
  wash_fluxes_limit(ms, tr.ch_wash_vol, corrected);
  double sum = 0.0;
  const long out = flat(tr, links, ch.nx[links]);
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      double total = 0.0;
      for (int k = 1; k <= nfine; ++k) total += tr.qsmax[f][k] = corrected[f][k] / dt;
      tr.qsmax[f][0] = total;
    }
  for (int k = 1; k <= nfine; ++k) {
    const double leaving = corrected[out][k] > 0.0 ? corrected[out][k] : 0.0;
    tr.outlet_wash_flux[k] = leaving / dt;
    tr.wash_out[sed.sed_class[k]] += leaving;
    sum += leaving / dt;
  }
  tr.outlet_wash_flux[0] = sum;
  wash_apply(ms, corrected, tr.ch_wash_vol, tr.wash_conc);
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      const long f = flat(tr, l, j);
      const double water = water_volume(ch, l, j);
      double total = 0.0;
      for (int k = 1; k <= nfine; ++k) {
        const int cls = sed.sed_class[k];
        total += tr.chan_sed_conc[f][cls] =
            water > sed_tiny ? tr.ch_wash_vol[f][k] * sed.particle_density[cls] / water : 0.0;
      }
      tr.chan_sed_conc[f][0] = total;
    }
}

}  // namespace

double yang_fall_velocity(double d, double nu) {
  const double dstar = std::pow(16.1865 / (nu * nu), 1.0 / 3.0) * d;
  return 8.0 * nu / d * (std::sqrt(1.0 + 0.0139 * dstar * dstar * dstar) - 1.0);
}

double yang_sand_capacity(double q, double area, double perim, double slope, double d, double nu,
                          double w) {
  const double sign = q < -sed_tiny ? -1.0 : 1.0;
  const double r = perim > sed_tiny ? area / perim : 0.0;
  const double s = std::fabs(slope);
  const double shear = 9810.0 * r * s;
  const double ustar = shear > sed_tiny ? std::sqrt(shear / 1000.0) : 0.0;
  const double re = ustar * d / nu;
  if (re < 1.2 || !(area > 0.0)) return 0.0;
  const double crit = re < 70.0 ? 2.5 / (std::log10(re) - 0.06) + 0.66 : 2.05;
  const double v = std::fabs(q / area);
  if (v / w < crit) return 0.0;
  const double a1 = std::log10(w * d / nu);
  const double lu = std::log10(ustar / w);
  const double excess = v * s / w - s * crit;
  if (!(excess > 0.0)) return 0.0;
  const double log_ct =
      5.435 - 0.286 * a1 - 0.457 * lu + (1.799 - 0.409 * a1 - 0.314 * lu) * std::log10(excess);
  return sign * std::fabs(q) * std::pow(10.0, log_ct) * 9810.0 / 25996500000.0;
}

double bed_rise(double change_area, double bottom, double side_slope, double erodible_depth) {
  if (change_area >= 0.0) {
    if (side_slope > 0.0)
      return (std::sqrt(bottom * bottom + 4.0 * side_slope * change_area) - bottom) /
             (2.0 * side_slope);
    return bottom > 0.0 ? change_area / bottom : 0.0;
  }
  const double drop = bottom > 0.0 ? change_area / bottom : 0.0;
  return drop < -erodible_depth ? -erodible_depth : drop;
}

void alloc_channel_sediment(model_state& ms) {
  transport_state& tr = ms.transport;
  channel_state& ch = ms.channel;
  if (!tr.chan_sediment || tr.ov_sed == nullptr) return;
  ov_sediment_obj& sed = *tr.ov_sed;
  const int links = ch.chan_link_count;
  for (int l = 1; l <= links; ++l) {
    const int t = ch.ltype[l];
    const char* what = (t & bit_structure)                  ? "hydraulic structures"
                       : (t & bit_lake)                     ? "lake links"
                       : (t & (bit_breakpoint | bit_other)) ? "break-point sections"
                                                            : nullptr;
    if (what == nullptr) continue;
    printf(
        "Error: sediment transport through %s (the SOIL_EROSION card with link %d) is not "
        "supported by this version.\n",
        what, l);
    stop_now();
    return;
  }
  int stride = 0;
  for (int l = 1; l <= links; ++l) stride = ch.nx[l] > stride ? ch.nx[l] : stride;
  tr.sed_node_stride = stride;
  const int rows = (links + 1) * stride + 1;
  const int classes = sed.num_sed_classes;
  if (tr.num_sand_classes + 1 >= 64) {
    stop_with_message("Error: at most 62 sand classes can be routed in the channels\n");
    return;
  }
  const bool ok = allocate_2d(tr.qlat_sed, rows, classes, "qlat_sed") &&
                  allocate_2d(tr.ch_sand_vol, rows, classes + 1, "ch_sand_vol") &&
                  allocate_2d(tr.ch_wash_vol, rows, classes, "ch_wash_vol") &&
                  allocate_2d(tr.wash_conc, rows, classes, "SS_node_conc_vol") &&
                  allocate_2d(tr.qsmax, rows, classes + 1, "qsmax") &&
                  allocate_2d(tr.chan_sed_conc, rows, classes, "chan_sed_conc") &&
                  allocate_2d(tr.wash_work[0], rows, classes, "temp_mass") &&
                  allocate_2d(tr.wash_work[1], rows, classes, "temp_conc") &&
                  allocate_2d(tr.wash_work[2], rows, classes, "temp_flux") &&
                  allocate_2d(tr.wash_work[3], rows, classes, "advect_flux") &&
                  allocate_1d(tr.sand_capacity, rows, "sand_capacity") &&
                  allocate_1d(tr.sed_to_chan, classes, "sed_to_chan") &&
                  allocate_1d(tr.sand_out, classes, "sand_out") &&
                  allocate_1d(tr.wash_out, classes, "wash_out") &&
                  allocate_1d(tr.outlet_wash_flux, classes, "outlet_wash_flux") &&
                  allocate_1d(tr.outlet_sand_flux, classes + 1, "outlet_sand_flux") &&
                  tr.org_bel.allocate(links, ch.nx.data()) &&
                  tr.stock_start.allocate(links, ch.nx.data()) &&
                  tr.qsmax_total.allocate(links, ch.nx.data()) &&
                  (ch.new_bel.link_count() == links || ch.new_bel.allocate(links, ch.nx.data()));
  if (!ok) {
    stop_with_message("Error: no memory for the channel sediment of %d links\n", links);
    return;
  }
  // Bed elevations and the sand stock of the erodible beds.
  tr.init_chan_sand_vol = 0.0;
  for (int l = 1; l <= links; ++l)
    for (int j = 1; j <= ch.nx[l]; ++j) {
      tr.org_bel(l, j) = ch.bel(l, j);
      ch.new_bel(l, j) = ch.bel(l, j);
      if (!erodible_trapezoid(ch, l)) continue;
      const double stock = bed_stock(ms, l, j);
      const long f = flat(tr, l, j);
      tr.ch_sand_vol[f][tr.num_sand_classes + 1] = stock;
      tr.ch_sand_vol[f][0] = stock;
      tr.stock_start(l, j) = stock;
      tr.init_chan_sand_vol += stock;
    }
  // Stream cells keep their soil: only their loose deposit can be taken up again.
  for (int c = 1; c <= ch.gst_stream_cells; ++c)
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
      const int cell = ch.gst_gnum[c][k];
      if (cell >= 1 && cell <= ms.cell_count) sed.channel_cells[cell] = 1;
    }
}

void channel_sediment_step(model_state& ms, double dt) {
  transport_state& tr = ms.transport;
  if (!tr.chan_sediment || tr.ov_sed == nullptr || tr.qlat_sed.empty() || !(dt > 0.0)) return;
  if (!hand_off_stream_cells(ms)) return;
  sand_step(ms, dt);
  if (tr.sediment.sed_constituents == 1) wash_step(ms, dt);
  std::fill(tr.qlat_sed.data(), tr.qlat_sed.data() + tr.qlat_sed.element_count(), 0.0);
}
