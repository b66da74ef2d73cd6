// Pipe-network steps called by the run driver. The pipe network is not built yet: each step
// leaves the model state unchanged.
#include "channel/channel_steps.h"

#include "framework/model_state.h"

void superlink_step(model_state&) {}
void init_superlink_channel_connection(model_state&) {}
// The pipe-network reader is not built: the network is read as empty (no superjunctions, no
// superlinks).
int read_superlink_file(model_state&, file_handle&, file_handle&) {
  return 0;
}
