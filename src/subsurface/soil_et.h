// Between-event soil water account of long-term runs: infiltrated water enters an upper soil zone,
// drains by gravity to a lower zone and on to the groundwater, and evapotranspiration is taken
// from surface water first, then from the root zone under soil-water stress. The time loop calls
// soil_et_step on its own hourly schedule.
#pragma once

#include <span>

struct model_state;
struct soil_table_record;

// The account's per-cell arrays over cells 0..cell_count (element 0 unused). Optional spans may
// be empty. Soil parameters come per cell (redistribution soil) or from the soil record of the
// cell's soil type (layered soil: soil_types and soil_type set).
struct soil_et_views {
  int cell_count = 0;
  double dt = 0.0;                // s
  double zone_depth_upper = 0.0;  // cm: D1
  bool long_term = true;
  bool stress_alt = false;
  bool snow_present = false;
  std::span<const double> et_rate_water;  // cm/s
  std::span<const double> et_rate_soil;   // cm/s
  std::span<const double> rain;           // mm/h (empty: no rain)
  std::span<const double> swe;            // m (empty: none)
  std::span<const int> ov_lake;           // overland-lake number (empty: none)
  std::span<const int> lake;              // channel-lake number (empty: none)
  std::span<const double> wt_depth;       // cm: depth of the water table
  std::span<double> ov_depth;             // m, in/out
  std::span<double> inf_depth;            // m: infiltration since the last update, in/out
  std::span<double> zone_upper;           // cm, in/out
  std::span<double> zone_lower;           // cm, in/out
  std::span<double> soil_water;           // cm, out
  std::span<double> recharge_inc;         // cm, in/out
  std::span<double> recharge_cum;         // cm, in/out
  std::span<double> drain_upper_cum;      // cm, in/out
  std::span<double> drain_lower_cum;      // cm, in/out
  std::span<double> et_cum;               // cm, in/out: taken from surface water
  std::span<int> yes_exfil;               // in/out
  // Redistribution soil, per cell.
  std::span<const double> porosity, residual, ks, pore_index, theta_fc, theta_wp;
  // Layered soil.
  const soil_table_record* soil_types = nullptr;
  std::span<const int> soil_type;
};

struct soil_et_totals {
  double et_depth = 0.0;      // m: evapotranspiration taken, summed over cells
  double et_from_gw = 0.0;    // m: the part drawn from the water table
  double infiltration = 0.0;  // m: infiltration taken into the zones
};

// One update of every cell over v.dt, the cells in parallel; the totals are summed over fixed
// blocks of cells in block order, the same bits on any thread count.
soil_et_totals soil_et_extract(const soil_et_views& v);
