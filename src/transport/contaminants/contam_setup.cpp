// Start-up of the dissolved constituents: the constituent list and the per-cell parameters from
// the CONTAMINANT_TRANSPORT table (init_contaminant_overland, called by read_maps), the tables
// every constituent step works on (contam_alloc), and the soil-layer geometry, unit conversions
// and initial masses (contam_soil_layer_init, called near the end of start-up).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
#include "subsurface/subsurface_steps.h"
#include "transport/contaminants/chan_contam.h"
#include "transport/contaminants/contam_kernels.h"
#include "transport/contaminants/olake_contam.h"
#include "transport/contaminants/sed_contam.h"
#include "transport/transport_steps.h"

namespace {

constexpr double tiny = 1e-16;
// Position of the CONTAMINANT_TRANSPORT table in the mapping-table file's check.
constexpr int contaminant_table_position = 10;
// Id of the CONTAMINANT_TRANSPORT table in the mapping-table file.
constexpr int contaminant_table_id = 11;

// A start-up line written to the console (unless SUPER_QUIET) and the summary file.
void startup_line(model_state& ms, const char* text) {
  if (!ms.super_quiet) printf("%s", text);
  if (ms.output.summary_file.fp != nullptr) fprintf(ms.output.summary_file.fp, "%s", text);
}

// The per-constituent totals of the transport record, grown together.
std::array<guarded_array<double>*, 38> constituent_totals(transport_state& tr) {
  return {&tr.OV_MASS_INIT,        &tr.OV_MASS_FINAL,        &tr.OV_MASS_OUT,
          &tr.OV_QLAT_MASS,        &tr.OV_MASS_DECAY,        &tr.OV_POINT_MASS,
          &tr.OV_EXFIL_MASS,       &tr.OV_PRECIP_MASS,       &tr.OV_INFIL_MASS,
          &tr.OV_MASS_ERROR,       &tr.OV_LAND_MASS,         &tr.OV_LAND_MASS_INIT,
          &tr.OV_LAND_MASS_FINAL,  &tr.OV_UPTAKE_MASS,       &tr.event_ov_mass_init,
          &tr.event_ov_decay_mass, &tr.event_ov_uptake_mass, &tr.event_ov_infil_mass,
          &tr.event_ov_exfil_mass, &tr.event_ov_qlat_mass,   &tr.event_ov_mass_out,
          &tr.event_ov_point_mass, &tr.event_ov_precip_mass, &tr.event_ov_land_mass,
          &tr.event_ov_neg_mass,   &tr.ov_out_dmt,           &tr.ov_point_dmt,
          &tr.ov_decay_dmt,        &tr.ov_infil_dmt,         &tr.ov_uptake_dmt,
          &tr.ov_precip_dmt,       &tr.ov_exit_mass,         &tr.GLOBAL_MASS_CON_ERROR,
          &tr.GLOBAL_MASS_DECAY,   &tr.GLOBAL_MASS_INIT,     &tr.GLOBAL_MASS_FINAL,
          &tr.GLOBAL_POINT_SOURCE, &tr.GLOBAL_MASS_OUT};
}

// A constituent x cell table of `rows` constituents; the rows of constituents already on the
// list keep their values, the new ones are zeroed. False after the allocator's message.
bool table(raw_array2d<double>& t, int rows, int cells, const char* name) {
  raw_array2d<double> grown;
  alloc_2d_double_named(rows, cells, grown, name);
  if (grown.empty()) return false;
  if (!t.empty() && t.col_count() == cells)
    for (int r = 1; r <= t.row_count() && r <= rows; ++r)
      for (int cell = 1; cell <= cells; ++cell) grown[r][cell] = t[r][cell];
  t = std::move(grown);
  return true;
}

bool cell_array(raw_array1d<double>& a, int cells, const char* name) {
  alloc_1d_double(a, cells, name);
  return !a.empty();
}

bool totals_array(raw_array1d<double>& a, int n, const char* name) {
  alloc_1d_double(a, n, name);
  return !a.empty();
}

// The soil layers that carry constituents under the single-layer Green and Ampt scheme: one,
// the mixing layer, whose depth falls back on the top-layer and then the soil-moisture depth.
void single_layer_geometry(contam_tables& ct) {
  if (ct.top_layer_depth_cm < tiny) ct.top_layer_depth_cm = ct.soil_moist_depth_cm;
  if (ct.mixing_layer_depth_cm < tiny) ct.mixing_layer_depth_cm = ct.top_layer_depth_cm;
  ct.soil_contam_layers = 1;
}

// The carrier layers of the layered soil: the mixing layer, the rest of the soil's layer 1 and
// its layer 2 when a mixing depth is given, else the soil's two layers; a cell whose soil type's
// layer 1 is not deeper than the mixing layer carries two (set per cell at start-up).
void layered_geometry(contam_tables& ct) {
  ct.soil_contam_layers = ct.mixing_layer_depth_cm > tiny ? 3 : 2;
}

void carrier_geometry(const model_state& ms, contam_tables& ct) {
  if (ms.subsurface.inf_layered_soil)
    layered_geometry(ct);
  else
    single_layer_geometry(ct);
}

// Copies row c of a table the reader filled into the constituent x cell table t.
void copy_rows(const guarded_array2d<double>& from, raw_array2d<double>& to, int count, int cells) {
  for (int c = 1; c <= count; ++c) {
    const double* row = from.row(c);
    if (row == nullptr) continue;
    for (int cell = 1; cell <= cells && cell <= from.width(); ++cell) to[c][cell] = row[cell];
  }
}

// Rates and coefficients that cannot be negative: the run stops naming the file, the
// constituent, the cell and the value.
bool coefficients_valid(model_state& ms, const char* file) {
  const transport_state& tr = ms.transport;
  const contam_tables& ct = tr.contam;
  struct named {
    const raw_array2d<double>& t;
    const char* what;
  };
  const named checks[] = {{ct.ov_decay_coef, "decay rate"},
                          {ct.ov_uptake_rate, "water-soil exchange rate"},
                          {ct.ov_disp_coef, "dispersion coefficient"},
                          {ct.contam_partition_coef, "partition coefficient"}};
  for (int c = 1; c <= tr.num_contaminants; ++c) {
    if (c <= tr.water_soil_partition_coef.upper() && tr.water_soil_partition_coef[c] < 0.0) {
      stop_with_message(
          "Error: contaminant %d (%s) of the CONTAMINANT_TRANSPORT table in %s has the partition "
          "coefficient %g; it must not be negative.\n",
          c, tr.contamdescriptions[static_cast<std::size_t>(c)].c_str(), file,
          tr.water_soil_partition_coef[c]);
      return false;
    }
    for (const named& n : checks) {
      for (int cell = 1; cell <= ms.cell_count; ++cell) {
        const double v = n.t[c][cell];
        if (std::isfinite(v) && v >= 0.0) continue;
        stop_with_message(
            "Error: contaminant %d (%s) of the CONTAMINANT_TRANSPORT table in %s gives cell %d "
            "the %s %g; it must be a number of at least 0.\n",
            c, tr.contamdescriptions[static_cast<std::size_t>(c)].c_str(), file, cell, n.what, v);
        return false;
      }
    }
  }
  return true;
}

// The land load of the first constituent from the CONTAM_MAP grid, one value per cell.
void read_contam_load_map(model_state& ms) {
  transport_state& tr = ms.transport;
  const char* name = ms.input.names.contam_map;
  if (!ms.super_quiet) printf("reading contamimant load map from file: %s\n", name);
  if (ms.output.summary_file.fp != nullptr)
    fprintf(ms.output.summary_file.fp, "reading contaminant load map from file: %s\n", name);
  raw_array1d<double> load;
  if (!cell_array(load, ms.cell_count, "contam_map")) return stop_now();
  read_ascii_map(ms.input.contam_map_file, name, map_store_cell_double, ms.map_north, ms.map_south,
                 ms.map_east, ms.map_west, ms.map_rows, ms.map_cols, ms.index_map, &load, nullptr,
                 nullptr, ms.rows, ms.cols);
  if (run_error.error_fatal) return;
  for (int cell = 1; cell <= ms.cell_count; ++cell) {
    if (!(std::isfinite(load[cell]) && load[cell] >= 0.0)) {
      stop_with_message(
          "Error: the contaminant load map %s gives cell %d the load %g; it must be a number of "
          "at least 0.\n",
          name, cell, load[cell]);
      return;
    }
    tr.ov_land_mass[1][cell] = load[cell];
  }
}

// The layered soil's carrier layers of every cell from its soil type, and the drainage of the
// soil already behind the constituents at the start.
void layered_carriers_init(model_state& ms) {
  contam_tables& ct = ms.transport.contam;
  const subsurface_state& ss = ms.subsurface;
  for (int cell = 1; cell <= ms.cell_count; ++cell) {
    const soil_table_record& r = ss.soil_types[has(ss.soiltype, cell) ? ss.soiltype[cell] : 0];
    const carrier_column col =
        layered_carrier_column(ct.mixing_layer_depth_cm, r.layer_depth[0], r.layer_depth[1],
                               r.layer_porosity[0], r.layer_porosity[1]);
    ct.carrier_layers[cell] = std::min(col.layers, ct.soil_contam_layers);
    for (int l = 1; l <= ct.soil_contam_layers; ++l) {
      ct.carrier_thickness[cell][l] = col.thickness[l];
      ct.carrier_porosity[cell][l] = col.porosity[l];
    }
    const layered_soil_water w = layered_soil_water_of(ms, cell);
    ct.drain_top_seen[cell] = w.drained_top_cm;
    ct.drain_bottom_seen[cell] = w.drained_bottom_cm;
  }
  // The column's layers as the model's definition lays them out for the first cell's soil.
  if (ms.cell_count >= 1 && has(ct.soil_layer_thickness, ct.soil_contam_layers)) {
    double bottom = 0.0;
    for (int l = 1; l <= ct.soil_contam_layers; ++l) {
      ct.soil_layer_thickness[l] = ct.carrier_thickness[1][l];
      bottom += ct.soil_layer_thickness[l];
      ct.soil_layer_bottom[l] = bottom;
    }
  }
}

}  // namespace

void contam_alloc(model_state& ms, int num_constituents, int num_cells, int overland, int) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  if (num_constituents < 0) return;
  // `overland` set: the nutrient species join the list after the table's constituents, with four
  // further numbers that the soil side reads as pools when the soil carries constituents.
  const bool nutrients = overland != 0;
  const int n = num_constituents + (nutrients && tr.soil_con_trans ? 4 : 0);
  const int cells = num_cells;
  if (nutrients && tr.soil_con_trans && ct.soil_contam_layers == 0) {
    ct.soil_moist_depth_cm = tr.soil_depth_cm;
    ct.top_layer_depth_cm = tr.layer2_depth_cm;
    ct.mixing_layer_depth_cm = tr.layer1_depth_cm;
    carrier_geometry(ms, ct);
  }
  if (ct.ov_depth_prev.empty()) {
    raw_array1d<double>* per_cell[] = {
        &ct.ov_depth_prev, &ct.ov_infil_water, &ct.infil_seen, &ct.exfil_seen,     &ct.work_mass,
        &ct.work_conc,     &ct.work_source,    &ct.face_flux,  &ct.face_flux_corr, &ct.pred_conc};
    for (raw_array1d<double>* a : per_cell)
      if (!cell_array(*a, cells, "contaminant work array")) return stop_now();
  }
  for (guarded_array<double>* a : constituent_totals(tr)) {
    // The table reader has already grown the two coefficient arrays; the rest grow here.
    if (a->upper() >= tr.num_contaminants + n) continue;
    if (!a->grow(tr.num_contaminants + n - a->upper())) return stop_now();
  }
  const int first = tr.num_contaminants + 1;
  tr.num_contaminants += n;
  if (!nutrients) ct.num_table_contaminants = n;
  if (!tr.constituent_type.grow(n)) return stop_now();
  for (int c = first; c <= tr.num_contaminants; ++c)
    tr.constituent_type[c] = !nutrients ? 1 : (c - first < num_constituents ? 2 : 3);
  const int nc = tr.num_contaminants;
  if (nc == 0) return;
  struct named_table {
    raw_array2d<double>* t;
    const char* name;
  };
  const named_table tables[] = {{&tr.ov_contam_conc, "ov_contam_conc"},
                                {&tr.ov_contam_mass, "ov_contam_mass"},
                                {&tr.ov_land_mass, "ov_land_mass"},
                                {&ct.ov_land_conc, "ov_land_conc"},
                                {&ct.ov_disp_coef, "ov_disp_coef"},
                                {&ct.ov_decay_coef, "ov_decay_coef"},
                                {&ct.ov_uptake_rate, "ov_uptake_rate"},
                                {&ct.gw_contam_conc, "gw_contam_conc"},
                                {&ct.contam_partition_coef, "contam_partition_coef"},
                                {&ct.ov_precip_acc, "ov_precip_acc"},
                                {&ct.ov_infil_acc, "ov_infil_acc"},
                                {&ct.ov_decay_acc, "ov_decay_acc"},
                                {&ct.ov_exchange_acc, "ov_exchange_acc"},
                                {&ct.ov_exit_acc, "ov_exit_acc"}};
  for (const named_table& t : tables)
    if (!table(*t.t, nc, cells, t.name)) return stop_now();
  raw_array1d<double>* per_constituent[] = {
      &ct.ov_land_dmt,       &ct.global_precip_mass,  &ct.neg_mass_total,  &ct.soil_infil_total,
      &ct.soil_uptake_total, &ct.soil_decay_total,    &ct.soil_decay_step, &ct.soil_seep_up_total,
      &ct.soil_exfil_total,  &ct.soil_seep_down_total};
  for (raw_array1d<double>* a : per_constituent)
    if (!totals_array(*a, nc, "contaminant totals")) return stop_now();
  if (!tr.soil_con_trans) {
    if (nutrients) nsm_join_constituents(ms, first);
    return;
  }
  const int layers = ct.soil_contam_layers;
  if (!table(ct.soil_decay_coef, nc, cells, "soil_decay_coef") ||
      !table(ct.soil_infil_mass, nc, cells, "soil_infil_mass") ||
      !table(ct.soil_uptake_mass, nc, cells, "soil_uptake_mass") ||
      !ct.soil_frac_dissolved.allocate(nc, cells, layers) ||
      !tr.soil_mass.add_planes_fill(n, 0.0, cells, layers) ||
      !tr.soil_conc.add_planes_fill(n, 0.0, cells, layers) ||
      !cell_array(ct.soil_layer_thickness, layers, "soil_layer_thickness") ||
      !cell_array(ct.soil_layer_bottom, layers, "soil_layer_bottom"))
    return stop_now();
  alloc_2d_double_named(cells, layers, ct.theta, "THETA");
  if (ct.theta.empty()) return stop_now();
  if (ms.subsurface.inf_layered_soil && ct.carrier_layers.empty()) {
    alloc_1d_int(ct.carrier_layers, cells, "carrier_layers");
    alloc_2d_double_named(cells, layers, ct.carrier_thickness, "carrier_thickness");
    alloc_2d_double_named(cells, layers, ct.carrier_porosity, "carrier_porosity");
    if (ct.carrier_layers.empty() || ct.carrier_thickness.empty() || ct.carrier_porosity.empty() ||
        !cell_array(ct.drain_top_seen, cells, "drain_top_seen") ||
        !cell_array(ct.drain_bottom_seen, cells, "drain_bottom_seen") ||
        !cell_array(ct.drain_top, cells, "drain_top") ||
        !cell_array(ct.drain_bottom, cells, "drain_bottom"))
      return stop_now();
  }
  if (nutrients) nsm_join_constituents(ms, first);
}

void init_contaminant_overland(model_state& ms) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  if (!tr.ov_con_trans) return;
  ct.kinetics_timestep_factor = tr.contam_factor > 0.0 ? tr.contam_factor : 1.0;
  ct.soil_moist_depth_cm = tr.soil_depth_cm;
  ct.top_layer_depth_cm = tr.layer2_depth_cm;
  ct.mixing_layer_depth_cm = tr.layer1_depth_cm;
  const bool table_given =
      ms.input.mapping_table_on != 0 && ms.input.table_present[contaminant_table_position] != 0;
  // The nutrient species may be the only constituents the run carries.
  if (!table_given && tr.nutrients) return;
  if (!table_given && !tr.sediment.soil_erosion) {
    startup_line(ms, "using uniform contaminant transport values\n");
    // The constituents come from the table alone: without it there are none to carry.
    ct.table_contam_count = 0;
    raise_error(err_contaminant_count_not_positive);
    return;
  }
  ct.contam_table_read = 1;
  startup_line(ms, "reading contaminant transport table and map from master table file\n");
  std::array<guarded_array2d<double>, 8> read;
  contam_columns columns{};
  for (std::size_t k = 0; k < read.size(); ++k) columns[k] = &read[k];
  int count = -1;
  const char* file = ms.input.names.mapping_table;
  if (read_contam_table(ms, file, contaminant_table_id, columns, tr.precip_conc,
                        tr.water_soil_partition_coef, count, tr.contamdescriptions,
                        tr.contamoutputfilenames) == 0) {
    if (!run_error.error_fatal) stop_now();
    return;
  }
  ct.table_contam_count = count;
  if (tr.soil_con_trans) {
    carrier_geometry(ms, ct);
    if (!ms.subsurface.inf_layered_soil && !(ct.mixing_layer_depth_cm > tiny)) {
      stop_with_message(
          "Error: soil contaminant transport needs a soil layer to carry the contaminants: give "
          "MIXING_LAYER_DEPTH (or TOP_LAYER_DEPTH or SOIL_MOIST_DEPTH) in m, above 0.\n");
      return;
    }
  }
  contam_alloc(ms, count, ms.cell_count, 0, 0);
  if (run_error.error_fatal || count == 0) return;
  // The table's columns: dispersion, decay, exchange rate, land mass load, groundwater
  // concentration, initial water concentration, partition coefficient, land concentration.
  raw_array2d<double>* into[] = {&ct.ov_disp_coef,          &ct.ov_decay_coef,  &ct.ov_uptake_rate,
                                 &tr.ov_land_mass,          &ct.gw_contam_conc, &tr.ov_contam_conc,
                                 &ct.contam_partition_coef, &ct.ov_land_conc};
  for (std::size_t k = 0; k < read.size(); ++k) copy_rows(read[k], *into[k], count, ms.cell_count);
  if (tr.contamdescriptions.size() < static_cast<std::size_t>(count) + 1)
    tr.contamdescriptions.resize(static_cast<std::size_t>(count) + 1);
  if (!coefficients_valid(ms, file)) return;
  if (tr.contam_map_on) read_contam_load_map(ms);
}

void contam_soil_layer_init(model_state& ms) {
  transport_state& tr = ms.transport;
  contam_tables& ct = tr.contam;
  if (!tr.ov_con_trans) return;
  // The overland lakes take their cells' initial concentration before the dry cells lose it.
  init_olake_contaminants(ms);
  const int n = ms.cell_count;
  const double area = ms.gridsize * ms.gridsize;
  const raw_array1d<double>& depth = ms.overland.ov_depth;
  const bool soil = tr.soil_con_trans != 0;
  const bool layered = soil && !ct.carrier_layers.empty();
  if (layered) {
    layered_carriers_init(ms);
  } else if (soil && has(ct.soil_layer_thickness, 1)) {
    ct.soil_layer_thickness[1] = ct.mixing_layer_depth_cm / 100.0;
    ct.soil_layer_bottom[1] = ct.soil_layer_thickness[1];
  }
  for (int c = 1; c <= tr.num_contaminants; ++c) {
    tr.OV_MASS_INIT[c] = 0.0;
    tr.OV_LAND_MASS_INIT[c] = 0.0;
    const bool table_kind = tr.constituent_type[c] == 1;
    for (int cell = 1; cell <= n; ++cell) {
      if (table_kind) {
        ct.ov_decay_coef[c][cell] /= seconds_per_day;
        ct.ov_uptake_rate[c][cell] /= seconds_per_day;
        if (soil) ct.soil_decay_coef[c][cell] = ct.ov_decay_coef[c][cell];
      }
      tr.ov_land_mass[c][cell] *= 1000.0;
      const double h = has(depth, cell) ? depth[cell] : 0.0;
      double water = 0.0;
      if (h > tiny) {
        water = h * tr.ov_contam_conc[c][cell] * area;
      } else {
        tr.ov_contam_conc[c][cell] = 0.0;
      }
      tr.ov_contam_mass[c][cell] = water;
      tr.OV_MASS_INIT[c] += water / 1000.0;
      if (soil && table_kind) {
        double* mass = tr.soil_mass[c][cell];
        double* conc = tr.soil_conc[c][cell];
        for (int l = 1; l <= ct.soil_contam_layers; ++l) mass[l] = conc[l] = 0.0;
        // The layered soil's mixing layer is the cell's own carrier layer 1.
        const double porosity = layered ? ct.carrier_porosity[cell][1]
                                : has(ms.subsurface.porosity_cell, cell)
                                    ? ms.subsurface.porosity_cell[cell]
                                    : 0.0;
        const double thickness =
            layered ? ct.carrier_thickness[cell][1] : ct.soil_layer_thickness[1];
        conc[1] = tr.ov_land_mass[c][cell] / 1000.0;
        mass[1] = conc[1] * thickness * area * 2.65 * 1000.0 * (1.0 - porosity) / 1000.0;
        tr.ov_land_mass[c][cell] = mass[1];
      }
      tr.OV_LAND_MASS_INIT[c] += tr.ov_land_mass[c][cell] / 1000.0;
      tr.GLOBAL_MASS_INIT[c] += (water + tr.ov_land_mass[c][cell]) / 1000.0;
    }
  }
  // The processes divide by the depth of the last transport step: before the first step that is
  // the initial depth.
  for (int cell = 1; cell <= n; ++cell)
    ct.ov_depth_prev[cell] = has(depth, cell) ? depth[cell] : 0.0;
  // The channel nodes, whose water the channel start-up has set by now.
  init_channel_contaminants(ms);
  if (tr.nutrients) nsm_assign_stream_constituents(ms);
  // The bound phase starts empty: erosion brings it from the soil column.
  sed_contam_init(ms);
}
