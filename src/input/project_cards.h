// Run-parameter records filled by the project-file reader: the project's cards (file names with
// their given-flags and numeric values), the grid and clock parameters, and uniform rainfall.
#pragma once

struct project_cards {
  int analyzers_given = 0;    // the ANALYZERS card was given
  char analyzers[1024] = {};  // analyzer control file named by the ANALYZERS card
};

struct grid_time_params {
  double latitude = 32.0;    // degrees north of the basin centroid
  double longitude = -90.0;  // degrees east of the basin centroid
};

struct uniform_rain_params {
  int rain_interpolation = 1;  // interpolation of gauge rainfall over the grid
};
