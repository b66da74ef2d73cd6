// Evapotranspiration of every cell for one hydromet hour: the sun's geometry once per call, then
// per cell the net shortwave on its slope, a Newton solution of the surface energy balance for
// the surface temperature and the Penman-Monteith or Deardorff rate. The hydromet step calls it.
#include "atmosphere/evapotranspiration.h"

#include <cmath>
#include <numbers>

#include "framework/core/parallel_team.h"
#include "framework/core/units.h"

namespace {

constexpr double pi = std::numbers::pi;
constexpr double solar_constant = 1353.0;  // W/m2
constexpr double cp = 1.013;               // kJ/(kg K)
constexpr double sigma = 5.67e-8;          // W/(m2 K4)
constexpr double latent = 2500.36;         // kJ/kg
constexpr double vapour_gas = 461.0;       // J/(kg K)
constexpr double bulk_ch = 0.0025;
constexpr double karman = 0.41;
constexpr double ts_tolerance = 0.001;  // K
constexpr double water_albedo = 0.08;
constexpr double snow_albedo = 0.5;

constexpr double hourly_factor[24] = {
    4.023803564, 3.837220945, 3.588557905, 3.210454452, 2.430375714, 1.617231413,
    1.196049428, 1.066950368, 1.014336754, 0.995198325, 0.976059896, 0.976059896,
    1.0,         1.052613613, 1.167444189, 1.354095078, 1.636506383, 2.043283344,
    2.660309947, 3.215256127, 3.507134242, 3.688915186, 3.818082516, 3.923343877};

double humidity_ratio(double e, double p) {
  return 0.622 * e / (p - 0.378 * e);
}

// The sun and the air of the hour, shared by every cell.
struct sky_terms {
  double p = 0.0;   // kPa
  double t = 0.0;   // degrees Celsius
  double nc = 0.0;  // cloud fraction
  double u = 0.0;   // m/s, at least 1
  double alpha = 0.0;
  double air_mass = 0.0;
  double k_ext = 0.0;
  double azimuth = 0.0;
  double e0 = 0.0;
  double season = 1.0;
  int hour = 0;
  double rho = 0.0;           // kg/m3
  double ea = 0.0;            // kPa
  double qa = 0.0;            // humidity ratio of the air
  double air_longwave = 0.0;  // W/m2: (0.74 + 0.0049 ea) K sigma T^4
};

struct cell_result {
  double ts = 0.0;
  double residual = 0.0;
  double rate = 0.0;
  bool capped = false;
  bool nan_ra = false;
  bool negative_ra = false;
};

// Net shortwave (W/m2) on a cell of slopes sx, sy and albedo `albedo` under global radiation g.
double net_shortwave(const sky_terms& s, bool penman, double g, double albedo, double f_trans,
                     double sx, double sy) {
  if (!(s.alpha > 0.0)) return 0.0;
  const double slope = std::atan(std::sqrt(sx * sx + sy * sy));
  const double aspect = sx == 0.0 ? 0.0 : pi / 2.0 - std::atan(-sy / sx);
  const double cos_theta = std::cos(s.azimuth - aspect) * std::sin(slope) * std::cos(s.alpha) +
                           std::cos(slope) * std::sin(s.alpha);
  constexpr double a = 0.4 * 0.0853 + 0.18;
  double direct = std::exp(-2.0 * s.air_mass * s.k_ext) * solar_constant * s.e0 * cos_theta *
                  (1.0 - (1.0 - a) * s.nc);
  if (penman) direct *= f_trans == 0.0 ? 1.0 : f_trans;
  if (direct < 0.0) direct = 0.0;
  const double half = std::cos(slope / 2.0);
  return (g * half * half + direct) * (1.0 - albedo);
}

cell_result cell_rate(const sky_terms& s, bool penman, double g, double albedo_cell, double h_veg,
                      double f_trans, double rs0, double sx, double sy, double depth, double swe,
                      bool snow_present) {
  cell_result out;
  // Roughness height: the vegetation's, at least 1 mm (a bare cell is not standing water).
  const double zr = penman ? (h_veg <= 0.0 ? 0.001 : h_veg) : 0.001;
  double albedo = depth < zr ? albedo_cell : water_albedo;
  if (snow_present && swe >= zr) albedo = snow_albedo;
  const double sn = net_shortwave(s, penman, g, albedo, f_trans, sx, sy);

  // Surface energy balance: Newton passes on the surface temperature (K).
  const double ta = s.t + 273.15;
  const double exchange = s.rho * bulk_ch * s.u;  // kg/(m2 s)
  double ts = ta;
  double rn = 0.0, evap = 0.0, sensible = 0.0;
  int pass = 0;
  for (;;) {
    const double es = saturation_vapour_pressure(ts - 273.15);
    const double qs = humidity_ratio(es, s.p);
    rn = (s.air_longwave - sigma * ts * ts * ts * ts + sn) / -1000.0;
    const bool evaporating = qs > s.qa;
    evap = evaporating ? exchange * (qs - s.qa) : 0.0;
    const double le = latent * evap;
    sensible = (ts - ta) * exchange * cp;
    out.residual = -le - sensible - rn;
    const double f = sensible + le + sensible / 3.0 + rn;
    double df = 4.0 * sigma * ts * ts * ts / 1000.0 + exchange * cp + exchange * cp / 3.0;
    if (evaporating)
      df += (s.p / (s.p - 0.388 * es)) * (latent / (ts * ts * vapour_gas / 1000.0)) * qs *
            exchange * latent;
    const double change = f / df;
    ts -= change;
    ++pass;
    if (!(std::fabs(change) >= ts_tolerance)) break;
    if (pass >= et_newton_pass_cap) {
      out.capped = true;
      break;
    }
  }
  out.ts = ts;

  if (!penman) {
    // Deardorff: the bulk evaporation of the balance's last pass (kg/(m2 s) = mm/s) in cm/s.
    out.rate = evap / 1000.0 * 100.0;
    return out;
  }
  // Penman-Monteith.
  const double vpd = saturation_vapour_pressure(ts - 273.15) - s.ea;
  const double delta = saturation_vapour_slope(s.t);
  const double gamma = psychrometric_constant(s.p);
  const double h = h_veg <= 0.0 ? 0.001 : h_veg;
  const double zd = h + 2.0 - 0.67 * h;
  const double ra =
      std::log(zd / (0.0123 * h)) * std::log(zd / (0.123 * h)) / (karman * karman * s.u);
  if (ra < 0.0) out.negative_ra = true;
  if (std::isnan(ra)) out.nan_ra = true;
  const double rs = hourly_factor[s.hour] * rs0 * s.season;
  double dn = s.u < 0.0001 ? gamma : gamma * (1.0 + rs / ra);
  dn += delta;
  const double radiation = -rn - sensible / 3.0;
  const double aero = s.rho * cp * vpd / ra;
  const double et_cm_day = (aero / dn + radiation * delta / dn) * (1.0 / latent) * (1.0 / 1000.0) *
                           seconds_per_day * 100.0;
  out.rate = et_cm_day / seconds_per_day;
  return out;
}

double at(std::span<const double> a, int c, double fallback) {
  return static_cast<std::size_t>(c) < a.size() ? a[c] : fallback;
}

}  // namespace

double saturation_vapour_pressure(double t) {
  return 0.6108 * std::exp(17.27 * t / (t + 237.3));
}

double saturation_vapour_slope(double t) {
  const double d = t + 237.3;
  return 4098.0 * saturation_vapour_pressure(t) / (d * d);
}

double psychrometric_constant(double p) {
  return 1.6286173633440513 * p / latent;
}

int et_day_of_year(int year, int month, int day) {
  static constexpr int days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month <= 1) return day;
  if (month == 2) return day + 31;
  int j = day;
  for (int m = 1; m < month && m <= 12; ++m) j += days[m];
  if (year % 4 == 0) j += 1;
  return j;
}

double solar_declination(int j) {
  return (23.45 * pi / 180.0) * std::cos((172.0 - j) * 2.0 * pi / 365.0);
}

double solar_hour_angle(int hour) {
  return hour > 12 ? (pi / 180.0) * 15.0 * (hour - 12) : (pi / 180.0) * 15.0 * (hour + 12);
}

double sun_elevation(double declination, double latitude, double hour_angle) {
  return std::asin(std::cos(declination) * std::cos(latitude) * std::cos(hour_angle) +
                   std::sin(declination) * std::sin(latitude));
}

double hourly_resistance_factor(int hour) {
  return hourly_factor[((hour % 24) + 24) % 24];
}

double seasonal_resistance_factor(int seasonal_rs, double latitude_deg, int month) {
  if (!seasonal_rs) return 1.0;
  if (latitude_deg >= 37.0) {
    static constexpr double north[13] = {0,   4.0, 4.0, 4.0, 4.0, 3.0, 2.0,
                                         1.0, 1.0, 1.0, 2.5, 4.0, 4.0};
    return north[month < 1 || month > 12 ? 1 : month];
  }
  static constexpr double south[13] = {0,   4.0, 4.0, 4.0, 2.5, 1.0, 1.0,
                                       1.0, 1.0, 1.0, 2.5, 4.0, 4.0};
  return south[month < 1 || month > 12 ? 1 : month];
}

et_result evapo_trans(const et_weather& w, const et_views& v) {
  et_result result;
  sky_terms s;
  s.p = w.pressure_mb * 0.1;
  s.t = w.air_temp;
  s.nc = w.sky_cover / 10.0;
  const double rh = w.rel_humidity / 100.0;
  if (s.nc > 1.0) {
    s.nc = 1.0;
    result.cloud_clipped = 1;
  }
  s.u = w.wind_speed < 1.0 ? 1.0 : w.wind_speed;
  s.hour = ((w.hour % 24) + 24) % 24;
  const int j = et_day_of_year(w.year, w.month, w.day);
  const double decl = solar_declination(j);
  const double omega = solar_hour_angle(s.hour);
  const double phi = w.latitude * pi / 180.0;
  s.alpha = sun_elevation(decl, phi, omega);
  const double alpha_deg = s.alpha * 180.0 / pi;
  if (alpha_deg > 0.0) {
    s.air_mass = 1.0 / (std::sin(s.alpha) + 0.15 * std::pow(alpha_deg + 3.885, -1.253));
    s.k_ext = 0.128 - 0.054 * std::log10(s.air_mass);
  }
  s.azimuth = std::asin(std::sin(omega) * std::cos(decl) / std::cos(s.alpha));
  const double x = (j - 1) * 2.0 * pi / 365.0;
  s.e0 = 1.00011 + 0.034221 * std::cos(x) + 0.00128 * std::sin(x) + 0.000719 * std::cos(2.0 * x) +
         0.000077 * std::sin(2.0 * x);
  const double k_long = 1.0 + 0.17 * s.nc * s.nc;
  s.season = seasonal_resistance_factor(w.seasonal_rs, w.latitude, w.month);
  s.rho = 3.486 * s.p / (s.t + 275.0);
  s.ea = saturation_vapour_pressure(s.t) * rh;
  s.qa = humidity_ratio(s.ea, s.p);
  const double ta = s.t + 273.15;
  s.air_longwave = (0.74 + 0.0049 * s.ea) * k_long * sigma * ta * ta * ta * ta;

  const bool snow = w.snow_present != 0;
  const bool reduce = !v.area_reduction.empty();
  const bool copy1 = !v.rate_copy.empty();
  const bool copy2 = !v.rate_copy2.empty();
  int capped = 0, nan_ra = 0;
  int first_negative = v.cell_count + 1;
  const int n = v.cell_count;
#pragma omp parallel for schedule(static) num_threads(team_size(n)) reduction(+ : capped, nan_ra) \
    reduction(min : first_negative)
  for (int c = 1; c <= n; ++c) {
    const cell_result r =
        cell_rate(s, v.penman, w.global_rad, at(v.albedo, c, 0.0), at(v.vheight, c, 0.0),
                  at(v.tcoeff, c, 1.0), at(v.canopy_rs, c, 0.0), at(v.slope_x, c, 0.0),
                  at(v.slope_y, c, 0.0), at(v.ov_depth, c, 0.0), at(v.swe, c, 0.0), snow);
    v.surface_temp[c] = r.ts;
    v.residual[c] = r.residual;
    double rate = r.rate;
    if (reduce) rate *= v.area_reduction[c];
    if (rate < 0.0) rate = 0.0;
    v.rate[c] = rate;
    if (copy1) v.rate_copy[c] = rate;
    if (copy2) v.rate_copy2[c] = rate;
    if (r.capped) ++capped;
    if (r.nan_ra) ++nan_ra;
    if (r.negative_ra && c < first_negative) first_negative = c;
  }
  result.capped_cells = capped;
  result.nan_ra = nan_ra;
  result.first_negative_ra_cell = first_negative > n ? 0 : first_negative;
  return result;
}
