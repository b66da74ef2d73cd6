// Destruction of the run's model_state: releases what the run created and empties the
// process-wide lists that hold one run's data, so the next run of a batch starts clean.
#include "framework/model_state.h"

#include "input/time_series.h"
#include "output/analyzers/analyzer.h"

void model_state_dtor(model_state& ms) {
  analyzers_free_all(ms.output.analyzer_list);
  ts_free_all();
}

model_state::~model_state() {
  model_state_dtor(*this);
}
