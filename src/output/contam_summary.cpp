// The dissolved-constituent sections of the end-of-run summary: per constituent the soil column's
// books, the overland water's books and the whole system's, each with its balance error
// (in - out - final) / in. Called by write_run_summary after the sediment summaries.
#include "output/contam_summary.h"

#include <algorithm>
#include <cmath>

#include "framework/model_state.h"

namespace {

template <class T>
double total_at(const guarded_array<T>& a, int k) {
  return k >= 1 && k <= a.upper() ? a[k] : 0.0;
}

double total_at(const raw_array1d<double>& a, int k) {
  return has(a, k) ? a[k] : 0.0;
}

double percent_error(double in, double out, double threshold) {
  return in > threshold ? (in - out) / in * 100.0 : 0.0;
}

}  // namespace

constituent_books constituent_run_books(const model_state& ms, int k) {
  const transport_state& tr = ms.transport;
  const contam_tables& ct = tr.contam;
  constituent_books b;
  const bool soil = tr.soil_con_trans != 0;
  const bool table_terms = ct.contam_table_read != 0 && total_at(tr.constituent_type, k) == 1;
  // The stores as they are now.
  for (int cell = 1; cell <= ms.cell_count; ++cell) {
    if (!tr.ov_contam_mass.empty()) b.ov_final += tr.ov_contam_mass[k][cell] / 1000.0;
    if (!tr.ov_land_mass.empty()) b.land_final += tr.ov_land_mass[k][cell] / 1000.0;
    if (soil && tr.soil_mass.plane(k) != nullptr) {
      double** layers = tr.soil_mass.plane(k);
      for (int l = 1; l <= ct.soil_contam_layers; ++l) b.soil_final += layers[cell][l] / 1000.0;
      // Held at fixed concentrations the layer never takes in what waits for the soil step.
      if (!tr.soil_static_conc)
        b.soil_final += (ct.soil_infil_mass[k][cell] - ct.soil_uptake_mass[k][cell]) / 1000.0;
    }
  }
  const sed_contam_tables& sc = tr.sed_contam;
  if (sc.ready && k <= sc.outlet.count()) {
    for (int cell = 1; cell <= ms.cell_count; ++cell) {
      for (int cls = 1; cls <= sc.classes; ++cls) b.bound_final += sc.bound_mass[k][cell][cls];
      b.sed_eroded += sc.eroded[k][cell];
      b.sed_deposited += sc.deposited[k][cell];
      b.sed_source += sc.released[k][cell];
    }
    b.sed_source /= 1000.0;
    b.bound_final /= 1000.0;
    b.sed_eroded /= 1000.0;
    b.sed_deposited /= 1000.0;
    b.sed_out = sc.outlet[k] / 1000.0;
    if (sc.chan_ready && k <= sc.chan_bound.plane_count()) {
      const channel_state& ch = ms.channel;
      for (int link = 1; link <= ch.chan_link_count; ++link) {
        if ((ch.ltype[link] & (32 | 64 | 128)) != 0) continue;
        for (int node = 1; node <= ch.nx[link]; ++node) {
          const long row = static_cast<long>(link) * tr.sed_node_stride + node;
          for (int i = 1; i <= sc.fine; ++i) b.chan_bound_final += sc.chan_bound[k][row][i];
        }
      }
      b.chan_bound_final /= 1000.0;
      b.bound_to_channels = sc.to_channels[k] / 1000.0;
      b.chan_bound_out = sc.chan_outlet[k] / 1000.0;
      b.chan_released = sc.chan_released[k] / 1000.0;
      if (k <= sc.to_lakes.count()) {
        for (int lake = 1; lake <= tr.chan_contam.lakes; ++lake)
          for (int i = 1; i <= sc.fine; ++i)
            b.lake_bound_final += sc.chan_bound[k][tr.lake_row0 + lake][i];
        b.lake_bound_final /= 1000.0;
        b.bound_to_lakes = sc.to_lakes[k] / 1000.0;
        b.lake_settled = sc.lake_settled[k] / 1000.0;
        b.lake_released = sc.lake_released[k] / 1000.0;
        if (k <= sc.chan_to_lakes.count()) b.lake_bound_from_chan = sc.chan_to_lakes[k] / 1000.0;
      }
    }
    if (k <= sc.olake_bound.plane_count()) {
      for (int lake = 1; lake <= sc.olake_bound.row_count(); ++lake)
        for (int cls = 1; cls <= sc.classes; ++cls)
          b.olake_bound_final += sc.olake_bound[k][lake][cls];
      b.olake_bound_final /= 1000.0;
      b.bound_to_olakes = sc.to_olakes[k] / 1000.0;
      b.olake_settled = sc.olake_settled[k] / 1000.0;
      b.olake_released = sc.olake_released[k] / 1000.0;
    }
    if (sc.chan_untracked && k <= sc.to_channels.count())
      b.bound_to_channels = sc.to_channels[k] / 1000.0;
  }
  b.land_init = total_at(tr.OV_LAND_MASS_INIT, k);
  if (soil) {
    b.soil_init = b.land_init;
    b.soil_infil = total_at(ct.soil_infil_total, k);
    b.soil_uptake = total_at(ct.soil_uptake_total, k);
    b.soil_decay = total_at(ct.soil_decay_total, k);
    // What the last transport steps handed down or took up after the last soil step is on its
    // way: it counts as entered (or left) and is in the final mass above.
    double pending_in = 0.0;
    double pending_up = 0.0;
    for (int cell = 1; cell <= ms.cell_count; ++cell) {
      pending_in += ct.soil_infil_mass[k][cell] / 1000.0;
      pending_up += ct.soil_uptake_mass[k][cell] / 1000.0;
    }
    b.soil_infil += pending_in;
    b.soil_uptake += pending_up;
    b.soil_seep_up = total_at(ct.soil_seep_up_total, k);
    b.soil_exfil = total_at(ct.soil_exfil_total, k);
    b.soil_seep_down = total_at(ct.soil_seep_down_total, k);
    const double in = b.soil_init + b.soil_infil + b.sed_deposited + b.soil_seep_up;
    b.soil_error = percent_error(in,
                                 b.soil_final + b.soil_decay + b.soil_uptake + b.sed_eroded +
                                     b.soil_exfil + b.soil_seep_down,
                                 1e-6);
  }

  b.ov_init = total_at(tr.OV_MASS_INIT, k);
  b.ov_point = total_at(tr.OV_POINT_MASS, k);
  b.ov_precip = total_at(tr.OV_PRECIP_MASS, k);
  b.ov_uptake = total_at(tr.OV_UPTAKE_MASS, k);
  b.ov_infil = total_at(tr.OV_INFIL_MASS, k);
  b.ov_out = total_at(tr.OV_MASS_OUT, k);
  b.ov_decay = total_at(tr.OV_MASS_DECAY, k);
  b.ov_to_land = total_at(tr.OV_LAND_MASS, k);
  // The transport's scheme is not bound to keep every cell's mass positive: what it had to add
  // back to cells it left negative came from nowhere and is booked as an input.
  b.ov_neg = total_at(ct.neg_mass_total, k);
  b.ov_exfil = total_at(tr.OV_EXFIL_MASS, k);
  double in = b.ov_init + b.ov_point + b.ov_precip + b.ov_neg + b.ov_exfil;
  double out = b.ov_infil + b.ov_final + b.ov_out + b.ov_to_land;
  // The bound phase gave the water (or took from it) the sediment source.
  if (b.sed_source > 0.0)
    in += b.sed_source;
  else
    out -= b.sed_source;
  if (table_terms) {
    if (b.ov_uptake > 1e-16)
      in += b.ov_uptake;
    else
      out -= b.ov_uptake;
    out += b.ov_decay;
  }
  const bool channels = tr.chan_contam.ready != 0;
  // Without channel constituents what the water handed the stream leaves the books there.
  const bool untracked_channels = !channels && ms.channel.chan_explic != 0;
  const bool lakes = channels && tr.chan_contam.lakes >= 1;
  if (channels || untracked_channels) {
    b.ov_to_stream = total_at(tr.OV_QLAT_MASS, k);
    out += b.ov_to_stream;
  }
  if (lakes) {
    b.ov_to_lakes = total_at(tr.chan_contam.ov_to_lakes, k);
    out += b.ov_to_lakes;
  }
  const olake_contam_tables& oc = tr.olake_contam;
  if (oc.lakes >= 1) {
    for (int lake = 1; lake <= oc.lakes; ++lake)
      b.olake_final += (oc.mass[k][lake] + oc.pending[k][lake]) / 1000.0;
    b.olake_init = total_at(oc.init_total, k);
    b.olake_from_ov = total_at(oc.from_ov_total, k);
    for (int lake = 1; lake <= oc.lakes; ++lake) b.olake_from_ov += oc.pending[k][lake] / 1000.0;
    b.olake_precip = total_at(oc.precip_total, k);
    b.olake_spill = total_at(oc.spill_total, k);
    b.olake_decay = total_at(oc.decay_total, k);
    b.olake_restored = total_at(oc.restored, k);
    b.olake_error = percent_error(
        b.olake_init + b.olake_from_ov + b.olake_precip + b.olake_restored +
            std::max(b.olake_released, 0.0),
        b.olake_final + b.olake_spill + b.olake_decay + std::max(-b.olake_released, 0.0), 1e-16);
    // The plane's water gave the lakes their net gain over the shores and took back the spills.
    out += b.olake_from_ov;
    in += b.olake_spill;
  }
  b.ov_error = percent_error(in, out, 1e-16);

  if (channels) {
    const chan_contam_tables& cc = tr.chan_contam;
    const channel_state& ch = ms.channel;
    for (int link = 1; link <= ch.chan_link_count; ++link) {
      if ((ch.ltype[link] & (32 | 64 | 128)) != 0) continue;
      for (int node = 1; node <= ch.nx[link]; ++node) {
        const int f = link * tr.con_node_stride + node;
        b.chan_final += (tr.chan_con_mass[k][f] + cc.chan_qlat_mass[k][f]) / 1000.0;
      }
    }
    b.chan_init = total_at(cc.init_total, k);
    b.chan_in = total_at(cc.qlat_total, k);
    b.chan_out = total_at(cc.out_total, k);
    b.chan_decay = total_at(cc.decay_total, k);
    b.chan_restored = total_at(cc.restored, k);
    b.chan_gw = total_at(cc.gw_total, k);
    b.chan_point = total_at(cc.point_total, k);
    const double gw_in = b.chan_gw > 0.0 ? b.chan_gw : 0.0;
    const double gw_out = b.chan_gw < 0.0 ? -b.chan_gw : 0.0;
    const double point_in = b.chan_point > 0.0 ? b.chan_point : 0.0;
    const double point_out = b.chan_point < 0.0 ? -b.chan_point : 0.0;
    const double released_in = b.chan_released > 0.0 ? b.chan_released : 0.0;
    const double released_out = b.chan_released < 0.0 ? -b.chan_released : 0.0;
    double lake_in = 0.0, lake_out = 0.0;
    if (lakes) {
      for (int lake = 1; lake <= cc.lakes; ++lake) b.lake_final += tr.lake_mass[k][lake] / 1000.0;
      b.lake_init = total_at(cc.lake_init_total, k);
      b.lake_from_chan = total_at(cc.lake_from_chan, k);
      b.lake_ov = total_at(cc.lake_ov_total, k);
      b.lake_precip = total_at(cc.lake_precip_total, k);
      b.lake_nodes = total_at(cc.lake_nodes_total, k);
      b.lake_to_chan = total_at(cc.lake_to_chan, k);
      b.lake_out = total_at(cc.lake_out_total, k);
      b.lake_decay = total_at(cc.lake_decay_total, k);
      b.lake_restored = total_at(cc.lake_restored, k);
      b.lake_pump = total_at(cc.lake_pump_total, k);
      b.lake_bed_out = total_at(cc.lake_bed_out_total, k);
      b.lake_bed_in = total_at(cc.lake_bed_in_total, k);
      // The overland water's hand-over waiting to be applied is the lakes' already.
      for (int lake = 1; lake <= cc.lakes; ++lake) {
        const double waiting = cc.lake_ov_inflow_mass[k][lake] / 1000.0;
        b.lake_final += waiting;
        b.lake_ov += waiting;
      }
      b.lake_error =
          percent_error(b.lake_init + b.lake_from_chan + b.lake_ov + b.lake_precip + b.lake_nodes +
                            b.lake_restored + b.lake_bed_in + std::max(b.lake_released, 0.0),
                        b.lake_final + b.lake_to_chan + b.lake_out + b.lake_decay + b.lake_pump +
                            b.lake_bed_out + std::max(-b.lake_released, 0.0),
                        1e-16);
      // The channels gain what the lakes' outlets give them and lose what the links ending in
      // a lake bring it and the nodes a rising lake took.
      lake_in = b.lake_to_chan;
      lake_out = b.lake_from_chan + b.lake_nodes;
    }
    b.chan_error = percent_error(
        b.chan_init + b.chan_in + b.chan_restored + gw_in + point_in + released_in + lake_in,
        b.chan_final + b.chan_out + b.chan_decay + gw_out + point_out + released_out + lake_out,
        1e-16);
  }

  b.global_init = total_at(tr.GLOBAL_MASS_INIT, k);
  b.global_final = b.ov_final + (soil ? b.soil_final : b.land_final) + b.chan_final +
                   b.bound_final + b.chan_bound_final + b.lake_final + b.olake_final +
                   b.lake_bound_final + b.lake_settled + b.olake_bound_final + b.olake_settled;
  b.global_point = total_at(tr.GLOBAL_POINT_SOURCE, k);
  b.global_precip = total_at(ct.global_precip_mass, k);
  b.global_out = total_at(tr.GLOBAL_MASS_OUT, k) + b.sed_out + b.chan_bound_out;
  // What the lake pumps and the lakes' beds took leaves the system.
  b.global_out += b.lake_pump + b.lake_bed_out;
  // Without the soil column, infiltrated mass leaves the system.
  if (!soil) b.global_out += b.ov_infil;
  // So does the bound mass the sediment handed it.
  if (untracked_channels) b.global_out += b.ov_to_stream + b.bound_to_channels;
  b.global_decay = total_at(tr.GLOBAL_MASS_DECAY, k);
  // What the stream beds took leaves the system; what they gave came into it.
  if (b.chan_gw < 0.0) b.global_out -= b.chan_gw;
  // The aquifer's water brought its constituents into the soil column, or without the column
  // straight onto the surface.
  const double from_aquifer = soil ? b.soil_seep_up : b.ov_exfil;
  const double g_in = b.global_init + b.global_point + b.global_precip + b.ov_neg +
                      b.chan_restored + b.lake_restored + b.olake_restored +
                      (b.chan_gw > 0.0 ? b.chan_gw : 0.0) + from_aquifer + b.lake_bed_in;
  const double g_out = b.global_out + b.global_final + (table_terms ? b.global_decay : 0.0);
  b.global_error = percent_error(g_in, g_out, 0.0);
  return b;
}

void write_constituent_run_summary(FILE* fp, const model_state& ms) {
  const transport_state& tr = ms.transport;
  if (fp == nullptr || !tr.ov_con_trans) return;
  const bool soil = tr.soil_con_trans != 0;
  const bool table = tr.contam.contam_table_read != 0;
  const bool water_table = ms.subsurface.water_table_on != 0 || ms.subsurface.gw_simulation != 0;
  const int nc = tr.num_contaminants;
  auto name = [&](int k) {
    return k < static_cast<int>(tr.contamdescriptions.size())
               ? tr.contamdescriptions[static_cast<std::size_t>(k)].c_str()
               : "";
  };
  if (soil) {
    fprintf(fp, "Soil Contaminant Transport Summary \n \n");
    for (int k = 1; k <= nc; ++k) {
      if (total_at(tr.constituent_type, k) != 1) continue;  // nutrients: their own summary
      const constituent_books b = constituent_run_books(ms, k);
      fprintf(fp, "\n \n");
      fprintf(fp, "Soil Constituent Transport Summary for %s \n", name(k));
      fprintf(fp, "\n");
      fprintf(fp, "Initial Mass in Soil Column   %14.2lf \n", b.soil_init);
      fprintf(fp, "Final Mass in Soil Column     %14.2lf \n \n", b.soil_final);
      fprintf(fp, "Mass added by infiltration    %14.2lf \n", b.soil_infil);
      fprintf(fp, "Mass seepage up from GW       %14.2lf \n \n", b.soil_seep_up);
      if (table) {
        fprintf(fp, "Uptake from soil              %14.2lf \n", b.soil_uptake);
        fprintf(fp, "Soil decay mass               %14.2lf \n", b.soil_decay);
      }
      if (water_table) fprintf(fp, "Exfiltration mass loss        %14.2lf \n", b.soil_exfil);
      fprintf(fp, "Mass seepage down to GW       %14.2lf \n \n", b.soil_seep_down);
      if (tr.sed_contam.ready)
        fprintf(fp, "Sediment eroded(-)/deposited  %14.2lf \n \n", b.sed_deposited - b.sed_eroded);
      fprintf(fp, "Soil mass balance error       %14.4lf \n", b.soil_error);
      if (tr.soil_static_conc)
        fprintf(fp,
                "When using static soil concentrations, mass balance errors represent implied "
                "additions to soil top layer \n");
      fprintf(fp, "\n");
    }
  }

  fprintf(fp, "\n\n *************   Overland Transport Summaries   **************** \n\n");
  for (int k = 1; k <= nc; ++k) {
    if (total_at(tr.constituent_type, k) != 1) continue;  // nutrients: their own summary
    const constituent_books b = constituent_run_books(ms, k);
    fprintf(fp, "\n\n");
    fprintf(fp, "Overland Constituent Transport Summary for Constituent %5d (%s)\n", k, name(k));
    fprintf(fp, "Amounts are total for simulations in (Kg) \n \n");
    fprintf(fp, "Initial Dissolved mass on ov  %14.2lf \n", b.ov_init);
    fprintf(fp, "Final Dissolved mass on ov    %14.2lf \n", b.ov_final);
    fprintf(fp, "\n");
    if (!soil) {
      fprintf(fp, "Initial undissolved mass      %14.2lf \n", b.land_init);
      fprintf(fp, "Final undissolved mass        %14.2lf \n", b.land_final);
      fprintf(fp, "\n");
    }
    fprintf(fp, "Point source mass gain        %14.2lf \n", b.ov_point);
    if (water_table) fprintf(fp, "Exfiltration mass gain        %14.2lf \n", b.ov_exfil);
    fprintf(fp, "Precipitation mass gain       %14.2lf \n", b.ov_precip);
    if (table) fprintf(fp, "Uptake from soil              %14.2lf \n", b.ov_uptake);
    if (tr.sed_contam.ready) fprintf(fp, "Sediment source               %14.2lf \n", b.sed_source);
    fprintf(fp, "\n");
    fprintf(fp, "Mass loss to infiltration     %14.2lf \n", b.ov_infil);
    if (tr.chan_contam.ready || ms.channel.chan_explic)
      fprintf(fp, "Mass loss to stream           %14.2lf \n", b.ov_to_stream);
    fprintf(fp, "Outlet mass flux              %14.2lf \n", b.ov_out);
    if (table) fprintf(fp, "Mass decay loss on overland   %14.2lf \n", b.ov_decay);
    fprintf(fp, "Mass left on land by drying   %14.2lf \n", b.ov_to_land);
    if (tr.chan_contam.lakes >= 1)
      fprintf(fp, "Mass loss to lakes            %14.2lf \n", b.ov_to_lakes);
    if (tr.olake_contam.lakes >= 1) {
      fprintf(fp, "Mass loss to overland lakes   %14.2lf \n", b.olake_from_ov);
      fprintf(fp, "Mass spilled from lakes       %14.2lf \n", b.olake_spill);
    }
    fprintf(fp, "Mass restored to emptied cells %13.2lf \n", b.ov_neg);
    fprintf(fp, "\n");
    if (tr.sed_contam.ready) {
      fprintf(fp, "Attached to susp sediments    %14.2lf \n", b.bound_final);
      fprintf(fp, "Attached exiting watershed    %14.2lf \n", b.sed_out);
      if (tr.sed_contam.chan_ready || tr.sed_contam.chan_untracked)
        fprintf(fp, "Attached handed to channels   %14.2lf \n", b.bound_to_channels);
      if (!tr.sed_contam.to_lakes.empty())
        fprintf(fp, "Attached handed to lakes      %14.2lf \n", b.bound_to_lakes);
      if (!tr.sed_contam.olake_bound.empty())
        fprintf(fp, "Attached handed to ov lakes   %14.2lf \n", b.bound_to_olakes);
    }
    fprintf(fp, "\n");
    fprintf(fp, "Contam mass balance error       %14.4lf percent \n", b.ov_error);
    if (tr.olake_contam.lakes < 1) continue;
    fprintf(fp, "\n");
    fprintf(fp, "Overland Lake Constituent Summary for Constituent %5d \n", k);
    fprintf(fp, "Amounts are total for simulations in (Kg) \n \n");
    fprintf(fp, "Initial Mass in Overland Lakes %13.2lf \n", b.olake_init);
    fprintf(fp, "Final Mass in Overland Lakes  %14.2lf \n \n", b.olake_final);
    fprintf(fp, "Mass gain from overland       %14.2lf \n", b.olake_from_ov);
    fprintf(fp, "Precipitation mass gain       %14.2lf \n", b.olake_precip);
    fprintf(fp, "Mass spilled to overland      %14.2lf \n", b.olake_spill);
    if (table) fprintf(fp, "Mass decay loss               %14.2lf \n", b.olake_decay);
    fprintf(fp, "Mass restored to emptied lakes %13.2lf \n", b.olake_restored);
    if (!tr.sed_contam.olake_bound.empty()) {
      fprintf(fp, "Gain from lake sediments      %14.2lf \n", b.olake_released);
      fprintf(fp, "\n");
      fprintf(fp, "Attached from overland        %14.2lf \n", b.bound_to_olakes);
      fprintf(fp, "Attached to lake sediments    %14.2lf \n", b.olake_bound_final);
      fprintf(fp, "Attached settled in lakes     %14.2lf \n", b.olake_settled);
    }
    fprintf(fp, "\n");
    fprintf(fp, "Overland lake mass balance error %12.4lf percent \n", b.olake_error);
  }

  if (tr.chan_contam.ready) {
    fprintf(fp, "\n\n *************   Channel Transport Summaries   **************** \n\n");
    for (int k = 1; k <= nc; ++k) {
      const constituent_books b = constituent_run_books(ms, k);
      fprintf(fp, "\n \n");
      fprintf(fp, "Channel Contaminant Transport Summary for Contaminant %5d \n", k);
      fprintf(fp, "Amounts are total for simulations in (Kg) \n \n");
      fprintf(fp, "Dissolved\n");
      fprintf(fp, "Initial Mass in Channels      %14.2lf \n", b.chan_init);
      fprintf(fp, "Final Mass in Channels        %14.2lf \n \n", b.chan_final);
      fprintf(fp, "Mass gain from overland       %14.2lf \n", b.chan_in);
      fprintf(fp, "Point source mass gain        %14.2lf \n", b.chan_point);
      if (ms.channel.stream_loss)
        fprintf(fp, "Groundwater mass gain/loss    %14.2lf \n \n", b.chan_gw);
      fprintf(fp, "Outlet mass flux              %14.2lf \n", b.chan_out);
      if (table) fprintf(fp, "Mass decay loss               %14.2lf \n", b.chan_decay);
      fprintf(fp, "Mass restored to emptied nodes %13.2lf \n", b.chan_restored);
      if (tr.sed_contam.chan_ready)
        fprintf(fp, "Gain from channel sediments   %14.2lf \n", b.chan_released);
      fprintf(fp, "\n");
      fprintf(fp, "Dissolved mass balance error       %14.4lf percent \n", b.chan_error);
      fprintf(fp, "\n");
      if (tr.sed_contam.chan_ready) {
        // The bound phase: what came from the plane is bound now, gone out or in the water.
        // With lakes: what the plane's sediment took into the lakes too, and the lakes' share.
        const double in = b.bound_to_channels + b.bound_to_lakes;
        const double left = b.chan_bound_final + b.chan_bound_out + b.chan_released +
                            b.lake_bound_final + b.lake_settled + b.lake_released;
        fprintf(fp, "Sediment attached\n");
        fprintf(fp, "Attached from overland        %14.2lf \n", b.bound_to_channels);
        fprintf(fp, "Attached to channel sediments %14.2lf \n", b.chan_bound_final);
        fprintf(fp, "Attached exiting at outlet    %14.2lf \n", b.chan_bound_out);
        fprintf(fp, "Released to channel water     %14.2lf \n", b.chan_released);
        if (!tr.sed_contam.to_lakes.empty()) {
          fprintf(fp, "Attached from overland to lakes %12.2lf \n", b.bound_to_lakes);
          fprintf(fp, "Attached to lake sediments    %14.2lf \n", b.lake_bound_final);
          fprintf(fp, "Attached settled in lakes     %14.2lf \n", b.lake_settled);
          fprintf(fp, "Released to lake water        %14.2lf \n", b.lake_released);
        }
        fprintf(fp, "Attached mass balance error        %14.4lf percent \n",
                percent_error(in, left, 1e-16));
        fprintf(fp, "\n");
      }
      if (tr.chan_contam.lakes < 1) continue;
      fprintf(fp, "Lake Contaminant Transport Summary for Contaminant %5d \n", k);
      fprintf(fp, "Amounts are total for simulations in (Kg) \n \n");
      fprintf(fp, "Initial Mass in Lakes         %14.2lf \n", b.lake_init);
      fprintf(fp, "Final Mass in Lakes           %14.2lf \n \n", b.lake_final);
      fprintf(fp, "Mass gain from channels       %14.2lf \n", b.lake_from_chan);
      fprintf(fp, "Mass gain from overland       %14.2lf \n", b.lake_ov);
      fprintf(fp, "Precipitation mass gain       %14.2lf \n", b.lake_precip);
      fprintf(fp, "Mass of nodes taken by lakes  %14.2lf \n \n", b.lake_nodes);
      fprintf(fp, "Mass loss to channels         %14.2lf \n", b.lake_to_chan);
      fprintf(fp, "Outlet mass flux              %14.2lf \n", b.lake_out);
      if (table) fprintf(fp, "Mass decay loss               %14.2lf \n", b.lake_decay);
      fprintf(fp, "Mass restored to emptied lakes %13.2lf \n", b.lake_restored);
      if (!tr.sed_contam.to_lakes.empty()) {
        fprintf(fp, "Gain from lake sediments      %14.2lf \n", b.lake_released);
        fprintf(fp, "Attached from channels        %14.2lf \n", b.lake_bound_from_chan);
      }
      if (!ms.channel.lake_pumps.empty())
        fprintf(fp, "Mass loss to lake pumps       %14.2lf \n", b.lake_pump);
      if (ms.channel.lake_loss) {
        fprintf(fp, "Mass loss through lake beds   %14.2lf \n", b.lake_bed_out);
        fprintf(fp, "Mass gain through lake beds   %14.2lf \n", b.lake_bed_in);
      }
      fprintf(fp, "\n");
      fprintf(fp, "Lake mass balance error       %14.4lf percent \n", b.lake_error);
      fprintf(fp, "\n");
    }
  }

  fprintf(fp, "\n\n *************   Global Transport Summaries   **************** \n\n");
  for (int k = 1; k <= nc; ++k) {
    if (total_at(tr.constituent_type, k) != 1) continue;  // nutrients: their own summary
    const constituent_books b = constituent_run_books(ms, k);
    fprintf(fp, "\n \n");
    fprintf(fp, "Contaminant Transport Global Summary for Contaminant %5d \n", k);
    fprintf(fp, "Amounts are total for simulations in (Kg) \n \n");
    fprintf(fp, "Total initial mass            %14.2lf \n", b.global_init);
    fprintf(fp, "Total final Mass              %14.2lf \n \n", b.global_final);
    fprintf(fp, "Point source inputs           %14.2lf\n", b.global_point);
    fprintf(fp, "Precipitation inputs          %14.2lf \n", b.global_precip);
    fprintf(fp, "Mass restored to emptied cells %13.2lf \n", b.ov_neg);
    fprintf(fp, "Flux from GW to streams       %14.2lf \n", b.chan_gw);
    if (tr.chan_contam.lakes >= 1 && ms.channel.lake_loss)
      fprintf(fp, "Flux from GW to lakes         %14.2lf \n", b.lake_bed_in);
    if (soil) fprintf(fp, "Soil mass in from groundwater %14.2lf \n \n", b.soil_seep_up);
    fprintf(fp, "Total mass out of system      %14.2lf \n \n", b.global_out);
    if (table) fprintf(fp, "Mass decay loss               %14.2lf \n", b.global_decay);
    fprintf(fp, "\n");
    fprintf(fp, "Contam mass balance error       %14.4lf percent \n", b.global_error);
  }
}
