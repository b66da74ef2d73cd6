// Closing of the sediment output files when the run's model state is destroyed.
#include "transport/transport_records_state.h"

sediment_member::~sediment_member() {
  for (int i = 5; i >= 0; --i) file_handle_release(output_file[i]);
}
