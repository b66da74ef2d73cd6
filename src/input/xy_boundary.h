// XY boundary inputs: overland depths and groundwater heads imposed at chosen cells, and
// hydrographs at points of the stream network, all taken from series tables. The project-file
// reader calls the three readers at the XYBDYINPUT_* cards.
#pragma once

#include "framework/guarded_array.h"

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
  int num_stpts = 0;                 // stream points
  guarded_array<xy_point> ovpts{"xy_input::ovpts"};         // overland depth points 1..num_ovpts
  guarded_array<xy_point> gwpts{"xy_input::gwpts"};         // groundwater head points 1..num_gwpts
  guarded_array<xy_stream_point> stpts{"xy_input::stpts"};  // stream points 1..num_stpts
};

// XYBDYINPUT_OVDEP ("overland", "XY_OV_DEPTH") and XYBDYINPUT_GWHEAD ("groundwater",
// "XY_GW_HEAD"): reads a point table into the series, points and count of that kind.
void read_xy_bdy_file(xy_input& xy, const char* file_name, const char* kind_word,
                      const char* header_word, time_series*& first_series,
                      guarded_array<xy_point>& points, int& point_count);
// XYBDYINPUT_STFLOW: reads the stream hydrograph file.
void read_xy_stream_bdy_file(xy_input& xy, const char* file_name);
// XYBDYINPUT_STTIMESERIES: reads the stream time-series file.
void read_xy_stream_ts_file(xy_input& xy, const char* file_name);
