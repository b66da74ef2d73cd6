// Energy-balance snowmelt of every cell over one step: the energy of the air over melting snow
// (langleys per hour), melt = energy / latent heat of fusion, taken from the snow water
// equivalent and added to the overland depth, with the constituents the snow carries. Called
// by the hydromet and rainfall steps.
#include "atmosphere/snowmelt.h"

#include <cmath>

double snow_energy(const snow_weather& w, double snow_longwave) {
  const double t = w.air_temp;
  const double f = w.wind_speed * 0.0002 / 1000.0 * 3600.0;
  const double e = std::exp(-4278.6 / (t + 242.8));
  const double tk = t + 273.15;
  const double a = tk * tk * tk * tk;
  return a * 4.956e-9 - snow_longwave +
         (e * 2.749e8 * w.rel_humidity / 100.0 - 6.11) * (f * 600.0) +
         w.pressure_mb * 0.00061 * 600.0 * f * t;
}

snow_result snowmelt_energy_balance(const snow_weather& w, const snow_views& v) {
  snow_result r;
  const double q_air = snow_energy(w, v.snow_longwave);
  const bool rain_heat = !v.rain.empty();
  for (int c = 1; c <= v.cell_count; ++c) {
    if (!(v.swe[c] > 0.0)) continue;
    // Lake cells keep their snow; it still lies on the grid.
    if ((!v.ov_lake.empty() && v.ov_lake[c] >= 1) || (!v.lake.empty() && v.lake[c] >= 1)) {
      r.snow_left = 1;
      continue;
    }
    const double q = q_air + (rain_heat ? v.rain[c] / 10.0 * w.air_temp : 0.0);
    double melt = q / v.latent_fusion * v.dt / 360000.0;
    if (!(melt > 0.0)) melt = 0.0;
    double swe = v.swe[c] - melt;
    if (swe <= 0.0) {
      // The last of the snow melts exactly.
      melt = v.swe[c];
      swe = 0.0;
    }
    v.swe[c] = swe;
    v.depth[c] += melt;
    r.melt_depth += melt;
    if (swe > 0.0) r.snow_left = 1;
    if (!v.melt_volume.empty()) {
      const double volume = melt * v.dx * v.dx;
      v.melt_volume[c] += volume;
      for (std::size_t k = 1; k < v.mass.size() && k < v.snow_conc.size(); ++k)
        v.mass[k][c] += volume * v.snow_conc[k];
    }
  }
  return r;
}
