// Start-up of the nutrient sub-model, in the order the input-reading driver calls it: the
// aquatic environment file and its overland id map, the overland nutrient arrays, the species'
// initial concentrations and the carbon and dispersion arrays from cards, mapping tables or
// maps, the groundwater concentrations, the water chemistry, and at the end of the maps the soil
// pools and sorption records of the top soil layer.
#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
#include "transport/nutrients/aquatic_env.h"
#include "transport/nutrients/nsm_kernels.h"
#include "transport/transport_steps.h"

namespace {

bool stopped() {
  return run_error.error_fatal != 0;
}

// Position of a nutrient table of the mapping-table file (ids 20..32) in its check report.
int check_position(int table_id) {
  switch (table_id) {
    case map_table_nsm_n:
      return 17;
    case map_table_nsm_p:
      return 18;
    case map_table_nsm_oth:
      return 19;
    case map_table_nsm_c:
      return 20;
    default:
      return table_id - 3;
  }
}

bool table_present(const model_state& ms, int table_id) {
  return ms.input.mapping_table_on != 0 && ms.input.table_present[check_position(table_id)] != 0;
}

// A per-cell array of zeros; false after the allocation message.
bool cells(raw_array1d<double>& a, int n, const char* name) {
  alloc_1d_double(a, n, name);
  return n <= 0 || !a.empty();
}

// Reads a mapping table into up to seven per-cell staging arrays; the columns left null are not
// kept. False after a reported fault.
bool read_table(model_state& ms, int table_id, raw_array1d<double>* staging, int columns,
                int precip_count = 0, double* precip = nullptr) {
  table_columns out{};
  for (int k = 0; k < columns; ++k) {
    if (!cells(staging[k], ms.cell_count, "nutrient table column")) {
      stop_now();
      return false;
    }
    out[static_cast<std::size_t>(k)] = &staging[k];
  }
  const int ok = read_map_table(ms, table_id, out, precip_count, precip);
  return ok != 0 && !stopped();
}

// The values of a continuous map, one per active cell, into `into`. False after a reported fault
// (code 80 when the file does not open).
bool read_cell_map(model_state& ms, const char* file, raw_array1d<double>& into) {
  file_handle h;
  if (!file_handle_open(h, file, "r")) {
    report_file_error_now(err_nutrient_file_not_open, nullptr, file);
    return false;
  }
  read_ascii_map(h, file, map_store_cell_double, ms.map_north, ms.map_south, ms.map_east,
                 ms.map_west, ms.map_rows, ms.map_cols, ms.index_map, &into, nullptr, nullptr,
                 ms.rows, ms.cols);
  file_handle_close(h);
  return !stopped();
}

// Every value an input gives must be a number of at least 0: a concentration, a carbon content
// or a dispersion coefficient. False after the message naming the source, the quantity and the
// cell.
bool values_valid(const raw_array1d<double>& v, int n, const char* what, const char* source) {
  for (int cell = 1; cell <= n; ++cell) {
    if (std::isfinite(v[cell]) && v[cell] >= 0.0) continue;
    stop_with_message(
        "Error: the nutrient input %s gives cell %d the %s value %g; it must be a number of at "
        "least 0.\n",
        source, cell, what, v[cell]);
    return false;
  }
  return true;
}

// One overland quantity by its setting: a uniform value, the mapping table (`from_table` holds
// what a table gave, `table_filled` whether one did) or a continuous map. `species` selects the
// species' messages, else the carbon and dispersion messages.
bool assign_overland(model_state& ms, const nsm_init_setting& s, const char* name,
                     raw_array1d<double>& into, const raw_array1d<double>* from_table,
                     bool table_filled, bool species) {
  const int n = ms.cell_count;
  switch (s.mode) {
    case 3:
      if (!ms.super_quiet)
        printf(species ? "Assigning spatially uniform parameters for the %s constituent\n"
                       : "Assigning spatially uniform parameters for the overland constituent %s\n",
               name);
      for (int cell = 1; cell <= n; ++cell) into[cell] = s.value;
      return values_valid(into, n, name, "card");
    case 2:
      if (!table_filled) {
        report_file_error_now(err_nutrient_grid_table_missing, name, nullptr);
        return false;
      }
      if (!ms.super_quiet)
        printf(species ? "Assigning parameters for the %s constituent from the mapping table.\n"
                       : "Assigning parameters for the overland constituent %s from the mapping "
                         "table.\n",
               name);
      for (int cell = 1; cell <= n; ++cell) into[cell] = (*from_table)[cell];
      return values_valid(into, n, name, ms.input.names.mapping_table);
    case 1: {
      file_handle probe;
      if (!file_handle_open(probe, s.map_file, "r")) {
        printf(species ? "Error opening initial condition continuous map file \nfor the grid %s "
                         "constituent. \nGiven filename: %s\n"
                       : "Error opening initial condition continuous map file \nfor the overland "
                         "grid %s constituent. \nGiven filename: %s\n",
               name, s.map_file);
        report_file_error_now(err_nutrient_file_not_open, nullptr, s.map_file);
        return false;
      }
      file_handle_close(probe);
      if (!ms.super_quiet)
        printf(species ? "Assigning parameters from a continuous map for the constituent %s\n"
                       : "Assigning parameters from a continuous map for the overland "
                         "constituent %s\n",
               name);
      return read_cell_map(ms, s.map_file, into) && values_valid(into, n, name, s.map_file);
    }
    default:
      return true;
  }
}

}  // namespace

void read_aquatic_env(model_state& ms) {
  nsm_model* nsm = ms.transport.nsm.get();
  if (nsm == nullptr) return;
  nsm->cell_count = ms.cell_count;
  nsm_aquatic_env& env = nsm->aquatic_env;
  if (nsm->aq_env_file[0] == '\0') {
    stop_with_message(
        "Error: the nutrient sub-model (NUTRIENTS) needs its aquatic environment file: give "
        "AQ_ENV with the file name.\n");
    return;
  }
  if (!aqenv_read_file(nsm->aq_env_file, env)) return;
  env.cell_count = ms.cell_count;
  file_handle h;
  if (env.ov_map.empty() || !file_handle_open(h, env.ov_map.c_str(), "r")) {
    report_error_now(err_overland_aquatic_map_not_open);
    return;
  }
  alloc_1d_int(env.ov_ids, ms.cell_count, "aquatic environment ids");
  if (ms.cell_count > 0 && env.ov_ids.empty()) return stop_now();
  read_ascii_map(h, env.ov_map.c_str(), map_store_cell_category, ms.map_north, ms.map_south,
                 ms.map_east, ms.map_west, ms.map_rows, ms.map_cols, ms.index_map, nullptr, nullptr,
                 &env.ov_ids, ms.rows, ms.cols);
  file_handle_close(h);
  if (stopped()) return;
  for (int cell = 1; cell <= ms.cell_count; ++cell) {
    const int id = env.ov_ids[cell];
    if (id >= 1 && id <= env.num_ids) continue;
    stop_with_message(
        "Error: the overland aquatic environment map %s gives cell %d the environment id %d; the "
        "aquatic environment file %s has ids 1 to %d.\n",
        env.ov_map.c_str(), cell, id, nsm->aq_env_file, env.num_ids);
    return;
  }
}

void nsm_overland_alloc(model_state& ms) {
  nsm_model* nsm = ms.transport.nsm.get();
  if (nsm == nullptr) return;
  nsm_overland& ov = nsm->overland;
  if (!ms.super_quiet) printf("Allocating memory for overland NSM...");
  const int n = ms.cell_count;
  ov.cell_count = n;
  ov.cell_size = ms.gridsize;
  ov.cell_area = ms.gridsize * ms.gridsize;
  ov.water_temp = ms.cards.water_temp;
  ov.ka = nsm_ammonia_ka(ov.water_temp);
  raw_array1d<double>* arrays[] = {&ov.doc, &ov.doc_foc, &ov.dispersion,
                                   &ov.nh3, &ov.total_n, &ov.total_p};
  for (raw_array1d<double>* a : arrays)
    if (!cells(*a, n, "overland NSM")) return stop_now();
  if (!ms.super_quiet) printf("Done\n");
}

void nsm_assign_grid_constituents(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr) return;
  nsm_overland& ov = nsm->overland;
  const int first = ov.first_constituent;
  const int n = ms.cell_count;
  if (first < 1) return;
  // 1. No rain concentration unless a table gives one.
  for (int k = 1; k <= nsm_species_count; ++k) tr.precip_conc[first + k - 1] = 0.0;

  // 2. The grid tables: a species, carbon or dispersion column filled by a table is marked.
  raw_array1d<double> species_col[nsm_species_count + 1];
  raw_array1d<double> carbon_col[2];
  raw_array1d<double> disp_col[1];
  bool species_filled[nsm_species_count + 1] = {};
  bool carbon_filled = false;
  bool disp_filled = false;
  struct grid_table {
    int id;
    int columns;
    int species[4];  // species of each column; 0 for a column not kept
    int precip[4];   // species whose rain concentration each PRECIP_CONC value sets
  };
  const grid_table tables[] = {
      {map_table_nsm_n,
       4,
       {nsm_no2, nsm_no3, nsm_nh4, nsm_on},
       {nsm_no2, nsm_no3, nsm_nh4, nsm_on}},
      {map_table_nsm_p, 3, {nsm_op, nsm_dp, 0, 0}, {nsm_op, nsm_dp, 0, 0}},
      {map_table_nsm_oth, 3, {nsm_alg, nsm_cbod, nsm_do, 0}, {nsm_alg, nsm_cbod, nsm_do, 0}},
  };
  for (const grid_table& t : tables) {
    if (!table_present(ms, t.id)) continue;
    raw_array1d<double> staging[4];
    double precip[8] = {};
    if (!read_table(ms, t.id, staging, t.columns, t.columns, precip)) return;
    for (int k = 0; k < t.columns; ++k) {
      if (t.species[k] == 0) continue;
      species_col[t.species[k]] = std::move(staging[k]);
      species_filled[t.species[k]] = true;
    }
    for (int k = 0; k < t.columns; ++k)
      if (t.precip[k] != 0) tr.precip_conc[first + t.precip[k] - 1] = precip[k + 1];
  }
  if (table_present(ms, map_table_nsm_c)) {
    if (!read_table(ms, map_table_nsm_c, carbon_col, 2)) return;
    carbon_filled = true;
  }
  if (table_present(ms, map_table_dispersion)) {
    if (!read_table(ms, map_table_dispersion, disp_col, 1)) return;
    disp_filled = true;
  }
  for (int k = 1; k <= nsm_species_count; ++k) {
    const double pc = tr.precip_conc[first + k - 1];
    if (std::isfinite(pc) && pc >= 0.0) continue;
    stop_with_message(
        "Error: the PRECIP_CONC of the %s constituent in the mapping table file %s is %g; it "
        "must be a number of at least 0.\n",
        nsm_constituent_name(k - 1, false), ms.input.names.mapping_table, pc);
    return;
  }

  // 3. The species' concentrations; the masses follow from the water at start-up.
  raw_array1d<double> conc;
  if (!cells(conc, n, "nutrient concentration")) return stop_now();
  for (int k = 1; k <= nsm_species_count; ++k) {
    const nsm_init_setting& s = nsm->ov_init[k - 1];
    if (s.mode == 0) continue;
    for (int cell = 1; cell <= n; ++cell) conc[cell] = 0.0;
    if (!assign_overland(ms, s, nsm_constituent_name(k - 1, false), conc, &species_col[k],
                         species_filled[k], true))
      return;
    const int c = first + k - 1;
    for (int cell = 1; cell <= n; ++cell) {
      const double depth = ms.overland.ov_depth.empty() ? 0.0 : ms.overland.ov_depth[cell];
      tr.ov_contam_conc[c][cell] = conc[cell];
      tr.ov_contam_mass[c][cell] = ov.cell_size * depth * ov.cell_size * conc[cell];
    }
  }
  // 4. Carbon and dispersion.
  if (!assign_overland(ms, nsm->ov_init[9], nsm_constituent_name(9, false), ov.doc, &carbon_col[0],
                       carbon_filled, false) ||
      !assign_overland(ms, nsm->ov_init[10], nsm_constituent_name(10, false), ov.doc_foc,
                       &carbon_col[1], carbon_filled, false) ||
      !assign_overland(ms, nsm->ov_init[11], nsm_constituent_name(11, false), ov.dispersion,
                       &disp_col[0], disp_filled, false))
    return;
  // The dispersion coefficient of every species is the overland one.
  for (int k = 1; k <= nsm_species_count; ++k)
    for (int cell = 1; cell <= n; ++cell)
      tr.contam.ov_disp_coef[first + k - 1][cell] = ov.dispersion[cell];
}

void nsm_assign_gw_tables(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || nsm->overland.first_constituent < 1) return;
  const int first = nsm->overland.first_constituent;
  struct gw_table {
    int id;
    int columns;
    int constituent[4];  // species offsets (1-based) of the columns; 0 for none
  };
  // The phosphorus table's fourth column and CBOD have no groundwater concentration; the second
  // column of the other table goes to the first constituent after the species when there is one.
  const int after_species = tr.num_contaminants >= first + nsm_species_count ? 10 : 0;
  const gw_table tables[] = {{map_table_nsm_gw_n, 4, {nsm_no2, nsm_no3, nsm_nh4, nsm_on}},
                             {map_table_nsm_gw_p, 4, {nsm_op, nsm_dp, nsm_alg, 0}},
                             {map_table_nsm_gw_oth, 2, {nsm_do, after_species, 0, 0}}};
  for (const gw_table& t : tables) {
    if (!table_present(ms, t.id)) continue;
    raw_array1d<double> staging[4];
    if (!read_table(ms, t.id, staging, t.columns)) return;
    for (int k = 0; k < t.columns; ++k) {
      if (t.constituent[k] == 0) continue;
      double* row = tr.contam.gw_contam_conc[first + t.constituent[k] - 1];
      for (int cell = 1; cell <= ms.cell_count; ++cell) row[cell] = staging[k][cell];
    }
  }
}

void nsm_overland_set_params(model_state& ms) {
  nsm_model* nsm = ms.transport.nsm.get();
  if (nsm == nullptr) return;
  nsm_overland& ov = nsm->overland;
  ov.cell_size = ms.gridsize;
  ov.cell_area = ms.gridsize * ms.gridsize;
  ov.ph = ms.cards.chan_ph;
  ov.h_ion = std::pow(10.0, -ov.ph);
}

void nsm_assign_mapped_params(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || !tr.soil_con_trans) return;
  nsm_soils& soils = nsm->soils;
  const int n = ms.cell_count;
  // The release rate of the exchanging pools, per day on its card.
  soils.exchange_rate = tr.ov_uptake_rate / seconds_per_day;
  if (!(std::isfinite(soils.exchange_rate) && soils.exchange_rate >= 0.0)) {
    stop_with_message(
        "Error: OV_UPTAKE_RATE %g, the nutrient soil-water exchange rate per day, must be a "
        "number of at least 0.\n",
        tr.ov_uptake_rate);
    return;
  }
  struct pool_table {
    int id;
    int given;
    int columns;
    int pools[6];
  };
  const pool_table tables[] = {
      {map_table_nsm_soil_n, ms.cards.soils_nsm_n, 5, {3, 4, 5, 6, 7, 0}},
      {map_table_nsm_soil_p, ms.cards.soils_nsm_p, 6, {8, 9, 10, 11, 12, 13}},
      {map_table_nsm_soil_c, ms.cards.soils_nsm_c, 2, {1, 2, 0, 0, 0, 0}},
  };
  for (const pool_table& t : tables) {
    if (t.given == 0 || !table_present(ms, t.id)) continue;
    raw_array1d<double> staging[6];
    if (!read_table(ms, t.id, staging, t.columns)) return;
    for (int k = 0; k < t.columns; ++k) {
      const int p = t.pools[k];
      if (!values_valid(staging[k], n, nsm_constituent_name(p - 1, true),
                        ms.input.names.mapping_table))
        return;
      for (int cell = 1; cell <= n; ++cell) soils.pool[p][cell][1] = staging[k][cell];
    }
  }
  // The tables give kg per cell; the pools hold grams.
  for (int p = 1; p <= nsm_pool_count; ++p) {
    soils.initial[p] = 0.0;
    for (int cell = 1; cell <= n; ++cell) {
      soils.pool[p][cell][1] *= 1000.0;
      soils.initial[p] += soils.pool[p][cell][1];
    }
  }
  // Sorption: the run-wide record of the cards, then the per-cell tables over it.
  for (int cell = 1; cell <= n; ++cell)
    for (int s = 0; s < nsm_sorption_count; ++s)
      soils.sorption[cell][s] =
          ms.cards.nsm_soil_coeffs != nullptr ? ms.cards.nsm_soil_coeffs[s] : 0.0;
  const int sorption_tables[2] = {map_table_nsm_soil_km, map_table_nsm_soil_koc};
  for (int t = 0; t < 2; ++t) {
    if (!table_present(ms, sorption_tables[t])) continue;
    raw_array1d<double> staging[6];
    if (!read_table(ms, sorption_tables[t], staging, 6)) return;
    for (int k = 0; k < 6; ++k)
      for (int cell = 1; cell <= n; ++cell) soils.sorption[cell][6 * t + k] = staging[k][cell];
  }
}
