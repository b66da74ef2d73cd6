// Elevation series and channel pumps: named (x, y) tables (rating and rule curves) read for the
// ELEV_SERIES_FILE card onto one process-wide list and evaluated by the channel structures at
// every routing step, and the pump definitions of the channel input file's PUMPTO cards.
#pragma once

#include <string>
#include <vector>

#include "input/time_series.h"

struct file_handle;
class loop_fault;

struct elevation_series {
  std::vector<double> x;             // argument of pairs 0..count-1: depth, stage or elevation (m)
  std::vector<double> y;             // value of pairs 0..count-1: a flow or a level
  elevation_series* next = nullptr;  // next series of the process-wide list, null at the tail
  char name[ts_name_size] = {};      // series name, at most 149 characters
  int count = 0;                     // number of pairs
};

// Flow types of a pump.
inline constexpr int pump_flow_elev = 0;  // rate from the rating series at the depth or stage
inline constexpr int pump_flow_ts = 1;    // rate from the time series at the current time

struct pump_spec {
  int cell = 0;                        // cell an overland pump draws from (overland pumps only)
  pump_spec* next = nullptr;           // next pump of the list the pump is on
  int pumpto_a = 0;                    // first integer of the PUMPTO card
  int pumpto_b = 0;                    // second integer; 1 when the link's type value is 4
  int flow_type = pump_flow_elev;      // pump_flow_elev or pump_flow_ts
  time_series* series = nullptr;       // flow type TS: the series, null when not found
  elevation_series* rating = nullptr;  // flow type ELEV: the series, null when not found
};

// Head of the process-wide list of the run's elevation series, in reading order.
extern elevation_series* elev_series_list_head;
// Head of the process-wide channel pump list, newest first.
extern pump_spec* chan_pump_list_head;

// A new empty series (no pairs, empty name), appended at the tail of the list, which owns it.
elevation_series* elev_series_new();
// Frees every elevation series and every channel pump and clears both heads. Called at the end
// of every run with ts_free_all.
void free_elev_series_and_pumps();

// Reads the next block of an open elevation-series file onto the list. Returns 1 when a block
// was read, 0 at the end of the file or when the block is malformed; a malformed block has
// printed a message naming the file and the series and set run_error's code to 4000.
int read_elev_series(file_handle& h);
// Reads every block of the file `name` (ELEV_SERIES_FILE card). A file that does not open is
// reported and the run goes on.
void read_elev_series_file(const char* name);

// The first elevation series of the list whose name begins with `name` (compared over the
// length of `name`, cut as stored names are); null for an empty or null name or when none
// matches.
elevation_series* elev_series_find(const char* name);

// Linear lookup of `s` at `x`: linear between the two pairs around x, the first y below the
// first x and the last y from the last x on; where pairs share an x the later pair's y holds at
// that x. A null or empty series is fatal and gives 0.0. With `fault` given (a parallel loop)
// faults are recorded there under `loop_index` (see series_lookup_fault).
double elev_series_interp(double x, elevation_series* s, loop_fault* fault = nullptr,
                          long loop_index = 0);
// Step lookup of `s` at `x`: the y of the lower pair of the first bracket of x, so an inner
// x equal to a pair's x gives the y of the pair before it; the first y up to the first x and
// the last y from the last x on. Faults as elev_series_interp.
double elev_series_step(double x, elevation_series* s, loop_fault* fault = nullptr,
                        long loop_index = 0);

// Parses the rest of a PUMPTO line (two integers, the flow type word ELEV... or TS..., the
// series name) of link `link` whose type value is `link_type`, and puts the new pump at the
// front of the channel pump list. A flow type word that is neither prints a message naming the
// link, reports code 4000 and gives null.
pump_spec* read_pump_spec(const std::string& rest, int link, int link_type);
