// Named time series: (Julian time, value) rows read from series files onto one process-wide
// list, looked up by name by the steps that use them.
#pragma once

struct time_series {
  char name[256] = {};      // series name
  int relative = 0;         // RELATIVE: row times count from the start of the run
  int count = 0;            // rows 1..count
  double* time = nullptr;   // Julian days (or days from the start while relative), 1..count
  double* value = nullptr;  // series value, 1..count
  time_series* next = nullptr;
};

// Head of the process-wide list of the run's series; emptied at the end of every run.
extern time_series* ts_list_head;

// Adds `start_time` to every row time of every RELATIVE series, turning them into Julian times.
void ts_shift_relative(double start_time);
// Frees every series of the list and clears its head.
void ts_free_all();
