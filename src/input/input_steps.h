// Services of the project input that the other subsystems call while they read their own input
// files: the run's named time series and elevation series, looked up by name on their
// process-wide lists, the channel pump definitions (PUMPTO) put on the channel pump list, and
// the grid-map reader through which every subsystem reads its grid inputs, the XY boundary points
// that the overland and groundwater steps apply, and the mapping tables of the sediment size
// classes and the soil erosion properties, and the contaminant transport table; the calibration
// parameter replacement list that the calibration drivers fill for every trial, and the project
// folder they learn from a project file.
#pragma once

#include <functional>
#include <string>

#include "input/ascii_grid.h"
#include "input/contaminant_table.h"
#include "input/elevation_series.h"
#include "input/mapping_tables.h"
#include "input/parameter_tables.h"
#include "input/project_file.h"
#include "input/replacement.h"
#include "input/special_tables.h"
#include "input/stream_tables.h"
#include "input/time_series.h"
#include "input/xy_boundary.h"

// The series a pump line of the overland and lake pump files gives after the pump's place: "TS
// name" (a time series, rate in m3/s over time) or "ELEV name" (an elevation series, rate in m3/s
// at the water's level), the flow type in any case (pump_series.cpp).
// Reads the flow type and the series name from `rest` and looks the series up; exactly one of
// `series` and `rating` is set. False, after a message naming the `kind` of pump file, the file,
// the line and the value, when the type is neither, the name is missing or no series has it.
bool read_pump_series(std::string& rest, const char* kind, const char* file, long line_no,
                      time_series*& series, elevation_series*& rating);

// Reads every line of a pump file: blank lines and lines whose first word begins with # are
// passed over, every other line must begin with PUMP and its rest goes to `read_line` (which
// prints its own message and returns false for a line it refuses). The run stops, with a
// message naming the `kind` of pump file, the file and the card, when the file cannot be opened,
// a line is refused or no pump is defined; false then.
bool read_pump_file(const char* file, const char* kind, const char* card,
                    const std::function<bool(std::string& rest, long line_no)>& read_line);
