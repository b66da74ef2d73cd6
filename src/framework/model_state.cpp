// Destruction of the run's model_state at the end of run_project: the arrays and on-demand
// objects of the run are released and the process-wide lists that hold one run's data are
// emptied, so the next run of a batch or calibration starts from a new record and empty lists.
#include "framework/model_state.h"

#include "calibration/run_result.h"
#include "framework/core/error_state.h"
#include "input/elevation_series.h"
#include "input/replacement.h"
#include "input/time_series.h"
#include "output/analyzers/analyzer.h"
#include "output/r7_link.h"
#include "subsurface/wells.h"

void model_state_dtor(model_state& ms) {
  // Messages after the run reach the console only: the summary file goes with the record.
  if (error_echo_file == &ms.output.summary_file) error_echo_file = nullptr;

  // Arrays and objects made on demand. The member arrays release themselves with their
  // members; the holder of a calibration driver keeps its value arrays but loses its location
  // arrays.
  ms.transport.ov_sed.reset();
  if (run_result* holder = ms.calibration.driver_result) release_location_values(*holder);
  if (ms.calibration.own_result) release_event_values(*ms.calibration.own_result);
  r7_link_free(ms.output.r7);

  // The process-wide lists of the run.
  ts_free_all();
  wells_free_all();
  replace_free_all();
  free_elev_series_and_pumps();

  ms.transport.nsm.reset();
  analyzers_free_all(ms.output.analyzer_list);
}

model_state::~model_state() {
  model_state_dtor(*this);
}
