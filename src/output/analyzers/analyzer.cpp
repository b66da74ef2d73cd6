// Notification of the run's analyzers: the run driver tells every analyzer of the list of start-up,
// of each completed step and of the way the run ended; the start of each precipitation event is
// told through the output steps.
#include "output/analyzers/analyzer.h"

#include "framework/core/linked_list.h"
#include "framework/model_state.h"
#include "output/output_steps.h"

void analyzers_notify(model_state& ms, int event_bit) {
  for (analyzer* a = ms.output.analyzer_list; a != nullptr; a = a->next) a->on_event(ms, event_bit);
}

void analyzers_free_all(analyzer*& head) {
  list_free(head);
}

void notify_analyzers_event_start(model_state& ms) {
  analyzers_notify(ms, analyzer_event_started);
}
