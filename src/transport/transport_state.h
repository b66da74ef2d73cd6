// Sediment, contaminant and nutrient transport: the member record of the run's model_state that
// holds the transport options, constituent arrays and mass balances.
#pragma once

struct transport_state {
  int ov_con_trans = 0;    // overland contaminant transport on
  int chan_con_trans = 0;  // channel contaminant transport on
};
