// The stream analyzers of the control file: "1DS" watches one link-major channel array of one
// constituent, "2DS" a channel table of the hydraulics (depth, flow area or discharge). Each
// turns the target token of its line into a model array and a comparison object over it.
#pragma once

#include <string>

#include "output/analyzers/analyzer.h"

// "1DS": target kind_number, e.g. conc_2 (kinds compared by prefix, case-sensitive).
class stanalyzer_1dst : public stream_analyzer {
 public:
  const double* target = nullptr;  // the selected row of the constituent; null until found
  int target_count = 0;            // elements 0..target_count - 1 of the row
  int target_stride = 0;           // row length of one link in the row

 protected:
  void create_op(model_state& ms, const std::string& target_token) override;
  // Sets target from the token; prints the message of a fault and leaves it null.
  void select_variable(const std::string& target_token, model_state& ms);
};

// "2DS": target depth, area or flow (lower-cased, compared by prefix). depth compares the
// water-surface elevation less the bed elevation.
class stanalyzer_2dst : public stream_analyzer {
 public:
  const link_node_array<double>* target = nullptr;  // the table selected; null until found
  st2d_logical_OP* op2d = nullptr;                  // the comparison object (same as op())

 protected:
  void create_op(model_state& ms, const std::string& target_token) override;
  void select_variable(const std::string& target_token, model_state& ms);
};
