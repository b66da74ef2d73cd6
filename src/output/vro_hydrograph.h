// The hydrograph file of the VRO interface, converted at the end of the run from the outlet
// hydrograph (and the location hydrographs) the run wrote.
#pragma once

#include <string>
#include <vector>

struct file_handle;

// Writes the VRO file from the outlet hydrograph: header, the location-series count, start date,
// start time, interval and value count, the location header lines, the outlet discharges ten to
// a line, then one block per location series. The location series are those of location_lines
// (one header line per hydrograph location, its link and node; none without a location file);
// every line of the location file carries a time and one value per series.
void write_vro_hydrograph(file_handle& outlet, file_handle& vro, file_handle* locations,
                          const std::vector<std::string>& location_lines, int start_date,
                          int start_time, int interval, int value_count);
