// Precipitation file: events of dated gauge or radar records. read_precip_event reads one
// event into the current event record of the overland state; the start-up event scan calls it
// to list the events, the start of each precipitation event to read the event it simulates.
#pragma once

#include <string>

struct file_handle;
struct model_state;
struct radar_grid_record;

// An event may hold at most this many gauge values (gauges x records).
inline constexpr long max_precip_values = 20000000;

// Reads the next event of `file` into the precipitation fields of ms.overland: gauge count,
// record count, data-card flags, gauge coordinates, the value table, the record dates
// (rain_events[k].value[0..4]: year, month, day, hour, minute) and, for an event of radar
// files, the radar file names. Returns 1 when an event was read; 0 at the end of the file
// before an EVENT card, or after a format error (message printed, code 4000 set); -1 at an
// unexpected end of the file inside an event. Format errors include a record date that is no
// calendar date, a gauge coordinate that is not finite, a gauge value that is negative or not
// finite, and, in an event of radar files, a file that cannot be opened or a first file whose
// header gives no grid.
int read_precip_event(model_state& ms, file_handle& file);

// Reads the six-line header of a radar grid file (cols, rows, lower-left x and y, cell size,
// no-data value) into `radar`, sets its west and north edges and sizes its value array anew
// when the grid size changed. Returns 0, or -1 when the file cannot be opened, its header is
// incomplete or its values give no grid (columns and rows whole numbers from 1 with at most
// max_precip_values cells, a cell size above 0, every value finite); `problem`, when given,
// then gets a text saying what is wrong, naming the line.
int read_radar_header(radar_grid_record& radar, const char* file_name,
                      std::string* problem = nullptr);
