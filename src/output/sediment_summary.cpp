// The overland sediment summary of the event runoff summary and of the end-of-run summary: the
// books of every size class, gathered from the cells' sediment volumes.
#include "output/sediment_summary.h"

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"

double sediment_class_books::error_percent() const {
  if (!(eroded > 1e-16)) return 0.0;
  return (eroded - (deposited + suspended + out + to_channels + to_lakes)) / eroded * 100.0;
}

sediment_class_books overland_sediment_books(const model_state& ms, int k) {
  sediment_class_books b;
  const ov_sediment_obj* sed = ms.transport.ov_sed.get();
  if (sed == nullptr || sed->vol_sed.empty() || k < 1 || k > sed->vol_sed.row_count()) return b;
  const int cells =
      ms.cell_count < sed->vol_sed.plane_count() ? ms.cell_count : sed->vol_sed.plane_count();
  for (int c = 1; c <= cells; ++c) {
    const double* v = sed->vol_sed[c][k];
    b.eroded -= v[1];
    b.suspended += v[2];
    b.deposited += v[3];
    b.out += v[4];
  }
  const raw_array1d<double>& chan = ms.transport.sed_to_chan;
  if (!chan.empty() && k <= chan.count()) b.to_channels = chan[k];
  const raw_array1d<double>& lakes = ms.transport.sed_to_lakes;
  if (!lakes.empty() && k <= lakes.count()) b.to_lakes = lakes[k];
  const raw_array2d<double>& olake_in = ms.transport.olake_sed_in;
  if (!olake_in.empty() && k <= olake_in.col_count())
    for (int lake = 1; lake <= olake_in.row_count(); ++lake) b.to_lakes += olake_in[lake][k];
  return b;
}

void write_overland_sediment_summary(FILE* fp, const model_state& ms, bool event) {
  const transport_state& tr = ms.transport;
  if (fp == nullptr || !tr.sediment.soil_erosion || tr.ov_sed == nullptr) return;
  fprintf(fp, "Overland Sediment Summary\n");
  if (event) fprintf(fp, "Quantities are running totals for simulation - NOT EVENT \n");
  for (int k = 1; k <= tr.sediment.num_sed_classes; ++k) {
    const sediment_class_books b = overland_sediment_books(ms, k);
    const long s = k;
    fprintf(fp, "Total sediment %ld eroded from surface:        %16.8lf m3\n", s, b.eroded);
    fprintf(fp, "Total sediment %ld deposited on surface:       %16.8lf m3\n", s, b.deposited);
    fprintf(fp, "Total sediment %ld remaining in suspension:    %16.8lf m3\n", s, b.suspended);
    if (tr.chan_sediment)
      fprintf(fp, "Total sediment %ld transported into channels:  %16.8lf m3\n", s, b.to_channels);
    else
      fprintf(fp, "Total sediment %ld routed through outlet       %16.8lf m3\n", s, b.out);
    if ((ms.perennial_lakes && !tr.sed_to_lakes.empty()) || !tr.olake_sed_in.empty())
      fprintf(fp, "Total sediment %ld transported into lakes:     %16.8lf m3\n", s, b.to_lakes);
    if (event)
      fprintf(fp, "Mass balance error for sediment %ld %10.4lf percent \n", s, b.error_percent());
    else
      fprintf(fp, "Mass balance error for sediment %ld %10.4lf \n", s, b.error_percent());
    fprintf(fp, "\n");
  }
  // The overland lakes' own books, per lake and class: what the plane handed them (net of what
  // their water carried back out) is what settled on their beds and what they still hold.
  const int olakes = tr.olake_sed_in.empty() ? 0 : tr.olake_sed_in.row_count();
  for (int lake = 1; lake <= olakes; ++lake) {
    const long l = lake;
    fprintf(fp, "Sediment Summary for overland lake %ld\n", l);
    for (int k = 1; k <= tr.sediment.num_sed_classes && k <= tr.olake_sed_in.col_count(); ++k) {
      const long s = k;
      fprintf(fp, "Sediment %ld into the lake from overland (net): %16.8lf m3\n", s,
              tr.olake_sed_in[lake][k]);
      fprintf(fp, "Sediment %ld settled on the lake bed:           %16.8lf m3\n", s,
              tr.olake_sed_settled[lake][k]);
      fprintf(fp, "Sediment %ld remaining in lake suspension:      %16.8lf m3\n", s,
              tr.olake_sed[lake][k]);
    }
    fprintf(fp, "\n");
  }
  fprintf(fp, "\n");
}

namespace {

double percent(double in, double out) {
  return in > 1e-16 ? (in - out) / in * 100.0 : 0.0;
}

}  // namespace

double channel_sediment_books::sand_error() const {
  return percent(sand_initial + sand_in, sand_out + sand_final + sand_to_lakes);
}
double channel_sediment_books::wash_error() const {
  return percent(wash_in + wash_from_lakes, wash_out + wash_final + wash_to_lakes);
}
double channel_sediment_books::overall_error() const {
  return percent(sand_initial + sand_in + wash_in + wash_from_lakes,
                 sand_out + sand_final + sand_to_lakes + wash_out + wash_final + wash_to_lakes);
}

channel_sediment_books channel_sediment_totals(const model_state& ms) {
  channel_sediment_books b;
  const transport_state& tr = ms.transport;
  const ov_sediment_obj* sed = tr.ov_sed.get();
  if (!tr.chan_sediment || sed == nullptr || tr.sed_to_chan.empty()) return b;
  b.sand_initial = tr.init_chan_sand_vol;
  for (int k = 1; k <= sed->num_sed_classes; ++k) {
    if (sed->sand[k]) {
      b.sand_in += tr.sed_to_chan[k];
      b.sand_out += tr.sand_out[k];
    } else {
      b.wash_in += tr.sed_to_chan[k];
      b.wash_out += tr.wash_out[k];
    }
  }
  const channel_state& ch = ms.channel;
  // Every node as read, lakes and structures left out: a node a lake holds keeps its bed stock.
  for (int l = 1; l <= ch.chan_link_count; ++l) {
    if (ch.ltype[l] & (32 | 64)) continue;
    const int nodes = ch.og_nx1.count() >= l ? ch.og_nx1[l] : ch.nx[l];
    for (int j = 1; j <= nodes; ++j) {
      const long f = static_cast<long>(l) * tr.sed_node_stride + j;
      for (int i = 1; i <= tr.num_sand_classes + 1; ++i) b.sand_final += tr.ch_sand_vol[f][i];
      for (int k = 1; k <= tr.num_fine_classes; ++k) b.wash_final += tr.ch_wash_vol[f][k];
    }
  }
  const int lakes = ms.perennial_lakes ? ch.num_lakes : 0;
  for (int lake = 1; lake <= lakes && tr.lake_row0 + lake <= tr.ch_sand_vol.row_count(); ++lake)
    for (int i = 1; i <= tr.num_sand_classes + 1; ++i)
      b.sand_to_lakes += tr.ch_sand_vol[tr.lake_row0 + lake][i];
  b.wash_to_lakes = tr.wash_to_lakes;
  b.wash_from_lakes = tr.wash_from_lakes;
  return b;
}

void write_channel_sediment_summary(FILE* fp, const model_state& ms) {
  const transport_state& tr = ms.transport;
  if (fp == nullptr || !tr.chan_sediment || tr.sed_to_chan.empty()) return;
  const channel_sediment_books b = channel_sediment_totals(ms);
  fprintf(fp, "Channel sediment routing mass quantities\n");
  for (int k = 1; k <= tr.sediment.num_sed_classes; ++k)
    fprintf(fp, "Total sediment %d transported into channels: %16.8lf m3\n", k, tr.sed_to_chan[k]);
  fprintf(fp, "\n");
  fprintf(fp, "Initial volume of sand in channels:        %16.8lf m3\n", b.sand_initial);
  fprintf(fp, "Total sand to chan from overland:          %16.8lf m3\n", b.sand_in);
  const bool lakes = ms.perennial_lakes && !tr.lake_sed_books.empty();
  if (lakes)
    fprintf(fp, "Total sand from chan to lakes:             %16.8lf m3\n", b.sand_to_lakes);
  fprintf(fp, "Total sand outlet discharge:               %16.8lf m3\n", b.sand_out);
  fprintf(fp, "Final sand in channels:                    %16.8lf m3\n", b.sand_final);
  fprintf(fp, "\n");
  fprintf(fp, "Total wash-load to chan from overland:     %16.8lf m3\n", b.wash_in);
  if (lakes) {
    fprintf(fp, "Total wash-load from chan to lakes :       %16.8lf m3\n", b.wash_to_lakes);
    fprintf(fp, "Total wash-load from lake to chan:         %16.8lf m3\n", b.wash_from_lakes);
  }
  fprintf(fp, "Total wash-load outlet discharge:          %16.8lf m3\n", b.wash_out);
  fprintf(fp, "Final wash-load remaining in suspension:   %16.8lf m3\n", b.wash_final);
  fprintf(fp, "\n Total channel sediment mass-balance:\n");
  fprintf(fp, "Mass conservation error for wash load:     %10.6f percent\n", b.wash_error());
  fprintf(fp, "Mass conservation error for sand load:     %10.6lf percent\n", b.sand_error());
  fprintf(fp, "Overall channel sediment mass cons. error: %10.6lf percent\n", b.overall_error());
  if (lakes) write_lake_sediment_summary(fp, ms);
}

void write_lake_sediment_summary(FILE* fp, const model_state& ms) {
  const transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  const ov_sediment_obj* sed = tr.ov_sed.get();
  const int lakes = ms.perennial_lakes ? ch.num_lakes : 0;
  if (fp == nullptr || sed == nullptr || lakes < 1 || tr.lake_sed_books.row_count() < lakes) return;
  auto sand_in_lake = [&](int lake) {
    double sum = 0.0;
    for (int i = 1; i <= tr.num_sand_classes + 1; ++i)
      sum += tr.ch_sand_vol[tr.lake_row0 + lake][i];
    return sum;
  };
  double overland = 0.0, settled = 0.0, sand_bed = 0.0, sand_shore = 0.0;
  for (int lake = 1; lake <= lakes; ++lake) {
    overland += tr.lake_sed_books[lake][3];
    settled += tr.lake_sed_books[lake][4];
    sand_bed += sand_in_lake(lake);
    sand_shore += tr.lake_sed_books[lake][5];
  }
  fprintf(fp, "\n");
  fprintf(fp, "Lake Summary \n");
  fprintf(fp, "Net wash-load into lakes from overland:                     %10.1lf m3\n", overland);
  fprintf(fp, "Total wash-load settled in lakes:                           %10.1lf m3\n", settled);
  fprintf(fp, "Total sand-load from upstream channel settled in lake bed:  %10.1lf m3\n", sand_bed);
  fprintf(fp, "Total overland sand-load settled in lake boundaries:        %10.1lf m3\n",
          sand_shore);
  fprintf(fp, "\n");
  for (int lake = 1; lake <= lakes; ++lake) {
    const double* books = tr.lake_sed_books[lake];
    const double* held = tr.ch_wash_vol[tr.lake_row0 + lake];
    double suspended = 0.0, mass = 0.0;
    for (int k = 1; k <= tr.num_fine_classes; ++k) {
      suspended += held[k];
      mass += held[k] * sed->particle_density[sed->sed_class[k]];
    }
    const double volume = ch.lake_volume[lake];
    const double conc = volume > 1e-16 ? suspended / volume : 0.0;
    fprintf(fp, "Summary for lake %d \n", lake);
    fprintf(fp, "\n");
    fprintf(fp, "Total vol of SS from lake to chan           %16.8lf m3 \n", books[2]);
    fprintf(fp, "Total vol of SS from chan to lake           %16.8lf m3 \n", books[1]);
    fprintf(fp, "Total net vol of SS from overland to lake   %16.8lf m3 \n", books[3]);
    fprintf(fp, "Total vol of SS settled in lake             %16.8lf m3 \n", books[4]);
    fprintf(fp, "Total Suspended Sediment in lake            %16.8lf m3 \n", suspended);
    fprintf(fp, "\n");
    fprintf(fp, "Suspended Sediment Concentration              %16.8lf cc/m3\n", conc * 1e6);
    fprintf(fp, "Suspended Sediment Concentration              %16.8lf mg/L\n",
            volume > 1e-16 ? mass / volume : 0.0);
    fprintf(fp, "\n");
    fprintf(fp, "Total sand settled into lake bottom:        %16.8lf m3 \n", sand_in_lake(lake));
    fprintf(fp, "Total sand settled in lake boundary:        %16.8lf m3 \n", books[5]);
  }
}

bool write_new_bed_elevations(const model_state& ms) {
  const transport_state& tr = ms.transport;
  const channel_state& ch = ms.channel;
  if (!tr.chan_sediment || tr.org_bel.link_count() != ch.chan_link_count) return true;
  file_handle h;
  char name[] = "new_bed_elevations.txt";
  if (!file_handle_open(h, name, "w")) {
    printf("Can't open the file for printing updated bed elevations: %s\n", name);
    raise_own_message();
    return false;
  }
  fprintf(h.fp,
          "Link Node  New Elev(m) Old ELev (m) struct_flag: 0 no structure, 1 - structure, 2 - "
          "lake \n");
  for (long l = 1; l <= ch.chan_link_count; ++l) {
    if (ch.ltype[l] & 32) {
      fprintf(h.fp, "Link %5ld is a lake %5ld  \n", l, 2L);
      continue;
    }
    const long flag = (ch.ltype[l] & 64) ? 1 : 0;
    for (long j = 1; j <= ch.nx[l]; ++j)
      if (tr.sediment.adjust_channel_bed)
        fprintf(h.fp, "%ld %ld %10.3lf %10.3lf %ld \n", l, j, ch.bel(l, j), tr.org_bel(l, j), flag);
      else
        fprintf(h.fp, "%ld %ld %10.3lf %10.3lf  %ld \n", l, j, ch.new_bel(l, j), tr.org_bel(l, j),
                flag);
  }
  file_handle_close(h);
  return true;
}
