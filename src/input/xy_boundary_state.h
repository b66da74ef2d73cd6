// XY boundary inputs as the run-parameter records hold them: the overland and groundwater
// boundary points and the stream points with their series tables.
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
