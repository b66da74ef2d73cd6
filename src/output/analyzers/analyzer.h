// Analyzers: monitors of the run that are told of model events by bit and compare channel
// values with thresholds. The run driver and the end-of-event decision notify every analyzer on
// the run's list; the analyzer control file (read at start-up) makes the stream analyzers.
#pragma once

#include <memory>
#include <string>

#include "framework/core/file_handle.h"
#include "output/analyzers/logical_op.h"

struct model_state;

// Event bits handed to the analyzers.
enum analyzer_event : int {
  analyzer_step_done = 1,      // a pass of the time loop is done
  analyzer_event_started = 2,  // a precipitation event has started
  analyzer_event_ended = 4,    // a precipitation event has ended
  analyzer_startup_done = 8,   // start-up is complete
  analyzer_normal_end = 16,    // the run ended normally
  analyzer_error_end = 32,     // the run ended after an error
};

class analyzer {
 public:
  virtual ~analyzer() = default;
  // The event operation: told of one model event by its bit.
  virtual void on_event(model_state& ms, int event_bit) = 0;

  analyzer* next = nullptr;  // next analyzer of the run's list; null at the end
};

// Where a control line comes from, for the messages of its faults.
struct analyzer_line_source {
  const char* file = "";  // the analyzer control file
  long line = 0;          // the line's number, 1 for the first
};

// An analyzer of the control file: the events it listens to, its test (operator and threshold),
// its output letters and file, and the comparison object over the array its target selects.
// The concrete kinds choose the array (stream_analyzers.h).
class stream_analyzer : public analyzer {
 public:
  // Reads the rest of a control line (after the type word): target, event letters, operator,
  // threshold, output letters, then the interval in seconds when the events hold t and the
  // output file when the outputs hold f. A threshold or interval that is not a number, a
  // negative interval, a missing file name or a file that cannot be opened stop the run with a
  // message naming the file, the line and the field; false then.
  bool configure(model_state& ms, std::string& line, const analyzer_line_source& where);
  // Acts on the events it listens to: the timed event at the first step at or after its next
  // firing time (then the next one follows by the interval), the others whenever they come.
  void on_event(model_state& ms, int event_bit) override;
  // The test and its report, for `event`; nothing without a comparison object or with an
  // operator that is no comparison.
  void evaluate(unsigned event);
  void close_output();

  unsigned event_mask = 0;             // events listened to (analyzer_event bits)
  unsigned output_flags = 0;           // output letters (analyzer_output_bit)
  unsigned op_code = 0;                // operator (analyzer_op_code)
  double threshold = 0.0;              // value every element is compared with
  file_handle output_file;             // the analyzer's own output file
  std::string output_name;             // its name as the line gives it
  const double* model_time = nullptr;  // the model clock, for the timed event
  double last_time = 0.0;              // Julian days: last timed firing
  double next_time = 0.0;              // Julian days: next timed firing at or after this
  double interval = 0.0;               // days: interval of the timed event
  double tolerance = 0.0;              // days: a firing time is reached within this

  logical_OP* op() const { return op_.get(); }

 protected:
  // Builds the comparison object over the array the target token selects.
  virtual void create_op(model_state& ms, const std::string& target) = 0;
  std::unique_ptr<logical_OP> op_;
};

// Operator code of an operator token, by prefix: "<=" 3, ">=" 4, "==" 2, "<" 0, ">" 1, "+" 5,
// "-" 6, "*" 7, "\" 8, anything else 9.
unsigned analyzer_parse_operator(const std::string& token);
// Analyzer type of a type word, by prefix: "2DG" 0, "1DS" 1, "2DS" 2, "NSM_OV" 3, "NSM_ST" 4,
// "NSM_SL" 5, anything else -1.
int analyzer_parse_type(const std::string& token);

// Hands `event_bit` to every analyzer of ms's list, in list order.
void analyzers_notify(model_state& ms, int event_bit);
// Deletes every analyzer of the list and clears its head.
void analyzers_free_all(analyzer*& head);
