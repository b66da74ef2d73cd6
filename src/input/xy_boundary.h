// XY boundary inputs: overland depths and groundwater heads imposed at chosen cells, and
// hydrographs at points of the stream network, all taken from series tables. The project-file
// reader calls the three readers at the XYBDYINPUT_* cards; read_maps checks the points' cells,
// and the overland boundary and groundwater steps apply the points at their time steps.
#pragma once

#include <string>

#include "framework/core/guarded_array.h"
#include "framework/core/raw_arrays.h"

struct time_series;

// One overland or groundwater boundary point.
struct xy_point {
  int cell = 0;                   // cell number of the point in this model's grid
  time_series* series = nullptr;  // the point's series (owned by the list of time series)
};

// One stream boundary point.
struct xy_stream_point {
  int link = 0;                      // link of the point
  int node = 0;                      // node of the point
  double x = 0.0;                    // x coordinate of the point (m)
  double y = 0.0;                    // y coordinate of the point (m)
  time_series* series = nullptr;     // the point's series (owned by the list of time series)
  unsigned char linknode_given = 0;  // 1 when link and node were given by a LINKNODE line
};

// The XY boundary inputs of a run; a member of the project's card record.
struct xy_input {
  time_series* ov_series = nullptr;  // first of the overland series, one per point
  time_series* gw_series = nullptr;  // first of the groundwater series
  time_series* st_series = nullptr;  // first of the series of the stream hydrograph file
  int num_ovpts = 0;                 // overland points
  int num_gwpts = 0;                 // groundwater points
  int num_stpts = 0;                 // stream points of both stream files, 1..num_stpts
  int st_flow_given = 0;             // 1 once an XYBDYINPUT_STFLOW card was read
  int st_series_given = 0;           // 1 once an XYBDYINPUT_STTIMESERIES card was read
  guarded_array<xy_point> ovpts{"xy_input::ovpts"};         // overland depth points 1..num_ovpts
  guarded_array<xy_point> gwpts{"xy_input::gwpts"};         // groundwater head points 1..num_gwpts
  guarded_array<xy_stream_point> stpts{"xy_input::stpts"};  // stream points 1..num_stpts
  char ov_file[1024] = {};  // overland depth file whose points are in ovpts, for messages
  char gw_file[1024] = {};  // groundwater head file whose points are in gwpts, for messages
};

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
