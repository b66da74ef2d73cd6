// Seepage through the beds of channel lakes, per lake cell, between the lake and the aquifer (or
// the water table its map holds, or a table deep below): the channel routing step calls
// lake_bed_seepage_step once per channel step, before the lakes' extents follow their volumes.
#include "channel/lake_bed_seepage.h"

#include "channel/channel_gw_exchange.h"
#include "channel/channel_lakes.h"
#include "framework/model_state.h"

double lake_bed_conductivity(const model_state& ms, int cell) {
  const subsurface_state& ss = ms.subsurface;
  if (ss.gw_simulation) return cell <= ss.gw_cond_x.count() ? ss.gw_cond_x[cell] : 0.0;
  return cell <= ss.ks_cell.count() ? ss.ks_cell[cell] : 0.0;
}

double lake_bed_share(double volume, double gained, double lost) {
  const double held = volume + gained;
  if (!(lost > held)) return 1.0;
  return held > 0.0 ? held / lost : 0.0;
}

namespace {

// The seepage of one lake cell over dt (m3, positive into the lake).
double cell_seepage_volume(const model_state& ms, int lake, int c, double dt) {
  const channel_state& ch = ms.channel;
  const subsurface_state& ss = ms.subsurface;
  lake_bed_cell cell;
  cell.lake_level = ch.lake_elev[lake];
  cell.ground = ms.cell_elev[c];
  cell.conductivity = lake_bed_conductivity(ms, c);
  cell.thickness_cm = ch.Mlake[lake];
  cell.gridsize = ms.gridsize;
  const bool table =
      ss.water_table_on != 0 && c <= ss.elevgw.count() && c <= ss.bottom_elev.count();
  cell.head = table ? ss.elevgw[c] : 0.0;
  cell.aquifer_bottom = table ? ss.bottom_elev[c] : 0.0;
  cell.code = c <= ss.gwbound.count() ? ss.gwbound[c] : 0;
  double s = 0.0;
  if (!lake_bed_seepage(cell, table, ss.gw_simulation != 0, s)) return 0.0;
  return s * ms.gridsize * dt;
}

}  // namespace

void lake_bed_seepage_step(model_state& ms, double dt) {
  channel_state& ch = ms.channel;
  if (!ms.perennial_lakes || !ch.lake_loss || ch.num_lakes < 1 || ch.Mlake.empty() ||
      ch.calc_loss.empty() || !(dt > 0.0))
    return;
  const lake_extent_view v = lake_view(ms);
  run_totals& t = ms.output.totals;
  event_budget& b = ms.output.budget;
  raw_array1d<double>& aquifer = ms.groundwater.lake_seepage;
  const bool to_aquifer = ms.subsurface.gw_simulation != 0 && aquifer.count() >= ms.cell_count;
  // With constituents in the lakes the water each bed passed is kept for their routing.
  const bool kept = ch.lake_bed_out_water.count() >= ch.num_lakes &&
                    ch.lake_bed_in_water.count() >= ms.cell_count &&
                    ch.lake_bed_in_lake.count() >= ms.cell_count;
  for (int lake = 1; lake <= ch.num_lakes; ++lake) {
    if (!ch.calc_loss[lake]) continue;
    const int cells = ch.lake_cells[lake];
    double gained = 0.0, lost = 0.0;
    for (int k = 1; k <= cells; ++k) {
      const int c = lake_search_cell(v, lake, k);
      if (c == 0) continue;
      const double q = cell_seepage_volume(ms, lake, c, dt);
      if (q > 0.0)
        gained += q;
      else
        lost -= q;
    }
    if (gained == 0.0 && lost == 0.0) continue;
    // The bed passes no more than the lake holds: its cells' losses share what there is.
    const double share = lake_bed_share(ch.lake_volume[lake], gained, lost);
    for (int k = 1; k <= cells; ++k) {
      const int c = lake_search_cell(v, lake, k);
      if (c == 0) continue;
      double q = cell_seepage_volume(ms, lake, c, dt);
      if (q < 0.0) q *= share;
      if (c <= ch.lake_cell_loss.count()) ch.lake_cell_loss[c] = q / dt;
      if (to_aquifer) aquifer[c] += q;
      if (kept && q > 0.0) {
        ch.lake_bed_in_water[c] += q;
        ch.lake_bed_in_lake[c] = lake;
      }
    }
    // A lake whose bed would pass more than it holds gives what it holds and is empty.
    const double out = share < 1.0 ? ch.lake_volume[lake] + gained : lost;
    ch.lake_volume[lake] = share < 1.0 ? 0.0 : ch.lake_volume[lake] + gained - out;
    if (kept) ch.lake_bed_out_water[lake] += out;
    ch.lake_in_dv[lake] += gained;
    ch.lake_out_dv[lake] += out;
    t.run_vol_gw_to_lake += gained;
    t.run_vol_lake_to_gw += out;
    b.event_vol_gw_to_lake += gained;
    b.event_vol_lake_to_gw += out;
  }
}
