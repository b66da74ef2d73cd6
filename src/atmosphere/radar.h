// Radar rainfall: the frames of a radar event carried to the model cells. The start of a radar
// event maps every model cell to the radar cell over its centre (map_radar_cells); at each
// record's time the record's frame is read (read_radar_precip) and copied to the cells
// (report_radar_peak). Called by start_precip_event and update_precip_record.
#pragma once

#include <span>
#include <string>

#include "framework/core/raw_arrays.h"
#include "overland/overland_state.h"

// Reads the header of the first radar file of the event and maps every watershed cell of the
// model grid (index_map[row][col] > 0, every row 1..model_rows and column 1..model_cols of
// `radar`, the last ones included) to the radar cell under its centre: radar_index[cell] gets
// cols x r + c + 1, the cell's value in radar.values (r the radar row from the north, c the
// column from the west, both from 0). A centre north of the radar grid takes radar row 0, one
// west of it column 0. Returns 0; -1 when the header cannot be read ("Error: unable to read
// radar header in file %s\n" and what is wrong, code 4000 reported); -2 when a centre lies
// south or east of the radar grid ("Error!! p_I=%d, p_J=%d\n", a line naming the cell and the
// file, code 102 reported).
int map_radar_cells(const char* file_name, radar_grid_record& radar,
                    const raw_array2d<int>& index_map, std::span<int> radar_index);

// Reads one radar frame into radar.values as rainfall intensities in mm/h: values in inches per
// hour are multiplied by 25.4, a value within 0.01 of the no-data value and any value not above
// 0 become 0, and a value above 100 mm/h is clipped to 100 with a warning. Prints "Peak rainfall
// rate read: %lf mm/hr\n". Returns 0; -1 when the file cannot be opened, its header does not
// read or does not give the grid that was mapped (columns, rows, lower-left corner and cell
// size), or a value does not read: `problem` then tells what is wrong, and a value that does not
// read also prints "Error in reading radar precip file %s\n". radar.values may then hold part
// of the frame: the caller stops the run rather than apply it.
int read_radar_precip(const char* file_name, radar_grid_record& radar, std::string& problem);

// Copies the frame in radar.values to cells 1..cell_count through radar_index (a negative value
// gives 0) and prints "Peak rainfall applied to watershed: %lf mm/hr\n" with the largest rate.
// A cell whose index lies outside the frame prints "Error: cellnum=%d, totcells=%d\n" (the
// index from 0 and the frame's cell count) and stops the copy: the result is then -1, else 0.
int report_radar_peak(const radar_grid_record& radar, std::span<const int> radar_index,
                      std::span<double> rain_cell, int cell_count);
