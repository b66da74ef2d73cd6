// Overland flow, rainfall and lakes: the member record of the run's model_state that holds the
// overland subsystem's per-cell arrays, options and totals.
#pragma once

struct overland_state {};
