// Nutrient outputs: the map objects of the overland species and of total nitrogen and
// phosphorus, set up at run start and written at the map interval, and the outlet series of the
// species written at the hydrograph interval.
#include "output/nsm_outputs.h"

#include <cstdio>
#include <string>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "output/map_output.h"
#include "transport/transport_steps.h"

namespace {

constexpr const char* map_titles[9] = {"no2", "no3", "nh4", "on", "op", "dp", "alg", "cbod", "do"};
constexpr int mass_ids[9] = {1025, 1028, 1031, 1034, 1037, 1040, 1046, 1049, 1052};
constexpr int conc_ids[9] = {1026, 1029, 1032, 1035, 1038, 1041, 1047, 1050, 1053};

}  // namespace

void setup_nsm_total_maps(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (!tr.nutrients || nsm == nullptr || nsm->overland.first_constituent < 1) return;
  output_state& out = ms.output;
  const nsm_overland& ov = nsm->overland;
  if (ms.cards.total_ov_n_given)
    open_run_map(ms, out.nsm_total_maps[0], ov.total_n.data(), ms.cards.total_ov_n, "", 1055,
                 "Total_ov_N");
  if (ms.cards.total_ov_p_given)
    open_run_map(ms, out.nsm_total_maps[1], ov.total_p.data(), ms.cards.total_ov_p, "", 1056,
                 "Total_ov_P");
  for (int k = 0; k < nsm_species_count; ++k) {
    if (nsm->ov_out[k].on != 1) continue;
    const int c = ov.first_constituent + k;
    const std::string prefix = std::string("OV_") + map_titles[k];
    open_run_map(ms, out.nsm_species_maps[k][0], tr.ov_contam_mass[c], nsm->ov_out[k].base_name,
                 ".mass", mass_ids[k], (prefix + "_mass").c_str());
    open_run_map(ms, out.nsm_species_maps[k][1], tr.ov_contam_conc[c], nsm->ov_out[k].base_name,
                 ".conc", conc_ids[k], (prefix + "_conc").c_str());
    if (run_error.error_fatal) return;
  }
}

void write_nsm_outlet_series(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (!tr.nutrients || nsm == nullptr || nsm->overland.first_constituent < 1) return;
  const double time = ms.strict_julian_date ? ms.current_time : ms.elapsed_minutes;
  const int o = ms.outlet_cell;
  for (int k = 0; k < nsm_species_count; ++k) {
    if (nsm->hyd_out[k].on != 1) continue;
    const int c = nsm->overland.first_constituent + k;
    const double conc = o >= 1 && o <= ms.cell_count ? tr.ov_contam_conc[c][o] : 0.0;
    const double mass = c <= tr.OV_MASS_OUT.upper() ? tr.OV_MASS_OUT[c] : 0.0;
    if (nsm->hyd_conc_file[k].fp != nullptr)
      fprintf(nsm->hyd_conc_file[k].fp, "%16.8lf %11.4lf\n", time, conc);
    if (nsm->hyd_mass_file[k].fp != nullptr)
      fprintf(nsm->hyd_mass_file[k].fp, "%16.8lf %11.4lf\n", time, mass);
    if (!file_handle_write_check(nsm->hyd_conc_file[k]) ||
        !file_handle_write_check(nsm->hyd_mass_file[k]))
      return;
  }
}

void write_nsm_step_outputs(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (!tr.nutrients || nsm == nullptr) return;
  output_state& out = ms.output;
  nsm_overland_results(ms);
  for (map_output& m : out.nsm_total_maps) write_map(m, ms.elapsed_minutes);
  for (auto& species : out.nsm_species_maps)
    for (map_output& m : species) write_map(m, ms.elapsed_minutes);
}
