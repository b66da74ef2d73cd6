// Run-parameter records: their release at the end of a run and the reset with the reader
// defaults that read_project_file applies before the first card, so that every card not given
// in the project file has its documented value.
#include "input/project_cards.h"

#include <memory>

#include "transport/nutrients/nsm_model_state.h"

project_cards::~project_cards() {
  delete[] nsm_soil_coeffs;
  nsm_soil_coeffs = nullptr;
  // The run takes the container over by copying the pointer and clearing it here; when the run
  // stopped before that, the container is still ours and would otherwise be lost.
  delete nsm;
  nsm = nullptr;
  // The members follow: xy_input is released, then xy_output closes its files.
}

namespace {

void set_reader_defaults(project_cards& c) {
  c.k_river = 0.0;
  c.m_river = 1.0;
  c.m_lake = 10.0;
  c.first_order_chan_q = 0.0;
  c.event_min_q = 0.1;
  c.soil_moist_depth = 0.4;
  c.max_courant_number = 0.2;
  c.overtype = 2;
  c.richards_weight = 1.0;
  c.richards_dtheta_max = 0.0025;
  c.richards_k_option = 2;
  c.richards_iter_max = 1;
  c.richards_upper_option = 1;
  c.aquifer_delta_z = -999.9;
  c.soil_erosion = 1;
  c.gw_timestep = 1.0;
  c.gw_lsor_con = 1e-5;
  c.gw_relax_coeff = 1.0;  // plain line Gauss-Seidel unless GW_RELAX_COEFF says otherwise
  c.single_unsat_sat = 0.75;
  c.kinetics_timestep_factor = 1.0;
  c.ov_uptake_rate = 0.0;
  c.chan_ph = 7.2;
  c.x_freq = -1;
  c.xwin_width = 1000;
  c.xwin_height = 660;
  c.tev_event_num = -1;
  c.calib_comp_data = 2;  // not given
  c.calib_obj_func = 2;   // not given
}

}  // namespace

void reset_run_parameter_records(project_cards& cards, grid_time_params& grid,
                                 uniform_rain_params& rain) {
  // Rebuilding the record releases what it owns and empties every name, flag and number; the
  // two values the constructor sets to 1 are then cleared like every other field.
  std::destroy_at(&cards);
  std::construct_at(&cards);
  cards.calib_comp_data = 0;
  cards.calib_obj_func = 0;
  set_reader_defaults(cards);

  grid = grid_time_params{};
  grid.latitude = 0.0;
  grid.longitude = 0.0;

  rain = uniform_rain_params{};
  rain.rain_interpolation = 0;
}
