// Analyzers: monitors of the run that are told of model events by bit and compare channel
// values with thresholds. The run driver and the end-of-event decision notify every analyzer on
// the run's list.
#pragma once

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

// Hands `event_bit` to every analyzer of ms's list, in list order.
void analyzers_notify(model_state& ms, int event_bit);
// Deletes every analyzer of the list and clears its head.
void analyzers_free_all(analyzer*& head);
