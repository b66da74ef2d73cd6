// Readers of the hourly hydrometeorological file in its three formats (Surface Airways element
// records, SAMSON fixed columns, OBU whitespace records): the start-up scan for the span of the
// data and the hour-by-hour reading with the missing-value fill. Called by the event scan at
// start-up and by the hydromet step once per hour.
#pragma once

#include <cstdio>

#include "atmosphere/weather_state.h"

struct model_state;

enum class hmet_format { surface_airways, samson, obu };

// One hourly record in model units.
struct hmet_record {
  int year = 0, month = 0, day = 0, hour = 0;
  double direct = 0.0;    // direct radiation
  double global = 0.0;    // global radiation (W/m2)
  double sky = 0.0;       // sky cover (tenths)
  double temp = 0.0;      // degrees Celsius
  double rh = 0.0;        // %
  double pressure = 0.0;  // millibars
  double wind = 0.0;      // m/s
};

// What the scan finds.
struct hmet_span {
  int first[4] = {};       // year, month, day, hour of the first record (the hour may be 24)
  int last[4] = {};        // the same of the last record
  int record_count = 0;    // hourly records
  char station[23] = {};   // SAMSON station text
  double latitude = 0.0;   // SAMSON station latitude (degrees)
  double longitude = 0.0;  // SAMSON station longitude (degrees)
};

// Scans the whole open file `fp` (named `name` in messages) for its span and rewinds it; `rs`
// starts afresh. Returns 0, or -1 after a fault in the file (its message printed with the file,
// line and field, code 4000 raised). Unless quiet, prints the end-of-file lines.
int hmet_scan(FILE* fp, const char* name, hmet_format format, hmet_reader_state& rs,
              hmet_span& span, bool quiet);

// Reads the next hourly record after a scan. Returns 1 with the record, 0 at the end of the data
// and -1 after a fault in the file (message printed, code 4000 raised). Each missing value
// replaced by the last good one adds 1 to repair_count.
int hmet_read(FILE* fp, const char* name, hmet_format format, hmet_reader_state& rs,
              hmet_record& record, int& repair_count);

// The run's format, from its project cards.
hmet_format hmet_format_of(const model_state& ms);

// The run's reader: in scan mode (mode 1) scans the hydrometeorological file into
// hmet_first_date, hmet_last_date and the weather record; returns 0, or -1 after a fault. In read
// mode it reads one record into the weather record and returns 1, -1 at the end of the data and
// -2 after a fault.
int read_hmet_record(model_state& ms, int mode);
