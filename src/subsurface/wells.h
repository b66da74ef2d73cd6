// Wells of the groundwater model: the process-wide list of the active wells of the run, each
// placed at a cell, with its pumping mode, rate and time series.
#pragma once

struct well_record {
  int id = 0;                   // well id in the table; the cell number once active
  int mode = 0;                 // pumping mode
  double rate = 0.0;            // pumping rate (m3/s)
  int ts_index = 0;             // time-series index of a scheduled rate
  well_record* next = nullptr;  // next well of the list; null at the end
};

// Head of the run's active wells; emptied at the end of every run.
extern well_record* active_well_list;

// Releases every active well, from the head, and clears the head.
void wells_free_all();
