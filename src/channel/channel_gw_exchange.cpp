// Seepage between the channels and the aquifer: the width of a node's bed at a depth, the flux
// through a stream bed and through a lake bed, and the pass over the grid-stream table and the
// lake cells that the channel routing and the groundwater step take.
#include "channel/channel_gw_exchange.h"

#include <cmath>
#include <cstdio>

#include "channel/lake_bed_seepage.h"
#include "channel/link_flows.h"
#include "framework/core/error_state.h"
#include "framework/core/units.h"
#include "framework/model_state.h"

double seepage_width(const seepage_section& s, double d) {
  if (s.kind == 8) {
    const double h = s.spacing;
    const int n = s.levels;
    if (s.widths == nullptr || n < 1 || !(h > 0.0)) return 0.0;
    if (d < h) return s.widths[1] * std::pow(d / h, 5.0 / 3.0);
    if (d <= n * h) {
      const int k = static_cast<int>(d / h);
      if (k + 1 > n) return s.widths[k];
      return s.widths[k] + (s.widths[k + 1] - s.widths[k]) * (d / h - k);
    }
    // Above the top level the top interval goes on.
    const double below = n >= 2 ? s.widths[n - 1] : 0.0;
    return s.widths[n] + (s.widths[n] - below) * (d / h - n);
  }
  double w = s.bottom + 2.0 * d * s.side_slope;
  if (s.kind == 16 && d > s.bankfull) w += 2.0 * (d - s.bankfull) * s.flood_slope;
  return w;
}

double stream_bed_flux(const bed_seepage_point& p, const seepage_section& s, bool water_table) {
  const double y = p.depth;
  const double k = p.thickness > 0.0 ? p.conductivity / seconds_per_hour / p.thickness : 0.0;
  if (!water_table) return y > 1e-16 ? -y * k * seepage_width(s, y) : 0.0;
  const double h = p.head;
  const double w_surface = p.bed + y;
  if (h <= p.bed) return y > 1e-6 ? -y * k * seepage_width(s, y) : 0.0;
  const double d = h > w_surface ? h - p.bed : y;
  if (h <= w_surface || h - p.aquifer_bottom >= 0.01) {
    if (h < p.ground || w_surface <= h) return k * (h - w_surface) * seepage_width(s, d);
  }
  return 0.0;
}

bool lake_bed_seepage(const lake_bed_cell& c, bool water_table, bool groundwater, double& s) {
  const double t = c.thickness_cm / 100.0;
  if (!(t > 0.0)) return false;
  const double depth = c.lake_level - c.ground;
  if (!water_table) {
    if (depth <= 1e-16) return false;
    s = -depth * c.conductivity / t * c.gridsize;
    return true;
  }
  if (groundwater && c.code != 7) return false;
  if (c.head <= c.ground || c.head - c.aquifer_bottom <= 0.01) {
    if (!(c.aquifer_bottom < c.lake_level && depth > 1e-16)) return false;
    s = -depth * c.conductivity / t * c.gridsize;
    return true;
  }
  s = (c.head - c.lake_level) * c.conductivity / t * c.gridsize;
  return true;
}

namespace {

seepage_section node_section(const channel_state& ch, int link, int node) {
  seepage_section s;
  const int type = ch.ltype[link];
  s.kind = (type & 8) ? 8 : (type & 16) ? 16 : 4;
  s.bottom = ch.bottom.has(link, node) ? ch.bottom(link, node) : 0.0;
  s.side_slope = ch.sslope.has(link, node) ? ch.sslope(link, node) : 0.0;
  s.flood_slope = ch.sslope2.has(link, node) ? ch.sslope2(link, node) : 0.0;
  s.bankfull = ch.bankfull_dep.has(link, node) ? ch.bankfull_dep(link, node) : 0.0;
  return s;
}

}  // namespace

int chan_gw_exchange(model_state& ms, double* lake_seepage, bool lake_seepage_on) {
  channel_state& ch = ms.channel;
  const subsurface_state& ss = ms.subsurface;
  const bool water_table = ss.water_table_on != 0;
  const bool groundwater = ss.gw_simulation != 0;

  if (lake_seepage_on && lake_seepage != nullptr && !ch.lake_mask.empty()) {
    for (int c = 1; c <= ms.cell_count && c <= ch.lake_mask.count(); ++c) {
      const int lake = ch.lake_mask[c];
      if (lake < 1 || lake > ch.num_lakes) {
        lake_seepage[c] = 0.0;
        continue;
      }
      lake_bed_cell cell;
      cell.lake_level = ch.lake_elev[lake];
      cell.ground = ms.cell_elev[c];
      cell.conductivity = lake_bed_conductivity(ms, c);
      cell.thickness_cm = ch.Mlake.empty() ? 0.0 : ch.Mlake[lake];
      cell.gridsize = ms.gridsize;
      cell.head = ss.elevgw.empty() ? 0.0 : ss.elevgw[c];
      cell.aquifer_bottom = ss.bottom_elev.empty() ? 0.0 : ss.bottom_elev[c];
      cell.code = ss.gwbound.empty() ? 0 : ss.gwbound[c];
      double s = 0.0;
      if (lake_bed_seepage(cell, water_table, groundwater, s)) lake_seepage[c] = s;
    }
  }
  if (!ch.stream_loss || ch.qriv.empty()) return 0;

  // Clear the node and entry fluxes.
  for (int link = 1; link <= ch.chan_link_count; ++link)
    for (int node = 1; node <= ch.qriv.node_count(link); ++node) ch.qriv(link, node) = 0.0;
  for (int sc = 1; sc <= ch.gst_stream_cells; ++sc)
    for (int e = 1; e <= ch.gst_ncellsingrid[sc]; ++e)
      if (!ch.gst_qriv.empty()) ch.gst_qriv[sc][e] = 0.0;

  int status = 0;
  for (int sc = 1; sc <= ch.gst_stream_cells; ++sc) {
    for (int e = 1; e <= ch.gst_ncellsingrid[sc]; ++e) {
      const int link = ch.gst_link[sc][e];
      const int node = ch.gst_node[sc][e];
      const int cell = ch.gst_gnum[sc][e];
      if (link < 1 || link > ch.chan_link_count || !ch.qriv.has(link, node)) continue;
      if (!link_is_routed(ch.ltype[link])) continue;
      if (ms.perennial_lakes && node > ch.nx[link]) continue;
      if (water_table && groundwater && (ss.gwbound.empty() || ss.gwbound[cell] != 4)) continue;
      seepage_section s = node_section(ch, link, node);
      if (s.kind == 8) {
        const int t = ch.table_num.has(link, node) ? ch.table_num(link, node) : 0;
        if (t < 1 || t > ch.num_xsec_tables) {
          fprintf(stderr, "Error in section: Request for table beyond max. table number.\n");
          stop_now();
          return 0;
        }
        s.widths = ch.xtw.link_nodes(t);
        s.levels = ch.numhts[t];
        s.spacing = ch.ht_spc[t];
      }
      bed_seepage_point p;
      p.depth = ch.chan_depth(link, node);
      p.bed = ch.bel(link, node);
      p.head = ss.elevgw.empty() ? p.bed : ss.elevgw[cell];
      p.aquifer_bottom = ss.bottom_elev.empty() ? 0.0 : ss.bottom_elev[cell];
      p.ground = ms.cell_elev[cell];
      p.conductivity = ch.Krb.has(link, node) ? ch.Krb(link, node) : 0.0;
      p.thickness = ch.Mrb.has(link, node) ? ch.Mrb(link, node) : 0.0;
      const double q = stream_bed_flux(p, s, water_table);
      if (!ch.gst_qriv.empty()) ch.gst_qriv[sc][e] = q;
      double& node_q = ch.qriv(link, node);
      node_q += ch.gst_pct[sc][e] * q;
      if (std::isnan(node_q)) {
        node_q = 0.0;
        printf("qriv in node %ld link %ld is not a number\n", static_cast<long>(node),
               static_cast<long>(link));
        printf("qriv set to zero in this node \n");
        printf("check your input \n");
      }
      if (node_q > 0.0) status = 1;
      if (node_q < 0.0 && p.bed + p.depth > p.bed && status != 1) status = 2;
    }
  }
  return status;
}

void book_stream_seepage(model_state& ms, double h) {
  channel_state& ch = ms.channel;
  if (ch.cell_seepage.empty() || ch.gst_qriv.empty()) return;
  for (int sc = ch.gst_stream_cells; sc >= 1; --sc) {
    for (int e = ch.gst_ncellsingrid[sc]; e >= 1; --e) {
      const int link = ch.gst_link[sc][e];
      const int node = ch.gst_node[sc][e];
      const int cell = ch.gst_gnum[sc][e];
      if (link < 1 || link > ch.chan_link_count || !link_is_routed(ch.ltype[link])) continue;
      if (!ch.qriv.has(link, node) || cell < 1 || cell > ch.cell_seepage.count()) continue;
      double& q = ch.gst_qriv[sc][e];
      if (node > ch.nx[link]) {
        q = 0.0;
        continue;
      }
      const double start = ch.qriv_start(link, node);
      q = std::fabs(start) < 1e-16 ? 0.0 : q * (ch.qriv(link, node) / start);
      const double volume = ch.dx[link] * q * h * ch.gst_pct[sc][e];
      ch.cell_seepage[cell] += volume;
      if (!ch.seepage_vol.empty()) ch.seepage_vol(link, node) += volume;
    }
  }
}
