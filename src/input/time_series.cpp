// Named time series on the process-wide list of the run. The series-file reader is not built
// yet; the run driver's shift of RELATIVE series and the end-of-run release work on the list.
#include "input/time_series.h"

time_series* ts_list_head = nullptr;

void ts_shift_relative(double start_time) {
  for (time_series* ts = ts_list_head; ts != nullptr; ts = ts->next) {
    if (!ts->relative) continue;
    for (int i = 1; i <= ts->count; ++i) ts->time[i] += start_time;
  }
}

void ts_free_all() {
  while (ts_list_head != nullptr) {
    time_series* ts = ts_list_head;
    ts_list_head = ts->next;
    delete[] ts->time;
    delete[] ts->value;
    delete ts;
  }
}
