// XY boundary inputs: overland depths and groundwater heads imposed at chosen cells, and
// hydrographs at points of the stream network, all taken from series tables. The project-file
// reader calls the three readers at the XYBDYINPUT_* cards; read_maps checks the points' cells,
// and the overland boundary and groundwater steps apply the points at their time steps.
#pragma once

#include <string>

#include "framework/core/guarded_array.h"
#include "framework/core/raw_arrays.h"
#include "input/xy_boundary_state.h"

// XYBDYINPUT_OVDEP ("overland", "XY_OV_DEPTH") and XYBDYINPUT_GWHEAD ("groundwater",
// "XY_GW_HEAD"): reads a point table into the series, points and count of that kind; a later
// card of the same kind replaces the points of an earlier one. A file that does not open, has
// another header or no points is reported and the run goes on without its points; a malformed
// cell list or table sets code 4000 (left for the caller to report) and leaves no points.
void read_xy_bdy_file(xy_input& xy, const char* file_name, const char* kind_word,
                      const char* header_word, time_series*& first_series,
                      guarded_array<xy_point>& points, int& point_count);
// XYBDYINPUT_STFLOW: reads the stream hydrograph file; its points follow the stream points read
// before. Failures as for read_xy_bdy_file.
void read_xy_stream_bdy_file(xy_input& xy, const char* file_name);
// Keyword code of the first token of `line` (cut off the line), compared whole and without
// regard to case: 1 TORVA_XY_ST_BDY_TS, 2 TORVA_TS, 3 XY, 4 LINKNODE, 5 END_TS, 6 TIMESERIES,
// 0 anything else or no token.
int xy_st_ts_keyword(std::string& line);
// XYBDYINPUT_STTIMESERIES: reads the stream time-series file, one point per TORVA_TS ... END_TS
// block, after the stream points read before. A TIMESERIES name must belong to a series read
// above the card; one that is not found is reported and leaves the point without a series.
void read_xy_stream_ts_file(xy_input& xy, const char* file_name);

// Start-up, once the watershed cells are numbered: true when every overland and groundwater
// point names a cell 1..cell_count; otherwise prints which one does not and returns false.
bool check_xy_bdy_cells(const xy_input& xy, int cell_count);

// Overland boundary step, at every overland step with overland points: sets the depth of each
// point's cell to its series value at Julian time t (m) and adds the water put in or taken out
// (m3, with the cell area dx * dx) to `added` or `removed`, both first set to 0. A point
// without a series or outside `depth` stops the run (code 4000, reported). Called outside
// parallel regions; allocates nothing.
void apply_xy_ov_bdy(xy_input& xy, raw_array1d<double>& depth, double dx, double& added,
                     double& removed, double t);
// Groundwater step, when it is due and groundwater points exist: the same for the head of each
// point's cell, each volume also multiplied by the cell's storage coefficient.
void apply_xy_gw_bdy(xy_input& xy, raw_array1d<double>& head, const raw_array1d<double>& storage,
                     double dx, double& added, double& removed, double t);
