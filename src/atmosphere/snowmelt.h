// Energy-balance snowmelt: longwave exchange with the air, condensation, sensible heat and,
// during rain, the heat the rain carries, melt each cell's snow water equivalent onto its
// overland depth. Called by the hydromet step between events and by the rainfall step during
// events.
#pragma once

#include <span>

// The air of the step.
struct snow_weather {
  double air_temp = 0.0;      // degrees Celsius
  double wind_speed = 0.0;    // m/s
  double rel_humidity = 0.0;  // %
  double pressure_mb = 0.0;   // millibars
};

// Per-cell arrays over cells 0..cell_count (element 0 unused); optional spans may be empty.
struct snow_views {
  int cell_count = 0;
  double dt = 0.0;               // s
  double latent_fusion = 80.0;   // cal/g
  double snow_longwave = 27.0;   // langleys per hour emitted by melting snow
  std::span<double> swe;         // m of water, in/out
  std::span<double> depth;       // overland depth (m), in/out
  std::span<const double> rain;  // mm/h per cell: the rain heat's input (empty: no rain heat)
  std::span<const int> ov_lake;  // overland-lake number per cell (empty: none)
  std::span<const int> lake;     // channel-lake number per cell (empty: none)
  // Constituents carried by the snow (overland constituent transport): the melt of each cell
  // brings its volume (m3, grid size dx in m) and, per constituent k = 1..constituent_count,
  // that volume times the constituent's concentration in the snow (g/m3) as mass (g) into the
  // cell's row of k. Empty melt_volume: no constituents.
  double dx = 0.0;                    // m
  std::span<double> melt_volume;      // m3 per cell, in/out
  std::span<const double> snow_conc;  // g/m3 per constituent 1..constituent_count
  std::span<double* const> mass;      // per constituent 1..count: its per-cell mass row (g)
};

struct snow_result {
  int snow_left = 0;        // some cell still holds snow (lake cells included)
  double melt_depth = 0.0;  // m: melt summed over the cells
};

// Energy of one hour over melting snow (langleys per hour) before the rain heat.
double snow_energy(const snow_weather& w, double snow_longwave);

// Melts over dt seconds; SWE never becomes negative and never grows here. With constituents,
// each cell's melt volume and the mass it releases are added to the cell's entries.
snow_result snowmelt_energy_balance(const snow_weather& w, const snow_views& v);
