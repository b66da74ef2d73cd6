// Evapotranspiration once per hydromet hour: the sun's position for the date, hour and latitude,
// a surface energy balance solved for the surface temperature of every cell, then the
// Penman-Monteith combination equation or the Deardorff bulk evaporation. Called by the hydromet
// step; its rates feed the soil water account between events and the soil columns' root zones.
#pragma once

#include <span>

// Saturation vapour pressure (kPa) at t degrees Celsius.
double saturation_vapour_pressure(double t);
// Its slope (kPa/K) at t degrees Celsius.
double saturation_vapour_slope(double t);
// Psychrometric constant (kPa/K) at pressure p (kPa).
double psychrometric_constant(double p);
// Day of the year with the model's leap rule (every year divisible by 4).
int et_day_of_year(int year, int month, int day);
// Solar declination (radians) on day of year j.
double solar_declination(int j);
// Hour angle (radians) of a clock hour 0..23 (noon gives a whole turn).
double solar_hour_angle(int hour);
// Sun elevation (radians) for declination, latitude (radians) and hour angle.
double sun_elevation(double declination, double latitude, double hour_angle);
// Canopy resistance factor of the hour of day 0..23, and the seasonal one.
double hourly_resistance_factor(int hour);
double seasonal_resistance_factor(int seasonal_rs, double latitude_deg, int month);

// The hour's weather and the sun, for every cell.
struct et_weather {
  double air_temp = 0.0;      // degrees Celsius
  double pressure_mb = 0.0;   // millibars
  double rel_humidity = 0.0;  // %
  double sky_cover = 0.0;     // tenths
  double wind_speed = 0.0;    // m/s
  double global_rad = 0.0;    // W/m2
  int year = 0, month = 0, day = 0, hour = 0;
  double latitude = 0.0;  // degrees
  int seasonal_rs = 0;    // seasonal canopy resistance
  int snow_present = 0;   // snow lies on the grid
};

// Per-cell inputs and outputs of evapo_trans; every span covers cells 0..cell_count (element 0
// unused); optional spans may be empty.
struct et_views {
  int cell_count = 0;
  bool penman = true;  // Penman-Monteith, else Deardorff
  std::span<const double> albedo;
  std::span<const double> vheight;         // m (Penman-Monteith)
  std::span<const double> tcoeff;          // transmission coefficient (Penman-Monteith; 0 means 1)
  std::span<const double> canopy_rs;       // s/m (Penman-Monteith)
  std::span<const double> slope_x;         // (own ground - right neighbour's) / dx
  std::span<const double> slope_y;         // (own ground - lower neighbour's) / dx
  std::span<const double> ov_depth;        // m
  std::span<const double> swe;             // m (may be empty)
  std::span<const double> area_reduction;  // factor per cell (may be empty: none)
  std::span<double> surface_temp;          // K, out
  std::span<double> residual;              // kW/m2, out
  std::span<double> rate;                  // cm/s, out: potential rate
  std::span<double> rate_copy;             // cm/s, out: its working copy (may be empty)
  std::span<double> rate_copy2;            // cm/s, out: a second copy (may be empty)
};

struct et_result {
  int capped_cells = 0;            // cells whose energy balance stopped at the pass cap
  int nan_ra = 0;                  // an aerodynamic resistance was not a number
  int cloud_clipped = 0;           // the cloud fraction was above 1 and was clipped
  int first_negative_ra_cell = 0;  // first cell whose aerodynamic resistance was negative
};

// The surface energy balance's Newton passes stop at this count, keeping the last value.
inline constexpr int et_newton_pass_cap = 100;

// Computes every cell's rate (in parallel over cells, the same bits on any thread count).
et_result evapo_trans(const et_weather& w, const et_views& v);
