// Output, analyzers and model coupling: the member record of the run's model_state that holds
// the output files, output switches and the run's analyzer list.
#pragma once

#include "framework/file_handle.h"

class analyzer;

struct output_state {
  file_handle summary_file;           // run summary: start-up lines, messages, balances
  int all_contam_output = 0;          // constituent map and link/node outputs on
  analyzer* analyzer_list = nullptr;  // head of the run's analyzers, in notification order
};
